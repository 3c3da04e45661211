#include "ui/MainComponent.h"

namespace
{
constexpr int kBoldStyle = juce::Font::bold;
} // namespace

MainComponent::MainComponent (UpdateSession& sessionToShow)
    : session (sessionToShow)
{
    // After the session's log: it writes each event before the screen shows it.
    session.addListener (this);
    session.setOnSettled ([this] (const Outcome&)
                          { refreshDisplay(); });
    // The choice screen lists what is connected now.
    session.setOnControllersChanged ([this]
                                     {
                                         if (choosing && listControllers())
                                             updateDisplay(); });

    auto* catalogue = TxtLoader::getInstance();

    langLookAndFeel.setDefaultSansSerifTypefaceName (FontResolvingLookAndFeel::kDefaultSansSerifName);
    langLookAndFeel.installAsDefault();

    languageBox = std::make_unique<LanguageList> ("langs");
    addAndMakeVisible (*languageBox);
    languageBox->setLookAndFeel (&langLookAndFeel);
    languageBox->addListener (this);
    languageBox->setWantsKeyboardFocus (false);

    for (int index = 0; index < kLanguageCount; ++index)
        if (catalogue->isLanguageAvailable (index))
            languageBox->addItem (catalogue->getLanguageName (index), index + 1);

    languageBox->setSelectedId (catalogue->getLanguage() + 1, juce::sendNotificationAsync);

    // The controllers' list is the language list's twin; its rows are made when the
    // choice screen shows.
    controllerBox = std::make_unique<LanguageList> ("controllers");
    addChildComponent (*controllerBox);
    controllerBox->setLookAndFeel (&langLookAndFeel);
    controllerBox->addListener (this);
    controllerBox->setWantsKeyboardFocus (false);

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

    focusFollower.onFocusChange = [this]
    { giveDefaultFocus(); };
    juce::Desktop::getInstance().addFocusChangeListener (&focusFollower);
}

MainComponent::~MainComponent()
{
    juce::Desktop::getInstance().removeFocusChangeListener (&focusFollower);

    // The session outlives the window; it stops the worker before its link closes.
    session.setOnSettled (nullptr);
    session.setOnControllersChanged (nullptr);
    session.removeListener (this);

    languageBox.reset();
    controllerBox.reset();
    progressBar.reset();
    okButton.reset();
    cancelButton.reset();
    progressLookAndFeel.reset();

    if (&juce::LookAndFeel::getDefaultLookAndFeel() == &langLookAndFeel)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);

    TxtLoader::deleteInstance();
}

//==============================================================================
void MainComponent::closeApplication()
{
    procedure.stop();

    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void MainComponent::refreshDisplay()
{
    progress = procedure.getProgress();
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

void MainComponent::regionWritten (int, const UpdateRegion&)
{
    // The bar's colour follows the region being written.
    refreshDisplay();
}
