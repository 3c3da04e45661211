#include "tests/GuiTestSupport.h"
#include "text/FormatText.h"
#include "text/TxtLoader.h"
#include "text/fonts/FontResolvingLookAndFeel.h"
#include "text/fonts/SystemFonts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <initializer_list>

namespace
{
juce::String fromCodePoints (std::initializer_list<juce::juce_wchar> codePoints)
{
    juce::String s;

    for (auto c : codePoints)
        s += juce::String::charToString (c);

    return s;
}

const juce::String& model() { return kTextModel[0]; }

/** Sets a locale variable for one test and puts the old value back. */
class ScopedEnvironment final
{
public:
    ScopedEnvironment (const char* nameIn, const char* value)
        : name (nameIn)
    {
        if (const auto* old = std::getenv (name))
            previous = std::string (old), hadPrevious = true;

        if (value == nullptr)
            unsetenv (name);
        else
            setenv (name, value, 1);
    }

    ~ScopedEnvironment()
    {
        if (hadPrevious)
            setenv (name, previous.c_str(), 1);
        else
            unsetenv (name);
    }

private:
    const char* name;
    std::string previous;
    bool hadPrevious = false;
};

/** A catalogue created under a given POSIX locale, deleted afterwards. */
class CatalogueUnderLocale : public ::testing::Test
{
protected:
    void TearDown() override { TxtLoader::deleteInstance(); }

    ScopedEnvironment lcAll { "LC_ALL", "ja_JP.UTF-8" };
    ScopedEnvironment lcMessages { "LC_MESSAGES", nullptr };
    ScopedEnvironment lang { "LANG", nullptr };
};

constexpr int kJapanese = 11;
} // namespace

//==============================================================================
TEST (TextCatalogue, EmptyFamilyAndModelTextsAreTheSameInEveryLanguage)
{
    for (int i = 0; i < kLanguageCount; ++i)
    {
        EXPECT_TRUE (kTextEmpty[i].isEmpty()) << i;
        EXPECT_EQ (kTextFamily[i], "TRB") << i;
        EXPECT_EQ (kTextModel[i], "TRB-Kelo7") << i;
    }
}

TEST (TextCatalogue, EveryTextIsValidUtf8AndNonEmptyWhereTheCatalogueHasText)
{
    const auto check = [] (const juce::String& text, const juce::String& where, bool mayBeEmpty)
    {
        const auto* bytes = text.toRawUTF8();
        const auto byteCount = static_cast<int> (text.getNumBytesAsUTF8());

        EXPECT_TRUE (juce::CharPointer_UTF8::isValidString (bytes, byteCount + 1)) << where;
        EXPECT_EQ (juce::String::fromUTF8 (bytes, byteCount), text) << where;
        EXPECT_TRUE (mayBeEmpty || text.isNotEmpty()) << where;

        // Text decoded as 8-bit shows up as C1 controls or "Ã"/"Â"/"Ð"/"Ñ"/"ã"/"æ"/"ç"/"í" pairs.
        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            const auto c = p.getAndAdvance();
            EXPECT_FALSE (c >= 0x80 && c <= 0x9F) << where;
            EXPECT_FALSE (c == 0xC3 || c == 0xC2 || c == 0xD0 || c == 0xD1) << where;
            EXPECT_NE (c, 0xFFFD) << where;
        }
    };

    for (int i = 0; i < kLanguageCount; ++i)
    {
        check (kLanguageNames[i], "language name " + juce::String (i), false);
        check (kWindowsFontNames[i], "font " + juce::String (i), false);
        check (kAltFontNames[i], "alternative font " + juce::String (i), false);

        for (int k = 0; k < kTextCount; ++k)
            check (kTextTables[k][i], "text " + juce::String (k) + " of language " + juce::String (i), k == TXT_EMPTY);
    }
}

