// The detection's inputs on Linux: the POSIX locale variables for the user's language,
// and font coverage for the languages the machine can show.

#include "text/SystemLocale.h"

#include "text/ExternalText.h"
#include "text/TxtTables.h"
#include "text/fonts/SystemFonts.h"

#include <cstdlib>

namespace
{
// The variables that name the language of messages, strongest first. An empty value
// counts as unset, as it does for the C library.
const char* const kLocaleVariables[] = { "LC_ALL", "LC_MESSAGES", "LANG" };

constexpr int kLocaleIdDigits = 8;
} // namespace

namespace SystemLocale
{
uint16_t getUserLanguageId()
{
    for (const auto* variable : kLocaleVariables)
    {
        const auto* value = std::getenv (variable);

        if (value != nullptr && *value != 0)
            return languageIdFromPosixLocale (ExternalText::fromBytes (value));
    }

    return languageIdFromPosixLocale ({});
}

juce::StringArray getInstalledLocaleIds()
{
    juce::StringArray ids;

    for (int i = 0; i < kLanguageCount; ++i)
        if (i == kEnglish || SystemFonts::canDrawLanguage (i))
            ids.add (juce::String::toHexString (static_cast<int> (kLanguageIds[i])).paddedLeft ('0', kLocaleIdDigits).toUpperCase());

    return ids;
}
} // namespace SystemLocale
