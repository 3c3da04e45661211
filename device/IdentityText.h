#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

/** Copies a controller's serial or port into a caller's buffer of size bytes as
    HID_GetDeviceIdentity hands it over: cut to fit, always ended by a NUL. A null
    buffer or no room copies nothing. Any thread; never fails. */
inline void copyIdentityText (const std::string& text, char* buffer, int32_t size) noexcept
{
    if (buffer == nullptr || size <= 0)
        return;

    const auto count = std::min (text.size(), (size_t) size - 1);
    std::memcpy (buffer, text.data(), count);
    buffer[count] = '\0';
}
