#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The base of the updater's looks: the framework's classic look, with every font name
    resolved to an installed face that can draw it.

    The catalogue names Windows fonts ("Verdana", "SimHei", "Batang", "MS PGothic")
    that a Linux machine does not have, and the framework's own Linux lookup does no
    substitution, so those texts would come out blank. Every font the framework draws
    with (including the fallback font set with juce::Font::setFallbackFontName) is
    resolved through the default look's getTypefaceForFont, so a look derived from
    this one, once it is the default look, resolves them all: each name goes to the
    installed face that the system's font matching picks for it, narrowed to faces that
    cover the languages the catalogue uses that name for (so "SimHei" lands on a face
    with Simplified and Traditional Chinese glyphs) and that we can actually load.

    The default sans-serif font is "MS PGothic", as the product has it, and goes
    through the same resolution. Use on the message thread, like every look.
*/
class FontResolvingLookAndFeel : public juce::LookAndFeel_V2
{
public:
    /** The default sans-serif font name this look sets up and resolves. */
    static constexpr const char* kDefaultSansSerifName = "MS PGothic";

    FontResolvingLookAndFeel();
    ~FontResolvingLookAndFeel() override;

    /** Makes this the desktop's default look and drops typefaces that an earlier look
        resolved, so that fonts drawn from now on go through this one. */
    void installAsDefault();

    /** The installed face for a font. Falls back to the framework's own lookup only
        when no loadable font is installed at all, and so never returns null. */
    juce::Typeface::Ptr getTypefaceForFont (const juce::Font& font) override;

    /** The catalogue languages a font name is used for (every language whose catalogue
        font or alternative font has that name); empty for other names. */
    static juce::Array<int> languagesUsingFont (const juce::String& fontName);

    /** The family name a font asks for, with the framework's placeholder names
        (sans-serif, serif, monospaced) replaced by what they stand for here. */
    static juce::String familyToResolve (const juce::Font& font);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FontResolvingLookAndFeel)
};
