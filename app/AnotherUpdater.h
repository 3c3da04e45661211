#pragma once

#include "app/InstanceLock.h"

#include <juce_core/juce_core.h>

/** How a launch met the other updater that holds the per-user lock. */
enum class OtherUpdater
{
    doesNotAnswer, // the window's launch asked it to take the launch, in vain
    takesNoLaunches, // it names no endpoint: a terminal run (or one that could not listen)
    notAsked // a terminal run never hands its launch over
};

/** The one line that says which process holds lock, what is the matter with it and
    what to do, ending "Nothing was written." Message thread (it looks the holder up). */
juce::String anotherUpdaterMessage (const InstanceLock& lock, OtherUpdater how);
