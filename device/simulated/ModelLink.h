#pragma once

#include "device/ControllerLink.h"
#include "device/HidHandler.h"
#include "device/simulated/ControllerModel.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

/**
    A ControllerLink that answers from a ControllerModel directly, without a device
    library, a device thread or notices: the update procedure's long test tables run
    on it in a fraction of the time the simulated bus takes, in every build tree.

    How a reply reaches the procedure: write() hands the request to the model and, when
    the model answers at once, calls the handler's hidInputReceived() before it returns,
    on the writing (worker) thread. The procedure has marked the request as waiting
    before it writes, so it takes the reply and signals its own reply event; its wait
    then returns at once. Nothing else is delivered from the writing thread: a removal,
    a return and a reply the model holds back (extraDelayMs) are posted to the message
    thread, as the real link delivers them, because the procedure stops its worker from
    hidDeviceRemoved().

    Threads: write() on the worker; open(), close(), and the posted events on the message
    thread; the model, the log of exchanges and the input buffer are guarded by one lock,
    so tests may look at them from the message thread while the worker runs. close()
    must not overlap a write() (the worker has ended first), as with HidCtrl.
*/
class ModelLink final : public ControllerLink
{
public:
    /** One request as the model received it and the reply it gave at once, if any. */
    struct Exchange
    {
        WireReport request {};
        bool replied = false;
        WireReport reply {};
    };

    /** A link over a copy of model (a default controller when none is given). */
    explicit ModelLink (const ControllerModel& model = {});

    /** Drops whatever is still posted: events of a link that is gone reach nobody. */
    ~ModelLink() override;

    /** Connects: from now on write() reaches the model and handler hears the events.
        Message thread. */
    void open (HidHandler* handler);

    /** Disconnects and forgets the handler; posted events still to come reach nobody.
        Message thread, after the worker has ended. */
    void close();

    bool isConnected() const noexcept override { return shared->connected.load(); }

    /** Hands one 64-byte report to the model and delivers its immediate reply through
        the handler's hidInputReceived() before returning. False, sending nothing, while
        disconnected. Worker thread. */
    bool write (const uint8_t* report) override;

    int takeInput (uint8_t* destination) noexcept override;

    /** Runs f on the model under the link's lock. Any thread. */
    void withModel (const std::function<void (ControllerModel&)>& f);

    /** Every request the model received with its immediate reply, in order. Any thread. */
    std::vector<Exchange> exchanges() const;

    /** How many times write() was called, also while disconnected. Any thread. */
    int64_t writeCount() const noexcept { return shared->writes.load(); }

    /** How many posted events (removals, returns, held-back replies) have not yet been
        handled. Any thread. */
    int pendingEvents() const noexcept { return shared->pending.load(); }

private:
    // What posted events need after the link itself may be gone.
    struct Shared
    {
        juce::CriticalSection lock; // guards model, log, input and handler
        ControllerModel model;
        std::vector<Exchange> log;
        WireReport input {};
        int inputLength = 0;
        HidHandler* handler = nullptr;
        std::atomic<bool> connected { false };
        std::atomic<int64_t> writes { 0 };
        std::atomic<int> pending { 0 };
    };

    static void deliverInput (Shared& s, const WireReport& reply);
    static void post (const std::shared_ptr<Shared>& s, int delayMs, std::function<void (Shared&)> event);

    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    JUCE_DECLARE_NON_COPYABLE (ModelLink)
};
