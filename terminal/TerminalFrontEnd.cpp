#include "terminal/TerminalFrontEnd.h"

#include "device/DeviceHolders.h"
#include "device/DeviceNodes.h"
#include "session/ExitStatus.h"
#include "terminal/TerminalTexts.h"
#include "text/ExternalText.h"
#include "update/Status.h"

namespace
{
// What fileSearched saw of the file it took; an invalid version text is not told.
juce::String validVersion (const juce::String& version)
{
    return isValidVersionText (version) ? version : juce::String();
}
} // namespace

TerminalFrontEnd::TerminalFrontEnd (UpdateSession& sessionToShow, TerminalOptions runOptions, Finished finishedCall)
    : session (sessionToShow)
    , options (std::move (runOptions))
    , onFinished (std::move (finishedCall))
    , plain (options.json ? errors : output)
    , json ([this] (const juce::String& line)
            {
                if (options.json)
                    output.write (line + "\n"); })
{
    session.addListener (this);
    session.setOnSettled ([this] (const Outcome& outcome)
                          { settled (outcome); });
    procedure.setUpdateFilePlaces (options.places);
    procedure.setExpectedSha256 (options.expectedSha256);

    for (const auto& problem : options.placeProblems)
        session.getSupportLog().note (problem);

    prepareLastWords();
}

TerminalFrontEnd::~TerminalFrontEnd()
{
    input = nullptr;
    session.setOnSettled (nullptr);
    session.removeListener (this);
    output.flush (TerminalWriter::kLastTextWaitMs);
    errors.flush (TerminalWriter::kLastTextWaitMs);
}

bool TerminalFrontEnd::logsToStandardError()
{
    return ! TerminalWriter (TerminalWriter::Stream::error).isTerminal();
}

void TerminalFrontEnd::start()
{
    using State = LinkOpenResult::State;

    switch (session.linkState())
    {
        case State::claimedElsewhere:
            endClaimedElsewhere();
            return;

        case State::choiceNeeded:
            offerChoice();
            return;

        case State::waiting:
            // A serial that names none of the controllers present: the list, and nothing sent.
            // With none present at all, the check tells that the controller is not connected.
            if (options.serial.isNotEmpty() && ! session.listControllers().empty())
            {
                choices = session.listControllers();
                say ("No connected TRB-Kelo7 has the serial " + ExternalText::withControlsEscaped (options.serial) + ".");
                tellChoices();
                session.settle (Outcomes::forEnd (RunEnd::notChosen));
                return;
            }
            break;

        case State::connected:
        case State::failed:
            break;
    }

    checkChosen();
}

void TerminalFrontEnd::checkChosen()
{
    warnOfHolders();
    procedure.startCheck();
}

void TerminalFrontEnd::warnOfHolders()
{
    // Before the first request: a program that talks to the controller may spoil the
    // check as well as the write.
    auto& link = session.getLink();
    const auto node = link.isConnected() ? trbDeviceNode (link.deviceNumber()) : std::string();

    if (node.empty())
        return;

    const auto holders = findOtherProcessesHolding (node);

    if (holders.empty())
        return;

    say (TerminalTexts::holdersLine (holders));
    std::vector<std::pair<int, juce::String>> named;

    for (const auto& holder : holders)
        named.emplace_back (holder.pid, holder.name);

    json.holders (named);
}

void TerminalFrontEnd::endClaimedElsewhere()
{
    const auto holder = session.getLink().claimRefusal();
    say (TerminalTexts::claimHeldLine (holder));
    json.controller (0, holder.controller, nullptr, &holder);
    session.settle (Outcomes::forEnd (RunEnd::claimedElsewhere));
}

void TerminalFrontEnd::tellChoices()
{
    say (TerminalTexts::choiceHeading (choices.size()));

    for (size_t i = 0; i < choices.size(); ++i)
    {
        say (TerminalTexts::choiceEntry (i + 1, choices[i].identity));
        json.controller ((int) i + 1, choices[i].identity, nullptr, nullptr);
    }
}

void TerminalFrontEnd::offerChoice()
{
    choices = session.listControllers();
    tellChoices();

    // --yes asks nobody, and nobody can answer from a pipe or a closed input: the
    // choice is --serial's then.
    if (options.yes || ! TerminalInput::isTerminal())
    {
        session.settle (Outcomes::forEnd (RunEnd::notChosen));
        return;
    }

    plain.write (TerminalTexts::choiceQuestion (choices.size()));
    input = std::make_unique<TerminalInput> ([this] (TerminalInput::Answer answer)
                                             { choiceAnswered (answer); });
}

