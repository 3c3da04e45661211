#include "app/CommandLine.h"
#include "session/ExitStatus.h"
#include "session/UpdateSession.h"
#include "terminal/JsonEventWriter.h"
#include "terminal/TerminalFrontEnd.h"
#include "terminal/TerminalTexts.h"
#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <tuple>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

// The terminal front-end itself, with two simulated controllers: the choice it asks
// for on a terminal (a pseudo-terminal stands in for the user's), and that nothing
// reaches any controller until one is chosen, and only the chosen one afterwards.
// Then the parts that decide the choice and the listing: the options, the answer's
// number and the "controller" event.
namespace
{
using namespace update_test;

// For one test: stdin from a pseudo-terminal holding the keys typed, stdout and stderr
// into a file, as a user's terminal and a log would take them; put back on leaving.
class ScriptedTerminal final
{
public:
    explicit ScriptedTerminal (const std::string& keys)
    {
        master = ::posix_openpt (O_RDWR | O_NOCTTY);
        const bool opened = master >= 0 && ::grantpt (master) == 0 && ::unlockpt (master) == 0;
        const auto slave = opened ? ::open (::ptsname (master), O_RDWR | O_NOCTTY) : -1;
        const auto log = ::open (said.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ready = slave >= 0 && log >= 0 && ::write (master, keys.data(), keys.size()) == (ssize_t) keys.size();

        for (int fd : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO })
        {
            saved.push_back (::dup (fd));
            ::dup2 (fd == STDIN_FILENO ? slave : log, fd);
        }

        for (int fd : { slave, log })
            if (fd >= 0)
                ::close (fd);
    }

    ~ScriptedTerminal()
    {
        for (int fd = 0; fd < (int) saved.size(); ++fd)
        {
            ::dup2 (saved[(size_t) fd], fd);
            ::close (saved[(size_t) fd]);
        }

        ::close (master);
        said.deleteFile();
    }

    juce::String text() const { return said.loadFileAsString(); }

    bool ready = false;

private:
    int master = -1;
    std::vector<int> saved;
    juce::File said = juce::File::createTempFile ("trb-terminal-said");
};

struct ChoiceCase
{
    const char* name;
    const char* keys; // typed at the choice, then at the question before the write
    int chosenDevice; // -1: none
    int exitStatus;
};

const ChoiceCase kChoiceCases[] = {
    { "TheSecondThenNo", "2\nn\n", 1, EXIT_LEFT_BEFORE_WRITE },
    { "TheFirstThenNo", "1\nn\n", 0, EXIT_LEFT_BEFORE_WRITE },
    { "ANumberNotListed", "3\n", -1, EXIT_NOT_CHOSEN },
    { "NoNumber", "yes\n", -1, EXIT_NOT_CHOSEN },
};

class TerminalChoiceHeadless : public ::testing::TestWithParam<ChoiceCase>
{
};
} // namespace

TEST_P (TerminalChoiceHeadless, OnlyTheControllerChosenAtTheTerminalIsEverSentARequest)
{
    const auto& param = GetParam();
    auto scenario = quickScenario();
    ASSERT_TRUE (scenario.apply ("controllers=2").empty());
    auto& sim = SimulatedController::instance();
    sim.reset (scenario);
    UpdateFolder folder { makeUpdateImage ("1.05", kFileStamp, 5) };

    std::optional<int> ended;
    juce::String said;
    {
        ScriptedTerminal terminal (param.keys);
        ASSERT_TRUE (terminal.ready);
        UpdateSession session ([] (const juce::String&) {}, false);
        ASSERT_EQ (session.linkState(), LinkOpenResult::State::choiceNeeded);

        TerminalOptions options;
        options.places = { { folder.folder, false } };
        TerminalFrontEnd frontEnd (session, options, [&ended] (int status)
                                   { ended = status; });
        frontEnd.start();
        runUntil ([&ended]
                  { return ended.has_value(); });
        said = terminal.text();
    }
    sim.waitUntilIdle (testsupport::kNoticeWaitMs);

    ASSERT_TRUE (ended.has_value()) << said;
    EXPECT_EQ (*ended, param.exitStatus) << said;
    EXPECT_TRUE (said.contains ("  2. serial KELO7-SIM-0002, port sim-2")) << said;
    EXPECT_TRUE (said.contains ("Which controller to update? [1-2] ")) << said;

    for (const auto& call : sim.writeCalls())
        ASSERT_EQ (call.deviceNumber, param.chosenDevice) << "a request went to a controller not chosen";

    EXPECT_EQ (sim.writeCalls().empty(), param.chosenDevice < 0) << said;
}

