#include "app/Application.h"
#include "app/DesktopScale.h"

namespace
{
const juce::String kApplicationName { "TRBKelo7UpdateProgram" };
const juce::String kApplicationVersion { "1.0.0" };

// How long a later launch waits for the running instance to start listening,
// in case that one is itself still starting.
constexpr int kHandoverWaitMs = 1000;
} // namespace

const juce::String Application::getApplicationName()
{
    return kApplicationName;
}

const juce::String Application::getApplicationVersion()
{
    return kApplicationVersion;
}

bool Application::moreThanOneInstanceAllowed()
{
    // Letting any process bring a window to the foreground is a Windows
    // permission (AllowSetForegroundWindow); Linux has no such thing.
    return false;
}

void Application::initialise (const juce::String&)
{
    initialised = true;

    // First, so that a quit signal during start-up already ends the program
    // through shutdown().
    quitSignals = std::make_unique<QuitSignalWatcher> ([this]
                                                       { systemRequestedQuit(); });
    // Before the window exists, so that it is created at the desktop's scale.
    DesktopScale::applyToDesktop();
    mainWindow = std::make_unique<MainWindow>();
    instanceHandover = std::make_unique<InstanceHandover> (getApplicationName(),
                                                           [this] (const juce::String& commandLine)
                                                           { anotherInstanceStarted (commandLine); });
}

void Application::shutdown()
{
    if (! initialised)
    {
        // The framework calls shutdown() without initialise() when its
        // instance lock belongs to a running instance. Tell that one, whose
        // window then comes to the front; whether it listened changes nothing
        // for this launch, which ends here either way.
        InstanceHandover::sendToRunningInstance (getApplicationName(), getCommandLineParameters(), kHandoverWaitMs);
        return;
    }

    instanceHandover = nullptr;
    mainWindow = nullptr;
    // Last: a second quit signal while the window closes is absorbed here
    // instead of ending the process halfway through its shutdown.
    quitSignals = nullptr;
}

void Application::anotherInstanceStarted (const juce::String&)
{
    if (mainWindow != nullptr && mainWindow->isVisible())
        mainWindow->toFront (true);
}
