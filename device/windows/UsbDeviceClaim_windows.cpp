#include "device/usb/UsbDeviceClaim.h"

#include <windows.h>

#include <string>

namespace
{
// The object's name is bounded (MAX_PATH); a key is cut well before that.
constexpr size_t kLongestKey = 160;
constexpr const wchar_t* kNamespaces[] = { L"Global\\", L"Local\\" };
constexpr const wchar_t* kClaimPrefix = L"TRBKelo7Controller-";
constexpr const wchar_t* kHolderSuffix = L"-holder";

// Only letters, digits and a few marks go into the name: a backslash would name a
// namespace, and the serial and the port are bytes from outside.
std::wstring keyOf (const std::string& path, const std::string& serial, const std::string& location)
{
    const auto& source = ! serial.empty() ? serial : (! location.empty() ? location : path);
    std::wstring key = ! serial.empty() ? L"serial-" : (! location.empty() ? L"port-" : L"node-");

    for (const char c : source)
    {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        key += plain ? (wchar_t) c : L'_';

        if (key.size() >= kLongestKey)
            break;
    }

    return key;
}

// Every user's updater must be able to open the object to see that it is held: no
// access list at all.
struct OpenToEveryone final
{
    OpenToEveryone()
    {
        InitializeSecurityDescriptor (&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl (&descriptor, TRUE, nullptr, FALSE);
        attributes.nLength = sizeof (attributes);
        attributes.lpSecurityDescriptor = &descriptor;
        attributes.bInheritHandle = FALSE;
    }

    SECURITY_DESCRIPTOR descriptor {};
    SECURITY_ATTRIBUTES attributes {};
};

int32_t recordedHolder (const std::wstring& key)
{
    for (const auto* space : kNamespaces)
    {
        const auto name = std::wstring (space) + kClaimPrefix + key + kHolderSuffix;
        HANDLE record = OpenFileMappingW (FILE_MAP_READ, FALSE, name.c_str());

        if (record == nullptr)
            continue;

        int32_t pid = 0;

        if (const auto* view = static_cast<const DWORD*> (MapViewOfFile (record, FILE_MAP_READ, 0, 0, sizeof (DWORD))))
        {
            pid = (int32_t) *view;
            UnmapViewOfFile (view);
        }

        CloseHandle (record);

        if (pid != 0)
            return pid;
    }

    return 0;
}

// Leaves this process's ID where a refused updater looks for it; a machine-wide record
// needs a privilege most users lack, so the session's may have to do.
HANDLE recordHolder (const std::wstring& key, OpenToEveryone& access)
{
    for (const auto* space : kNamespaces)
    {
        const auto name = std::wstring (space) + kClaimPrefix + key + kHolderSuffix;
        HANDLE record = CreateFileMappingW (INVALID_HANDLE_VALUE, &access.attributes, PAGE_READWRITE, 0, sizeof (DWORD), name.c_str());

        if (record == nullptr)
            continue;

        if (auto* view = static_cast<DWORD*> (MapViewOfFile (record, FILE_MAP_WRITE, 0, 0, sizeof (DWORD))))
        {
            *view = GetCurrentProcessId();
            UnmapViewOfFile (view);
        }

        return record;
    }

    return nullptr;
}
} // namespace

TrbClaimResult UsbDeviceClaim::take (const std::string& path, const std::string& serial, const std::string& location,
                                     std::unique_ptr<UsbDeviceClaim>& claim, TrbClaimHolder& holder)
{
    const auto key = keyOf (path, serial, location);
    OpenToEveryone access;

    for (const auto* space : kNamespaces)
    {
        const auto name = std::wstring (space) + kClaimPrefix + key;
        SetLastError (ERROR_SUCCESS);
        HANDLE object = CreateMutexW (&access.attributes, FALSE, name.c_str());
        const auto error = GetLastError();

        // The machine-wide namespace refused (a restricted session): the session's then.
        if (object == nullptr && error == ERROR_ACCESS_DENIED)
            continue;

        if (object == nullptr)
            return TrbClaimResult::unavailable;

        if (error == ERROR_ALREADY_EXISTS)
        {
            CloseHandle (object);
            holder.pid = recordedHolder (key);
            return TrbClaimResult::heldElsewhere;
        }

        claim.reset (new UsbDeviceClaim());
        claim->handle = (intptr_t) object;
        claim->holderRecord = (intptr_t) recordHolder (key, access);
        return TrbClaimResult::taken;
    }

    return TrbClaimResult::unavailable;
}

UsbDeviceClaim::~UsbDeviceClaim()
{
    if (holderRecord != 0)
        CloseHandle ((HANDLE) holderRecord);

    // The object lives while a handle to it is open: closing the last one ends the claim.
    if (handle != -1 && handle != 0)
        CloseHandle ((HANDLE) handle);
}
