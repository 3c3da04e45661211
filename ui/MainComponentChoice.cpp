// The choice between several connected controllers, and the runs that end before
// their first request: what MainComponent does between the language screen and
// the check.

#include "session/Outcomes.h"
#include "text/FormatText.h"
#include "ui/MainComponent.h"

namespace
{
// A controller without a USB serial is told apart by its port alone.
const juce::String kNoSerial { "-" };

juce::String rowText (const ConnectedController& controller)
{
    const auto& identity = controller.identity;
    return formatText (TxtLoader::getInstance()->getText (TXT_CONTROLLER_ROW),
                       identity.serial.isNotEmpty() ? identity.serial : kNoSerial, identity.location);
}

bool sameControllers (const std::vector<ConnectedController>& a, const std::vector<ConnectedController>& b)
{
    return std::equal (a.begin(), a.end(), b.begin(), b.end(), [] (const auto& x, const auto& y)
                       { return x.identity.serial == y.identity.serial && x.identity.location == y.identity.location; });
}
} // namespace

void MainComponent::goOnFromLanguage()
{
    if (choosing || hasEndedBeforeAnyRequest() || procedure.isWorkerRunning())
        return;

    switch (session.linkState())
    {
        case LinkOpenResult::State::choiceNeeded:
            showChoice();
            return;

        case LinkOpenResult::State::claimedElsewhere:
            endBeforeAnyRequest (RunEnd::claimedElsewhere);
            return;

        case LinkOpenResult::State::waiting:
            // Only the controller named with --serial will do: others connected are
            // never taken in its place.
            if (session.getChosenSerial().isNotEmpty())
            {
                endBeforeAnyRequest (RunEnd::notChosen);
                return;
            }
            break;

        case LinkOpenResult::State::connected:
        case LinkOpenResult::State::failed:
            break;
    }

    beginCheck();
}

void MainComponent::beginCheck()
{
    // Programs that have the controller open are named before the first request.
    session.getSupportLog().controllerAboutToBeAsked();
    startCheck();
    updateDisplay();
}

void MainComponent::showChoice()
{
    choosing = true;
    listControllers();
    updateDisplay();
}

bool MainComponent::listControllers()
{
    auto present = session.listControllers();

    // The list is rebuilt only when what is connected changed: the user's
    // selection stays where it was while nothing moves.
    if (sameControllers (present, listed) && controllerBox->getNumItems() == (int) listed.size())
        return false;

    const auto selected = controllerBox->getSelectedItemIndex();
    const auto selectedIdentity = selected >= 0 && selected < (int) listed.size() ? listed[(size_t) selected].identity : DeviceIdentity();

    listed = std::move (present);
    controllerBox->clear (juce::dontSendNotification);

    auto keep = 0;

    for (size_t i = 0; i < listed.size(); ++i)
    {
        controllerBox->addItem (rowText (listed[i]), (int) i + 1);

        if (listed[i].identity.serial == selectedIdentity.serial && listed[i].identity.location == selectedIdentity.location)
            keep = (int) i;
    }

    if (! listed.empty())
        controllerBox->setSelectedItemIndex (keep, juce::dontSendNotification);

    return true;
}

void MainComponent::chooseController (int index)
{
    if (! choosing || index < 0 || index >= (int) listed.size())
        return;

    const auto result = session.choose (listed[(size_t) index].identity);

    switch (result.state)
    {
        case LinkOpenResult::State::connected:
        case LinkOpenResult::State::failed:
            // A link that could not start ends in the check's own error.
            choosing = false;
            beginCheck();
            return;

        case LinkOpenResult::State::claimedElsewhere:
            endBeforeAnyRequest (RunEnd::claimedElsewhere);
            return;

        case LinkOpenResult::State::waiting:
        case LinkOpenResult::State::choiceNeeded:
            // Gone since it was listed: the list shows what is there now.
            listControllers();
            updateDisplay();
            return;
    }
}

void MainComponent::endBeforeAnyRequest (RunEnd end)
{
    choosing = false;
    // Settling tells this component, which then shows the outcome.
    session.settle (Outcomes::forEnd (end));
    updateDisplay();
}

juce::String MainComponent::rowsShown() const
{
    juce::StringArray rows;

    for (int i = 0; i < controllerBox->getNumItems(); ++i)
        rows.add (controllerBox->getItemText (i));

    return rows.joinIntoString ("\n");
}

bool MainComponent::hasEndedBeforeAnyRequest() const noexcept
{
    const auto* outcome = session.getOutcome();
    return outcome != nullptr && (outcome->end == RunEnd::notChosen || outcome->end == RunEnd::claimedElsewhere);
}
