#include "text/LanguageDetection.h"
#include "text/SystemLocale.h"
#include "text/fonts/FontResolvingLookAndFeel.h"
#include "text/fonts/SystemFonts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace
{
// Windows locale identifiers of a machine with every catalogue language installed,
// written as the system enumerates them, plus a few the catalogue does not know.
const juce::StringArray kEveryLocale { "00000409", "0000040C", "00000407", "0000040A", "00000410", "00000413", "00000419",
                                       "00000816", "00000804", "00000404", "00000412", "00000411", "00000415", "0000041D" };

struct DecisionCase
{
    const char* what;
    juce::StringArray installed;
    uint16_t userLanguage;
    int expected;
};

class EnvironmentGuard final
{
public:
    explicit EnvironmentGuard (std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const auto& [name, value] : values)
        {
            const auto* old = std::getenv (name);
            saved.push_back ({ name, old != nullptr, old != nullptr ? old : "" });

            if (value == nullptr)
                unsetenv (name);
            else
                setenv (name, value, 1);
        }
    }

    ~EnvironmentGuard()
    {
        for (const auto& s : saved)
        {
            if (s.wasSet)
                setenv (s.name, s.value.c_str(), 1);
            else
                unsetenv (s.name);
        }
    }

private:
    struct Saved
    {
        const char* name;
        bool wasSet;
        std::string value;
    };

    std::vector<Saved> saved;
};
} // namespace

