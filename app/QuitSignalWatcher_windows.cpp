// The console's requests to end the program on Windows: Ctrl+C, Ctrl+Break and
// the closing of the console window (also the end of the session as a console
// sees it). The system calls the handler on a thread of its own; the request is
// posted to the message thread, which quits through the program's orderly path.
// A closing console ends the process as soon as the handler returns, so for that
// one the handler waits (for as long as the system allows) until the watcher is
// gone, which happens at the end of that orderly quit. A further request ends the
// process at once, with the status endAtOnce gives.

#include "app/QuitSignalWatcher.h"

#include "app/StandardStreams.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace
{
// Windows ends a process that has not returned from a close request after five
// seconds; the wait stays just inside that.
constexpr DWORD kCloseWaitMs = 4500;
constexpr int kLastLineWaitMs = 500;

std::atomic<QuitSignalWatcher::EndAtOnce> endAtOnceHandler { nullptr };
std::atomic<bool> firstRequestSeen { false };

// What the console handler shares with the message thread. Kept alive by the
// handler thread's reference while it waits, however the watcher ends.
class QuitRequests final : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<QuitRequests>;

    explicit QuitRequests (std::function<void()> callback)
        : onQuitRequested (std::move (callback))
    {
    }

    // Message thread.
    void deliver()
    {
        if (! stopped && onQuitRequested != nullptr)
            onQuitRequested();
    }

    // Message thread: no more calls, and a closing console's wait ends.
    void stop()
    {
        stopped = true;
        gone.signal();
    }

    bool waitUntilGone (DWORD ms) { return gone.wait ((int) ms); }

private:
    std::function<void()> onQuitRequested;
    std::atomic<bool> stopped { false };
    juce::WaitableEvent gone { true };
};

// The watcher's requests, taken by the handler under the lock so that they cannot
// go away between reading the pointer and holding a reference.
std::mutex currentLock;
QuitRequests* currentRequests = nullptr; // guarded by currentLock

QuitRequests::Ptr takeCurrentRequests()
{
    const std::lock_guard<std::mutex> guard (currentLock);
    return QuitRequests::Ptr (currentRequests);
}

void setCurrentRequests (QuitRequests* requests)
{
    const std::lock_guard<std::mutex> guard (currentLock);
    currentRequests = requests;
}

BOOL WINAPI onConsoleRequest (DWORD kind)
{
    const auto requests = takeCurrentRequests();

    if (requests == nullptr)
        return FALSE;

    if (firstRequestSeen.exchange (true))
        if (const auto endAtOnce = endAtOnceHandler.load())
        {
            const auto exitStatus = endAtOnce();
            // The ending line goes to the console and the log file through a thread that
            // ending the process would stop.
            settleStandardStreams (kLastLineWaitMs);
            ::TerminateProcess (::GetCurrentProcess(), (UINT) exitStatus);
        }

    juce::MessageManager::callAsync ([requests]
                                     { requests->deliver(); });

    // Returning from a close, log-off or shutdown request ends the process: the
    // orderly quit gets the time the system gives.
    if (kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT)
        requests->waitUntilGone (kCloseWaitMs);

    return TRUE;
}
} // namespace

class QuitSignalWatcher::Watch final
{
public:
    Watch (std::function<void()> callback, EndAtOnce endAtOnce)
        : requests (new QuitRequests (std::move (callback)))
    {
        jassert (takeCurrentRequests() == nullptr); // only one watcher at a time
        firstRequestSeen = false;
        endAtOnceHandler = endAtOnce;
        setCurrentRequests (requests.get());
        installed = ::SetConsoleCtrlHandler (onConsoleRequest, TRUE) != FALSE;

        if (! installed)
            setCurrentRequests (nullptr);
    }

    ~Watch()
    {
        if (installed)
            ::SetConsoleCtrlHandler (onConsoleRequest, FALSE);

        endAtOnceHandler = nullptr;
        setCurrentRequests (nullptr);
        requests->stop();
    }

    bool isWatching() const noexcept { return installed; }

private:
    const QuitRequests::Ptr requests;
    bool installed = false;

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
