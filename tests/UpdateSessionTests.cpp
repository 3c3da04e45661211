#include "session/ExitStatus.h"
#include "session/UpdateSession.h"
#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

// The update session on the simulated controller, without a front-end: the outcome it
// settles, its exit status, the support log's result line and the sleep lock's rule.
namespace
{
using namespace update_test;

struct Session
{
    explicit Session (const SimulatedScenario& scenario)
    {
        SimulatedController::instance().reset (scenario);
        session = std::make_unique<UpdateSession> ([this] (const juce::String& line)
                                                   { lines.add (line); },
                                                   false);
        session->setOnSettled ([this] (const Outcome&)
                               { ++settledCount; });
    }

    ~Session()
    {
        session.reset();
        SimulatedController::instance().waitUntilIdle (1000);
    }

    bool reachReady()
    {
        session->getProcedure().startCheck (folder.folder);
        return runUntil ([this]
                         { return procedure().getStatus() != ST_INITIAL; })
               && procedure().getStatus() == ST_READY;
    }

    UpdateProcedure& procedure() { return session->getProcedure(); }
    bool settled() const { return session->getOutcome() != nullptr; }

    int indexOf (const char* prefix) const
    {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith (prefix))
                return i;

        return -1;
    }

    UpdateFolder folder { makeUpdateImage ("1.02", kFileStamp, 5) };
    juce::StringArray lines;
    int settledCount = 0;
    std::unique_ptr<UpdateSession> session;
};
} // namespace

TEST (UpdateSessionHeadless, AWholeRunSettlesOnTheControllersWordAndLogsItBeforeTheResult)
{
    const struct
    {
        const char* name;
        bool gone, unchanged;
        RunEnd end;
        const char* word;
    } cases[] = {
        { "confirmed", false, false, RunEnd::confirmed, "write confirmed: " },
        { "no answer", true, false, RunEnd::notConfirmed, "written, not confirmed" },
        { "not taken", false, true, RunEnd::notTaken, "write not taken: " },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.name);
        auto scenario = quickScenario();
        scenario.goneAfterFinish = test.gone;
        scenario.unchangedAfterFinish = test.unchanged;
        Session run (scenario);

        if (test.gone)
            run.procedure().setConfirmWaitMs (200);

        ASSERT_TRUE (run.reachReady());
        run.procedure().startUpdate();
        ASSERT_TRUE (runUntil ([&run]
                               { return run.settled(); }));

        const auto& outcome = *run.session->getOutcome();
        EXPECT_EQ (outcome.end, test.end);
        EXPECT_EQ (run.session->getExitStatus(), outcome.exitStatus);
        EXPECT_EQ (run.settledCount, 1);
        EXPECT_FALSE (run.session->getSleepLock().isHeld());

        // The controller's word, then exactly one result line, the last.
        const auto word = run.indexOf (test.word), result = run.indexOf ("result: ");
        ASSERT_GE (word, 0) << run.lines.joinIntoString ("\n");
        EXPECT_EQ (result, run.lines.size() - 1) << run.lines.joinIntoString ("\n");
        EXPECT_EQ (run.lines[result], Outcomes::logLine (outcome));
        EXPECT_LT (word, result);

        // Later ends change nothing: the first outcome holds.
        EXPECT_EQ (&run.session->endNow(), &outcome);
        EXPECT_EQ (run.settledCount, 1);
    }
}

