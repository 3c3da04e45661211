// What a full update costs the host, against the simulated controller, and the
// floor that cost is measured against.
//
// One run prints, per answer latency of the simulated controller (0 and 100 us):
// - the number of request-reply exchanges of a full update;
// - the waits the procedure prescribes (1 ms per step, 100 ms before each poll);
// - the host's overhead per exchange = (total - prescribed waits - exchanges x latency) / exchanges;
// - the floor: a plain ring worker -> device thread -> message thread -> worker with the
//   same hand-off primitives (a juce::WaitableEvent, a device thread queue under a
//   mutex and condition variable, a message posted to the message thread), as many
//   round trips as the update has exchanges, at the same latency;
// - the worker's peak memory while it writes: the checked image it writes from (the
//   whole update file, read once by the check and kept) plus the peak heap the worker
//   thread itself allocates and holds on top of it.
//
// As in the program, the message loop runs on the main thread and blocks in the
// framework's own wait for the next message.
//
// Usage: UpdateProcedureBench [rounds]   (default 3; the medians are printed last)

#include "device/simulated/SimulatedController.h"
#include "tools/UpdateImageBuilder.h"
#include "ui/MainComponent.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <malloc.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

namespace juce
{
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

//==============================================================================
// Heap accounting. The program's own malloc family wraps glibc's and counts the
// bytes that one watched thread (the update worker) holds, so the figure is the
// worker's, not the simulated controller's request log. The sanitizers bring
// their own allocator; there the counting is left out.
#if ! defined(__SANITIZE_ADDRESS__) && ! defined(__SANITIZE_THREAD__)
#define TRB_BENCH_COUNTS_HEAP 1

extern "C" void* __libc_malloc (size_t);
extern "C" void* __libc_calloc (size_t, size_t);
extern "C" void* __libc_realloc (void*, size_t);
extern "C" void* __libc_memalign (size_t, size_t);
extern "C" void __libc_free (void*);

namespace heap
{
// Blocks the watched thread allocated and that are still live, whichever thread
// frees them (a request's bytes are allocated by the worker and freed by the
// device thread). Only a handful are live at a time.
struct Entry
{
    void* pointer;
    size_t size;
};

constexpr int kMaxEntries = 4096;
Entry entries[kMaxEntries];
int used = 0;
bool overflowed = false;
int64_t live = 0, peak = 0;
std::atomic_flag busy = ATOMIC_FLAG_INIT;
std::atomic<pthread_t> watched {};
std::atomic<bool> watching { false };

struct Guard
{
    Guard()
    {
        while (busy.test_and_set (std::memory_order_acquire))
        {
        }
    }

    ~Guard() { busy.clear (std::memory_order_release); }
};

inline void added (void* pointer) noexcept
{
    if (pointer == nullptr || ! watching.load (std::memory_order_relaxed) || ! pthread_equal (pthread_self(), watched.load()))
        return;

    const auto size = malloc_usable_size (pointer);
    const Guard guard;

    if (used < kMaxEntries)
        entries[used++] = { pointer, size };
    else
        overflowed = true;

    live += (int64_t) size;
    peak = std::max (peak, live);
}

inline void removed (void* pointer) noexcept
{
    if (pointer == nullptr || ! watching.load (std::memory_order_relaxed))
        return;

    const Guard guard;

    for (int i = 0; i < used; ++i)
    {
        if (entries[i].pointer == pointer)
        {
            live -= (int64_t) entries[i].size;
            entries[i] = entries[--used];
            return;
        }
    }
}

void watch (pthread_t thread)
{
    const Guard guard;
    used = 0;
    live = peak = 0;
    overflowed = false;
    watched = thread;
    watching = true;
}

int64_t stop()
{
    watching = false;
    const Guard guard;
    return overflowed ? -1 : peak;
}
} // namespace heap

extern "C"
{
    void* malloc (size_t size)
    {
        auto* p = __libc_malloc (size);
        heap::added (p);
        return p;
    }

    void* calloc (size_t count, size_t size)
    {
        auto* p = __libc_calloc (count, size);
        heap::added (p);
        return p;
    }

    void* realloc (void* old, size_t size)
    {
        heap::removed (old);
        auto* p = __libc_realloc (old, size);
        heap::added (p != nullptr || size == 0 ? p : old);
        return p;
    }

    void* memalign (size_t alignment, size_t size)
    {
        auto* p = __libc_memalign (alignment, size);
        heap::added (p);
        return p;
    }

    void* aligned_alloc (size_t alignment, size_t size) { return memalign (alignment, size); }

    int posix_memalign (void** out, size_t alignment, size_t size)
    {
        *out = memalign (alignment, size);
        return *out != nullptr ? 0 : ENOMEM;
    }

    void free (void* p)
    {
        heap::removed (p);
        __libc_free (p);
    }
}
#else
#define TRB_BENCH_COUNTS_HEAP 0
#endif

namespace
{
using Clock = std::chrono::steady_clock;

double millisecondsSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
}

void runMessageLoopUntil (const std::function<bool()>& done)
{
    while (! done())
        juce::dispatchNextMessageOnSystemQueue (false);
}

//==============================================================================
// The floor: the same three hand-offs with nothing else in them.
class Ring final : private juce::Thread
{
public:
    Ring()
        : juce::Thread ("RingWorker")
    {
    }

