// The hand-over between launches on Windows: a named pipe called after the
// running instance's hand-over name (random per instance, published by the
// instance lock). The pipe is made first-instance-only and refuses remote
// clients; its default security lets only this user (and administrators or the
// system) write to it, and each end checks that the other runs as this user
// before it trusts a byte. One message per launch (message mode), answered with
// one acknowledgement byte. A launch lets the instance take the foreground
// (AllowSetForegroundWindow) before it sends, since Windows gives the foreground
// only to the process the user last worked with.

#include "app/InstanceHandover.h"
#include "app/UserSid_windows.h"

#include "platform/ScopedHandle.h"
#include "text/ExternalText.h"

#include <windows.h>

#include <sddl.h>

#include <string>
#include <thread>

namespace
{
// A command line longer than this is not a launch of ours; it is dropped.
constexpr size_t kMaxMessageBytes = 64 * 1024;
// How long the instance gives a launch for its whole message: one that trickles
// its bytes must not keep the launches behind it from being heard.
constexpr DWORD kMessageTimeoutMs = 1000;
// How long a launch waits for the instance's acknowledgement: longer than the
// instance may spend on a launch ahead of it.
constexpr DWORD kAcknowledgementTimeoutMs = 3 * kMessageTimeoutMs;
constexpr int kRetryIntervalMs = 50;
constexpr DWORD kFailedConnectionPauseMs = 100;
constexpr DWORD kPipeBufferBytes = 4096;
constexpr char kAcknowledgement = 'A';

std::wstring pipeNameFor (const juce::String& applicationName)
{
    return std::wstring (L"\\\\.\\pipe\\") + applicationName.toWideCharPointer();
}

bool isThisUser (DWORD processId)
{
    const auto user = userSidOfProcess (processId);
    return user.isNotEmpty() && user == userSidOfProcess (::GetCurrentProcessId());
}

// Runs one overlapped call to its end: waits for it (or for wake, when given,
// which means "give up"), at most timeoutMs (INFINITE for no limit). A call given
// up on is cancelled and waited for, so that its buffer is free again.
bool finishOverlapped (HANDLE handle, OVERLAPPED& pending, BOOL started, HANDLE wake, DWORD timeoutMs, DWORD& transferred)
{
    transferred = 0;

    if (started)
        return ::GetOverlappedResult (handle, &pending, &transferred, FALSE) != FALSE;

    const auto error = ::GetLastError();

    if (error == ERROR_MORE_DATA)
    {
        ::GetOverlappedResult (handle, &pending, &transferred, FALSE);
        ::SetLastError (ERROR_MORE_DATA);
        return false;
    }

    if (error != ERROR_IO_PENDING)
        return false;

    const HANDLE events[2] = { pending.hEvent, wake };
    const auto waited = ::WaitForMultipleObjects (wake != nullptr ? 2 : 1, events, FALSE, timeoutMs);

    if (waited != WAIT_OBJECT_0)
    {
        ::CancelIoEx (handle, &pending);
        ::GetOverlappedResult (handle, &pending, &transferred, TRUE);
        ::SetLastError (ERROR_OPERATION_ABORTED);
        return false;
    }

    return ::GetOverlappedResult (handle, &pending, &transferred, FALSE) != FALSE;
}

struct Overlapped
{
    Overlapped() { call.hEvent = event.get(); }

    ScopedHandle event { ::CreateEventW (nullptr, TRUE, FALSE, nullptr) };
    OVERLAPPED call {};

    void reset() noexcept
    {
        const auto handle = call.hEvent;
        call = {};
        call.hEvent = handle;
        ::ResetEvent (handle);
    }
};
} // namespace

//==============================================================================
class InstanceHandover::Listener final
{
public:
    Listener (const juce::String& name, Receiver receiverToUse)
        : applicationName (name)
        , delivery (std::make_shared<Delivery> (std::move (receiverToUse)))
    {
        pipe.reset (::CreateNamedPipeW (pipeNameFor (applicationName).c_str(),
                                        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                        1, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));

        if (! pipe.isValid() || ! wake.isValid() || ! io.event.isValid())
            return;

        thread = std::thread ([this]
                              { listen(); });
    }

    ~Listener()
    {
        // Launches already queued on the message thread must not reach a
        // receiver that is going away; it is only touched on that thread.
        delivery->receiver = nullptr;

        if (thread.joinable())
        {
            ::SetEvent (wake.get());
            thread.join();
        }
    }

    bool isListening() const noexcept { return thread.joinable(); }

private:
    struct Delivery
    {
        explicit Delivery (Receiver r)
            : receiver (std::move (r))
        {
        }
        Receiver receiver;
    };

