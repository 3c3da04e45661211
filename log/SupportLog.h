#pragma once

#include "device/DeviceHolders.h"
#include "device/DeviceIdentity.h"
#include "update/UpdateFileSearch.h"
#include "update/UpdateListener.h"

#include <juce_core/juce_core.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

/**
    What the updater does, one line per event on stderr, for whoever supports
    the user: started from the desktop, these lines land in the user's journal.

    The lines (each starts with a fixed phrase that scripts may look for):
        controller connected: node NODE, serial SERIAL, port PORT
        controllers to choose from: serial S1, port P1; serial S2, port P2; ...
        controller held elsewhere: serial S, port P, by process PID (NAME), user USER; nothing was sent
        another controller arrived: serial S, port P (the chosen one is unaffected)
        another controller removed: serial S, port P (the chosen one is unaffected)
        controller not connected
        controller without access: NODE ... (what to do)
        controller removed: node NODE
        update file taken: PATH, version V, date stamp YYYYMMDD
        update file not found: searched FOLDER, FOLDER, ...
        update file not found: PATH does not exist (named on the command line)
        update file faulty: PATH: WHAT
        controller found: version V, date stamp YYYYMMDD, node NODE, serial SERIAL, port PORT
        regions to write: NAME at 0xADDRESS, N bytes; ...
        controller also open in: process PID (NAME), process PID (NAME), ...
        write started
        region written: NAME at 0xADDRESS, N bytes
        write confirmed: the controller reports version V, date stamp YYYYMMDD
        write not taken: the controller reports version V, date stamp YYYYMMDD instead
            of version V, date stamp YYYYMMDD; (what to do)
        written, not confirmed (replug the controller to check)
        written, not confirmed: the controller refused the question (...)
        result: WHAT  or  result: error 0x0EXX, WHAT  (one row of session/Outcomes.h,
            written by the session after the lines above)
        display lost: the connection to the X server broke
        exit status N: MEANING
        download folder: PATH WHAT; using FOLDER

    Whatever a line quotes (names, versions, folders) is shown with its control
    characters escaped, so one event is always one line.

    The update's own events come from the update procedure, to which the log
    listens (UpdateListener), so the worker is never asked to log.
    Message thread only; writing never fails in a way the program would notice,
    and never waits for a stderr that is not being read (StandardErrorWriter).
*/
class SupportLog final : public UpdateListener
{
public:
    using Sink = std::function<void (const juce::String& line)>;
    using HolderScan = std::function<std::vector<DeviceHolder> (const std::string& nodePath)>;

    /** Writes to stderr. */
    SupportLog();

    /** Writes each line to sink instead (tests). */
    explicit SupportLog (Sink sink);

    /** Sends the lines from now on to sink (tests). */
    void setSink (Sink newSink) { sink = std::move (newSink); }

    /** Asks scan instead of /proc which other processes hold the controller's node (tests). */
    void setHolderScan (HolderScan scan) { holderScan = std::move (scan); }

    /** The device link has looked for the controller at start-up; deviceNumber is the
        held device (identity its serial and port), or negative for none. */
    void deviceLinkOpened (int32_t deviceNumber, const DeviceIdentity& identity = {});

    /** A controller came (the held device's number; identity its serial and port). */
    void controllerArrived (int32_t deviceNumber, const DeviceIdentity& identity = {});

    /** Several controllers are connected and none is chosen yet: nothing is sent until one is. */
    void controllersToChooseFrom (const std::vector<ConnectedController>& present);

    /** Another process holds the claim on the controller: nothing is sent to it. */
    void claimRefused (const ClaimHolder& holder);

    /** A TRB-Kelo7 other than the followed one arrived (true) or went (false). */
    void otherController (bool arrived, const DeviceIdentity& other);

    /** ", serial S, port P" for what of them identity knows (empty for neither). Any thread. */
    static juce::String identityText (const DeviceIdentity& identity);

    /** The held controller went. */
    void controllerRemoved();

    /** The file search ended with report; state holds what the check read. */
    void fileSearched (const UpdateFileSearchReport& report, const UpdateFileState& state) override;

    /** The controller passed its check: its version and stamp, and the regions to write;
        then the other processes that hold the controller's node open, if any (a program
        that talks to the controller during the write may spoil it). */
    void controllerChecked (const juce::String& deviceVersion,
                            uint32_t deviceStamp,
                            const std::array<UpdateRegion, kRegionCount>& regions) override;

    /** The front-end is about to let the procedure ask the held controller (the check):
        names the other processes that hold its node open now, before the first request,
        instead of after the check. Once per held controller. */
    void controllerAboutToBeAsked();

    /** The user pressed "Start" and the write begins. */
    void writeStarted() override;

    /** The worker has moved past a region it wrote. */
    void regionWritten (int index, const UpdateRegion& region) override;

    /** The update ended with result (ST_COMPLETE or an error): what explains an error
        (a controller present that this user may not open). The result's line itself is
        the session's (note). */
    void updateEnded (int32_t result) override;

    /** What the controller said when asked after the finish request: the write confirmed,
        not taken (with the remedy), or no answer in time. */
    void writeConfirmed (const WriteConfirmation& confirmation) override;

    /** The connection to the display broke; the program is about to end. */
    void displayLost();

    /** A setting that was passed over at start-up (for example a user-dirs.dirs
        that is not a regular file), as one line. */
    void note (const juce::String& line) { write (line); }

    /** The program ends with exitStatus, which means meaning. With the default sink,
        waits a moment (kLastLinesWaitMs at most) for the lines still queued to reach stderr. */
    void ending (int exitStatus, const char* meaning);

    /** The ending line for a program that ends from a signal handler, written
        only if stderr takes it at once. Async-signal-safe. */
    static void endingAtOnce (int exitStatus, const char* meaning) noexcept;

    /** Queues a line for stderr and returns at once (the default sink): a line
        stderr cannot take is dropped. Any thread. */
    static void writeToStandardError (const juce::String& line);

    /** The longest ending() waits for the lines before it to be written. */
    static constexpr int kLastLinesWaitMs = 2000;

private:
    void write (const juce::String& line);
    void reportAccessProblems();
    void reportOtherHolders();

    Sink sink;
    HolderScan holderScan = findOtherProcessesHolding;
    juce::String controllerNode;
    juce::String controllerIdentity; // ", serial S, port P" of the held controller
    std::string controllerNodePath; // the node's bytes, to look for it by
    bool started = false;
    bool holdersReported = false; // for the controller held now
    juce::String fileVersion; // the update file taken, for a write the controller did not take
    uint32_t fileStamp = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SupportLog)
};
