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

#include "app/SleepInhibitor.h"

#include "ui/StandardErrorWriter.h"

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <vector>

namespace
{
// The window class of the window that carries the reason when the thread has none.
constexpr const wchar_t* kReasonWindowClass = L"TRBKelo7SessionEndBlock";
constexpr UINT_PTR kSubclassId = 0x54524231; // "TRB1"

std::atomic<bool> failureTold { false };

void tellFailureOnce (const juce::String& why)
{
    if (! failureTold.exchange (true))
        StandardErrorWriter::write ("Cannot keep the system from sleeping or shutting down during the update ("
                                    + why + "); going on without");
}

juce::String lastError()
{
    return "error " + juce::String ((int) ::GetLastError());
}

// In place of the window's own procedure while the lock is held.
LRESULT CALLBACK holdTheSessionEnd (HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_QUERYENDSESSION)
        return FALSE;

    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass (window, holdTheSessionEnd, kSubclassId);

    return ::DefSubclassProc (window, message, wParam, lParam);
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
    WindowsSleepInhibitor (const juce::String& whoToUse, const juce::String& whyToUse)
        : who (whoToUse)
        , why (whyToUse)
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
            tellFailureOnce ("the system refused to stay awake, " + lastError());

        std::vector<HWND> windows;
        ::EnumThreadWindows (::GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM> (&windows));

        // A window of the framework's own that draws nothing (a message window of a
        // test, say) still takes the block; with no window at all, one of ours does.
        if (windows.empty() && createReasonWindow())
            windows.push_back (reasonWindow);

        for (auto* window : windows)
        {
            if (window != reasonWindow && ! ::SetWindowSubclass (window, holdTheSessionEnd, kSubclassId, 0))
                continue;

            blocked.push_back (window);

            // Without the reason the session's end is still held up; Windows names the
            // program without saying why.
            if (! ::ShutdownBlockReasonCreate (window, why.toWideCharPointer()))
                tellFailureOnce ("no reason can be shown for holding up the shutdown, " + lastError());
        }

        if (blocked.empty())
            tellFailureOnce ("no window can hold up the shutdown");
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
                ::RemoveWindowSubclass (window, holdTheSessionEnd, kSubclassId);
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
    std::atomic<bool> held { false };
    std::vector<HWND> blocked; // message thread only
    HWND reasonWindow = nullptr; // message thread only

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WindowsSleepInhibitor)
};
} // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::create (const juce::String& who, const juce::String& why)
{
    return std::make_unique<WindowsSleepInhibitor> (who, why);
}