TEST (TextCatalogue, NonLatinTextsHoldTheirOwnScripts)
{
    EXPECT_EQ (kLanguageNames[6], fromCodePoints ({ 0x0420, 0x0443, 0x0441, 0x0441, 0x043A, 0x0438, 0x0439 }));
    EXPECT_EQ (kLanguageNames[8], fromCodePoints ({ 0x7B80, 0x4F53, 0x4E2D, 0x6587 }));
    EXPECT_EQ (kLanguageNames[9], fromCodePoints ({ 0x7E41, 0x9AD4, 0x4E2D, 0x6587 }));
    EXPECT_EQ (kLanguageNames[10], fromCodePoints ({ 0xD55C, 0xAD6D, 0xC5B4 }));
    EXPECT_EQ (kLanguageNames[11], fromCodePoints ({ 0x65E5, 0x672C, 0x8A9E }));
    EXPECT_EQ (kLanguageNames[1], "Fran" + fromCodePoints ({ 0x00E7 }) + "ais");
    EXPECT_EQ (kTextClose[2], "Schlie" + fromCodePoints ({ 0x00DF }) + "en");

    // The Russian OK is written in Cyrillic letters, not Latin ones that look the same.
    EXPECT_EQ (kTextOk[6], fromCodePoints ({ 0x041E, 0x041A }));
    EXPECT_NE (kTextOk[6], "OK");
}

// The choice screen's texts and the ends before the first request are the updater's own: each language has its own
// wording, written in its own script, never the English left in place.
TEST (TextCatalogue, TheChoiceTextsAreTranslatedIntoEachLanguagesOwnScript)
{
    struct Script
    {
        int language;
        juce::juce_wchar first, last;
    };

    const Script scripts[] = { { 6, 0x0400, 0x04FF }, { 8, 0x4E00, 0x9FFF }, { 9, 0x4E00, 0x9FFF }, { 10, 0xAC00, 0xD7A3 }, { 11, 0x3040, 0x9FFF } };

    for (const auto* table : { kTextSeveralConnected, kTextWhichController, kTextControllerRow, kTextSelect, kTextSerialNotConnected,
                               kTextControllerHeld })
    {
        for (int i = 1; i < kLanguageCount; ++i)
            EXPECT_NE (table[i], table[kEnglish]) << table[kEnglish] << " in language " << i;

        for (const auto& script : scripts)
        {
            const auto& text = table[script.language];
            auto inScript = false;

            for (auto p = text.getCharPointer(); ! p.isEmpty();)
                if (const auto c = p.getAndAdvance(); c >= script.first && c <= script.last)
                    inScript = true;

            EXPECT_TRUE (inScript) << text << " in language " << script.language;
        }
    }
}

TEST (TextCatalogue, LanguageFontsFollowTheirScripts)
{
    for (int i = 0; i <= 7; ++i)
        EXPECT_EQ (kWindowsFontNames[i], "Verdana") << i;

    EXPECT_EQ (kWindowsFontNames[8], "SimHei");
    EXPECT_EQ (kWindowsFontNames[9], "SimHei");
    EXPECT_EQ (kWindowsFontNames[10], "Batang");
    EXPECT_EQ (kWindowsFontNames[11], "MS PGothic");
    EXPECT_EQ (kAltFontNames[6], "Geneva CY");
    EXPECT_EQ (kAltFontNames[10], "AppleGothic Regular");
}

// How many conversions each message expects; a lost or extra "%" would show the
// model name twice, not at all, or take the minor version as the major.
TEST (TextCatalogue, EveryMessageHoldsTheConversionsItsCallersFill)
{
    const auto countConversions = [] (const juce::String& text)
    {
        int count = 0;

        for (int at = text.indexOfChar ('%'); at >= 0; at = text.indexOfChar (at + 1, '%'))
            ++count;

        return count;
    };

    for (int i = 0; i < kLanguageCount; ++i)
    {
        for (int k = 0; k < kTextCount; ++k)
        {
            auto expected = 0;

            if (k == TXT_NOT_CONNECTED || k == TXT_UPDATE_INTRO || k == TXT_UPDATING)
                expected = 1;
            else if (k == TXT_CURRENT_VERSION || k == TXT_UPDATE_VERSION || k == TXT_CONTROLLER_ROW)
                expected = 2;
            else if (k == TXT_UPDATE_COMPLETE)
                expected = (i == 7 || i == 10) ? 0 : 1;

            EXPECT_EQ (countConversions (kTextTables[k][i]), expected) << "text " << k << " of language " << i;
        }
    }
}

