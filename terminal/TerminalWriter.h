#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/**
    Writes the terminal front-end's text to stdout or stderr from a thread of its
    own, so that a stream that does not take it at once (a terminal paused with
    Ctrl+S, a pipe nobody reads) never holds up the message thread, which carries
    the controller's replies during the write.

    Text waits in a bounded queue and is written as given (no newline is added: a
    progress line is redrawn with a carriage return). Text that does not fit, or
    that the stream refuses, is dropped; nothing here fails in a way the caller
    would notice.
*/
class TerminalWriter final
{
public:
    enum class Stream
    {
        output, // stdout
        error // stderr
    };

    /** A writer to stream; its thread starts with the first text. Any thread. */
    explicit TerminalWriter (Stream stream);

    /** Waits up to kLastTextWaitMs for what is queued, then lets go of it: a thread
        stuck in a write is left to end with the process. */
    ~TerminalWriter();

    /** Queues text and returns at once. Any thread. */
    void write (const juce::String& text);

    /** Waits until everything queued has been written, at most timeoutMs. False when
        text was still waiting. Any thread. */
    bool flush (int timeoutMs);

    /** True when the stream is a terminal (a progress line may then be redrawn in place). Any thread. */
    bool isTerminal() const noexcept { return terminal; }

    /** The terminal's width in characters, or 0 when it is not a terminal or does not say.
        Asked of the system at each call (a cheap query), so that it follows a terminal
        resized meanwhile (SIGWINCH on Linux, a resized console on Windows) without a
        signal handler. Any thread. */
    int getColumns() const noexcept;

    /** The longest the destructor waits for the last text. */
    static constexpr int kLastTextWaitMs = 2000;

private:
    // The platform's half (TerminalWriter_linux.cpp).
    static bool isTerminalStream (Stream stream) noexcept;
    static int columnsOf (Stream stream) noexcept;
    static void writeWhole (Stream stream, const char* bytes, size_t size) noexcept;

    struct Queue;
    const Stream stream;
    const bool terminal;
    std::shared_ptr<Queue> queue;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminalWriter)
};
