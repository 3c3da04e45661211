#include "tests/TestDisplay.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

// One framework instance for the whole test program; the main thread is the
// message thread, and tests that wait for notices run the dispatch loop on it.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    testing_support::useTheTestDisplay();
    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
