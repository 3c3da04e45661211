// The sleep lock on Linux: a systemd-logind inhibitor ("block" mode) taken over
// the system D-Bus with sd-bus. logind hands back a file descriptor; the lock
// lasts until it is closed, so it also ends with the process however it ends.

#include "app/SleepInhibitor.h"

#include "text/ExternalText.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace
{
constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindObject = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kWhat = "sleep:shutdown:idle";
constexpr const char* kMode = "block";
// A logind that does not answer must not freeze the window for long.
constexpr uint64_t kCallTimeoutUsec = 2 * 1000 * 1000;
// Descriptors 0-2 are the standard streams; the copy must not become one of them.
constexpr int kLowestCopy = 3;

std::atomic<bool> failureTold { false };

void tellFailureOnce (const juce::String& why)
{
    if (! failureTold.exchange (true))
        std::fprintf (stderr, "Cannot keep the system from sleeping or shutting down during the update (%s); going on without\n",
                      why.toRawUTF8());
}

juce::String describe (int negativeErrno, const sd_bus_error& error)
{
    if (error.message != nullptr)
        return ExternalText::fromBytes (error.message);

    return juce::String (std::strerror (-negativeErrno));
}

// Asks logind for an inhibitor; returns its descriptor (ours to close) or -1.
// Blocks for the call, up to kCallTimeoutUsec.
int askForInhibitor (const std::string& who, const std::string& why)
{
    sd_bus* bus = nullptr;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int inhibitorFd = -1, copy = -1;

    // Honours DBUS_SYSTEM_BUS_ADDRESS, like every client of the system bus.
    int result = sd_bus_open_system (&bus);

    if (result >= 0)
        result = sd_bus_message_new_method_call (bus, &call, kLogindService, kLogindObject, kLogindManager, "Inhibit");

    if (result >= 0)
        result = sd_bus_message_append (call, "ssss", kWhat, who.c_str(), why.c_str(), kMode);

    if (result >= 0)
        result = sd_bus_call (bus, call, kCallTimeoutUsec, &error, &reply);

    if (result >= 0)
        result = sd_bus_message_read (reply, "h", &inhibitorFd);

    // The descriptor read belongs to the reply: a copy of it is the lock.
    if (result >= 0)
    {
        copy = ::fcntl (inhibitorFd, F_DUPFD_CLOEXEC, kLowestCopy);

        if (copy < 0)
            result = -errno;
    }

    if (result < 0)
        tellFailureOnce (describe (result, error));

    sd_bus_error_free (&error);
    sd_bus_message_unref (reply);
    sd_bus_message_unref (call);
    sd_bus_flush_close_unref (bus);
    return copy;
}

// The call to logind runs on a thread of its own: the message thread, which
// carries the controller's replies during the write, must not wait for it.
class LogindSleepInhibitor final : public SleepInhibitor
{
public:
    LogindSleepInhibitor (const juce::String& whoToUse, const juce::String& whyToUse)
        : who (whoToUse.toStdString())
        , why (whyToUse.toStdString())
    {
    }

    ~LogindSleepInhibitor() override
    {
        release();

        if (asker.joinable())
            asker.join();
    }

    void acquire() override
    {
        {
            const std::lock_guard<std::mutex> guard (lock);

            // One try per hold: the screen asks on every refresh during a write, and
            // a logind that refused (or does not answer) is not asked again until then.
            if (wanted)
                return;

            wanted = true;
        }

        // A previous call still under way ends within the call's time-out.
        if (asker.joinable())
            asker.join();

        asker = std::thread ([this]
                             {
                                 const int received = askForInhibitor (who, why);
                                 const std::lock_guard<std::mutex> guard (lock);

                                 // Let go at once of a lock no longer wanted (released meanwhile).
                                 if (received >= 0 && wanted && fd < 0)
                                     fd = received;
                                 else if (received >= 0)
                                     ::close (received); });
    }

    void release() override
    {
        const std::lock_guard<std::mutex> guard (lock);
        wanted = false;

        if (fd >= 0)
            ::close (fd);

        fd = -1;
    }

    bool isHeld() const override
    {
        const std::lock_guard<std::mutex> guard (lock);
        return fd >= 0;
    }

private:
    const std::string who, why;
    mutable std::mutex lock;
    bool wanted = false; // guarded by lock
    int fd = -1; // guarded by lock
    std::thread asker;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LogindSleepInhibitor)
};
} // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::create (const juce::String& who, const juce::String& why)
{
    return std::make_unique<LogindSleepInhibitor> (who, why);
}
