// The screens of MainComponent: what each status shows, the controls' captions
// and places, and the user's actions.

#include "log/ScreenLog.h"
#include "session/Outcomes.h"
#include "text/FormatText.h"
#include "ui/MainComponent.h"

namespace
{
const juce::String& text (TxtId id)
{
    return TxtLoader::getInstance()->getText (id);
}

juce::String errorLine (int32_t status)
{
    return "\n\nError ID:\t0x" + formatText ("%04s", juce::String::toHexString (status).toUpperCase());
}

// "Ver. %s.%02s": the digit before the point, then the two after it.
juce::String versionText (TxtId id, const juce::String& version)
{
    return formatText (text (id), version.substring (0, 1), version.substring (2, 4));
}
} // namespace

bool MainComponent::isAwaitingConfirmation() const noexcept
{
    // The last block is written, the controller's word not yet known: the progress
    // screen stays, so that "complete" is never shown of a write it did not take.
    return getStatus() == ST_COMPLETE && session.getOutcome() == nullptr;
}

int32_t MainComponent::shownStatus() const noexcept
{
    if (hasEndedBeforeAnyRequest())
        return kEndedScreen;

    if (choosing)
        return kChoiceScreen;

    const auto status = getStatus();

    // A completed write the controller reports it did not take shows its own error.
    if (const auto* outcome = session.getOutcome(); status == ST_COMPLETE && outcome != nullptr && outcome->errorId != 0)
        return outcome->errorId;

    return status;
}

MainComponent::Screen MainComponent::screenFor (int32_t statusValue) const
{
    Screen screen;
    const auto model = text (TXT_MODEL);

    if (statusValue == ST_INITIAL)
    {
        screen.heading = text (TXT_LANGUAGE_TITLE) + "\n\n";
        screen.body = text (TXT_SELECT_LANGUAGE);
    }
    else if (statusValue == kChoiceScreen)
    {
        screen.heading = text (TXT_SEVERAL_CONNECTED) + "\n";
        screen.body = text (TXT_WHICH_CONTROLLER);
    }
    else if (statusValue == kEndedScreen)
    {
        // Nothing was sent: no error ID to give; a refused claim names its holder.
        const auto& row = *session.getOutcome();
        screen.errorText = formatText (text (row.message), model) + (row.detail != TXT_EMPTY ? "\n" + text (row.detail) : juce::String());

        if (const auto holder = session.getLink().claimRefusal(); row.end == RunEnd::claimedElsewhere && holder.pid > 0)
            screen.errorText << "\n\nPID " << holder.pid << (holder.processName.isNotEmpty() ? " (" + holder.processName + ")" : juce::String());
    }
    else if (statusValue == ST_READY)
    {
        if (procedure.getFileState() == FILE_READY)
        {
            screen.heading = formatText (text (TXT_UPDATE_INTRO), model);
            screen.body = versionText (TXT_CURRENT_VERSION, procedure.getDeviceVersion()) + "\n"
                          + versionText (TXT_UPDATE_VERSION, procedure.getFileVersion());
        }
    }
    else if ((statusValue >= ST_BLOCK_HEADER && statusValue <= ST_BLOCK_WAIT) || (statusValue == ST_COMPLETE && isAwaitingConfirmation()))
    {
        screen.heading = formatText (text (TXT_UPDATING), model) + "\n\n";
        screen.body = text (TXT_PLEASE_WAIT);
    }
    else if (statusValue == ST_COMPLETE)
    {
        const auto* outcome = session.getOutcome();
        screen.single = formatText (text (outcome != nullptr ? outcome->message : TXT_UPDATE_COMPLETE), model);
    }
    else if (isErrorStatus (statusValue))
    {
        // The message of the error's row in the table of outcomes.
        const auto& row = Outcomes::forError (statusValue);
        screen.errorText = formatText (text (row.message), model) + (row.detail != TXT_EMPTY ? "\n" + text (row.detail) : juce::String())
                           + errorLine (statusValue);
    }

    return screen;
}

void MainComponent::updateDisplay()
{
    auto* catalogue = TxtLoader::getInstance();
    const auto languageFont = catalogue->getFontName (catalogue->getLanguage());
    juce::Font::setFallbackFontName (languageFont);

    if (auto* parent = getParentComponent())
        parent->setName (text (TXT_APP_TITLE));

    const auto statusValue = shownStatus();
    const auto screen = screenFor (statusValue);

    // A refresh comes with every change of the procedure's status; an unchanged
    // screen keeps its layout instead of being laid out again each time.
    // The title joins the key: the screen is logged again once the window that
    // shows it has its name, whether or not the window's size changed on the way.
    const auto* window = getParentComponent();
    // The choice screen is new again with each change of its list or its selection.
    const auto listShown = statusValue == kChoiceScreen ? controllerBox->getText() + "\n" + rowsShown() : juce::String();
    const DisplayKey key { statusValue, catalogue->getLanguage(), getWidth(), getHeight(), screen.heading + screen.body + screen.single + screen.errorText + listShown,
                           window != nullptr ? window->getName() : juce::String() };

    const auto changed = key != laidOutKey;

    if (changed)
    {
        laidOutKey = key;
        layOutText (screen, languageFont);
        repaint();
    }

    updateControls (statusValue, languageFont);
    updateAccessibility (screen);
    // Before the screen is told: a key pressed the moment it shows goes to its default
    // control, not to a control that is gone (the paint that follows would be too late).
    giveDefaultFocus();

    if (changed && ScreenLog::isEnabled())
        logScreen (statusValue, screen);
}

