// The detection's inputs on Windows, where they come from the system itself: the
// user's default language identifier and every installed locale, as the system
// enumerates them.

#include "text/SystemLocale.h"

#include <windows.h>

namespace
{
// Called by the system once per installed locale, on the enumerating thread.
// EnumSystemLocalesA has no context argument: the list is reached through a
// variable of this thread's own.
thread_local juce::StringArray* collecting = nullptr;

BOOL CALLBACK addInstalledLocale (LPSTR localeText)
{
    if (localeText == nullptr || collecting == nullptr)
        return FALSE;

    collecting->add (juce::String (localeText));
    return TRUE;
}
} // namespace

namespace SystemLocale
{
uint16_t getUserLanguageId()
{
    return static_cast<uint16_t> (::GetUserDefaultLangID());
}

juce::StringArray getInstalledLocaleIds()
{
    juce::StringArray ids;
    collecting = &ids;
    ::EnumSystemLocalesA (addInstalledLocale, LCID_INSTALLED);
    collecting = nullptr;
    return ids;
}
} // namespace SystemLocale
