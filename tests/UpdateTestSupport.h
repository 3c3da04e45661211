#pragma once

#include "device/HidCtrl.h"
#include "device/simulated/ModelLink.h"
#include "device/simulated/SimulatedController.h"
#include "protocol/ByteLayout.h"
#include "tests/MessageLoop.h"
#include "tests/SimulatedDeviceTestSupport.h"
#include "tools/UpdateImageBuilder.h"
#include "update/UpdateProcedure.h"

#include <functional>
#include <memory>
#include <vector>

// What the update procedure's tests share: a folder holding one update file, and
// one run of the update procedure against the simulated controller with the
// message loop turning on the test's (message) thread. No window takes part.
namespace update_test
{
using Kind = ControllerModel::RequestKind;
using Action = ControllerModel::ScriptedFault::Action;

// Long enough for any wait of the suite, also under the sanitizers on a busy
// machine; a wait that takes this long, or a run in which the controller hears
// nothing for this long, has hung.
constexpr int kHangMs = 60000;

// How long the simulated controller of a quick run stays off the bus after the finish.
constexpr int kQuickRestartMs = 50;

// The wait before each poll in a run on the controller model.
constexpr int kQuickPollIntervalMs = 1;

// The stamp of every test file; the simulated controller's default differs.
constexpr uint32_t kFileStamp = 0x20261209;

/** Runs the message loop until condition holds, for as long as the controller keeps
    receiving requests: a whole update may take minutes under a sanitizer on a busy
    machine. Gives up when the controller has heard nothing for kHangMs, or after
    overallMs whatever it hears. */
inline bool runWhileHeard (const std::function<bool()>& condition, int overallMs)
{
    return testing_support::runWhileProgressing (
        condition, []
        { return (int64_t) SimulatedController::instance().callCount (SimulatedController::Function::write); },
        kHangMs, overallMs);
}

/** runWhileHeard with the suite's longest wait. */
inline bool runUntil (const std::function<bool()>& condition)
{
    return runWhileHeard (condition, testing_support::kLongestWaitMs);
}

/** The same, giving up after timeoutMs whatever happens. */
inline bool runUntil (const std::function<bool()>& condition, int timeoutMs)
{
    return testing_support::runUntil (condition, timeoutMs);
}

/** Lets the message loop run for a while: whatever was posted is handled. */
inline void settle (int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
    runUntil ([end]
              { return juce::Time::getMillisecondCounter() >= end; },
              milliseconds + 1000);
}

/** A folder with one update file in it, removed when the test ends. */
struct UpdateFolder
{
    explicit UpdateFolder (const std::vector<uint8_t>& image)
    {
        folder.createDirectory();
        file.replaceWithData (image.data(), image.size());
    }

    ~UpdateFolder() { folder.deleteRecursively(); }

    juce::File folder = juce::File::createTempFile ("trb-update");
    juce::File file = folder.getChildFile ("trbkelo7__v102.bin");
};

/** What the procedure's listeners were told, as a front-end hears it. */
struct ToldEvents final : public UpdateListener
{
    void statusChanged (int32_t newStatus) override { statuses.push_back (newStatus); }
    void progressChanged (double newProgress) override { progress = newProgress; }

    std::vector<int32_t> statuses;
    double progress = 0.0;
};

/** One update procedure, on its own device link, on a freshly reset simulated controller. */
struct UpdateRun
{
    UpdateRun (const SimulatedScenario& scenario, const std::vector<uint8_t>& fileImage, int timeoutMs = kReplyTimeoutMs)
        : image (fileImage)
        , folder (fileImage)
        , replyTimeoutMs (timeoutMs)
    {
        sim().reset (scenario);
        link = std::make_unique<HidCtrl>();
        procedure = std::make_unique<UpdateProcedure> (*link);
        procedure->setReplyTimeoutMs (replyTimeoutMs);
        procedure->addListener (&told);
        link->open (procedure.get());
    }

    ~UpdateRun()
    {
        end();
        sim().waitUntilIdle (1000);
    }

