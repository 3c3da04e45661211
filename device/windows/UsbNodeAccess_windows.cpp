#include "device/usb/UsbNodeAccess.h"

#include <windows.h>

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
