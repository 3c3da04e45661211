#include "ui/MainComponent.h"

namespace
{
constexpr int kBoldStyle = juce::Font::bold;
} // namespace

MainComponent::MainComponent()
    : juce::Thread ("UpdatingThread")
{
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

    ctrl = std::make_unique<HidCtrl>();
    ctrl->connectionObserver = [this] (bool arrived)
    {
        if (arrived)
            supportLog.controllerArrived (ctrl->deviceNumber());
        else
            supportLog.controllerRemoved();
    };
    ctrl->open (this);
    supportLog.deviceLinkOpened (ctrl->connected.load() != 0 ? ctrl->deviceNumber() : -1);

    focusFollower.onFocusChange = [this]
    { giveDefaultFocus(); };
    juce::Desktop::getInstance().addFocusChangeListener (&focusFollower);
}

MainComponent::~MainComponent()
{
    juce::Desktop::getInstance().removeFocusChangeListener (&focusFollower);

    // The worker uses the device link and the regions: it must have stopped
    // before any of them goes, also when the program is told to quit mid-update.
    stopWorker();
    cancelPendingUpdate();

    languageBox.reset();
    progressBar.reset();
    okButton.reset();
    cancelButton.reset();
    progressLookAndFeel.reset();

    ctrl->close();
    ctrl.reset();

    if (&juce::LookAndFeel::getDefaultLookAndFeel() == &langLookAndFeel)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);

    TxtLoader::deleteInstance();
}

//==============================================================================
void MainComponent::startCheck()
{
    startCheck (updateFilePlaces);
}

void MainComponent::startCheck (const juce::File& folder)
{
    startCheck (std::vector<UpdateFilePlace> { { folder, false } });
}

void MainComponent::startCheck (const std::vector<UpdateFilePlace>& places)
{
    // While the worker checks the controller the status is still ST_INITIAL; a
    // further press must not touch what the worker uses.
    if (isThreadRunning() || status.get() != ST_INITIAL)
        return;

    findUpdateFile (places);

    if (isFileErrorStatus (status.get()))
        return;

    if (ctrl->connected == 0)
    {
        setStatus (ERR_NOT_CONNECTED);
        return;
    }

    replyEvent.reset();
    startThread();
}

void MainComponent::startUpdate()
{
    if (status.setIf (ST_READY, ST_PREPARE))
    {
        updateStarted = true;
        supportLog.writeStarted();
        notify(); // the worker sleeps on the ready screen until told
    }
}

void MainComponent::closeApplication()
{
    // The exit flag before the reply is cleared: a worker that has just been woken
    // by a real reply and then takes the cleared one sees the flag and leaves it
    // unjudged, instead of reading the zeros as a wrong reply.
    signalThreadShouldExit();

    {
        const juce::ScopedLock sl (replyLock);
        inReport.fill (0);
    }

    stopWorker();

    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void MainComponent::findUpdateFile()
{
    findUpdateFile (updateFilePlaces);
}

void MainComponent::findUpdateFile (const juce::File& folder)
{
    findUpdateFile (std::vector<UpdateFilePlace> { { folder, false } });
}

void MainComponent::findUpdateFile (const std::vector<UpdateFilePlace>& places)
{
    // Only an image that this search checked may be written.
    file.checkedImage = nullptr;

    UpdateFileSearchReport report;
    const auto error = ::findUpdateFile (places, file, &report);
    supportLog.fileSearched (report, file);

    if (error.has_value())
        setStatus (*error);
}

//==============================================================================
void MainComponent::handleAsyncUpdate()
{
    const juce::ScopedLock sl (displayLock);
    progress = workerProgress.load();
    updateDisplay();
}
