#include "terminal/TerminalInput.h"

#include "text/ExternalText.h"

namespace
{
constexpr const char* kReplacementCharacter = "\xef\xbf\xbd"; // U+FFFD in UTF-8
} // namespace

TerminalInput::Answer TerminalInput::answerOf (std::string bytes, bool lineEnded, bool cut)
{
    if (! lineEnded)
        return { bytes.empty() && ! cut ? Answer::Ending::inputEnded : Answer::Ending::unended, ExternalText::fromBytes (bytes) };

    if (! bytes.empty() && bytes.back() == '\r')
        bytes.pop_back();

    // Text ends at a NUL byte: "y", NUL, "no" would read as "y".
    std::string text;

    for (const auto byte : bytes)
        text += byte == '\0' ? std::string (kReplacementCharacter) : std::string (1, byte);

    if (cut)
        text += kReplacementCharacter;

    return { Answer::Ending::line, ExternalText::fromBytes (text) };
}
