#include "text/ExternalText.h"

#include <cstdlib>
#include <cstring>

namespace
{
constexpr unsigned char kReplacementCharacter[] = { 0xef, 0xbf, 0xbd }; // U+FFFD in UTF-8
constexpr juce::juce_wchar kFirstPrintable = 0x20;
constexpr juce::juce_wchar kDelete = 0x7f;
constexpr juce::juce_wchar kLastC1 = 0x9f;

// The length of the well-formed UTF-8 sequence at p (1 to 4), or 0 when the
// byte at p begins none; end bounds what is read.
size_t wellFormedLength (const unsigned char* p, const unsigned char* end) noexcept
{
    const auto lead = p[0];

    if (lead < 0x80)
        return lead != 0 ? 1 : 0;

    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;

    if (lead >= 0xc2 && lead <= 0xdf)
    {
        length = 2;
    }
    else if (lead >= 0xe0 && lead <= 0xef)
    {
        length = 3;
        // No overlong forms, no surrogates (U+D800 to U+DFFF).
        low = lead == 0xe0 ? 0xa0 : low;
        high = lead == 0xed ? 0x9f : high;
    }
    else if (lead >= 0xf0 && lead <= 0xf4)
    {
        length = 4;
        // No overlong forms, nothing beyond U+10FFFF.
        low = lead == 0xf0 ? 0x90 : low;
        high = lead == 0xf4 ? 0x8f : high;
    }
    else
    {
        return 0;
    }

    if (static_cast<size_t> (end - p) < length || p[1] < low || p[1] > high)
        return 0;

    for (size_t i = 2; i < length; ++i)
        if ((p[i] & 0xc0) != 0x80)
            return 0;

    return length;
}
} // namespace

juce::String ExternalText::fromBytes (const char* bytes, size_t size)
{
    if (bytes == nullptr || size == 0)
        return {};

    const auto* begin = reinterpret_cast<const unsigned char*> (bytes);
    const auto* end = begin + ::strnlen (bytes, size);
    std::string checked;
    checked.reserve (static_cast<size_t> (end - begin));

    for (const auto* p = begin; p < end;)
    {
        if (const auto length = wellFormedLength (p, end); length != 0)
        {
            checked.append (reinterpret_cast<const char*> (p), length);
            p += length;
        }
        else
        {
            checked.append (reinterpret_cast<const char*> (kReplacementCharacter), sizeof (kReplacementCharacter));
            ++p;
        }
    }

    return juce::String::fromUTF8 (checked.data(), static_cast<int> (checked.size()));
}

juce::String ExternalText::fromBytes (const char* nullTerminated)
{
    return nullTerminated != nullptr ? fromBytes (nullTerminated, std::strlen (nullTerminated)) : juce::String();
}

juce::String ExternalText::fromBytes (const std::string& bytes)
{
    return fromBytes (bytes.data(), bytes.size());
}

bool ExternalText::isWellFormed (const char* bytes, size_t size) noexcept
{
    if (bytes == nullptr)
        return size == 0;

    const auto* p = reinterpret_cast<const unsigned char*> (bytes);
    const auto* end = p + size;

    while (p < end)
    {
        const auto length = wellFormedLength (p, end);

        if (length == 0)
            return false;

        p += length;
    }

    return true;
}

juce::String ExternalText::environmentValue (const char* name)
{
    return fromBytes (std::getenv (name));
}

juce::String ExternalText::withControlsEscaped (const juce::String& text)
{
    auto isControl = [] (juce::juce_wchar c)
    { return c < kFirstPrintable || (c >= kDelete && c <= kLastC1); };

    bool any = false;

    for (auto p = text.getCharPointer(); ! p.isEmpty() && ! any;)
        any = isControl (p.getAndAdvance());

    if (! any)
        return text;

    juce::String escaped;
    escaped.preallocateBytes (text.getNumBytesAsUTF8() + 16);

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (! isControl (c))
            escaped += juce::String::charToString (c);
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\t')
            escaped += "\\t";
        else if (c <= kDelete)
            escaped += "\\x" + juce::String::toHexString (static_cast<int> (c)).paddedLeft ('0', 2);
        else
            escaped += "\\u" + juce::String::toHexString (static_cast<int> (c)).paddedLeft ('0', 4);
    }

    return escaped;
}
