#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>

/**
    The write's progress as text for a terminal: the percentage, the bytes sent, the
    time elapsed and the time left, e.g. " 42 %  484 of 1152 KiB  0:12 elapsed  0:16 left".

    On a terminal it is one line redrawn in place (a carriage return, the text, blanks
    over what the last drawing left), at most kRedrawsPerSecond times a second; on
    anything else (a file, a pipe, a screen reader's log) it is one line for each tenth
    of the write. Times come from the caller, so that nothing here depends on a clock.
    Any one thread.
*/
class ProgressLine final
{
public:
    enum class Mode
    {
        redrawn, // a terminal: one line, drawn again in place
        steps // anything else: one line per tenth
    };

    /** Tells the terminal's width in characters now (0: unknown). */
    using Columns = std::function<int()>;

    /** A line for a write of totalBytes on a terminal whose width columns tells; it is
        asked at every drawing, so that a terminal resized during the write (narrowed to
        a single column, even) still gets drawings that never reach its last column and
        so never wrap. */
    ProgressLine (Mode mode, int64_t totalBytes, Columns columns);

    /** A line for a terminal of a width that does not change (0: unknown, not cut). */
    ProgressLine (Mode mode, int64_t totalBytes, int columns = 0);

    /** What to write now that fraction (0.0 to 1.0) of the bytes are sent, elapsedMs
        after the write started: a redraw, a whole line, or nothing. */
    juce::String update (double fraction, double elapsedMs);

    /** What ends the progress when the write ends: on a terminal the last state drawn and
        a line end (nothing when nothing was drawn); off one, nothing. */
    juce::String finish();

    /** The text for one moment of the write, without a line end. */
    static juce::String describe (double fraction, int64_t totalBytes, double elapsedMs);

    static constexpr int kRedrawsPerSecond = 10;
    static constexpr int kSteps = 10;

private:
    juce::String redraw (const juce::String& text);

    const Mode mode;
    const int64_t totalBytes;
    const Columns columns;
    double lastDrawMs = 0.0;
    bool drawn = false;
    int lastStep = 0;
    double lastFraction = 0.0, lastElapsedMs = 0.0;
    int drawnLength = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProgressLine)
};
