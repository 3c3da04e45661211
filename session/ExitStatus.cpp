#include "session/ExitStatus.h"

#include "update/Status.h"

int exitStatusFor (int32_t status) noexcept
{
    if (status == ST_COMPLETE)
        return EXIT_UPDATED;

    if (isErrorStatus (status))
        return EXIT_UPDATE_FAILED;

    // Nothing has been sent to the controller's flash before "Start".
    if (status == ST_INITIAL || status == ST_READY)
        return EXIT_LEFT_BEFORE_WRITE;

    return EXIT_WRITE_INTERRUPTED;
}

const char* exitStatusMeaning (int exitStatus) noexcept
{
    switch (exitStatus)
    {
        case EXIT_UPDATED:
            return "the update was written";
        case EXIT_CANNOT_START:
            return "the program could not start";
        case EXIT_USAGE:
            return "the command line was not understood";
        case EXIT_UPDATE_FAILED:
            return "the update ended with an error";
        case EXIT_LEFT_BEFORE_WRITE:
            return "left before the write started";
        case EXIT_WRITE_INTERRUPTED:
            return "ended during the write; run the update again";
        case EXIT_ANOTHER_UPDATER:
            return "another updater is running and did not answer, or holds the controller";
        case EXIT_NOT_TAKEN:
            return "written, but the controller reports another version";
        case EXIT_NOT_CHOSEN:
            return "several controllers and none chosen: nothing was sent";
        default:
            return "unknown";
    }
}
