#pragma once

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>
#include <string>

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
    /** What the input gave. The text is the line without its line end ("\n" or
        "\r\n"), made with ExternalText; a NUL byte in it reads as U+FFFD, and a line
        longer than any answer is cut and ends with U+FFFD, so that neither can pass
        for a word it merely begins with. */
    struct Answer
    {
        enum class Ending
        {
            line, // a whole line, ended with Enter
            unended, // text, then the end of the input (Ctrl+D after the text)
            inputEnded // the end of the input before any text (Ctrl+D, a closed stdin), or a read error
        };

        Ending ending = Ending::inputEnded;
        juce::String text;
    };

    /** Told the answer on the message thread. */
    using Answered = std::function<void (Answer answer)>;

    /** Starts reading one line; answered runs on the message thread once, unless this
        object is destroyed first. Message thread. When no thread can be started,
        answered is told at once that the input ended. */
    explicit TerminalInput (Answered answered);

    /** Stops the reading thread (wakes it at once) and waits for it. Message thread. */
    ~TerminalInput();

    /** True when stdin is a terminal a user can answer from. Any thread. */
    static bool isTerminal() noexcept;

private:
    class Reader; // the platform's reading thread (TerminalInput_linux.cpp)

    // What the platform's reader gathered, as the answer (TerminalInput.cpp).
    static Answer answerOf (std::string bytes, bool lineEnded, bool cut);
    std::unique_ptr<Reader> reader;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminalInput)
};
