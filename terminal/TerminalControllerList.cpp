#include "terminal/TerminalControllerList.h"

#include "device/DeviceNodes.h"
#include "protocol/Protocol.h"
#include "terminal/TerminalTexts.h"
#include "text/ExternalText.h"
#include "update/Status.h"

TerminalControllerList::TerminalControllerList (bool jsonEvents, Finished finishedCall)
    : jsonAsked (jsonEvents)
    , onFinished (std::move (finishedCall))
    , plain (jsonEvents ? errors : output)
    , json ([this] (const juce::String& line)
            {
                if (jsonAsked)
                    output.write (line + "\n"); })
{
}

TerminalControllerList::~TerminalControllerList()
{
    link.close();
    output.flush (TerminalWriter::kLastTextWaitMs);
    errors.flush (TerminalWriter::kLastTextWaitMs);
}

void TerminalControllerList::say (const juce::String& line)
{
    plain.write (line + "\n");
}

void TerminalControllerList::start()
{
    // Opening claims nothing while several are present; one alone is claimed at once,
    // and choosing it below keeps that claim.
    if (link.open (&query).state != LinkOpenResult::State::failed)
        controllers = link.connectedControllers();

    if (controllers.empty())
    {
        finish (Outcomes::forError (ERR_NOT_CONNECTED));
        return;
    }

    askNext();
}

void TerminalControllerList::askNext()
{
    if (finished)
        return;

    if (next >= controllers.size())
    {
        // The last one's claim goes with the link.
        link.close();
        finish (Outcomes::forEnd (RunEnd::listed));
        return;
    }

    const auto controller = controllers[next++];
    const auto chosen = link.chooseController (controller.identity);

    if (chosen.state == LinkOpenResult::State::claimedElsewhere)
    {
        const auto holder = link.claimRefusal();
        tell (controller, {}, &holder);
        askNext();
        return;
    }

    query.ask (kReplyTimeoutMs, [this, controller] (const ControllerInfo& info)
               {
                   tell (controller, info, nullptr);
                   askNext(); });
}

void TerminalControllerList::tell (const ConnectedController& controller, const ControllerInfo& info, const ClaimHolder* heldBy)
{
    if (finished)
        return;

    auto identity = controller.identity;

    // The node as the system names it now, where the library knows it.
    if (const auto node = trbDeviceNode (controller.deviceNumber); ! node.empty())
        identity.node = ExternalText::fromBytes (node);

    say (TerminalTexts::listedLine (identity, info, heldBy));
    json.controller (0, identity, &info, heldBy);
}

void TerminalControllerList::finish (const Outcome& outcome)
{
    if (finished)
        return;

    finished = true;
    const auto lines = TerminalTexts::result (outcome);

    for (const auto& line : lines)
        say (line);

    json.result (outcome.resultName, outcome.errorId, outcome.exitStatus, lines.joinIntoString (" "));

    if (onFinished != nullptr)
        onFinished (outcome.exitStatus);
}

void TerminalControllerList::quitRequested()
{
    link.close();
    finish (Outcomes::forEnd (RunEnd::left));
}
