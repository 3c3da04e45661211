#include "ui/LangLookAndFeel.h"

#include "text/TxtLoader.h"
#include "text/TxtTables.h"

namespace
{
const juce::Colour kHighlightFill { 0xff000040 };
const juce::Colour kSeparatorShadow { 0x33000000 };
const juce::Colour kSeparatorLight { 0x66ffffff };

constexpr float kLanguageFontHeight = 17.0f;
constexpr float kChooserFontFactor = 0.85f;
constexpr float kLargestChooserFontHeight = 15.0f;
// An entry's font is at most its height / 1.3, leaving room above and below.
constexpr float kEntryHeightPerFontHeight = 1.3f;
constexpr float kInactiveOpacity = 0.3f;
constexpr float kSeparatorEndGap = 5.5f;
constexpr int kRightBorder = 4;
constexpr int kShortcutRightBorder = 8;
// The tick or icon sits between 2 pixels in from the left and the left border minus 2.
constexpr int kIconGap = 2;
constexpr float kSmallestTextScale = 0.7f;
constexpr float kShortcutHeightFactor = 0.75f;
constexpr float kShortcutHorizontalScale = 0.95f;
constexpr float kArrowHeightFactor = 0.6f;
constexpr float kArrowInsetFactor = 0.6f;
constexpr float kArrowWidthFactor = 0.6f;

// The left border is the entry's height × 5 / 4, in whole pixels.
int leftBorderFor (int height) { return (height * 5) / 4; }
}

int LangLookAndFeel::languageOfEntry (const juce::String& text)
{
    const auto* catalogue = TxtLoader::getInstance();

    for (int i = 0; i < kLanguageCount; ++i)
        if (text == catalogue->getLanguageName (i))
            return i;

    return -1;
}

juce::Font LangLookAndFeel::getComboBoxFont (juce::ComboBox& box)
{
    // A list of languages shows its choice in that language's font; any other
    // list in this look (the controllers) speaks the current language.
    const auto* catalogue = TxtLoader::getInstance();
    const auto language = languageOfEntry (box.getText());
    const auto name = box.getSelectedId() == 0 ? juce::String()
                                               : catalogue->getFontName (language >= 0 ? language : catalogue->getLanguage());
    const auto height = juce::jmin (kChooserFontFactor * (float) box.getHeight(), kLargestChooserFontHeight);
    return juce::Font (name, height, juce::Font::plain);
}

void LangLookAndFeel::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                                         bool isSeparator, bool isActive, bool isHighlighted, bool isTicked,
                                         bool hasSubMenu, const juce::String& text, const juce::String& shortcutKeyText,
                                         const juce::Drawable* icon, const juce::Colour* textColour)
{
    // Everything below is measured from the entry's top left corner.
    juce::Graphics::ScopedSaveState entryState (g);
    g.setOrigin (area.getPosition());

    const auto width = area.getWidth();
    const auto height = area.getHeight();
    const auto halfH = (float) height * 0.5f;

    if (isSeparator)
    {
        const auto right = (float) width - kSeparatorEndGap;
        g.setColour (kSeparatorShadow);
        g.drawLine (kSeparatorEndGap, halfH, right, halfH);
        g.setColour (kSeparatorLight);
        g.drawLine (kSeparatorEndGap, halfH + 1.0f, right, halfH + 1.0f);
        return;
    }

    const auto colour = textColour != nullptr ? *textColour : findColour (juce::PopupMenu::textColourId);

    if (isHighlighted)
    {
        g.setColour (kHighlightFill);
        g.fillRect (1, 1, width - 2, height - 2);
        g.setColour (findColour (juce::PopupMenu::highlightedTextColourId));
    }
    else
    {
        g.setColour (colour);
    }

    if (! isActive)
        g.setOpacity (kInactiveOpacity);

    // While the entry is drawn, glyphs its font lacks come from its language's font;
    // the display refresh owns the setting between drawings, so it is put back.
    const auto fallbackFontName = juce::Font::getFallbackFontName();
    const auto language = languageOfEntry (text);

    if (language >= 0)
        juce::Font::setFallbackFontName (TxtLoader::getInstance()->getFontName (language));

    auto font = language >= 0 ? juce::Font (kWindowsFontNames[language], kLanguageFontHeight, juce::Font::plain)
                              : getPopupMenuFont();

    const auto largestFontHeight = (float) height / kEntryHeightPerFontHeight;

    if (font.getHeight() > largestFontHeight)
        font.setHeight (largestFontHeight);

    g.setFont (font);

    const auto leftBorder = leftBorderFor (height);

    if (icon != nullptr)
    {
        icon->drawWithin (g, juce::Rectangle<float> ((float) kIconGap, 1.0f, (float) (leftBorder - 2 * kIconGap), (float) (height - 2)),
                          juce::RectanglePlacement::centred | juce::RectanglePlacement::onlyReduceInSize, 1.0f);
    }
    else if (isTicked)
    {
        const auto tick = getTickShape (1.0f);
        const auto ascent = font.getAscent();
        const juce::Rectangle<float> tickArea ((float) kIconGap, halfH - ascent * 0.5f,
                                               (float) (leftBorder - 2 * kIconGap), ascent);
        g.fillPath (tick, tick.getTransformToScaleToFit (tickArea, true));
    }

    g.drawFittedText (text, leftBorder, 0, width - leftBorder - kRightBorder, height,
                      juce::Justification::centredLeft, 1, kSmallestTextScale);

    if (shortcutKeyText.isNotEmpty())
    {
        auto shortcutFont = font;
        shortcutFont.setHeight (font.getHeight() * kShortcutHeightFactor);
        shortcutFont.setHorizontalScale (kShortcutHorizontalScale);
        g.setFont (shortcutFont);
        g.drawText (shortcutKeyText, leftBorder, 0, width - leftBorder - kShortcutRightBorder, height,
                    juce::Justification::centredRight, true);
    }

    if (hasSubMenu)
    {
        const auto arrowH = kArrowHeightFactor * getPopupMenuFont().getAscent();
        const auto x = (float) width - kArrowInsetFactor * (float) height;

        juce::Path arrow;
        arrow.addTriangle (x, halfH - arrowH * 0.5f, x, halfH + arrowH * 0.5f, x + kArrowWidthFactor * arrowH, halfH);
        g.fillPath (arrow);
    }

    juce::Font::setFallbackFontName (fallbackFontName);
}