TEST (UpdateSessionHeadless, EndingNowSettlesAsTheRunStandsAndStopsTheWorker)
{
    const struct
    {
        const char* name;
        int32_t stage; // how far the run goes before it ends
        RunEnd end;
    } cases[] = {
        { "on the ready screen", ST_READY, RunEnd::left },
        { "during the write", ST_BLOCK_WAIT, RunEnd::interrupted },
        { "waiting for the controller's word", ST_COMPLETE, RunEnd::notConfirmed },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.name);
        auto scenario = quickScenario();
        scenario.busyCount = test.stage == ST_BLOCK_WAIT ? -1 : 0; // the first block stays in its poll
        scenario.goneAfterFinish = true; // and, once written, the controller stays away
        Session run (scenario);
        ASSERT_TRUE (run.reachReady());

        if (test.stage != ST_READY)
        {
            run.procedure().startUpdate();
            ASSERT_TRUE (runUntil ([&run, &test]
                                   { return run.procedure().getStatus() == test.stage; }));
        }

        ASSERT_FALSE (run.settled());
        EXPECT_EQ (run.session->endNow().end, test.end);
        EXPECT_FALSE (run.procedure().isWorkerRunning());
        EXPECT_EQ (run.session->getExitStatus(), Outcomes::forEnd (test.end).exitStatus);
        EXPECT_EQ (run.lines[run.lines.size() - 1], Outcomes::logLine (Outcomes::forEnd (test.end)));
    }
}

TEST (UpdateSessionHeadless, AnErrorSettlesAtOnceWithItsRowAndTheSupportLogsLine)
{
    auto scenario = quickScenario();
    scenario.controllers = 0;
    Session run (scenario);
    run.session->getProcedure().startCheck (run.folder.folder);

    ASSERT_TRUE (run.settled());
    EXPECT_EQ (run.session->getOutcome()->errorId, ERR_NOT_CONNECTED);
    EXPECT_EQ (run.session->getExitStatus(), EXIT_UPDATE_FAILED);
    EXPECT_TRUE (run.lines.contains ("result: error 0x0E21, no controller found: it is not plugged in, or its hidraw node may not be opened"))
        << run.lines.joinIntoString ("\n");
}

TEST (UpdateSessionHeadless, WithSeveralControllersNothingIsSentUntilOneIsChosenAndTheLogNamesEachOne)
{
    auto scenario = quickScenario();
    ASSERT_TRUE (scenario.apply ("controllers=2").empty());
    Session run (scenario);
    auto& sim = SimulatedController::instance();

    ASSERT_EQ (run.session->linkState(), LinkOpenResult::State::choiceNeeded);
    ASSERT_EQ (run.session->listControllers().size(), 2u);
    EXPECT_TRUE (run.lines.contains ("controllers to choose from: serial KELO7-SIM-0001, port sim-1; serial KELO7-SIM-0002, port sim-2"))
        << run.lines.joinIntoString ("\n");

    const auto second = run.session->listControllers()[1];
    ASSERT_EQ (run.session->choose (second.identity).state, LinkOpenResult::State::connected);
    EXPECT_TRUE (run.lines.contains ("controller connected: node simulated, serial KELO7-SIM-0002, port sim-2"));

    sim.plugIn (sim.addController (false));
    UpdateRun::deliverEverythingPending();
    EXPECT_TRUE (run.lines.contains ("another controller arrived: serial KELO7-SIM-0003, port sim-3 (the chosen one is unaffected)"));

    ASSERT_TRUE (run.reachReady());

    for (const auto& call : sim.writeCalls())
        EXPECT_EQ (call.deviceNumber, second.deviceNumber);

    EXPECT_TRUE (run.lines[run.indexOf ("controller found: ")].endsWith (", node simulated, serial KELO7-SIM-0002, port sim-2"));
}

TEST (UpdateSessionHeadless, AControllerHeldElsewhereIsLoggedWithItsHolderAndSentNothing)
{
    auto scenario = quickScenario();
    ASSERT_TRUE (scenario.apply ("claimed_by=" + std::to_string (::getpid())).empty());
    Session run (scenario);

    EXPECT_EQ (run.session->linkState(), LinkOpenResult::State::claimedElsewhere);
    const auto line = run.lines[run.indexOf ("controller held elsewhere: ")];
    EXPECT_TRUE (line.startsWith ("controller held elsewhere: serial KELO7-SIM-0001, port sim-1, by process " + juce::String (::getpid()) + " (trb_tests"))
        << line;
    EXPECT_TRUE (line.endsWith ("; nothing was sent"));
    EXPECT_TRUE (SimulatedController::instance().writeCalls().empty());
}
