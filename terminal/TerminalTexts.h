#pragma once

#include "device/DeviceHolders.h"
#include "device/DeviceIdentity.h"
#include "session/Outcomes.h"
#include "update/ControllerQuery.h"
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

/** "Current Version: Ver. 1.00 (2024-01-01)": what the controller reported, followed by which
    controller it is (", serial KELO7-0001, port 1-3.2, node /dev/hidraw3") when identity is known. */
juce::String controllerLine (const juce::String& version, uint32_t stamp, const DeviceIdentity& identity = {});

/** "serial KELO7-0001, port 1-3.2, node /dev/hidraw3": which controller; a part that is not
    known is left out ("no serial" for a controller without one). */
juce::String identityText (const DeviceIdentity& identity);

/** The controller's claim is held by another process: who ("another program (process 4242,
    djprogram, user dj) holds the controller (serial ..., port ...): nothing was sent to it"). */
juce::String claimHeldLine (const ClaimHolder& holder);

/** Several controllers are connected and none was chosen: the heading of the numbered list. */
juce::String choiceHeading (size_t count);

/** "  2. serial KELO7-0002, port 1-4": one entry of the numbered list (number from 1). */
juce::String choiceEntry (size_t number, const DeviceIdentity& identity);

/** The question after the list, without a line end: "Which controller to update? [1-2] ". */
juce::String choiceQuestion (size_t count);

/** The number the answer's whole line names, from 1 to count (blanks around it allowed), or 0
    for anything else. */
size_t choiceNumber (const juce::String& answer, size_t count);

/** One line of --list: which controller, then its version and stamp, that it holds no answer,
    or who holds its claim (heldBy non-null: it was not asked). */
juce::String listedLine (const DeviceIdentity& identity, const ControllerInfo& info, const ClaimHolder* heldBy);

/** --check found the controller holding the update file's version and stamp already. */
juce::String upToDateLine (const juce::String& version, uint32_t stamp);

/** "Update Version: Ver. 1.05 (2026-12-09), PATH": the update file taken. */
juce::String fileLine (const juce::String& version, uint32_t stamp, const juce::String& path);

/** "To write: main, 576 KiB at 0x000000; ...": the regions to write; with --check, "An update
    would write: ..." (wouldWrite). */
juce::String regionsLine (const std::array<UpdateRegion, kRegionCount>& regions, bool wouldWrite = false);

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
