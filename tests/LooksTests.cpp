#include "tests/GuiTestSupport.h"
#include "text/TxtLoader.h"
#include "ui/AlineButton.h"
#include "ui/BtnLookAndFeel.h"
#include "ui/LangLookAndFeel.h"
#include "ui/ProgressLookAndFeel.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
// Xlib's event type macros collide with juce::KeyPress.
namespace
{
constexpr int kXKeyPressEvent = KeyPress;
constexpr int kXKeyReleaseEvent = KeyRelease;
}
#undef KeyPress
#undef KeyRelease

using guitest::render;
using guitest::renderComponent;

namespace
{
const juce::Colour kBackground { 0xffeaeaea };
const juce::Colour kWhite { 0xffffffff };
const juce::Colour kBlack { 0xff000000 };

struct Element
{
    juce::Path::Iterator::PathElementType type;
    juce::Point<float> end;
};

std::vector<Element> elementsOf (const juce::Path& path)
{
    std::vector<Element> elements;
    juce::Path::Iterator it (path);

    while (it.next())
    {
        juce::Point<float> end;

        switch (it.elementType)
        {
            case juce::Path::Iterator::startNewSubPath:
            case juce::Path::Iterator::lineTo:
                end = { it.x1, it.y1 };
                break;
            case juce::Path::Iterator::quadraticTo:
                end = { it.x2, it.y2 };
                break;
            case juce::Path::Iterator::cubicTo:
                end = { it.x3, it.y3 };
                break;
            case juce::Path::Iterator::closePath:
                break;
        }

        elements.push_back ({ it.elementType, end });
    }

    return elements;
}

void expectNear (juce::Point<float> actual, juce::Point<float> expected)
{
    EXPECT_NEAR (actual.x, expected.x, 1.0e-3f) << "x of " << actual.toString() << ", expected " << expected.toString();
    EXPECT_NEAR (actual.y, expected.y, 1.0e-3f) << "y of " << actual.toString() << ", expected " << expected.toString();
}

void expectNear (juce::Rectangle<float> actual, juce::Rectangle<float> expected)
{
    expectNear (actual.getTopLeft(), expected.getTopLeft());
    expectNear (actual.getBottomRight(), expected.getBottomRight());
}

bool isDark (juce::Colour c) { return c.getBrightness() < 0.5f; }
bool isBlack (juce::Colour c) { return c.getRed() < 8 && c.getGreen() < 8 && c.getBlue() < 8; }
bool isWhite (juce::Colour c) { return c.getRed() > 0xf8 && c.getGreen() > 0xf8 && c.getBlue() > 0xf8; }

guitest::Rendering paintButton (AlineButton& button)
{
    return renderComponent (button, kBackground);
}

// The caption's dark pixels, kept clear of the bevels at the button's border.
juce::Rectangle<int> captionBounds (const juce::Image& image)
{
    return guitest::boundsOfPixels (image, image.getBounds().reduced (4), isDark);
}
}

//==============================================================================
TEST (ButtonLook, ABoxConnectedOnAllEdgesFillsTheButtonWithSquareCorners)
{
    AlineButton button ("OK");
    button.setSize (100, 40);
    auto r = render (100, 40, kBackground, [&] (juce::Graphics& g)
                     { button.getLookAndFeel().drawButtonBackground (g, button, kWhite, false, false); });

    ASSERT_EQ (r.context->paths.size(), 3u) << "box, upper-left bevel, lower-right bevel";
    const auto& box = r.context->paths[0];
    expectNear (box.path.getBounds(), { 0.1f, 0.1f, 99.8f, 39.8f });
    const auto outline = elementsOf (box.path);
    ASSERT_EQ (outline.size(), 5u) << "four corners and the close";
    expectNear (outline[0].end, { 0.1f, 0.1f });
    expectNear (outline[1].end, { 99.9f, 0.1f });
    expectNear (outline[2].end, { 99.9f, 39.9f });
    expectNear (outline[3].end, { 0.1f, 39.9f });
    EXPECT_EQ (outline[4].type, juce::Path::Iterator::closePath);
    EXPECT_EQ (box.fill.colour, kWhite);

    // The bevels run along the box's edges without rounding.
    const auto upperLeft = elementsOf (BtnLookAndFeel::createUpperLeftEdgePath (0.1f, 0.1f, 99.8f, 39.8f, 19.9f, false, false, false));
    ASSERT_EQ (upperLeft.size(), 3u);
    expectNear (upperLeft[0].end, { 0.1f, 39.9f });
    expectNear (upperLeft[1].end, { 0.1f, 0.1f });
    expectNear (upperLeft[2].end, { 99.9f, 0.1f });

    const auto lowerRight = elementsOf (BtnLookAndFeel::createLowerRightEdgePath (0.1f, 0.1f, 99.8f, 39.8f, 19.9f, false, false, false));
    ASSERT_EQ (lowerRight.size(), 3u);
    expectNear (lowerRight[0].end, { 99.9f, 0.1f });
    expectNear (lowerRight[1].end, { 99.9f, 39.9f });
    expectNear (lowerRight[2].end, { 0.1f, 39.9f });
}

