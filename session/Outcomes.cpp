#include "session/Outcomes.h"

#include "log/PlatformAdvice.h"
#include "session/ExitStatus.h"
#include "update/Status.h"

#include <algorithm>
#include <iterator>

namespace
{
constexpr const char* kReconnect = "reconnect the controller and run again";
constexpr const char* kNewFile = "get a new file";
constexpr const char* kWhatToDoAfterNotTaken = "run the update again; if it still reports the old version, replug the controller and run it again, else contact support";

// The README's "Error IDs" and exit status tables and the manual page say the same
// (tests/OutcomeTableTests.cpp compares them).
constexpr Outcome kOutcomes[] = {
    { RunEnd::error, ERR_FILE_NOT_FOUND, EXIT_UPDATE_FAILED, "error", "no update file (trbkelo7__vNNN.bin) was found",
      "get the update file and put it where the updater looks, then run again", TXT_FILE_ERROR, TXT_EMPTY },
    { RunEnd::error, ERR_FILE_READ, EXIT_UPDATE_FAILED, "error", "the update file could not be read",
      "check that you may read it, or get a new file", TXT_FILE_ERROR, TXT_EMPTY },
    { RunEnd::error, ERR_FILE_SIZE, EXIT_UPDATE_FAILED, "error", "the update file has the wrong size (cut short or not an update file)",
      kNewFile, TXT_FILE_ERROR, TXT_EMPTY },
    { RunEnd::error, ERR_FILE_CONTENT, EXIT_UPDATE_FAILED, "error", "the update file's version or date stamp is invalid", kNewFile,
      TXT_FILE_ERROR, TXT_EMPTY },
    { RunEnd::error, ERR_FILE_CRC, EXIT_UPDATE_FAILED, "error", "the update file's checksum does not match: it is damaged", kNewFile,
      TXT_FILE_ERROR, TXT_EMPTY },
    { RunEnd::error, ERR_FILE_DIGEST, EXIT_UPDATE_FAILED, "error",
      "the update file's SHA-256 is not the one given with --sha256: it is another file than the maker published",
      "get the file again from the maker's page; the digest published beside it does not match", TXT_FILE_ERROR, TXT_EMPTY },
    { RunEnd::error, ERR_DEVICE_INFO, EXIT_UPDATE_FAILED, "error", "the controller reported an invalid version or date stamp",
      kReconnect, TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_NOT_CONNECTED, EXIT_UPDATE_FAILED, "error",
      "no controller found: it is not plugged in, or its hidraw node may not be opened",
      "plug it in and run again; if it is plugged in, install the udev rule (the package does) and replug it", TXT_NOT_CONNECTED,
      TXT_EMPTY },
    { RunEnd::error, ERR_REFUSED_1, EXIT_UPDATE_FAILED, "error", "the controller refused the update (reason 1)", kReconnect,
      TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_FILE_OPEN, EXIT_UPDATE_FAILED, "error", "the checked update could not be prepared for the write",
      "run again; if it persists, get a new file", TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_REFUSED_2, EXIT_UPDATE_FAILED, "error", "the controller refused a step of the update (reason 2)", kReconnect,
      TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_REFUSED_3, EXIT_UPDATE_FAILED, "error", "the controller refused a step of the update (reason 3)", kReconnect,
      TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_REFUSED_4, EXIT_UPDATE_FAILED, "error", "the controller refused a step of the update (reason 4)", kReconnect,
      TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_TIMEOUT, EXIT_UPDATE_FAILED, "error", "the controller did not answer within 10 seconds",
      "reconnect it (directly, not through a hub) and run again", TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_DEVICE_REMOVED, EXIT_UPDATE_FAILED, "error", "the controller was unplugged during the check or the write",
      "reconnect it and run again: the update starts over", TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::notTaken, ERR_NOT_TAKEN, EXIT_NOT_TAKEN, "not taken",
      "the update was written, but the controller then reported another version or date stamp: the update did not take",
      kWhatToDoAfterNotTaken, TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },
    { RunEnd::error, ERR_PROTOCOL, EXIT_UPDATE_FAILED, "error", "the controller answered out of turn, or there was nothing to write",
      "reconnect the controller and run again; if it persists, get a new file", TXT_ERROR_OCCURRED, TXT_UPDATE_FAILED },

    { RunEnd::confirmed, 0, EXIT_UPDATED, "complete", "complete, confirmed by the controller", nullptr, TXT_UPDATE_COMPLETE, TXT_EMPTY },
    { RunEnd::notConfirmed, 0, EXIT_UPDATED, "complete", "written, not confirmed (the controller did not answer)",
      "replug the controller to check", TXT_UPDATE_COMPLETE, TXT_EMPTY },
    { RunEnd::refused, 0, EXIT_UPDATED, "complete", "written, not confirmed — the controller refused the question",
      "replug the controller to check", TXT_UPDATE_COMPLETE, TXT_EMPTY },
    { RunEnd::left, 0, EXIT_LEFT_BEFORE_WRITE, "left", "left before the write started: nothing was written", nullptr, TXT_EMPTY,
      TXT_EMPTY },
    { RunEnd::interrupted, 0, EXIT_WRITE_INTERRUPTED, "interrupted", "stopped during the write: nothing more was sent",
      "run the updater again to finish the update", TXT_EMPTY, TXT_EMPTY },
    { RunEnd::anotherUpdater, 0, EXIT_ANOTHER_UPDATER, "another updater",
      "another updater of this user is running and did not take this launch: nothing was written",
      "let it finish or close it, then start this one again", TXT_EMPTY, TXT_EMPTY },
    { RunEnd::claimedElsewhere, 0, EXIT_ANOTHER_UPDATER, "controller held",
      "another program holds the controller (another updater, or a program that speaks to it): nothing was sent",
      "let it finish or close it, then start this one again", TXT_CONTROLLER_HELD, TXT_EMPTY },
    { RunEnd::notChosen, 0, EXIT_NOT_CHOSEN, "not chosen",
      "several controllers are connected and none was chosen, or --serial names none of them: nothing was sent",
      "choose one with --serial SERIAL (the list shows each one's serial)", TXT_SERIAL_NOT_CONNECTED, TXT_EMPTY },
    { RunEnd::noDisplay, 0, EXIT_CANNOT_START, "no display", "no display, or one that cannot be opened: nothing was written",
      "run it on a display, or with --terminal", TXT_EMPTY, TXT_EMPTY },
    { RunEnd::usage, 0, EXIT_USAGE, "usage", "the command line was not understood: nothing was written",
      "see --help", TXT_EMPTY, TXT_EMPTY },
    { RunEnd::listed, 0, EXIT_UPDATED, "listed", "the connected controllers were listed: nothing was written", nullptr, TXT_EMPTY,
      TXT_EMPTY },
    { RunEnd::upToDate, 0, EXIT_UPDATED, "up to date",
      "checked: the controller already holds the update file's version and date stamp, nothing was written", nullptr, TXT_EMPTY,
      TXT_EMPTY },
    { RunEnd::wouldWrite, 0, EXIT_CHECK_WOULD_WRITE, "update available",
      "checked: an update would write the regions named, nothing was written", "run it without --check to write the update",
      TXT_EMPTY, TXT_EMPTY },
};
} // namespace

