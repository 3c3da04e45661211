#include "ui/ProgressLookAndFeel.h"

namespace
{
const juce::Colour kGradientTop { 0xffa7a7a7 };
const juce::Colour kGradientMiddle { 0xff646464 };
const juce::Colour kGradientBottom { 0xff6c6c6c };
const juce::Colour kTextColour { 0xffffffff };

// Gap between the bar and the edges of the control.
constexpr int kBarInset = 2;
constexpr float kTextHeightFactor = 0.8f;
}

void ProgressLookAndFeel::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                           double progress, const juce::String& textToShow)
{
    g.fillAll (bar.findColour (juce::ProgressBar::backgroundColourId));

    juce::ColourGradient gradient (kGradientTop, (float) kBarInset, (float) kBarInset,
                                   kGradientBottom, (float) kBarInset, (float) (height - 2 * kBarInset), false);
    gradient.addColour (0.0, kGradientTop);
    gradient.addColour (0.5, kGradientMiddle);
    gradient.addColour (1.0, kGradientBottom);
    g.setGradientFill (gradient);

    const auto fullWidth = (double) juce::jmax (0, width - 2 * kBarInset);
    // Written so that a progress that is not a number draws no bar.
    const auto filledWidth = progress > 0.0 ? juce::jmin (fullWidth, fullWidth * progress) : 0.0;

    g.fillRect (juce::Rectangle<float> ((float) kBarInset, (float) kBarInset,
                                        (float) filledWidth, (float) (height - 2 * kBarInset)));

    if (textToShow.isNotEmpty())
    {
        // The screen's texts are drawn in the language's font, which the window makes
        // the framework's fallback name; the percentage takes it too. The default face
        // would be a face of its own, loaded at the bar's first paint only for these
        // digits: the default sans-serif name stands for a Japanese face with several
        // MiB of glyphs, all of which the framework keeps in memory.
        const auto fontName = juce::Font::getFallbackFontName();
        const auto textHeight = kTextHeightFactor * (float) height;
        const auto font = fontName.isNotEmpty() ? juce::Font (fontName, textHeight, juce::Font::plain) : juce::Font (textHeight);

        // Laid out here rather than by Graphics::drawText, whose cache would keep a
        // layout for each of the hundred percentages the write passes through.
        if (textToShow != laidOutText || font != laidOutFont || width != laidOutWidth || height != laidOutHeight)
        {
            textLayout.clear();
            textLayout.addCurtailedLineOfText (font, textToShow, 0.0f, 0.0f, (float) width, false);
            textLayout.justifyGlyphs (0, textLayout.getNumGlyphs(), 0.0f, 0.0f, (float) width, (float) height, juce::Justification::centred);
            laidOutText = textToShow;
            laidOutFont = font;
            laidOutWidth = width;
            laidOutHeight = height;
        }

        g.setColour (kTextColour);
        textLayout.draw (g);
    }
}
