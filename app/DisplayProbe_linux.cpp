#include "app/DisplayProbe.h"

#include "text/ExternalText.h"

#include <X11/Xlib.h>

#include <cstdlib>

juce::String findDisplayProblem()
{
    const auto* name = std::getenv ("DISPLAY");

    // The framework would fall back to ":0.0" here, which may be another
    // session's server or none: without a DISPLAY there is no display of ours.
    if (name == nullptr || *name == 0)
        return "no display: DISPLAY is not set (the program needs an X display; on Wayland it runs through XWayland)";

    auto* display = XOpenDisplay (name);

    if (display == nullptr)
        return "cannot open the display \"" + ExternalText::fromBytes (name) + "\" (no X server there, or access refused)";

    XCloseDisplay (display);
    return {};
}
