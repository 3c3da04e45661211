#pragma once

#include <juce_core/juce_core.h>

/**
    The advice in the program's messages that names the system's own tools and
    places: what the user is told to do differs between Linux (a terminal's job
    control, kill, udev rules, the XDG download folder) and Windows (Task
    Manager, the Downloads folder, another program holding the device).

    Pure; any thread; never fails.
*/
namespace PlatformAdvice
{
/** Where the download folder is looked for, as --help names it. */
juce::String downloadFolder();

/** How to get another updater going again when it is stopped (suspended). */
juce::String resumeStopped (const juce::String& processId);

/** How to end another updater that hangs, appended after "close that updater". */
juce::String endHung (const juce::String& processId);

/** Why a controller that is present cannot be opened, and what to do about it;
    completes "... is a TRB-Kelo7, but ". */
juce::String controllerWithoutAccess();

/** What to do when no controller is found (the table of outcomes), without a full stop. */
juce::String controllerNotFound();
} // namespace PlatformAdvice
