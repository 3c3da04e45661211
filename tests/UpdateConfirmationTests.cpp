#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

// What the update procedure does after the finish request: it waits for the
// controller (which restarts) and asks it once what it now holds, without the
// removal of the restart turning the completed update into an error.
using namespace update_test;

namespace
{
using Outcome = WriteConfirmation::Outcome;

// The end of the update and its confirmation, in the order the listeners heard them.
struct HeardConfirmation final : public UpdateListener
{
    void statusChanged (int32_t status) override
    {
        if (isErrorStatus (status))
            lines.add ("error " + juce::String (status));
    }

    void updateEnded (int32_t result) override { lines.add ("ended " + juce::String (result)); }

    void writeConfirmed (const WriteConfirmation& confirmation) override
    {
        lines.add ("confirmation");
        heard = confirmation;
        ++confirmations;
    }

    juce::StringArray lines;
    WriteConfirmation heard;
    int confirmations = 0;
};

struct ConfirmationCase
{
    const char* name;
    const char* scenarioKeys;
    int confirmWaitMs; // shortened only where the controller never answers
    Outcome outcome;
    const char* deviceVersion;
    uint32_t deviceStamp;
    size_t infoQueriesReceived; // the check's, and the confirmation's unless it never arrived
};

// Equal stamps keep the runs short: only the extra region and the info's head are written.
constexpr uint32_t kOldStamp = kFileStamp;
constexpr int kShortConfirmWaitMs = 300;

const ConfirmationCase kConfirmationCases[] = {
    { "RestartsAndReportsTheFile", "", kConfirmWaitMs, Outcome::confirmed, "1.05", kFileStamp, 2 },
    { "StaysConnectedAndReportsTheFile", "restart_ms=-1", kConfirmWaitMs, Outcome::confirmed, "1.05", kFileStamp, 2 },
    { "ComesBackWithItsOldVersion", "unchanged_after_finish=1", kConfirmWaitMs, Outcome::mismatch, "1.04", kOldStamp, 2 },
    { "DoesNotComeBack", "gone_after_finish=1", kShortConfirmWaitMs, Outcome::noAnswer, "", 0, 1 },
    { "NeverAnswersTheQuery", "restart_ms=-1\nfault=info 2 no_reply", kShortConfirmWaitMs, Outcome::noAnswer, "", 0, 2 },
};

class WriteConfirmationOutcomeHeadless : public ::testing::TestWithParam<ConfirmationCase>
{
};

SimulatedScenario confirmationScenario (const char* keys)
{
    auto scenario = quickScenario();
    scenario.stamp = kOldStamp;
    scenario.version = "1.04";
    EXPECT_TRUE (scenario.apply (keys).empty());
    return scenario;
}

// Writes the update and runs until its confirmation has been told to heard.
void writeAndConfirm (UpdateRun& run, HeardConfirmation& heard, int confirmWaitMs)
{
    run.procedure->setConfirmWaitMs (confirmWaitMs);
    run.procedure->addListener (&heard);

    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);
    ASSERT_TRUE (run.writeUpdate());
    ASSERT_TRUE (runUntil ([&heard]
                           { return heard.confirmations > 0; },
                           kHangMs));
    UpdateRun::deliverEverythingPending();
}
} // namespace

TEST_P (WriteConfirmationOutcomeHeadless, IsToldOnceAfterTheCompletionWhichStaysComplete)
{
    const auto& param = GetParam();
    UpdateRun run (confirmationScenario (param.scenarioKeys), makeUpdateImage ("1.05", kFileStamp, 3));
    HeardConfirmation heard;
    ASSERT_NO_FATAL_FAILURE (writeAndConfirm (run, heard, param.confirmWaitMs));

    EXPECT_EQ (heard.lines, juce::StringArray ({ "ended 7", "confirmation" }));
    EXPECT_EQ (heard.confirmations, 1);
    EXPECT_EQ (heard.heard.outcome, param.outcome);
    EXPECT_EQ (heard.heard.deviceVersion, param.deviceVersion);
    EXPECT_EQ (heard.heard.deviceStamp, param.deviceStamp);
    EXPECT_EQ (run.status(), ST_COMPLETE);
    EXPECT_TRUE (run.procedure->isConfirmationKnown());
    EXPECT_EQ (run.procedure->getConfirmation().outcome, param.outcome);

    // One query answered or waited out, after the one finish request.
    const auto requests = UpdateRun::sim().receivedRequests();
    EXPECT_EQ (requestsOfKind (requests, Kind::finish).size(), 1u);
    EXPECT_EQ (requestsOfKind (requests, Kind::infoQuery).size(), param.infoQueriesReceived);
}

