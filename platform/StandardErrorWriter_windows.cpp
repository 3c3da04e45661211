#include "platform/StandardErrorWriter.h"

#include <windows.h>

bool StandardErrorWriter::takesAShortLineWithoutWaiting (bool output) noexcept
{
    // stderr is the console, a file, or the pipe that the program's own
    // copying thread drains (app/StandardStreams_windows.cpp): each takes a
    // short line at once. A missing stream takes nothing.
    const auto stream = ::GetStdHandle (output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    return stream != nullptr && stream != INVALID_HANDLE_VALUE;
}
