#include "app/CommandLine.h"
#include "terminal/JsonEventWriter.h"
#include "terminal/ProgressLine.h"
#include "terminal/TerminalTexts.h"
#include "text/ExternalText.h"
#include "text/LanguageDetection.h"
#include "text/TxtLoader.h"
#include "update/Status.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// The terminal front-end's parts that decide what is written: the command line's
// options, the progress line, the JSON events and the plain lines.
namespace
{
constexpr int64_t kTotal = 0x120000; // the three regions of a full update
constexpr double kMs = 1.0;

// A line read by a strict parser: it throws (and the test fails) on anything
// that is not JSON, a raw control character or a byte that is not UTF-8.
nlohmann::json parsed (const juce::String& line)
{
    try
    {
        return nlohmann::json::parse (std::string (line.toRawUTF8(), line.getNumBytesAsUTF8()));
    }
    catch (const nlohmann::json::exception& e)
    {
        ADD_FAILURE() << e.what() << " in " << line;
        return {};
    }
}

juce::StringArray args (std::initializer_list<const char*> list)
{
    juce::StringArray result;

    for (const auto* a : list)
        result.add (a);

    return result;
}
} // namespace

TEST (TerminalCommandLine, TakesTheTerminalsOptionsAndRefusesThemWithoutIt)
{
    struct Case
    {
        juce::StringArray arguments;
        CommandLine::Action action;
        bool terminal, yes, json;
        int language;
        const char* path;
        const char* problem;
    };

    const Case cases[] = {
        { args ({ "--terminal" }), CommandLine::Action::run, true, false, false, -1, "", "" },
        { args ({ "--terminal", "--yes", "--json", "dir" }), CommandLine::Action::run, true, true, true, -1, "dir", "" },
        { args ({ "--yes", "--terminal", "--language", "ja" }), CommandLine::Action::run, true, true, false, 11, "", "" },
        { args ({ "--terminal", "--language=zh_tw" }), CommandLine::Action::run, true, false, false, 9, "", "" },
        // The code is the option's value, never the path.
        { args ({ "--terminal", "--language", "fr", "x.bin" }), CommandLine::Action::run, true, false, false, 1, "x.bin", "" },
        { args ({ "--terminal", "--language" }), CommandLine::Action::usageError, true, false, false, -1, "", "needs a language code" },
        { args ({ "--terminal", "--language", "xx" }), CommandLine::Action::usageError, true, false, false, -1, "", "unknown language code 'xx'" },
        { args ({ "--yes" }), CommandLine::Action::usageError, false, true, false, -1, "", "'--yes' needs '--terminal'" },
        { args ({ "--json", "x.bin" }), CommandLine::Action::usageError, false, false, true, -1, "x.bin", "'--json' needs '--terminal'" },
        { args ({ "--language", "de" }), CommandLine::Action::usageError, false, false, false, 2, "", "'--language' needs '--terminal'" },
        { args ({ "--", "--terminal" }), CommandLine::Action::run, false, false, false, -1, "--terminal", "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.arguments.joinIntoString (" "));
        const auto parsed = CommandLine::parse (c.arguments);
        EXPECT_EQ (parsed.action, c.action);
        EXPECT_TRUE (parsed.problem.contains (c.problem)) << parsed.problem;

        if (c.action == CommandLine::Action::run)
        {
            EXPECT_EQ (parsed.terminal, c.terminal);
            EXPECT_EQ (parsed.yes, c.yes);
            EXPECT_EQ (parsed.json, c.json);
            EXPECT_EQ (parsed.language, c.language);
            EXPECT_EQ (parsed.updateFilePath, juce::String (c.path));
        }
    }
}

TEST (TerminalCommandLine, TakesTheFilesSha256InEitherCaseWithOrWithoutTheTerminal)
{
    const std::string digest = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF";
    const auto lower = juce::String (digest).toLowerCase();
    const auto inlineDigest = "--sha256=" + digest;
    const auto tooShort = digest.substr (1), tooLong = digest + "0";
    auto notHex = digest;
    notHex[5] = 'g';

    struct Case
    {
        juce::StringArray arguments;
        const char* problem; // empty: understood, with lower as the digest
    };

    const Case cases[] = {
        { args ({ "--sha256", digest.c_str(), "x.bin" }), "" },
        { args ({ "--terminal", inlineDigest.c_str() }), "" },
        { args ({ "--sha256" }), "needs the update file's SHA-256" },
        { args ({ "--sha256", tooShort.c_str() }), "is not a SHA-256" },
        { args ({ "--sha256", tooLong.c_str() }), "is not a SHA-256" },
        { args ({ "--sha256", notHex.c_str() }), "is not a SHA-256" },
        { args ({ "--sha256=" }), "is not a SHA-256" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.arguments.joinIntoString (" "));
        const auto parsed = CommandLine::parse (c.arguments);
        const bool understood = juce::String (c.problem).isEmpty();
        EXPECT_EQ (parsed.action, understood ? CommandLine::Action::run : CommandLine::Action::usageError);
        EXPECT_TRUE (parsed.problem.contains (c.problem)) << parsed.problem;

        if (understood)
        {
            EXPECT_EQ (parsed.sha256, lower);
        }
    }
}

TEST (TerminalCommandLine, EveryLanguageHasACodeThatNamesItAndOnlyIt)
{
    auto codes = juce::StringArray::fromTokens (languageCodeList(), ", ", "");
    codes.removeEmptyStrings();

    ASSERT_EQ (codes.size(), kLanguageCount);

    for (int i = 0; i < kLanguageCount; ++i)
        EXPECT_EQ (languageForCode (codes[i]), i) << codes[i];

    for (const auto* other : { "", "e", "english", "zh", "pt-BR", "jp" })
        EXPECT_EQ (languageForCode (other), -1) << other;
}

TEST (ProgressLine, OnATerminalRedrawsInPlaceAtMostTenTimesASecondAndAlwaysTheEnd)
{
    ProgressLine line (ProgressLine::Mode::redrawn, kTotal);

    struct Step
    {
        double fraction, atMs;
        bool drawn;
    };

    const Step steps[] = {
        { 0.01, 0 * kMs, true }, // the first is drawn at once
        { 0.02, 50 * kMs, false }, // too soon
        { 0.03, 99 * kMs, false },
        { 0.04, 100 * kMs, true },
        { 0.05, 150 * kMs, false },
        { 1.00, 160 * kMs, true }, // the end, however soon
    };

    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.atMs);
        const auto text = line.update (step.fraction, step.atMs);
        EXPECT_EQ (text.isNotEmpty(), step.drawn);

        if (step.drawn)
        {
            EXPECT_TRUE (text.startsWith ("\r"));
            EXPECT_FALSE (text.containsChar ('\n'));
        }
    }

    EXPECT_EQ (line.finish(), "\r" + ProgressLine::describe (1.0, kTotal, 160 * kMs) + "\n");
}

