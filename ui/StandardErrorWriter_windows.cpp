#include "ui/StandardErrorWriter.h"

#include <windows.h>

bool StandardErrorWriter::takesAShortLineWithoutWaiting() noexcept
{
    // stderr is the console, a file, or the pipe that the program's own
    // copying thread drains (app/StandardStreams_windows.cpp): each takes a
    // short line at once. A missing stream takes nothing.
    const auto stream = ::GetStdHandle (STD_ERROR_HANDLE);
    return stream != nullptr && stream != INVALID_HANDLE_VALUE;
}
