#include "app/Application.h"

#include "app/CommandLine.h"
#include "app/DesktopScale.h"
#include "app/ExitStatus.h"
#include "app/ProgramIdentity.h"
#include "text/ExternalText.h"
#include "ui/MainComponent.h"
#include "ui/PlatformAdvice.h"
#include "ui/StandardErrorWriter.h"

#include <atomic>
#include <cstdlib>

namespace
{
const juce::String kApplicationName { kProgramName };
const juce::String kApplicationVersion { kProgramVersion };

// How long a later launch waits for the running instance to answer: to write its
// hand-over name and start listening, in case that one is itself still starting.
constexpr int kHandoverWaitMs = 3000;

// What the program ends with, for the handlers that end it at once (a second
// quit signal, a lost display): read from the update's status while the main
// component exists, fixed once shutdown() has settled it. Lock-free atomics, as
// a signal handler reads them.
std::atomic<const MainComponent*> liveComponent { nullptr };
std::atomic<int> settledExitStatus { -1 };
// Set when the support log's ending line has been (or is being) written.
std::atomic<bool> endingTold { false };
static_assert (std::atomic<const MainComponent*>::is_always_lock_free && std::atomic<int>::is_always_lock_free
               && std::atomic<bool>::is_always_lock_free);

int currentExitStatus() noexcept
{
    if (const auto settled = settledExitStatus.load(); settled >= 0)
        return settled;

    if (const auto* component = liveComponent.load())
        return component->getExitStatus();

    // Starting up, or a launch that hands over to the running instance: no
    // window, nothing written.
    return EXIT_LEFT_BEFORE_WRITE;
}

// A quit signal while an earlier one is still being handled. Signal handler.
int endAtASecondSignal() noexcept
{
    const auto exitStatus = currentExitStatus();

    if (! endingTold.exchange (true))
        SupportLog::endingAtOnce (exitStatus);

    return exitStatus;
}

// The X server's connection broke: nothing more can be shown, and an update
// under way is interrupted. The thread that found the connection broken.
[[noreturn]] void endAfterLosingTheDisplay()
{
    const auto exitStatus = currentExitStatus();
    SupportLog log;
    log.displayLost();

    if (! endingTold.exchange (true))
        log.ending (exitStatus);

    StandardErrorWriter::flush (SupportLog::kLastLinesWaitMs);
    // Without the exit handlers and static destructors: they would talk to the
    // display that is gone, and nothing of theirs is needed now that the log is out.
    std::_Exit (exitStatus);
}
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
                                                       { systemRequestedQuit(); },
                                                       endAtASecondSignal);

    if (! becomeTheInstance())
    {
        quit();
        return;
    }

    // Before the window exists, so that it is created at the desktop's scale.
    DesktopScale::applyToDesktop (MainWindow::getOuterWidth(), MainWindow::getOuterHeight());
    mainWindow = std::make_unique<MainWindow>();
    liveComponent = &mainWindow->getMainComponent();
    // The framework has opened the display now, and with it installed its own
    // handler, which this one replaces.
    displayLoss = std::make_unique<DisplayLossHandler> (endAfterLosingTheDisplay);
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
        // A lock file's path comes from the environment: no control sequence reaches the terminal.
        StandardErrorWriter::write (getApplicationName() + ": " + ExternalText::withControlsEscaped (why));
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
            // ends. One that does not answer (stopped, hung, or kept busy) may still be
            // writing the controller, so this launch never starts beside it.
            const auto name = instanceLock->readHandoverName (kHandoverWaitMs);

            if (name.isNotEmpty()
                && InstanceHandover::sendToRunningInstance (name, getCommandLineParameters(), kHandoverWaitMs))
                return false;

            juce::String who, problem = "does not answer", remedy = "close that updater";

            if (const auto holder = instanceLock->findHolder())
            {
                const juce::String pid (holder->processId);
                who = " (process " + pid + (holder->name.isNotEmpty() ? ", " + holder->name : juce::String()) + ")";

                if (holder->stopped)
                {
                    problem = "is stopped";
                    remedy = PlatformAdvice::resumeStopped (pid);
                }
                else if (name.isEmpty())
                {
                    // A run in a terminal takes no launches: it is busy, not hung, so
                    // ending it would only interrupt its write.
                    problem = "takes no launches (it runs in a terminal, or could not listen)";
                    remedy = "let it finish or close it";
                }
                else
                {
                    remedy << PlatformAdvice::endHung (pid);
                }
            }

            say ("another updater" + who + " holds " + instanceLock->getLockName() + " but "
                 + problem + "; " + remedy + ", then start this one again");
            setApplicationReturnValue (EXIT_ANOTHER_UPDATER);
            return false;
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
        const auto exitStatus = component.getExitStatus();
        setApplicationReturnValue (exitStatus);
        // Before the component goes: a handler that ends the program at once
        // from here on ends it with this status.
        settledExitStatus = exitStatus;
        liveComponent = nullptr;

        if (! endingTold.exchange (true))
            component.getSupportLog().ending (exitStatus);
    }
    else
    {
        // A launch that handed over (status 0), or that found the lock held by an
        // updater that did not answer (its status is set), has no ending line of
        // its own; what it said must still reach stderr before the process ends.
        settledExitStatus = getApplicationReturnValue();
        endingTold = true;
        StandardErrorWriter::flush (SupportLog::kLastLinesWaitMs);
    }

    mainWindow = nullptr;
    instanceLock = nullptr;
    // The quit signals stay watched until the application object goes: a
    // second one while the window closes ends the program at once, with the
    // status settled above.
}

void Application::anotherInstanceStarted (const juce::String&)
{
    if (mainWindow != nullptr && mainWindow->isVisible())
        mainWindow->toFront (true);
}
