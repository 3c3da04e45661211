// Draws the warning icon shown on every error screen and writes it as the PNG
// file kept in resources/, which the build turns into data in the program.
//
//   make-warning-icon resources/warning_icon.png
//
// Run it again after changing the drawing and commit the file; the test
// "WarningIconIsUpToDate" fails while the committed file differs from what
// this program writes.

#include <juce_graphics/juce_graphics.h>

#include <cstdio>

namespace
{
constexpr int kIconWidth = 56;
constexpr int kIconHeight = 55;

const juce::Colour kTriangleYellow { 0xFFFFD400 };
const juce::Colour kInkBlack { 0xFF000000 };

juce::Image drawIcon()
{
    juce::Image image (juce::Image::ARGB, kIconWidth, kIconHeight, true, juce::SoftwareImageType());
    juce::Graphics g (image);

    // The triangle's corners sit a border's width inside the image so the
    // rounded black outline is not clipped.
    constexpr float border = 3.0f;
    constexpr float inset = border * 0.5f + 1.0f;
    juce::Path triangle;
    triangle.addTriangle (kIconWidth * 0.5f, inset,
                          (float) kIconWidth - inset, (float) kIconHeight - inset,
                          inset, (float) kIconHeight - inset);
    const auto rounded = triangle.createPathWithRoundedCorners (5.0f);

    g.setColour (kTriangleYellow);
    g.fillPath (rounded);
    g.setColour (kInkBlack);
    g.strokePath (rounded, juce::PathStrokeType (border, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));

    // The exclamation mark: a bar that narrows towards its foot, and a dot.
    const float centre = kIconWidth * 0.5f;
    juce::Path bar;
    bar.startNewSubPath (centre - 3.5f, 17.0f);
    bar.lineTo (centre + 3.5f, 17.0f);
    bar.lineTo (centre + 2.0f, 38.0f);
    bar.lineTo (centre - 2.0f, 38.0f);
    bar.closeSubPath();
    g.fillPath (bar.createPathWithRoundedCorners (1.5f));
    g.fillEllipse (centre - 3.25f, 41.5f, 6.5f, 6.5f);

    return image;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fputs ("usage: make-warning-icon <icon.png>\n", stderr);
        return 2;
    }

    juce::MemoryOutputStream pngStream;

    if (! juce::PNGImageFormat().writeImageToStream (drawIcon(), pngStream))
    {
        std::fputs ("make-warning-icon: the PNG encoder failed\n", stderr);
        return 1;
    }

    const auto png = pngStream.getMemoryBlock();
    const juce::File pngFile (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));

    if (! pngFile.replaceWithData (png.getData(), png.getSize()))
    {
        std::fprintf (stderr, "make-warning-icon: cannot write %s\n", argv[1]);
        return 1;
    }

    std::printf ("%s: %d x %d, %d bytes\n", argv[1], kIconWidth, kIconHeight, (int) png.getSize());
    return 0;
}
