#include "app/TerminalApplication.h"

#include "app/ExitStatus.h"
#include "app/InstanceLock.h"
#include "app/ProgramIdentity.h"
#include "app/QuitSignalWatcher.h"
#include "text/ExternalText.h"
#include "text/LanguageDetection.h"
#include "text/SystemLocale.h"
#include "text/TxtLoader.h"
#include "ui/PlatformAdvice.h"
#include "ui/StandardErrorWriter.h"
#include "ui/SupportLog.h"
#include "ui/TerminalFrontEnd.h"

#include <atomic>

namespace
{
// What a second quit signal ends the program with: read from the live front-end,
// from a signal handler, so lock-free atomics only.
std::atomic<const TerminalFrontEnd*> liveFrontEnd { nullptr };
std::atomic<int> settledExitStatus { -1 };
static_assert (std::atomic<const TerminalFrontEnd*>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

int endAtASecondSignal() noexcept
{
    auto exitStatus = settledExitStatus.load();

    if (exitStatus < 0)
    {
        const auto* frontEnd = liveFrontEnd.load();
        exitStatus = frontEnd != nullptr ? frontEnd->exitStatusNow() : EXIT_LEFT_BEFORE_WRITE;
    }

    SupportLog::endingAtOnce (exitStatus);
    return exitStatus;
}

void say (const juce::String& line)
{
    // A lock file's path and a process's name come from outside.
    StandardErrorWriter::write (juce::String (kProgramName) + ": " + ExternalText::withControlsEscaped (line));
}

// The language of the lines: the one asked for, else the user's (LC_ALL, LC_MESSAGES,
// LANG). A terminal shows every language, whatever fonts are installed.
void chooseLanguage (int asked)
{
    LanguageFlags every {};
    every.fill (true);
    const auto language = asked >= 0 ? asked : chooseStartingLanguage (every, SystemLocale::getUserLanguageId());
    TxtLoader::getInstance()->setLanguage (language);
}

// Whether this run may write: false (with its line said) when another updater of this
// user holds the lock.
bool takeTheLock (std::unique_ptr<InstanceLock>& lock)
{
    lock = std::make_unique<InstanceLock> (kProgramName, juce::Array<juce::File>(), InstanceLock::Launches::refused);

    switch (lock->getState())
    {
        case InstanceLock::State::held:
            return true;

        case InstanceLock::State::unavailable:
            say (lock->getProblem() + "; starting without checking for another instance");
            lock = nullptr;
            return true;

        case InstanceLock::State::heldElsewhere:
            break;
    }

    juce::String who, remedy = "let it finish or close it";

    if (const auto holder = lock->findHolder())
    {
        const juce::String pid (holder->processId);
        who = " (process " + pid + (holder->name.isNotEmpty() ? ", " + holder->name : juce::String()) + ")";

        if (holder->stopped)
            remedy = "it is stopped: " + PlatformAdvice::resumeStopped (pid);
    }

    say ("another updater" + who + " is running and holds " + lock->getFile().getFullPathName() + "; " + remedy
         + ", then start this one again. Nothing was written.");
    return false;
}
} // namespace

int TerminalApplication::run (const CommandLine& commandLine)
{
    // This thread is the message thread from here on; the window system is never started.
    juce::MessageManager::getInstance();
    int exitStatus = EXIT_LEFT_BEFORE_WRITE;

    {
        std::unique_ptr<TerminalFrontEnd> frontEnd;
        // First, so that a quit signal from here on takes the orderly path.
        QuitSignalWatcher quitSignals ([&frontEnd]
                                       {
                                           if (frontEnd != nullptr)
                                               frontEnd->quitRequested(); },
                                       endAtASecondSignal);
        std::unique_ptr<InstanceLock> lock;

        if (! takeTheLock (lock))
        {
            exitStatus = EXIT_ANOTHER_UPDATER;
            settledExitStatus = exitStatus;
            SupportLog().ending (exitStatus);
        }
        else
        {
            runFrontEnd (commandLine, frontEnd, exitStatus);
        }
    }

    TxtLoader::deleteInstance();
    juce::DeletedAtShutdown::deleteAll();
    juce::MessageManager::deleteInstance();
    return exitStatus;
}

void TerminalApplication::runFrontEnd (const CommandLine& commandLine, std::unique_ptr<TerminalFrontEnd>& frontEnd, int& exitStatus)
{
    {
        chooseLanguage (commandLine.language);

        TerminalOptions options;
        options.yes = commandLine.yes;
        options.json = commandLine.json;
        options.places = updateFilePlacesForThisProcess (commandLine.updateFileBytes, &options.placeProblems);

        frontEnd = std::make_unique<TerminalFrontEnd> (std::move (options), [&exitStatus] (int status)
                                                       {
                                                           exitStatus = status;
                                                           juce::MessageManager::getInstance()->stopDispatchLoop(); });
        liveFrontEnd = frontEnd.get();
        juce::MessageManager::callAsync ([&frontEnd]
                                         { frontEnd->start(); });
        juce::MessageManager::getInstance()->runDispatchLoop();

        // Before the front-end goes: a second signal from here on ends with this status.
        settledExitStatus = exitStatus;
        liveFrontEnd = nullptr;
        frontEnd = nullptr;
        StandardErrorWriter::flush (SupportLog::kLastLinesWaitMs);
    }
}
