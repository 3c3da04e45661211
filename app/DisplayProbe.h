#pragma once

#include <juce_core/juce_core.h>

/**
    Whether the window system can be reached, asked before the framework
    starts: the framework itself does not survive a display it cannot open.

    On Windows, where a desktop is always there, the one problem is a window
    station that no one sees (a service, a task run without the user signed in).

    Returns an empty string when the display named by the environment opens,
    otherwise one line saying what is wrong, also when the server does not answer
    within a few seconds. Any thread; opens and closes one connection of its own
    (on a thread of its own, left to end with the process when the server is silent).
*/
juce::String findDisplayProblem();

/**
    True once a probe gave up on a server that never answered: its thread is then
    still inside the X library, and the process must end without running its exit
    handlers, which would free what that thread is using. Any thread.
*/
bool displayProbeIsStillWaiting() noexcept;
