#include "device/NoticeReceiver.h"

#include <windows.h>

namespace
{
/*
    A receiver is a message-only window of the message thread: a notice is a
    window message posted to it, which the framework's message loop dispatches
    to the window's procedure in posting order. Windows drops what is posted to
    a window that has been destroyed.
*/
constexpr const wchar_t* kReceiverClassName = L"TRBKelo7NoticeReceiver";

// The library's notices lie in the range a window class may use for its own
// messages; everything below is the system's and goes to its default handling.
constexpr UINT kFirstNotice = WM_USER;
constexpr UINT kLastNotice = 0x7FFF;

LRESULT CALLBACK receiverProc (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= kFirstNotice && message <= kLastNotice)
    {
        const auto procedure = reinterpret_cast<NoticeProcedure> (GetWindowLongPtrW (window, GWLP_USERDATA));

        if (procedure != nullptr)
            return (LRESULT) procedure (window, (uint32_t) message, (uintptr_t) wParam, (intptr_t) lParam);
    }

    return DefWindowProcW (window, message, wParam, lParam);
}

bool registerReceiverClass (HINSTANCE instance)
{
    WNDCLASSEXW windowClass {};
    windowClass.cbSize = sizeof (windowClass);
    windowClass.lpfnWndProc = receiverProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kReceiverClassName;

    return RegisterClassExW (&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
}

void* noticeModuleHandle()
{
    return GetModuleHandleW (nullptr);
}

void* createNoticeReceiver (void* instance, NoticeProcedure procedure)
{
    if (instance == nullptr || procedure == nullptr)
        return nullptr;

    const auto module = static_cast<HINSTANCE> (instance);

    if (! registerReceiverClass (module))
        return nullptr;

    HWND window = CreateWindowExW (0, kReceiverClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);

    if (window == nullptr)
        return nullptr;

    SetWindowLongPtrW (window, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (procedure));
    return window;
}

void destroyNoticeReceiver (void* window)
{
    if (window != nullptr && IsWindow (static_cast<HWND> (window)))
        DestroyWindow (static_cast<HWND> (window));
}

void trbPostNotice (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (window != nullptr)
        PostMessageW (static_cast<HWND> (window), (UINT) message, (WPARAM) wParam, (LPARAM) lParam);
}
