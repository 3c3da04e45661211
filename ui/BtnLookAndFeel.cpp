#include "ui/BtnLookAndFeel.h"

namespace
{
// Indent of the box from the button's edge: a connected edge lets the box run
// almost to the border so that neighbouring buttons meet.
constexpr float kConnectedEdgeIndent = 0.1f;
constexpr float kFreeEdgeIndent = 1.25f;

// A box this small has no room for its two bevels.
constexpr float kSmallestBoxSide = 2.5f;

constexpr float kBevelThickness = 2.5f;

const juce::Colour kBevelLight { 0xffffffff };
const juce::Colour kBevelDark { 0xff000000 };

// Angles of addCentredArc: clockwise from 12 o'clock.
constexpr float kAngleTop = 0.0f;
constexpr float kAngleRight = juce::MathConstants<float>::halfPi;
constexpr float kAngleBottom = juce::MathConstants<float>::pi;
constexpr float kAngleLeft = juce::MathConstants<float>::pi * 1.5f;
constexpr float kAngleFullTurn = juce::MathConstants<float>::twoPi;

void addCorner (juce::Path& path, float centreX, float centreY, float r, float from, float to)
{
    path.addCentredArc (centreX, centreY, r, r, 0.0f, from, to, false);
}
}

void BtnLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                                           bool /*shouldDrawButtonAsHighlighted*/, bool shouldDrawButtonAsDown)
{
    const auto indent = [] (bool connected)
    { return connected ? kConnectedEdgeIndent : kFreeEdgeIndent; };

    const bool left = button.isConnectedOnLeft();
    const bool right = button.isConnectedOnRight();
    const bool top = button.isConnectedOnTop();
    const bool bottom = button.isConnectedOnBottom();

    const auto x = indent (left);
    const auto y = indent (top);
    const auto w = (float) button.getWidth() - indent (left) - indent (right);
    const auto h = (float) button.getHeight() - indent (top) - indent (bottom);

    drawBevelledBox (g, x, y, w, h, backgroundColour, left, right, top, bottom, shouldDrawButtonAsDown);
}

void BtnLookAndFeel::drawBevelledBox (juce::Graphics& g, float x, float y, float w, float h, const juce::Colour& colour,
                                      bool flatLeft, bool flatRight, bool flatTop, bool flatBottom, bool pressed)
{
    if (w <= kSmallestBoxSide || h <= kSmallestBoxSide)
        return;

    const auto r = juce::jmin (w * 0.5f, h * 0.5f);

    const bool curveTopLeft = ! (flatLeft || flatTop);
    const bool curveTopRight = ! (flatRight || flatTop);
    const bool curveBottomLeft = ! (flatLeft || flatBottom);
    const bool curveBottomRight = ! (flatRight || flatBottom);

    const juce::PathStrokeType bevel (kBevelThickness, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);

    g.setColour (colour);
    g.fillPath (createOutlinePath (x, y, w, h, r, curveTopLeft, curveTopRight, curveBottomLeft, curveBottomRight));

    g.setColour (pressed ? kBevelDark : kBevelLight);
    g.strokePath (createUpperLeftEdgePath (x, y, w, h, r, curveTopLeft, curveTopRight, curveBottomLeft), bevel);

    g.setColour (pressed ? kBevelLight : kBevelDark);
    g.strokePath (createLowerRightEdgePath (x, y, w, h, r, curveTopRight, curveBottomLeft, curveBottomRight), bevel);
}

juce::Path BtnLookAndFeel::createOutlinePath (float x, float y, float w, float h, float r,
                                              bool curveTopLeft, bool curveTopRight,
                                              bool curveBottomLeft, bool curveBottomRight)
{
    const auto right = x + w;
    const auto bottom = y + h;
    juce::Path path;

    if (curveTopLeft)
    {
        path.startNewSubPath (x, y + r);
        addCorner (path, x + r, y + r, r, kAngleLeft, kAngleFullTurn);
    }
    else
    {
        path.startNewSubPath (x, y);
    }

    if (curveTopRight)
    {
        path.lineTo (right - r, y);
        addCorner (path, right - r, y + r, r, kAngleTop, kAngleRight);
    }
    else
    {
        path.lineTo (right, y);
    }

    if (curveBottomRight)
    {
        path.lineTo (right, bottom - r);
        addCorner (path, right - r, bottom - r, r, kAngleRight, kAngleBottom);
    }
    else
    {
        path.lineTo (right, bottom);
    }

    if (curveBottomLeft)
    {
        path.lineTo (x + r, bottom);
        addCorner (path, x + r, bottom - r, r, kAngleBottom, kAngleLeft);
    }
    else
    {
        path.lineTo (x, bottom);
    }

    path.closeSubPath();
    return path;
}

juce::Path BtnLookAndFeel::createUpperLeftEdgePath (float x, float y, float w, float h, float r,
                                                    bool curveTopLeft, bool curveTopRight, bool curveBottomLeft)
{
    const auto right = x + w;
    const auto bottom = y + h;
    juce::Path path;

    if (curveBottomLeft)
    {
        path.startNewSubPath (x + r, bottom);
        addCorner (path, x + r, bottom - r, r, kAngleBottom, kAngleLeft);
    }
    else
    {
        path.startNewSubPath (x, bottom);
    }

    if (curveTopLeft)
    {
        path.lineTo (x, y + r);
        addCorner (path, x + r, y + r, r, kAngleLeft, kAngleFullTurn);
    }
    else
    {
        path.lineTo (x, y);
    }

    path.lineTo (curveTopRight ? right - r : right, y);
    return path;
}

juce::Path BtnLookAndFeel::createLowerRightEdgePath (float x, float y, float w, float h, float r,
                                                     bool curveTopRight, bool curveBottomLeft, bool curveBottomRight)
{
    const auto right = x + w;
    const auto bottom = y + h;
    juce::Path path;

    if (curveTopRight)
    {
        path.startNewSubPath (right - r, y);
        addCorner (path, right - r, y + r, r, kAngleTop, kAngleRight);
    }
    else
    {
        path.startNewSubPath (right, y);
    }

    if (curveBottomRight)
    {
        path.lineTo (right, bottom - r);
        addCorner (path, right - r, bottom - r, r, kAngleRight, kAngleBottom);
    }
    else
    {
        path.lineTo (right, bottom);
    }

    path.lineTo (curveBottomLeft ? x + r : x, bottom);
    return path;
}
