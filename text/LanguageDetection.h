#pragma once

#include "text/TxtTables.h"

#include <array>

// The starting-language decision, kept apart from where its two inputs come from
// (the installed locales and the user's language identifier) so that it behaves the
// same whatever machine runs it.

using LanguageFlags = std::array<bool, kLanguageCount>;

/**
    Marks the language of one installed locale, given as its identifier written in
    hex ("00000409"). Only the last two characters count, compared without regard to
    letter case with the low byte of each catalogue language but English; both Chinese
    languages share a low byte, so one Chinese locale marks both. A text shorter than
    two characters marks nothing and nothing past its end is read.
*/
void markInstalledLocale (const char* localeText, LanguageFlags& available) noexcept;

/**
    The language to start in for a user's 16-bit Windows language identifier, given
    which languages are available: the user's language when the catalogue has it and
    it is available, otherwise English (0). Outside Chinese only the low byte counts,
    so regional variants map to their language; Chinese is told apart by the whole
    identifier (PRC for Simplified; Taiwan, Hong Kong, Macao, Singapore and the
    Traditional neutral id for Traditional). Always 0..11.
*/
int chooseStartingLanguage (const LanguageFlags& available, uint16_t userLanguageId) noexcept;

/** What the detection decides from its two inputs. */
struct LanguageDecision
{
    LanguageFlags available {};
    int startingLanguage = kEnglish;
};

/** The whole decision: English always available, each installed locale marked, then the
    starting language. Pure; any thread. */
LanguageDecision decideLanguage (const juce::StringArray& installedLocaleIds, uint16_t userLanguageId);

/** The catalogue language a code names, for a command line: "en", "fr", "de", "es",
    "it", "nl", "ru", "pt", "zh-CN", "zh-TW", "ko", "ja" (also "zh-Hans", "zh-Hant",
    with "_" for "-", in any letter case). -1 for anything else. Pure; any thread. */
int languageForCode (const juce::String& code) noexcept;

/** The codes languageForCode takes first for each language, in catalogue order,
    joined with ", " (for a message that lists them). Any thread. */
juce::String languageCodeList();