void TerminalFrontEnd::choiceAnswered (const TerminalInput::Answer& answer)
{
    input = nullptr;

    if (finished)
        return;

    // Text that Enter never ended chooses nothing; its line is ended here.
    if (answer.ending != TerminalInput::Answer::Ending::line)
        plain.write ("\n");

    const auto number = answer.ending == TerminalInput::Answer::Ending::line ? TerminalTexts::choiceNumber (answer.text, choices.size()) : 0;

    if (number == 0)
    {
        session.settle (Outcomes::forEnd (RunEnd::notChosen));
        return;
    }

    // Claimed now, before anything is sent; one that went meanwhile is not connected.
    if (session.choose (choices[number - 1].identity).state == LinkOpenResult::State::claimedElsewhere)
    {
        endClaimedElsewhere();
        return;
    }

    checkChosen();
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

TerminalFrontEnd::ResultText TerminalFrontEnd::resultText (const Outcome& outcome, const WriteConfirmation& answer) const
{
    const auto lines = TerminalTexts::result (outcome, answer, procedure.getFileVersion(), procedure.getFileStamp());
    ResultText text { lines.joinIntoString ("\n") + "\n", {} };

    if (options.json)
    {
        JsonEventWriter writer ([&text] (const juce::String& line)
                                { text.json << line << "\n"; });

        if (outcome.end == RunEnd::notConfirmed)
            writer.confirmation (answer);

        writer.result (outcome.resultName, outcome.errorId, outcome.exitStatus, lines.joinIntoString (" "));
    }

    return text;
}

void TerminalFrontEnd::prepareLastWords()
{
    // Written by the handler that ends the program at once (a second quit signal). An
    // open question or progress line is ended first; after the write, the line saying
    // that the controller is asked has ended already.
    const std::pair<UpdateSession::Unsettled, RunEnd> ends[] = { { UpdateSession::Unsettled::beforeWrite, RunEnd::left },
                                                                 { UpdateSession::Unsettled::duringWrite, RunEnd::interrupted },
                                                                 { UpdateSession::Unsettled::afterWrite, RunEnd::notConfirmed } };

    for (const auto& [state, end] : ends)
    {
        const auto text = resultText (Outcomes::forEnd (end), {});
        const auto lineEnd = state == UpdateSession::Unsettled::afterWrite ? juce::String() : juce::String ("\n");
        const auto plainText = (plain.isTerminal() ? lineEnd : juce::String()) + text.plain;

        if (options.json)
            session.setLastWords (state, text.json, plainText);
        else
            session.setLastWords (state, plainText, {});
    }
}

void TerminalFrontEnd::tellFile()
{
    // The file event comes whenever a file was taken and checked (or named and
    // missing), before the result.
    if (fileTold || filePath.isEmpty())
        return;

    fileTold = true;
    json.file (filePath, validVersion (procedure.getFileVersion()), procedure.getFileStamp(), fileError.value_or (ST_INITIAL),
               procedure.getFileSha256());
}

void TerminalFrontEnd::settled (const Outcome& outcome)
{
    if (finished)
        return;

    finished = true;
    endProgress();

    // The question or the answer's line is ended first.
    if (input != nullptr)
    {
        input = nullptr;
        plain.write ("\n");
    }

    tellFile();
    const auto& answer = session.getConfirmation();

    if (outcome.end == RunEnd::confirmed || outcome.end == RunEnd::notConfirmed || outcome.end == RunEnd::refused
        || outcome.end == RunEnd::notTaken)
        json.confirmation (answer);

    const auto lines = TerminalTexts::result (outcome, answer, procedure.getFileVersion(), procedure.getFileStamp());

    for (const auto& line : lines)
        say (line);

    json.result (outcome.resultName, outcome.errorId, outcome.exitStatus, lines.joinIntoString (" "));

    if (onFinished != nullptr)
        onFinished (outcome.exitStatus);
}

//==============================================================================
void TerminalFrontEnd::fileSearched (const UpdateFileSearchReport& report, const UpdateFileState&)
{
    // A named file that does not exist is named too: it is the one that was looked for.
    const auto& file = report.chosen != juce::File() ? report.chosen : report.namedFile;
    filePath = file != juce::File() ? file.getFullPathName() : juce::String();
    fileError = report.error;

    // A file that failed its check is told now: no controller check follows. The
    // result's lines say what is wrong; this one says with which file.
    if (report.error.has_value())
    {
        if (filePath.isNotEmpty())
            say (ExternalText::withControlsEscaped ("Update file: " + filePath + (report.chosen == juce::File() ? " (does not exist)" : "")));

        tellFile();
    }
}

void TerminalFrontEnd::controllerChecked (const juce::String& deviceVersion,
                                          uint32_t deviceStamp,
                                          const std::array<UpdateRegion, kRegionCount>& regions)
{
    auto& link = session.getLink();
    const auto node = link.isConnected() ? trbDeviceNode (link.deviceNumber()) : std::string();
    auto identity = link.identity();
    identity.node = ExternalText::fromBytes (node);

    // What --check tells: the controller holds the file already, or what an update would write.
    upToDate = options.check && deviceVersion == procedure.getFileVersion() && deviceStamp == procedure.getFileStamp();

    say (TerminalTexts::introduction());
    say (TerminalTexts::controllerLine (deviceVersion, deviceStamp, identity));
    say (TerminalTexts::fileLine (procedure.getFileVersion(), procedure.getFileStamp(), filePath));
    say (upToDate ? TerminalTexts::upToDateLine (deviceVersion, deviceStamp) : TerminalTexts::regionsLine (regions, options.check));
    json.found (deviceVersion, deviceStamp, identity.node, identity.serial, identity.location);
    tellFile();
    json.plan (regions, upToDate);
}

void TerminalFrontEnd::statusChanged (int32_t newStatus)
{
    if (newStatus != ST_READY || finished || procedure.hasWriteStarted())
        return;

    // --check ends at the question the update would ask, having written nothing.
    if (options.check)
        session.settle (Outcomes::forEnd (upToDate ? RunEnd::upToDate : RunEnd::wouldWrite));
    else
        ask();
}

void TerminalFrontEnd::ask()
{
    if (options.yes)
    {
        procedure.startUpdate();
        return;
    }

    // Nobody can answer: a clear refusal, never a wait on a pipe or a closed input.
    if (! TerminalInput::isTerminal())
    {
        say (TerminalTexts::noAnswerPossible (false));
        session.settle (Outcomes::forEnd (RunEnd::left));
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
        say ("\n" + TerminalTexts::noAnswerPossible (true));
        session.settle (Outcomes::forEnd (RunEnd::left));
        return;
    }

    if (! TerminalTexts::isYes (answer.text))
    {
        session.settle (Outcomes::forEnd (RunEnd::left));
        return;
    }

    // The controller may have gone while the question waited: the procedure then has
    // ended in an error, which the session has settled.
    procedure.startUpdate();
}

void TerminalFrontEnd::writeStarted()
{
    writeStartMs = juce::Time::getMillisecondCounterHiRes();

    for (const auto& line : TerminalTexts::writing())
        say (line);

    json.started();
    progressLine = std::make_unique<ProgressLine> (plain.isTerminal() ? ProgressLine::Mode::redrawn : ProgressLine::Mode::steps,
                                                   procedure.getTotalBytes(),
                                                   [this]
                                                   { return plain.getColumns(); });
}

void TerminalFrontEnd::progressChanged (double progress)
{
    if (progressLine == nullptr || finished)
        return;

    const auto now = elapsedMs();
    plain.write (progressLine->update (progress, now));
    json.progress (progress, procedure.getTotalBytes(), now);
}

void TerminalFrontEnd::endProgress()
{
    if (progressLine != nullptr)
        plain.write (progressLine->finish());

    progressLine = nullptr;
}

void TerminalFrontEnd::updateEnded (int32_t result)
{
    // An error has settled the outcome already (the session hears it first).
    if (finished || result != ST_COMPLETE)
        return;

    endProgress();

    // The session asks the controller once after the finish request and settles the
    // outcome with what it said; should it never come, the session still settles it.
    say (TerminalTexts::askingController());
}

void TerminalFrontEnd::quitRequested()
{
    if (finished)
        return;

    // Before the write: left; during it: nothing more is sent (run again to finish);
    // waiting for the controller's word: written, not confirmed.
    session.endNow();
}
