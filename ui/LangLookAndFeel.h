#pragma once

#include "text/fonts/FontResolvingLookAndFeel.h"

/**
    The look of the language chooser, and the desktop's default look: every
    language's name is written in that language's own font, in the closed chooser
    (the selected language) and in each entry of its drop-down list.

    Fonts named by the catalogue reach installed faces through the font resolution
    of FontResolvingLookAndFeel, which works once this look is the default look.
    Both operations reach the catalogue through TxtLoader::getInstance, so they
    create it if it does not exist yet. Message thread only, inside painting and
    layout; nothing here can fail.
*/
class LangLookAndFeel final : public FontResolvingLookAndFeel
{
public:
    LangLookAndFeel() = default;

    /** Draws one entry of a drop-down list or menu; an entry whose text is a
        language's own name is drawn in that language's font. The framework's
        fallback font name is the same afterwards as before. */
    void drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                            bool isSeparator, bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                            const juce::String& text, const juce::String& shortcutKeyText,
                            const juce::Drawable* icon, const juce::Colour* textColour) override;

    /** The plain font of the selected language (the empty name when nothing is
        selected), 0.85 of the chooser's height but no more than 15. A list whose
        choice is no language's name (the controllers) takes the current language's font. */
    juce::Font getComboBoxFont (juce::ComboBox& box) override;

    /** The catalogue language whose own name the text is, or -1 for none. */
    static int languageOfEntry (const juce::String& text);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LangLookAndFeel)
};