INSTANTIATE_TEST_SUITE_P (UpdateConfirmation,
                          WriteConfirmationOutcomeHeadless,
                          ::testing::ValuesIn (kConfirmationCases),
                          [] (const ::testing::TestParamInfo<ConfirmationCase>& caseInfo)
                          { return std::string (caseInfo.param.name); });

TEST (UpdateConfirmationHeadless, AStopDuringTheWaitEndsItAtOnceAndTellsNothing)
{
    // A controller that stays away after the finish, and one that never answers the
    // query: with the full wait, a stop must wake the worker either way.
    for (const auto* keys : { "gone_after_finish=1", "restart_ms=-1\nfault=info 2 no_reply" })
    {
        SCOPED_TRACE (keys);
        UpdateRun run (confirmationScenario (keys), makeUpdateImage ("1.05", kFileStamp, 3));
        HeardConfirmation heard;
        run.procedure->addListener (&heard);

        ASSERT_TRUE (run.checkController());
        run.procedure->startUpdate();
        ASSERT_TRUE (runUntil ([&heard]
                               { return heard.lines.contains ("ended 7"); }));
        ASSERT_TRUE (runUntil ([]
                               { return UpdateRun::received (Kind::finish) == 1; }));
        EXPECT_TRUE (run.workerRunning()) << "the worker did not wait for the controller";

        const auto started = juce::Time::getMillisecondCounter();
        run.procedure->stop();
        const auto took = juce::Time::getMillisecondCounter() - started;

        EXPECT_FALSE (run.workerRunning());
        EXPECT_LT (took, (juce::uint32) kStopTimeoutMs) << "the worker did not wake and had to be ended by force";
        UpdateRun::deliverEverythingPending();
        EXPECT_EQ (heard.confirmations, 0);
        EXPECT_FALSE (run.procedure->isConfirmationKnown());
        EXPECT_EQ (run.status(), ST_COMPLETE);
    }
}

TEST (UpdateConfirmationHeadless, OnlyAnInfoReplyToTheInfoQueryIsReadAsTheControllersInformation)
{
    // The first confirming query gets one of these answers, the next one the true
    // information. An answer taken for the information would end the confirmation
    // after two info queries, with its zero bytes (or, with byte 0 changed, the
    // real ones) as the version and stamp.
    const char* const kNotTheInformation[] = {
        "reply 0x80 0",
        "reply 0x81 1",
        "reply 0x81 5",
        "reply 0x83 0",
        "reply 0x84 0",
        "reply 0x85 0",
        "reply 0x00 0",
        "reply 0x01 0",
        "reply 0xFF 0",
        "wrong_byte0",
    };

    for (const auto* answer : kNotTheInformation)
    {
        SCOPED_TRACE (answer);
        const auto keys = juce::String ("restart_ms=-1\nfault=info 2 ") + answer;
        UpdateRun run (confirmationScenario (keys.toRawUTF8()), makeUpdateImage ("1.05", kFileStamp, 3));
        HeardConfirmation heard;
        ASSERT_NO_FATAL_FAILURE (writeAndConfirm (run, heard, kConfirmWaitMs));

        EXPECT_EQ (heard.heard.outcome, Outcome::confirmed);
        EXPECT_EQ (heard.heard.deviceVersion, "1.05");
        EXPECT_EQ (heard.heard.deviceStamp, kFileStamp);
        EXPECT_EQ (requestsOfKind (UpdateRun::sim().receivedRequests(), Kind::infoQuery).size(), 3u);
    }
}

TEST (UpdateConfirmationHeadless, AControllerThatRefusesEveryConfirmingQueryRefusedTheQuestion)
{
    // Every info query after the check's is refused, for longer than the wait lasts
    // (a refused query is asked again only kConfirmRetryMs later).
    constexpr int kConfirmWait = 1000;
    constexpr int kRefusals = 4 * kConfirmWait / kConfirmRetryMs;
    auto scenario = confirmationScenario ("");

    for (int query = 2; query < 2 + kRefusals; ++query)
        scenario.faults.push_back ({ Kind::infoQuery, query, Action::reply, REPLY_REFUSED, 1, 0 });

    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp, 3));
    HeardConfirmation heard;
    ASSERT_NO_FATAL_FAILURE (writeAndConfirm (run, heard, kConfirmWait));

    EXPECT_EQ (heard.lines, juce::StringArray ({ "ended 7", "confirmation" }));
    EXPECT_EQ (heard.heard.outcome, Outcome::refused);
    EXPECT_EQ (heard.heard.deviceVersion, "");
    EXPECT_EQ (heard.heard.deviceStamp, 0u);
    EXPECT_EQ (run.status(), ST_COMPLETE);
    EXPECT_GE (requestsOfKind (UpdateRun::sim().receivedRequests(), Kind::infoQuery).size(), 2u);
}
