#include "resources/AppIcon.h"
#include "resources/WarningIcon.h"

#include <gtest/gtest.h>

namespace
{
bool isYellow (juce::Colour c)
{
    return c.getAlpha() == 0xFF && c.getRed() > 0xE0 && c.getGreen() > 0xB0 && c.getBlue() < 0x40;
}

bool isBlack (juce::Colour c)
{
    return c.getAlpha() == 0xFF && c.getRed() < 0x20 && c.getGreen() < 0x20 && c.getBlue() < 0x20;
}
} // namespace

TEST (WarningIcon, DecodesToA56By55ImageWithAlpha)
{
    const auto icon = getWarningIcon();

    ASSERT_TRUE (icon.isValid());
    EXPECT_EQ (icon.getWidth(), 56);
    EXPECT_EQ (icon.getHeight(), 55);
    EXPECT_TRUE (icon.hasAlphaChannel());
}

TEST (WarningIcon, IsAYellowTriangleWithBlackInkOnATransparentGround)
{
    const auto icon = getWarningIcon();
    ASSERT_TRUE (icon.isValid());

    const int w = icon.getWidth(), h = icon.getHeight();

    for (auto [x, y] : { std::pair { 0, 0 }, { w - 1, 0 }, { 0, h - 1 }, { w - 1, h - 1 }, { 5, 10 }, { w - 6, 10 } })
        EXPECT_EQ (icon.getPixelAt (x, y).getAlpha(), 0) << "at " << x << ", " << y;

    int yellow = 0, black = 0;

    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            yellow += isYellow (icon.getPixelAt (x, y)) ? 1 : 0;
            black += isBlack (icon.getPixelAt (x, y)) ? 1 : 0;
        }

    // The triangle covers a good part of the image; the border and the
    // exclamation mark are a smaller, clearly visible part of it.
    EXPECT_GT (yellow, w * h / 5);
    EXPECT_GT (black, w * h / 10);

    // The exclamation mark is black on the triangle's middle line: in the bar
    // and in the dot, with yellow between them and beside them.
    EXPECT_TRUE (isBlack (icon.getPixelAt (w / 2, 25)));
    EXPECT_TRUE (isBlack (icon.getPixelAt (w / 2, 44)));
    EXPECT_TRUE (isYellow (icon.getPixelAt (w / 2, 40)));
    EXPECT_TRUE (isYellow (icon.getPixelAt (w / 2 - 10, 40)));
}

TEST (WarningIcon, IsDecodedOnceAndThenTakenFromTheCache)
{
    const auto first = getWarningIcon();
    const auto second = getWarningIcon();

    // Images that share their pixel data compare equal.
    EXPECT_TRUE (first == second);
}

TEST (AppIcon, DrawsTheBuiltInSvgIntoASquareWithATransparentCorner)
{
    const auto icon = renderAppIcon (128);

    ASSERT_TRUE (icon.isValid());
    EXPECT_EQ (icon.getWidth(), 128);
    EXPECT_EQ (icon.getHeight(), 128);
    // The controller's body fills the lower middle; above the arrow's head
    // at the left edge there is nothing.
    EXPECT_EQ (icon.getPixelAt (64, 100).getAlpha(), 255);
    EXPECT_EQ (icon.getPixelAt (2, 2).getAlpha(), 0);
    // The arrow is green.
    const auto arrow = icon.getPixelAt (64, 20);
    EXPECT_GT (arrow.getGreen(), arrow.getRed());
    EXPECT_GT (arrow.getGreen(), arrow.getBlue());

    EXPECT_FALSE (renderAppIcon (0).isValid());
}
