#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

namespace
{
// Under CTest every test uses the run's private X display, whose name the
// set-up test wrote into the file TRB_DISPLAY_FILE names (tests/with-display.sh).
// It has to be in place before the framework connects to the window system.
void useTheTestDisplay()
{
    const char* file = std::getenv ("TRB_DISPLAY_FILE");

    if (file == nullptr || *file == 0)
        return;

    const auto display = juce::File (juce::CharPointer_UTF8 (file)).loadFileAsString().trim();

    if (display.isNotEmpty())
        setenv ("DISPLAY", display.toRawUTF8(), 1);
}
}

// One framework instance for the whole test program; the main thread is the
// message thread, and tests that wait for notices run the dispatch loop on it.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    useTheTestDisplay();
    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
