#include "text/ExternalText.h"

#include <gtest/gtest.h>

#include <string>

// Bytes from outside the program become text through one conversion.
namespace
{
const std::string kReplacement = "\xef\xbf\xbd"; // U+FFFD

std::string bytesOf (const juce::String& text)
{
    return std::string (text.toRawUTF8(), text.getNumBytesAsUTF8());
}

// Bytes as they may come from outside, and the text they must become.
struct Conversion
{
    const char* what;
    std::string bytes;
    std::string text;
};

const std::vector<Conversion>& conversions()
{
    static const std::vector<Conversion> cases {
        { "plain", "trbkelo7__v102.bin", "trbkelo7__v102.bin" },
        { "two, three and four bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xa7", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xa7" },
        { "a stray continuation byte", "a\x80"
                                       "b",
          "a" + kReplacement + "b" },
        { "an overlong null", "a\xc0\x80"
                              "b",
          "a" + kReplacement + kReplacement + "b" },
        { "an overlong slash", "\xe0\x80\xaf", kReplacement + kReplacement + kReplacement },
        { "a surrogate", "\xed\xa0\x80", kReplacement + kReplacement + kReplacement },
        { "beyond U+10FFFF", "\xf4\x90\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement },
        { "a sequence cut short", "\xe2\x82"
                                  "x",
          kReplacement + kReplacement + "x" },
        { "cut short at the end", "x\xf0\x9f\x8e", "x" + kReplacement + kReplacement + kReplacement },
        { "bytes that never begin one", "\xf8\xff\xfe", kReplacement + kReplacement + kReplacement },
        { "a null byte ends the text", std::string ("ab\0cd", 5), "ab" },
    };
    return cases;
}
} // namespace

TEST (ExternalText, ReplacesEachByteThatBeginsNoWellFormedSequence)
{
    for (const auto& c : conversions())
    {
        EXPECT_EQ (bytesOf (ExternalText::fromBytes (c.bytes)), c.text) << c.what;
        EXPECT_EQ (ExternalText::isWellFormed (c.bytes.data(), c.bytes.size()), c.bytes == c.text) << c.what;
    }

    EXPECT_EQ (ExternalText::fromBytes (nullptr), juce::String());
    EXPECT_EQ (ExternalText::fromBytes ("abc", 0), juce::String());
}

TEST (ExternalText, EscapesControlCharactersAndLeavesEverythingElse)
{
    const struct
    {
        std::string text;
        juce::String escaped;
    } cases[] = {
        { "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac", juce::String::fromUTF8 ("Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac") },
        { "one\ntwo\r\tthree", "one\\ntwo\\r\\tthree" },
        { "\x1b]0;owned\x07", "\\x1b]0;owned\\x07" },
        { "\x1b[2J\x7f", "\\x1b[2J\\x7f" },
        // C1 controls, as UTF-8: CSI and NEL.
        { "a\xc2\x9b"
          "31mb\xc2\x85",
          "a\\u009b31mb\\u0085" },
        { "\x01\x1f", "\\x01\\x1f" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (ExternalText::withControlsEscaped (ExternalText::fromBytes (c.text)), c.escaped) << c.text;
}
