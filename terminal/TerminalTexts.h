#pragma once

#include "device/DeviceHolders.h"
#include "session/Outcomes.h"
#include "update/UpdateListener.h"

#include <juce_core/juce_core.h>

#include <vector>

/**
    The terminal front-end's lines, in the catalogue's current language where the
    window has a text for the same thing (the versions, the write, the result), and
    short plain English where it has none (the question, the regions, the remedies,
    the confirmation). Each is one line without its line end; whatever a line quotes
    from outside (paths, versions, process names) has its control characters escaped.
    Message thread (the catalogue is).
*/
namespace TerminalTexts
{
/** "Updates the version of your TRB-Kelo7 firmware." */
juce::String introduction();

/** "Current Version: Ver. 1.00 (2024-01-01)": what the controller reported. */
juce::String controllerLine (const juce::String& version, uint32_t stamp);

/** "Update Version: Ver. 1.05 (2026-12-09), PATH": the update file taken. */
juce::String fileLine (const juce::String& version, uint32_t stamp, const juce::String& path);

/** "To write: main, 576 KiB at 0x000000; ...": the regions to write. */
juce::String regionsLine (const std::array<UpdateRegion, kRegionCount>& regions);

/** Other programs holding the controller, with what to do; empty for none. */
juce::String holdersLine (const std::vector<DeviceHolder>& holders);

/** The question before the write, without a line end: the answer follows on the same line. */
juce::String question();

/** True when the answer's whole line accepts the question: "y" or "yes" in any letter
    case, with spaces around it and nothing else. */
bool isYes (const juce::String& answer);

/** Why nothing was written when no answer can be read (stdin closed or not a terminal). */
juce::String noAnswerPossible (bool inputIsTerminal);

/** The write is under way: the window's heading and its request to wait. */
juce::StringArray writing();

/** The run's result, from its row of the table of outcomes: the window's texts with the
    error ID and what to do, or the completion with the controller's word (answer), or
    the few words of an end without a screen. */
juce::StringArray result (const Outcome& outcome,
                          const WriteConfirmation& answer = {},
                          const juce::String& fileVersion = {},
                          uint32_t fileStamp = 0);

/** The write is complete and the controller is being asked what it now holds. */
juce::String askingController();

/** What the controller said of itself after the write, against the file's version and stamp. */
juce::String confirmation (const WriteConfirmation& confirmation, const juce::String& fileVersion, uint32_t fileStamp);

/** The date stamp 0x20261209 as "2026-12-09". Any thread. */
juce::String stampText (uint32_t stamp);

/** The region's name ("main", "extra", "info"). Any thread. */
juce::String regionName (int index);
} // namespace TerminalTexts