    /** Ends the run as a front-end does when it goes: the worker stops, then the link
        closes, then the procedure goes. */
    void end()
    {
        if (procedure == nullptr)
            return;

        procedure->stop();
        link->close();
        procedure.reset();
        link.reset();
    }

    static SimulatedController& sim() { return SimulatedController::instance(); }

    /** Gives the occurrence-th request of a kind (counted from 1, as the simulator counts
        them) a reply time-out of its own; every other request keeps the wait it had. For
        the request whose time-out is under test: a healthy exchange on a slow machine must
        never run out of a time-out shortened for another one. Before the worker starts. */
    void timeOutQuickly (Kind kind, int occurrence, int timeoutMs)
    {
        procedure->setReplyTimeoutRule ([kind, occurrence, timeoutMs, otherMs = replyTimeoutMs, seen = 0] (const uint8_t* request) mutable
                                        {
                                            if (ControllerModel::kindOf (request) == kind && ++seen == occurrence)
                                                return timeoutMs;

                                            return otherMs; });
    }

    /** Lets whatever the simulator still has on its way (late replies, plug-ins after a
        delay) happen, and every notice it posted reach the procedure. */
    static void deliverEverythingPending() { testsupport::settleSimulator(); }

    int32_t status() const { return procedure->getStatus(); }
    bool workerRunning() const { return procedure->isWorkerRunning(); }

    /** The first "OK": checks the file and, with the controller there, lets the worker
        check the controller. True when the check ended (ready, an error, or no worker). */
    bool checkController()
    {
        procedure->startCheck (folder.folder);
        return runWhileHeard ([this]
                              { return ! workerRunning() || status() != ST_INITIAL; },
                              longestRunMs);
    }

    /** "Start" once the check passed, then runs until the worker has ended. */
    bool writeUpdate (const std::function<void()>& onEachMessage = {})
    {
        procedure->startUpdate();
        return runWhileHeard ([this, &onEachMessage]
                              {
                                  if (onEachMessage)
                                      onEachMessage();
                                  return ! workerRunning(); },
                              longestRunMs);
    }

    /** The check and, when it passed, the update, to the worker's end. */
    bool runToTheEnd()
    {
        if (! checkController())
            return false;

        if (status() == ST_READY)
            return writeUpdate();

        return runWhileHeard ([this]
                              { return ! workerRunning(); },
                              longestRunMs);
    }

    // How long a check or a write may take in all, however busy the controller
    // keeps the worker; a test that knows its run is short gives less.
    int longestRunMs = testing_support::kLongestWaitMs;

    /** How many requests of a kind the controller has received; cheap enough to ask
        on every message. */
    static int received (Kind kind)
    {
        int count = 0;
        sim().withModel ([&count, kind] (ControllerModel& model)
                         { count = model.requestCount (kind); });
        return count;
    }

    std::vector<uint8_t> image;
    UpdateFolder folder;
    int replyTimeoutMs; // every request's wait for its reply, unless timeOutQuickly() says otherwise
    ToldEvents told;
    std::unique_ptr<HidCtrl> link;
    std::unique_ptr<UpdateProcedure> procedure;
};

/**
    One update procedure on a ModelLink: the controller model answers each request
    inside the worker's write, with no device thread and no notices. For the long
    tables, whose rows are about what the procedure does with each answer; the tests
    about threads and notices run on the simulated bus (UpdateRun).
*/
struct ModelRun
{
    /** A run over a controller as scenario describes it (version, stamp, busy count,
        faults), or over model itself when one is given. */
    ModelRun (const SimulatedScenario& scenario, const std::vector<uint8_t>& fileImage, int timeoutMs = kReplyTimeoutMs)
        : ModelRun (modelFor (scenario), fileImage, timeoutMs)
    {
    }

