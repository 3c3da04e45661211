// SIGTERM, SIGINT and SIGHUP on Linux: the handler writes one byte into a pipe
// (async-signal-safe); the pipe's read end is watched by the framework's own
// event loop, which runs the callback on the message thread. A later signal
// ends the process from the handler itself. No thread of our own, nothing
// shared but the pipe and two atomics.

#include "app/QuitSignalWatcher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace
{
constexpr std::array<int, 3> kQuitSignals { SIGTERM, SIGINT, SIGHUP };

// The pipe's write end, read by the signal handler. A lock-free atomic is safe
// to read in a handler.
std::atomic<int> signalPipeWriteEnd { -1 };
static_assert (std::atomic<int>::is_always_lock_free);

// How the program ends at a signal after the first; null for never.
std::atomic<QuitSignalWatcher::EndAtOnce> endAtOnceHandler { nullptr };
static_assert (std::atomic<QuitSignalWatcher::EndAtOnce>::is_always_lock_free);
std::atomic<bool> firstSignalSeen { false };
static_assert (std::atomic<bool>::is_always_lock_free);

extern "C" void onQuitSignal (int)
{
    const auto savedErrno = errno;

    if (firstSignalSeen.exchange (true))
        if (const auto endAtOnce = endAtOnceHandler.load())
            ::_exit (endAtOnce());

    const auto fd = signalPipeWriteEnd.load();

    if (fd >= 0)
    {
        const char byte = 1;
        // A full pipe already holds a pending request: a failed write loses nothing.
        [[maybe_unused]] const auto written = ::write (fd, &byte, 1);
    }

    errno = savedErrno;
}
} // namespace

class QuitSignalWatcher::Watch final
{
public:
    Watch (std::function<void()> callback, EndAtOnce endAtOnce)
        : onQuitRequested (std::move (callback))
    {
        jassert (signalPipeWriteEnd.load() < 0); // only one watcher at a time
        firstSignalSeen = false;
        endAtOnceHandler = endAtOnce;

        if (::pipe2 (pipeEnds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        {
            pipeEnds = { -1, -1 };
            return;
        }

        signalPipeWriteEnd = pipeEnds[1];
        juce::LinuxEventLoop::registerFdCallback (pipeEnds[0], [this] (int fd)
                                                  { drainAndNotify (fd); });

        struct sigaction action
        {
        };
        action.sa_handler = onQuitSignal;
        sigemptyset (&action.sa_mask);
        action.sa_flags = SA_RESTART;

        for (size_t i = 0; i < kQuitSignals.size(); ++i)
            installed[i] = ::sigaction (kQuitSignals[i], &action, &previous[i]) == 0;
    }

    ~Watch()
    {
        for (size_t i = 0; i < kQuitSignals.size(); ++i)
            if (installed[i])
                ::sigaction (kQuitSignals[i], &previous[i], nullptr);

        endAtOnceHandler = nullptr;

        if (pipeEnds[0] >= 0)
        {
            signalPipeWriteEnd = -1;
            juce::LinuxEventLoop::unregisterFdCallback (pipeEnds[0]);
            ::close (pipeEnds[0]);
            ::close (pipeEnds[1]);
        }
    }

    bool isWatching() const noexcept
    {
        return std::all_of (installed.begin(), installed.end(), [] (bool done)
                            { return done; });
    }

private:
    void drainAndNotify (int fd)
    {
        char buffer[64];

        while (::read (fd, buffer, sizeof (buffer)) > 0)
        {
        }

        if (onQuitRequested != nullptr)
            onQuitRequested();
    }

    std::function<void()> onQuitRequested;
    std::array<int, 2> pipeEnds { -1, -1 };
    std::array<struct sigaction, kQuitSignals.size()> previous {};
    std::array<bool, kQuitSignals.size()> installed {};

    JUCE_DECLARE_NON_COPYABLE (Watch)
};

QuitSignalWatcher::QuitSignalWatcher (std::function<void()> onQuitRequested, EndAtOnce endAtOnce)
    : watch (std::make_unique<Watch> (std::move (onQuitRequested), endAtOnce))
{
}

QuitSignalWatcher::~QuitSignalWatcher() = default;

bool QuitSignalWatcher::isWatching() const noexcept
{
    return watch->isWatching();
}
