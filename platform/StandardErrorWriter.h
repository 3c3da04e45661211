#pragma once

#include <juce_core/juce_core.h>

/**
    Writes the program's lines to stderr from a thread of its own, so that a
    stderr nobody reads (a pipe whose reader stopped, a stalled journal) never
    holds up the thread that has something to say: the worker writing the
    controller, or the message thread carrying its replies.

    Lines wait in a queue of bounded size; a line that does not fit, or that
    stderr refuses (closed, its reader gone), is dropped. Nothing here ever
    fails in a way the caller would notice.
*/
class StandardErrorWriter final
{
public:
    /** Queues one line (without its newline) and returns at once. Any thread. */
    static void write (const juce::String& line);

    /** Waits until every queued line has been written, at most timeoutMs: for the
        last lines before the program ends. Returns false when lines were still
        waiting (stderr is not being read). Any thread. */
    static bool flush (int timeoutMs);

    /** Writes text straight to stderr if stderr can take it without waiting,
        and drops it otherwise. Async-signal-safe: for a signal handler that ends
        the program. */
    static void writeAtOnce (const char* text) noexcept;

    /** The same for stdout: a terminal run's last line when it ends at once. */
    static void writeToOutputAtOnce (const char* text) noexcept;

    StandardErrorWriter() = delete;

private:
    /** Whether stderr takes a short line now without blocking (the platform's
        part, StandardErrorWriter_<platform>.cpp). Async-signal-safe. */
    static bool takesAShortLineWithoutWaiting (bool output = false) noexcept;
};
