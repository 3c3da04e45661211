// The installed fonts on Windows, through GDI, which is what the framework draws
// with. A face covers a language when GDI lists it for the language's character
// set and it has glyphs for the language's own name. For a family, the catalogue's
// Windows fonts of the languages come first, then any installed face that covers
// the first language, then the rest of the catalogue's fonts.

#include "text/fonts/SystemFonts.h"

#include "text/TxtTables.h"
#include "text/fonts/CoveredTypeface.h"

#include <windows.h>

#include <map>
#include <vector>

namespace
{
// GDI's character set of each catalogue language, in catalogue order.
const BYTE kCharsets[kLanguageCount] = { ANSI_CHARSET, ANSI_CHARSET, ANSI_CHARSET, ANSI_CHARSET,
                                         ANSI_CHARSET, ANSI_CHARSET, RUSSIAN_CHARSET, ANSI_CHARSET,
                                         GB2312_CHARSET, CHINESEBIG5_CHARSET, HANGUL_CHARSET, SHIFTJIS_CHARSET };

// The size the framework's typeface is made at; it scales outlines itself.
constexpr float kTypefaceHeight = 16.0f;
constexpr int kFaceNameUnits = LF_FACESIZE;

bool isLanguage (int languageIndex) noexcept { return languageIndex >= 0 && languageIndex < kLanguageCount; }

/** A memory device context for GDI's font questions, deleted on every way out. */
class FontQueries final
{
public:
    FontQueries() = default;
    ~FontQueries()
    {
        if (dc != nullptr)
            ::DeleteDC (dc);
    }

    HDC get() const noexcept { return dc; }

private:
    HDC dc = ::CreateCompatibleDC (nullptr);

    JUCE_DECLARE_NON_COPYABLE (FontQueries)
};

int CALLBACK addFamily (const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD type, LPARAM list)
{
    const auto* extended = reinterpret_cast<const NEWTEXTMETRICEXW*> (metrics);
    const bool outline = (type & TRUETYPE_FONTTYPE) != 0
                         || (extended->ntmTm.ntmFlags & (NTM_PS_OPENTYPE | NTM_TT_OPENTYPE)) != 0;

    // "@Name" is the same face set for vertical writing.
    if (outline && font->lfFaceName[0] != L'@')
        reinterpret_cast<juce::StringArray*> (list)->addIfNotAlreadyThere (juce::String (font->lfFaceName), true);

    return 1;
}

// The outline families GDI lists for charset, all of them or only family's.
juce::StringArray installedFamilies (HDC dc, const juce::String& family, BYTE charset)
{
    juce::StringArray families;
    LOGFONTW wanted {};
    wanted.lfCharSet = charset;

    if (family.length() >= kFaceNameUnits)
        return families;

    family.copyToUTF16 (reinterpret_cast<juce::CharPointer_UTF16::CharType*> (wanted.lfFaceName), sizeof (wanted.lfFaceName));
    ::EnumFontFamiliesExW (dc, &wanted, addFamily, reinterpret_cast<LPARAM> (&families), 0);
    return families;
}

HFONT createFont (const juce::String& family, bool bold, bool italic)
{
    LOGFONTW font {};
    font.lfHeight = -(LONG) kTypefaceHeight;
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = italic ? TRUE : FALSE;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_OUTLINE_PRECIS;
    font.lfQuality = ANTIALIASED_QUALITY;
    family.copyToUTF16 (reinterpret_cast<juce::CharPointer_UTF16::CharType*> (font.lfFaceName), sizeof (font.lfFaceName));
    return ::CreateFontIndirectW (&font);
}

// The characters the family's face has glyphs for (empty when GDI does not say).
CharacterCoverage coverageOf (HDC dc, const juce::String& family, bool bold, bool italic)
{
    CharacterCoverage coverage;
    auto* const font = createFont (family, bold, italic);

    if (font == nullptr)
        return coverage;

    auto* const previous = ::SelectObject (dc, font);
    const auto size = ::GetFontUnicodeRanges (dc, nullptr);

    if (size > 0)
    {
        std::vector<char> buffer (size);
        auto* glyphs = reinterpret_cast<GLYPHSET*> (buffer.data());

        if (::GetFontUnicodeRanges (dc, glyphs) == size)
            for (DWORD r = 0; r < glyphs->cRanges; ++r)
                for (USHORT k = 0; k < glyphs->ranges[r].cGlyphs; ++k)
                    coverage.add ((juce::juce_wchar) (glyphs->ranges[r].wcLow + k));
    }

    ::SelectObject (dc, previous);
    ::DeleteObject (font);
    return coverage;
}

bool hasCharacters (const CharacterCoverage& coverage, const juce::String& text)
{
    for (auto c : text)
        if (! coverage.contains (c))
            return false;

    return true;
}

// What is known of one installed family: the languages it covers, asked once.
struct FamilyFacts
{
    CharacterCoverage coverage;
    std::map<int, bool> covers;
};

/** GDI's answers and the loaded typefaces, released with the framework at shutdown. */
class FontStore final : public juce::DeletedAtShutdown
{
public:
    ~FontStore() override { clearSingletonInstance(); }

    juce::CriticalSection lock;
    std::map<juce::String, FamilyFacts> families; // by family name, lower case; absent: not asked
    std::map<juce::String, bool> installed; // by family name, lower case
    std::map<int, juce::StringArray> coveringFamilies; // by language
    std::map<juce::String, juce::Typeface::Ptr> byRequest;

