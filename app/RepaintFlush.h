#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** Paints what a window has waiting to be painted on a timer of its own, on
    systems where the framework's usual signal for it never comes.

    The framework paints a window's invalidated areas when the display reports
    its vertical blank. Wine's stand-in for the DirectX display interface never
    reports one, so under Wine a window would show its first picture only and
    then none of the screens that follow. There, and only there, this object
    flushes the window's pending repaints at the display's usual rate. On every
    other system (real Windows, Linux) it does nothing.
*/
class RepaintFlush final
{
public:
    /** Starts flushing the repaints of window (whichever native window it has
        at each tick) when the system needs it. The window must outlive this
        object. Message thread. */
    explicit RepaintFlush (juce::Component& window);

    /** Stops the timer. Message thread. */
    ~RepaintFlush();

    /** Whether this system needs the flush (the program runs under Wine).
        Any thread; never fails. */
    static bool isNeeded();

    /** Whether this object flushes repaints. Message thread. */
    bool isActive() const noexcept;

private:
    struct Flusher;
    std::unique_ptr<Flusher> flusher;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RepaintFlush)
};
