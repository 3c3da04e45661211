#include "terminal/TerminalWriter.h"

#include <cerrno>

#include <sys/ioctl.h>
#include <unistd.h>

namespace
{
int descriptorOf (TerminalWriter::Stream stream) noexcept
{
    return stream == TerminalWriter::Stream::output ? STDOUT_FILENO : STDERR_FILENO;
}
} // namespace

bool TerminalWriter::isTerminalStream (Stream stream) noexcept
{
    return ::isatty (descriptorOf (stream)) == 1;
}

int TerminalWriter::columnsOf (Stream stream) noexcept
{
    winsize size {};

    if (::ioctl (descriptorOf (stream), TIOCGWINSZ, &size) != 0)
        return 0;

    return size.ws_col;
}

void TerminalWriter::writeWhole (Stream stream, const char* bytes, size_t size) noexcept
{
    // A failed write is not retried: the stream was closed or its reader went.
    while (size > 0)
    {
        const auto written = ::write (descriptorOf (stream), bytes, size);

        if (written < 0 && errno == EINTR)
            continue;

        if (written <= 0)
            return;

        bytes += written;
        size -= (size_t) written;
    }
}
