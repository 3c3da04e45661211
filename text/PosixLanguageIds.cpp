// POSIX locale names mapped to the Windows language identifiers the same user would
// have, so that the language decision sees what it would see on Windows.

#include "text/SystemLocale.h"

namespace
{
constexpr uint16_t kEnglishUnitedStates = 0x0409;

struct LocaleLanguageId
{
    const char* name; // "ll_CC", or "ll" for the language's usual region
    uint16_t id;
};

// Every regional variant of the catalogue's languages that Windows knows, and the most
// common other languages (which the decision turns into English, as Windows would).
const LocaleLanguageId kLocaleLanguageIds[] = {
    { "en", 0x0409 },
    { "en_US", 0x0409 },
    { "en_GB", 0x0809 },
    { "en_AU", 0x0C09 },
    { "en_CA", 0x1009 },
    { "en_NZ", 0x1409 },
    { "en_IE", 0x1809 },
    { "en_ZA", 0x1C09 },
    { "en_IN", 0x4009 },
    { "en_SG", 0x4809 },

    { "fr", 0x040C },
    { "fr_FR", 0x040C },
    { "fr_BE", 0x080C },
    { "fr_CA", 0x0C0C },
    { "fr_CH", 0x100C },
    { "fr_LU", 0x140C },
    { "fr_MC", 0x180C },

    { "de", 0x0407 },
    { "de_DE", 0x0407 },
    { "de_CH", 0x0807 },
    { "de_AT", 0x0C07 },
    { "de_LU", 0x1007 },
    { "de_LI", 0x1407 },

    // Windows' Spanish (Spain) user default is the modern sort, 0x0C0A.
    { "es", 0x0C0A },
    { "es_ES", 0x0C0A },
    { "es_MX", 0x080A },
    { "es_GT", 0x100A },
    { "es_CR", 0x140A },
    { "es_PA", 0x180A },
    { "es_DO", 0x1C0A },
    { "es_VE", 0x200A },
    { "es_CO", 0x240A },
    { "es_PE", 0x280A },
    { "es_AR", 0x2C0A },
    { "es_EC", 0x300A },
    { "es_CL", 0x340A },
    { "es_UY", 0x380A },
    { "es_PY", 0x3C0A },
    { "es_BO", 0x400A },
    { "es_SV", 0x440A },
    { "es_HN", 0x480A },
    { "es_NI", 0x4C0A },
    { "es_PR", 0x500A },
    { "es_US", 0x540A },

    { "it", 0x0410 },
    { "it_IT", 0x0410 },
    { "it_CH", 0x0810 },
    { "nl", 0x0413 },
    { "nl_NL", 0x0413 },
    { "nl_BE", 0x0813 },
    { "ru", 0x0419 },
    { "ru_RU", 0x0419 },
    { "ru_MD", 0x0819 },
    { "pt", 0x0816 },
    { "pt_PT", 0x0816 },
    { "pt_BR", 0x0416 },

    { "zh", 0x0804 },
    { "zh_CN", 0x0804 },
    { "zh_SG", 0x1004 },
    { "zh_TW", 0x0404 },
    { "zh_HK", 0x0C04 },
    { "zh_MO", 0x1404 },

    { "ko", 0x0412 },
    { "ko_KR", 0x0412 },
    { "ja", 0x0411 },
    { "ja_JP", 0x0411 },

    { "pl", 0x0415 },
    { "cs", 0x0405 },
    { "da", 0x0406 },
    { "el", 0x0408 },
    { "fi", 0x040B },
    { "hu", 0x040E },
    { "nb", 0x0414 },
    { "sv", 0x041D },
    { "tr", 0x041F },
    { "uk", 0x0422 },
};
} // namespace

namespace SystemLocale
{
uint16_t languageIdFromPosixLocale (const juce::String& localeName)
{
    // "language[_territory][.codeset][@modifier]": only language and territory matter.
    const auto base = localeName.upToFirstOccurrenceOf (".", false, false).upToFirstOccurrenceOf ("@", false, false).trim();
    const auto language = base.upToFirstOccurrenceOf ("_", false, false).toLowerCase();
    const auto territory = base.fromFirstOccurrenceOf ("_", false, false).toUpperCase();

    if (language.isEmpty())
        return kEnglishUnitedStates;

    const auto full = territory.isEmpty() ? language : language + "_" + territory;

    for (const auto& entry : kLocaleLanguageIds)
        if (full == entry.name)
            return entry.id;

    // A territory the table lacks still keeps its language (e.g. "fr_SN" is French).
    for (const auto& entry : kLocaleLanguageIds)
        if (language == entry.name)
            return entry.id;

    return kEnglishUnitedStates;
}
} // namespace SystemLocale