TEST (ButtonLook, ABoxWithNoConnectedEdgeIsInsetWithSemicircularShortSides)
{
    AlineButton button ("OK");
    button.setSize (100, 40);
    button.setConnectedEdges (0);
    auto r = render (100, 40, kBackground, [&] (juce::Graphics& g)
                     { button.getLookAndFeel().drawButtonBackground (g, button, kWhite, false, false); });

    ASSERT_EQ (r.context->paths.size(), 3u);
    const auto& box = r.context->paths[0].path;
    expectNear (box.getBounds(), { 1.25f, 1.25f, 97.5f, 37.5f });
    EXPECT_FALSE (box.contains (1.5f, 1.5f)) << "no square corner";

    // r = 37.5 / 2: the left side is a half circle around (20, 20), the long sides straight.
    const float r0 = 18.75f, cx = 1.25f + r0, cy = 1.25f + r0;
    for (float angle = 0.2f; angle < juce::MathConstants<float>::pi; angle += 0.2f)
    {
        const auto px = cx - std::sin (angle) * r0, py = cy - std::cos (angle) * r0;
        EXPECT_TRUE (box.contains (px + 0.3f * std::sin (angle), py + 0.3f * std::cos (angle))) << angle;
        EXPECT_FALSE (box.contains (px - 0.3f * std::sin (angle), py - 0.3f * std::cos (angle))) << angle;
    }

    EXPECT_TRUE (box.contains (cx + 1.0f, 1.4f)) << "the top side is straight from the arc on";
    EXPECT_TRUE (box.contains (98.6f, 20.0f));

    const auto upperLeft = elementsOf (BtnLookAndFeel::createUpperLeftEdgePath (1.25f, 1.25f, 97.5f, 37.5f, r0, true, true, true));
    expectNear (upperLeft.front().end, { cx, 38.75f });
    expectNear (upperLeft.back().end, { 98.75f - r0, 1.25f });

    const auto lowerRight = elementsOf (BtnLookAndFeel::createLowerRightEdgePath (1.25f, 1.25f, 97.5f, 37.5f, r0, true, true, true));
    expectNear (lowerRight.front().end, { 98.75f - r0, 1.25f });
    expectNear (lowerRight.back().end, { cx, 38.75f });
}

TEST (ButtonLook, ABoxOfTwoAndAHalfPixelsOrLessDrawsNothing)
{
    struct Case
    {
        float w, h;
        bool drawn;
    };

    for (auto c : { Case { 2.5f, 30.0f, false }, Case { 30.0f, 2.5f, false }, Case { 0.0f, 0.0f, false },
                    Case { -4.0f, 30.0f, false }, Case { 2.6f, 30.0f, true }, Case { 30.0f, 2.6f, true } })
    {
        auto r = render (40, 40, kBackground, [&] (juce::Graphics& g)
                         { BtnLookAndFeel::drawBevelledBox (g, 1.0f, 1.0f, c.w, c.h, kWhite, false, false, false, false, false); });
        EXPECT_EQ (r.context->paths.empty(), ! c.drawn) << c.w << " x " << c.h;
    }

    // A button 5 pixels wide with free edges leaves a 2.5-pixel box: only the caption is drawn.
    AlineButton narrow ("OK");
    narrow.setConnectedEdges (0);
    narrow.setSize (5, 40);
    auto r = paintButton (narrow);
    for (auto& p : r.context->paths)
        EXPECT_NE (p.fill.colour, kWhite) << "no box";
}

TEST (ButtonLook, PressedSwapsTheBevelsAndMovesTheCaptionOnePixelRightAndDown)
{
    // Coloured and set as the updater's window shows it.
    const juce::Colour face { 0xffeaeaea };
    AlineButton button ("Cancel");
    button.setColour (juce::TextButton::buttonColourId, face);
    button.setFontStyle (juce::Font::bold);
    button.setSize (100, 20);

    auto up = paintButton (button);
    button.setState (juce::Button::buttonDown);
    auto down = paintButton (button);

    guitest::saveImage (up.image, "button-up");
    guitest::saveImage (down.image, "button-down");

    ASSERT_GE (up.context->paths.size(), 3u);
    ASSERT_GE (down.context->paths.size(), 3u);
    EXPECT_EQ (up.context->paths[1].fill.colour, kWhite);
    EXPECT_EQ (up.context->paths[2].fill.colour, kBlack);
    EXPECT_EQ (down.context->paths[1].fill.colour, kBlack);
    EXPECT_EQ (down.context->paths[2].fill.colour, kWhite);

    // Left and top edge light when up, dark when down; right and bottom the other way.
    for (auto [x, y] : { std::pair { 0, 10 }, std::pair { 50, 0 } })
    {
        EXPECT_TRUE (isWhite (up.image.getPixelAt (x, y))) << x << "," << y;
        EXPECT_TRUE (isBlack (down.image.getPixelAt (x, y))) << x << "," << y;
    }

    for (auto [x, y] : { std::pair { 99, 10 }, std::pair { 50, 19 } })
    {
        EXPECT_TRUE (isBlack (up.image.getPixelAt (x, y))) << x << "," << y;
        EXPECT_TRUE (isWhite (down.image.getPixelAt (x, y))) << x << "," << y;
    }

    EXPECT_EQ (up.image.getPixelAt (10, 10), face) << "the box is the button's colour";

    const auto upCaption = captionBounds (up.image);
    ASSERT_FALSE (upCaption.isEmpty());
    EXPECT_EQ (captionBounds (down.image), upCaption.translated (1, 1));

    for (auto& glyph : up.context->glyphs)
        EXPECT_EQ (glyph.fill.colour, juce::Colour (0xff101010));
}

