#include "device/HidCtrl.h"
#include "device/simulated/SimulatedController.h"
#include "protocol/Reports.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <array>

namespace juce
{
// The framework's own single step of the message loop: waits for the next message and
// dispatches it, as the application's loop does (runDispatchLoopUntil would sleep in
// 1 ms steps instead of waking at once).
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
struct CountingListener final : public HidHandler
{
    void hidDeviceRemoved() override { }
    void hidDeviceArrived() override { }
    void hidInputReceived (int) override { ++replies; }

    int replies = 0;
};

// One request-reply exchange through HidCtrl and the simulated controller, at the latency
// of the argument in ms (0 as in the tests, 1 as in the demo): the write, the device
// thread's answer, the notice through the message queue, the read. A full update is about
// 19,000 of these.
void exchangeThroughTheLink (benchmark::State& state)
{
    SimulatedScenario scenario;
    scenario.latencyMs = (int) state.range (0);
    SimulatedController::instance().reset (scenario);

    HidCtrl ctrl;
    CountingListener listener;

    if (! ctrl.open (&listener))
    {
        state.SkipWithError ("no simulated controller");
        return;
    }

    const auto status = statusQuery();

    for (auto _ : state)
    {
        const auto before = listener.replies;
        ctrl.write (status.data());

        while (listener.replies == before)
            juce::dispatchNextMessageOnSystemQueue (false);
    }

    state.SetItemsProcessed (state.iterations());
    ctrl.close();
}
}

BENCHMARK (exchangeThroughTheLink)->Arg (0)->Arg (1)->UseRealTime();

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
