#include "app/DesktopScale.h"

#include "log/SupportLog.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace
{
// The resolution at which an X desktop draws at scale 1.
constexpr double kBaseDpi = 96.0;
// No desktop draws at more than 8 times or less than half: anything outside
// is a mistaken setting, not a screen.
constexpr double kSmallestScale = 0.5;
constexpr double kLargestScale = 8.0;
// A scale cut down to fit the screen is cut to hundredths.
constexpr double kScaleSteps = 100.0;

std::optional<double> parseNumber (const char* text, bool wholeOnly)
{
    if (text == nullptr)
        return std::nullopt;

    while (*text == ' ' || *text == '\t')
        ++text;

    if (*text == 0)
        return std::nullopt;

    char* end = nullptr;
    errno = 0;
    const auto value = wholeOnly ? (double) std::strtol (text, &end, 10) : std::strtod (text, &end);

    while (end != nullptr && (*end == ' ' || *end == '\t' || *end == '\n'))
        ++end;

    if (errno != 0 || end == text || end == nullptr || *end != 0 || ! std::isfinite (value))
        return std::nullopt;

    return value;
}

std::optional<double> usable (std::optional<double> scale)
{
    if (scale && *scale >= kSmallestScale && *scale <= kLargestScale)
        return scale;

    return std::nullopt;
}
} // namespace

std::optional<double> DesktopScale::fromSettings (const char* gdkScale, const char* xftDpi)
{
    // GTK takes GDK_SCALE as a whole number, and so do we: "1.5" is ignored there too.
    if (const auto gdk = usable (parseNumber (gdkScale, true)); gdk && *gdk >= 1.0)
        return gdk;

    if (const auto dpi = parseNumber (xftDpi, false))
        return usable (*dpi / kBaseDpi);

    return std::nullopt;
}

double DesktopScale::globalFactorFor (double desiredScale, double displayScale)
{
    if (! (displayScale > 0.0) || ! std::isfinite (displayScale))
        return desiredScale;

    return desiredScale / displayScale;
}

double DesktopScale::fittingScale (double desiredScale, int windowWidth, int windowHeight, double workWidth, double workHeight)
{
    if (windowWidth <= 0 || windowHeight <= 0 || ! (workWidth > 0.0) || ! (workHeight > 0.0))
        return desiredScale;

    // Rounded down, so that rounding the window's size up cannot push it past the edge.
    const auto fits = std::floor (juce::jmin (workWidth / windowWidth, workHeight / windowHeight) * kScaleSteps) / kScaleSteps;

    if (desiredScale <= fits)
        return desiredScale;

    // A screen smaller than the window at 1x is no reason to draw it smaller than asked.
    return juce::jmax (fits, juce::jmin (desiredScale, 1.0));
}

void DesktopScale::applyScale (double desiredScale, int windowWidth, int windowHeight)
{
    auto& desktop = juce::Desktop::getInstance();
    const auto* display = desktop.getDisplays().getPrimaryDisplay();

    if (display == nullptr)
        return;

    // A display's scale already holds the global factor; what the framework
    // found on its own is the rest.
    const auto ownScale = display->scale / (double) desktop.getGlobalScaleFactor();
    const auto workArea = display->userArea.toDouble() * display->scale;
    const auto scale = fittingScale (desiredScale, windowWidth, windowHeight, workArea.getWidth(), workArea.getHeight());

    const auto format = [] (double value)
    { return juce::String (value, 2).trimCharactersAtEnd ("0").trimCharactersAtEnd ("."); };

    if (scale < desiredScale)
        SupportLog::writeToStandardError ("desktop scale " + format (desiredScale) + " would make the window larger than the screen's work area ("
                                          + juce::String (juce::roundToInt (workArea.getWidth())) + " x "
                                          + juce::String (juce::roundToInt (workArea.getHeight())) + " pixels); drawing at "
                                          + format (scale));

    desktop.setGlobalScaleFactor ((float) globalFactorFor (scale, ownScale));
}
