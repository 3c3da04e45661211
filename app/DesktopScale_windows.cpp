// The desktop's scale on Windows: the system's DPI setting ("Make everything
// bigger"), 96 being scale 1, as the same rule reads Xft.dpi on Linux. The
// framework scales each display itself once the process is DPI-aware, so the
// global factor mostly stays 1; what this adds is the cut to the work area.

#include "app/DesktopScale.h"

#include <windows.h>

#include <string>

namespace
{
using GetDpiForSystemFunction = UINT (WINAPI*)();

// The system's DPI, or nothing when the system does not say.
std::optional<UINT> readSystemDpi()
{
    // Windows 10 (1607) and later say it whatever this thread's DPI awareness;
    // looked up at run time so the program still starts on older systems.
    if (auto* user = ::GetModuleHandleW (L"user32.dll"))
        if (auto* proc = ::GetProcAddress (user, "GetDpiForSystem"))
            if (const auto dpi = reinterpret_cast<GetDpiForSystemFunction> (reinterpret_cast<void*> (proc))(); dpi > 0)
                return dpi;

    auto* screen = ::GetDC (nullptr);

    if (screen == nullptr)
        return std::nullopt;

    const auto dpi = ::GetDeviceCaps (screen, LOGPIXELSX);
    ::ReleaseDC (nullptr, screen);
    return dpi > 0 ? std::optional<UINT> ((UINT) dpi) : std::nullopt;
}
} // namespace

void DesktopScale::applyToDesktop (int windowWidth, int windowHeight)
{
    const auto dpi = readSystemDpi();

    if (! dpi)
        return;

    const auto dpiText = std::to_string (*dpi);

    if (const auto desired = fromSettings (nullptr, dpiText.c_str()))
        applyScale (*desired, windowWidth, windowHeight);
}
