#pragma once

#include <juce_core/juce_core.h>

#include <cstdlib>

namespace testing_support
{
/** Under CTest every test program uses the run's private X display, whose name
    the set-up test wrote into the file TRB_DISPLAY_FILE names
    (tests/with-display.sh). Call it before the framework connects to the
    window system. */
inline void useTheTestDisplay()
{
#if JUCE_WINDOWS
    // Under Wine the display is Wine's to open: tests/windows/wine.sh gives
    // it the display's name before the program starts.
    return;
#else
    const char* file = std::getenv ("TRB_DISPLAY_FILE");

    if (file == nullptr || *file == 0)
        return;

    const auto display = juce::File (juce::CharPointer_UTF8 (file)).loadFileAsString().trim();

    if (display.isNotEmpty())
        setenv ("DISPLAY", display.toRawUTF8(), 1);
#endif
}
} // namespace testing_support