TEST (TextCatalogue, OddlySpacedConversionsFillAsTheProductShowsThem)
{
    EXPECT_EQ (formatText (kTextUpdating[5], model()), "De firmware van uw TRB-Kelo7wordt bijgewerkt.");
    EXPECT_EQ (formatText (kTextUpdating[7], model()), "Atualizando o firmware do seuTRB-Kelo7.");
    EXPECT_EQ (formatText (kTextUpdating[7], model()), formatText (kTextUpdating[7].replace ("% s", "%s"), model()));

    // Portuguese and Korean completion texts name no model: the argument is dropped.
    EXPECT_EQ (formatText (kTextUpdateComplete[7], model()), kTextUpdateComplete[7]);
    EXPECT_EQ (formatText (kTextUpdateComplete[10], model()), kTextUpdateComplete[10]);
}

TEST (TextCatalogue, VersionTextsPadTheMinorPartWithZero)
{
    EXPECT_EQ (formatText (kTextCurrentVersion[0], "1", "5"), "Current Version: Ver. 1.05");
    EXPECT_EQ (formatText (kTextUpdateVersion[4], "2", "10"), "Versione aggiornata: 2.10");
    EXPECT_EQ (formatText (kTextCurrentVersion[11], "1", "0"), juce::String::fromUTF8 ("現在のバージョン: Ver1.00"));
    EXPECT_EQ (formatText (kTextUpdateVersion[9], "3", "7"), juce::String::fromUTF8 ("更新版本: 3.07版"));
    EXPECT_EQ (formatText (kTextCurrentVersion[6], "1", "123"), juce::String::fromUTF8 ("Настоящая версия: Версия 1.123"));
}

TEST (TextCatalogue, TheLongestFilledMessageIsTheRussianCompletionAt147Bytes)
{
    const auto russian = formatText (kTextUpdateComplete[6], model());
    EXPECT_EQ (russian.getNumBytesAsUTF8(), 147u);

    for (int i = 0; i < kLanguageCount; ++i)
        for (int k = 0; k < kTextCount; ++k)
            EXPECT_LE (formatText (kTextTables[k][i], model(), "12", "34").getNumBytesAsUTF8(), 147u);
}

