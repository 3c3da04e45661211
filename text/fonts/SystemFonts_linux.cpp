// The installed fonts through fontconfig, the font catalogue every Linux desktop uses.

#include "text/fonts/SystemFonts.h"

#include "text/ExternalText.h"
#include "text/TxtTables.h"
#include "text/fonts/CoveredTypeface.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <map>
#include <memory>

namespace
{
// fontconfig's language tags of the catalogue languages, in catalogue order.
const char* const kFontconfigLanguages[kLanguageCount] = { "en", "fr", "de", "es", "it", "nl",
                                                           "ru", "pt", "zh-cn", "zh-tw", "ko", "ja" };

// Outline formats the framework's FreeType typeface draws from memory.
const char* const kLoadableFormats[] = { "TrueType", "CFF" };

const char* languageTag (int languageIndex) noexcept
{
    return (languageIndex >= 0 && languageIndex < kLanguageCount) ? kFontconfigLanguages[languageIndex] : nullptr;
}

struct PatternDeleter
{
    void operator() (FcPattern* p) const noexcept { FcPatternDestroy (p); }
};

struct FontSetDeleter
{
    void operator() (FcFontSet* s) const noexcept { FcFontSetDestroy (s); }
};

struct ObjectSetDeleter
{
    void operator() (FcObjectSet* s) const noexcept { FcObjectSetDestroy (s); }
};

using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;
using FontSetPtr = std::unique_ptr<FcFontSet, FontSetDeleter>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, ObjectSetDeleter>;

/**
    fontconfig's configuration, loaded on first use and released with the framework
    at shutdown: without FcFini the library's parsed configuration shows as leaked.
*/
class FontconfigLibrary final : public juce::DeletedAtShutdown
{
public:
    FontconfigLibrary() { FcInit(); }

    ~FontconfigLibrary() override
    {
        FcFini();
        clearSingletonInstance();
    }

    JUCE_DECLARE_SINGLETON (FontconfigLibrary, false)
};

JUCE_IMPLEMENT_SINGLETON (FontconfigLibrary)

void initialiseFontconfig() { FontconfigLibrary::getInstance(); }

// A face is loadable when it is an outline face we can hand to the framework as file
// data. Loading from data always takes the file's first face, so later faces of a
// collection do not count.
bool locateLoadableFace (FcPattern* face, SystemFonts::FaceLocation& where)
{
    FcChar8* file = nullptr;

    if (FcPatternGetString (face, FC_FILE, 0, &file) != FcResultMatch || file == nullptr)
        return false;

    int index = 0;

    if (FcPatternGetInteger (face, FC_INDEX, 0, &index) == FcResultMatch && index != 0)
        return false;

    FcBool outline = FcTrue;

    if (FcPatternGetBool (face, FC_OUTLINE, 0, &outline) == FcResultMatch && outline != FcTrue)
        return false;

    FcChar8* format = nullptr;

    if (FcPatternGetString (face, FC_FONTFORMAT, 0, &format) != FcResultMatch || format == nullptr)
        return false;

    const auto formatName = ExternalText::fromBytes (reinterpret_cast<const char*> (format));

    if (std::none_of (std::begin (kLoadableFormats), std::end (kLoadableFormats), [&] (const char* f)
                      { return formatName == f; }))
        return false;

    where.file = ExternalText::fromBytes (reinterpret_cast<const char*> (file));
    where.index = 0;

    FcCharSet* characters = nullptr;

    if (FcPatternGetCharSet (face, FC_CHARSET, 0, &characters) == FcResultMatch && characters != nullptr)
    {
        CharacterCoverage::Block bits {};
        static_assert (FC_CHARSET_MAP_SIZE == CharacterCoverage::kWordsPerBlock, "fontconfig pages are 256 characters");
        FcChar32 next = 0;

        for (auto first = FcCharSetFirstPage (characters, bits.data(), &next); first != FC_CHARSET_DONE;
             first = FcCharSetNextPage (characters, bits.data(), &next))
            where.coverage.addBlock (first, bits);
    }

    return true;
}

// Exact coverage: "zh-tw" must not be satisfied by a face that only covers "zh-cn".
bool coversLanguage (FcPattern* face, const char* tag)
{
    FcLangSet* languages = nullptr;

    return tag != nullptr
           && FcPatternGetLangSet (face, FC_LANG, 0, &languages) == FcResultMatch
           && FcLangSetHasLang (languages, reinterpret_cast<const FcChar8*> (tag)) == FcLangEqual;
}

bool coversAll (FcPattern* face, const juce::Array<int>& languages)
{
    for (auto language : languages)
        if (! coversLanguage (face, languageTag (language)))
            return false;

    return true;
}

/** Loaded typefaces, by request and by file, released with the framework at shutdown. */
class TypefaceStore final : public juce::DeletedAtShutdown
{
public:
    ~TypefaceStore() override { clearSingletonInstance(); }

