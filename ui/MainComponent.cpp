#include "ui/MainComponent.h"

MainComponent::MainComponent()
    : juce::Thread ("UpdatingThread")
{
    ctrl = std::make_unique<HidCtrl>();
    ctrl->open (this);
}

MainComponent::~MainComponent()
{
    // The worker uses the device link and the regions: it must have stopped
    // before any of them goes, also when the program is told to quit mid-update.
    stopWorker();
    cancelPendingUpdate();

    ctrl->close();
    ctrl.reset();
}

//==============================================================================
void MainComponent::startCheck()
{
    startCheck (juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory());
}

void MainComponent::startCheck (const juce::File& folder)
{
    // While the worker checks the controller the status is still ST_INITIAL; a
    // further press must not touch what the worker uses.
    if (isThreadRunning() || status.get() != ST_INITIAL)
        return;

    findUpdateFile (folder);

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
        updateStarted = true;
}

void MainComponent::closeApplication()
{
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
    findUpdateFile (juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory());
}

void MainComponent::findUpdateFile (const juce::File& folder)
{
    UpdateFileState found;
    found.fileState = fileState;
    found.fileStamp = fileStamp;
    found.fileVersion = fileVersion;
    found.regions = regions;

    const auto error = ::findUpdateFile (folder, found);

    fileState = found.fileState;
    fileStamp = found.fileStamp;
    fileVersion = found.fileVersion;
    regions = found.regions;
    fileDigests = found.fileDigests;

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

void MainComponent::updateDisplay()
{
    repaint();
}