TEST (ButtonLook, CaptionHeightIsFourFifthsOfTheButtonUpToThirteen)
{
    struct Case
    {
        int height;
        float fontHeight;
    };

    for (auto c : { Case { 40, 13.0f }, Case { 20, 13.0f }, Case { 16, 12.8f }, Case { 10, 8.0f } })
    {
        AlineButton button ("OK");
        button.setFontName ("DejaVu Sans");
        button.setFontStyle (juce::Font::bold);
        button.setSize (100, c.height);

        auto r = paintButton (button);
        ASSERT_EQ (r.context->glyphs.size(), 2u) << "O and K";
        for (auto& glyph : r.context->glyphs)
        {
            EXPECT_FLOAT_EQ (glyph.font.getHeight(), c.fontHeight) << c.height;
            EXPECT_EQ (glyph.font.getTypefaceName(), "DejaVu Sans");
            EXPECT_TRUE (glyph.font.isBold());
        }
    }
}

TEST (ButtonLook, SetCaptionShowsTheNewText)
{
    AlineButton button ("OK");
    button.setSize (100, 20);
    EXPECT_EQ (button.getButtonText(), "OK") << "the name is the first caption";

    button.setCaption ("Start");
    EXPECT_EQ (button.getButtonText(), "Start");
    EXPECT_EQ (paintButton (button).context->glyphs.size(), 5u);

    button.setCaption ("Start");
    EXPECT_EQ (button.getButtonText(), "Start");
}

//==============================================================================
TEST (ButtonOnScreen, ScreenReadersSeeAButtonTitledWithTheCaptionThatPressClicks)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "needs an X display (the CTest run provides one)";

    AlineButton button ("OK");
    button.setSize (100, 20);
    button.setCaption ("Start");
    int clicks = 0;
    button.onClick = [&clicks]
    { ++clicks; };
    ASSERT_TRUE (guitest::showOnDesktop (button));

    auto* handler = button.getAccessibilityHandler();
    ASSERT_NE (handler, nullptr);
    EXPECT_EQ (handler->getRole(), juce::AccessibilityRole::button);
    EXPECT_EQ (handler->getTitle(), "Start");
    ASSERT_TRUE (handler->getActions().invoke (juce::AccessibilityActionType::press));
    EXPECT_TRUE (guitest::waitFor ([&clicks]
                                   { return clicks == 1; }));

    button.removeFromDesktop();
}

//==============================================================================
TEST (ButtonOnScreen, OnlyTheButtonWithTheKeyboardFocusShowsTheFocusFrame)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "needs an X display (the CTest run provides one)";

    juce::Component window;
    AlineButton ok ("OK"), cancel ("Cancel");
    ok.setFontStyle (juce::Font::bold);
    window.setSize (240, 60);
    window.addAndMakeVisible (ok);
    window.addAndMakeVisible (cancel);
    ok.setBounds (120, 10, 100, 40);
    cancel.setBounds (10, 10, 100, 40);

    ASSERT_TRUE (guitest::showOnDesktop (window));
    ASSERT_TRUE (guitest::focus (ok));

    // The frame: 0.5 pixels of grey at 5 % of the width and 15 % of the height.
    const auto framed = [] (const juce::Image& image)
    {
        return ! isWhite (image.getPixelAt (50, 6)) && ! isWhite (image.getPixelAt (5, 20))
               && isWhite (image.getPixelAt (50, 8));
    };

    auto focused = paintButton (ok);
    auto other = paintButton (cancel);
    guitest::saveImage (focused.image, "button-focused");
    EXPECT_TRUE (framed (focused.image));
    EXPECT_FALSE (framed (other.image));
    EXPECT_TRUE (isWhite (other.image.getPixelAt (50, 6)));

    ASSERT_TRUE (guitest::focus (cancel));
    EXPECT_FALSE (framed (paintButton (ok).image));
    EXPECT_TRUE (framed (paintButton (cancel).image));

    window.removeFromDesktop();
}

