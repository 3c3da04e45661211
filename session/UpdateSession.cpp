#include "session/UpdateSession.h"

#include "platform/StandardErrorWriter.h"
#include "session/ExitStatus.h"
#include "text/ExternalText.h"

#include <algorithm>
#include <cstring>

namespace
{
bool isWriting (int32_t status) noexcept
{
    return status >= ST_PREPARE && status < ST_COMPLETE;
}

constexpr const char* kSleepLockWho = "TRBKelo7UpdateProgram";
constexpr const char* kSleepLockWhy = "A firmware update of the TRB-Kelo7 is in progress";
} // namespace

UpdateSession::UpdateSession (const juce::String& serial)
    : UpdateSession (SupportLog::writeToStandardError, true, serial)
{
}

UpdateSession::UpdateSession (SupportLog::Sink logSink, bool logGoesToStandardError, const juce::String& serial)
    : logToStandardError (logGoesToStandardError)
    , chosenSerial (serial)
    , supportLog (logSink)
    // The sleep lock's warning comes from the thread that asks the system: it goes
    // the log's way (off a terminal's stderr), through the sink, which any thread may use.
    , sleepLock (SleepInhibitor::create (kSleepLockWho, kSleepLockWhy, [logSink] (const juce::String& line)
                                         {
                                             if (logSink != nullptr)
                                                 logSink (ExternalText::withControlsEscaped (line)); }))
{
    // The log first: it writes each event before a front-end shows it, and the
    // session settles the outcome before the front-ends hear of the end.
    procedure->addListener (&supportLog);
    procedure->addListener (this);

    link->connectionObserver = [this] (bool arrived)
    {
        if (arrived)
            supportLog.controllerArrived (link->deviceNumber(), link->identity());
        else
            supportLog.controllerRemoved();

        if (onControllersChanged != nullptr)
            onControllersChanged();
    };
    link->otherControllerObserver = [this] (bool arrived, const DeviceIdentity& other)
    {
        supportLog.otherController (arrived, other);

        if (onControllersChanged != nullptr)
            onControllersChanged();
    };

    if (serial.isNotEmpty())
        link->chooseController (serial);

    logLinkState (link->open (procedure.get()).state);

    // Without a front-end's words, an end at once still leaves the log's result line.
    for (auto state : { Unsettled::beforeWrite, Unsettled::duringWrite, Unsettled::afterWrite })
        prepareLastWords (state, {}, {});
}

void UpdateSession::logLinkState (LinkOpenResult::State state)
{
    using State = LinkOpenResult::State;

    if (state == State::claimedElsewhere)
        supportLog.claimRefused (link->claimRefusal());
    else if (state == State::choiceNeeded)
        supportLog.controllersToChooseFrom (link->connectedControllers());
    else
        supportLog.deviceLinkOpened (link->isConnected() ? link->deviceNumber() : -1, link->identity());
}

LinkOpenResult UpdateSession::choose (const DeviceIdentity& which)
{
    const auto result = link->chooseController (which);

    if (result.state == LinkOpenResult::State::connected)
        supportLog.controllerArrived (link->deviceNumber(), link->identity());
    else
        logLinkState (result.state);

    return result;
}

UpdateSession::~UpdateSession()
{
    stopTimer();

    // The worker uses the device link: it stops before the link closes, also when the
    // program is told to quit mid-update; the link forgets the procedure before it goes.
    procedure->stop();
    procedure->removeListener (this);
    procedure->removeListener (&supportLog);
    sleepLock->release();
    link->close();
    procedure.reset();
    link.reset();
}

//==============================================================================
void UpdateSession::statusChanged (int32_t newStatus)
{
    // Held from the write's first request to its end, whatever ends it.
    if (isWriting (newStatus) && outcome == nullptr)
        sleepLock->acquire();
    else
        sleepLock->release();
}

void UpdateSession::updateEnded (int32_t result)
{
    sleepLock->release();

    if (result != ST_COMPLETE)
    {
        settle (Outcomes::forError (result));
        return;
    }

    // The procedure asks the controller once after the finish request and tells what
    // it said; should that never come, the run still ends.
    awaiting = true;
    startTimer (kConfirmationPatienceMs);
}

void UpdateSession::writeConfirmed (const WriteConfirmation& answer)
{
    if (outcome != nullptr)
        return;

    confirmation = answer;
    settle (Outcomes::forConfirmation (answer.outcome));
}

