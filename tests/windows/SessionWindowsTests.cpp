// The session layers on Windows: the end of the session held up during a write,
// the console that started the program, and the support log's file.

#include "app/CommandLine.h"
#include "app/ProcessArguments.h"
#include "app/QuitSignalWatcher.h"
#include "app/StandardStreams.h"
#include "platform/ScopedHandle.h"
#include "session/SleepInhibitor.h"
#include "tests/MessageLoop.h"
#include "tests/windows/WindowsTestSupport.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <io.h>
#include <stdlib.h>

#include <functional>
#include <vector>

using namespace windows_test_support;

namespace
{
const juce::String kWho = "TRBKelo7UpdateProgram";
const juce::String kWhy = "A firmware update of the TRB-Kelo7 is in progress";
constexpr DWORD kReasonUnits = 512;

// Wine has no ShutdownBlockReasonQuery (calling it ends the process); there the
// reason is not looked at, and the window's answer alone is checked.
bool canQueryReasons()
{
    return ! runningUnderWine();
}

// The reason Windows shows for window, or nothing when it holds up nothing.
std::optional<juce::String> shownReason (HWND window, bool held)
{
    if (! canQueryReasons())
        return held ? std::optional<juce::String> (kWhy) : std::nullopt;

    wchar_t reason[kReasonUnits] {};
    DWORD size = kReasonUnits;

    if (! ::ShutdownBlockReasonQuery (window, reason, &size))
        return std::nullopt;

    return juce::String (reason);
}

// What the window answers when the session is about to end.
LRESULT askToEndTheSession (HWND window)
{
    return ::SendMessageW (window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
}

// A program's start, as main() has it: the streams first, then --help or a log line.
const RoleRegistration startLikeTheProgram ("start-like-the-program", [] (const juce::StringArray& arguments)
                                            {
                                                prepareStandardStreams();

                                                if (arguments[0] == "--help")
                                                {
                                                    return answerBeforeStart ({ "TRBKelo7UpdateProgram.exe", "--help" }).value_or (-1);
                                                }

                                                const auto line = (arguments[0] + "\n").toStdString();
                                                ::_write (2, line.data(), (unsigned) line.size());
                                                settleStandardStreams (kLongestWaitMs);
                                                return 0; });

// The command line as the program reads it, one argument a line, into the file
// the first argument names.
const RoleRegistration reportArguments ("report-arguments", [] (const juce::StringArray& arguments)
                                        {
                                            juce::String lines;

                                            for (const auto& bytes : processArgumentBytes (__argc, __argv))
                                                lines << juce::String::fromUTF8 (bytes.data(), (int) bytes.size()) << "\n";

                                            return juce::File (arguments[0]).replaceWithText (lines, false, false, nullptr) ? 0 : 1; });

juce::String runAndRead (const juce::StringArray& command, int streams, int& exitCode)
{
    juce::ChildProcess child;

    if (! child.start (command, streams))
        return "(not started)";

    auto output = child.readAllProcessOutput();
    child.waitForProcessToFinish (kLongestWaitMs);
    // The framework's reader stops when it finds the pipe empty and then the
    // child gone: what the child wrote between those two looks is read now.
    output += child.readAllProcessOutput();
    exitCode = (int) child.getExitCode();
    return output;
}

juce::File programDataIn (const juce::File& localData)
{
    return localData.getChildFile ("TRBKelo7UpdateProgram");
}

juce::Array<juce::File> logFilesIn (const juce::File& localData)
{
    return programDataIn (localData).getChildFile ("logs").findChildFiles (juce::File::findFiles, false, "support-*.log");
}

// A fresh %LOCALAPPDATA% for the programs this test starts, removed at its end.
struct ScopedLocalData
{
    ScopedLocalData()
    {
        folder.createDirectory();
        ::SetEnvironmentVariableW (L"LOCALAPPDATA", folder.getFullPathName().toWideCharPointer());
    }

    ~ScopedLocalData()
    {
        ::SetEnvironmentVariableW (L"LOCALAPPDATA", previous.isEmpty() ? nullptr : previous.toWideCharPointer());

        for (const auto& file : folder.findChildFiles (juce::File::findFilesAndDirectories, true))
            file.setReadOnly (false);

        folder.deleteRecursively();
    }

    const juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile (uniqueName ("trb-localappdata"));
    const juce::String previous = juce::SystemStats::getEnvironmentVariable ("LOCALAPPDATA", {});
};

// Opens path as another process would hold it: shared with no one, and locked whole
// when it is a file. Folders need the backup flag to be opened at all.
ScopedHandle holdExclusively (const juce::File& path)
{
    ScopedHandle handle (::CreateFileW (path.getFullPathName().toWideCharPointer(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    OVERLAPPED whole {};

    if (handle.isValid() && path.existsAsFile())
        ::LockFileEx (handle.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole);

    return handle;
}

// What stands in the way of the support log's file: arrange() makes it under the
// program's folder and returns what it keeps open until the program has ended.
struct LogFolderObstacle
{
    const char* what;
    std::function<std::vector<ScopedHandle> (const juce::File& programData)> arrange;
};

// A full set of earlier runs' logs, so that the program has some to remove.
std::vector<juce::File> earlierLogs (const juce::File& programData)
{
    std::vector<juce::File> logs;

    for (int run = 0; run < 6; ++run)
    {
        logs.push_back (programData.getChildFile ("logs").getChildFile ("support-2020010" + juce::String (run) + "-000000-000-1.log"));
        logs.back().create();
    }

    return logs;
}

const LogFolderObstacle kLogFolderObstacles[] = {
    { "the log folder is a file", [] (const juce::File& programData)
      {
          programData.createDirectory();
          programData.getChildFile ("logs").replaceWithText ("not a folder");
          return std::vector<ScopedHandle> {};
      } },
    { "the program's folder is a file", [] (const juce::File& programData)
      {
          programData.replaceWithText ("not a folder");
          return std::vector<ScopedHandle> {};
      } },
    { "the log folder and its files are read-only", [] (const juce::File& programData)
      {
          for (const auto& log : earlierLogs (programData))
              log.setReadOnly (true);

          programData.getChildFile ("logs").setReadOnly (true);
          return std::vector<ScopedHandle> {};
      } },
    { "another process holds the earlier logs open and locked", [] (const juce::File& programData)
      {
          std::vector<ScopedHandle> held;

          for (const auto& log : earlierLogs (programData))
              held.push_back (holdExclusively (log));

          return held;
      } },
    { "another process holds the log folder open", [] (const juce::File& programData)
      {
          earlierLogs (programData);
          std::vector<ScopedHandle> held;
          held.push_back (holdExclusively (programData.getChildFile ("logs")));
          return held;
      } },
};
} // namespace

TEST (WindowsSession, TheEndOfTheSessionIsHeldUpWithTheReasonOnlyDuringTheWrite)
{
    juce::Component window;
    window.setSize (200, 100);
    window.addToDesktop (juce::ComponentPeer::windowHasTitleBar);
    auto* const handle = static_cast<HWND> (window.getWindowHandle());
    ASSERT_NE (handle, nullptr);

    // Before the write: the framework's own answer (the orderly quit path) stands.
    EXPECT_NE (askToEndTheSession (handle), FALSE);
    EXPECT_FALSE (shownReason (handle, false).has_value());

    auto inhibitor = SleepInhibitor::create (kWho, kWhy);
    inhibitor->acquire();
    EXPECT_TRUE (inhibitor->isHeld());
    EXPECT_FALSE (inhibitor->isAsking());

    EXPECT_EQ (askToEndTheSession (handle), FALSE);
    EXPECT_EQ (shownReason (handle, true), std::optional<juce::String> (kWhy));

    // A refresh during the write asks again; one release still lets go of everything.
    inhibitor->acquire();
    inhibitor->release();
    EXPECT_FALSE (inhibitor->isHeld());
    EXPECT_NE (askToEndTheSession (handle), FALSE);
    EXPECT_FALSE (shownReason (handle, false).has_value());

    // The inhibitor's end lets go too.
    inhibitor->acquire();
    EXPECT_EQ (askToEndTheSession (handle), FALSE);
    inhibitor = nullptr;
    EXPECT_NE (askToEndTheSession (handle), FALSE);
}

TEST (WindowsSession, WithoutAWindowAWindowOfItsOwnHoldsUpTheEndOfTheSession)
{
    // Only in a thread without windows: a thread of its own.
    struct Outcome
    {
        bool held = false, letGo = false;
        HWND holder = nullptr;
    } outcome;

    std::thread ([&outcome]
                 {
                     auto inhibitor = SleepInhibitor::create (kWho, kWhy);
                     inhibitor->acquire();
                     outcome.held = inhibitor->isHeld();

                     ::EnumThreadWindows (::GetCurrentThreadId(), [] (HWND window, LPARAM found)
                                          {
                                              if (askToEndTheSession (window) == FALSE && shownReason (window, true) == std::optional<juce::String> (kWhy))
                                                  *reinterpret_cast<HWND*> (found) = window;
                                              return TRUE; },
                                          reinterpret_cast<LPARAM> (&outcome.holder));

                     inhibitor->release();
                     outcome.letGo = outcome.holder != nullptr && ! ::IsWindow (outcome.holder); })
        .join();

    EXPECT_TRUE (outcome.held);
    EXPECT_NE (outcome.holder, nullptr);
    EXPECT_TRUE (outcome.letGo);
}

TEST (WindowsSession, TheConsoleWatcherIsInstalledAndGivesTheConsoleBack)
{
    {
        const QuitSignalWatcher watcher ([] {});
        EXPECT_TRUE (watcher.isWatching());
    }

    // A second watcher after the first may be made: the first gave everything back.
    const QuitSignalWatcher again ([] {});
    EXPECT_TRUE (again.isWatching());
}

TEST (WindowsConsole, HelpGoesToTheStandardOutputThatStartedTheProgram)
{
    int exitCode = -1;
    const auto output = runAndRead (roleCommand ("start-like-the-program", { "--help" }), juce::ChildProcess::wantStdOut, exitCode);

    EXPECT_EQ (exitCode, 0);
    EXPECT_EQ (output.replace ("\r\n", "\n"), CommandLine::helpText ("TRBKelo7UpdateProgram.exe"));
}

TEST (WindowsConsole, TheSupportLogGoesToStandardErrorAndToAFileOfTheLastFewRuns)
{
    const ScopedLocalData localData;
    constexpr int kRuns = 7;
    constexpr int kKeptRuns = 5;

    for (int run = 0; run < kRuns; ++run)
    {
        const auto line = "support line " + juce::String (run) + juce::String::fromUTF8 (" \u65E5\u672C");
        int exitCode = -1;
        const auto output = runAndRead (roleCommand ("start-like-the-program", { line }), juce::ChildProcess::wantStdErr, exitCode);

        EXPECT_EQ (exitCode, 0);
        EXPECT_EQ (output.trim(), line);

        // The newest file is this run's; the file names sort by time.
        auto files = logFilesIn (localData.folder);
        std::sort (files.begin(), files.end(), [] (const juce::File& a, const juce::File& b)
                   { return a.getFileName() < b.getFileName(); });
        ASSERT_FALSE (files.isEmpty());
        EXPECT_EQ (files.getLast().loadFileAsString().trim(), line);
        EXPECT_EQ (files.size(), juce::jmin (run + 1, kKeptRuns));
    }
}

// The program never waits for the log's folder: each run ends, with its status and
// its line on stderr, while whatever holds the folder still holds it.
TEST (WindowsConsole, AnUnusableLogFolderNeitherStopsNorHoldsUpTheProgram)
{
    for (const auto& obstacle : kLogFolderObstacles)
    {
        SCOPED_TRACE (obstacle.what);
        const ScopedLocalData localData;
        const auto held = obstacle.arrange (programDataIn (localData.folder));
        const juce::String line = "support line past the obstacle";
        juce::ChildProcess child;
        ASSERT_TRUE (child.start (roleCommand ("start-like-the-program", { line }), juce::ChildProcess::wantStdErr));

        // The line is short enough to wait in the pipe until the run has ended.
        const bool ended = child.waitForProcessToFinish (kLongestWaitMs);

        if (! ended)
            child.kill();

        EXPECT_TRUE (ended) << "the run waited for the log folder";
        EXPECT_EQ (child.getExitCode(), 0u);
        EXPECT_EQ (child.readAllProcessOutput().trim(), line);

        for (const auto& handle : held)
            EXPECT_TRUE (handle.isValid());
    }
}

TEST (WindowsCommandLine, ANameOutsideTheCodePageArrivesAsItWasGiven)
{
    // Greek and Japanese: no ANSI code page holds both.
    const auto name = juce::String::fromUTF8 ("Z:\\\u03A9\u03BC\u03AD\u03B3\u03B1 \u65E5\u672C\\trbkelo7__v105.bin");
    const auto report = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile (uniqueName ("trb-arguments") + ".txt");
    juce::ChildProcess child;

    ASSERT_TRUE (child.start (roleCommand ("report-arguments", { report.getFullPathName(), "--terminal", name })));
    ASSERT_TRUE (child.waitForProcessToFinish (kLongestWaitMs));
    EXPECT_EQ (child.getExitCode(), 0u);

    juce::StringArray lines;
    lines.addTokens (report.loadFileAsString(), "\n", {});
    lines.removeEmptyStrings (false);
    report.deleteFile();

    ASSERT_EQ (lines.size(), 5) << lines.joinIntoString (" | ");
    EXPECT_EQ (juce::File::createFileWithoutCheckingPath (lines[0]).getFileName(), juce::File (thisProgram()).getFileName());
    EXPECT_EQ (lines[3], "--terminal");
    EXPECT_EQ (lines[4], name);
}
