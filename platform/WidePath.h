#pragma once

#include <string>

/**
    The bridge between the program's paths, held as bytes, and Windows's own,
    which are UTF-16 and may hold any 16-bit unit but a few punctuation marks,
    also a surrogate without its pair.

    The bytes are UTF-8, extended as the web's "WTF-8" is: a lone surrogate is
    written as the three bytes UTF-8 would give it. So every name Windows allows
    goes to bytes and back unchanged, and any well-formed UTF-8 (the command
    line, the framework's paths) names what it says. Pure; any thread.
*/
namespace WidePath
{
constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kFirstLowSurrogate = 0xDC00;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;

/** The UTF-16 of path's bytes; a byte that begins no sequence becomes U+FFFD. */
inline std::wstring toWide (const std::string& path)
{
    std::wstring wide;
    wide.reserve (path.size());
    const auto* bytes = reinterpret_cast<const unsigned char*> (path.data());
    const auto size = path.size();

    for (size_t i = 0; i < size;)
    {
        const auto lead = bytes[i];
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2
                                            : (lead >> 4) == 0xE   ? 3
                                            : (lead >> 3) == 0x1E  ? 4
                                                                   : 0;
        char32_t code = length == 1 ? lead : length == 2 ? (lead & 0x1Fu)
                                         : length == 3   ? (lead & 0x0Fu)
                                                         : (lead & 0x07u);
        bool valid = length != 0 && i + length <= size;

        for (size_t k = 1; valid && k < length; ++k)
        {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3Fu);
        }

        // Overlong forms would give a second spelling of the same name.
        static constexpr char32_t kSmallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        valid = valid && code >= kSmallest[length] && code <= kLastCodePoint;

        if (! valid)
        {
            wide.push_back ((wchar_t) kReplacement);
            ++i;
            continue;
        }

        if (code >= kFirstSupplementary)
        {
            code -= kFirstSupplementary;
            wide.push_back ((wchar_t) (kFirstSurrogate + (code >> 10)));
            wide.push_back ((wchar_t) (kFirstLowSurrogate + (code & 0x3FF)));
        }
        else
        {
            wide.push_back ((wchar_t) code);
        }

        i += length;
    }

    return wide;
}

/** The bytes of a UTF-16 path, lone surrogates kept. */
inline std::string fromWide (const wchar_t* path, size_t length)
{
    std::string bytes;
    bytes.reserve (length);

    for (size_t i = 0; i < length; ++i)
    {
        char32_t code = (char16_t) path[i];

        if (code >= kFirstSurrogate && code < kFirstLowSurrogate && i + 1 < length
            && (char16_t) path[i + 1] >= kFirstLowSurrogate && (char16_t) path[i + 1] <= kLastSurrogate)
        {
            code = kFirstSupplementary + ((code - kFirstSurrogate) << 10) + ((char16_t) path[i + 1] - kFirstLowSurrogate);
            ++i;
        }

        if (code < 0x80)
        {
            bytes.push_back ((char) code);
        }
        else if (code < 0x800)
        {
            bytes.push_back ((char) (0xC0 | (code >> 6)));
            bytes.push_back ((char) (0x80 | (code & 0x3F)));
        }
        else if (code < kFirstSupplementary)
        {
            bytes.push_back ((char) (0xE0 | (code >> 12)));
            bytes.push_back ((char) (0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back ((char) (0x80 | (code & 0x3F)));
        }
        else
        {
            bytes.push_back ((char) (0xF0 | (code >> 18)));
            bytes.push_back ((char) (0x80 | ((code >> 12) & 0x3F)));
            bytes.push_back ((char) (0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back ((char) (0x80 | (code & 0x3F)));
        }
    }

    return bytes;
}

/** fromWide of a whole string. */
inline std::string fromWide (const std::wstring& path) { return fromWide (path.data(), path.size()); }
} // namespace WidePath
