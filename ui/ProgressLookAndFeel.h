#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The look of the update's progress bar: the bar's background colour with a grey
    vertical gradient bar, two pixels in from every edge, and the bar's text in
    white, in the font the screen's texts use (the framework's fallback font name,
    which the window sets to the language's font). Everything else is the
    framework's default look.
*/
class ProgressLookAndFeel final : public juce::LookAndFeel_V2
{
public:
    ProgressLookAndFeel() = default;

    /** Draws the bar for a progress of 0..1; below 0 (or not a number) no bar is
        drawn, above 1 a full one. An empty text draws no text. Runs on the message
        thread inside painting and cannot fail. */
    void drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                          double progress, const juce::String& textToShow) override;

private:
    // The text's layout and what it was made from: one percentage at a time.
    juce::GlyphArrangement textLayout;
    juce::String laidOutText;
    juce::Font laidOutFont;
    int laidOutWidth = -1, laidOutHeight = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProgressLookAndFeel)
};