TEST (ProgressLine, EachDrawingFitsTheTerminalsWidthOfTheMomentAndBlanksWhatTheLastOneLeft)
{
    // The terminal is resized between drawings; each drawing comes 200 ms after the last.
    struct Step
    {
        int columns; // 0: the width is not known
        double fraction, atMs;
        int drawnLength; // after the carriage return: the text (cut) and its blanks
    };

    constexpr double kLong = 6000000 * kMs; // 100 minutes: long time texts
    const auto longText = ProgressLine::describe (0.5, kTotal, kLong).length();
    const auto shorterText = ProgressLine::describe (0.99, kTotal, kLong + 200).length();
    ASSERT_LT (shorterText, longText);

    const Step steps[] = {
        { 100, 0.5, kLong, longText },
        { 100, 0.99, kLong + 200, longText }, // blanks cover the longer text's end
        { 40, 0.99, kLong + 400, 39 }, // narrowed: cut before the last column, blanks too
        { 1, 0.99, kLong + 600, 0 }, // a single column: nothing fits without wrapping
        { 30, 0.99, kLong + 800, 29 },
        { 0, 0.99, kLong + 1000, shorterText }, // unknown: not cut
    };

    int columns = 0;
    ProgressLine line (ProgressLine::Mode::redrawn, kTotal, [&columns]
                       { return columns; });

    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.columns);
        columns = step.columns;
        const auto drawing = line.update (step.fraction, step.atMs);
        ASSERT_TRUE (drawing.startsWith ("\r")) << drawing;
        EXPECT_EQ (drawing.length() - 1, step.drawnLength) << drawing;
        EXPECT_TRUE (ProgressLine::describe (step.fraction, kTotal, step.atMs).startsWith (drawing.substring (1).trimEnd())) << drawing;
    }

    columns = 20;
    EXPECT_EQ (line.finish(), "\r" + ProgressLine::describe (0.99, kTotal, kLong + 1000).substring (0, 19) + "\n");
}

TEST (ProgressLine, OffATerminalWritesOneLinePerTenthHoweverTheProgressComes)
{
    ProgressLine line (ProgressLine::Mode::steps, kTotal);
    juce::StringArray written;

    for (int i = 0; i <= 1000; ++i)
        if (const auto text = line.update (i / 1000.0, i * 10 * kMs); text.isNotEmpty())
            written.add (text);

    ASSERT_EQ (written.size(), ProgressLine::kSteps);

    for (int i = 0; i < written.size(); ++i)
    {
        EXPECT_TRUE (written[i].endsWith ("\n"));
        EXPECT_TRUE (written[i].trimStart().startsWith (juce::String ((i + 1) * 10) + " %")) << written[i];
    }

    // A jump over several tenths is one line, and going nowhere writes nothing.
    ProgressLine jumping (ProgressLine::Mode::steps, kTotal);
    EXPECT_TRUE (jumping.update (0.35, 0).isNotEmpty());
    EXPECT_TRUE (jumping.update (0.39, 0).isEmpty());
    EXPECT_TRUE (jumping.finish().isEmpty());
}

