#include "text/TxtLoader.h"

#include "text/LanguageDetection.h"
#include "text/SystemLocale.h"

#include <algorithm>

TxtLoader* TxtLoader::instance = nullptr;

TxtLoader::TxtLoader()
{
    loadTable (kLoadFontNames);
    loadTable (kLoadLanguageNames);
}

TxtLoader::~TxtLoader() = default;

TxtLoader* TxtLoader::getInstance()
{
    if (instance != nullptr)
        return instance;

    // Published before the detection runs: the locale callback writes the flags into
    // the instance it finds through this pointer.
    instance = new TxtLoader();

    const auto index = instance->detectSystemLanguage();

    if (index >= 0 && index < kLanguageCount)
    {
        instance->languageIndex = index;
        instance->loadTable (kLoadTexts);
    }

    return instance;
}

void TxtLoader::deleteInstance()
{
    delete instance;
    instance = nullptr;
}

const juce::String& TxtLoader::getText (TxtId id) const noexcept
{
    if (static_cast<int> (id) < 0 || static_cast<int> (id) >= kTextCount)
        return emptyName;

    return texts[static_cast<size_t> (id)];
}

void TxtLoader::setLanguage (int index)
{
    if (index < 0 || index >= kLanguageCount)
        return;

    languageIndex = index;
    loadTable (kLoadTexts);
}

const juce::String& TxtLoader::getLanguageName (int index) const noexcept
{
    if (index < 0 || index >= kLanguageCount)
        return emptyName;

    return languageNames[static_cast<size_t> (index)];
}

const juce::String& TxtLoader::getFontName (int index) const noexcept
{
    if (index < 0 || index >= kLanguageCount)
        return emptyName;

    return fontNames[static_cast<size_t> (index)];
}

bool TxtLoader::isLanguageAvailable (int index) const noexcept
{
    if (index < 0 || index >= kLanguageCount)
        return false;

    return available[static_cast<size_t> (index)];
}

int TxtLoader::detectSystemLanguage()
{
    available.fill (false);
    available[kEnglish] = true;

    for (const auto& localeId : SystemLocale::getInstalledLocaleIds())
        if (localeEnumProc (localeId.toRawUTF8()) == 0)
            break;

    return chooseStartingLanguage (available, SystemLocale::getUserLanguageId());
}

int TxtLoader::localeEnumProc (const char* localeText)
{
    if (localeText == nullptr)
        return 0;

    if (instance != nullptr)
        markInstalledLocale (localeText, instance->available);

    return 1;
}

void TxtLoader::loadTable (int operation)
{
    switch (operation)
    {
        case kLoadFontNames:
            std::copy (std::begin (kWindowsFontNames), std::end (kWindowsFontNames), fontNames.begin());
            break;

        case kLoadAltFontNames:
            std::copy (std::begin (kAltFontNames), std::end (kAltFontNames), fontNames.begin());
            break;

        case kLoadLanguageNames:
            std::copy (std::begin (kLanguageNames), std::end (kLanguageNames), languageNames.begin());
            break;

        case kLoadTexts:
            jassert (languageIndex >= 0 && languageIndex < kLanguageCount);

            for (size_t k = 0; k < texts.size(); ++k)
                texts[k] = kTextTables[k][languageIndex];

            break;

        default:
            jassertfalse;
            break;
    }
}
