#include "app/Application.h"

#include "app/AnotherUpdater.h"
#include "app/CommandLine.h"
#include "app/DesktopScale.h"
#include "app/ProgramIdentity.h"
#include "platform/StandardErrorWriter.h"
#include "session/ExitStatus.h"
#include "text/ExternalText.h"
#include "ui/MainComponent.h"

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
// quit signal, a lost display): the live session's, fixed once shutdown() has
// settled it. Lock-free atomics, as a signal handler reads them.
std::atomic<UpdateSession*> liveSession { nullptr };
std::atomic<int> settledExitStatus { -1 };
// Set when the support log's ending line has been (or is being) written by a run
// without a session.
std::atomic<bool> endingTold { false };
static_assert (std::atomic<UpdateSession*>::is_always_lock_free && std::atomic<int>::is_always_lock_free
               && std::atomic<bool>::is_always_lock_free);

// Ends at once: the session's last words for the run as it stands (its result line
// unless told, its ending line), or, without one (starting up, a launch that hands
// over), the ending line alone. Async-signal-safe.
int endAtOnce() noexcept
{
    if (auto* session = liveSession.load())
        return session->endAtOnce();

    const auto settled = settledExitStatus.load();
    const auto exitStatus = settled >= 0 ? settled : EXIT_LEFT_BEFORE_WRITE;

    if (! endingTold.exchange (true))
        SupportLog::endingAtOnce (exitStatus, exitStatusMeaning (exitStatus));

    return exitStatus;
}

// The X server's connection broke: nothing more can be shown, and an update
// under way is interrupted. The thread that found the connection broken.
[[noreturn]] void endAfterLosingTheDisplay()
{
    SupportLog log;
    log.displayLost();
    StandardErrorWriter::flush (SupportLog::kLastLinesWaitMs);
    const auto exitStatus = endAtOnce();
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
                                                       endAtOnce);

    if (! becomeTheInstance())
    {
        quit();
        return;
    }

    // Before the window exists, so that it is created at the desktop's scale.
    DesktopScale::applyToDesktop (MainWindow::getOuterWidth(), MainWindow::getOuterHeight());
    // main() has already turned away a command line it does not understand. The
    // path is taken by its bytes, as main() got them.
    const auto parsed = CommandLine::parseBytes (CommandLine::processArguments());
    session = std::make_unique<UpdateSession> (parsed.serial);
    liveSession = session.get();
    mainWindow = std::make_unique<MainWindow> (*session);
    // The framework has opened the display now, and with it installed its own
    // handler, which this one replaces.
    displayLoss = std::make_unique<DisplayLossHandler> (endAfterLosingTheDisplay);
    juce::StringArray problems;
    auto places = updateFilePlacesForThisProcess (parsed.updateFileBytes, &problems);

    for (const auto& problem : problems)
        session->getSupportLog().note (problem);

    session->getProcedure().setUpdateFilePlaces (std::move (places));
    session->getProcedure().setExpectedSha256 (parsed.sha256);
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

            // A run in a terminal takes no launches: it names no endpoint.
            say (anotherUpdaterMessage (*instanceLock, name.isEmpty() ? OtherUpdater::takesNoLaunches : OtherUpdater::doesNotAnswer));
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
    // session and ends with success: the running one carries on.
    if (session != nullptr)
    {
        // The run ends now, however it stands (told to quit while the controller's
        // word is awaited: written, not confirmed); then a handler that ends the
        // program at once from here on ends it with this status.
        session->endNow();
        const auto exitStatus = session->getExitStatus();
        setApplicationReturnValue (exitStatus);
        settledExitStatus = exitStatus;
        session->writeEnding();
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

    // The window first: it shows the session. The session's worker stops before its
    // link closes.
    mainWindow = nullptr;
    liveSession = nullptr;
    session = nullptr;
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