    ~Ring() override { stop(); }

    /** Round trips through worker, device thread and message thread; returns the milliseconds. */
    double run (int roundTrips, int latencyMicroseconds)
    {
        trips = roundTrips;
        latency = std::chrono::microseconds (latencyMicroseconds);
        finished = false;
        device = std::thread ([this]
                              { deviceLoop(); });

        const auto start = Clock::now();
        startThread();
        runMessageLoopUntil ([this]
                             { return finished.load(); });
        const auto took = millisecondsSince (start);

        stop();
        return took;
    }

private:
    struct Reply final : public juce::CallbackMessage
    {
        explicit Reply (Ring& ringToWake)
            : ring (ringToWake)
        {
        }

        void messageCallback() override { ring.replyEvent.signal(); }

        Ring& ring;
    };

    void run() override
    {
        for (int i = 0; i < trips && ! threadShouldExit(); ++i)
        {
            replyEvent.reset();

            {
                std::lock_guard<std::mutex> guard (queueLock);
                queue.push_back (Clock::now() + latency);
            }

            queueWake.notify_one();
            replyEvent.wait (kReplyTimeoutMs);
        }

        finished = true;
        juce::MessageManager::callAsync ([] {});
    }

    void deviceLoop()
    {
        std::unique_lock<std::mutex> guard (queueLock);

        while (! deviceShouldExit)
        {
            if (queue.empty())
            {
                queueWake.wait (guard);
                continue;
            }

            const auto due = queue.front();

            if (due > Clock::now())
            {
                queueWake.wait_until (guard, due);
                continue;
            }

            queue.pop_front();
            (new Reply (*this))->post();
        }
    }

    void stop()
    {
        stopThread (kStopTimeoutMs);

        {
            std::lock_guard<std::mutex> guard (queueLock);
            deviceShouldExit = true;
        }

        queueWake.notify_all();

        if (device.joinable())
            device.join();

        deviceShouldExit = false;
    }