    bool isInstalled (HDC dc, const juce::String& family)
    {
        const auto key = family.toLowerCase();

        if (auto known = installed.find (key); known != installed.end())
            return known->second;

        return installed[key] = family.isNotEmpty() && ! installedFamilies (dc, family, DEFAULT_CHARSET).isEmpty();
    }

    FamilyFacts& factsOf (HDC dc, const juce::String& family)
    {
        const auto key = family.toLowerCase();
        auto known = families.find (key);

        if (known == families.end())
            known = families.emplace (key, FamilyFacts { coverageOf (dc, family, false, false), {} }).first;

        return known->second;
    }

    bool covers (HDC dc, const juce::String& family, int language)
    {
        if (! isLanguage (language) || ! isInstalled (dc, family))
            return false;

        auto& facts = factsOf (dc, family);

        if (auto known = facts.covers.find (language); known != facts.covers.end())
            return known->second;

        const bool listed = ! installedFamilies (dc, family, kCharsets[language]).isEmpty();
        // A face that says nothing of its glyphs is taken at its character set's word.
        const bool drawn = facts.coverage.isEmpty() || hasCharacters (facts.coverage, kLanguageNames[language]);
        return facts.covers[language] = listed && drawn;
    }

    bool coversAll (HDC dc, const juce::String& family, const juce::Array<int>& languages)
    {
        for (auto language : languages)
            if (! covers (dc, family, language))
                return false;

        return true;
    }

    const juce::StringArray& familiesCovering (HDC dc, int language)
    {
        if (auto known = coveringFamilies.find (language); known != coveringFamilies.end())
            return known->second;

        juce::StringArray found;

        for (const auto& family : installedFamilies (dc, {}, kCharsets[language]))
            if (covers (dc, family, language))
                found.add (family);

        return coveringFamilies[language] = found;
    }

    JUCE_DECLARE_SINGLETON (FontStore, false)
};

JUCE_IMPLEMENT_SINGLETON (FontStore)

// The families to try for familyName, best first.
juce::StringArray candidatesFor (FontStore& store, HDC dc, const juce::String& familyName, const juce::Array<int>& languages)
{
    juce::StringArray candidates;

    if (familyName.isNotEmpty())
        candidates.add (familyName);

    for (auto language : languages)
    {
        if (isLanguage (language))
        {
            candidates.addIfNotAlreadyThere (kWindowsFontNames[language], true);
            candidates.addIfNotAlreadyThere (kAltFontNames[language], true);
        }
    }

    if (! languages.isEmpty() && isLanguage (languages.getFirst()))
        for (const auto& family : store.familiesCovering (dc, languages.getFirst()))
            candidates.addIfNotAlreadyThere (family, true);

    // A family that serves no catalogue language (the generic ones) falls back to the
    // catalogue's own fonts before the framework's default.
    if (! languages.isEmpty())
        return candidates;

    for (const auto& family : kWindowsFontNames)
        candidates.addIfNotAlreadyThere (family, true);

    return candidates;
}

SystemFonts::FaceLocation findFaceLocked (FontStore& store, const juce::String& familyName, const juce::Array<int>& languages)
{
    const FontQueries queries;

    if (queries.get() == nullptr)
        return {};

    const auto candidates = candidatesFor (store, queries.get(), familyName, languages);
    const auto firstOnly = languages.isEmpty() ? juce::Array<int>() : juce::Array<int> { languages.getFirst() };

    // Best match first: a face for every language the name serves, then one for its
    // first language, then anything installed.
    for (const auto& required : { languages, firstOnly, juce::Array<int>() })
    {
        for (const auto& family : candidates)
        {
            if (store.isInstalled (queries.get(), family) && store.coversAll (queries.get(), family, required))
            {
                SystemFonts::FaceLocation where;
                where.family = family;
                where.coverage = store.factsOf (queries.get(), family).coverage;
                return where;
            }
        }
    }

    return {};
}
} // namespace

namespace SystemFonts
{
bool canDrawLanguage (int languageIndex)
{
    if (! isLanguage (languageIndex))
        return false;

    auto& store = *FontStore::getInstance();
    const juce::ScopedLock sl (store.lock);
    const FontQueries queries;

    return queries.get() != nullptr && ! store.familiesCovering (queries.get(), languageIndex).isEmpty();
}

FaceLocation findFace (const juce::String& familyName, const juce::Array<int>& languages, bool, bool)
{
    auto& store = *FontStore::getInstance();
    const juce::ScopedLock sl (store.lock);
    return findFaceLocked (store, familyName, languages);
}

juce::Typeface::Ptr findTypeface (const juce::String& familyName, const juce::Array<int>& languages, bool bold, bool italic)
{
    auto& store = *FontStore::getInstance();
    const juce::ScopedLock sl (store.lock);

    auto key = familyName + "|" + (bold ? "b" : "") + (italic ? "i" : "") + "|";

    for (auto language : languages)
        key << language << ",";

    if (auto known = store.byRequest.find (key); known != store.byRequest.end())
        return known->second;

    juce::Typeface::Ptr typeface;
    const auto where = findFaceLocked (store, familyName, languages);

    if (where.isValid())
    {
        const auto style = (bold ? juce::Font::bold : 0) | (italic ? juce::Font::italic : 0);
        typeface = juce::Typeface::createSystemTypefaceFor (juce::Font (where.family, kTypefaceHeight, style));

        // The typeface draws what the face has; the framework's fallback font the rest.
        if (typeface != nullptr && ! where.coverage.isEmpty())
            typeface = new CoveredTypeface (typeface, where.coverage);
    }

    store.byRequest[key] = typeface;
    return typeface;
}
} // namespace SystemFonts
