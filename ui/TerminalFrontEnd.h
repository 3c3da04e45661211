#pragma once

#include "app/SleepInhibitor.h"
#include "device/HidCtrl.h"
#include "ui/JsonEventWriter.h"
#include "ui/ProgressLine.h"
#include "ui/SupportLog.h"
#include "ui/TerminalInput.h"
#include "ui/TerminalWriter.h"
#include "update/UpdateProcedure.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

/** How a terminal run was asked to go. */
struct TerminalOptions
{
    bool yes = false; // start the write without asking
    bool json = false; // JSON events on stdout, the plain lines on stderr
    std::vector<UpdateFilePlace> places; // where the update file is looked for
    juce::StringArray placeProblems; // what was wrong with the user's folder settings
};

/**
    The updater without a window: the same steps as the window's screens, as plain
    lines in a terminal (or a pipe), in the catalogue's current language. It tells
    the controller found, the update file taken and the regions to write, asks before
    the write (unless told yes), shows the write's progress, the result with its error
    ID and what to do, and what the controller says of itself after the write. With
    JSON events asked for, each event is also a JSON line on stdout and the plain lines
    go to stderr.

    The support log hears the procedure as in the window; its lines go to stderr when
    stderr is not a terminal (a file, the journal), so that they never interleave with
    the plain lines a user (or a screen reader) is following.

    Threads: everything runs on the message thread; the procedure's worker, the input
    reader and the writers have threads of their own.
*/
class TerminalFrontEnd final : private UpdateListener
{
public:
    /** Told once, on the message thread, with the exit status the run ends with. */
    using Finished = std::function<void (int exitStatus)>;

    /** Opens the device link and writes nothing yet. Message thread. */
    TerminalFrontEnd (TerminalOptions options, Finished finished);

    /** Stops the worker before the link closes; waits a moment for the last lines. */
    ~TerminalFrontEnd() override;

    /** Looks for the update file and checks the controller; the rest follows from the
        procedure's events and the user's answer. Message thread. */
    void start();

    /** The system asked the program to end (Ctrl+C, SIGTERM, SIGHUP): before the write
        it leaves with nothing written; during the write it stops sending (the orderly
        quit, run again to finish); after it, it ends as the write ended. Message thread. */
    void quitRequested();

    /** The exit status the run would end with now. Any thread, async-signal-safe. */
    int exitStatusNow() const noexcept;

    /** The longest the run waits for the procedure's word on the controller after a
        completed write, beyond the procedure's own wait; then it ends as unconfirmed. */
    static constexpr int kConfirmationPatienceMs = 25000;

private:
    // The procedure's events.
    void fileSearched (const UpdateFileSearchReport& report, const UpdateFileState& state) override;
    void controllerChecked (const juce::String& deviceVersion,
                            uint32_t deviceStamp,
                            const std::array<UpdateRegion, kRegionCount>& regions) override;
    void statusChanged (int32_t newStatus) override;
    void writeStarted() override;
    void progressChanged (double progress) override;
    void updateEnded (int32_t result) override;
    void writeConfirmed (const WriteConfirmation& confirmation) override;

    void ask();
    void answered (const TerminalInput::Answer& answer);
    void confirmationOverdue();
    void endProgress();
    void say (const juce::String& line);
    void finish (int exitStatus, const juce::String& resultName, int32_t error, const juce::String& message);
    double elapsedMs() const;

    // A single-shot wait for the confirmation, on the message thread.
    struct Overdue final : public juce::Timer
    {
        std::function<void()> onTimeout;
        void timerCallback() override
        {
            stopTimer();
            onTimeout();
        }
    };

    const TerminalOptions options;
    Finished onFinished;

    TerminalWriter output { TerminalWriter::Stream::output };
    TerminalWriter errors { TerminalWriter::Stream::error };
    // The plain lines' stream: stdout, or stderr when stdout carries JSON.
    TerminalWriter& plain;
    JsonEventWriter json;
    SupportLog supportLog;

    std::unique_ptr<HidCtrl> ctrl = std::make_unique<HidCtrl>();
    std::unique_ptr<UpdateProcedure> procedure = std::make_unique<UpdateProcedure> (*ctrl);
    const std::unique_ptr<SleepInhibitor> sleepInhibitor = SleepInhibitor::create ("TRBKelo7UpdateProgram",
                                                                                   "A firmware update of the TRB-Kelo7 is in progress");
    std::unique_ptr<TerminalInput> input;
    std::unique_ptr<ProgressLine> progressLine;
    Overdue overdue;

    juce::String filePath; // the update file taken, as text
    double writeStartMs = 0.0;
    bool finished = false;
    std::atomic<int> settledExitStatus { -1 };
    std::atomic<bool> confirmationPending { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminalFrontEnd)
};
