#pragma once

// Helpers for tests of what the updater draws: a rendering context that records
// what was drawn as well as drawing it into an image, images saved for a person to
// look at, and windows shown on the test display.

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <vector>

namespace guitest
{
/** The outline a typeface draws for c, found as the framework finds it: by the glyph
    the face maps c to (empty where it maps c to none). */
inline juce::Path glyphOutline (juce::Typeface& typeface, juce::juce_wchar c)
{
    juce::Array<int> glyphs;
    juce::Array<float> offsets;
    typeface.getGlyphPositions (juce::String::charToString (c), glyphs, offsets);

    juce::Path outline;

    if (! glyphs.isEmpty())
        typeface.getOutlineForGlyph (glyphs.getFirst(), outline);

    return outline;
}

/** One fill of a path (strokes arrive here as their outlines) or a glyph, with the fill in force. */
struct DrawnPath
{
    juce::Path path;
    juce::AffineTransform transform;
    juce::FillType fill;
};

struct DrawnGlyph
{
    int glyph = 0;
    juce::Font font;
    juce::AffineTransform transform;
    juce::FillType fill;
    juce::String fallbackFontName; // the framework's fallback font while the glyph was drawn
};

struct DrawnRect
{
    juce::Rectangle<float> area;
    juce::FillType fill;
};

/** A software renderer into an image that also keeps a log of what it was asked to draw. */
class RecordingContext final : public juce::LowLevelGraphicsSoftwareRenderer
{
public:
    explicit RecordingContext (const juce::Image& image)
        : juce::LowLevelGraphicsSoftwareRenderer (image)
    {
    }

    std::vector<DrawnPath> paths;
    std::vector<DrawnGlyph> glyphs;
    std::vector<DrawnRect> rects;
    std::vector<juce::FillType> fills;

    void saveState() override
    {
        fillStack.push_back (currentFill);
        LowLevelGraphicsSoftwareRenderer::saveState();
    }

    void restoreState() override
    {
        if (! fillStack.empty())
        {
            currentFill = fillStack.back();
            fillStack.pop_back();
        }

        LowLevelGraphicsSoftwareRenderer::restoreState();
    }

    void setFill (const juce::FillType& fill) override
    {
        currentFill = fill;
        fills.push_back (fill);
        LowLevelGraphicsSoftwareRenderer::setFill (fill);
    }

    void setOpacity (float opacity) override
    {
        currentFill.setOpacity (opacity);
        LowLevelGraphicsSoftwareRenderer::setOpacity (opacity);
    }

    void fillPath (const juce::Path& path, const juce::AffineTransform& transform) override
    {
        paths.push_back ({ path, transform, currentFill });
        LowLevelGraphicsSoftwareRenderer::fillPath (path, transform);
    }

    void drawGlyph (int glyph, const juce::AffineTransform& transform) override
    {
        glyphs.push_back ({ glyph, getFont(), transform, currentFill, juce::Font::getFallbackFontName() });
        LowLevelGraphicsSoftwareRenderer::drawGlyph (glyph, transform);
    }

    void fillRect (const juce::Rectangle<int>& area, bool replace) override
    {
        rects.push_back ({ area.toFloat(), currentFill });
        LowLevelGraphicsSoftwareRenderer::fillRect (area, replace);
    }

    void fillRect (const juce::Rectangle<float>& area) override
    {
        rects.push_back ({ area, currentFill });
        LowLevelGraphicsSoftwareRenderer::fillRect (area);
    }

    void fillRectList (const juce::RectangleList<float>& list) override
    {
        for (auto& area : list)
            rects.push_back ({ area, currentFill });

        LowLevelGraphicsSoftwareRenderer::fillRectList (list);
    }

private:
    juce::FillType currentFill;
    std::vector<juce::FillType> fillStack;
};

/** An image and the log of the drawing that made it. */
struct Rendering
{
    juce::Image image;
    std::unique_ptr<RecordingContext> context;
};

/** Draws into a new image of the size, on the background colour, through a recording context. */
inline Rendering render (int width, int height, juce::Colour background,
                         const std::function<void (juce::Graphics&)>& draw)
{
    Rendering result;
    result.image = juce::Image (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
    result.image.clear (result.image.getBounds(), background);
    result.context = std::make_unique<RecordingContext> (result.image);
    juce::Graphics g (*result.context);
    draw (g);
    return result;
}

/** Draws the component and its children as the screen would. */
inline Rendering renderComponent (juce::Component& component, juce::Colour background)
{
    return render (component.getWidth(), component.getHeight(), background,
                   [&component] (juce::Graphics& g)
                   { component.paintEntireComponent (g, false); });
}

/** Where the tests leave their pictures; the folder is made on first use. */
inline juce::File imageFolder()
{
#ifdef TRB_TEST_IMAGE_DIR
    juce::File folder (TRB_TEST_IMAGE_DIR);
#else
    auto folder = juce::File::getCurrentWorkingDirectory().getChildFile ("test-images");
#endif
    folder.createDirectory();
    return folder;
}

/** Saves the image as name.png, enlarged by the zoom without smoothing so single
    pixels stay visible, and says where it went. */
inline void saveImage (const juce::Image& image, const juce::String& name, int zoom = 4)
{
    auto file = imageFolder().getChildFile (name + ".png");
    auto big = image.rescaled (image.getWidth() * zoom, image.getHeight() * zoom, juce::Graphics::lowResamplingQuality);

    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    const bool written = out.openedOk() && png.writeImageToStream (big, out);
    EXPECT_TRUE (written) << file.getFullPathName();
    std::cout << "[ image    ] " << file.getFullPathName() << std::endl;
}

/** True when tests can show windows; the CTest run always provides a display. */
inline bool haveDisplay()
{
    const char* display = std::getenv ("DISPLAY");
    return display != nullptr && *display != 0;
}

/** The longest a test waits for the window system or the program: generous for a
    sanitizer build on a busy machine, since a wait that ends early only costs time. */
inline constexpr int kWindowWaitMs = 30000;

/** Runs the message loop until the condition holds, for at most the time given. */
inline bool waitFor (const std::function<bool()>& condition, int timeoutMs = kWindowWaitMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;

        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    }

    return true;
}

/** Puts the component on the desktop as a window and waits until the window
    system shows it. */
inline bool showOnDesktop (juce::Component& component)
{
    component.addToDesktop (0);
    component.setVisible (true);
    component.toFront (true);
    return waitFor ([&component]
                    { return component.isShowing() && component.getPeer() != nullptr; });
}

/** Gives the component the keyboard focus and waits until it has it. */
inline bool focus (juce::Component& component)
{
    return waitFor ([&component]
                    {
            if (! component.hasKeyboardFocus (false))
                component.grabKeyboardFocus();

            return component.hasKeyboardFocus (false); });
}

/** The smallest rectangle holding every pixel inside the area for which the test holds. */
inline juce::Rectangle<int> boundsOfPixels (const juce::Image& image, juce::Rectangle<int> area,
                                            const std::function<bool (juce::Colour)>& test)
{
    int left = area.getRight(), top = area.getBottom(), right = area.getX() - 1, bottom = area.getY() - 1;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (test (image.getPixelAt (x, y)))
            {
                left = juce::jmin (left, x);
                right = juce::jmax (right, x);
                top = juce::jmin (top, y);
                bottom = juce::jmax (bottom, y);
            }

    if (right < left)
        return {};

    return { left, top, right - left + 1, bottom - top + 1 };
}
}