namespace
{
// An "OK" button alone in a window for the test display, counting its clicks.
struct ShownButton
{
    ShownButton()
    {
        window.setSize (120, 40);
        window.addAndMakeVisible (button);
        button.setBounds (10, 10, 100, 20);
        button.onClick = [this]
        { ++clicks; };
    }

    juce::Component window;
    AlineButton button { "OK" };
    int clicks = 0;
};
} // namespace

TEST (ButtonOnScreen, ReturnWithoutModifiersClicksOnceAndOnlyReturnIsHandled)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "needs an X display (the CTest run provides one)";

    ShownButton shown;
    auto& window = shown.window;
    auto& button = shown.button;
    auto& clicks = shown.clicks;

    ASSERT_TRUE (guitest::showOnDesktop (window));
    ASSERT_TRUE (guitest::focus (button));
    auto* peer = window.getPeer();

    using juce::ModifierKeys;
    for (auto modifiers : { ModifierKeys::shiftModifier, ModifierKeys::ctrlModifier, ModifierKeys::altModifier })
    {
        EXPECT_FALSE (peer->handleKeyPress (juce::KeyPress (juce::KeyPress::returnKey, modifiers, 0))) << modifiers;
        EXPECT_FALSE (guitest::waitFor ([&clicks]
                                        { return clicks > 0; },
                                        300))
            << modifiers;
    }

    EXPECT_FALSE (peer->handleKeyPress (juce::KeyPress (juce::KeyPress::spaceKey))) << "space is not a click key";
    EXPECT_FALSE (peer->handleKeyPress (juce::KeyPress ('a')));

    // The key is not held in the window system, so the next paint finds it released and clicks.
    EXPECT_TRUE (peer->handleKeyPress (juce::KeyPress (juce::KeyPress::returnKey)));
    EXPECT_TRUE (guitest::waitFor ([&clicks]
                                   { return clicks == 1; }));
    guitest::waitFor ([]
                      { return false; },
                      300);
    EXPECT_EQ (clicks, 1) << "one press, one click";

    window.removeFromDesktop();
}

namespace
{
// Sends a Return key event to the window through the X server, as a keyboard
// would, so that the framework's record of held keys follows it.
bool sendReturnKey (juce::ComponentPeer& peer, bool press)
{
    auto* display = XOpenDisplay (nullptr);

    if (display == nullptr)
        return false;

    const auto window = (Window) (juce::pointer_sized_uint) peer.getNativeHandle();
    XKeyEvent event {};
    event.type = press ? kXKeyPressEvent : kXKeyReleaseEvent;
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow (display);
    event.time = CurrentTime;
    event.same_screen = True;
    event.keycode = XKeysymToKeycode (display, XK_Return);

    const auto sent = XSendEvent (display, window, True, press ? KeyPressMask : KeyReleaseMask, (XEvent*) &event);
    XSync (display, False);
    XCloseDisplay (display);
    return sent != 0;
}
}

TEST (ButtonOnScreen, HeldReturnKeepsTheButtonDownAndClicksOnRelease)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "needs an X display (the CTest run provides one)";

    ShownButton shown;
    auto& window = shown.window;
    auto& button = shown.button;
    auto& clicks = shown.clicks;

    ASSERT_TRUE (guitest::showOnDesktop (window));
    ASSERT_TRUE (guitest::focus (button));

    ASSERT_TRUE (sendReturnKey (*window.getPeer(), true));
    ASSERT_TRUE (guitest::waitFor ([]
                                   { return juce::KeyPress::isKeyCurrentlyDown (juce::KeyPress::returnKey); }));

    // While the key is held the button keeps polling it and shows itself down.
    EXPECT_FALSE (guitest::waitFor ([&clicks]
                                    { return clicks > 0; },
                                    400));
    const auto held = paintButton (button);
    EXPECT_TRUE (isBlack (held.image.getPixelAt (0, 10))) << "upper-left bevel dark: down";

    ASSERT_TRUE (sendReturnKey (*window.getPeer(), false));
    EXPECT_TRUE (guitest::waitFor ([&clicks]
                                   { return clicks == 1; }));
    guitest::waitFor ([]
                      { return false; },
                      300);
    EXPECT_EQ (clicks, 1);

    // The click shows the button down for a moment (the framework's timer ends it).
    EXPECT_TRUE (guitest::waitFor ([&button]
                                   { return isWhite (paintButton (button).image.getPixelAt (0, 10)); }))
        << "up again";

    window.removeFromDesktop();
}