void UpdateSession::timerCallback()
{
    stopTimer();

    if (outcome == nullptr)
        settle (Outcomes::forEnd (RunEnd::notConfirmed));
}

const Outcome& UpdateSession::settle (const Outcome& newOutcome)
{
    if (outcome != nullptr)
        return *outcome;

    // Told at once already (a second quit signal): the process is ending with that.
    // The exchange decides between the two, which may come at the same moment.
    if (auto unsettled = -1; ! settledExitStatus.compare_exchange_strong (unsettled, newOutcome.exitStatus))
        return newOutcome;

    outcome = &newOutcome;
    stopTimer();
    sleepLock->release();
    supportLog.note (Outcomes::logLine (newOutcome));

    if (onSettled != nullptr)
        onSettled (newOutcome);

    return newOutcome;
}

const Outcome& UpdateSession::endNow()
{
    if (outcome != nullptr)
        return *outcome;

    const auto status = procedure->getStatus();
    // Nothing more is sent, whatever the status.
    procedure->stop();

    if (awaiting || status == ST_COMPLETE)
        return settle (Outcomes::forEnd (RunEnd::notConfirmed));

    if (isWriting (status))
        return settle (Outcomes::forEnd (RunEnd::interrupted));

    if (isErrorStatus (status))
        return settle (Outcomes::forError (status));

    return settle (Outcomes::forEnd (RunEnd::left));
}

int UpdateSession::getExitStatus() const noexcept
{
    if (const auto settled = settledExitStatus.load(); settled >= 0)
        return settled;

    // A completed write still waiting for the controller's word has been written.
    return exitStatusFor (procedure->getStatus());
}

void UpdateSession::writeEnding()
{
    if (endingTold.exchange (true))
        return;

    const auto exitStatus = getExitStatus();
    // A run that ended well without writing (--check found the controller up to date)
    // shares status 0 with a written update: its log says what it did instead.
    const bool wroteNothing = outcome != nullptr && outcome->exitStatus == EXIT_UPDATED && ! Outcomes::isComplete (*outcome);
    supportLog.ending (exitStatus, wroteNothing ? outcome->whatHappened : exitStatusMeaning (exitStatus));
}

//==============================================================================
void UpdateSession::setLastWords (Unsettled state, const juce::String& toOutput, const juce::String& toError)
{
    prepareLastWords (state, toOutput, toError);
}

void UpdateSession::prepareLastWords (Unsettled state, const juce::String& toOutput, const juce::String& toError)
{
    static constexpr RunEnd kEnds[] = { RunEnd::left, RunEnd::interrupted, RunEnd::notConfirmed };
    auto& words = lastWords[(size_t) state];
    const auto logged = logToStandardError ? Outcomes::logLine (Outcomes::forEnd (kEnds[(size_t) state])) + "\n" : juce::String();

    const auto copy = [] (const juce::String& text, std::array<char, kLastWordsSize>& into)
    {
        into.fill (0);
        text.copyToUTF8 (into.data(), into.size() - 1);
    };

    words.ready = false;
    copy (toOutput, words.output);
    copy (toError + logged, words.error);
    words.ready = true;
}

int UpdateSession::endAtOnce() noexcept
{
    auto exitStatus = settledExitStatus.load();

    if (exitStatus < 0)
    {
        exitStatus = getExitStatus();
        const auto state = exitStatus == EXIT_UPDATED             ? Unsettled::afterWrite
                           : exitStatus == EXIT_WRITE_INTERRUPTED ? Unsettled::duringWrite
                                                                  : Unsettled::beforeWrite;
        // Only the first to come tells them: the message thread settles nothing after
        // this, and one that settled a moment before keeps its outcome.
        if (auto unsettled = -1; ! settledExitStatus.compare_exchange_strong (unsettled, exitStatus))
        {
            exitStatus = unsettled;
        }
        else if (const auto& words = lastWords[(size_t) state]; exitStatus != EXIT_UPDATE_FAILED && words.ready.load())
        {
            StandardErrorWriter::writeToOutputAtOnce (words.output.data());
            StandardErrorWriter::writeAtOnce (words.error.data());
        }
    }

    if (logToStandardError && ! endingTold.exchange (true))
        SupportLog::endingAtOnce (exitStatus, exitStatusMeaning (exitStatus));

    return exitStatus;
}
