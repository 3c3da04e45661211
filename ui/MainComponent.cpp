#include "ui/MainComponent.h"

#include "app/ExitStatus.h"

namespace
{
constexpr int kBoldStyle = juce::Font::bold;
} // namespace

MainComponent::MainComponent()
{
    // The log first: it writes each event before the screen shows it.
    procedure->addListener (&supportLog);
    procedure->addListener (this);

    auto* catalogue = TxtLoader::getInstance();

    langLookAndFeel.setDefaultSansSerifTypefaceName (FontResolvingLookAndFeel::kDefaultSansSerifName);
    langLookAndFeel.installAsDefault();

    languageBox = std::make_unique<juce::ComboBox> ("langs");
    addAndMakeVisible (*languageBox);
    languageBox->setLookAndFeel (&langLookAndFeel);
    languageBox->addListener (this);
    languageBox->setWantsKeyboardFocus (false);

    for (int index = 0; index < kLanguageCount; ++index)
        if (catalogue->isLanguageAvailable (index))
            languageBox->addItem (catalogue->getLanguageName (index), index + 1);

    languageBox->setSelectedId (catalogue->getLanguage() + 1, juce::sendNotificationAsync);

    progressLookAndFeel = std::make_unique<ProgressLookAndFeel>();
    progressBar = std::make_unique<juce::ProgressBar> (progress);
    addAndMakeVisible (*progressBar);
    progressBar->setLookAndFeel (progressLookAndFeel.get());
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colour (kBarColour));

    okButton = std::make_unique<AlineButton> ("OK");
    cancelButton = std::make_unique<AlineButton> ("Cancel");

    for (auto* button : { okButton.get(), cancelButton.get() })
    {
        addAndMakeVisible (*button);
        button->addListener (this);
        button->setFontStyle (kBoldStyle);
        button->setColour (juce::TextButton::buttonColourId, juce::Colour (kBackgroundColour));
        button->setColour (juce::TextButton::buttonOnColourId, juce::Colour (kBackgroundColour));
    }

    ctrl->connectionObserver = [this] (bool arrived)
    {
        if (arrived)
            supportLog.controllerArrived (ctrl->deviceNumber());
        else
            supportLog.controllerRemoved();
    };
    ctrl->open (procedure.get());
    supportLog.deviceLinkOpened (ctrl->connected.load() != 0 ? ctrl->deviceNumber() : -1);

    focusFollower.onFocusChange = [this]
    { giveDefaultFocus(); };
    juce::Desktop::getInstance().addFocusChangeListener (&focusFollower);
}

MainComponent::~MainComponent()
{
    juce::Desktop::getInstance().removeFocusChangeListener (&focusFollower);

    // The worker uses the device link: it must have stopped before the link is
    // closed, also when the program is told to quit mid-update; the link forgets the
    // procedure as its listener before the procedure goes.
    procedure->stop();
    procedure->removeListener (this);
    procedure->removeListener (&supportLog);

    languageBox.reset();
    progressBar.reset();
    okButton.reset();
    cancelButton.reset();
    progressLookAndFeel.reset();

    ctrl->close();
    procedure.reset();
    ctrl.reset();

    if (&juce::LookAndFeel::getDefaultLookAndFeel() == &langLookAndFeel)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);

    TxtLoader::deleteInstance();
}

//==============================================================================
void MainComponent::closeApplication()
{
    procedure->stop();

    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void MainComponent::refreshDisplay()
{
    progress = procedure->getProgress();
    updateDisplay();
}

void MainComponent::statusChanged (int32_t)
{
    refreshDisplay();
}

void MainComponent::progressChanged (double newProgress)
{
    // The bar repaints itself from the value; the texts do not follow the progress.
    progress = newProgress;
}

int MainComponent::getExitStatus() const noexcept
{
    return writeNotTaken.load() ? EXIT_NOT_TAKEN : exitStatusFor (procedure->getStatus());
}

void MainComponent::writeConfirmed (const WriteConfirmation& confirmation)
{
    writeNotTaken = confirmation.outcome == WriteConfirmation::Outcome::mismatch;
}

void MainComponent::regionWritten (int, const UpdateRegion&)
{
    // The bar's colour follows the region being written.
    refreshDisplay();
}