void MainComponent::updateAccessibility (const Screen& screen)
{
    setTitle (text (TXT_APP_TITLE));
    languageBox->setTitle (text (TXT_LANGUAGE_TITLE).trim());
    controllerBox->setTitle (text (TXT_WHICH_CONTROLLER).trim());
    progressBar->setTitle (formatText (text (TXT_UPDATING), text (TXT_MODEL)).trim());

    for (auto* button : { okButton.get(), cancelButton.get() })
        button->setTitle (button->getButtonText());

    // The layout's blank lines and tab stops mean nothing read aloud.
    auto lines = juce::StringArray::fromLines (screen.heading + "\n" + screen.body + screen.single + screen.errorText);

    for (auto& line : lines)
        line = line.replaceCharacter ('\t', ' ').trim();

    lines.removeEmptyStrings();
    const auto newText = lines.joinIntoString ("\n");

    if (newText == screenText)
        return;

    screenText = newText;
    setDescription (screenText);

    if (screenText.isNotEmpty() && announcer != nullptr)
        announcer (screenText);
}

std::unique_ptr<juce::AccessibilityHandler> MainComponent::createAccessibilityHandler()
{
    // A group: its title is the program's, its description the screen's text, and
    // its children are the screen's controls.
    return std::make_unique<juce::AccessibilityHandler> (*this, juce::AccessibilityRole::group);
}

void MainComponent::logScreen (int32_t statusValue, const Screen& screen)
{
    // Places are in the window's pixels, where a test clicks: on a scaled
    // desktop they grow with the scale while the layout's units stay put.
    // Before the window is on the desktop, the main display's scale stands in.
    const auto* peer = getPeer();
    const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
    const auto scale = peer != nullptr ? peer->getPlatformScaleFactor() * (double) getDesktopScaleFactor()
                                       : (display != nullptr ? display->scale : 1.0);
    const auto pixels = [scale] (int units)
    { return juce::roundToInt (units * scale); };
    const auto place = [&pixels] (juce::Component& c)
    {
        const auto b = c.getBounds();
        return juce::Array<juce::var> { pixels (b.getX()), pixels (b.getY()), pixels (b.getWidth()), pixels (b.getHeight()) };
    };

    auto* controls = new juce::DynamicObject();

    if (controllerBox->isVisible())
    {
        auto* box = new juce::DynamicObject();
        juce::Array<juce::var> rows, serials;

        for (const auto& row : juce::StringArray::fromLines (rowsShown()))
            rows.add (row);

        for (const auto& controller : listed)
            serials.add (controller.identity.serial);

        box->setProperty ("text", controllerBox->getText());
        box->setProperty ("items", controllerBox->getNumItems());
        box->setProperty ("rows", rows);
        box->setProperty ("serials", serials);
        box->setProperty ("bounds", place (*controllerBox));
        controls->setProperty ("controllers", box);
    }

    if (languageBox->isVisible())
    {
        auto* box = new juce::DynamicObject();
        box->setProperty ("text", languageBox->getText());
        box->setProperty ("items", languageBox->getNumItems());
        box->setProperty ("bounds", place (*languageBox));
        controls->setProperty ("language", box);
    }

    if (progressBar->isVisible())
    {
        auto* bar = new juce::DynamicObject();
        bar->setProperty ("bounds", place (*progressBar));
        controls->setProperty ("progress", bar);
    }

    for (auto* button : { okButton.get(), cancelButton.get() })
    {
        if (! button->isVisible())
            continue;

        auto* entry = new juce::DynamicObject();
        entry->setProperty ("caption", button->getButtonText());
        entry->setProperty ("bounds", place (*button));
        controls->setProperty (button == okButton.get() ? "ok" : "cancel", entry);
    }

    auto* entry = new juce::DynamicObject();
    // The screens of no procedure step carry the procedure's status and their name.
    entry->setProperty ("status", statusValue < 0 ? getStatus() : statusValue);
    if (statusValue == kChoiceScreen || statusValue == kEndedScreen)
        entry->setProperty ("screen", statusValue == kChoiceScreen ? "choice" : "ended");
    // The last block written, the controller's word still awaited.
    entry->setProperty ("confirming", isAwaitingConfirmation());
    entry->setProperty ("language", TxtLoader::getInstance()->getLanguage());
    entry->setProperty ("title", getParentComponent() != nullptr ? getParentComponent()->getName() : juce::String());
    entry->setProperty ("width", pixels (getWidth()));
    entry->setProperty ("height", pixels (getHeight()));
    entry->setProperty ("scale", scale);
    entry->setProperty ("heading", screen.heading);
    entry->setProperty ("body", screen.body);
    entry->setProperty ("single", screen.single);
    entry->setProperty ("error", screen.errorText);
    entry->setProperty ("controls", controls);
    ScreenLog::write ("screen", entry);
}

