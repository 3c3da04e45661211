// The language and font layers on Windows, against the system they run on, and
// the advice the program's messages give there.

#include "app/CommandLine.h"
#include "app/DisplayProbe.h"
#include "log/PlatformAdvice.h"
#include "tests/GuiTestSupport.h"
#include "text/LanguageDetection.h"
#include "text/SystemLocale.h"
#include "text/TxtTables.h"
#include "text/fonts/SystemFonts.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{
// Whether the installed locales hold one of the language with this low byte.
bool hasLocaleFor (const juce::StringArray& installed, uint16_t languageId)
{
    const auto digits = juce::String::toHexString (languageId & 0xFF).paddedLeft ('0', 2);

    for (const auto& id : installed)
        if (id.endsWithIgnoreCase (digits))
            return true;

    return false;
}
} // namespace

TEST (WindowsLanguage, TheUsersLanguageIsTheSystemsDefaultLanguageIdentifier)
{
    EXPECT_EQ (SystemLocale::getUserLanguageId(), (uint16_t)::GetUserDefaultLangID());
}

TEST (WindowsLanguage, InstalledLocalesAreTheSystemsEightDigitIdentifiersWithEnglishAmongThem)
{
    const auto installed = SystemLocale::getInstalledLocaleIds();

    ASSERT_FALSE (installed.isEmpty());
    EXPECT_TRUE (installed.contains ("00000409", true));

    for (const auto& id : installed)
    {
        EXPECT_EQ (id.length(), 8) << id;
        EXPECT_TRUE (id.containsOnly ("0123456789abcdefABCDEF")) << id;
    }
}

TEST (WindowsLanguage, TheDecisionOverThisSystemsLocalesStartsInTheUsersLanguageWhenItsLocaleIsInstalled)
{
    struct Row
    {
        uint16_t languageId;
        int language; // where the user starts when the language's locale is installed
    };

    const Row rows[] = {
        { 0x0409, 0 },
        { 0x0809, 0 },
        { 0x040C, 1 },
        { 0x0C0C, 1 },
        { 0x0407, 2 },
        { 0x040A, 3 },
        { 0x0C0A, 3 },
        { 0x0410, 4 },
        { 0x0413, 5 },
        { 0x0419, 6 },
        { 0x0816, 7 },
        { 0x0416, 7 },
        { 0x0804, 8 },
        { 0x0404, 9 },
        { 0x0C04, 9 },
        { 0x1404, 9 },
        { 0x1004, 9 },
        { 0x7C04, 9 },
        { 0x0412, 10 },
        { 0x0411, 11 },
        { 0x0004, 0 },
        { 0x0415, 0 },
    };

    const auto installed = SystemLocale::getInstalledLocaleIds();

    for (const auto& row : rows)
    {
        const auto decision = decideLanguage (installed, row.languageId);
        const auto expected = hasLocaleFor (installed, row.languageId) ? row.language : 0;
        EXPECT_EQ (decision.startingLanguage, expected) << "language id 0x" << juce::String::toHexString (row.languageId);
        EXPECT_TRUE (decision.available[kEnglish]);
    }
}

TEST (WindowsLanguage, EveryCatalogueLanguageWithAnInstalledLocaleIsOffered)
{
    const auto installed = SystemLocale::getInstalledLocaleIds();
    const auto decision = decideLanguage (installed, SystemLocale::getUserLanguageId());

    for (int i = 0; i < kLanguageCount; ++i)
        EXPECT_EQ (decision.available[(size_t) i], i == kEnglish || hasLocaleFor (installed, kLanguageIds[i])) << "language " << i;
}

TEST (WindowsFonts, EveryCatalogueLanguageHasAnInstalledFaceThatDrawsItsOwnName)
{
    for (int i = 0; i < kLanguageCount; ++i)
    {
        SCOPED_TRACE ("language " + std::to_string (i));
        EXPECT_TRUE (SystemFonts::canDrawLanguage (i));

        const auto face = SystemFonts::findFace (kWindowsFontNames[i], { i }, false, false);
        ASSERT_TRUE (face.isValid());
        EXPECT_TRUE (face.family.isNotEmpty());

        for (auto c : kLanguageNames[i])
            EXPECT_TRUE (face.coverage.isEmpty() || face.coverage.contains (c)) << face.family << " lacks U+" << juce::String::toHexString ((int) c);

        const auto typeface = SystemFonts::findTypeface (kWindowsFontNames[i], { i }, false, false);
        ASSERT_NE (typeface, nullptr);

        // Every character of the name has an outline (none falls to an empty box).
        juce::GlyphArrangement glyphs;
        glyphs.addLineOfText (juce::Font (typeface).withHeight (20.0f), kLanguageNames[i], 0.0f, 0.0f);
        EXPECT_FALSE (glyphs.getBoundingBox (0, -1, true).isEmpty());
    }
}

