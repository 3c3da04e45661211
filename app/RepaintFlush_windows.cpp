#include "app/RepaintFlush.h"

#include <windows.h>

namespace
{
// About the display's refresh rate, so that a screen change shows as soon as
// it would on real Windows.
constexpr int kFlushesPerSecond = 60;

} // namespace

struct RepaintFlush::Flusher final : private juce::Timer
{
    explicit Flusher (juce::Component& windowToFlush)
        : window (windowToFlush)
    {
        startTimerHz (kFlushesPerSecond);
    }

    ~Flusher() override { stopTimer(); }

private:
    void timerCallback() override
    {
        // The native window is created anew when its style changes, so it is
        // looked up at each tick rather than kept.
        if (auto* peer = window.getPeer())
            peer->performAnyPendingRepaintsNow();
    }

    juce::Component& window;
};

RepaintFlush::RepaintFlush (juce::Component& window)
{
    if (isNeeded())
        flusher = std::make_unique<Flusher> (window);
}

RepaintFlush::~RepaintFlush() = default;

bool RepaintFlush::isNeeded()
{
    // Wine's ntdll exports wine_get_version; Windows' own never does.
    const auto ntdll = GetModuleHandleW (L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
}

bool RepaintFlush::isActive() const noexcept
{
    return flusher != nullptr;
}
