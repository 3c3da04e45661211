#pragma once

#include <juce_core/juce_core.h>

/**
    Whether the window system can be reached, asked before the framework
    starts: the framework itself does not survive a display it cannot open.

    Returns an empty string when the display named by the environment opens,
    otherwise one line saying what is wrong. Any thread; opens and closes one
    connection of its own.
*/
juce::String findDisplayProblem();
