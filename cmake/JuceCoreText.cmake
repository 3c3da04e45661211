# A change to the framework's String (juce_core), built into its core module:
# a String made from bytes that claim to be UTF-8 never holds more than it
# allocated.
#
# The framework sizes such a string by decoding its bytes, but copies the raw
# bytes: a byte that does not begin a well-formed sequence (0x80, a lead byte
# whose continuation is missing) decodes as the end of the text, so the copy
# runs past the allocation (a heap overflow). Other constructors copy the raw
# bytes into an allocation of the right size, and the string then holds bytes
# that its later decoding walks past. The program meets such bytes in
# arguments, file and folder names, the working folder, environment values and
# messages of other processes, often before any code of ours sees them (the
# framework's directory iterator and command line).
#
# Here every String made from UTF-8 bytes (a null-terminated pointer, a pointer
# and a character limit, a pointer pair, a byte count, a std::string, appended
# UTF-8) holds well-formed UTF-8 only: each byte that does not begin a
# well-formed sequence (stray continuation, overlong form, surrogate, beyond
# U+10FFFF, cut short) becomes U+FFFD, measured and copied by the same walk.
#
# The changes are made to copies of the module's files in the build tree, and
# each must find its text (cmake/JucePatch.cmake).

include(JucePatch)
trb_patch_module(juce_core)

#------------------------------------------------------------------------------
trb_patch_begin("text/juce_String.cpp")

