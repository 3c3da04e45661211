#include "terminal/ProgressLine.h"

#include <cmath>
#include <limits>

namespace
{
constexpr double kMsPerSecond = 1000.0;
constexpr int kSecondsPerMinute = 60;
constexpr int64_t kBytesPerKiB = 1024;
constexpr int kPercent = 100;
// Below this share the time left is a guess too wild to show.
constexpr double kLeastFractionForEstimate = 0.01;
constexpr int kPercentWidth = 3;

juce::String minutesAndSeconds (double ms)
{
    const auto seconds = (int) std::lround (std::max (0.0, ms) / kMsPerSecond);
    return juce::String (seconds / kSecondsPerMinute) + ":" + juce::String (seconds % kSecondsPerMinute).paddedLeft ('0', 2);
}
} // namespace

ProgressLine::ProgressLine (Mode lineMode, int64_t total, Columns terminalColumns)
    : mode (lineMode)
    , totalBytes (std::max<int64_t> (0, total))
    , columns (std::move (terminalColumns))
{
}

ProgressLine::ProgressLine (Mode lineMode, int64_t total, int terminalColumns)
    : ProgressLine (lineMode, total, [terminalColumns]
                    { return terminalColumns; })
{
}

juce::String ProgressLine::describe (double fraction, int64_t total, double elapsedMs)
{
    fraction = juce::jlimit (0.0, 1.0, fraction);
    const auto sent = (int64_t) std::llround (fraction * (double) total);
    const auto left = fraction >= kLeastFractionForEstimate ? minutesAndSeconds (elapsedMs * (1.0 - fraction) / fraction)
                                                            : juce::String ("-:--");

    return juce::String ((int) std::floor (fraction * kPercent)).paddedLeft (' ', kPercentWidth) + " %  "
           + juce::String (sent / kBytesPerKiB) + " of " + juce::String (total / kBytesPerKiB) + " KiB  "
           + minutesAndSeconds (elapsedMs) + " elapsed  " + left + " left";
}

juce::String ProgressLine::update (double fraction, double elapsedMs)
{
    fraction = juce::jlimit (0.0, 1.0, fraction);
    lastFraction = fraction;
    lastElapsedMs = elapsedMs;

    if (mode == Mode::steps)
    {
        const auto step = (int) std::floor (fraction * kSteps);

        // One line however many tenths the write passed since the last one.
        if (step <= lastStep)
            return {};

        lastStep = step;
        return describe (fraction, totalBytes, elapsedMs) + "\n";
    }

    const auto minimumGapMs = kMsPerSecond / kRedrawsPerSecond;

    // The end is always drawn, whenever it comes.
    if (drawn && elapsedMs - lastDrawMs < minimumGapMs && fraction < 1.0)
        return {};

    lastDrawMs = elapsedMs;
    return redraw (describe (fraction, totalBytes, elapsedMs));
}

juce::String ProgressLine::finish()
{
    if (mode == Mode::steps || ! drawn)
        return {};

    return redraw (describe (lastFraction, totalBytes, lastElapsedMs)) + "\n";
}

juce::String ProgressLine::redraw (const juce::String& text)
{
    // A line that reached the last column would wrap, and the carriage return
    // would then redraw only its second half. The width is asked each time: the
    // terminal may have been resized since the last drawing.
    const auto width = columns != nullptr ? columns() : 0;
    const auto room = width > 0 ? width - 1 : std::numeric_limits<int>::max();
    const auto shown = text.substring (0, room);
    const auto length = shown.length();
    // Blanks over what the last drawing left, as far as the line has room: what
    // lay beyond it went when the terminal was narrowed.
    const auto blanks = juce::String::repeatedString (" ", std::max (0, std::min (drawnLength, room) - length));

    drawn = true;
    drawnLength = length;
    return "\r" + shown + blanks;
}
