#include "text/FormatText.h"

namespace
{
// A width or precision beyond this is treated as this, so that a hostile format
// cannot ask for gigabytes of padding.
constexpr int kLargestField = 4096;

int readNumber (juce::CharPointer_UTF8& p)
{
    int value = 0;

    while (*p >= '0' && *p <= '9')
    {
        value = juce::jmin (kLargestField, value * 10 + static_cast<int> (*p - '0'));
        ++p;
    }

    return value;
}
} // namespace

juce::String formatText (const juce::String& format,
                         const juce::String& arg1,
                         const juce::String& arg2,
                         const juce::String& arg3,
                         const juce::String& arg4)
{
    const juce::String* const args[] = { &arg1, &arg2, &arg3, &arg4 };
    size_t nextArg = 0;

    juce::String result;
    result.preallocateBytes (format.getNumBytesAsUTF8() + arg1.getNumBytesAsUTF8() + arg2.getNumBytesAsUTF8()
                             + arg3.getNumBytesAsUTF8() + arg4.getNumBytesAsUTF8() + 8);

    auto p = format.getCharPointer();

    while (! p.isEmpty())
    {
        const auto start = p;

        if (*p != '%')
        {
            // Plain text up to the next conversion goes over in one piece.
            while (! p.isEmpty() && *p != '%')
                ++p;

            result += juce::String (start, p);
            continue;
        }

        ++p;

        if (*p == '%')
        {
            ++p;
            result += "%";
            continue;
        }

        bool leftAlign = false, zeroPad = false;

        for (;; ++p)
        {
            if (*p == '-')
                leftAlign = true;
            else if (*p == '0')
                zeroPad = true;
            else if (*p != ' ' && *p != '+' && *p != '#')
                break;
        }

        const auto width = readNumber (p);
        int precision = -1;

        if (*p == '.')
        {
            ++p;
            precision = readNumber (p);
        }

        if (*p != 's')
        {
            // Not a text conversion: keep it visible rather than guess at an argument.
            result += juce::String (start, p);
            continue;
        }

        ++p;
        auto value = nextArg < std::size (args) ? *args[nextArg] : juce::String();
        ++nextArg;

        if (precision >= 0 && value.length() > precision)
            value = value.substring (0, precision);

        if (const auto padding = width - value.length(); padding > 0)
        {
            if (leftAlign)
                value += juce::String::repeatedString (" ", padding);
            else
                value = juce::String::repeatedString (zeroPad ? "0" : " ", padding) + value;
        }

        result += value;
    }

    return result;
}