TEST (LanguageDecision, StartsInTheUsersLanguageOnlyWhenItsLocaleIsInstalled)
{
    const DecisionCase cases[] = {
        { "Japanese with a Japanese locale", kEveryLocale, 0x0411, 11 },
        { "Japanese without one", { "00000409", "00000407" }, 0x0411, 0 },
        { "French (Canada) maps to French", kEveryLocale, 0x0C0C, 1 },
        { "Portuguese (Brazil) maps to Portuguese", kEveryLocale, 0x0416, 7 },
        { "English (United Kingdom) maps to English", kEveryLocale, 0x0809, 0 },
        { "Spanish modern sort maps to Spanish", kEveryLocale, 0x0C0A, 3 },
        { "German", kEveryLocale, 0x0407, 2 },
        { "Italian", kEveryLocale, 0x0410, 4 },
        { "Dutch (Belgium)", kEveryLocale, 0x0813, 5 },
        { "Russian", kEveryLocale, 0x0419, 6 },
        { "Korean", kEveryLocale, 0x0412, 10 },
        { "Korean without its locale", { "00000411" }, 0x0412, 0 },
        { "Polish is not in the catalogue", kEveryLocale, 0x0415, 0 },
        { "Swedish is not in the catalogue", kEveryLocale, 0x041D, 0 },
        { "no language at all", kEveryLocale, 0x0000, 0 },
        { "Chinese PRC", kEveryLocale, 0x0804, 8 },
        { "Chinese Taiwan", kEveryLocale, 0x0404, 9 },
        { "Chinese Hong Kong", kEveryLocale, 0x0C04, 9 },
        { "Chinese Macao", kEveryLocale, 0x1404, 9 },
        { "Chinese Singapore goes to Traditional", kEveryLocale, 0x1004, 9 },
        { "Chinese Traditional neutral", kEveryLocale, 0x7C04, 9 },
        { "Chinese neutral", kEveryLocale, 0x0004, 0 },
        { "Chinese Simplified neutral", kEveryLocale, 0x7804, 0 },
        { "Chinese PRC without a Chinese locale", { "00000411" }, 0x0804, 0 },
        { "Chinese PRC with only a Taiwanese locale", { "00000404" }, 0x0804, 8 },
        { "Chinese Hong Kong with only a PRC locale", { "00000804" }, 0x0C04, 9 },
        { "French from a lower-case locale id", { "0000040c" }, 0x040C, 1 },
        { "French from an upper-case locale id", { "0000040C" }, 0x080C, 1 },
        { "nothing installed", {}, 0x0411, 0 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (decideLanguage (c.installed, c.userLanguage).startingLanguage, c.expected) << c.what;
}

TEST (LanguageDecision, MarksLanguagesByTheLastTwoDigitsOfEachLocale)
{
    const auto all = decideLanguage (kEveryLocale, 0x0409).available;

    for (int i = 0; i < kLanguageCount; ++i)
        EXPECT_TRUE (all[static_cast<size_t> (i)]) << i;

    // English is there even with nothing installed; one Chinese locale marks both Chinese languages.
    const auto taiwanOnly = decideLanguage ({ "00000404" }, 0x0409).available;
    EXPECT_TRUE (taiwanOnly[0]);
    EXPECT_TRUE (taiwanOnly[8]);
    EXPECT_TRUE (taiwanOnly[9]);

    for (int i : { 1, 2, 3, 4, 5, 6, 7, 10, 11 })
        EXPECT_FALSE (taiwanOnly[static_cast<size_t> (i)]) << i;

    // Only the last two characters count, whatever comes before them.
    const auto oddTexts = decideLanguage ({ "12", "xx19", "0C" }, 0x0409).available;
    EXPECT_TRUE (oddTexts[10]);
    EXPECT_TRUE (oddTexts[6]);
    EXPECT_TRUE (oddTexts[1]);
}

TEST (LanguageDecision, ShortOrMissingLocaleTextsMarkNothingAndReadNothingBeyondThemselves)
{
    LanguageFlags flags {};

    // Exactly sized buffers: a read past the end would show under the address sanitizer.
    const auto one = std::make_unique<char[]> (2);
    one[0] = 'c';
    one[1] = 0;
    const auto empty = std::make_unique<char[]> (1);
    empty[0] = 0;

    markInstalledLocale (one.get(), flags);
    markInstalledLocale (empty.get(), flags);
    markInstalledLocale (nullptr, flags);

    for (auto flag : flags)
        EXPECT_FALSE (flag);

    // English is never marked by a locale: it is available by rule, not by enumeration.
    markInstalledLocale ("00000409", flags);
    EXPECT_FALSE (flags[0]);
}

//==============================================================================
TEST (PosixLocale, MapsToTheWindowsLanguageIdentifierOfTheSameUser)
{
    const std::pair<const char*, uint16_t> cases[] = {
        { "ja_JP.UTF-8", 0x0411 },
        { "ja_JP", 0x0411 },
        { "ja", 0x0411 },
        { "fr_CA.UTF-8", 0x0C0C },
        { "fr_FR", 0x040C },
        { "fr_SN.UTF-8", 0x040C },
        { "pt_BR.UTF-8", 0x0416 },
        { "pt_PT", 0x0816 },
        { "en_GB.UTF-8", 0x0809 },
        { "en_US.UTF-8", 0x0409 },
        { "de_AT@euro", 0x0C07 },
        { "de_DE.ISO-8859-15@euro", 0x0407 },
        { "es_ES.UTF-8", 0x0C0A },
        { "es_MX", 0x080A },
        { "it_IT", 0x0410 },
        { "nl_BE", 0x0813 },
        { "ru_RU.KOI8-R", 0x0419 },
        { "zh_CN.GB18030", 0x0804 },
        { "zh_TW.Big5", 0x0404 },
        { "zh_HK.UTF-8", 0x0C04 },
        { "zh_SG", 0x1004 },
        { "zh_MO", 0x1404 },
        { "ko_KR.EUC-KR", 0x0412 },
        { "pl_PL.UTF-8", 0x0415 },
        { "C", 0x0409 },
        { "C.UTF-8", 0x0409 },
        { "POSIX", 0x0409 },
        { "", 0x0409 },
        { "xx_YY", 0x0409 },
        { "JA_jp.utf8", 0x0411 },
        { "_JP", 0x0409 },
        { ".UTF-8", 0x0409 },
    };

    for (const auto& [name, id] : cases)
        EXPECT_EQ (SystemLocale::languageIdFromPosixLocale (name), id) << name;
}

TEST (PosixLocale, LcAllThenLcMessagesThenLangNameTheUsersLanguage)
{
    {
        EnvironmentGuard env ({ { "LC_ALL", "ko_KR.UTF-8" }, { "LC_MESSAGES", "de_DE.UTF-8" }, { "LANG", "ja_JP.UTF-8" } });
        EXPECT_EQ (SystemLocale::getUserLanguageId(), 0x0412);
    }
    {
        EnvironmentGuard env ({ { "LC_ALL", "" }, { "LC_MESSAGES", "de_DE.UTF-8" }, { "LANG", "ja_JP.UTF-8" } });
        EXPECT_EQ (SystemLocale::getUserLanguageId(), 0x0407);
    }
    {
        EnvironmentGuard env ({ { "LC_ALL", nullptr }, { "LC_MESSAGES", nullptr }, { "LANG", "zh_TW.UTF-8" } });
        EXPECT_EQ (SystemLocale::getUserLanguageId(), 0x0404);
    }
    {
        EnvironmentGuard env ({ { "LC_ALL", nullptr }, { "LC_MESSAGES", nullptr }, { "LANG", nullptr } });
        EXPECT_EQ (SystemLocale::getUserLanguageId(), 0x0409);
    }
}

//==============================================================================
TEST (InstalledLanguages, EveryCatalogueLanguageHasALoadableFaceOnThisMachine)
{
    const auto ids = SystemLocale::getInstalledLocaleIds();
    EXPECT_EQ (ids.size(), kLanguageCount) << ids.joinIntoString (" ");
    EXPECT_TRUE (ids.contains ("00000409"));
    EXPECT_TRUE (ids.contains ("00000411"));

    for (const auto& id : ids)
        EXPECT_TRUE (id.length() == 8 && id.containsOnly ("0123456789ABCDEF")) << id;

    EXPECT_FALSE (SystemFonts::canDrawLanguage (-1));
    EXPECT_FALSE (SystemFonts::canDrawLanguage (kLanguageCount));
}

TEST (InstalledLanguages, CatalogueFontsResolveToTheFirstFaceOfAnInstalledFile)
{
    for (const auto* name : { "Verdana", "SimHei", "Batang", "MS PGothic", "Osaka", "No Such Font", "" })
    {
        const auto face = SystemFonts::findFace (name, FontResolvingLookAndFeel::languagesUsingFont (name), false, false);
        ASSERT_TRUE (face.isValid()) << name;
        EXPECT_EQ (face.index, 0) << name;
        EXPECT_TRUE (juce::File (face.file).existsAsFile()) << name;
    }

    EXPECT_EQ (FontResolvingLookAndFeel::languagesUsingFont ("SimHei"), (juce::Array<int> { 8, 9 }));
    EXPECT_EQ (FontResolvingLookAndFeel::languagesUsingFont ("Verdana"), (juce::Array<int> { 0, 1, 2, 3, 4, 5, 6, 7 }));
    EXPECT_EQ (FontResolvingLookAndFeel::languagesUsingFont ("Osaka"), (juce::Array<int> { 11 }));
    EXPECT_TRUE (FontResolvingLookAndFeel::languagesUsingFont ("Arial").isEmpty());
    EXPECT_TRUE (FontResolvingLookAndFeel::languagesUsingFont ({}).isEmpty());

    EXPECT_EQ (FontResolvingLookAndFeel::familyToResolve (juce::Font (12.0f)), "MS PGothic");
    EXPECT_EQ (FontResolvingLookAndFeel::familyToResolve (juce::Font ("Batang", 12.0f, juce::Font::plain)), "Batang");
}
