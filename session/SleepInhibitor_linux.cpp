// The sleep lock on Linux: a systemd-logind inhibitor ("block" mode) taken over
// the system D-Bus with sd-bus. logind hands back a file descriptor; the lock
// lasts until it is closed, so it also ends with the process however it ends.
//
// Besides sleep, shutdown and idle it takes logind's own handling of the lid
// switch and of the suspend and hibernate keys: with logind's default
// LidSwitchIgnoreInhibited=yes a "sleep" inhibitor does not stop closing the lid
// from suspending the machine. polkit may refuse those words on their own; then
// the lock is asked for again without them, so that part never costs the rest.

#include "session/SleepInhibitor.h"

#include "text/ExternalText.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace
{
constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindObject = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kWhatSleep = "sleep:shutdown:idle";
constexpr const char* kWhatWithKeys = "sleep:shutdown:idle:handle-lid-switch:handle-suspend-key:handle-hibernate-key";
constexpr const char* kMode = "block";
constexpr const char* kSystemBusVariable = "DBUS_SYSTEM_BUS_ADDRESS";
constexpr const char* kDefaultSystemBus = "unix:path=/run/dbus/system_bus_socket";
// The whole ask (connecting, authenticating, the bus's greeting and logind's
// answer) ends within this. A bus or logind that accepts and never answers
// would otherwise hold the asking thread for the library's own time-outs, 25 s
// for each step.
constexpr uint64_t kAskTimeoutUsec = 10 * 1000 * 1000;
// Descriptors 0-2 are the standard streams; the copy must not become one of them.
constexpr int kLowestCopy = 3;

std::atomic<bool> failureTold { false };
std::atomic<bool> keysRefusalTold { false };

void tellFailureOnce (const SleepInhibitor::Warning& warning, const juce::String& why)
{
    SleepInhibitor::warnOnce (failureTold, warning, "Cannot keep the system from sleeping or shutting down during the update (" + why + "); going on without");
}

void tellKeysRefusalOnce (const SleepInhibitor::Warning& warning, const juce::String& why)
{
    SleepInhibitor::warnOnce (keysRefusalTold,
                              warning,
                              "Cannot keep closing the lid or the suspend and hibernate keys from suspending the system during the update ("
                                  + why + "); keeping the rest of the sleep lock");
}

juce::String describe (int negativeErrno, const sd_bus_error& error)
{
    if (error.message != nullptr)
        return ExternalText::fromBytes (error.message);

    return juce::String (std::strerror (-negativeErrno));
}

uint64_t monotonicNowUsec()
{
    timespec time {};
    ::clock_gettime (CLOCK_MONOTONIC, &time);
    return (uint64_t) time.tv_sec * 1000 * 1000 + (uint64_t) time.tv_nsec / 1000;
}

// logind's answer to the call, delivered by sd_bus_process.
struct Answer
{
    sd_bus_message* reply = nullptr; // ours to unref
    bool arrived = false;

    static int take (sd_bus_message* message, void* userdata, sd_bus_error*)
    {
        auto& answer = *static_cast<Answer*> (userdata);
        answer.reply = sd_bus_message_ref (message);
        answer.arrived = true;
        return 0;
    }
};

// Opens the system bus without waiting: sd_bus_open_system would connect and
// greet the bus under the library's own time-outs.
int startSystemBus (sd_bus*& bus)
{
    int result = sd_bus_new (&bus);
    const char* address = std::getenv (kSystemBusVariable);

    if (result >= 0)
        result = sd_bus_set_address (bus, address != nullptr && *address != 0 ? address : kDefaultSystemBus);

    if (result >= 0)
        result = sd_bus_set_bus_client (bus, 1);

    if (result >= 0)
        result = sd_bus_set_method_call_timeout (bus, kAskTimeoutUsec);

    if (result >= 0)
        result = sd_bus_start (bus);

    return result;
}

// Runs the bus until the answer arrives or the deadline passes.
int waitForAnswer (sd_bus* bus, const Answer& answer, uint64_t deadline)
{
    while (! answer.arrived)
    {
        const int processed = sd_bus_process (bus, nullptr);

        if (processed < 0)
            return processed;

        if (processed > 0)
            continue;

        const auto now = monotonicNowUsec();

        if (now >= deadline)
            return -ETIMEDOUT;

        const int waited = sd_bus_wait (bus, deadline - now);

        if (waited < 0 && waited != -EINTR)
            return waited;
    }

    return 0;
}

// One Inhibit call on a started bus, run until logind answers or the deadline
// passes. Returns a copy of the inhibitor's descriptor (ours to close), or a
// negative errno with error filled in when logind itself said why; refused
// tells whether logind answered with an error (rather than the bus failing).
int callInhibit (sd_bus* bus,
                 const char* what,
                 const std::string& who,
                 const std::string& why,
                 uint64_t deadline,
                 sd_bus_error& error,
                 bool& refused)
{
    sd_bus_message* call = nullptr;
    sd_bus_slot* pending = nullptr;
    Answer answer;
    int inhibitorFd = -1;
    refused = false;

    int result = sd_bus_message_new_method_call (bus, &call, kLogindService, kLogindObject, kLogindManager, "Inhibit");

    if (result >= 0)
        result = sd_bus_message_append (call, "ssss", what, who.c_str(), why.c_str(), kMode);

    // Queued until the bus has authenticated and greeted us; the loop below drives both.
    if (result >= 0)
        result = sd_bus_call_async (bus, &pending, call, Answer::take, &answer, kAskTimeoutUsec);

    if (result >= 0)
        result = waitForAnswer (bus, answer, deadline);

    if (result >= 0)
    {
        if (const auto* failure = sd_bus_message_get_error (answer.reply))
        {
            sd_bus_error_copy (&error, failure);
            result = -sd_bus_error_get_errno (failure);
            refused = true;
        }
    }

    if (result >= 0)
        result = sd_bus_message_read (answer.reply, "h", &inhibitorFd);

    // The descriptor read belongs to the reply: a copy of it is the lock.
    if (result >= 0)
    {
        result = ::fcntl (inhibitorFd, F_DUPFD_CLOEXEC, kLowestCopy);

        if (result < 0)
            result = -errno;
    }

    sd_bus_message_unref (answer.reply);
    sd_bus_slot_unref (pending);
    sd_bus_message_unref (call);
    return result;
}

// Asks logind for an inhibitor; returns its descriptor (ours to close) or -1.
// Blocks for kAskTimeoutUsec at most, whatever the bus does.
int askForInhibitor (const std::string& who, const std::string& why, const SleepInhibitor::Warning& warning)
{
    const auto deadline = monotonicNowUsec() + kAskTimeoutUsec;
    sd_bus* bus = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    bool refused = false;

    int result = startSystemBus (bus);

    if (result >= 0)
        result = callInhibit (bus, kWhatWithKeys, who, why, deadline, error, refused);

    // logind refused the whole (polkit may deny the lid and keys alone, or an older
    // logind not know them): the rest is asked for on its own.
    if (result < 0 && refused)
    {
        const auto keysRefusal = describe (result, error);
        sd_bus_error_free (&error);
        result = callInhibit (bus, kWhatSleep, who, why, deadline, error, refused);

        if (result >= 0)
            tellKeysRefusalOnce (warning, keysRefusal);
    }

    if (result < 0)
        tellFailureOnce (warning, describe (result, error));

    sd_bus_error_free (&error);
    sd_bus_close_unref (bus);
    return result >= 0 ? result : -1;
}

// What the inhibitor shares with its asking threads. The threads are never
// waited for: each holds the state as long as it runs and ends on its own,
// within kAskTimeoutUsec, closing a lock that came too late.
struct HoldState
{
    std::mutex lock;
    bool wanted = false; // guarded by lock
    bool asking = false; // guarded by lock
    int fd = -1; // guarded by lock

    void receive (int received)
    {
        const std::lock_guard<std::mutex> guard (lock);
        asking = false;

        // Let go at once of a lock no longer wanted (released meanwhile).
        if (received >= 0 && wanted && fd < 0)
            fd = received;
        else if (received >= 0)
            ::close (received);
    }
};

// The call to logind runs on a thread of its own: the message thread, which
// carries the controller's replies during the write, must not wait for it,
// neither when asking nor when the program ends.
class LogindSleepInhibitor final : public SleepInhibitor
{
public:
    LogindSleepInhibitor (const juce::String& whoToUse, const juce::String& whyToUse, Warning warningToUse)
        : who (whoToUse.toStdString())
        , why (whyToUse.toStdString())
        , warning (std::move (warningToUse))
    {
    }

    ~LogindSleepInhibitor() override
    {
        release();
    }

    void acquire() override
    {
        const std::lock_guard<std::mutex> guard (state->lock);

        // One try per hold: the screen asks on every refresh during a write, and
        // a logind that refused (or does not answer) is not asked again until then.
        // An ask still under way from an earlier hold serves this one.
        if (state->wanted)
            return;

        state->wanted = true;

        if (state->asking)
            return;

        try
        {
            std::thread ([shared = state, whoCopy = who, whyCopy = why, warningCopy = warning]
                         { shared->receive (askForInhibitor (whoCopy, whyCopy, warningCopy)); })
                .detach();
            state->asking = true;
        }
        catch (const std::system_error& failure)
        {
            tellFailureOnce (warning, failure.what());
        }
    }

    void release() override
    {
        const std::lock_guard<std::mutex> guard (state->lock);
        state->wanted = false;

        if (state->fd >= 0)
            ::close (state->fd);

        state->fd = -1;
    }

    bool isHeld() const override
    {
        const std::lock_guard<std::mutex> guard (state->lock);
        return state->fd >= 0;
    }

    bool isAsking() const override
    {
        const std::lock_guard<std::mutex> guard (state->lock);
        return state->asking;
    }

private:
    const std::string who, why;
    const Warning warning;
    const std::shared_ptr<HoldState> state = std::make_shared<HoldState>();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LogindSleepInhibitor)
};
} // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::create (const juce::String& who, const juce::String& why, Warning warning)
{
    return std::make_unique<LogindSleepInhibitor> (who, why, std::move (warning));
}
