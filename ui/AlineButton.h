#pragma once

#include "ui/BtnLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/**
    The updater's push button: a bevelled white box (BtnLookAndFeel) with a dark
    caption that moves one pixel right and down while the button is down, and a
    thin grey frame while it has the keyboard focus.

    Return (without Shift, Ctrl or Alt) shows the button down for as long as the
    key is held and clicks it once on release; the click reaches the listeners the
    way a mouse click does. Mouse handling and accessibility (button role, the
    caption as title, press clicks) are those of juce::Button.

    Lives and is used on the message thread only.
*/
class AlineButton final : public juce::Button
{
public:
    /** Creates the button with the component name, which is also its first caption.
        All four edges count as connected, so the box has square corners. */
    explicit AlineButton (const juce::String& name);

    /** Stops using the button's own look, then deletes it. */
    ~AlineButton() override;

    /** Typeface name of the caption; takes effect at the next paint (no repaint). */
    void setFontName (const juce::String& newFontName);

    /** juce::Font style flags of the caption; take effect at the next paint (no repaint). */
    void setFontStyle (int newFontStyle);

    /** Shows the text as the caption: a new text replaces the caption, the same text
        only repaints the button. */
    void setCaption (const juce::String& newCaption);

    /** Return without Shift, Ctrl or Alt: the button goes down until the key is
        released, then clicks; returns true. Any other key is left to others (false). */
    bool keyPressed (const juce::KeyPress& key) override;

protected:
    /** Draws box, caption and focus frame; while a Return press is pending it polls
        the key and clicks once it has been released. */
    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

private:
    std::unique_ptr<BtnLookAndFeel> buttonLookAndFeel = std::make_unique<BtnLookAndFeel>();
    juce::Justification textJustification = juce::Justification::centred;
    juce::String fontName = juce::Font::getDefaultSansSerifFontName();
    int fontStyle = juce::Font::plain;
    bool returnKeyDown = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlineButton)
};