TEST (ButtonOnScreen, AKeyReadInWhileTheProgramWaitsForTheServerIsStillHandled)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "needs an X display (the CTest run provides one)";

    ShownButton shown;
    auto& window = shown.window;

    ASSERT_TRUE (guitest::showOnDesktop (window));
    ASSERT_TRUE (guitest::focus (shown.button));

    // The key is on its way to the program when it next asks the server
    // something: waiting for the answer, the X library reads the key into its
    // own queue and leaves the connection with nothing to wake the event loop.
    ASSERT_TRUE (sendReturnKey (*window.getPeer(), true));
    juce::Desktop::getMousePosition();

    EXPECT_TRUE (guitest::waitFor ([]
                                   { return juce::KeyPress::isKeyCurrentlyDown (juce::KeyPress::returnKey); }))
        << "the key stayed in the X library's queue";

    ASSERT_TRUE (sendReturnKey (*window.getPeer(), false));
    EXPECT_TRUE (guitest::waitFor ([&shown]
                                   { return shown.clicks == 1; }));
    window.removeFromDesktop();
}

//==============================================================================
namespace
{
const juce::Colour kBarBackground { 0xff080808 };

guitest::Rendering drawBar (double progress, const juce::String& text, int width = 366, int height = 20,
                            ProgressLookAndFeel* sharedLook = nullptr)
{
    ProgressLookAndFeel ownLook;
    auto& look = sharedLook != nullptr ? *sharedLook : ownLook;
    double value = progress;
    juce::ProgressBar bar (value);
    bar.setColour (juce::ProgressBar::backgroundColourId, kBarBackground);
    return render (width, height, juce::Colours::magenta, [&] (juce::Graphics& g)
                   { look.drawProgressBar (g, bar, width, height, progress, text); });
}

const juce::ColourGradient* barGradient (const guitest::Rendering& r)
{
    for (auto& rect : r.context->rects)
        if (rect.fill.isGradient())
            return rect.fill.gradient.get();

    return nullptr;
}

float barWidth (const guitest::Rendering& r)
{
    for (auto& rect : r.context->rects)
        if (rect.fill.isGradient())
            return rect.area.getWidth();

    return 0.0f;
}
}

TEST (ProgressLook, BarGrowsWithProgressWithinTwoPixelsOfTheEdges)
{
    struct Case
    {
        double progress;
        float width;
    };

    const auto notANumber = std::numeric_limits<double>::quiet_NaN();

    for (auto c : { Case { -0.5, 0.0f }, Case { 0.0, 0.0f }, Case { 0.25, 90.5f }, Case { 1.0, 362.0f },
                    Case { 1.5, 362.0f }, Case { 1.0e300, 362.0f }, Case { notANumber, 0.0f } })
    {
        auto r = drawBar (c.progress, {});
        EXPECT_FLOAT_EQ (barWidth (r), c.width) << c.progress;

        // The whole control shows the background first, the bar starts 2 pixels in.
        EXPECT_EQ (r.image.getPixelAt (0, 0), kBarBackground) << c.progress;
        EXPECT_EQ (r.image.getPixelAt (1, 10), kBarBackground) << c.progress;
        EXPECT_EQ (r.image.getPixelAt (365, 19), kBarBackground) << c.progress;
        EXPECT_EQ (r.image.getPixelAt (2, 10) == kBarBackground, c.width == 0.0f) << c.progress;
        EXPECT_EQ (r.image.getPixelAt (2, 1), kBarBackground) << c.progress;
        EXPECT_EQ (r.image.getPixelAt (2, 18), kBarBackground) << c.progress;
        EXPECT_EQ (r.image.getPixelAt (364, 10), kBarBackground) << "never past width - 2";
    }
}

TEST (ProgressLook, GradientRunsFromLightGreyThroughDarkGreyDownwards)
{
    auto r = drawBar (1.0, {});
    const auto* gradient = barGradient (r);
    ASSERT_NE (gradient, nullptr);

    EXPECT_FALSE (gradient->isRadial);
    EXPECT_EQ (gradient->point1, juce::Point<float> (2.0f, 2.0f));
    EXPECT_EQ (gradient->point2, juce::Point<float> (2.0f, 16.0f));
    EXPECT_EQ (gradient->getColourAtPosition (0.0), juce::Colour (0xffa7a7a7));
    EXPECT_EQ (gradient->getColourAtPosition (0.5), juce::Colour (0xff646464));
    EXPECT_EQ (gradient->getColourAtPosition (1.0), juce::Colour (0xff6c6c6c));
    EXPECT_EQ (gradient->getColourAtPosition (0.25), juce::Colour (0xffa7a7a7).interpolatedWith (juce::Colour (0xff646464), 0.5f));

    // On screen: light at the top row of the bar, darkest in the middle, uniform across.
    const auto top = r.image.getPixelAt (100, 2), middle = r.image.getPixelAt (100, 9);
    EXPECT_NEAR (top.getRed(), 0xa7, 6);
    EXPECT_NEAR (middle.getRed(), 0x64, 6);
    EXPECT_EQ (r.image.getPixelAt (3, 9), middle);
    EXPECT_EQ (r.image.getPixelAt (363, 9), middle);
}

