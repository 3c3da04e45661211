#pragma once

#include "device/HidCtrl.h"
#include "log/SupportLog.h"
#include "session/Outcomes.h"
#include "session/SleepInhibitor.h"
#include "update/UpdateProcedure.h"

#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

/**
    One run of the updater, under whichever front-end shows it (the window, a
    terminal). It owns, in this order, the device link, the update procedure, the
    support log (the procedure's first listener, so each event is logged before it
    is shown), the sleep lock (held exactly while the controller is written), and
    the run's outcome: one row of the table of outcomes (session/Outcomes.h) with
    its exit status. Its destructor stops the worker before the link closes.

    The outcome is settled once: by an error, by the controller's word after the
    write (or its silence past kConfirmationPatienceMs), or by the run ending
    before that (endNow: left, interrupted, written but not confirmed). Settling
    writes the support log's result line (after the controller's word), then tells
    the front-end (setOnSettled).

    For the handlers that end the program at once (a second quit signal, a lost
    display), the last words of each unsettled state are prepared beforehand
    (setLastWords) and written by endAtOnce without allocating.

    Threads: everything runs on the message thread except getExitStatus and
    endAtOnce, which any thread (and a signal handler) may call: they read atomics.
*/
class UpdateSession final : private UpdateListener,
                            private juce::Timer
{
public:
    using Settled = std::function<void (const Outcome& outcome)>;

    /** A session whose support log writes to stderr. Opens the device link, looking for the
        controller with serial alone when one is given (--serial). Message thread. */
    explicit UpdateSession (const juce::String& serial = {});

    /** A session whose support log writes to logSink; logGoesToStandardError says whether
        that sink is stderr (endAtOnce then writes the log's lines there too). */
    UpdateSession (SupportLog::Sink logSink, bool logGoesToStandardError, const juce::String& serial = {});

    /** Stops the worker, closes the link, lets go of the sleep lock. Message thread. */
    ~UpdateSession() override;

    //==============================================================================
    UpdateProcedure& getProcedure() noexcept { return *procedure; }
    HidCtrl& getLink() noexcept { return *link; }
    SupportLog& getSupportLog() noexcept { return supportLog; }
    SleepInhibitor& getSleepLock() noexcept { return *sleepLock; }

    /** A front-end's listener, told after the support log and the session. Message thread. */
    void addListener (UpdateListener* listener) { procedure->addListener (listener); }
    void removeListener (UpdateListener* listener) { procedure->removeListener (listener); }

    //==============================================================================
    /** Where the device link stands now: connected (a controller held under its claim),
        waiting (none present, or the chosen serial not among them), claimedElsewhere (another
        process holds the claim: nothing may be sent; getLink().claimRefusal() names it),
        choiceNeeded (several present, none chosen: nothing is sent until choose) or failed.
        Message thread. */
    LinkOpenResult::State linkState() const noexcept { return link->state(); }

    /** Every TRB-Kelo7 present, with serial, port and node; asks the device library only,
        sends nothing to any controller. Message thread. */
    std::vector<ConnectedController> listControllers() const { return link->connectedControllers(); }

    /** The front-end's choice among the controllers present: follows and claims that one and
        logs it. Connected, claimedElsewhere (logged with its holder; nothing sent) or waiting
        (it is not present). Message thread, before the check starts. */
    LinkOpenResult choose (const DeviceIdentity& which);

    /** The serial the run was started for (--serial), empty when none was named: then no
        other controller may stand in for it. Any thread (it never changes). */
    const juce::String& getChosenSerial() const noexcept { return chosenSerial; }

    /** Told after the support log whenever a TRB-Kelo7 arrives or goes, held or not: for a
        front-end that lists them. Message thread. */
    void setOnControllersChanged (std::function<void()> changed) { onControllersChanged = std::move (changed); }

    /** Told once, when the outcome is settled. Message thread. */
    void setOnSettled (Settled settled) { onSettled = std::move (settled); }

    //==============================================================================
    /** The settled outcome, or nullptr while the run goes on. Message thread. */
    const Outcome* getOutcome() const noexcept { return outcome; }

    /** What the controller said after the write when the outcome settled on it (no answer
        when it settled on the wait's end). Message thread. */
    const WriteConfirmation& getConfirmation() const noexcept { return confirmation; }

    /** True from the completed write until the controller's word settles the outcome. Message thread. */
    bool isAwaitingConfirmation() const noexcept { return awaiting && outcome == nullptr; }

    /** Settles the outcome unless it is already (the first one stays), writes its support
        log line and tells the front-end. Returns the outcome that holds. Message thread. */
    const Outcome& settle (const Outcome& newOutcome);

    /** The run ends now, however it stands: stops the worker and settles the outcome
        (before the write: left; during it: interrupted; after it: written, not confirmed).
        Message thread. */
    const Outcome& endNow();

    /** The exit status the run ends with now. Any thread; lock-free (signal handlers). */
    int getExitStatus() const noexcept;

    /** Writes the support log's ending line ("exit status N: ...") once, and waits a moment
        for the log to reach stderr. Message thread. */
    void writeEnding();

    //==============================================================================
    /** The states in which the run may be ended at once, before its outcome settled. */
    enum class Unsettled
    {
        beforeWrite, // left
        duringWrite, // interrupted
        afterWrite // written, not confirmed
    };

    /** What the front-end writes when the run ends at once in state: toOutput on stdout,
        toError on stderr (before the support log's lines). Message thread, before the run
        can end at once; later calls replace it. */
    void setLastWords (Unsettled state, const juce::String& toOutput, const juce::String& toError);

    /** The program ends at once (a second quit signal, a lost display): writes the last
        words of the run as it stands, unless its outcome was told, then the log's ending
        line, and returns the exit status. Async-signal-safe. */
    int endAtOnce() noexcept;

    /** The longest the session waits for the procedure's word on the controller after a
        completed write, beyond the procedure's own wait; then it settles as not confirmed. */
    static constexpr int kConfirmationPatienceMs = 25000;

private:
    void statusChanged (int32_t newStatus) override;
    void updateEnded (int32_t result) override;
    void writeConfirmed (const WriteConfirmation& confirmation) override;
    void timerCallback() override;
    void logLinkState (LinkOpenResult::State state);
    void prepareLastWords (Unsettled state, const juce::String& toOutput, const juce::String& toError);

    static constexpr size_t kLastWordsSize = 2048;

    struct LastWords
    {
        std::array<char, kLastWordsSize> output {}, error {};
        std::atomic<bool> ready { false };
    };

    const bool logToStandardError;
    const juce::String chosenSerial;
    std::unique_ptr<HidCtrl> link = std::make_unique<HidCtrl>();
    std::unique_ptr<UpdateProcedure> procedure = std::make_unique<UpdateProcedure> (*link);
    SupportLog supportLog;
    const std::unique_ptr<SleepInhibitor> sleepLock;

    Settled onSettled;
    std::function<void()> onControllersChanged;
    const Outcome* outcome = nullptr;
    WriteConfirmation confirmation;
    bool awaiting = false;
    std::atomic<int> settledExitStatus { -1 };
    std::atomic<bool> endingTold { false };
    std::array<LastWords, 3> lastWords;
    static_assert (std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateSession)
};
