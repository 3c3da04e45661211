#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

// What a front-end and the support log hear of the update procedure: its events,
// on the message thread, during real runs against the simulated controller.
using namespace update_test;

namespace
{
// Every event but the progress as one line, in the order the listeners heard it.
struct HeardEvents final : public UpdateListener
{
    void fileSearched (const UpdateFileSearchReport& report, const UpdateFileState&) override
    {
        lines.add ("file " + (report.error.has_value() ? formatErrorId (*report.error) : juce::String ("ok")));
    }

    void controllerChecked (const juce::String& version, uint32_t stamp, const std::array<UpdateRegion, kRegionCount>& regions) override
    {
        auto line = "checked " + version + " " + juce::String::toHexString ((juce::int64) stamp);

        for (const auto& region : regions)
            line << (region.state == REGION_WRITE ? " W" : " -");

        lines.add (line);
    }

    void writeStarted() override { lines.add ("started"); }
    void statusChanged (int32_t status) override { lines.add ("status " + juce::String (status)); }
    void regionWritten (int index, const UpdateRegion&) override { lines.add ("region " + juce::String (index)); }
    void updateEnded (int32_t result) override { lines.add ("ended " + juce::String (result)); }

    void progressChanged (double progress) override
    {
        progressDecreased = progressDecreased || progress < lastProgress;
        lastProgress = progress;
        ++progressEvents;
    }

    juce::StringArray withoutStatuses() const
    {
        juce::StringArray others;

        for (const auto& line : lines)
            if (! line.startsWith ("status "))
                others.add (line);

        return others;
    }

    juce::StringArray lines;
    double lastProgress = 0.0;
    bool progressDecreased = false;
    int progressEvents = 0;
};
} // namespace

TEST (UpdateListenerHeadless, HearsTheCheckTheStartEachRegionAndTheResultOnceInOrder)
{
    UpdateRun run (quickScenario(), makeUpdateImage ("1.05", kFileStamp));
    HeardEvents heard;
    run.procedure->addListener (&heard);

    // "Start" comes once the ready screen is up, as in the window.
    ASSERT_TRUE (run.checkController());
    ASSERT_TRUE (runUntil ([&heard]
                           { return heard.lines.contains ("status " + juce::String (ST_READY)); }));
    ASSERT_TRUE (run.writeUpdate());
    ASSERT_TRUE (runUntil ([&heard]
                           { return heard.lines.contains ("ended " + juce::String (ST_COMPLETE)); }));

    EXPECT_EQ (heard.withoutStatuses(),
               juce::StringArray ({ "file ok", "checked 1.00 20240101 W W W", "started", "region 0", "region 1", "region 2", "ended 7" }));
    juce::String lastStatus;

    for (const auto& line : heard.lines)
        if (line.startsWith ("status "))
            lastStatus = line;

    EXPECT_EQ (lastStatus, "status " + juce::String (ST_COMPLETE));

    for (int i = 1; i < heard.lines.size(); ++i)
        EXPECT_NE (heard.lines[i], heard.lines[i - 1]) << "told twice";

    EXPECT_FALSE (heard.progressDecreased);
    EXPECT_GT (heard.progressEvents, 100);
    EXPECT_EQ (heard.lastProgress, 1.0);
}

TEST (UpdateListenerHeadless, HearsAFailedCheckBeforeStartCheckReturns)
{
    struct Case
    {
        const char* name;
        bool withFile, withController;
        juce::StringArray expected;
    };

    const Case cases[] = {
        { "no update file", false, true, { "file 0E01", "status 3585", "ended 3585" } },
        { "no controller", true, false, { "file ok", "status 3617", "ended 3617" } },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.name);
        UpdateRun run (quickScenario(), makeUpdateImage ("1.05", kFileStamp));
        HeardEvents heard;
        run.procedure->addListener (&heard);

        if (! test.withFile)
            run.folder.file.deleteFile();

        if (! test.withController)
        {
            UpdateRun::sim().remove (UpdateRun::sim().firstController());
            UpdateRun::deliverEverythingPending();
        }

        run.procedure->startCheck (run.folder.folder);
        EXPECT_EQ (heard.lines, test.expected);
    }
}

TEST (UpdateListenerHeadless, MayStopTheProcedureFromInsideAnEvent)
{
    // A front-end that ends on an event stops the worker from inside it: the worker
    // must not be held up by the event it asked for, nor wait to be ended by force.
    struct StopMidWrite final : public UpdateListener
    {
        void progressChanged (double progress) override
        {
            if (procedure == nullptr || progress < 0.1 || took >= 0)
                return;

            const auto started = juce::Time::getMillisecondCounter();
            procedure->stop();
            took = (int) (juce::Time::getMillisecondCounter() - started);
        }

        UpdateProcedure* procedure = nullptr;
        int took = -1;
    } stopper;

    UpdateRun run (quickScenario(), makeUpdateImage ("1.05", kFileStamp), 120000);
    stopper.procedure = run.procedure.get();
    run.procedure->addListener (&stopper);
    ASSERT_TRUE (run.checkController());
    ASSERT_TRUE (run.writeUpdate());

    ASSERT_GE (stopper.took, 0);
    EXPECT_LT (stopper.took, kStopTimeoutMs) << "the worker had to be ended by force";
    EXPECT_TRUE (requestsOfKind (UpdateRun::sim().receivedRequests(), Kind::finish).empty());
    EXPECT_FALSE (isErrorStatus (run.status()));
}