    int trips = 0;
    std::chrono::microseconds latency { 0 };
    std::atomic<bool> finished { false };
    juce::WaitableEvent replyEvent;
    std::mutex queueLock;
    std::condition_variable queueWake;
    std::deque<Clock::time_point> queue;
    bool deviceShouldExit = false;
    std::thread device;
};

//==============================================================================
struct UpdateFigures
{
    int exchanges = 0;
    int blocks = 0;
    int polls = 0;
    double totalMs = 0.0;
    double prescribedMs = 0.0;
    int64_t workerPeakBytes = -1;
    bool completed = false;
};

UpdateFigures runFullUpdate (const juce::File& folder, int latencyMicroseconds, bool countHeap)
{
    using Kind = ControllerModel::RequestKind;
    auto& sim = SimulatedController::instance();
    SimulatedScenario scenario;
    scenario.latencyMs = 0;
    scenario.busyCount = 0;
    scenario.restartMs = -1; // measured up to the finish request; no restart to wait out
    sim.reset (scenario);
    sim.setLatencyMicroseconds (latencyMicroseconds);

    juce::ignoreUnused (countHeap);
    UpdateFigures figures;
    auto session = std::make_unique<UpdateSession>();
    auto component = std::make_unique<MainComponent> (*session);

    const auto checkStart = Clock::now();
    component->getProcedure().startCheck (folder);
    runMessageLoopUntil ([&]
                         { return component->getStatus() != ST_INITIAL || ! component->getProcedure().isWorkerRunning(); });
    const auto checkMs = millisecondsSince (checkStart);

    if (component->getStatus() != ST_READY)
        return figures;

#if TRB_BENCH_COUNTS_HEAP
    if (countHeap)
        heap::watch ((pthread_t) component->getProcedure().getWorkerThreadId());
#endif

    const auto writeStart = Clock::now();
    // The worker asks for a display refresh after it set its final status, so the
    // loop sees that status; the thread's own end posts nothing to wake it.
    component->startUpdate();
    runMessageLoopUntil ([&]
                         {
                             const auto status = component->getStatus();
                             return status == ST_COMPLETE || isErrorStatus (status); });
    figures.totalMs = checkMs + millisecondsSince (writeStart);
    // What follows the finish request (the controller's restart and the query that
    // confirms the write) is no part of the write's cost: the worker is stopped.
    component->getProcedure().stop();

#if TRB_BENCH_COUNTS_HEAP
    if (countHeap)
        figures.workerPeakBytes = heap::stop();
#endif

    figures.completed = component->getStatus() == ST_COMPLETE;
    component.reset();
    session.reset();
    sim.waitUntilIdle (1000);

    for (const auto& request : sim.receivedRequests())
    {
        if (request.kind == Kind::finish)
            break;

        figures.exchanges += request.kind != Kind::finish ? 1 : 0;
        figures.blocks += request.kind == Kind::blockHeader ? 1 : 0;
        figures.polls += request.kind == Kind::poll ? 1 : 0;
    }

    // The worker's passes: the check; the ready pass that "Start" ends and the
    // prepare; per block the header, the data and the checksum, then one 100 ms
    // wait before each poll; the pass that finds no region left.
    const auto stepPasses = 1 + 2 + 3 * figures.blocks + 1;
    figures.prescribedMs = stepPasses * kStepIntervalMs + figures.polls * kPollIntervalMs;
    return figures;
}

double median (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main (int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max (1, std::atoi (argv[1])) : 3;
    juce::ScopedJuceInitialiser_GUI framework;

    const auto folder = juce::File::createTempFile ("trb-bench");
    folder.createDirectory();
    const auto image = makeUpdateImage ("1.05", 0x20261209, 5);
    folder.getChildFile ("trbkelo7__v105.bin").replaceWithData (image.data(), image.size());

    std::printf ("full update against the simulated controller (busy count 0), %d rounds\n\n", rounds);
    std::printf ("%8s %6s %9s %10s %11s %12s %13s %12s\n", "latency", "round", "exchanges", "total ms",
                 "prescribed", "host us/ex", "ring us/trip", "host / ring");

    int exitCode = 0;

    for (const int latency : { 0, 100 })
    {
        std::vector<double> hostOverheads, ringOverheads, ratios;

        for (int round = 1; round <= rounds; ++round)
        {
            const auto update = runFullUpdate (folder, latency, false);

            if (! update.completed || update.exchanges == 0)
            {
                std::printf ("the update did not complete\n");
                exitCode = 1;
                break;
            }

            const auto latencyMs = latency / 1000.0;
            const auto hostUs = (update.totalMs - update.prescribedMs - update.exchanges * latencyMs) * 1000.0 / update.exchanges;

            Ring ring;
            const auto ringMs = ring.run (update.exchanges, latency);
            const auto ringUs = (ringMs - update.exchanges * latencyMs) * 1000.0 / update.exchanges;

            hostOverheads.push_back (hostUs);
            ringOverheads.push_back (ringUs);
            ratios.push_back (hostUs / ringUs);

            std::printf ("%6d us %6d %9d %10.1f %8.0f ms %12.2f %13.2f %12.2f\n", latency, round, update.exchanges,
                         update.totalMs, update.prescribedMs, hostUs, ringUs, hostUs / ringUs);
        }

        if (! hostOverheads.empty())
            std::printf ("%6d us median: host %.2f us per exchange, ring floor %.2f us per round trip, ratio %.2f (target <= 1.5)\n\n",
                         latency, median (hostOverheads), median (ringOverheads), median (ratios));
    }

    // Counting costs a lock on every free, so the heap is measured in a run of its
    // own, after the timed ones have grown the simulator's logs to their size.
    const auto counted = runFullUpdate (folder, 0, true);

    if (counted.workerPeakBytes >= 0)
        std::printf ("worker's peak memory while it writes: %lld bytes (%.1f KiB) = the checked image %lld bytes "
                     "+ %lld bytes the worker thread allocated itself (one block is %d bytes)\n",
                     (long long) (kImageSize + counted.workerPeakBytes), (kImageSize + counted.workerPeakBytes) / 1024.0,
                     (long long) kImageSize, (long long) counted.workerPeakBytes, kBlockSize);
    else
        std::printf ("worker's peak memory: the checked image %lld bytes; the worker's own heap is not counted in this build\n",
                     (long long) kImageSize);

    folder.deleteRecursively();
    return exitCode;
}