TEST (ProgressLook, TextIsWhiteAtFourFifthsOfTheHeightAndAnEmptyTextDrawsNothing)
{
    auto r = drawBar (0.5, "50%");
    guitest::saveImage (r.image, "progress-bar");

    ASSERT_EQ (r.context->glyphs.size(), 3u);
    for (auto& glyph : r.context->glyphs)
    {
        EXPECT_EQ (glyph.fill.colour, kWhite);
        EXPECT_FLOAT_EQ (glyph.font.getHeight(), 16.0f);
    }

    // Centred: the text's white pixels sit around the middle of the control.
    const auto text = guitest::boundsOfPixels (r.image, r.image.getBounds(), isWhite);
    ASSERT_FALSE (text.isEmpty());
    EXPECT_NEAR (text.getCentreX(), 183, 3);

    EXPECT_TRUE (drawBar (0.5, {}).context->glyphs.empty());
    EXPECT_TRUE (guitest::boundsOfPixels (drawBar (0.5, {}).image, { 0, 0, 366, 20 }, isWhite).isEmpty());
}

// The default face stands for a Japanese one of several MiB, which the percentage
// alone would load while the update writes. One look draws the bar throughout, so
// its text follows every change of the text, the font and the size.
TEST (ProgressLook, TextTakesTheFontOfTheScreensTextsAndFollowsEveryChange)
{
    struct Case
    {
        const char* font;
        const char* text;
        int width;
    };

    const auto saved = juce::Font::getFallbackFontName();
    ProgressLookAndFeel look;

    for (auto c : { Case { "Verdana", "50%", 366 }, Case { "Verdana", "51%", 366 }, Case { "Arial", "51%", 366 },
                    Case { "Arial", "51%", 200 }, Case { "Arial", "100%", 200 } })
    {
        juce::Font::setFallbackFontName (c.font);
        const auto r = drawBar (0.5, c.text, c.width, 20, &look);
        const auto expected = juce::Font (c.font, 16.0f, juce::Font::plain);
        juce::Array<int> glyphs;
        juce::Array<float> offsets;
        expected.getGlyphPositions (c.text, glyphs, offsets);

        ASSERT_EQ (r.context->glyphs.size(), (size_t) glyphs.size()) << c.text;
        for (size_t i = 0; i < r.context->glyphs.size(); ++i)
        {
            EXPECT_EQ (r.context->glyphs[i].font.getTypefaceName(), c.font) << c.text;
            EXPECT_EQ (r.context->glyphs[i].glyph, glyphs[(int) i]) << c.text;
        }

        // Centred in the bar's width.
        EXPECT_NEAR (r.context->glyphs.front().transform.getTranslationX(), ((float) c.width - expected.getStringWidthFloat (c.text)) / 2, 1.0f) << c.text;
    }

    juce::Font::setFallbackFontName (saved);
}

//==============================================================================
namespace
{
// The language look as the updater uses it: the desktop's default look, so that
// the catalogue's font names resolve to installed faces.
class DefaultLangLook final
{
public:
    DefaultLangLook() { look.installAsDefault(); }

    ~DefaultLangLook()
    {
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        TxtLoader::deleteInstance();
    }

    LangLookAndFeel look;
};

// How an entry is drawn, as flags.
enum EntryFlags
{
    kPlainEntry = 0,
    kSeparator = 1,
    kInactive = 2,
    kHighlighted = 4,
    kTicked = 8,
    kSubMenu = 16
};

const juce::Colour kMenuBackground { 0xffffffff };

guitest::Rendering drawEntry (LangLookAndFeel& look, const juce::String& text, int width, int height,
                              int flags = kPlainEntry, const juce::String& shortcut = {})
{
    return render (width, height, kMenuBackground, [&] (juce::Graphics& g)
                   { look.drawPopupMenuItem (g, { 0, 0, width, height }, (flags & kSeparator) != 0, (flags & kInactive) == 0,
                                             (flags & kHighlighted) != 0, (flags & kTicked) != 0, (flags & kSubMenu) != 0,
                                             text, shortcut, nullptr, nullptr); });
}

// Where a glyph starts on the line: the x of its drawing transform.
float glyphX (const guitest::DrawnGlyph& glyph) { return glyph.transform.getTranslationX(); }

const char* const kExpectedFonts[] = { "Verdana", "Verdana", "Verdana", "Verdana", "Verdana", "Verdana",
                                       "Verdana", "Verdana", "SimHei", "SimHei", "Batang", "MS PGothic" };

void addLanguages (juce::ComboBox& box)
{
    for (int i = 0; i < kLanguageCount; ++i)
        box.addItem (TxtLoader::getInstance()->getLanguageName (i), i + 1);
}
}

