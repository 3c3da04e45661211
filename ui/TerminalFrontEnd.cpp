#include "ui/TerminalFrontEnd.h"

#include "app/ExitStatus.h"
#include "device/DeviceHolders.h"
#include "device/DeviceNodes.h"
#include "text/ExternalText.h"
#include "ui/StandardErrorWriter.h"
#include "ui/TerminalTexts.h"
#include "update/Status.h"

namespace
{
bool isWriting (int32_t status) noexcept
{
    return status >= ST_PREPARE && status < ST_COMPLETE;
}
} // namespace

TerminalFrontEnd::TerminalFrontEnd (TerminalOptions runOptions, Finished finishedCall)
    : options (std::move (runOptions))
    , onFinished (std::move (finishedCall))
    , plain (options.json ? errors : output)
    , json ([this] (const juce::String& line)
            {
                if (options.json)
                    output.write (line + "\n"); })
    ,
    // On a terminal the support log's lines would interleave with the plain ones.
    supportLog (errors.isTerminal() ? SupportLog::Sink ([] (const juce::String&) {}) : SupportLog::Sink (SupportLog::writeToStandardError))
{
    procedure->addListener (&supportLog);
    procedure->addListener (this);
    procedure->setUpdateFilePlaces (options.places);

    for (const auto& problem : options.placeProblems)
        supportLog.note (problem);

    ctrl->connectionObserver = [this] (bool arrived)
    {
        if (arrived)
            supportLog.controllerArrived (ctrl->deviceNumber());
        else
            supportLog.controllerRemoved();
    };
    ctrl->open (procedure.get());
    supportLog.deviceLinkOpened (ctrl->isConnected() ? ctrl->deviceNumber() : -1);

    overdue.onTimeout = [this]
    { confirmationOverdue(); };
}

TerminalFrontEnd::~TerminalFrontEnd()
{
    overdue.stopTimer();
    input = nullptr;

    // The worker uses the device link: it stops before the link closes.
    procedure->stop();
    procedure->removeListener (this);
    procedure->removeListener (&supportLog);
    sleepInhibitor->release();
    ctrl->close();
    procedure.reset();
    ctrl.reset();

    output.flush (TerminalWriter::kLastTextWaitMs);
    errors.flush (TerminalWriter::kLastTextWaitMs);
}

void TerminalFrontEnd::start()
{
    procedure->startCheck();
}

//==============================================================================
void TerminalFrontEnd::say (const juce::String& line)
{
    plain.write (line + "\n");
}

double TerminalFrontEnd::elapsedMs() const
{
    return juce::Time::getMillisecondCounterHiRes() - writeStartMs;
}

int TerminalFrontEnd::exitStatusNow() const noexcept
{
    if (const auto settled = settledExitStatus.load(); settled >= 0)
        return settled;

    // A completed write still waiting for the controller's word has been written.
    return exitStatusFor (procedure->getStatus());
}

void TerminalFrontEnd::finish (int exitStatus, const juce::String& resultName, int32_t error, const juce::String& message)
{
    if (finished)
        return;

    finished = true;
    settledExitStatus = exitStatus;
    overdue.stopTimer();
    input = nullptr;
    sleepInhibitor->release();
    json.result (resultName, error, exitStatus, message);
    supportLog.ending (exitStatus);

    if (onFinished != nullptr)
        onFinished (exitStatus);
}

//==============================================================================
void TerminalFrontEnd::fileSearched (const UpdateFileSearchReport& report, const UpdateFileState& state)
{
    filePath = report.chosen.getFullPathName();

    // A file that failed its check is told now: no controller check follows.
    if (report.error.has_value())
        json.file (filePath, state.fileVersion, state.fileStamp, *report.error);
}

void TerminalFrontEnd::controllerChecked (const juce::String& deviceVersion,
                                          uint32_t deviceStamp,
                                          const std::array<UpdateRegion, kRegionCount>& regions)
{
    const auto node = ctrl->isConnected() ? trbDeviceNode (ctrl->deviceNumber()) : std::string();

    say (TerminalTexts::introduction());
    say (TerminalTexts::controllerLine (deviceVersion, deviceStamp));
    say (TerminalTexts::fileLine (procedure->getFileVersion(), procedure->getFileStamp(), filePath));
    say (TerminalTexts::regionsLine (regions));
    json.found (deviceVersion, deviceStamp, ExternalText::fromBytes (node));
    json.file (filePath, procedure->getFileVersion(), procedure->getFileStamp(), ST_INITIAL);
    json.plan (regions);

    // A program that talks to the controller during the write may spoil it.
    if (! node.empty())
    {
        const auto holders = findOtherProcessesHolding (node);

        if (! holders.empty())
        {
            say (TerminalTexts::holdersLine (holders));
            std::vector<std::pair<int, juce::String>> named;

            for (const auto& holder : holders)
                named.emplace_back (holder.pid, holder.name);

            json.holders (named);
        }
    }
}

void TerminalFrontEnd::statusChanged (int32_t newStatus)
{
    if (newStatus == ST_READY && ! finished && ! procedure->hasWriteStarted())
        ask();

    // Held from the write's first request to its end, as in the window.
    if (isWriting (newStatus))
        sleepInhibitor->acquire();
    else
        sleepInhibitor->release();
}

