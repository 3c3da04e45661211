#include "log/SupportLog.h"
#include "session/ExitStatus.h"
#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

// The support log as it hears the update procedure and the device link during real
// runs against the simulated controller: what a supporter reads in the user's journal.
namespace
{
using namespace update_test;

struct LoggedRun
{
    explicit LoggedRun (const SimulatedScenario& scenario)
        : run (scenario, makeUpdateImage ("1.02", kFileStamp, 5))
    {
        // Wired as the window wires it; the lines are taken from the first check on,
        // after the device link's opening line.
        run.procedure->addListener (&log);
        run.link->connectionObserver = [this] (bool arrived)
        {
            if (arrived)
                log.controllerArrived (run.link->deviceNumber());
            else
                log.controllerRemoved();
        };
        log.deviceLinkOpened (run.link->isConnected() ? run.link->deviceNumber() : -1);
        log.setSink ([this] (const juce::String& line)
                     { lines.add (line); });
    }

    // The lines that begin with one of the prefixes, in order.
    juce::StringArray linesStartingWith (std::initializer_list<const char*> prefixes) const
    {
        juce::StringArray found;

        for (const auto& line : lines)
            if (std::any_of (prefixes.begin(), prefixes.end(), [&line] (const char* prefix)
                             { return line.startsWith (prefix); }))
                found.add (line);

        return found;
    }

    juce::StringArray lines;
    SupportLog log { [] (const juce::String&) {} };
    UpdateRun run;
};

const juce::String kFileTaken = "update file taken: ";

juce::StringArray linesOf (const std::vector<juce::String>& lines)
{
    juce::StringArray array;

    for (const auto& line : lines)
        array.add (line);

    return array;
}
} // namespace

TEST (SupportLogHeadless, APartialUpdateTellsOnlyTheRegionsItWrites)
{
    auto scenario = quickScenario();
    scenario.stamp = kFileStamp;
    scenario.version = "1.01";
    LoggedRun logged (scenario);

    ASSERT_TRUE (logged.run.runToTheEnd());
    logged.run.procedure->tellListenersNow();
    ASSERT_EQ (logged.run.status(), ST_COMPLETE);

    EXPECT_EQ (logged.linesStartingWith ({ "update file", "controller found", "regions", "write started", "region" }),
               linesOf ({ kFileTaken + logged.run.folder.file.getFullPathName() + ", version 1.02, date stamp 20261209",
                          "controller found: version 1.01, date stamp 20261209, node simulated",
                          "regions to write: extra at 0x090000, 524288 bytes; info at 0x1D0000, 4096 bytes",
                          "write started",
                          "region written: extra at 0x090000, 524288 bytes",
                          "region written: info at 0x1D0000, 4096 bytes" }));
}

TEST (SupportLogHeadless, ARemovalTellsTheRegionsWrittenBeforeIt)
{
    // Block 7 is the second of the extra region: main is written, extra is not.
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::blockHeader, 7, Action::remove, 0x81, 5, -1 });
    LoggedRun logged (scenario);

    ASSERT_TRUE (logged.run.runToTheEnd());
    ASSERT_TRUE (runUntil ([&logged]
                           { return logged.run.status() == ERR_DEVICE_REMOVED; }));
    logged.run.procedure->tellListenersNow();
    logged.run.procedure->tellListenersNow();

    // The result's own line is the session's (tests/UpdateSessionTests.cpp).
    EXPECT_EQ (logged.linesStartingWith ({ "controller", "region written", "result" }),
               linesOf ({ "controller found: version 1.00, date stamp 20240101, node simulated",
                          "region written: main at 0x000000, 589824 bytes",
                          "controller removed: node simulated" }));
}

