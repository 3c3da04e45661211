#pragma once

#include <optional>

/**
    The scale at which the desktop wants windows drawn on a high-density
    screen, and its hand-over to the framework's global scale.

    The framework reads its own per-display scale (from XSettings, GNOME's
    settings or the monitor's size) but neither of the two settings that most
    X desktops use: the GDK_SCALE environment variable and the X resource
    Xft.dpi. GDK_SCALE wins when it holds a usable whole number, as it does
    for GTK; otherwise Xft.dpi / 96 gives the scale. With neither, the
    framework's own choice stands.
*/
class DesktopScale final
{
public:
    /** The scale that the two settings ask for, given as the raw texts of
        GDK_SCALE and Xft.dpi (null when unset). A text that is not a number,
        not positive or absurdly large is ignored, so a stray setting never
        shrinks the window to nothing or blows it past any screen. Any thread. */
    static std::optional<double> fromSettings (const char* gdkScale, const char* xftDpi);

    /** The global scale factor that makes the framework draw at desiredScale
        on a display that it already scales by displayScale on its own. Any thread. */
    static double globalFactorFor (double desiredScale, double displayScale);

    /** The scale to draw a window at: desiredScale, or less when the window
        (windowWidth x windowHeight at scale 1) would not fit the screen's work
        area (workWidth x workHeight pixels) at it; never less than 1 on that
        account. Any thread. */
    static double fittingScale (double desiredScale, int windowWidth, int windowHeight, double workWidth, double workHeight);

    /** Reads the desktop's scale settings (on Linux GDK_SCALE and the X
        server's Xft.dpi, on Windows the system's DPI) and sets the framework's global scale to match, as far
        as a window of the given size at scale 1 still fits the primary
        display's work area (a lower scale is said on stderr); call before the
        first window is created. Message thread. Without a display, or without
        any setting, the framework's scale is left as it is. */
    static void applyToDesktop (int windowWidth, int windowHeight);

private:
    // Sets the framework's global scale to desiredScale, cut down to fit (applyToDesktop).
    static void applyScale (double desiredScale, int windowWidth, int windowHeight);

    DesktopScale() = delete;
};
