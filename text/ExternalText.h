#pragma once

#include <juce_core/juce_core.h>

#include <string>

/**
    The one way from bytes that come from outside the program to text: command
    line arguments, environment values, file and folder names, configuration
    files, messages of other processes, strings of devices and of X resources.

    Such bytes are meant to be UTF-8 but may be anything. The text made from
    them holds well-formed UTF-8 only: each byte that begins no well-formed
    sequence (a stray continuation byte, an overlong form, a surrogate, a value
    beyond U+10FFFF, a sequence cut short) becomes U+FFFD, so what is shown
    still says that something was there. Where the bytes themselves matter (a
    path to open), keep them beside the text.
*/
struct ExternalText final
{
    /** The text of size bytes at bytes (nullptr or 0 gives empty text); a null
        byte ends the text. Any thread; never fails. */
    static juce::String fromBytes (const char* bytes, size_t size);

    /** The text of null-terminated bytes; nullptr gives empty text. Any thread. */
    static juce::String fromBytes (const char* nullTerminated);

    /** The text of bytes, up to its first null byte. Any thread. */
    static juce::String fromBytes (const std::string& bytes);

    /** True when size bytes at bytes are well-formed UTF-8 (a null byte counts
        as malformed: no text holds one). Any thread. */
    static bool isWellFormed (const char* bytes, size_t size) noexcept;

    /** The value of an environment variable as text; empty when it is unset.
        Any thread (the environment is not changed while the program runs). */
    static juce::String environmentValue (const char* name);

    /**
        text with every control character (C0, DEL, C1) written as an escape:
        \n, \r and \t, \xHH for the other C0 characters and DEL, \u00HH for C1.
        What is printed for a person then never moves the terminal's cursor,
        never starts a terminal sequence and never splits one event's line.
        Any thread.
    */
    static juce::String withControlsEscaped (const juce::String& text);

    ExternalText() = delete;
};