TEST (SupportLogHeadless, OtherProcessesHoldingTheNodeAreNamedOnceWhenTheCheckPassesAndNoneMeansNoLine)
{
    struct Case
    {
        std::vector<DeviceHolder> holders;
        std::vector<juce::String> expected;
        bool beforeTheCheck; // the window names them before the controller is first asked
    };

    const Case cases[] = {
        { {}, {}, false },
        { { { 777, "python3" }, { 1234, "mix\nxx" }, { 4321, {} } },
          { "controller also open in: process 777 (python3), process 1234 (mix\\nxx), process 4321" },
          false },
        { { { 777, "python3" } }, { "controller also open in: process 777 (python3)" }, true },
    };

    for (const auto& c : cases)
    {
        LoggedRun logged (quickScenario());
        std::vector<std::string> scanned;
        logged.log.setHolderScan ([&c, &scanned] (const std::string& nodePath)
                                  {
                                      scanned.push_back (nodePath);
                                      return c.holders; });

        if (c.beforeTheCheck)
            logged.log.controllerAboutToBeAsked();

        EXPECT_TRUE (SimulatedController::instance().receivedRequests().empty());
        EXPECT_EQ (logged.linesStartingWith ({ "controller also open" }).size(), c.beforeTheCheck ? (int) c.expected.size() : 0);

        // Told on the ready screen, before "Start".
        ASSERT_TRUE (logged.run.checkController());
        logged.run.procedure->tellListenersNow();
        logged.run.procedure->tellListenersNow();
        ASSERT_EQ (logged.run.status(), ST_READY);

        EXPECT_EQ (scanned, std::vector<std::string> { "simulated" });
        EXPECT_EQ (logged.linesStartingWith ({ "controller also open" }), linesOf (c.expected));
    }
}

TEST (SupportLogHeadless, TheEndingLineWrittenFromASignalHandlerReadsAsTheUsualOne)
{
    for (const auto exitStatus : { EXIT_UPDATED, EXIT_UPDATE_FAILED, EXIT_LEFT_BEFORE_WRITE, EXIT_WRITE_INTERRUPTED })
    {
        juce::StringArray usual;
        SupportLog log ([&usual] (const juce::String& line)
                        { usual.add (line); });
        log.ending (exitStatus, exitStatusMeaning (exitStatus));

        // stderr is a pipe for the moment, read back at once.
        int pipeEnds[2] = { -1, -1 };
        ASSERT_EQ (::pipe (pipeEnds), 0);
        const auto savedStderr = ::dup (STDERR_FILENO);
        ::dup2 (pipeEnds[1], STDERR_FILENO);
        SupportLog::endingAtOnce (exitStatus, exitStatusMeaning (exitStatus));
        ::dup2 (savedStderr, STDERR_FILENO);
        ::close (savedStderr);
        ::close (pipeEnds[1]);

        char text[256] = {};
        const auto length = ::read (pipeEnds[0], text, sizeof (text) - 1);
        ::close (pipeEnds[0]);

        ASSERT_EQ (usual.size(), 1);
        EXPECT_EQ (juce::String::fromUTF8 (text, (int) std::max<ssize_t> (length, 0)), usual[0] + "\n");
    }
}

TEST (SupportLogHeadless, ControlBytesInNamesAndVersionsAreEscapedAndEachEventStaysOneLine)
{
    // Names and a version text as they may come from a folder listing or a file.
    const auto folder = juce::File ("/tmp/dl\n\x1b]0;owned\x07");
    const auto file = folder.getChildFile ("trbkelo7__v102.bin");
    const uint8_t versionBytes[] = { 0x1b, '[', '2', 'J' };

    UpdateFileState state;
    state.fileStamp = kFileStamp;
    state.fileVersion = versionTextFromBytes (versionBytes);

    UpdateFileSearchReport faulty;
    faulty.chosen = file;
    faulty.error = ERR_FILE_CONTENT;

    UpdateFileSearchReport notFound;
    notFound.searchedFolders = { folder, juce::File ("/home/u/Downloads") };
    notFound.error = ERR_FILE_NOT_FOUND;

    juce::StringArray lines;
    SupportLog log ([&lines] (const juce::String& line)
                    { lines.add (line); });
    log.fileSearched (faulty, state);
    log.fileSearched (notFound, state);
    // A C1 control (CSI) as a character, as a name's text may hold it.
    log.note ("download folder: /home/u/.config/user-dirs.dirs" + juce::String::charToString (0x9b)
              + "2J is not a regular file; using /home/u/Downloads");

    EXPECT_EQ (lines, linesOf ({ "update file faulty: /tmp/dl\\n\\x1b]0;owned\\x07/trbkelo7__v102.bin: its version text \"\\x1b[2J\" is not a version",
                                 "update file not found: searched /tmp/dl\\n\\x1b]0;owned\\x07, /home/u/Downloads",
                                 "download folder: /home/u/.config/user-dirs.dirs\\u009b2J is not a regular file; using /home/u/Downloads" }));
}

