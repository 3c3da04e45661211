#pragma once

#include <juce_core/juce_core.h>

/**
    A record of what the window shows, for the end-to-end tests and the benchmark
    script, which cannot read text off the screen.

    When the environment variable TRB_SCREEN_LOG names a file, each new screen
    appends one JSON line to it (see MainComponent::updateDisplay: the status, the
    language, the window's title, the texts and the visible controls with their
    captions and places, in the window's pixels, and the scale from layout
    units to those pixels; the screens that show no step of the update name
    themselves in "screen": "choice" with the controllers' "rows" and "serials",
    "ended" for a run that ended before its first request), and the window's
    first paint appends a line with the
    event "painted". Every line carries "ms", the monotonic clock (CLOCK_MONOTONIC)
    in milliseconds, so that another process can time it.

    Without the variable nothing is written and a call costs the test of a flag.
    A file that cannot be written is skipped silently: the log must never change
    what the program does. Message thread only.
*/
class ScreenLog final
{
public:
    /** True when TRB_SCREEN_LOG is set; read once. */
    static bool isEnabled();

    /** Appends the entry (a juce::DynamicObject) with its "event" and "ms" added. */
    static void write (const juce::String& event, const juce::var& entry);

    /** Appends the "painted" line the first time it is called; later calls do nothing. */
    static void firstPaint();

private:
    ScreenLog() = delete;
};