TEST (LangLook, ChooserTextIsTheSelectedLanguagesFontAtMostFifteenPixelsHigh)
{
    DefaultLangLook langLook;
    juce::ComboBox box ("langs");
    addLanguages (box);

    struct Case
    {
        int boxHeight, selectedId;
        const char* fontName;
        float fontHeight;
    };

    for (auto c : { Case { 30, 12, "MS PGothic", 15.0f }, Case { 16, 12, "MS PGothic", 13.6f },
                    Case { 30, 1, "Verdana", 15.0f }, Case { 20, 11, "Batang", 15.0f },
                    Case { 16, 9, "SimHei", 13.6f }, Case { 16, 0, "", 13.6f } })
    {
        box.setSize (300, c.boxHeight);
        box.setSelectedId (c.selectedId, juce::dontSendNotification);

        const auto font = langLook.look.getComboBoxFont (box);
        EXPECT_FLOAT_EQ (font.getHeight(), c.fontHeight) << c.boxHeight;
        EXPECT_EQ (font.getTypefaceName(), c.fontName) << c.selectedId;
        EXPECT_FALSE (font.isBold() || font.isItalic());
    }
}

TEST (LangLook, EntryFontFitsTheEntryAndTheTextStartsAfterTheLeftBorder)
{
    DefaultLangLook langLook;

    struct Case
    {
        int height;
        float fontHeight;
        int leftBorder;
    };

    for (auto c : { Case { 20, 20.0f / 1.3f, 25 }, Case { 24, 17.0f, 30 }, Case { 12, 12.0f / 1.3f, 15 },
                    Case { 23, 17.0f, 28 } })
    {
        auto r = drawEntry (langLook.look, "English", 200, c.height);
        ASSERT_EQ (r.context->glyphs.size(), 7u);
        EXPECT_FLOAT_EQ (r.context->glyphs[0].font.getHeight(), c.fontHeight) << c.height;
        EXPECT_GE (glyphX (r.context->glyphs[0]), (float) c.leftBorder) << c.height;
        EXPECT_LT (glyphX (r.context->glyphs[0]), (float) c.leftBorder + 1.0f) << c.height;
    }

    // A name too wide for the entry is squeezed, down to 70 %, onto its one line.
    auto r = drawEntry (langLook.look, "Nederlands", 110, 20);
    ASSERT_FALSE (r.context->glyphs.empty());
    EXPECT_LE (r.context->glyphs.back().transform.getTranslationX(), 110.0f - 4.0f);
    EXPECT_NEAR (r.context->glyphs[0].transform.getTranslationY(), r.context->glyphs.back().transform.getTranslationY(), 0.01f);
}

TEST (LangLook, EachLanguageIsListedInItsOwnFont)
{
    DefaultLangLook langLook;
    juce::Font::setFallbackFontName ("Test Fallback");

    for (int i = 0; i < kLanguageCount; ++i)
    {
        const auto& name = TxtLoader::getInstance()->getLanguageName (i);
        auto r = drawEntry (langLook.look, name, 200, 24);

        ASSERT_FALSE (r.context->glyphs.empty()) << name;
        for (auto& glyph : r.context->glyphs)
        {
            EXPECT_EQ (glyph.font.getTypefaceName(), kExpectedFonts[i]) << name;
            EXPECT_FLOAT_EQ (glyph.font.getHeight(), 17.0f) << name;
            EXPECT_EQ (glyph.fallbackFontName, kExpectedFonts[i]) << "missing glyphs come from the language's font";
            EXPECT_EQ (glyph.fill.colour, kBlack);
        }

        // Legible: the resolved face has the script's glyphs, so ink reaches the image.
        EXPECT_FALSE (guitest::boundsOfPixels (r.image, r.image.getBounds(), isDark).isEmpty()) << name;
        EXPECT_EQ (juce::Font::getFallbackFontName(), "Test Fallback") << name;
    }

    juce::Font::setFallbackFontName ({});
}

TEST (LangLook, OtherEntriesKeepTheMenuFontAndTheFallbackFontName)
{
    DefaultLangLook langLook;
    juce::Font::setFallbackFontName ("Test Fallback");

    // Not a language name: near misses included.
    for (auto text : { "Settings", "english", "English ", "Deutsch\n" })
    {
        auto r = drawEntry (langLook.look, text, 200, 24, kSubMenu, "Ctrl+S");
        ASSERT_FALSE (r.context->glyphs.empty());
        const auto& first = r.context->glyphs.front();
        EXPECT_EQ (first.font.getTypefaceName(), juce::Font::getDefaultSansSerifFontName()) << text;
        EXPECT_FLOAT_EQ (first.font.getHeight(), 17.0f) << text;
        EXPECT_EQ (first.fallbackFontName, "Test Fallback") << text;

        // The shortcut: three quarters of the height, squeezed to 95 %, right-aligned before 8 pixels.
        const auto& last = r.context->glyphs.back();
        EXPECT_FLOAT_EQ (last.font.getHeight(), 17.0f * 0.75f);
        EXPECT_FLOAT_EQ (last.font.getHorizontalScale(), 0.95f);
        EXPECT_LT (last.transform.getTranslationX(), 192.0f);
        EXPECT_GT (last.transform.getTranslationX(), 150.0f);

        // The submenu arrow is the one filled path, at width - 0.6 × height.
        ASSERT_EQ (r.context->paths.size(), 1u);
        EXPECT_NEAR (r.context->paths[0].path.getBounds().getX(), 200.0f - 0.6f * 24.0f, 0.01f);
    }

    EXPECT_EQ (juce::Font::getFallbackFontName(), "Test Fallback");
    juce::Font::setFallbackFontName ({});
}

