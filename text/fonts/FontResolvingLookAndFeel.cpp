#include "text/fonts/FontResolvingLookAndFeel.h"

#include "text/TxtTables.h"
#include "text/fonts/SystemFonts.h"

namespace
{
// fontconfig's generic families, which every installation maps to a real face.
constexpr const char* kGenericSerif = "serif";
constexpr const char* kGenericMonospace = "monospace";
} // namespace

FontResolvingLookAndFeel::FontResolvingLookAndFeel()
{
    setDefaultSansSerifTypefaceName (kDefaultSansSerifName);
}

FontResolvingLookAndFeel::~FontResolvingLookAndFeel() = default;

void FontResolvingLookAndFeel::installAsDefault()
{
    juce::LookAndFeel::setDefaultLookAndFeel (this);
    juce::Typeface::clearTypefaceCache();
}

juce::Array<int> FontResolvingLookAndFeel::languagesUsingFont (const juce::String& fontName)
{
    juce::Array<int> languages;

    if (fontName.isEmpty())
        return languages;

    for (int i = 0; i < kLanguageCount; ++i)
        if (kWindowsFontNames[i] == fontName || kAltFontNames[i] == fontName)
            languages.add (i);

    return languages;
}

juce::String FontResolvingLookAndFeel::familyToResolve (const juce::Font& font)
{
    const auto& name = font.getTypefaceName();

    if (name == juce::Font::getDefaultSansSerifFontName())
        return kDefaultSansSerifName;

    if (name == juce::Font::getDefaultSerifFontName())
        return kGenericSerif;

    if (name == juce::Font::getDefaultMonospacedFontName())
        return kGenericMonospace;

    return name;
}

juce::Typeface::Ptr FontResolvingLookAndFeel::getTypefaceForFont (const juce::Font& font)
{
    const auto family = familyToResolve (font);

    if (auto typeface = SystemFonts::findTypeface (family, languagesUsingFont (family), font.isBold(), font.isItalic()))
        return typeface;

    return juce::LookAndFeel_V2::getTypefaceForFont (font);
}