    juce::CriticalSection lock;
    std::map<juce::String, juce::Typeface::Ptr> byRequest;
    std::map<juce::String, juce::Typeface::Ptr> byFile;

    JUCE_DECLARE_SINGLETON (TypefaceStore, false)
};

JUCE_IMPLEMENT_SINGLETON (TypefaceStore)

juce::Typeface::Ptr loadTypeface (const SystemFonts::FaceLocation& where)
{
    juce::MemoryBlock data;

    if (! juce::File (where.file).loadFileAsData (data) || data.getSize() == 0)
        return nullptr;

    auto typeface = juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());

    // The framework hands back a nameless typeface without glyphs when FreeType refuses the data.
    if (typeface == nullptr || typeface->getName().isEmpty())
        return nullptr;

    if (where.coverage.isEmpty())
        return typeface;

    return new CoveredTypeface (typeface, where.coverage);
}
} // namespace

namespace SystemFonts
{
bool canDrawLanguage (int languageIndex)
{
    const auto* tag = languageTag (languageIndex);

    if (tag == nullptr)
        return false;

    initialiseFontconfig();

    PatternPtr pattern (FcPatternCreate());
    FcPatternAddString (pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*> (tag));
    ObjectSetPtr objects (FcObjectSetBuild (FC_FILE, FC_INDEX, FC_OUTLINE, FC_FONTFORMAT, FC_LANG, nullptr));
    FontSetPtr faces (FcFontList (nullptr, pattern.get(), objects.get()));

    if (faces == nullptr)
        return false;

    for (int i = 0; i < faces->nfont; ++i)
    {
        FaceLocation where;

        if (locateLoadableFace (faces->fonts[i], where) && coversLanguage (faces->fonts[i], tag))
            return true;
    }

    return false;
}

FaceLocation findFace (const juce::String& familyName, const juce::Array<int>& languages, bool bold, bool italic)
{
    initialiseFontconfig();

    PatternPtr pattern (FcPatternCreate());

    if (familyName.isNotEmpty())
        FcPatternAddString (pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*> (familyName.toRawUTF8()));

    for (auto language : languages)
        if (const auto* tag = languageTag (language))
            FcPatternAddString (pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*> (tag));

    FcPatternAddInteger (pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger (pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool (pattern.get(), FC_SCALABLE, FcTrue);
    FcConfigSubstitute (nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute (pattern.get());

    FcResult result = FcResultNoMatch;
    FontSetPtr sorted (FcFontSort (nullptr, pattern.get(), FcFalse, nullptr, &result));

    if (sorted == nullptr)
        return {};

    // Best match first: a face for every language the name serves, then one for its
    // first language, then anything that draws at all.
    const auto firstOnly = languages.isEmpty() ? juce::Array<int>() : juce::Array<int> { languages.getFirst() };

    for (const auto* required : { &languages, &firstOnly, static_cast<const juce::Array<int>*> (nullptr) })
    {
        for (int i = 0; i < sorted->nfont; ++i)
        {
            FaceLocation where;

            if (locateLoadableFace (sorted->fonts[i], where) && (required == nullptr || coversAll (sorted->fonts[i], *required)))
                return where;
        }
    }

    return {};
}

juce::Typeface::Ptr findTypeface (const juce::String& familyName, const juce::Array<int>& languages, bool bold, bool italic)
{
    auto& store = *TypefaceStore::getInstance();
    const juce::ScopedLock sl (store.lock);

    auto key = familyName + "|" + (bold ? "b" : "") + (italic ? "i" : "") + "|";

    for (auto language : languages)
        key << language << ",";

    if (auto known = store.byRequest.find (key); known != store.byRequest.end())
        return known->second;

    juce::Typeface::Ptr typeface;
    const auto where = findFace (familyName, languages, bold, italic);

    if (where.isValid())
    {
        if (auto loaded = store.byFile.find (where.file); loaded != store.byFile.end())
            typeface = loaded->second;
        else
            typeface = store.byFile[where.file] = loadTypeface (where);
    }

    store.byRequest[key] = typeface;
    return typeface;
}
} // namespace SystemFonts