//==============================================================================
TEST (FormatText, PadsWithTheDigitZeroAndNeverCutsALongerArgument)
{
    struct Case
    {
        const char* format;
        const char* arg;
        const char* expected;
    };

    const Case cases[] = {
        { "%02s", "5", "05" },
        { "%04s", "E21", "0E21" },
        { "%02s", "123", "123" },
        { "%04s", "", "0000" },
        { "%2s", "5", " 5" },
        { "%-4s", "5", "5   " },
        { "%-04s", "5", "5   " },
        { "%.2s", "abcdef", "ab" },
        { "% s|", "x", "x|" },
        { "%+s", "x", "x" },
        { "100%%", "x", "100%" },
        { "%s%%", "5", "5%" },
        { "%d %s", "x", "%d x" },
        { "tail %", "x", "tail %" },
        { "%", "x", "%" },
        { "no conversion", "x", "no conversion" },
        { "%04s", "日", "000日" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (formatText (juce::String::fromUTF8 (c.format), juce::String::fromUTF8 (c.arg)), juce::String::fromUTF8 (c.expected)) << c.format;
}

TEST (FormatText, TakesArgumentsInOrderAndEmptyTextsPastTheFourth)
{
    EXPECT_EQ (formatText ("%s-%s-%s-%s", "a", "b", "c", "d"), "a-b-c-d");
    EXPECT_EQ (formatText ("%s-%s-%s-%s-%s|%03s", "a", "b", "c", "d"), "a-b-c-d-|000");
    EXPECT_EQ (formatText ("%s.%02s", "1"), "1.00");
    EXPECT_EQ (formatText ({}, "a"), juce::String());
}

TEST (FormatText, ResultsOfAnyLengthComeOutWhole)
{
    const auto longArgument = juce::String::repeatedString (juce::String::fromUTF8 ("Ж"), 1000);
    const auto result = formatText (kTextUpdateComplete[6], longArgument);

    EXPECT_EQ (result.getNumBytesAsUTF8(), 147u - 9u + 2000u);
    EXPECT_TRUE (result.contains (longArgument));
    EXPECT_TRUE (result.endsWith (juce::String::fromUTF8 (" завершено.")));

    // An absurd width is held to a sane size rather than allocating without bound.
    const auto padded = formatText ("%999999999999s", "x");
    EXPECT_GE (padded.length(), 2);
    EXPECT_LE (padded.length(), 4096);
    EXPECT_TRUE (padded.endsWith ("x"));
}

//==============================================================================
TEST_F (CatalogueUnderLocale, GetInstanceDetectsTheLanguageAndLoadsItsTexts)
{
    auto* catalogue = TxtLoader::getInstance();
    ASSERT_NE (catalogue, nullptr);
    EXPECT_EQ (TxtLoader::getInstance(), catalogue);
    EXPECT_EQ (catalogue->getLanguage(), kJapanese);
    EXPECT_EQ (catalogue->getText (TXT_OK), "OK");
    EXPECT_EQ (catalogue->getText (TXT_CLOSE), kTextClose[kJapanese]);
    EXPECT_EQ (catalogue->getText (TXT_CLOSE), fromCodePoints ({ 0x7D42, 0x4E86 }));
}

TEST_F (CatalogueUnderLocale, SetLanguageSwitchesEveryTextTogetherBySharingTheTables)
{
    auto* catalogue = TxtLoader::getInstance();

    for (int i = 0; i < kLanguageCount; ++i)
    {
        catalogue->setLanguage (i);
        EXPECT_EQ (catalogue->getLanguage(), i);

        for (int k = 0; k < kTextCount; ++k)
        {
            const auto& text = catalogue->getText (static_cast<TxtId> (k));
            EXPECT_EQ (text, kTextTables[k][i]) << k;
            // A shared string, not a copy of its characters.
            EXPECT_EQ (text.getCharPointer().getAddress(), kTextTables[k][i].getCharPointer().getAddress()) << k;
        }
    }
}

TEST_F (CatalogueUnderLocale, IndicesOutsideTheCatalogueChangeNothingAndYieldNothing)
{
    auto* catalogue = TxtLoader::getInstance();
    catalogue->setLanguage (3);

    for (int bad : { 12, -1, 13, 1000, INT_MIN, INT_MAX })
    {
        catalogue->setLanguage (bad);
        EXPECT_EQ (catalogue->getLanguage(), 3) << bad;
        EXPECT_EQ (catalogue->getText (TXT_CANCEL), "Cancelar") << bad;
        EXPECT_TRUE (catalogue->getLanguageName (bad).isEmpty()) << bad;
        EXPECT_TRUE (catalogue->getFontName (bad).isEmpty()) << bad;
        EXPECT_FALSE (catalogue->isLanguageAvailable (bad)) << bad;
    }

    EXPECT_TRUE (catalogue->getText (static_cast<TxtId> (kTextCount)).isEmpty());
    EXPECT_TRUE (catalogue->getText (static_cast<TxtId> (-1)).isEmpty());

    for (int i = 0; i < kLanguageCount; ++i)
    {
        EXPECT_EQ (catalogue->getLanguageName (i), kLanguageNames[i]);
        EXPECT_EQ (catalogue->getFontName (i), kWindowsFontNames[i]);
    }
}

TEST_F (CatalogueUnderLocale, ANewCatalogueDetectsAgainInsteadOfKeepingTheLastChoice)
{
    TxtLoader::getInstance()->setLanguage (2);
    TxtLoader::deleteInstance();
    TxtLoader::deleteInstance();

    {
        ScopedEnvironment canadianFrench ("LC_ALL", "fr_CA.UTF-8");
        EXPECT_EQ (TxtLoader::getInstance()->getLanguage(), 1);
        EXPECT_EQ (TxtLoader::getInstance()->getText (TXT_START), juce::String::fromUTF8 ("Démarrer"));
        TxtLoader::deleteInstance();
    }

    EXPECT_EQ (TxtLoader::getInstance()->getLanguage(), kJapanese);
}

TEST_F (CatalogueUnderLocale, LangAloneStartsTheCatalogueInJapanese)
{
    ScopedEnvironment noLcAll ("LC_ALL", nullptr);
    ScopedEnvironment japanese ("LANG", "ja_JP.UTF-8");

    EXPECT_EQ (TxtLoader::getInstance()->getLanguage(), kJapanese);
}

TEST_F (CatalogueUnderLocale, EveryLanguageIsAvailableWithTheProjectsFontsInstalled)
{
    auto* catalogue = TxtLoader::getInstance();

    for (int i = 0; i < kLanguageCount; ++i)
        EXPECT_TRUE (catalogue->isLanguageAvailable (i)) << i;
}

//==============================================================================
namespace
{
// A code point no font draws: what a face shows for it is its missing-glyph box.
constexpr juce::juce_wchar kNeverDrawn = 0x10FFFD;

/** Characters of a text that a typeface draws as its missing-glyph box (or not at all). */
juce::String undrawnCharacters (juce::Typeface& typeface, const juce::String& text)
{
    const auto missing = guitest::glyphOutline (typeface, kNeverDrawn).toString();
    juce::String undrawn;

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (juce::CharacterFunctions::isWhitespace (c))
            continue;

        const auto outline = guitest::glyphOutline (typeface, c).toString();

        if (outline.isEmpty() || outline == missing)
            undrawn += juce::String::charToString (c);
    }

    return undrawn;
}

int darkPixels (const juce::Image& image)
{
    int count = 0;

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getBrightness() < 0.5f)
                ++count;

    return count;
}

class DrawnCatalogue : public CatalogueUnderLocale
{
protected:
    void SetUp() override { look.installAsDefault(); }

    void TearDown() override
    {
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        juce::Typeface::clearTypefaceCache();
        CatalogueUnderLocale::TearDown();
    }

    FontResolvingLookAndFeel look;
};
} // namespace

