#include "device/usb/UsbNodeAccess.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <vector>

namespace
{
std::wstring wideOf (const std::string& path)
{
    const int size = MultiByteToWideChar (CP_UTF8, 0, path.c_str(), -1, nullptr, 0);

    if (size <= 1)
        return {};

    std::wstring wide ((size_t) size - 1, L'\0');
    MultiByteToWideChar (CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
    return wide;
}

std::string utf8Of (const std::wstring& text)
{
    const int size = WideCharToMultiByte (CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);

    if (size <= 1)
        return {};

    std::string bytes ((size_t) size - 1, '\0');
    WideCharToMultiByte (CP_UTF8, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// The HID collection's device node; 0 when the interface is not known.
DEVINST collectionOf (const std::wstring& interfacePath)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList (nullptr, nullptr);

    if (set == INVALID_HANDLE_VALUE)
        return 0;

    SP_DEVICE_INTERFACE_DATA interfaceData {};
    interfaceData.cbSize = sizeof (interfaceData);
    SP_DEVINFO_DATA device {};
    device.cbSize = sizeof (device);
    DEVINST found = 0;

    if (SetupDiOpenDeviceInterfaceW (set, interfacePath.c_str(), 0, &interfaceData))
    {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW (set, &interfaceData, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> buffer (needed > 0 ? needed : sizeof (SP_DEVICE_INTERFACE_DETAIL_DATA_W));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*> (buffer.data());
        detail->cbSize = sizeof (SP_DEVICE_INTERFACE_DETAIL_DATA_W);

        if (SetupDiGetDeviceInterfaceDetailW (set, &interfaceData, detail, (DWORD) buffer.size(), nullptr, &device))
            found = device.DevInst;
    }

    SetupDiDestroyDeviceInfoList (set);
    return found;
}

std::wstring locationOf (DEVINST node)
{
    wchar_t text[256] = {};
    ULONG size = sizeof (text);

    if (CM_Get_DevNode_Registry_PropertyW (node, CM_DRP_LOCATION_INFORMATION, nullptr, text, &size, 0) != CR_SUCCESS)
        return {};

    return text;
}
} // namespace

bool usbNodeRefusesOpening (const std::string& path)
{
    const int size = MultiByteToWideChar (CP_UTF8, 0, path.c_str(), -1, nullptr, 0);

    if (size <= 1)
        return false;

    std::wstring widePath ((size_t) size - 1, L'\0');
    MultiByteToWideChar (CP_UTF8, 0, path.c_str(), -1, widePath.data(), size);

    // The way hidapi opens a device: a program that holds it without sharing
    // it makes this fail with a sharing violation, a device this user may not
    // write to with access denied; a device that is gone fails otherwise.
    HANDLE handle = CreateFileW (widePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);

    if (handle != INVALID_HANDLE_VALUE)
    {
        CloseHandle (handle);
        return false;
    }

    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

std::string usbNodePort (const std::string& path)
{
    // The collection's parents lead to the USB device (through its interface on a
    // composite device); the first that tells a hub port is the place on the bus.
    constexpr int kParentsLookedAt = 3;
    DEVINST node = collectionOf (wideOf (path));
    std::wstring firstKnown;

    for (int level = 0; level < kParentsLookedAt && node != 0; ++level)
    {
        DEVINST parent = 0;

        if (CM_Get_Parent (&parent, node, 0) != CR_SUCCESS)
            break;

        node = parent;
        const auto location = locationOf (node);

        if (location.rfind (L"Port_#", 0) == 0)
            return utf8Of (location);

        if (firstKnown.empty())
            firstKnown = location;
    }

    return utf8Of (firstKnown);
}