TEST (ProgressLine, TellsPercentBytesElapsedAndTimeLeft)
{
    EXPECT_EQ (ProgressLine::describe (0.25, kTotal, 15000 * kMs), " 25 %  288 of 1152 KiB  0:15 elapsed  0:45 left");
    EXPECT_EQ (ProgressLine::describe (0.0, kTotal, 0), "  0 %  0 of 1152 KiB  0:00 elapsed  -:-- left");
    EXPECT_EQ (ProgressLine::describe (1.5, kTotal, 65000 * kMs), "100 %  1152 of 1152 KiB  1:05 elapsed  0:00 left");
}

TEST (JsonEventWriter, EachEventIsOneParsableLineWithItsNameFirst)
{
    juce::StringArray lines;
    JsonEventWriter writer ([&lines] (const juce::String& line)
                            { lines.add (line); });

    std::array<UpdateRegion, kRegionCount> regions {};
    regions[0] = { {}, 0x90000, 0, 0, REGION_WRITE, 0 };
    regions[1] = { {}, 0x80000, 0x90000, 0x90000, REGION_SKIP, 0 };
    regions[2] = { {}, 0x10000, 0x1D0000, 0x1D0000, REGION_WRITE, 0 };

    writer.found ("1.00", 0x20240101, "/dev/hidraw3");
    writer.file ("/tmp/a \"b\".bin", "1.05", 0x20261209, ERR_FILE_CRC, {});
    writer.plan (regions);

    for (int i = 0; i <= 400; ++i)
        writer.progress (i / 400.0, kTotal, i * 100.0);

    writer.confirmation ({ WriteConfirmation::Outcome::mismatch, "1.00", 0x20240101 });
    writer.result ("not taken", ST_INITIAL, 7, "line\nwith a break");

    for (const auto& line : lines)
    {
        EXPECT_FALSE (line.containsAnyOf ("\r\n")) << line;
        EXPECT_TRUE (line.startsWith ("{\"event\": \"")) << line;
    }

    ASSERT_EQ (lines.size(), 3 + 101 + 2) << "one progress event per whole percent";
    const auto file = parsed (lines[1]);
    EXPECT_EQ (file["path"], "/tmp/a \"b\".bin");
    EXPECT_EQ (file["error_id"], "0x0E05");
    const auto plan = parsed (lines[2]);
    ASSERT_EQ (plan["regions"].size(), 2u);
    EXPECT_EQ (plan["regions"][1]["address"], 0x1D0000);
    EXPECT_EQ (plan["total_bytes"], 0xA0000);
    EXPECT_TRUE (parsed (lines[3])["left_s"].is_null()) << "no guess at 0 %";
    EXPECT_EQ (parsed (lines[4])["elapsed_s"], 0.4);
    const auto confirmation = parsed (lines[lines.size() - 2]);
    EXPECT_EQ (confirmation["outcome"], "mismatch");
    EXPECT_EQ (confirmation["stamp"], "20240101");
    const auto result = parsed (lines[lines.size() - 1]);
    EXPECT_TRUE (result["error_id"].is_null());
    EXPECT_EQ (result["exit_status"], 7);
    EXPECT_EQ (result["message"], "line\nwith a break");

    // The fields in the order scripts have always read them.
    std::vector<std::string> names;
    const auto inOrder = nlohmann::ordered_json::parse (lines[lines.size() - 1].toStdString());

    for (const auto& field : inOrder.items())
        names.push_back (field.key());

    EXPECT_EQ (names, (std::vector<std::string> { "event", "result", "error_id", "exit_status", "message" }));
}

