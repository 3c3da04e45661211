#include "app/StandardStreams.h"

#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace
{
constexpr int kLastStandardStream = STDERR_FILENO;

bool isOpen (int fd) noexcept
{
    return ::fcntl (fd, F_GETFD) != -1 || errno != EBADF;
}
} // namespace

void prepareStandardStreams() noexcept
{
    for (int fd = STDIN_FILENO; fd <= kLastStandardStream; ++fd)
    {
        if (isOpen (fd))
            continue;

        // open() returns the lowest free descriptor, which is this one: the
        // lower ones are open already.
        const auto opened = ::open ("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);

        if (opened >= 0 && opened != fd)
        {
            ::dup2 (opened, fd);
            ::close (opened);
        }
    }

    ::signal (SIGPIPE, SIG_IGN);
}

void settleStandardStreams (int) noexcept
{
    // stderr is written straight to where it points: nothing is left to wait for.
}
