#pragma once

#include "text/TxtTables.h"
#include "update/UpdateListener.h"

#include <juce_core/juce_core.h>

#include <cstdint>

/** The ways a run of the updater ends, besides the errors of the update itself. */
enum class RunEnd
{
    confirmed, // written, and the controller reports the file's version and stamp
    notConfirmed, // written; the controller did not answer when asked afterwards
    refused, // written; the controller answered the question, but never with its information
    notTaken, // written, but the controller reports another version or stamp (ERR_NOT_TAKEN)
    error, // the update ended at an error screen (its error ID tells which)
    left, // the user (or the system) ended the run before the write started
    interrupted, // told to quit, or the display lost, during the write
    anotherUpdater, // another updater of this user holds the lock: nothing was done
    claimedElsewhere, // another process holds the controller's claim: nothing was sent
    notChosen, // several controllers connected and none chosen (or --serial matches none): nothing was sent
    noDisplay, // no display, or one that cannot be opened
    usage // the command line was not understood
};

/**
    One row of the table of outcomes: everything that is told of one way a run
    ends, in every place that tells it (the window's screen, the terminal's lines,
    the JSON "result" event, the support log, the exit status, the README and the
    manual page). The texts are plain English; the window's message is a catalogue
    text in the user's language.
*/
struct Outcome
{
    RunEnd end;
    int32_t errorId; // the error ID shown ("0x0E21"), or 0 for an end without one
    int exitStatus;
    const char* resultName; // the JSON "result"
    const char* whatHappened; // the support log's "result:" line, the README's "what happened"
    const char* remedy; // what to do, or nullptr; see Outcomes::remedy for the platform's wording
    TxtId message; // the catalogue message the window shows (TXT_EMPTY: no screen of its own)
    TxtId detail; // its second line (TXT_EMPTY: none)
};

/** The table and the questions asked of it. Pure; any thread; never fails. */
namespace Outcomes
{
/** Every row: one per error ID (ERR_FILE_NOT_FOUND..ERR_PROTOCOL and ERR_NOT_TAKEN),
    then one per other way a run ends. */
const Outcome* begin() noexcept;
const Outcome* end() noexcept;

/** The row of an error ID; an identifier the table does not name takes ERR_PROTOCOL's
    words with its own ID left to the caller. */
const Outcome& forError (int32_t errorId) noexcept;

/** The row of a way to end that has no error ID of its own (not RunEnd::error). */
const Outcome& forEnd (RunEnd end) noexcept;

/** The row for what the controller said after a completed write. */
const Outcome& forConfirmation (WriteConfirmation::Outcome confirmation) noexcept;

/** What to do, in the platform's wording where it differs (the controller not found);
    empty for a row without a remedy. */
juce::String remedy (const Outcome& outcome);

/** The support log's line: "result: error 0x0E21, WHAT" or "result: WHAT". */
juce::String logLine (const Outcome& outcome);

/** True for the rows after which the window shows its completion screen. */
bool isComplete (const Outcome& outcome) noexcept;
} // namespace Outcomes