void TerminalFrontEnd::ask()
{
    if (options.yes)
    {
        procedure->startUpdate();
        return;
    }

    const auto inputIsTerminal = TerminalInput::isTerminal();

    // Nobody can answer: a clear refusal, never a wait on a pipe or a closed input.
    if (! inputIsTerminal)
    {
        const auto line = TerminalTexts::noAnswerPossible (false);
        say (line);
        finish (EXIT_LEFT_BEFORE_WRITE, "left", ST_INITIAL, line);
        return;
    }

    plain.write (TerminalTexts::question());
    input = std::make_unique<TerminalInput> ([this] (TerminalInput::Answer answer)
                                             { answered (answer); });
}

void TerminalFrontEnd::answered (const TerminalInput::Answer& answer)
{
    input = nullptr;

    if (finished)
        return;

    // Text that Enter never ended is no answer (a "y" then Ctrl+D); the answer's line
    // was never ended, so this one starts on a line of its own.
    if (answer.ending != TerminalInput::Answer::Ending::line)
    {
        const auto text = TerminalTexts::noAnswerPossible (true);
        say ("\n" + text);
        finish (EXIT_LEFT_BEFORE_WRITE, "left", ST_INITIAL, text);
        return;
    }

    if (! TerminalTexts::isYes (answer.text))
    {
        const auto text = TerminalTexts::leftBeforeWrite();
        say (text);
        finish (EXIT_LEFT_BEFORE_WRITE, "left", ST_INITIAL, text);
        return;
    }

    // The controller may have gone while the question waited: the procedure then has
    // ended in an error, which updateEnded has told.
    procedure->startUpdate();
}

void TerminalFrontEnd::writeStarted()
{
    writeStartMs = juce::Time::getMillisecondCounterHiRes();

    for (const auto& line : TerminalTexts::writing())
        say (line);

    json.started();
    progressLine = std::make_unique<ProgressLine> (plain.isTerminal() ? ProgressLine::Mode::redrawn : ProgressLine::Mode::steps,
                                                   procedure->getTotalBytes(),
                                                   [this]
                                                   { return plain.getColumns(); });
}

void TerminalFrontEnd::progressChanged (double progress)
{
    if (progressLine == nullptr || finished)
        return;

    const auto now = elapsedMs();
    plain.write (progressLine->update (progress, now));
    json.progress (progress, procedure->getTotalBytes(), now);
}

void TerminalFrontEnd::endProgress()
{
    if (progressLine != nullptr)
        plain.write (progressLine->finish());

    progressLine = nullptr;
}

void TerminalFrontEnd::updateEnded (int32_t result)
{
    if (finished)
        return;

    endProgress();
    sleepInhibitor->release();

    // The controller went while the question waited: the question's line is ended first.
    if (input != nullptr)
    {
        input = nullptr;
        plain.write ("\n");
    }

    if (result != ST_COMPLETE)
    {
        const auto lines = TerminalTexts::result (result);

        for (const auto& line : lines)
            say (line);

        finish (EXIT_UPDATE_FAILED, "error", result, lines.joinIntoString (" "));
        return;
    }

    // The procedure asks the controller once after the finish request and tells what
    // it said; the result is told with that word. Should it never come, the run still ends.
    say (TerminalTexts::askingController());
    confirmationPending = true;
    overdue.startTimer (kConfirmationPatienceMs);
}

void TerminalFrontEnd::writeConfirmed (const WriteConfirmation& confirmation)
{
    if (finished || ! confirmationPending.exchange (false))
        return;

    const auto line = TerminalTexts::confirmation (confirmation, procedure->getFileVersion(), procedure->getFileStamp());
    json.confirmation (confirmation);

    // "Complete" is not said of a write the controller did not take.
    if (confirmation.outcome == WriteConfirmation::Outcome::mismatch)
    {
        say (line);
        finish (EXIT_NOT_TAKEN, "not taken", ST_INITIAL, line);
        return;
    }

    const auto complete = TerminalTexts::result (ST_COMPLETE).joinIntoString (" ");
    say (complete);
    say (line);
    finish (EXIT_UPDATED, "complete", ST_INITIAL, complete + " " + line);
}

void TerminalFrontEnd::confirmationOverdue()
{
    writeConfirmed (WriteConfirmation {});
}

void TerminalFrontEnd::quitRequested()
{
    if (finished)
        return;

    const auto status = procedure->getStatus();

    // Told to end while waiting for the controller's word: the write is done.
    if (confirmationPending)
    {
        confirmationOverdue();
        return;
    }

    // Nothing more is sent, whatever the status.
    procedure->stop();
    endProgress();

    if (isWriting (status))
    {
        const auto line = TerminalTexts::interrupted();
        say (line);
        finish (EXIT_WRITE_INTERRUPTED, "interrupted", ST_INITIAL, line);
        return;
    }

    if (input != nullptr)
        plain.write ("\n");

    const auto line = TerminalTexts::leftBeforeWrite();
    say (line);
    finish (EXIT_LEFT_BEFORE_WRITE, "left", ST_INITIAL, line);
}
