#include "tests/TestDisplay.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <csignal>

// The device library's tests: the main thread is the message thread, as in the
// core's tests. hidapi opens the emulated node (a PTY) without O_NOCTTY, which
// makes it this process's terminal; closing it would then hang us up.
int main (int argc, char** argv)
{
    std::signal (SIGHUP, SIG_IGN);
    ::testing::InitGoogleTest (&argc, argv);
    testing_support::useTheTestDisplay();
    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
