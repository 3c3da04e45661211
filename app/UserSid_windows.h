#pragma once

#include "platform/ScopedHandle.h"

#include <juce_core/juce_core.h>

#include <string>

#include <windows.h>

#include <sddl.h>

/** The user a process token belongs to, as a text SID ("S-1-5-21-..."); empty
    when the system does not say. Any thread. */
inline juce::String userSidOfToken (HANDLE token)
{
    DWORD size = 0;
    ::GetTokenInformation (token, TokenUser, nullptr, 0, &size);
    std::string buffer (size, '\0');
    LPWSTR text = nullptr;
    juce::String sid;

    if (size > 0 && ::GetTokenInformation (token, TokenUser, buffer.data(), size, &size)
        && ::ConvertSidToStringSidW (reinterpret_cast<TOKEN_USER*> (buffer.data())->User.Sid, &text))
    {
        sid = juce::String (text);
        ::LocalFree (text);
    }

    return sid;
}

/** The user the process processId runs as, as a text SID; empty when it cannot be
    told (the process is gone, or this user may not look at it). Any thread. */
inline juce::String userSidOfProcess (DWORD processId)
{
    const ScopedHandle process { ::OpenProcess (PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId) };
    HANDLE token = nullptr;

    if (! process.isValid() || ! ::OpenProcessToken (process.get(), TOKEN_QUERY, &token))
        return {};

    const ScopedHandle ownedToken { token };
    return userSidOfToken (token);
}
