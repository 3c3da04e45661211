#include "text/ExternalText.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

// Bytes from outside the program become text through one conversion, and the
// framework's own String never holds more than it allocated, whatever bytes it
// is made from.
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

//==============================================================================
// The framework's String made from UTF-8 that is not well-formed: the text of
// the replacement, never the raw bytes (which once were copied past the
// string's allocation).
TEST (FrameworkText, EveryWayFromUtf8BytesGivesTheReplacedText)
{
    // Long after the bad byte, so that a copy that runs past the allocation is
    // far past it.
    const std::string tail (200, 'B');

    for (const auto& c : conversions())
    {
        const auto bytes = c.bytes + tail;
        const auto text = c.bytes.find ('\0') == std::string::npos ? c.text + tail : c.text;

        EXPECT_EQ (bytesOf (juce::String (juce::CharPointer_UTF8 (bytes.c_str()))), text) << c.what;
        EXPECT_EQ (bytesOf (juce::String::fromUTF8 (bytes.c_str())), text) << c.what;
        EXPECT_EQ (bytesOf (juce::String::fromUTF8 (bytes.data(), (int) bytes.size())), text) << c.what;
        EXPECT_EQ (bytesOf (juce::String (bytes)), text) << c.what;
        EXPECT_EQ (bytesOf (juce::String (juce::CharPointer_UTF8 (bytes.c_str()), (size_t) 10000)), text) << c.what;

        juce::String appended ("x");
        appended += bytes.c_str();
        EXPECT_EQ (bytesOf (appended), "x" + text) << c.what;
    }
}

TEST (FrameworkText, AFileNameThatIsNotUtf8IsListedAsItsReplacedText)
{
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("trb-external-text-" + juce::Uuid().toString());
    ASSERT_TRUE (folder.createDirectory());
    const auto name = "trbkelo7__v\x80" + std::string (200, 'a') + ".bin";
    const auto path = folder.getFullPathName().toStdString() + "/" + name;
    const auto fd = ::open (path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE (fd, 0);
    ::close (fd);

    const auto listed = folder.findChildFiles (juce::File::findFiles, false, "trbkelo7__v*.bin");
    ASSERT_EQ (listed.size(), 1);
    EXPECT_EQ (bytesOf (listed[0].getFileName()), "trbkelo7__v" + kReplacement + std::string (200, 'a') + ".bin");

    ::unlink (path.c_str());
    folder.deleteRecursively();
}
