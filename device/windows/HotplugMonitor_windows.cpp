#include "device/usb/HotplugMonitor.h"

#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace
{
// The HID device interface class (GUID_DEVINTERFACE_HID), written out so that
// neither hid.dll nor the driver kit's headers are needed for it.
constexpr GUID kHidInterfaceClass = { 0x4D1E55B2, 0xF16F, 0x11CF, { 0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30 } };

constexpr const wchar_t* kMonitorClassName = L"TRBKelo7HotplugMonitor";

std::string upperCaseAscii (std::string text)
{
    // Interface paths are ASCII; Windows compares them without regard to case.
    std::transform (text.begin(), text.end(), text.begin(), [] (char c)
                    { return c >= 'a' && c <= 'z' ? (char) (c - 'a' + 'A') : c; });
    return text;
}

std::string utf8Of (const wchar_t* text)
{
    const int size = WideCharToMultiByte (CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);

    if (size <= 1)
        return {};

    std::string converted ((size_t) size - 1, '\0');
    WideCharToMultiByte (CP_UTF8, 0, text, -1, converted.data(), size, nullptr, nullptr);
    return converted;
}
}

/*
    A message-only window on the monitor's own thread, registered for the HID
    interface class's arrivals and removals; the thread runs that window's
    message loop and nothing else, so it sleeps while nothing happens. stop()
    closes the window, which ends the loop.
*/
struct HotplugMonitor::Platform
{
    Listener* listener = nullptr;
    std::thread thread;

    std::mutex lock;
    std::condition_variable settled;
    bool starting = false; // guarded by lock
    HWND window = nullptr; // guarded by lock; set by the thread once it is registered

    void run()
    {
        HDEVNOTIFY registration = nullptr;
        HWND created = createWindow();

        if (created != nullptr)
        {
            DEV_BROADCAST_DEVICEINTERFACE_W filter {};
            filter.dbcc_size = sizeof (filter);
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = kHidInterfaceClass;
            registration = RegisterDeviceNotificationW (created, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

            if (registration == nullptr)
            {
                DestroyWindow (created);
                created = nullptr;
            }
        }

        {
            const std::lock_guard<std::mutex> guard (lock);
            window = created;
            starting = false;
        }

        settled.notify_all();

        if (created == nullptr)
            return;

        MSG message {};

        while (GetMessageW (&message, nullptr, 0, 0) > 0)
            DispatchMessageW (&message);

        UnregisterDeviceNotification (registration);
    }

    HWND createWindow()
    {
        const auto module = GetModuleHandleW (nullptr);

        WNDCLASSEXW windowClass {};
        windowClass.cbSize = sizeof (windowClass);
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = kMonitorClassName;

        if (RegisterClassExW (&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return nullptr;

        HWND created = CreateWindowExW (0, kMonitorClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);

        if (created != nullptr)
            SetWindowLongPtrW (created, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (this));

        return created;
    }

    void deviceChanged (WPARAM event, const DEV_BROADCAST_HDR* header)
    {
        if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
            return;

        const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*> (header);

        if (! IsEqualGUID (device->dbcc_classguid, kHidInterfaceClass))
            return;

        const auto key = upperCaseAscii (utf8Of (device->dbcc_name));

        if (event == DBT_DEVICEARRIVAL)
            listener->nodeAdded (key);
        else if (event == DBT_DEVICEREMOVECOMPLETE)
            listener->nodeRemoved (key);
    }

    static LRESULT CALLBACK windowProc (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<Platform*> (GetWindowLongPtrW (window, GWLP_USERDATA));

        switch (message)
        {
            case WM_DEVICECHANGE:
                if (self != nullptr)
                    self->deviceChanged (wParam, reinterpret_cast<const DEV_BROADCAST_HDR*> (lParam));

                return TRUE;

            case WM_CLOSE:
                DestroyWindow (window);
                return 0;

            case WM_DESTROY:
                PostQuitMessage (0);
                return 0;

            default:
                return DefWindowProcW (window, message, wParam, lParam);
        }
    }
};

HotplugMonitor::HotplugMonitor()
    : platform (std::make_unique<Platform>())
{
}

HotplugMonitor::~HotplugMonitor()
{
    stop();
}

bool HotplugMonitor::start (Listener& l)
{
    auto& p = *platform;

    if (p.thread.joinable())
        return true;

    p.listener = &l;

    {
        const std::lock_guard<std::mutex> guard (p.lock);
        p.starting = true;
        p.window = nullptr;
    }

    p.thread = std::thread ([&p]
                            { p.run(); });

    std::unique_lock<std::mutex> guard (p.lock);
    p.settled.wait (guard, [&p]
                    { return ! p.starting; });

    if (p.window != nullptr)
        return true;

    guard.unlock();
    p.thread.join();
    return false;
}

void HotplugMonitor::stop()
{
    auto& p = *platform;

    if (! p.thread.joinable())
        return;

    HWND window = nullptr;

    {
        const std::lock_guard<std::mutex> guard (p.lock);
        window = p.window;
        p.window = nullptr;
    }

    // The window belongs to the monitor's thread: it is asked to close there.
    if (window != nullptr)
        PostMessageW (window, WM_CLOSE, 0, 0);

    p.thread.join();
}

std::string HotplugMonitor::nodeKeyOf (const std::string& path)
{
    return upperCaseAscii (path);
}
