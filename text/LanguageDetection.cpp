#include "text/LanguageDetection.h"

#include <cstring>

namespace
{
constexpr int kSimplifiedChinese = 8;
constexpr int kTraditionalChinese = 9;
constexpr uint16_t kChineseLowByte = 0x04;
constexpr uint16_t kLowByteMask = 0xFF;
constexpr uint16_t kChinesePrc = 0x0804;

// Taiwan, Hong Kong, Macao, Singapore and the Traditional neutral identifier. Singapore
// officially writes Simplified, but the product has always shown it Traditional.
constexpr uint16_t kTraditionalChineseIds[] = { 0x0404, 0x0C04, 0x1404, 0x1004, 0x7C04 };

bool sameHexDigit (char a, char b) noexcept
{
    const auto lower = [] (char c)
    { return (c >= 'A' && c <= 'Z') ? static_cast<char> (c - 'A' + 'a') : c; };
    return lower (a) == lower (b);
}
} // namespace

void markInstalledLocale (const char* localeText, LanguageFlags& available) noexcept
{
    if (localeText == nullptr)
        return;

    const auto length = std::strlen (localeText);

    if (length < 2)
        return;

    const char* lastTwo = localeText + length - 2;
    static constexpr char kHexDigits[] = "0123456789abcdef";

    for (int i = kEnglish + 1; i < kLanguageCount; ++i)
    {
        const auto low = kLanguageIds[i] & kLowByteMask;

        if (sameHexDigit (lastTwo[0], kHexDigits[low >> 4]) && sameHexDigit (lastTwo[1], kHexDigits[low & 0x0F]))
            available[static_cast<size_t> (i)] = true;
    }
}

int chooseStartingLanguage (const LanguageFlags& available, uint16_t userLanguageId) noexcept
{
    const auto ifAvailable = [&available] (int index)
    { return available[static_cast<size_t> (index)] ? index : kEnglish; };
    const auto low = userLanguageId & kLowByteMask;

    if (low != kChineseLowByte)
    {
        for (int i = 0; i < kLanguageCount; ++i)
            if ((kLanguageIds[i] & kLowByteMask) == low)
                return ifAvailable (i);

        return kEnglish;
    }

    if (userLanguageId == kChinesePrc)
        return ifAvailable (kSimplifiedChinese);

    for (auto id : kTraditionalChineseIds)
        if (userLanguageId == id)
            return ifAvailable (kTraditionalChinese);

    return kEnglish;
}

LanguageDecision decideLanguage (const juce::StringArray& installedLocaleIds, uint16_t userLanguageId)
{
    LanguageDecision decision;
    decision.available[kEnglish] = true;

    for (const auto& localeId : installedLocaleIds)
        markInstalledLocale (localeId.toRawUTF8(), decision.available);

    decision.startingLanguage = chooseStartingLanguage (decision.available, userLanguageId);
    return decision;
}

namespace
{
// In catalogue order; the first code of each language is the one listed.
struct LanguageCode
{
    const char* code;
    int language;
};

constexpr LanguageCode kLanguageCodes[] = {
    { "en", kEnglish }, { "fr", 1 }, { "de", 2 }, { "es", 3 }, { "it", 4 }, { "nl", 5 }, { "ru", 6 }, { "pt", 7 }, { "zh-CN", kSimplifiedChinese }, { "zh-Hans", kSimplifiedChinese }, { "zh-TW", kTraditionalChinese }, { "zh-Hant", kTraditionalChinese }, { "ko", 10 }, { "ja", 11 }
};
} // namespace

int languageForCode (const juce::String& code) noexcept
{
    const auto wanted = code.replaceCharacter ('_', '-');

    for (const auto& entry : kLanguageCodes)
        if (wanted.equalsIgnoreCase (entry.code))
            return entry.language;

    return -1;
}

juce::String languageCodeList()
{
    juce::StringArray codes;
    int listed = -1;

    for (const auto& entry : kLanguageCodes)
        if (entry.language != listed)
        {
            codes.add (entry.code);
            listed = entry.language;
        }

    return codes.joinIntoString (", ");
}