TEST_F (DrawnCatalogue, EveryLanguageDrawsVisibleGlyphsInItsCatalogueFont)
{
    auto* catalogue = TxtLoader::getInstance();

    for (int i = 0; i < kLanguageCount; ++i)
    {
        catalogue->setLanguage (i);
        const auto text = catalogue->getLanguageName (i) + " " + catalogue->getText (TXT_APP_TITLE) + " "
                          + catalogue->getText (TXT_OK) + " " + catalogue->getText (TXT_SELECT_LANGUAGE);
        const juce::Font font (catalogue->getFontName (i), 20.0f, juce::Font::plain);

        auto typeface = font.getTypefacePtr();
        ASSERT_NE (typeface, nullptr) << i;
        EXPECT_TRUE (typeface->getName().isNotEmpty()) << i;
        EXPECT_EQ (undrawnCharacters (*typeface, text), juce::String()) << "language " << i << " in " << typeface->getName();

        // Drawn by the catalogue font's own face, not borrowed from the fallback font.
        const auto face = SystemFonts::findFace (catalogue->getFontName (i), FontResolvingLookAndFeel::languagesUsingFont (catalogue->getFontName (i)), false, false);

        for (auto p = text.getCharPointer(); ! p.isEmpty();)
            EXPECT_TRUE (face.coverage.contains (p.getAndAdvance())) << "language " << i;

        juce::Image image (juce::Image::RGB, 900, 40, true);
        {
            juce::Graphics g (image);
            g.fillAll (juce::Colours::white);
            g.setColour (juce::Colours::black);
            g.setFont (font);
            g.drawSingleLineText (text, 4, 28);
        }

        EXPECT_GT (darkPixels (image), 200) << "language " << i;

        if (auto* dir = std::getenv ("TRB_DUMP_DIR"))
        {
            juce::FileOutputStream out (juce::File (dir).getChildFile ("lang" + juce::String (i) + ".png"));
            out.setPosition (0);
            out.truncate();
            juce::PNGImageFormat().writeImageToStream (image, out);
        }
    }
}

