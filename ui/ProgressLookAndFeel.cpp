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
        g.setColour (kTextColour);
        g.setFont (kTextHeightFactor * (float) height);
        g.drawText (textToShow, juce::Rectangle<int> (0, 0, width, height), juce::Justification::centred, false);
    }
}
