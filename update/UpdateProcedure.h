#pragma once

#include "device/ControllerLink.h"
#include "device/HidHandler.h"
#include "protocol/Reports.h"
#include "update/Status.h"
#include "update/UpdateFileSearch.h"
#include "update/UpdateListener.h"

#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <functional>
#include <vector>

/**
    The firmware update, from the update file's check to the last block written. Its
    worker thread "UpdatingThread" checks the controller, then writes the scheduled
    regions block by block, each block as a header, 62-byte data pieces, a byte sum
    and polls until the controller reports it written. After the finish request it
    waits for the controller (which may restart) and asks it once for its version
    and stamp, to confirm the write.

    A front-end drives it (startCheck, startUpdate, stop) and observes it: through
    the getters below and through the events of UpdateListener, which the support
    log hears as well. It talks to the controller through a ControllerLink and hears
    the device events as that link's HidHandler.

    Threads: everything runs on the message thread except run() and what it calls.
    The worker and the message thread share the status (atomic, with the sticky
    removal rule), the progress and the display values (atomics), and the reply:
    the message thread copies a reply into inReport under replyLock and signals
    replyEvent; the worker takes it from there. A removal during the controller
    check sets an atomic flag before it signals replyEvent, so the waiting query
    ends at once as one without reply. The region table and the controller's
    version and stamp are the worker's until the status leaves ST_INITIAL; the
    checked image is read-only once the worker runs. The worker asks for the
    listeners to be told with a coalescing asynchronous update; the listeners are
    told on the message thread, from what the shared values then hold. The write's
    confirmation is the worker's until it sets confirmationKnown (release), after
    which the message thread reads it.
*/
class UpdateProcedure final : public HidHandler,
                              private juce::Thread,
                              private juce::AsyncUpdater
{
public:
    /** A procedure that talks to the controller through link, which must outlive it.
        Open the link with this procedure as its HidHandler. Message thread. */
    explicit UpdateProcedure (ControllerLink& link);

    /** Stops the worker (waking a pending wait at once) before anything it uses goes. */
    ~UpdateProcedure() override;

    //==============================================================================
    /** Adds a listener to be told the update's events, after those added before it; it
        must be removed (or outlive the procedure). Message thread. */
    void addListener (UpdateListener* listener);

    /** Stops telling listener, also from inside one of its events. Message thread. */
    void removeListener (UpdateListener* listener);

    //==============================================================================
    // The user's actions, message thread.

    /** Where startCheck() looks for the update file: the executable's folder, the current
        folder and the download folder unless the program or a test says otherwise.
        Message thread, before the first check. */
    void setUpdateFilePlaces (std::vector<UpdateFilePlace> places) { updateFilePlaces = std::move (places); }

    /** Makes folder the only place startCheck() looks in (tests, tools). */
    void setUpdateFileFolder (const juce::File& folder) { updateFilePlaces = { { folder, false } }; }

    /** The SHA-256 the update file must have (64 lower-case hex digits, as its maker
        published it), or empty for any. A file whose digest differs ends the search in
        ERR_FILE_DIGEST, before anything is sent. Message thread, before the check. */
    void setExpectedSha256 (juce::String digest) { expectedSha256 = std::move (digest); }

    /** Searches and checks the update file and, with the controller connected, starts the
        worker's controller check. Does nothing while the worker already runs or once the
        status has left ST_INITIAL. Failures end in the status; the listeners are told
        before it returns. */
    void startCheck();

    /** The same, searching another folder than the usual places (tests, tools). */
    void startCheck (const juce::File& folder);

    /** The same, searching the given places in order. */
    void startCheck (const std::vector<UpdateFilePlace>& places);

    /** Searches the update file's places for the newest update file and checks it; the
        outcome is in the status, the file's state, stamp, version and regions, and in the
        listeners' fileSearched. */
    void findUpdateFile();

    /** The same search in another folder (tests, tools). */
    void findUpdateFile (const juce::File& folder);

    /** The same search in the given places. */
    void findUpdateFile (const std::vector<UpdateFilePlace>& places);

    /** "Start" on the ready screen: lets the worker write the update. Does nothing in any
        other status. */
    void startUpdate();

    /** Stops the worker for good, waking a pending wait for a reply at once; nothing more is
        sent. The status stays as it is; harmless once the worker has ended. Message thread,
        also from inside a listener's event. */
    void stop();

    /** Tells the listeners at once what changed since they were last told, instead of at
        the next turn of the message loop (a front-end about to end, tests). Message thread. */
    void tellListenersNow();

    //==============================================================================
    /** Sets the status under the writing rule: ERR_DEVICE_REMOVED is never replaced. The
        listeners are told at the next turn of the message loop. Any thread. */
    void setStatus (int32_t newStatus) noexcept;

    /** The current status. Any thread. */
    int32_t getStatus() const noexcept { return status.get(); }

    /** Shortens the wait for a reply (tests); the default is kReplyTimeoutMs. Before the worker starts. */
    void setReplyTimeoutMs (int milliseconds) noexcept { replyTimeoutMs = milliseconds; }

    /** Decides the wait for each request's reply from the request's 64 bytes (tests that
        time out one chosen request while every other one keeps the full wait). Without a
        rule every request waits the time set above. Called on the worker thread; set it
        before the worker starts. */
    using ReplyTimeoutRule = std::function<int (const uint8_t* request)>;
    void setReplyTimeoutRule (ReplyTimeoutRule rule) { replyTimeoutRule = std::move (rule); }

    /** Shortens the wait for the controller's answer after the finish request (tests); the
        default is kConfirmWaitMs. Before the worker starts. */
    void setConfirmWaitMs (int milliseconds) noexcept { confirmWaitMs = milliseconds; }

    /** Shortens the wait before each poll (tests that are about what the procedure does
        with the answers, not about its pace); the default is kPollIntervalMs. Before the
        worker starts. */
    void setPollIntervalMs (int milliseconds) noexcept { pollIntervalMs = milliseconds; }

    /** Shortens the overall time a block may be polled while the controller answers busy
        (tests); the default is kBusyPollLimitMs. Before the worker starts. */
    void setBusyPollLimitMs (int milliseconds) noexcept { busyPollLimitMs = milliseconds; }

    /** The sum of the bytes as unsigned values, the block checksum the controller checks. Any thread. */
    static uint32_t byteSum (const uint8_t* bytes, size_t count) noexcept;

    //==============================================================================
    /** True while the worker thread runs. Any thread. */
    bool isWorkerRunning() const { return isThreadRunning(); }

    /** Waits up to timeoutMs (negative: without limit) for the worker to end by itself;
        true when it has. Any thread but the worker's. */
    bool waitForWorkerToEnd (int timeoutMs) const { return waitForThreadToExit (timeoutMs); }

    /** The worker thread's id while it runs (measurements). Any thread. */
    juce::Thread::ThreadID getWorkerThreadId() const noexcept { return getThreadId(); }

    /** The share of the update's bytes sent, 0.0 to 1.0, as the worker publishes it. Any thread. */
    double getProgress() const noexcept { return workerProgress.load(); }

    /** The index of the region being written (kRegionCount once none is left). Any thread. */
    int32_t getCurrentRegion() const noexcept { return currentRegion.load(); }

    /** True once the prepare request concerned the main region. Any thread. */
    bool isFullUpdate() const noexcept { return fullUpdate.load(); }

    /** True once the update is complete and the finish request is sent. Any thread. */
    bool isCompleted() const noexcept { return completed.load() == 1; }

    /** True once the worker has asked the controller after the finish request and the
        outcome is known (also when it did not answer in time); never after a stop during
        that wait. Any thread. */
    bool isConfirmationKnown() const noexcept { return confirmationKnown.load(); }

    /** What the controller said after the finish request; meaningful once
        isConfirmationKnown(). Any thread. */
    WriteConfirmation getConfirmation() const;

    /** True once the user started the write. Message thread. */
    bool hasWriteStarted() const noexcept { return updateStarted; }

    // What the check found: message thread once the status has left ST_INITIAL, or any
    // thread once the worker has ended.
    int64_t getTotalBytes() const noexcept { return totalBytes; }
    uint32_t getDeviceStamp() const noexcept { return deviceStamp; }
    uint32_t getFileStamp() const noexcept { return file.fileStamp; }
    const juce::String& getDeviceVersion() const noexcept { return deviceVersion; }
    const juce::String& getFileVersion() const noexcept { return file.fileVersion; }
    const juce::String& getFileSha256() const noexcept { return file.fileSha256; }
    int32_t getFileState() const noexcept { return file.fileState; }
    const UpdateRegion& getRegion (int index) const noexcept { return file.regions[(size_t) index]; }

    //==============================================================================
    /** The held controller went: from ST_READY to ST_BLOCK_WAIT the update ends in
        ERR_DEVICE_REMOVED and the worker is stopped; during the controller check the
        query in flight ends at once as one without reply. After the finish request (the
        controller restarting) the status stays ST_COMPLETE and the confirming query in
        flight is asked again once the controller is back. Message thread. */
    void hidDeviceRemoved() override;

    /** Wakes a worker that waits after the finish request for the controller to come back;
        otherwise nothing: the device link takes the controller up again by itself, and an
        update that ended through a removal stays ended. Message thread. */
    void hidDeviceArrived() override;

    /** Hands the report in the link's buffer to the request that waits for it; a report
        that no request waits for is dropped. Message thread, or the worker thread from
        inside link.write() for a link that answers at once: the request is marked as
        waiting before it is written and the worker holds no lock while it writes. */
    void hidInputReceived (int unused) override;

private:
    //==============================================================================
    // The worker's steps (update/UpdateProcedureWorker.cpp).
    void run() override;
    bool sendAndWait();
    bool exchange();
    bool mayGoOn() const;
    bool queryStatus();
    bool queryInfo();
    bool sumPendingLengths();
    void sendPrepare();
    void sendBlockHeader();
    void transferBlock();
    void sendChecksum();
    void pollBlock (int& interval);
    void finishUpdate();
    void confirmWrite();
    bool askForConfirmation (int waitMs, WriteConfirmation& result);
    uint8_t replyCode() const noexcept { return readReply (reply.data()).code; }
    uint8_t replyReason() const noexcept { return readReply (reply.data()).reason; }
    int64_t currentBlockLength() const noexcept;
    void publishProgress (double value) noexcept;
    const uint8_t* checkedBlock (const UpdateRegion& region, int length) const noexcept;
    void stopWorker();

    // The message thread's side: the events told from the shared values.
    void handleAsyncUpdate() override;
    void tell (const std::function<void (UpdateListener&)>& event);

    //==============================================================================
    ControllerLink& link;
    std::vector<UpdateListener*> listeners; // told in the order they were added; message thread only

    juce::WaitableEvent replyEvent; // auto-reset

    // What the file search found: its state, stamp, version, the region table and
    // the file as it passed its checks (every block is sent from that image).
    UpdateFileState file;
    juce::String expectedSha256; // empty: any digest is taken
    int64_t totalBytes = 0;
    StatusValue status;
    uint32_t deviceStamp = 0;
    juce::String deviceVersion;
    uint32_t blockSum = 0;
    double busySinceMs = -1.0; // the current block's first busy reply, or none yet; worker only
    std::atomic<double> workerProgress { 0.0 };

    WireReport outReport {};
    juce::CriticalSection replyLock; // guards inReport and awaitingReply
    std::array<uint8_t, kReportSize> inReport {}; // last reply, written on the message thread
    bool awaitingReply = false; // a request is waiting for its reply
    std::array<uint8_t, kReportSize> reply {}; // the worker's copy of the reply it judges

    std::atomic<int32_t> currentRegion { 0 };
    std::atomic<bool> fullUpdate { false };
    bool updateStarted = false;
    std::atomic<int32_t> completed { 0 };
    std::atomic<bool> removedDuringCheck { false };

    // After the finish request: set while the worker waits for the controller's
    // answer, so a removal then (its restart) wakes the query instead of ending the
    // update. The outcome is the worker's until confirmationKnown is set.
    std::atomic<bool> confirming { false };
    std::atomic<bool> removedDuringConfirm { false };
    std::atomic<bool> confirmationKnown { false };
    WriteConfirmation confirmation;

    // Worker counters: zero at start, never reset (one process performs at most one update).
    int32_t regionIndex = 0;
    int64_t regionDone = 0;
    int32_t blockStart = 0;

    int replyTimeoutMs = kReplyTimeoutMs;
    int busyPollLimitMs = kBusyPollLimitMs;
    int pollIntervalMs = kPollIntervalMs;
    int confirmWaitMs = kConfirmWaitMs;
    ReplyTimeoutRule replyTimeoutRule;
    std::vector<UpdateFilePlace> updateFilePlaces = updateFilePlacesForThisProcess ({});

    // What the listeners were last told; message thread only.
    int32_t toldStatus = ST_INITIAL;
    double toldProgress = 0.0;
    bool toldChecked = false;
    bool toldEnd = false;
    bool toldConfirmation = false;
    int toldRegions = 0; // regions (by index) whose writing has been looked at

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateProcedure)
};
