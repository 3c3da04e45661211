#include "ui/AlineButton.h"

namespace
{
const juce::Colour kButtonColour { 0xffffffff };
const juce::Colour kCaptionColour { 0xff101010 };
const juce::Colour kFocusFrameColour { 0xff808080 };

constexpr float kCaptionHeightFactor = 0.8f;
constexpr float kLargestCaptionHeight = 13.0f;
constexpr float kSmallestCaptionScale = 0.7f;
constexpr int kCaptionInset = 4;
// The caption's shift while the button is down, so that it seems pushed in.
constexpr int kPressedCaptionShift = 1;

// The focus frame, as proportions of the button's size.
constexpr float kFocusFrameX = 0.05f;
constexpr float kFocusFrameY = 0.15f;
constexpr float kFocusFrameWidth = 0.9f;
constexpr float kFocusFrameHeight = 0.7f;
constexpr float kFocusFrameThickness = 0.5f;
}

AlineButton::AlineButton (const juce::String& name)
    : juce::Button (name)
{
    setLookAndFeel (buttonLookAndFeel.get());
    setColour (juce::TextButton::buttonColourId, kButtonColour);
    setColour (juce::TextButton::buttonOnColourId, kButtonColour);
    setConnectedEdges (ConnectedOnLeft | ConnectedOnRight | ConnectedOnTop | ConnectedOnBottom);
}

AlineButton::~AlineButton()
{
    // The framework insists that no component still uses a look that is deleted.
    setLookAndFeel (nullptr);
    buttonLookAndFeel.reset();
}

void AlineButton::setFontName (const juce::String& newFontName)
{
    fontName = newFontName;
}

void AlineButton::setFontStyle (int newFontStyle)
{
    fontStyle = newFontStyle;
}

void AlineButton::setCaption (const juce::String& newCaption)
{
    if (newCaption != getButtonText())
        setButtonText (newCaption);
    else
        repaint();
}

bool AlineButton::keyPressed (const juce::KeyPress& key)
{
    const auto modifiers = key.getModifiers();

    if (key.getKeyCode() != juce::KeyPress::returnKey
        || modifiers.isShiftDown() || modifiers.isCtrlDown() || modifiers.isAltDown())
        return false;

    returnKeyDown = true;
    repaint();
    return true;
}

void AlineButton::paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const bool down = shouldDrawButtonAsDown || returnKeyDown;
    const auto width = getWidth();
    const auto height = getHeight();

    const auto colourId = getToggleState() ? juce::TextButton::buttonOnColourId : juce::TextButton::buttonColourId;
    getLookAndFeel().drawButtonBackground (g, *this, findColour (colourId), shouldDrawButtonAsHighlighted, down);

    g.setFont (juce::Font (fontName, juce::jmin (kCaptionHeightFactor * (float) height, kLargestCaptionHeight), fontStyle));
    g.setColour (kCaptionColour);
    const auto inset = kCaptionInset + (down ? kPressedCaptionShift : 0);
    g.drawFittedText (getButtonText(), inset, inset, width - 2 * kCaptionInset, height - 2 * kCaptionInset,
                      textJustification, 1, kSmallestCaptionScale);

    if (hasKeyboardFocus (true))
    {
        g.setColour (kFocusFrameColour);
        g.drawRect (juce::Rectangle<float> (kFocusFrameX * (float) width, kFocusFrameY * (float) height,
                                            kFocusFrameWidth * (float) width, kFocusFrameHeight * (float) height),
                    kFocusFrameThickness);
    }

    // The key is polled only while a Return press waits for its release: the poll
    // asks the window system, which a button drawn without a display cannot reach.
    if (returnKeyDown)
    {
        if (juce::KeyPress::isKeyCurrentlyDown (juce::KeyPress::returnKey))
        {
            repaint();
        }
        else
        {
            returnKeyDown = false;
            triggerClick();
        }
    }
}
