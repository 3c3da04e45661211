// The lock during a write on Windows: the system kept awake with
// SetThreadExecutionState, and the end of the session held up while the
// controller is written. Each top-level window of the message thread gets the
// reason (ShutdownBlockReasonCreate, shown by Windows in its list of programs
// that keep it from shutting down) and answers "not now" to the session's end
// (WM_QUERYENDSESSION) in place of the framework, which would quit mid-write.
// Outside the write nothing is held, and the end of the session takes the
// program's orderly quit path.
//
// Both locks are the message thread's: the system asks nothing, so the lock is
// held as soon as acquire() returns.

#include "session/SleepInhibitor.h"

#include <windows.h>

#include <atomic>
#include <vector>

namespace
{
// The window class of the window that carries the reason when the thread has none.
constexpr const wchar_t* kReasonWindowClass = L"TRBKelo7SessionEndBlock";

std::atomic<bool> failureTold { false };
std::atomic<bool> reasonFailureTold { false };

void tellFailureOnce (const SleepInhibitor::Warning& warning, const juce::String& why)
{
    SleepInhibitor::warnOnce (failureTold, warning, "Cannot keep the system from sleeping or shutting down during the update (" + why + "); going on without");
}

juce::String lastError()
{
    return "error " + juce::String ((int) ::GetLastError());
}

// The window properties that hold a window's own procedure while ours stands in
// front of it, and whether ours holds up the end of the session now.
constexpr const wchar_t* kOwnProcedure = L"TRBKelo7.OwnWindowProcedure";
constexpr const wchar_t* kHolding = L"TRBKelo7.HoldingSessionEnd";

LRESULT CALLBACK holdTheSessionEnd (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto own = reinterpret_cast<WNDPROC> (::GetPropW (window, kOwnProcedure));

    if (message == WM_QUERYENDSESSION && ::GetPropW (window, kHolding) != nullptr)
        return FALSE;

    // The window goes: its own procedure is put back for the rest of its end.
    if (message == WM_NCDESTROY && own != nullptr)
    {
        ::SetWindowLongPtrW (window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR> (own));
        ::RemovePropW (window, kOwnProcedure);
        ::RemovePropW (window, kHolding);
    }

    return own != nullptr ? ::CallWindowProcW (own, window, message, wParam, lParam)
                          : ::DefWindowProcW (window, message, wParam, lParam);
}

// Puts our procedure in front of the window's own, once per window; false when
// the window cannot take it.
bool standInFront (HWND window)
{
    if (::GetPropW (window, kOwnProcedure) == nullptr)
    {
        const auto own = ::GetWindowLongPtrW (window, GWLP_WNDPROC);

        if (own == 0 || ! ::SetPropW (window, kOwnProcedure, reinterpret_cast<HANDLE> (own)))
            return false;

        if (::SetWindowLongPtrW (window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR> (holdTheSessionEnd)) == 0)
        {
            ::RemovePropW (window, kOwnProcedure);
            return false;
        }
    }

    return ::SetPropW (window, kHolding, reinterpret_cast<HANDLE> (1)) != FALSE;
}

// Steps back: the window's own procedure again, or, when another one was put in
// front of ours meanwhile, ours letting everything through.
void stepBack (HWND window)
{
    ::RemovePropW (window, kHolding);
    const auto own = ::GetPropW (window, kOwnProcedure);

    if (own != nullptr && ::GetWindowLongPtrW (window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR> (holdTheSessionEnd))
    {
        ::SetWindowLongPtrW (window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR> (own));
        ::RemovePropW (window, kOwnProcedure);
    }
}

LRESULT CALLBACK reasonWindowProcedure (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return FALSE;

    return ::DefWindowProcW (window, message, wParam, lParam);
}

BOOL CALLBACK collectWindow (HWND window, LPARAM list)
{
    if (::GetParent (window) == nullptr)
        reinterpret_cast<std::vector<HWND>*> (list)->push_back (window);

    return TRUE;
}

class WindowsSleepInhibitor final : public SleepInhibitor
{
public:
    WindowsSleepInhibitor (const juce::String& whoToUse, const juce::String& whyToUse, Warning warningToUse)
        : who (whoToUse)
        , why (whyToUse)
        , warning (std::move (warningToUse))
    {
    }

    ~WindowsSleepInhibitor() override
    {
        release();
    }

    void acquire() override
    {
        if (held)
            return;

        // One try per hold: the screen asks on every refresh during a write.
        held = true;

        if (::SetThreadExecutionState (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0)
            tellFailureOnce (warning, "the system refused to stay awake, " + lastError());

        std::vector<HWND> windows;
        ::EnumThreadWindows (::GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM> (&windows));

        // A window of the framework's own that draws nothing (a message window of a
        // test, say) still takes the block; with no window at all, one of ours does.
        if (windows.empty() && createReasonWindow())
            windows.push_back (reasonWindow);

        for (auto* window : windows)
        {
            if (window != reasonWindow && ! standInFront (window))
                continue;

            blocked.push_back (window);

            // Without the reason the session's end is still held up; Windows names the
            // program without saying why.
            if (! ::ShutdownBlockReasonCreate (window, why.toWideCharPointer()))
                warnOnce (reasonFailureTold, warning, "The shutdown is held up during the update without its reason shown (" + lastError() + ")");
        }

        if (blocked.empty())
            tellFailureOnce (warning, "no window can hold up the shutdown");
    }

    void release() override
    {
        if (! held)
            return;

        held = false;
        ::SetThreadExecutionState (ES_CONTINUOUS);

        for (auto* window : blocked)
        {
            if (! ::IsWindow (window))
                continue;

            ::ShutdownBlockReasonDestroy (window);

            if (window != reasonWindow)
                stepBack (window);
        }

        blocked.clear();

        if (reasonWindow != nullptr)
            ::DestroyWindow (reasonWindow);

        reasonWindow = nullptr;
    }

    bool isHeld() const override { return held; }

    bool isAsking() const override { return false; }

private:
    bool createReasonWindow()
    {
        auto* const module = ::GetModuleHandleW (nullptr);
        WNDCLASSW windowClass {};
        windowClass.lpfnWndProc = reasonWindowProcedure;
        windowClass.hInstance = module;
        windowClass.lpszClassName = kReasonWindowClass;
        // Registered once per process; a second registration fails harmlessly.
        ::RegisterClassW (&windowClass);

        // A top-level window, never shown: Windows sends the session's end to
        // top-level windows only, and a message-only window is none.
        reasonWindow = ::CreateWindowExW (WS_EX_TOOLWINDOW, kReasonWindowClass, who.toWideCharPointer(), WS_POPUP,
                                          0, 0, 0, 0, nullptr, nullptr, module, nullptr);
        return reasonWindow != nullptr;
    }

    const juce::String who, why;
    const Warning warning;
    std::atomic<bool> held { false };
    std::vector<HWND> blocked; // message thread only
    HWND reasonWindow = nullptr; // message thread only

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WindowsSleepInhibitor)
};
} // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::create (const juce::String& who, const juce::String& why, Warning warning)
{
    return std::make_unique<WindowsSleepInhibitor> (who, why, std::move (warning));
}
