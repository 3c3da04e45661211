#pragma once

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>
#include <optional>

/**
    Reads the user's answer from stdin: one line, on a thread of its own that sleeps
    in the system until a line (or the end of the input) comes, so that a program
    waiting for an answer takes no processor time and its message thread stays free.

    The line is handed to the message thread; an object destroyed before then hands
    nothing over.
*/
class TerminalInput final
{
public:
    /** The line without its line end, or nothing when the input ended (Ctrl+D, a closed
        stdin) or could not be read. */
    using Answered = std::function<void (std::optional<juce::String> line)>;

    /** Starts reading one line; answered runs on the message thread once, unless this
        object is destroyed first. Message thread. When no thread can be started,
        answered is told nothing at once (as for an input that ended). */
    explicit TerminalInput (Answered answered);

    /** Stops the reading thread (wakes it at once) and waits for it. Message thread. */
    ~TerminalInput();

    /** True when stdin is a terminal a user can answer from. Any thread. */
    static bool isTerminal() noexcept;

private:
    class Reader; // the platform's reading thread (TerminalInput_linux.cpp)
    std::unique_ptr<Reader> reader;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminalInput)
};
