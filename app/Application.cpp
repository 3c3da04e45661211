#include "app/Application.h"

#include "app/CommandLine.h"
#include "app/DesktopScale.h"
#include "app/ExitStatus.h"
#include "app/ProgramIdentity.h"
#include "ui/MainComponent.h"

#include <cstdio>

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
    // The framework's own lock is one file for the whole machine, which other
    // users can take or spoil; initialise() decides per user instead.
    return true;
}

void Application::initialise (const juce::String&)
{
    // First, so that a quit signal during start-up already ends the program
    // through shutdown().
    quitSignals = std::make_unique<QuitSignalWatcher> ([this]
                                                       { systemRequestedQuit(); });

    if (! becomeTheInstance())
    {
        quit();
        return;
    }

    // Before the window exists, so that it is created at the desktop's scale.
    DesktopScale::applyToDesktop();
    mainWindow = std::make_unique<MainWindow>();
    // main() has already turned away a command line it does not understand. The
    // path is taken by its bytes, as main() got them.
    const auto parsed = CommandLine::parseBytes (CommandLine::processArguments());
    juce::StringArray problems;
    auto places = updateFilePlacesForThisProcess (parsed.updateFileBytes, &problems);

    for (const auto& problem : problems)
        mainWindow->getMainComponent().getSupportLog().note (problem);

    mainWindow->getMainComponent().setUpdateFilePlaces (std::move (places));
}

bool Application::becomeTheInstance()
{
    const auto say = [this] (const juce::String& why)
    {
        std::fprintf (stderr, "%s: %s\n", getApplicationName().toRawUTF8(), why.toRawUTF8());
    };

    instanceLock = std::make_unique<InstanceLock> (getApplicationName());

    switch (instanceLock->getState())
    {
        case InstanceLock::State::held:
            if (instanceLock->getHandoverName().isNotEmpty())
                instanceHandover = std::make_unique<InstanceHandover> (instanceLock->getHandoverName(),
                                                                       [this] (const juce::String& commandLine)
                                                                       { anotherInstanceStarted (commandLine); });

            if (instanceHandover == nullptr || ! instanceHandover->isListening())
                say ("later launches cannot reach this one; each of them will start on its own");

            return true;

        case InstanceLock::State::heldElsewhere:
        {
            // The running instance brings its window to the front and this launch
            // ends; one that does not answer (stopped, hung) does not keep the user out.
            const auto name = instanceLock->readHandoverName (kHandoverWaitMs);

            if (name.isNotEmpty()
                && InstanceHandover::sendToRunningInstance (name, getCommandLineParameters(), kHandoverWaitMs))
                return false;

            say ("another instance holds " + instanceLock->getFile().getFullPathName()
                 + " but does not answer; starting anyway");
            instanceLock = nullptr;
            return true;
        }

        case InstanceLock::State::unavailable:
            say (instanceLock->getProblem() + "; starting without checking for another instance");
            instanceLock = nullptr;
            return true;
    }

    return true;
}

void Application::shutdown()
{
    instanceHandover = nullptr;

    // A launch that handed its command line to the running instance has no
    // window and ends with success: the running one carries on.
    if (mainWindow != nullptr)
    {
        // Read before the window goes: closing it stops a worker that may still run.
        auto& component = mainWindow->getMainComponent();
        const auto exitStatus = exitStatusFor (component.getStatus());
        setApplicationReturnValue (exitStatus);
        component.getSupportLog().ending (exitStatus);
    }

    mainWindow = nullptr;
    instanceLock = nullptr;
    // Last: a second quit signal while the window closes is absorbed here
    // instead of ending the process halfway through its shutdown.
    quitSignals = nullptr;
}

void Application::anotherInstanceStarted (const juce::String&)
{
    if (mainWindow != nullptr && mainWindow->isVisible())
        mainWindow->toFront (true);
}