INSTANTIATE_TEST_SUITE_P (Terminal,
                          TerminalChoiceHeadless,
                          ::testing::ValuesIn (kChoiceCases),
                          [] (const ::testing::TestParamInfo<ChoiceCase>& caseInfo)
                          { return std::string (caseInfo.param.name); });

TEST (TerminalCommandLine, ListAndCheckImplyTheTerminalAndRefuseWhatTheyCannotUse)
{
    struct Case
    {
        juce::StringArray arguments;
        bool list, check;
        const char* problem; // empty: understood
    };

    const Case cases[] = {
        { juce::StringArray ("--list", "--json"), true, false, "" },
        { juce::StringArray ("--check", "--serial", "KELO7-0002", "x.bin"), false, true, "" },
        { juce::StringArray ("--list", "--check"), false, false, "cannot be given together" },
        { juce::StringArray ("--list", "x.bin"), false, false, "'--list' takes no update file" },
        { juce::StringArray ("--list", "--sha256", std::string (64, 'a')), false, false, "'--list' takes no update file" },
        { juce::StringArray ("--list", "--serial=KELO7-0002"), false, false, "takes no '--serial'" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.arguments.joinIntoString (" "));
        const auto parsed = CommandLine::parse (c.arguments);
        const bool understood = juce::String (c.problem).isEmpty();
        ASSERT_EQ (parsed.action, understood ? CommandLine::Action::run : CommandLine::Action::usageError);
        EXPECT_TRUE (parsed.problem.contains (c.problem)) << parsed.problem;

        if (understood)
        {
            EXPECT_EQ (std::tuple (parsed.terminal, parsed.list, parsed.check), std::tuple (true, c.list, c.check));
        }
    }
}

TEST (TerminalTexts, OnlyAWholeLineNamingAListedNumberChoosesAController)
{
    const std::pair<const char*, size_t> answers[] = {
        { "1", 1 },
        { " 2 ", 2 },
        { "02", 2 },
        { "0", 0 },
        { "3", 0 },
        { "", 0 },
        { "-1", 0 },
        { "1.", 0 },
        { "2 2", 0 },
        { "\t1", 0 },
        { "99999999999999999999", 0 },
        { "two", 0 },
    };

    for (const auto& [answer, number] : answers)
        EXPECT_EQ (TerminalTexts::choiceNumber (answer, 2), number) << answer;
}

TEST (JsonEventWriter, AControllerEventTellsWhatIsKnownAndNullForTheRest)
{
    juce::StringArray lines;
    JsonEventWriter writer ([&lines] (const juce::String& line)
                            { lines.add (line); });
    const DeviceIdentity withoutSerial { {}, "1-3.2", "/dev/hidraw3" };
    const ControllerInfo answered { true, "1.00", 0x20240101 }, silent;
    const ClaimHolder holder { 4242, "dj\x1b", {}, withoutSerial };

    writer.controller (2, withoutSerial, nullptr, nullptr);
    writer.controller (0, withoutSerial, &answered, nullptr);
    writer.controller (0, withoutSerial, &silent, nullptr);
    writer.controller (0, withoutSerial, &silent, &holder);

    ASSERT_EQ (lines.size(), 4);
    const auto choice = nlohmann::json::parse (lines[0].toStdString());
    EXPECT_EQ (choice["number"], 2);
    EXPECT_TRUE (choice["serial"].is_null());
    EXPECT_EQ (choice["port"], "1-3.2");
    EXPECT_FALSE (choice.contains ("version"));
    EXPECT_EQ (nlohmann::json::parse (lines[1].toStdString())["stamp"], "20240101");
    EXPECT_TRUE (nlohmann::json::parse (lines[2].toStdString())["version"].is_null());
    const auto held = nlohmann::json::parse (lines[3].toStdString());
    EXPECT_FALSE (held.contains ("version")) << "a controller held elsewhere is not asked";
    EXPECT_EQ (held["held_by"]["pid"], 4242);
    EXPECT_EQ (held["held_by"]["name"], "dj\x1b");
    EXPECT_TRUE (held["held_by"]["user"].is_null());
}
