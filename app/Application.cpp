#include "app/Application.h"

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/ProgramIdentity.h"
#include "ui/MainComponent.h"

namespace
{
const juce::String kApplicationName { kProgramName };
const juce::String kApplicationVersion { kProgramVersion };

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
    // main() has already turned away a command line it does not understand.
    const auto parsed = CommandLine::parse (getCommandLineParameterArray());

    // First, so that a quit signal during start-up already ends the program
    // through shutdown().
    quitSignals = std::make_unique<QuitSignalWatcher> ([this]
                                                       { systemRequestedQuit(); });
    mainWindow = std::make_unique<MainWindow>();
    mainWindow->getMainComponent().setUpdateFilePlaces (updateFilePlacesForThisProcess (parsed.updateFilePath));
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

    // Read before the window goes: closing it stops a worker that may still run.
    auto& component = mainWindow->getMainComponent();
    const auto exitStatus = exitStatusFor (component.getStatus());
    setApplicationReturnValue (exitStatus);
    component.getSupportLog().ending (exitStatus);

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
