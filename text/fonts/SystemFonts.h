#pragma once

#include "text/fonts/CharacterCoverage.h"

#include <juce_graphics/juce_graphics.h>

/**
    The installed fonts, as the catalogue needs them: whether a language can be drawn
    at all, and which installed face stands in for a font the catalogue names
    ("Verdana", "SimHei", "Batang", "MS PGothic") when the machine does not have it.

    Only faces we can actually load count. On Linux a face is loaded from its file's
    data, so a face that the framework's own font scan skips (the first face of a .ttc
    collection) still draws; on Windows installed faces are drawn by family name
    through GDI, and the catalogue's Windows font names are tried before any other
    installed face that covers the language. Languages are catalogue language indices (0..11).
    Any thread (the lookups share one lock); failures give false or null.
*/
namespace SystemFonts
{
/** Where one face lives: a font file and the face's index inside it, and which
    characters it has glyphs for (empty when the system did not say). */
struct FaceLocation
{
    juce::String file;
    int index = 0;
    CharacterCoverage coverage;
    // The face's family name where the system draws installed faces by name
    // (Windows, through GDI): file is then empty.
    juce::String family;

    bool isValid() const noexcept { return file.isNotEmpty() || family.isNotEmpty(); }
};

/** True when an installed, loadable face covers the language. */
bool canDrawLanguage (int languageIndex);

/**
    The installed loadable face that best stands in for a family name: the system's
    matching for that family (and for the first of the languages), narrowed to faces
    that cover every one of the languages; failing that one that covers the first;
    failing that any loadable face. Invalid when nothing loadable is installed.
*/
FaceLocation findFace (const juce::String& familyName, const juce::Array<int>& languages, bool bold, bool italic);

/** findFace() loaded as a typeface, cached per family, style and languages and per file.
    The typeface draws only the characters the face has and leaves the others to the
    framework's fallback font (see CoveredTypeface). Null when nothing loadable is
    installed or the file cannot be read. */
juce::Typeface::Ptr findTypeface (const juce::String& familyName, const juce::Array<int>& languages, bool bold, bool italic);
} // namespace SystemFonts
