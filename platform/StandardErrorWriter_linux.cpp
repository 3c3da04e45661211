#include "platform/StandardErrorWriter.h"

#include <poll.h>
#include <unistd.h>

namespace
{
constexpr int kNoWait = 0;
} // namespace

bool StandardErrorWriter::takesAShortLineWithoutWaiting (bool output) noexcept
{
    // A pipe or a terminal that polls writable takes a short line without blocking.
    pollfd stream { output ? STDOUT_FILENO : STDERR_FILENO, POLLOUT, 0 };
    return ::poll (&stream, 1, kNoWait) == 1 && (stream.revents & POLLOUT) != 0;
}
