// Which other processes hold the controller open, on Windows: not known. Windows
// lists another process's handles only through the undocumented system handle
// table (every handle of every process, then a duplicate of each to name it),
// which is neither cheap nor sound to rely on. The device library tells a
// controller held by another program apart when it opens it (a sharing violation).

#include "device/DeviceHolders.h"

#include <windows.h>

#include <array>
#include <vector>

namespace
{
constexpr DWORD kNameCapacity = 1024;

struct HandleCloser final
{
    explicit HandleCloser (HANDLE toClose) noexcept
        : handle (toClose)
    {
    }

    ~HandleCloser()
    {
        if (handle != nullptr)
            CloseHandle (handle);
    }

    HANDLE handle;
};

juce::String imageName (HANDLE process)
{
    std::array<wchar_t, kNameCapacity> path {};
    DWORD size = (DWORD) path.size();

    if (! QueryFullProcessImageNameW (process, 0, path.data(), &size))
        return {};

    // The program's file name is what a person recognises, as comm on Linux.
    return juce::File (juce::String (path.data(), (size_t) size)).getFileName();
}

juce::String tokenUser (HANDLE process)
{
    HANDLE rawToken = nullptr;

    if (! OpenProcessToken (process, TOKEN_QUERY, &rawToken))
        return {};

    const HandleCloser token (rawToken);
    DWORD needed = 0;
    GetTokenInformation (token.handle, TokenUser, nullptr, 0, &needed);

    if (needed == 0)
        return {};

    std::vector<BYTE> buffer (needed);

    if (! GetTokenInformation (token.handle, TokenUser, buffer.data(), needed, &needed))
        return {};

    std::array<wchar_t, kNameCapacity> name {}, domain {};
    DWORD nameSize = (DWORD) name.size(), domainSize = (DWORD) domain.size();
    SID_NAME_USE use {};
    const auto* user = reinterpret_cast<const TOKEN_USER*> (buffer.data());

    if (! LookupAccountSidW (nullptr, user->User.Sid, name.data(), &nameSize, domain.data(), &domainSize, &use))
        return {};

    return juce::String (name.data());
}
} // namespace

std::vector<DeviceHolder> findOtherProcessesHolding (const std::string&)
{
    return {};
}

ProcessDescription describeProcess (int pid)
{
    ProcessDescription holder;
    holder.pid = pid;

    if (pid <= 0)
        return {};

    // Another user's process lets this one query its name only with limited rights, and its
    // token not at all: what is refused stays empty.
    const HandleCloser process (OpenProcess (PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD) pid));

    if (process.handle == nullptr)
        return holder;

    holder.name = imageName (process.handle);
    holder.user = tokenUser (process.handle);
    return holder;
}

bool otherDeviceHoldersCanBeFound() noexcept
{
    return false;
}