TEST (WindowsFonts, EveryLanguageIsDrawnWithItsFacesOwnGlyphs)
{
    constexpr float kTolerance = 1.0e-3f;

    for (int i = 0; i < kLanguageCount; ++i)
    {
        const auto face = SystemFonts::findFace (kWindowsFontNames[i], { i }, false, false);
        const auto typeface = SystemFonts::findTypeface (kWindowsFontNames[i], { i }, false, false);
        ASSERT_TRUE (face.isValid());
        ASSERT_NE (typeface, nullptr);
        const auto system = juce::Typeface::createSystemTypefaceFor (juce::Font (face.family, 16.0f, juce::Font::plain));
        ASSERT_NE (system, nullptr);

        // Each letter as the face itself draws it, not another glyph of the same font.
        for (auto c : kLanguageNames[i])
        {
            const auto drawn = guitest::glyphOutline (*typeface, c).getBounds();
            const auto own = guitest::glyphOutline (*system, c).getBounds();
            EXPECT_TRUE (drawn.getTopLeft().getDistanceFrom (own.getTopLeft()) < kTolerance
                         && drawn.getBottomRight().getDistanceFrom (own.getBottomRight()) < kTolerance)
                << face.family << ", U+" << juce::String::toHexString ((int) c) << ": drawn " << drawn.toString()
                << ", the face's own " << own.toString();
        }
    }
}

TEST (WindowsFonts, AnInstalledFamilyIsTakenAsItIsAndAnUnknownOneGivesWayToTheCataloguesFont)
{
    const auto installed = SystemFonts::findFace ("Tahoma", {}, false, false);
    const auto unknown = SystemFonts::findFace ("No Such Family Anywhere", { kEnglish }, false, false);
    const auto nothing = SystemFonts::findFace ("No Such Family Anywhere", {}, false, false);

    if (installed.isValid())
    {
        EXPECT_TRUE (installed.family.equalsIgnoreCase ("Tahoma"));
    }

    ASSERT_TRUE (unknown.isValid());
    EXPECT_FALSE (unknown.family.equalsIgnoreCase ("No Such Family Anywhere"));
    // No language to serve: the catalogue's own fonts, or the framework's default.
    EXPECT_FALSE (nothing.family.equalsIgnoreCase ("No Such Family Anywhere"));
}

TEST (WindowsDisplay, TheDesktopOfTheSignedInUserIsAlwaysThere)
{
    EXPECT_EQ (findDisplayProblem(), juce::String());
    EXPECT_FALSE (displayProbeIsStillWaiting());
}

TEST (WindowsAdvice, TheMessagesNameWindowsOwnToolsAndPlacesAndNoneOfLinux)
{
    const struct
    {
        const char* what;
        juce::String text;
        const char* names;
    } messages[] = {
        { "--help", CommandLine::helpText ("TRBKelo7UpdateProgram.exe"), "the Downloads folder" },
        { "another updater stopped", PlatformAdvice::resumeStopped ("4242"), "4242" },
        { "another updater hung", PlatformAdvice::endHung ("4242"), "Task Manager" },
        { "a controller that cannot be opened", PlatformAdvice::controllerWithoutAccess(), "another program" },
        { "no controller", PlatformAdvice::controllerNotFound(), "other program" },
    };

    for (const auto& message : messages)
    {
        EXPECT_TRUE (message.text.contains (message.names)) << message.what << ": " << message.text;

        for (const auto* linuxOnly : { "XDG_", "~/", "kill", "'fg'", "udev", "sudo" })
            EXPECT_FALSE (message.text.contains (linuxOnly)) << message.what << ": " << message.text;
    }
}