TEST (LangLook, HighlightedEntryIsWhiteOnDarkBlueAndInactiveEntriesAreFaint)
{
    DefaultLangLook langLook;
    const juce::Colour highlight { 0xff000040 };

    auto r = drawEntry (langLook.look, "Deutsch", 200, 20, kHighlighted);
    guitest::saveImage (r.image, "language-entry-highlighted");
    EXPECT_EQ (r.image.getPixelAt (1, 1), highlight);
    EXPECT_EQ (r.image.getPixelAt (198, 18), highlight);
    EXPECT_EQ (r.image.getPixelAt (0, 0), kMenuBackground);
    EXPECT_EQ (r.image.getPixelAt (199, 19), kMenuBackground);
    ASSERT_FALSE (r.context->glyphs.empty());
    for (auto& glyph : r.context->glyphs)
        EXPECT_EQ (glyph.fill.colour, kWhite);

    auto faint = drawEntry (langLook.look, "Deutsch", 200, 20, kInactive);
    ASSERT_FALSE (faint.context->glyphs.empty());
    EXPECT_NEAR (faint.context->glyphs[0].fill.colour.getFloatAlpha(), 0.3f, 0.01f);
}

TEST (LangLook, TheTickSitsLeftOfTheTextAndSeparatorsAreTwoLines)
{
    DefaultLangLook langLook;

    auto r = drawEntry (langLook.look, "Italiano", 200, 20, kTicked);
    ASSERT_EQ (r.context->paths.size(), 1u) << "the tick";
    const auto tick = r.context->paths[0].path.getBoundsTransformed (r.context->paths[0].transform);
    const auto ascent = r.context->glyphs.at (0).font.getAscent();
    EXPECT_GE (tick.getX(), 2.0f - 0.01f);
    EXPECT_LE (tick.getRight(), 25.0f - 2.0f + 0.01f);
    EXPECT_NEAR (tick.getCentreY(), 10.0f, 0.01f);
    EXPECT_LE (tick.getHeight(), ascent + 0.01f);

    auto separator = drawEntry (langLook.look, {}, 200, 10, kSeparator);
    EXPECT_TRUE (separator.context->glyphs.empty());
    EXPECT_EQ (separator.image.getPixelAt (4, 5), kMenuBackground) << "5.5 pixels from each end";
    EXPECT_EQ (separator.image.getPixelAt (195, 5), kMenuBackground);
    EXPECT_EQ (separator.image.getPixelAt (100, 2), kMenuBackground);
    EXPECT_NE (separator.image.getPixelAt (100, 4), kMenuBackground) << "the dark line at half the height";
}

TEST (LangOnScreen, TheOpenChooserListsEveryLanguageInItsOwnFont)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "needs an X display (the CTest run provides one)";

    DefaultLangLook langLook;
    juce::Font::setFallbackFontName ("Verdana");

    // The chooser as the language screen has it: 366 × 20, Japanese selected.
    juce::Component window;
    juce::ComboBox box ("langs");
    box.setLookAndFeel (&langLook.look);
    addLanguages (box);
    box.setSelectedId (12, juce::dontSendNotification);
    window.setSize (406, 154);
    window.addAndMakeVisible (box);
    box.setBounds (20, 74, 366, 20);
    ASSERT_TRUE (guitest::showOnDesktop (window));

    guitest::saveImage (renderComponent (window, kBackground).image, "language-chooser", 2);

    const auto windowsBefore = juce::Desktop::getInstance().getNumComponents();
    box.showPopup();
    juce::Component* list = nullptr;
    ASSERT_TRUE (guitest::waitFor ([&]
                                   {
        const auto count = juce::Desktop::getInstance().getNumComponents();
        list = count > windowsBefore ? juce::Desktop::getInstance().getComponent (count - 1) : nullptr;
        return list != nullptr && list->isShowing() && list->getHeight() > 12 * 12; }));

    auto r = renderComponent (*list, kBackground);
    guitest::saveImage (r.image, "language-list", 2);

    juce::StringArray fonts;
    for (auto& glyph : r.context->glyphs)
        fonts.addIfNotAlreadyThere (glyph.font.getTypefaceName());

    fonts.sort (false);
    EXPECT_EQ (fonts.joinIntoString (","), "Batang,MS PGothic,SimHei,Verdana");
    EXPECT_EQ (juce::Font::getFallbackFontName(), "Verdana") << "unchanged by drawing the list";

    juce::PopupMenu::dismissAllActiveMenus();
    guitest::waitFor ([&]
                      { return juce::Desktop::getInstance().getNumComponents() == windowsBefore; });
    box.setLookAndFeel (nullptr);
    window.removeFromDesktop();
    juce::Font::setFallbackFontName ({});
}