    void listen()
    {
        for (;;)
        {
            io.reset();
            DWORD unused = 0;
            const auto started = ::ConnectNamedPipe (pipe.get(), &io.call);

            // A launch that connected between the pipe's creation (or the last
            // disconnection) and this call is there already.
            const bool connected = ::GetLastError() == ERROR_PIPE_CONNECTED
                                   || finishOverlapped (pipe.get(), io.call, started, wake.get(), INFINITE, unused);

            if (::WaitForSingleObject (wake.get(), 0) == WAIT_OBJECT_0)
                return;

            if (connected)
            {
                ULONG client = 0;

                if (::GetNamedPipeClientProcessId (pipe.get(), &client) && isThisUser (client))
                    receiveFromClient();
            }

            ::DisconnectNamedPipe (pipe.get());

            // A pipe that keeps failing (a launch that left at once, or worse) must not
            // be retried in a busy loop.
            if (! connected && ::WaitForSingleObject (wake.get(), kFailedConnectionPauseMs) == WAIT_OBJECT_0)
                return;
        }
    }

    void receiveFromClient()
    {
        juce::MemoryBlock message;
        char buffer[kPipeBufferBytes];
        const auto giveUpAt = ::GetTickCount64() + kMessageTimeoutMs;

        for (;;)
        {
            const auto now = ::GetTickCount64();

            if (now >= giveUpAt)
                return;

            io.reset();
            DWORD got = 0;
            const auto started = ::ReadFile (pipe.get(), buffer, sizeof (buffer), nullptr, &io.call);
            const bool whole = finishOverlapped (pipe.get(), io.call, started, wake.get(), (DWORD) (giveUpAt - now), got);
            const bool more = ! whole && ::GetLastError() == ERROR_MORE_DATA;

            if (! whole && ! more)
                return;

            message.append (buffer, got);

            if (message.getSize() > kMaxMessageBytes)
                return;

            if (whole)
                break;
        }

        const auto commandLine = commandLineFromMessage (applicationName, message.getData(), message.getSize());

        if (! commandLine.has_value())
            return;

        const auto queued = juce::MessageManager::callAsync ([delivery = delivery, commandLine = *commandLine]
                                                             {
                                                                 if (delivery->receiver != nullptr)
                                                                     delivery->receiver (commandLine); });

        // The acknowledgement tells the launch that its command line will be
        // delivered; without one it knows the hand-over failed.
        if (queued)
        {
            io.reset();
            DWORD sent = 0;
            const auto started = ::WriteFile (pipe.get(), &kAcknowledgement, 1, nullptr, &io.call);

            if (finishOverlapped (pipe.get(), io.call, started, wake.get(), kMessageTimeoutMs, sent))
                ::FlushFileBuffers (pipe.get());
        }
    }

    const juce::String applicationName;
    const std::shared_ptr<Delivery> delivery;
    ScopedHandle pipe;
    ScopedHandle wake { ::CreateEventW (nullptr, TRUE, FALSE, nullptr) };
    Overlapped io;
    std::thread thread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Listener)
};

//==============================================================================
InstanceHandover::InstanceHandover (const juce::String& applicationName, Receiver receiver)
    : listener (std::make_unique<Listener> (applicationName, std::move (receiver)))
{
}

InstanceHandover::~InstanceHandover() = default;

bool InstanceHandover::isListening() const noexcept
{
    return listener->isListening();
}

bool InstanceHandover::sendToRunningInstance (const juce::String& applicationName,
                                              const juce::String& commandLine,
                                              int waitForListenerMs)
{
    const auto name = pipeNameFor (applicationName);
    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, waitForListenerMs);

    for (;;)
    {
        ScopedHandle connection { ::CreateFileW (name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                                 nullptr) };

        if (connection.isValid())
        {
            ULONG server = 0;
            DWORD mode = PIPE_READMODE_MESSAGE;

            if (! ::GetNamedPipeServerProcessId (connection.get(), &server) || ! isThisUser (server)
                || ! ::SetNamedPipeHandleState (connection.get(), &mode, nullptr, nullptr))
                return false;

            // The instance brings its window to the front when it hears of this
            // launch; Windows lets it only with this process's leave.
            ::AllowSetForegroundWindow (server);

            const auto message = messageFor (applicationName, commandLine).toStdString();
            Overlapped io;
            DWORD done = 0;
            char reply = 0;

            if (message.size() > kMaxMessageBytes || ! io.event.isValid())
                return false;

            const auto written = ::WriteFile (connection.get(), message.data(), (DWORD) message.size(), nullptr, &io.call);

            if (! finishOverlapped (connection.get(), io.call, written, nullptr, kAcknowledgementTimeoutMs, done)
                || done != message.size())
                return false;

            io.reset();
            const auto read = ::ReadFile (connection.get(), &reply, 1, nullptr, &io.call);

            return finishOverlapped (connection.get(), io.call, read, nullptr, kAcknowledgementTimeoutMs, done)
                   && done == 1 && reply == kAcknowledgement;
        }

        const auto error = ::GetLastError();

        // Not there yet (still starting), or busy with a launch ahead of this one.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PIPE_BUSY)
            return false;

        if (juce::Time::getMillisecondCounter() >= giveUpAt)
            return false;

        juce::Thread::sleep (kRetryIntervalMs);
    }
}