    ModelRun (const ControllerModel& model, const std::vector<uint8_t>& fileImage, int timeoutMs = kReplyTimeoutMs)
        : folder (fileImage)
        , link (model)
        , replyTimeoutMs (timeoutMs)
    {
        procedure = std::make_unique<UpdateProcedure> (link);
        procedure->setReplyTimeoutMs (replyTimeoutMs);
        // The rows are about the answers, not the pace: a block's polls follow at once.
        procedure->setPollIntervalMs (kQuickPollIntervalMs);
        procedure->addListener (&told);
        link.open (procedure.get());
    }

    ~ModelRun()
    {
        procedure->stop();
        link.close();
    }

    static ControllerModel modelFor (const SimulatedScenario& scenario)
    {
        ControllerModel model;
        model.installFirmware (scenario.version, scenario.stamp);
        model.setBusyCount (scenario.busyCount);

        for (const auto& fault : scenario.faults)
            model.addFault (fault);

        return model;
    }

    int32_t status() const { return procedure->getStatus(); }
    bool workerRunning() const { return procedure->isWorkerRunning(); }

    /** Runs the message loop until condition holds, for as long as the model hears requests. */
    bool runWhileWritten (const std::function<bool()>& condition)
    {
        return testing_support::runWhileProgressing (
            condition, [this]
            { return link.writeCount(); },
            kHangMs, testing_support::kLongestWaitMs);
    }

    /** The check and, when it passed, the update, to the worker's end. */
    bool runToTheEnd()
    {
        procedure->startCheck (folder.folder);

        if (! runWhileWritten ([this]
                               { return ! workerRunning() || status() != ST_INITIAL; }))
            return false;

        if (status() == ST_READY)
            procedure->startUpdate();

        return runWhileWritten ([this]
                                { return ! workerRunning(); });
    }

    /** Lets every event the link posted (removals, returns, replies held back) happen. */
    void deliverEverythingPending()
    {
        runWhileWritten ([this]
                         { return link.pendingEvents() == 0; });
        procedure->tellListenersNow();
    }

    /** The model as the run left it. */
    ControllerModel model()
    {
        ControllerModel copy;
        link.withModel ([&copy] (ControllerModel& m)
                        { copy = m; });
        return copy;
    }

    /** How many requests of a kind the model has received. */
    int received (Kind kind)
    {
        int count = 0;
        link.withModel ([&count, kind] (ControllerModel& m)
                        { count = m.requestCount (kind); });
        return count;
    }

    UpdateFolder folder;
    ModelLink link;
    int replyTimeoutMs;
    ToldEvents told;
    std::unique_ptr<UpdateProcedure> procedure;
};

/** A reply time-out rule that gives the count-th request of one kind timeoutMs and
    every other request the program's full time-out, so that a slow machine cannot
    make another one time out. */
inline UpdateProcedure::ReplyTimeoutRule shortTimeoutFor (Kind kind, int count, int timeoutMs)
{
    auto seen = std::make_shared<int> (0); // the worker thread is its only user

    return [kind, count, timeoutMs, seen] (const uint8_t* request)
    {
        if (ControllerModel::kindOf (request) == kind && ++*seen == count)
            return timeoutMs;

        return kReplyTimeoutMs;
    };
}

/** The requests of one kind, in order. */
inline std::vector<SimulatedController::ReceivedRequest> requestsOfKind (const std::vector<SimulatedController::ReceivedRequest>& all,
                                                                         Kind kind)
{
    std::vector<SimulatedController::ReceivedRequest> found;

    for (const auto& request : all)
        if (request.kind == kind)
            found.push_back (request);

    return found;
}

inline uint32_t littleEndian32 (const ControllerModel::Report& report, int offset)
{
    return readLittleEndian32 (report.data() + offset);
}

inline std::vector<uint8_t> slice (const std::vector<uint8_t>& bytes, int64_t offset, int64_t length)
{
    return { bytes.begin() + offset, bytes.begin() + offset + length };
}

/** A scenario for fast runs: no latency, never busy, a short restart after the finish. */
inline SimulatedScenario quickScenario()
{
    SimulatedScenario scenario;
    scenario.latencyMs = 0;
    scenario.busyCount = 0;
    scenario.restartMs = kQuickRestartMs;
    return scenario;
}
} // namespace update_test