# The walk over UTF-8 bytes that both measures and copies.
trb_replace_once(
"    template <class CharPointer>
    static CharPointerType createFromCharPointer (const CharPointer text)
    {"
"    // The length of the well-formed UTF-8 sequence that begins at p (1 to 4),
    // or 0 when the byte at p begins none. end bounds the bytes read, or is
    // nullptr for null-terminated text: a null byte never continues a
    // sequence, and each byte is looked at only after the ones before it passed.
    static size_t wellFormedUTF8Length (const uint8* p, const uint8* end) noexcept
    {
        const auto lead = p[0];

        if (lead < 0x80)
            return 1;

        size_t length = 0;
        uint8 low = 0x80, high = 0xbf;

        if (lead >= 0xc2 && lead <= 0xdf)       length = 2;
        else if (lead == 0xe0)                  { length = 3; low = 0xa0; }
        else if (lead == 0xed)                  { length = 3; high = 0x9f; }
        else if (lead >= 0xe1 && lead <= 0xef)  length = 3;
        else if (lead == 0xf0)                  { length = 4; low = 0x90; }
        else if (lead == 0xf4)                  { length = 4; high = 0x8f; }
        else if (lead >= 0xf1 && lead <= 0xf3)  length = 4;
        else                                    return 0;

        if (end != nullptr && (size_t) (end - p) < length)
            return 0;

        if (p[1] < low || p[1] > high)
            return 0;

        for (size_t i = 2; i < length; ++i)
            if ((p[i] & 0xc0) != 0x80)
                return 0;

        return length;
    }

    static constexpr size_t replacementCharacterBytes = 3; // U+FFFD

    // The bytes of the first maxChars characters of UTF-8 text, stopping at a
    // null byte or at end (nullptr: only at a null byte). A byte that begins no
    // well-formed sequence counts as one character.
    static size_t numUTF8BytesOfChars (const char* start, const char* end, size_t maxChars) noexcept
    {
        auto* s = reinterpret_cast<const uint8*> (start);
        auto* e = reinterpret_cast<const uint8*> (end);
        auto* p = s;

        for (size_t numChars = 0; numChars < maxChars && (e == nullptr || p < e) && *p != 0; ++numChars)
        {
            const auto n = wellFormedUTF8Length (p, e);
            p += n != 0 ? n : 1;
        }

        return (size_t) (p - s);
    }

    // A new string of numBytes of UTF-8 (no null among them), each byte that
    // begins no well-formed sequence replaced by U+FFFD: measured and copied
    // by the same walk, so the copy always fits.
    static CharPointerType createFromUTF8Bytes (const char* start, size_t numBytes)
    {
        if (start == nullptr || numBytes == 0)
            return CharPointerType (emptyString.text);

        auto* s = reinterpret_cast<const uint8*> (start);
        auto* e = s + numBytes;
        size_t bytesNeeded = 0;

        for (auto* p = s; p < e;)
        {
            const auto n = wellFormedUTF8Length (p, e);
            bytesNeeded += n != 0 ? n : replacementCharacterBytes;
            p += n != 0 ? n : 1;
        }

        auto dest = createUninitialisedBytes (bytesNeeded + sizeof (CharType));
        auto* d = reinterpret_cast<uint8*> (dest.getAddress());

        for (auto* p = s; p < e;)
        {
            if (const auto n = wellFormedUTF8Length (p, e); n != 0)
            {
                memcpy (d, p, n);
                d += n;
                p += n;
            }
            else
            {
                *d++ = 0xef;
                *d++ = 0xbf;
                *d++ = 0xbd;
                ++p;
            }
        }

        *d = 0;
        return dest;
    }

    static CharPointerType createFromCharPointer (const CharPointer_UTF8 text)
    {
        if (text.getAddress() == nullptr)
            return CharPointerType (emptyString.text);

        return createFromUTF8Bytes (text.getAddress(), strlen (text.getAddress()));
    }

    static CharPointerType createFromCharPointer (const CharPointer_UTF8 text, size_t maxChars)
    {
        if (text.getAddress() == nullptr)
            return CharPointerType (emptyString.text);

        return createFromUTF8Bytes (text.getAddress(), numUTF8BytesOfChars (text.getAddress(), nullptr, maxChars));
    }

    template <class CharPointer>
    static CharPointerType createFromCharPointer (const CharPointer text)
    {")

# A pointer pair of UTF-8: the bytes up to end or a null byte, checked.
trb_replace_once(
"        auto numBytes = (size_t) (reinterpret_cast<const char*> (end.getAddress())
                                   - reinterpret_cast<const char*> (start.getAddress()));
        auto dest = createUninitialisedBytes (numBytes + sizeof (CharType));
        memcpy (dest.getAddress(), start, numBytes);
        dest.getAddress()[numBytes / sizeof (CharType)] = 0;
        return dest;
    }"
"        if (end.getAddress() <= start.getAddress())
            return CharPointerType (emptyString.text);

        auto maxBytes = (size_t) (reinterpret_cast<const char*> (end.getAddress())
                                   - reinterpret_cast<const char*> (start.getAddress()));
        return createFromUTF8Bytes (start.getAddress(), strnlen (start.getAddress(), maxBytes));
    }")

# A byte count (a std::string, a number's digits): checked as well.
trb_replace_once(
"        auto dest = createUninitialisedBytes (numChars * sizeof (CharType) + sizeof (CharType));
        CharPointerType (dest).writeWithCharLimit (CharPointer_UTF8 (src), (int) (numChars + 1));
        return dest;"
"        return createFromUTF8Bytes (src, src != nullptr ? strnlen (src, numChars) : 0);")

# Appended UTF-8 (operator+= with a char pointer, appending another string's
# part) is checked the same way; what is not well-formed is appended as the
# checked copy.
trb_replace_once(
"    auto extraBytesNeeded = getAddressDifference (endOfTextToAppend.getAddress(),
                                                  startOfTextToAppend.getAddress());
    jassert (extraBytesNeeded >= 0);
"
"    auto extraBytesNeeded = getAddressDifference (endOfTextToAppend.getAddress(),
                                                  startOfTextToAppend.getAddress());
    jassert (extraBytesNeeded >= 0);

    if (extraBytesNeeded > 0)
    {
        const auto* s = reinterpret_cast<const uint8*> (startOfTextToAppend.getAddress());
        const auto* e = s + extraBytesNeeded;

        for (auto* p = s; p < e;)
        {
            const auto n = StringHolderUtils::wellFormedUTF8Length (p, e);

            if (n == 0 || *p == 0)
            {
                const String checked (startOfTextToAppend, endOfTextToAppend);
                appendCharPointer (checked.text, checked.text.findTerminatingNull());
                return;
            }

            p += n;
        }
    }
")

# Nothing is asserted about the bytes any more: whatever they are, they are
# made safe.
trb_replace_once(
"            jassert (CharPointer_UTF8::isValidString (buffer, bufferSizeBytes));
            return String (CharPointer_UTF8 (buffer), CharPointer_UTF8 (buffer + bufferSizeBytes));"
"            return String (CharPointer_UTF8 (buffer), CharPointer_UTF8 (buffer + bufferSizeBytes));")

trb_patch_end()

#------------------------------------------------------------------------------
# The unity file, unchanged: copied so that it finds the changed file beside
# itself and every other file of the module in the framework's folder.
trb_patch_begin("juce_core.cpp")
trb_replace_once("#include \"text/juce_String.cpp\"" "#include \"text/juce_String.cpp\"")
trb_patch_end()

trb_patch_use_copied_unity_file()