TEST (JsonEventWriter, AnyByteFromOutsideGivesALineAStrictParserReads)
{
    // Every single byte, and sequences that are no UTF-8: cut short, overlong,
    // a surrogate, beyond U+10FFFF.
    std::vector<std::string> samples;

    for (int byte = 0; byte <= 0xff; ++byte)
        samples.push_back (std::string ("a") + (char) byte + "z");

    for (const auto* bad : { "\xc3\x28", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff\xfe", "\x80\xbf" })
        samples.push_back (std::string ("a") + bad + "z");

    for (const auto& sample : samples)
    {
        SCOPED_TRACE (::testing::PrintToString (sample));
        // The bytes as they may reach the writer: a juce::String made from them unchecked,
        // which may still hold a surrogate or a value beyond U+10FFFF.
        const juce::String raw (juce::CharPointer_UTF8 (sample.data()), juce::CharPointer_UTF8 (sample.data() + sample.size()));
        const auto expected = ExternalText::fromBytes (raw.toRawUTF8(), raw.getNumBytesAsUTF8()).toStdString();

        juce::StringArray lines;
        JsonEventWriter writer ([&lines] (const juce::String& line)
                                { lines.add (line); });
        writer.found (raw, 0x20240101, raw);
        writer.file (raw, raw, 0x20240101, ST_INITIAL, {});
        writer.holders ({ { 42, raw } });
        writer.confirmation ({ WriteConfirmation::Outcome::mismatch, raw, 0x20240101 });
        writer.result ("not taken", ST_INITIAL, 7, raw);

        ASSERT_EQ (lines.size(), 5);
        EXPECT_EQ (parsed (lines[0])["version"], expected);
        EXPECT_EQ (parsed (lines[1])["path"], expected);
        EXPECT_EQ (parsed (lines[2])["processes"][0]["name"], expected);
        EXPECT_EQ (parsed (lines[3])["version"], expected);
        EXPECT_EQ (parsed (lines[4])["message"], expected);
    }
}

TEST (TerminalTexts, EveryErrorSaysWhatToDoAndTheWindowsTextsInTheCataloguesLanguage)
{
    for (auto row = Outcomes::begin(); row != Outcomes::end(); ++row)
    {
        if (row->errorId == 0)
            continue;

        SCOPED_TRACE (formatErrorId (row->errorId));
        const auto lines = TerminalTexts::result (*row);
        EXPECT_TRUE (lines.contains ("Error ID: 0x" + formatErrorId (row->errorId)));
        EXPECT_EQ (lines[lines.size() - 1], "What to do: " + Outcomes::remedy (*row) + ".");
        EXPECT_FALSE (lines.joinIntoString (" ").contains ("complete")) << "never \"complete\" for an error";
    }

    auto* catalogue = TxtLoader::getInstance();
    const auto before = catalogue->getLanguage();
    catalogue->setLanguage (languageForCode ("de"));
    EXPECT_EQ (TerminalTexts::result (Outcomes::forError (ERR_NOT_CONNECTED))[0], "Ihr TRB-Kelo7 ist nicht angeschlossen.");
    EXPECT_TRUE (TerminalTexts::controllerLine ("1.02", 0x20240101).endsWith ("1.02 (2024-01-01)"));
    catalogue->setLanguage (before);
}

TEST (TerminalTexts, TheControllersWordAfterTheWriteAndWhatOutsideNamesCannotDo)
{
    using Answer = WriteConfirmation::Outcome;
    EXPECT_EQ (TerminalTexts::confirmation ({ Answer::confirmed, "1.05", 0x20261209 }, "1.05", 0x20261209),
               "Confirmed: the controller now reports version 1.05 (2026-12-09).");
    EXPECT_TRUE (TerminalTexts::confirmation ({ Answer::mismatch, "1.00", 0x20240101 }, "1.05", 0x20261209)
                     .startsWith ("Warning: the controller now reports version 1.00 (2024-01-01), not the update's 1.05 (2026-12-09)"));
    EXPECT_EQ (TerminalTexts::confirmation ({}, "1.05", 0x20261209), "Written, not confirmed (replug the controller to check).");
    EXPECT_TRUE (TerminalTexts::confirmation ({ Answer::refused, {}, 0 }, "1.05", 0x20261209).contains ("refused the question"));

    // A version or a process name from outside never brings a control sequence to the terminal.
    EXPECT_FALSE (TerminalTexts::confirmation ({ Answer::mismatch, "1\x1b[2J", 0x20240101 }, "1.05", 0x20261209).containsChar ('\x1b'));
    EXPECT_FALSE (TerminalTexts::holdersLine ({ { 42, "dj\x1b]0;x\x07" } }).containsAnyOf ("\x1b\x07"));
    EXPECT_TRUE (TerminalTexts::holdersLine ({ { 42, "mixer" } }).contains ("process 42 (mixer)"));
    EXPECT_TRUE (TerminalTexts::holdersLine ({}).isEmpty());
}

TEST (TerminalTexts, OnlyYesStartsTheWrite)
{
    // The whole line is the answer (the reader has taken its line end off).
    for (const auto* yes : { "y", "Y", "yes", " YES ", "  yEs" })
        EXPECT_TRUE (TerminalTexts::isYes (yes)) << yes;

    for (const auto* no : { "", "n", "no", "ye", "yess", "y y", "j", "y\r", "\ty", "y\x1b[A", "y\xef\xbf\xbdno", "yes\x7f" })
        EXPECT_FALSE (TerminalTexts::isYes (juce::String::fromUTF8 (no))) << no;
}
