#pragma once

#include "text/fonts/CharacterCoverage.h"

#include <juce_graphics/juce_graphics.h>

#include <unordered_map>

/**
    A loaded font face that admits to the characters it lacks.

    The framework's FreeType faces draw a missing character as the font's
    missing-glyph box, so the fallback font (juce::Font::setFallbackFontName) is never
    asked. This face takes its glyphs, widths and kerning from the loaded face but only
    for the characters the face really has; for any other character the framework
    turns to the fallback font, as the updater expects (the language's own font
    supplies what the drawing font lacks), and draws nothing rather than a box when
    that font lacks it too.

    Glyphs are copied on first use, as the framework's own faces load theirs; use it
    where those are used (painting on the message thread).
*/
class CoveredTypeface final : public juce::CustomTypeface
{
public:
    CoveredTypeface (juce::Typeface::Ptr face, CharacterCoverage coverage);

protected:
    bool loadGlyphIfPossible (juce::juce_wchar character) override;

private:
    void addKerningBetween (juce::juce_wchar first, juce::juce_wchar second);

    juce::Typeface::Ptr face;
    const CharacterCoverage coverage;
    std::unordered_map<juce::juce_wchar, float> widths;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CoveredTypeface)
};
