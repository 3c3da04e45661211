#pragma once

#include "update/UpdateFileSearch.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>

/** What the controller said of itself when asked once after the write. */
struct WriteConfirmation
{
    enum class Outcome
    {
        confirmed, // it reports the update file's version and date stamp
        mismatch, // it answered with another version or stamp: the update did not take
        noAnswer, // it did not answer in time: written, but not confirmed
        refused // it answered the confirming query, but never with its information
    };

    Outcome outcome = Outcome::noAnswer;
    juce::String deviceVersion; // what it reported (empty without an answer)
    uint32_t deviceStamp = 0;
};

/**
    What a front-end (the window, a terminal) and the support log hear of the update
    procedure. Every call comes on the message thread, in the order the events
    happened; a listener may read the procedure from inside a call, and stop it
    (the worker never waits for a listener). The default of each event is to
    ignore it.

    The worker's changes are coalesced: a status the worker passed through between
    two deliveries is not told, and the progress is told as it stands.
*/
class UpdateListener
{
public:
    virtual ~UpdateListener() = default;

    /** The update file search ended: report says where it looked and what it took,
        state holds what the check read (its version and stamp even after a failure). */
    virtual void fileSearched (const UpdateFileSearchReport& report, const UpdateFileState& state)
    {
        juce::ignoreUnused (report, state);
    }

    /** The controller passed its check: the version and date stamp it reported, and the
        region table with the regions to write (state REGION_WRITE). Told once. */
    virtual void controllerChecked (const juce::String& deviceVersion,
                                    uint32_t deviceStamp,
                                    const std::array<UpdateRegion, kRegionCount>& regions)
    {
        juce::ignoreUnused (deviceVersion, deviceStamp, regions);
    }

    /** The user started the write. Told once. */
    virtual void writeStarted() { }

    /** The status is now newStatus. */
    virtual void statusChanged (int32_t newStatus) { juce::ignoreUnused (newStatus); }

    /** The share of the update's bytes sent so far, 0.0 to 1.0. */
    virtual void progressChanged (double progress) { juce::ignoreUnused (progress); }

    /** The worker has moved past a region it wrote (index REGION_MAIN..REGION_INFO). */
    virtual void regionWritten (int index, const UpdateRegion& region) { juce::ignoreUnused (index, region); }

    /** The update ended with result: ST_COMPLETE or an error status. Told once. */
    virtual void updateEnded (int32_t result) { juce::ignoreUnused (result); }

    /** After a completed write, what the controller said when asked for its information
        once (it may restart first). Told once, after updateEnded (ST_COMPLETE), and never
        after a failed or interrupted write. */
    virtual void writeConfirmed (const WriteConfirmation& confirmation) { juce::ignoreUnused (confirmation); }
};
