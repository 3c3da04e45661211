#include "tests/UpdateTestSupport.h"
#include "ui/SupportLog.h"

#include <gtest/gtest.h>

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

TEST (SupportLog, APartialUpdateTellsOnlyTheRegionsItWrites)
{
    auto scenario = quickScenario();
    scenario.stamp = kFileStamp;
    scenario.version = "1.01";
    LoggedRun logged (scenario);

    ASSERT_TRUE (logged.run.runToTheEnd());
    logged.run.procedure->tellListenersNow();
    ASSERT_EQ (logged.run.status(), ST_COMPLETE);

    EXPECT_EQ (logged.linesStartingWith ({ "update file", "controller found", "regions", "write", "region", "result" }),
               linesOf ({ kFileTaken + logged.run.folder.file.getFullPathName() + ", version 1.02, date stamp 20261209",
                          "controller found: version 1.01, date stamp 20261209, node simulated",
                          "regions to write: extra at 0x090000, 524288 bytes; info at 0x1D0000, 4096 bytes",
                          "write started",
                          "region written: extra at 0x090000, 524288 bytes",
                          "region written: info at 0x1D0000, 4096 bytes",
                          "result: complete" }));
}

TEST (SupportLog, ARemovalTellsTheRegionsWrittenBeforeItAndTheErrorOnce)
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

    EXPECT_EQ (logged.linesStartingWith ({ "controller", "region written", "result" }),
               linesOf ({ "controller found: version 1.00, date stamp 20240101, node simulated",
                          "region written: main at 0x000000, 589824 bytes",
                          "controller removed: node simulated",
                          "result: error 0x0E37, the controller was removed during the update" }));
}
