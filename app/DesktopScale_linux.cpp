// The desktop's scale settings on Linux: GDK_SCALE, as GTK reads it, and the
// X server's Xft.dpi resource.

#include "app/DesktopScale.h"

#include "text/ExternalText.h"

#include <X11/Xlib.h>

#include <optional>
#include <string>

namespace
{
// The Xft.dpi resource of the default display as text, or nothing when no
// display can be opened or it has no such resource.
std::optional<std::string> readXftDpi()
{
    // A connection of its own: the framework's is not reachable from here,
    // and one round trip at start-up costs nothing worth sharing it for.
    auto* display = XOpenDisplay (nullptr);

    if (display == nullptr)
        return std::nullopt;

    // XGetDefault reads the server's resource database (what xrdb loaded,
    // the RESOURCE_MANAGER property) and keeps ownership of the text.
    std::optional<std::string> value;

    if (const auto* text = XGetDefault (display, "Xft", "dpi"))
        value = ExternalText::fromBytes (text).toStdString();

    XCloseDisplay (display);
    return value;
}
} // namespace

void DesktopScale::applyToDesktop (int windowWidth, int windowHeight)
{
    const auto dpi = readXftDpi();
    const auto gdkScale = ExternalText::environmentValue ("GDK_SCALE").toStdString();

    if (const auto desired = fromSettings (gdkScale.empty() ? nullptr : gdkScale.c_str(), dpi ? dpi->c_str() : nullptr))
        applyScale (*desired, windowWidth, windowHeight);
}
