#include "app/DesktopScale.h"

#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <optional>

TEST (DesktopScale, ReadsGdkScaleFirstThenXftDpiAndIgnoresWhatIsNoScreen)
{
    struct Case
    {
        const char* gdkScale;
        const char* xftDpi;
        std::optional<double> expected;
    };

    const Case cases[] = {
        { nullptr, nullptr, std::nullopt },
        { nullptr, "96", 1.0 },
        { nullptr, "192", 2.0 },
        { nullptr, "144", 1.5 },
        { nullptr, " 192\n", 2.0 },
        { "2", nullptr, 2.0 },
        { "2", "96", 2.0 }, // GDK_SCALE wins over Xft.dpi
        { "1", "192", 1.0 }, // also when it asks for less
        { "1.5", "192", 2.0 }, // GTK takes whole numbers only; the resource stands
        { "", "192", 2.0 },
        { "abc", nullptr, std::nullopt },
        { "0", nullptr, std::nullopt },
        { "-2", nullptr, std::nullopt },
        { "99999999999999999999", nullptr, std::nullopt },
        { "9", nullptr, std::nullopt },
        { nullptr, "0", std::nullopt },
        { nullptr, "-96", std::nullopt },
        { nullptr, "nan", std::nullopt },
        { nullptr, "inf", std::nullopt },
        { nullptr, "192dpi", std::nullopt },
        { nullptr, "10", std::nullopt },
        { nullptr, "9600", std::nullopt },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String ("GDK_SCALE=") + (c.gdkScale != nullptr ? c.gdkScale : "(unset)")
                      + " Xft.dpi=" + (c.xftDpi != nullptr ? c.xftDpi : "(unset)"));
        EXPECT_EQ (DesktopScale::fromSettings (c.gdkScale, c.xftDpi), c.expected);
    }
}

TEST (DesktopScale, TheGlobalFactorTopsUpWhatTheFrameworkAlreadyScales)
{
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (2.0, 1.0), 2.0);
    // The framework found the 2x screen itself: nothing to add, no 4x window.
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (2.0, 2.0), 1.0);
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (1.0, 2.0), 0.5);
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (1.5, 0.0), 1.5);
}

TEST (DesktopScale, AScaleThatWouldPushTheWindowPastTheWorkAreaIsCutToFit)
{
    struct Case
    {
        double desired;
        double workWidth, workHeight;
        double expected;
    };

    // The window is 406 x 154 at scale 1.
    const Case cases[] = {
        { 2.0, 2560.0, 1440.0, 2.0 }, // fits: as asked
        { 8.0, 1024.0, 768.0, 2.52 }, // 1024 / 406, cut to hundredths
        { 8.0, 1024.0, 200.0, 1.29 }, // the height decides: 200 / 154
        { 3.0, 300.0, 700.0, 1.0 }, // a screen narrower than the window at 1x: not below 1
        { 0.5, 300.0, 700.0, 0.5 }, // a smaller scale that fits stays
        { 2.0, 0.0, 0.0, 2.0 }, // no work area known
    };

    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ (DesktopScale::fittingScale (c.desired, 406, 154, c.workWidth, c.workHeight), c.expected)
            << c.desired << " on " << c.workWidth << " x " << c.workHeight;
}
