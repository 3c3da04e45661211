#include "app/Application.h"

#include <cstdio>

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

    mainWindow = std::make_unique<MainWindow>();
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
