#include "text/fonts/CoveredTypeface.h"

#include <cmath>

namespace
{
// Kerning smaller than this (in font heights) is rounding noise, not a kerning pair.
constexpr float kSmallestKerning = 1.0e-5f;
} // namespace

CoveredTypeface::CoveredTypeface (juce::Typeface::Ptr faceIn, CharacterCoverage coverageIn)
    : face (std::move (faceIn))
    , coverage (std::move (coverageIn))
{
    jassert (face != nullptr);
    setCharacteristics (face->getName(), face->getStyle(), face->getAscent(), 0);
}

bool CoveredTypeface::loadGlyphIfPossible (juce::juce_wchar character)
{
    if (! coverage.contains (character))
        return false;

    // The loaded face's outlines are by glyph number, which is the character itself
    // only in some of the framework's faces (GDI's are the font's own glyph indices):
    // the face maps the character to its glyph.
    juce::Array<int> glyphNumbers;
    juce::Array<float> offsets;
    face->getGlyphPositions (juce::String::charToString (character), glyphNumbers, offsets);

    juce::Path outline;

    if (! glyphNumbers.isEmpty() && glyphNumbers.getFirst() >= 0)
        face->getOutlineForGlyph (glyphNumbers.getFirst(), outline);

    const auto width = face->getStringWidth (juce::String::charToString (character));
    addGlyph (character, outline, width);
    widths[character] = width;

    // The loaded face knows its kerning pairs only through string widths; pair the new
    // character with every one already loaded, itself included.
    for (const auto& [other, otherWidth] : widths)
    {
        juce::ignoreUnused (otherWidth);
        addKerningBetween (other, character);

        if (other != character)
            addKerningBetween (character, other);
    }

    return true;
}

void CoveredTypeface::addKerningBetween (juce::juce_wchar first, juce::juce_wchar second)
{
    const auto pair = juce::String::charToString (first) + juce::String::charToString (second);
    const auto extra = face->getStringWidth (pair) - widths[first] - widths[second];

    if (std::abs (extra) > kSmallestKerning)
        addKerningPair (first, second, extra);
}
