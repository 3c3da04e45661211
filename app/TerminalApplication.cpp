#include "app/TerminalApplication.h"

#include "app/AnotherUpdater.h"
#include "app/InstanceLock.h"
#include "app/ProgramIdentity.h"
#include "app/QuitSignalWatcher.h"
#include "log/SupportLog.h"
#include "platform/StandardErrorWriter.h"
#include "session/ExitStatus.h"
#include "terminal/JsonEventWriter.h"
#include "terminal/TerminalControllerList.h"
#include "terminal/TerminalFrontEnd.h"
#include "text/ExternalText.h"
#include "text/LanguageDetection.h"
#include "text/SystemLocale.h"
#include "text/TxtLoader.h"

#include <iostream>

#include <atomic>

namespace
{
// What a second quit signal ends the program with: the live session's last words,
// from a signal handler, so lock-free atomics only.
std::atomic<UpdateSession*> liveSession { nullptr };
std::atomic<int> settledExitStatus { -1 };
static_assert (std::atomic<UpdateSession*>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

int endAtASecondSignal() noexcept
{
    if (auto* session = liveSession.load())
        return session->endAtOnce();

    const auto settled = settledExitStatus.load();
    const auto exitStatus = settled >= 0 ? settled : EXIT_LEFT_BEFORE_WRITE;
    SupportLog::endingAtOnce (exitStatus, exitStatusMeaning (exitStatus));
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
bool takeTheLock (std::unique_ptr<InstanceLock>& lock, bool json)
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

    // The result of this run, in plain words on stderr and, asked for, as JSON on stdout.
    const auto line = anotherUpdaterMessage (*lock, OtherUpdater::notAsked);
    say (line);

    if (json)
        JsonEventWriter ([] (const juce::String& event)
                         { std::cout << event << std::endl; })
            .result (Outcomes::forEnd (RunEnd::anotherUpdater).resultName, ST_INITIAL, EXIT_ANOTHER_UPDATER,
                     ExternalText::withControlsEscaped (line));

    return false;
}
} // namespace

int TerminalApplication::run (const CommandLine& commandLine)
{
    // This thread is the message thread from here on; the window system is never started.
    juce::MessageManager::getInstance();
    int exitStatus = EXIT_LEFT_BEFORE_WRITE;

    if (commandLine.list)
    {
        exitStatus = runList (commandLine);
    }
    else
    {
        std::unique_ptr<TerminalFrontEnd> frontEnd;
        // First, so that a quit signal from here on takes the orderly path.
        QuitSignalWatcher quitSignals ([&frontEnd]
                                       {
                                           if (frontEnd != nullptr)
                                               frontEnd->quitRequested(); },
                                       endAtASecondSignal);
        std::unique_ptr<InstanceLock> lock;

        // --check writes nothing and asks the controller only under its claim, which keeps
        // it away from a controller another updater speaks to: it runs beside any updater.
        if (! commandLine.check && ! takeTheLock (lock, commandLine.json))
        {
            exitStatus = EXIT_ANOTHER_UPDATER;
            settledExitStatus = exitStatus;
            SupportLog().ending (exitStatus, exitStatusMeaning (exitStatus));
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

int TerminalApplication::runList (const CommandLine& commandLine)
{
    chooseLanguage (commandLine.language);
    int exitStatus = EXIT_LEFT_BEFORE_WRITE;
    std::unique_ptr<TerminalControllerList> listing;
    // It writes nothing and asks each controller only under its claim: no per-user lock.
    QuitSignalWatcher quitSignals ([&listing]
                                   {
                                       if (listing != nullptr)
                                           listing->quitRequested(); });

    listing = std::make_unique<TerminalControllerList> (commandLine.json, [&exitStatus] (int status)
                                                        {
                                                            exitStatus = status;
                                                            juce::MessageManager::getInstance()->stopDispatchLoop(); });
    juce::MessageManager::callAsync ([&listing]
                                     { listing->start(); });
    juce::MessageManager::getInstance()->runDispatchLoop();
    listing = nullptr;

    // Status 0 here is a listing, not a written update.
    if (TerminalFrontEnd::logsToStandardError())
        SupportLog().ending (exitStatus, exitStatus == EXIT_UPDATED ? Outcomes::forEnd (RunEnd::listed).whatHappened : exitStatusMeaning (exitStatus));

    StandardErrorWriter::flush (SupportLog::kLastLinesWaitMs);
    return exitStatus;
}

void TerminalApplication::runFrontEnd (const CommandLine& commandLine, std::unique_ptr<TerminalFrontEnd>& frontEnd, int& exitStatus)
{
    chooseLanguage (commandLine.language);

    TerminalOptions options;
    options.yes = commandLine.yes;
    options.json = commandLine.json;
    options.places = updateFilePlacesForThisProcess (commandLine.updateFileBytes, &options.placeProblems);
    options.expectedSha256 = commandLine.sha256;
    options.serial = commandLine.serial;
    options.check = commandLine.check;

    // On a terminal the support log's lines would interleave with the plain ones.
    const auto logToStandardError = TerminalFrontEnd::logsToStandardError();
    UpdateSession session (logToStandardError ? SupportLog::Sink (SupportLog::writeToStandardError)
                                              : SupportLog::Sink ([] (const juce::String&) {}),
                           logToStandardError,
                           commandLine.serial);

    frontEnd = std::make_unique<TerminalFrontEnd> (session, std::move (options), [&exitStatus] (int status)
                                                   {
                                                       exitStatus = status;
                                                       juce::MessageManager::getInstance()->stopDispatchLoop(); });
    liveSession = &session;
    juce::MessageManager::callAsync ([&frontEnd]
                                     { frontEnd->start(); });
    juce::MessageManager::getInstance()->runDispatchLoop();

    // Before the session goes: a second signal from here on ends with this status.
    exitStatus = session.getExitStatus();
    settledExitStatus = exitStatus;
    liveSession = nullptr;
    session.writeEnding();
    frontEnd = nullptr;
    StandardErrorWriter::flush (SupportLog::kLastLinesWaitMs);
}
