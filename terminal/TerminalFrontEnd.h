#pragma once

#include "session/UpdateSession.h"
#include "terminal/JsonEventWriter.h"
#include "terminal/ProgressLine.h"
#include "terminal/TerminalInput.h"
#include "terminal/TerminalWriter.h"
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
    juce::String expectedSha256; // the file's SHA-256 as its maker published it, or empty for any
    juce::String serial; // --serial: the controller chosen, or empty to choose when several are connected
    bool check = false; // --check: tell what an update would write and end, writing nothing
};

/**
    The updater without a window: the same steps as the window's screens, as plain
    lines in a terminal (or a pipe), in the catalogue's current language. It tells
    the controller found, the update file taken and the regions to write, asks before
    the write (unless told yes), shows the write's progress, the result with its error
    ID and what to do, and what the controller says of itself after the write. With
    JSON events asked for, each event is also a JSON line on stdout and the plain lines
    go to stderr.

    Before any request it settles which controller: one whose claim another process
    holds ends the run (status 6, its holder named); with several connected and none
    chosen by serial it lists them numbered and asks for the number, or, when nobody
    can answer (--yes, no terminal), ends as "not chosen" (8). With --check it stops
    where the question would come, telling the plan instead ("update available", 10;
    "up to date", 0).

    It presents an update session (session/UpdateSession.h), whose support log should
    go to stderr only when stderr is not a terminal (a file, the journal), so that its
    lines never interleave with the plain lines a user (or a screen reader) is
    following (logsToStandardError). Every run that gets here ends with exactly one
    result, in plain lines and as the JSON "result" event, last: from the session's
    outcome, or, when the program ends at once, from the last words prepared for it.

    Threads: everything runs on the message thread; the procedure's worker, the input
    reader and the writers have threads of their own.
*/
class TerminalFrontEnd final : private UpdateListener
{
public:
    /** Told once, on the message thread, with the exit status the run ends with. */
    using Finished = std::function<void (int exitStatus)>;

    /** Presents session (which must outlive it) and writes nothing yet. Message thread. */
    TerminalFrontEnd (UpdateSession& session, TerminalOptions options, Finished finished);

    /** Waits a moment for the last lines. */
    ~TerminalFrontEnd() override;

    /** Whether the support log of a terminal run goes to stderr: only when stderr is
        not a terminal. Any thread. */
    static bool logsToStandardError();

    /** Ends at once, sending nothing, when another process holds the controller's claim or
        when several controllers are connected and none can be chosen; asks which one when
        several are connected and the user can answer; then names any other program that has
        the controller's node open, looks for the update file and checks the controller. The
        rest follows from the procedure's events and the user's answers. Message thread. */
    void start();

    /** The system asked the program to end (Ctrl+C, SIGTERM, SIGHUP): before the write
        it leaves with nothing written; during the write it stops sending (the orderly
        quit, run again to finish); after it, it ends as the write ended. Message thread. */
    void quitRequested();

    /** The plain lines and the JSON "result" event of an outcome, as this run writes
        them (the JSON event only with --json). Message thread. */
    struct ResultText
    {
        juce::String plain, json;
    };
    ResultText resultText (const Outcome& outcome, const WriteConfirmation& answer) const;

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

    void ask();
    void answered (const TerminalInput::Answer& answer);
    void offerChoice();
    void choiceAnswered (const TerminalInput::Answer& answer);
    void tellChoices();
    void endClaimedElsewhere();
    void checkChosen();
    void warnOfHolders();
    void endProgress();
    void say (const juce::String& line);
    void tellFile();
    void settled (const Outcome& outcome);
    void prepareLastWords();
    double elapsedMs() const;

    UpdateSession& session;
    UpdateProcedure& procedure { session.getProcedure() };
    const TerminalOptions options;
    Finished onFinished;

    TerminalWriter output { TerminalWriter::Stream::output };
    TerminalWriter errors { TerminalWriter::Stream::error };
    // The plain lines' stream: stdout, or stderr when stdout carries JSON.
    TerminalWriter& plain;
    JsonEventWriter json;

    std::unique_ptr<TerminalInput> input;
    std::unique_ptr<ProgressLine> progressLine;

    juce::String filePath; // the update file taken (or named and missing), as text
    std::optional<int32_t> fileError; // what the check of that file found
    std::vector<ConnectedController> choices; // the controllers offered when several are connected
    bool upToDate = false; // --check: the controller holds the file's version and stamp
    bool fileTold = false;
    double writeStartMs = 0.0;
    bool finished = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminalFrontEnd)
};
