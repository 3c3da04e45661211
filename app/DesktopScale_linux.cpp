#include "app/DesktopScale.h"

#include "text/ExternalText.h"

#include <X11/Xlib.h>

std::optional<std::string> DesktopScale::readXftDpi()
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
