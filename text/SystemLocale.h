#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

/**
    Where the language detection's two inputs come from on this platform: the user's
    language as a 16-bit Windows language identifier (primary language in the low ten
    bits), and the "installed locales" as Windows locale identifiers written as eight
    hex digits ("00000411").

    On Linux the user's language is the process's POSIX locale (LC_ALL, then
    LC_MESSAGES, then LANG), and a language counts as installed when a font that we
    can draw with covers it. On Windows both come from the system itself: the user's
    default language identifier, and every installed locale as the system lists it. Message thread; never fails: anything unknown yields
    English.
*/
namespace SystemLocale
{
/** The user's language identifier; English (United States) when nothing is set or known. */
uint16_t getUserLanguageId();

/** One identifier per catalogue language the machine can show, English always among them. */
juce::StringArray getInstalledLocaleIds();

/** Maps a POSIX locale name ("ja_JP.UTF-8", "fr_CA", "pt_BR@euro", "C") to the Windows
    language identifier the same user would have; unknown names give English (0x0409).
    Pure, any thread. */
uint16_t languageIdFromPosixLocale (const juce::String& localeName);
} // namespace SystemLocale