void MainComponent::updateControls (int32_t statusValue, const juce::String& languageFont)
{
    okButton->setFontName (languageFont);
    cancelButton->setFontName (languageFont);

    const auto showOnly = [this] (juce::Component* visible)
    {
        for (auto* c : { (juce::Component*) languageBox.get(), (juce::Component*) controllerBox.get(), (juce::Component*) progressBar.get() })
            c->setVisible (c == visible);
    };

    if (statusValue == kChoiceScreen)
    {
        showOnly (controllerBox.get());
        showButtons (text (TXT_SELECT), text (TXT_CANCEL));
    }
    else if (statusValue == ST_INITIAL)
    {
        languageBox->setSelectedId (TxtLoader::getInstance()->getLanguage() + 1, juce::sendNotificationAsync);
        showOnly (languageBox.get());
        languageBox->resized();
        showButtons (text (TXT_OK), text (TXT_CANCEL));
    }
    else if (statusValue == ST_READY)
    {
        showOnly (nullptr);
        showButtons (text (TXT_START), text (TXT_CLOSE));
    }
    else if ((statusValue >= ST_BLOCK_HEADER && statusValue <= ST_BLOCK_WAIT) || (statusValue == ST_COMPLETE && isAwaitingConfirmation()))
    {
        showOnly (progressBar.get());
        okButton->setVisible (false);
        cancelButton->setVisible (false);

        if (procedure.getCurrentRegion() == REGION_MAIN)
            progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colour (kMainRegionBarColour));
        else if (! procedure.isFullUpdate())
            progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colour (kBarColour));
    }
    else if (statusValue == ST_COMPLETE)
    {
        showOnly (nullptr);
        if (okButton->getButtonText() != text (TXT_OK))
            okButton->setCaption (text (TXT_OK));
        okButton->setVisible (true);
        placeButtons();
    }
    else if (isErrorStatus (statusValue) || statusValue == kEndedScreen)
    {
        showOnly (nullptr);
        okButton->setVisible (false);
        if (cancelButton->getButtonText() != text (TXT_CLOSE))
            cancelButton->setCaption (text (TXT_CLOSE));
        cancelButton->setVisible (true);
        placeButtons();
    }
    else
    {
        showOnly (nullptr);
    }
}

void MainComponent::showButtons (const juce::String& okCaption, const juce::String& cancelCaption)
{
    // Setting a caption again repaints its button: done on every refresh, both
    // buttons would be redrawn each time for an unchanged screen.
    for (auto [button, caption] : { std::pair { okButton.get(), &okCaption }, std::pair { cancelButton.get(), &cancelCaption } })
        if (button->getButtonText() != *caption)
            button->setCaption (*caption);

    okButton->setVisible (true);
    cancelButton->setVisible (true);
    placeButtons();
}

//==============================================================================
void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == cancelButton.get())
    {
        closeApplication();
        return;
    }

    if (button != okButton.get())
        return;

    if (choosing)
    {
        chooseController (controllerBox->getSelectedItemIndex());
        return;
    }

    switch (getStatus())
    {
        case ST_INITIAL:
            goOnFromLanguage();
            return;

        case ST_READY:
            startUpdate();
            return;

        default:
            // Once written, OK ends the run only on the completion screen: never before
            // the controller's word is known.
            if (const auto* outcome = session.getOutcome(); ! procedure.hasWriteStarted() || (outcome != nullptr && Outcomes::isComplete (*outcome)))
                closeApplication();
            return;
    }
}

void MainComponent::comboBoxChanged (juce::ComboBox* box)
{
    // The controller chosen in the list is taken with the main button.
    if (box == controllerBox.get())
    {
        updateDisplay();
        return;
    }

    if (box != languageBox.get())
        return;

    auto* catalogue = TxtLoader::getInstance();
    const auto index = box->getSelectedId() - 1;

    if (index >= 0 && index < kLanguageCount && index != catalogue->getLanguage())
        catalogue->setLanguage (index);

    languageBox->resized();
    updateDisplay();
}