TEST_F (DrawnCatalogue, TheMissingGlyphCheckSeesTextAFaceCannotDraw)
{
    // The Latin face has no Hangul or kana, nor has the fallback font here: the check
    // must say so, or it proves nothing.
    const auto previousFallback = juce::Font::getFallbackFontName();
    juce::Font::setFallbackFontName ("Verdana");

    auto latin = juce::Font ("Verdana", 20.0f, juce::Font::plain).getTypefacePtr();
    ASSERT_NE (latin, nullptr);
    EXPECT_EQ (undrawnCharacters (*latin, kLanguageNames[10]), kLanguageNames[10]);
    EXPECT_EQ (undrawnCharacters (*latin, "ab" + kLanguageNames[11]), kLanguageNames[11]);

    juce::Font::setFallbackFontName (previousFallback);
}

TEST_F (DrawnCatalogue, TheDefaultSansSerifAndTheFallbackFontResolveToo)
{
    const auto japanese = kTextSelectLanguage[kJapanese];
    auto defaultSans = juce::Font (16.0f).getTypefacePtr();
    ASSERT_NE (defaultSans, nullptr);
    EXPECT_EQ (undrawnCharacters (*defaultSans, japanese), juce::String());

    const auto previousFallback = juce::Font::getFallbackFontName();

    for (int i : { 8, 9, 10, 11 })
    {
        juce::Font::setFallbackFontName (kWindowsFontNames[i]);
        // What the framework's glyph fallback asks for (Typeface::getFallbackTypeface is not public).
        auto fallback = juce::Font (juce::Font::getFallbackFontName(), juce::Font::getFallbackFontStyle(), 10.0f).getTypefacePtr();
        ASSERT_NE (fallback, nullptr) << i;
        EXPECT_EQ (undrawnCharacters (*fallback, kLanguageNames[i] + kTextClose[i]), juce::String()) << i;
    }

    juce::Font::setFallbackFontName (previousFallback);
}

TEST_F (DrawnCatalogue, ACharacterTheFontLacksComesFromTheFallbackFontAndNeverAsABox)
{
    const auto previousFallback = juce::Font::getFallbackFontName();
    const auto korean = kTextStart[10] + kTextClose[10];
    auto defaultSans = juce::Font (16.0f).getTypefacePtr();
    ASSERT_NE (defaultSans, nullptr);

    // The Japanese default face has no Hangul: the language's own font supplies it...
    juce::Font::setFallbackFontName (kWindowsFontNames[10]);
    EXPECT_EQ (undrawnCharacters (*defaultSans, korean), juce::String());

    // ...and with a fallback that lacks it too, nothing is drawn rather than a box.
    juce::Font::setFallbackFontName ("Verdana");
    juce::Path outline;
    EXPECT_FALSE (defaultSans->getOutlineForGlyph (static_cast<int> (korean[0]), outline) && ! outline.isEmpty());

    juce::Font::setFallbackFontName (previousFallback);
}
