#include "terminal/TerminalWriter.h"

#include "text/ExternalText.h"

#include <windows.h>

namespace
{
HANDLE handleOf (TerminalWriter::Stream stream) noexcept
{
    return ::GetStdHandle (stream == TerminalWriter::Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}
} // namespace

bool TerminalWriter::isTerminalStream (Stream stream) noexcept
{
    DWORD mode = 0;
    return ::GetConsoleMode (handleOf (stream), &mode) != 0;
}

int TerminalWriter::columnsOf (Stream stream) noexcept
{
    CONSOLE_SCREEN_BUFFER_INFO info {};

    if (::GetConsoleScreenBufferInfo (handleOf (stream), &info) == 0)
        return 0;

    return info.srWindow.Right - info.srWindow.Left + 1;
}

void TerminalWriter::writeWhole (Stream stream, const char* bytes, size_t size) noexcept
{
    const auto handle = handleOf (stream);

    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;

    DWORD mode = 0;

    // A console shows text by its characters: UTF-8 bytes would come out in the console's code page.
    if (::GetConsoleMode (handle, &mode) != 0)
    {
        const auto text = ExternalText::fromBytes (bytes, size);
        const auto* wide = text.toWideCharPointer();
        DWORD written = 0;
        ::WriteConsoleW (handle, wide, (DWORD) wcslen (wide), &written, nullptr);
        return;
    }

    // A failed write is not retried: the stream was closed or its reader went.
    while (size > 0)
    {
        DWORD written = 0;

        if (::WriteFile (handle, bytes, (DWORD) size, &written, nullptr) == 0 || written == 0)
            return;

        bytes += written;
        size -= written;
    }
}
