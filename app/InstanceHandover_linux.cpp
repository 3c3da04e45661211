// The hand-over between launches on Linux: a stream socket in the abstract
// namespace named after the application and the user id. Abstract names vanish
// with the process that holds them, so a crashed instance leaves nothing stale
// behind; any user could connect to or squat an abstract name, so both ends
// check the other's user id before they trust a byte.

#include "app/InstanceHandover.h"

#include "text/ExternalText.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <thread>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
// A command line longer than this is not a launch of ours; it is dropped.
constexpr size_t kMaxMessageBytes = 64 * 1024;
// How long the instance gives a launch for its whole message: one that trickles
// its bytes must not keep the launches behind it from being heard.
constexpr int kMessageTimeoutMs = 1000;
// How long a launch waits for the instance's acknowledgement: longer than the
// instance may spend on a launch ahead of it.
constexpr int kAcknowledgementTimeoutMs = 3 * kMessageTimeoutMs;
constexpr int kRetryIntervalMs = 50;
constexpr int kAcceptRetryMs = 100;
constexpr int kListenBacklog = 4;
constexpr char kAcknowledgement = 'A';

class FileDescriptor final
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor (int fdToOwn) noexcept
        : fd (fdToOwn)
    {
    }
    ~FileDescriptor() { reset(); }

    FileDescriptor (FileDescriptor&& other) noexcept
        : fd (std::exchange (other.fd, -1))
    {
    }
    FileDescriptor& operator= (FileDescriptor&& other) noexcept
    {
        reset (std::exchange (other.fd, -1));
        return *this;
    }

    int get() const noexcept { return fd; }
    bool isValid() const noexcept { return fd >= 0; }

    void reset (int newFd = -1) noexcept
    {
        if (fd >= 0)
            ::close (fd);

        fd = newFd;
    }

private:
    int fd = -1;

    JUCE_DECLARE_NON_COPYABLE (FileDescriptor)
};

struct Endpoint
{
    sockaddr_un address {};
    socklen_t length = 0;
};

Endpoint endpointFor (const juce::String& applicationName)
{
    Endpoint endpoint;
    endpoint.address.sun_family = AF_UNIX;

    // The first byte of sun_path stays 0: that puts the name in the abstract
    // namespace. The name is cut to fit; both ends cut it the same way.
    const auto name = (applicationName + ".instance." + juce::String ((int) ::getuid())).toStdString();
    const auto length = std::min (name.size(), sizeof (endpoint.address.sun_path) - 1);
    std::copy_n (name.data(), length, endpoint.address.sun_path + 1);
    endpoint.length = (socklen_t) (offsetof (sockaddr_un, sun_path) + 1 + length);
    return endpoint;
}

bool peerIsThisUser (int socket)
{
    ucred credentials {};
    socklen_t size = sizeof (credentials);
    return ::getsockopt (socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0
           && credentials.uid == ::getuid();
}

// Waits until fd is readable (or wakeFd, when given, becomes readable, which
// means "give up"); a negative timeout waits without limit. Returns true only
// for fd.
bool waitReadable (int fd, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = { { fd, POLLIN, 0 }, { wakeFd, POLLIN, 0 } };
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, timeoutMs);

    for (;;)
    {
        const auto now = juce::Time::getMillisecondCounter();
        const auto remaining = timeoutMs < 0 ? -1 : (now < deadline ? (int) (deadline - now) : 0);
        const auto result = ::poll (fds, count, remaining);

        if (result < 0 && errno == EINTR)
            continue;

        if (result <= 0 || (count == 2 && fds[1].revents != 0))
            return false;

        return fds[0].revents != 0;
    }
}

bool sendAll (int socket, const char* data, size_t size)
{
    while (size > 0)
    {
        const auto sent = ::send (socket, data, size, MSG_NOSIGNAL);

        if (sent < 0 && errno == EINTR)
            continue;

        if (sent <= 0)
            return false;

        data += sent;
        size -= (size_t) sent;
    }

    return true;
}
} // namespace

//==============================================================================
class InstanceHandover::Listener final
{
public:
    Listener (const juce::String& name, Receiver receiverToUse)
        : applicationName (name)
        , delivery (std::make_shared<Delivery> (std::move (receiverToUse)))
    {
        socket.reset (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        wake.reset (::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK));

        if (! socket.isValid() || ! wake.isValid())
            return;

        const auto endpoint = endpointFor (applicationName);

        if (::bind (socket.get(), reinterpret_cast<const sockaddr*> (&endpoint.address), endpoint.length) != 0
            || ::listen (socket.get(), kListenBacklog) != 0)
        {
            socket.reset();
            return;
        }

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
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write (wake.get(), &one, sizeof (one));
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
        while (waitReadable (socket.get(), wake.get(), -1))
        {
            FileDescriptor connection (::accept4 (socket.get(), nullptr, nullptr, SOCK_CLOEXEC));

            if (! connection.isValid())
            {
                // Out of descriptors or the like: the socket stays readable,
                // so pause instead of spinning until it clears.
                pollfd wakeOnly { wake.get(), POLLIN, 0 };
                ::poll (&wakeOnly, 1, kAcceptRetryMs);
                continue;
            }

            if (peerIsThisUser (connection.get()))
                receiveFrom (connection.get());
        }
    }

    void receiveFrom (int connection)
    {
        juce::MemoryBlock message;
        char buffer[4096];
        const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) kMessageTimeoutMs;

        for (;;)
        {
            const auto now = juce::Time::getMillisecondCounter();

            if (now >= giveUpAt || ! waitReadable (connection, wake.get(), (int) (giveUpAt - now)))
                return;

            const auto received = ::recv (connection, buffer, sizeof (buffer), 0);

            if (received < 0 && errno == EINTR)
                continue;

            if (received < 0)
                return;

            if (received == 0)
                break;

            message.append (buffer, (size_t) received);

            if (message.getSize() > kMaxMessageBytes)
                return;
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
            sendAll (connection, &kAcknowledgement, 1);
    }

    const juce::String applicationName;
    const std::shared_ptr<Delivery> delivery;
    FileDescriptor socket, wake;
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
    const auto endpoint = endpointFor (applicationName);
    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, waitForListenerMs);

    for (;;)
    {
        FileDescriptor connection (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));

        if (! connection.isValid())
            return false;

        if (::connect (connection.get(), reinterpret_cast<const sockaddr*> (&endpoint.address), endpoint.length) == 0)
        {
            if (! peerIsThisUser (connection.get()))
                return false;

            const auto message = messageFor (applicationName, commandLine).toStdString();
            char reply = 0;

            return sendAll (connection.get(), message.data(), message.size())
                   && ::shutdown (connection.get(), SHUT_WR) == 0
                   && waitReadable (connection.get(), -1, kAcknowledgementTimeoutMs)
                   && ::recv (connection.get(), &reply, 1, 0) == 1
                   && reply == kAcknowledgement;
        }

        if (errno != ECONNREFUSED && errno != ENOENT && errno != EINTR)
            return false;

        if (juce::Time::getMillisecondCounter() >= giveUpAt)
            return false;

        juce::Thread::sleep (kRetryIntervalMs);
    }
}