TEST (SupportLogHeadless, AFileOfTheWrongSizeWhoseNameIsNotUtf8IsToldItsOwnSize)
{
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("trb-support-log-" + juce::Uuid().toString());
    ASSERT_TRUE (folder.createDirectory());
    const auto path = folder.getFullPathName().toStdString() + "/firmware \x80.bin";
    const auto fd = ::open (path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE (fd, 0);
    EXPECT_EQ (::write (fd, "0123456789", 10), 10);
    ::close (fd);

    UpdateFileState state;
    UpdateFileSearchReport report;
    EXPECT_EQ (findUpdateFile (updateFilePlaces (path, {}, {}, {}), state, &report), ERR_FILE_SIZE);

    juce::StringArray lines;
    SupportLog log ([&lines] (const juce::String& line)
                    { lines.add (line); });
    log.fileSearched (report, state);
    EXPECT_EQ (lines, linesOf ({ "update file faulty: " + report.chosen.getFullPathName() + ": is 10 bytes, "
                                 + juce::String (kImageSize) + " expected" }));

    ::unlink (path.c_str());
    folder.deleteRecursively();
}

TEST (SupportLogHeadless, TheControllerAnswerAfterTheWriteIsOneLineForEachOutcome)
{
    using Answer = WriteConfirmation::Outcome;
    const struct
    {
        WriteConfirmation confirmation;
        juce::String expected;
    } cases[] = {
        { { Answer::confirmed, "1.02", kFileStamp }, "write confirmed: the controller reports version 1.02, date stamp 20261209" },
        { { Answer::mismatch, "1.00", 0x20240101 },
          "write not taken: the controller reports version 1.00, date stamp 20240101 instead of version 1.02, date stamp "
          "20261209; run the update again; if it still reports the old version, replug the controller and run it again; "
          "else contact support" },
        { { Answer::noAnswer, {}, 0 }, "written, not confirmed (replug the controller to check)" },
        { { Answer::refused, {}, 0 }, "written, not confirmed: the controller refused the question (replug the controller to check)" },
    };

    UpdateFileState state;
    state.fileStamp = kFileStamp;
    state.fileVersion = "1.02";
    UpdateFileSearchReport taken;
    taken.chosen = juce::File ("/tmp/trbkelo7__v102.bin");

    for (const auto& c : cases)
    {
        juce::StringArray lines;
        SupportLog log ([&lines] (const juce::String& line)
                        { lines.add (line); });
        log.fileSearched (taken, state);
        lines.clear();
        log.writeConfirmed (c.confirmation);
        EXPECT_EQ (lines, linesOf ({ c.expected }));
    }
}

TEST (SupportLogHeadless, AFullUpdateEndsWithTheControllersConfirmationAfterItsRestart)
{
    LoggedRun logged (quickScenario());
    ASSERT_TRUE (logged.run.runToTheEnd());
    ASSERT_EQ (logged.run.status(), ST_COMPLETE);
    ASSERT_TRUE (runUntil ([&logged]
                           { return ! logged.linesStartingWith ({ "write confirmed" }).isEmpty(); }));

    EXPECT_EQ (logged.linesStartingWith ({ "write confirmed", "controller removed", "controller connected" }),
               linesOf ({ "controller removed: node simulated", "controller connected: node simulated",
                          "write confirmed: the controller reports version 1.02, date stamp 20261209" }));
}
