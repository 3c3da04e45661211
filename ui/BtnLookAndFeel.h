#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The look of the updater's push buttons: a flat box in the button's colour with
    a light upper-left and a dark lower-right bevel, swapped while the button is
    down. Corners on connected edges are square; free corners are rounded with half
    the box's shorter side.

    Everything but the button background is the framework's default look. All
    methods run on the message thread, inside painting, and cannot fail.
*/
class BtnLookAndFeel final : public juce::LookAndFeel_V2
{
public:
    BtnLookAndFeel() = default;

    /** Draws the box of a button, inset a little on its free edges. The look does
        not change under the mouse, nor when the button is disabled. */
    void drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    /** Fills the box at (x, y, w, h) in the colour and strokes its two bevels; the
        flat flags square off the corners on those sides. Draws nothing when the box
        is 2.5 pixels or less wide or high. */
    static void drawBevelledBox (juce::Graphics& g, float x, float y, float w, float h, const juce::Colour& colour,
                                 bool flatLeft, bool flatRight, bool flatTop, bool flatBottom, bool pressed);

    /** The closed outline of the box, clockwise from the top-left, with an arc of
        radius r at each curved corner. */
    static juce::Path createOutlinePath (float x, float y, float w, float h, float r,
                                         bool curveTopLeft, bool curveTopRight,
                                         bool curveBottomLeft, bool curveBottomRight);

    /** The open upper-left bevel: from the bottom-left corner up the left side and
        along the top side. */
    static juce::Path createUpperLeftEdgePath (float x, float y, float w, float h, float r,
                                               bool curveTopLeft, bool curveTopRight, bool curveBottomLeft);

    /** The open lower-right bevel: from the top-right corner down the right side and
        along the bottom side. */
    static juce::Path createLowerRightEdgePath (float x, float y, float w, float h, float r,
                                                bool curveTopRight, bool curveBottomLeft, bool curveBottomRight);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BtnLookAndFeel)
};