namespace Outcomes
{
const Outcome* begin() noexcept
{
    return std::begin (kOutcomes);
}

const Outcome* end() noexcept
{
    return std::end (kOutcomes);
}

const Outcome& forError (int32_t errorId) noexcept
{
    const auto* row = std::find_if (begin(), end(), [errorId] (const Outcome& o)
                                    { return o.errorId == errorId; });
    return row != end() ? *row : forError (ERR_PROTOCOL);
}

const Outcome& forEnd (RunEnd runEnd) noexcept
{
    if (runEnd == RunEnd::notTaken)
        return forError (ERR_NOT_TAKEN);

    const auto* row = std::find_if (begin(), end(), [runEnd] (const Outcome& o)
                                    { return o.end == runEnd; });
    // RunEnd::error has many rows: the caller names the ID with forError.
    return row != end() ? *row : forError (ERR_PROTOCOL);
}

const Outcome& forConfirmation (WriteConfirmation::Outcome confirmation) noexcept
{
    switch (confirmation)
    {
        case WriteConfirmation::Outcome::confirmed:
            return forEnd (RunEnd::confirmed);
        case WriteConfirmation::Outcome::mismatch:
            return forEnd (RunEnd::notTaken);
        case WriteConfirmation::Outcome::refused:
            return forEnd (RunEnd::refused);
        case WriteConfirmation::Outcome::noAnswer:
            break;
    }

    return forEnd (RunEnd::notConfirmed);
}

juce::String remedy (const Outcome& outcome)
{
    if (outcome.errorId == ERR_NOT_CONNECTED)
        return PlatformAdvice::controllerNotFound();

    return outcome.remedy != nullptr ? juce::String (outcome.remedy) : juce::String();
}

juce::String logLine (const Outcome& outcome)
{
    const auto what = juce::String::fromUTF8 (outcome.whatHappened);

    if (outcome.errorId != 0)
        return "result: error 0x" + formatErrorId (outcome.errorId) + ", " + what;

    return "result: " + what;
}

bool isComplete (const Outcome& outcome) noexcept
{
    return outcome.end == RunEnd::confirmed || outcome.end == RunEnd::notConfirmed || outcome.end == RunEnd::refused;
}
} // namespace Outcomes
