#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

// The controller that is written is the only one the update speaks to, before,
// during and after the write, whatever else is on the bus: a second controller,
// one plugged in while the written one restarts, a look-alike of its type, one
// with the same serial. And a controller whose claim another process holds is
// sent nothing at all.
using namespace update_test;

namespace
{
using Outcome = WriteConfirmation::Outcome;

struct Confirmed final : public UpdateListener
{
    void writeConfirmed (const WriteConfirmation& confirmation) override
    {
        heard = confirmation;
        ++count;
    }

    WriteConfirmation heard;
    int count = 0;
};

struct BusCase
{
    const char* name;
    const char* scenarioKeys;
    bool plugInDuringTheWait; // one more controller arrives once the finish is received
    size_t chosen; // with several present: the one the user chooses, in the list's order
    int confirmWaitMs;
    Outcome outcome;
};

constexpr int kShortConfirmWaitMs = 1500;

const BusCase kBusCases[] = {
    { "TwoControllers", "controllers=2", false, 0, kConfirmWaitMs, Outcome::confirmed },
    { "TwoControllersTheSecondChosen", "controllers=2", false, 1, kConfirmWaitMs, Outcome::confirmed },
    { "OneArrivingDuringTheWait", "gone_after_finish=1", true, 0, kShortConfirmWaitMs, Outcome::noAnswer },
    { "ALookAlikeOfTheSameType", "lookalike=1", false, 0, kConfirmWaitMs, Outcome::confirmed },
    { "TwoWithTheSameSerial", "controllers=2\nserials=KELO7-SAME KELO7-SAME", false, 1, kConfirmWaitMs, Outcome::confirmed },
    { "TwoWithoutASerial", "controllers=2\nserials=- -", false, 1, kConfirmWaitMs, Outcome::confirmed },
};

class TheWrittenControllerHeadless : public ::testing::TestWithParam<BusCase>
{
};
} // namespace

TEST_P (TheWrittenControllerHeadless, IsTheOnlyDeviceEverWrittenAndTheOneAsked)
{
    const auto& param = GetParam();
    auto scenario = quickScenario();
    scenario.version = "1.04";
    scenario.stamp = kFileStamp;
    ASSERT_TRUE (scenario.apply (param.scenarioKeys).empty());

    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp, 3));
    run.procedure->setConfirmWaitMs (param.confirmWaitMs);
    Confirmed confirmed;
    run.procedure->addListener (&confirmed);
    auto& sim = UpdateRun::sim();
    const auto present = run.link->connectedControllers();
    ASSERT_FALSE (present.empty());
    const auto written = present[param.chosen].deviceNumber;

    if (present.size() > 1)
    {
        // Nothing is held, and nothing sent to any of them, until the user has chosen;
        // one more arriving meanwhile is not taken up either.
        EXPECT_EQ (run.link->state(), LinkOpenResult::State::choiceNeeded);
        sim.plugIn (sim.addController (false));
        UpdateRun::deliverEverythingPending();
        EXPECT_EQ (run.link->state(), LinkOpenResult::State::choiceNeeded);
        EXPECT_TRUE (sim.writeCalls().empty());
        ASSERT_EQ (run.link->chooseController (present[param.chosen].identity).state, LinkOpenResult::State::connected);
    }

    ASSERT_EQ (run.link->deviceNumber(), written);
    const auto latecomer = param.plugInDuringTheWait ? sim.addController (false) : -1;

    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);
    ASSERT_TRUE (run.writeUpdate ([&]
                                  {
                                      if (latecomer >= 0 && UpdateRun::received (Kind::finish) == 1)
                                          sim.plugIn (latecomer); }));
    ASSERT_TRUE (runUntil ([&confirmed]
                           { return confirmed.count > 0; },
                           kHangMs));

    EXPECT_EQ (confirmed.heard.outcome, param.outcome);

    for (const auto& call : sim.writeCalls())
        ASSERT_EQ (call.deviceNumber, written) << "a request went to another device";

    EXPECT_EQ (requestsOfKind (sim.receivedRequests(), Kind::finish).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P (UpdateConfirmation,
                          TheWrittenControllerHeadless,
                          ::testing::ValuesIn (kBusCases),
                          [] (const ::testing::TestParamInfo<BusCase>& caseInfo)
                          { return std::string (caseInfo.param.name); });

TEST (UpdateConfirmationHeadless, AControllerClaimedByAnotherUpdaterIsSentNothingAndItsHolderIsNamed)
{
    // The holder is this test's own process, so its name and user can be checked.
    auto scenario = quickScenario();
    ASSERT_TRUE (scenario.apply ("claimed_by=" + std::to_string (::getpid())).empty());
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp, 3));

    EXPECT_TRUE (run.link->isClaimedElsewhere());
    const auto holder = run.link->claimRefusal();
    EXPECT_EQ (holder.pid, (int32_t)::getpid());
    EXPECT_TRUE (holder.processName.startsWith ("trb_tests")) << holder.processName;
    EXPECT_TRUE (holder.user.isNotEmpty());
    EXPECT_EQ (holder.controller.serial, "KELO7-SIM-0001");

    run.runToTheEnd();
    UpdateRun::deliverEverythingPending();
    EXPECT_TRUE (UpdateRun::sim().writeCalls().empty());
    EXPECT_NE (run.status(), ST_COMPLETE);
}
