#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <csignal>
#include <cstdlib>

namespace
{
// The updater's own component needs a window system: under CTest these tests
// use the run's private X display too, whose name the set-up test wrote into
// the file TRB_DISPLAY_FILE names (tests/with-display.sh).
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

// The device library's tests: the main thread is the message thread, as in the
// core's tests. hidapi opens the emulated node (a PTY) without O_NOCTTY, which
// makes it this process's terminal; closing it would then hang us up.
int main (int argc, char** argv)
{
    std::signal (SIGHUP, SIG_IGN);
    ::testing::InitGoogleTest (&argc, argv);
    useTheTestDisplay();
    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
