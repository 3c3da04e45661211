#include "app/DisplayProbe.h"

#include "text/ExternalText.h"

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace
{
// A server answers its connection set-up within milliseconds; one that has not
// answered by now (a socket that accepts and never replies) is not going to.
constexpr auto kProbeTimeout = std::chrono::seconds (5);

enum class Outcome
{
    pending,
    opened,
    refused
};

// Set when a probe's thread was left inside the X library.
std::atomic<bool> probeLeftWaiting { false };

// Shared with the probing thread, which may outlive the wait for it.
struct Probe
{
    std::mutex lock;
    std::condition_variable finished;
    Outcome outcome = Outcome::pending; // guarded by lock
};
} // namespace

juce::String findDisplayProblem()
{
    const auto* name = std::getenv ("DISPLAY");

    // The framework would fall back to ":0.0" here, which may be another
    // session's server or none: without a DISPLAY there is no display of ours.
    if (name == nullptr || *name == 0)
        return "no display: DISPLAY is not set (the program needs an X display; on Wayland it runs through XWayland)";

    // The X library waits for the server's answer without a time-out, so the
    // connection is tried on a thread of its own and never waited for long:
    // a thread still stuck ends with the process.
    auto probe = std::make_shared<Probe>();
    const auto displayText = ExternalText::fromBytes (name);

    try
    {
        std::thread ([probe, displayName = std::string (name)]
                     {
                         auto* display = XOpenDisplay (displayName.c_str());

                         if (display != nullptr)
                             XCloseDisplay (display);

                         const std::lock_guard<std::mutex> guard (probe->lock);
                         probe->outcome = display != nullptr ? Outcome::opened : Outcome::refused;
                         probe->finished.notify_all(); })
            .detach();
    }
    catch (const std::system_error& failure)
    {
        return "cannot open the display \"" + displayText + "\" (" + failure.what() + ")";
    }

    std::unique_lock<std::mutex> guard (probe->lock);
    probe->finished.wait_for (guard, kProbeTimeout, [&probe]
                              { return probe->outcome != Outcome::pending; });

    switch (probe->outcome)
    {
        case Outcome::opened:
            return {};
        case Outcome::refused:
            return "cannot open the display \"" + displayText + "\" (no X server there, or access refused)";
        case Outcome::pending:
            break;
    }

    probeLeftWaiting = true;
    return "cannot open the display \"" + displayText + "\" (its X server does not answer)";
}

bool displayProbeIsStillWaiting() noexcept
{
    return probeLeftWaiting;
}
