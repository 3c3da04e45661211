#include "device/simulated/SimulatedScenario.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace
{
constexpr int kDemoLatencyMs = 1;
constexpr const char* kScenarioVariable = "TRB_SIM_SCENARIO";

bool parseNumber (const std::string& text, long long& value)
{
    if (text.empty())
        return false;

    errno = 0;
    char* end = nullptr;
    value = std::strtoll (text.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == '\0';
}

template <typename Int>
bool parseInto (const std::string& text, Int& out, long long low, long long high)
{
    long long value = 0;

    if (! parseNumber (text, value) || value < low || value > high)
        return false;

    out = (Int) value;
    return true;
}

std::string trim (const std::string& text)
{
    const auto first = text.find_first_not_of (" \t\r");

    if (first == std::string::npos)
        return {};

    return text.substr (first, text.find_last_not_of (" \t\r") - first + 1);
}

bool parseFault (const std::string& text, ControllerModel::ScriptedFault& fault)
{
    using Action = ControllerModel::ScriptedFault::Action;

    std::istringstream words (text);
    std::string kind, occurrence, action, first, second;
    words >> kind >> occurrence >> action >> first >> second;

    if (! ControllerModel::kindFromName (kind, fault.kind) || ! parseInto (occurrence, fault.occurrence, 1, 1 << 30))
        return false;

    const bool noArguments = first.empty();

    if (action == "reply")
    {
        fault.action = Action::reply;
        return parseInto (first, fault.code, 0, 255) && parseInto (second, fault.reason, 0, 255);
    }

    if (action == "late" || action == "remove")
    {
        fault.action = action == "late" ? Action::lateReply : Action::remove;
        return parseInto (first, fault.delayMs, -1, 1 << 30) && second.empty();
    }

    if (action == "wrong_byte0")
        fault.action = Action::wrongByte0;
    else if (action == "no_reply")
        fault.action = Action::noReply;
    else if (action == "busy_forever")
        fault.action = Action::busyForever;
    else if (action == "duplicate")
        fault.action = Action::duplicateReply;
    else
        return false;

    return noArguments;
}
}

SimulatedScenario SimulatedScenario::defaultForDemo()
{
    SimulatedScenario scenario;
    scenario.latencyMs = kDemoLatencyMs;
    return scenario;
}

SimulatedScenario SimulatedScenario::fromEnvironment()
{
    auto scenario = defaultForDemo();
    const auto* path = std::getenv (kScenarioVariable);

    if (path == nullptr || *path == '\0')
        return scenario;

    std::ifstream file (path);

    if (! file)
    {
        std::fprintf (stderr, "simulated controller: cannot read the scenario %s\n", path);
        return scenario;
    }

    std::stringstream text;
    text << file.rdbuf();

    for (const auto& problem : scenario.apply (text.str()))
        std::fprintf (stderr, "simulated controller: %s: %s\n", path, problem.c_str());

    return scenario;
}

std::vector<std::string> SimulatedScenario::apply (const std::string& text)
{
    std::vector<std::string> problems;
    std::istringstream lines (text);
    std::string line;
    int lineNumber = 0;

    while (std::getline (lines, line))
    {
        ++lineNumber;
        line = trim (line);

        if (line.empty() || line[0] == '#')
            continue;

        const auto equals = line.find ('=');
        const auto key = trim (line.substr (0, equals));
        const auto value = equals == std::string::npos ? std::string() : trim (line.substr (equals + 1));
        bool understood = false;

        if (equals == std::string::npos)
            understood = false;
        else if (key == "version")
        {
            understood = value.size() == 4;

            if (understood)
                version = value;
        }
        else if (key == "stamp")
            understood = parseInto (value, stamp, 0, 0xFFFFFFFFLL);
        else if (key == "latency_ms")
            understood = parseInto (value, latencyMs, 0, 60000);
        else if (key == "busy_count")
            understood = parseInto (value, busyCount, -1, 1 << 30);
        else if (key == "controllers")
            understood = parseInto (value, controllers, 0, 16);
        else if (key == "arrive_after_ms")
            understood = parseInto (value, arriveAfterMs, -1, 1 << 30);
        else if (key == "restart_ms")
            understood = parseInto (value, restartMs, -1, 60000);
        else if (key == "gone_after_finish")
            understood = parseInto (value, goneAfterFinish, 0, 1);
        else if (key == "unchanged_after_finish")
            understood = parseInto (value, unchangedAfterFinish, 0, 1);
        else if (key == "other_device")
        {
            std::istringstream words (value);
            std::string type, word, extra;
            words >> type >> word >> extra;
            OtherDevice device;
            understood = parseInto (type, device.typeCode, 0, 0x7FFFFFFF)
                         && (word.empty() || parseInto (word, device.firmwareWord, 0, 0xFFFFFFFFLL)) && extra.empty();

            if (understood)
                otherDevices.push_back (device);
        }
        else if (key == "serials")
        {
            std::istringstream words (value);
            std::vector<std::string> given;

            for (std::string word; words >> word;)
                given.push_back (word);

            understood = ! given.empty();

            if (understood)
                serials = given;
        }
        else if (key == "lookalike")
            understood = parseInto (value, lookalikes, 0, 16);
        else if (key == "claimed_by")
        {
            std::istringstream words (value);
            std::string pid, name, extra;
            words >> pid >> name >> extra;
            understood = parseInto (pid, claimedByPid, 1, 0x7FFFFFFF) && extra.empty();

            if (understood)
                claimedByName = name;
        }
        else if (key == "fault")
        {
            ControllerModel::ScriptedFault fault;
            understood = parseFault (value, fault);

            if (understood)
                faults.push_back (fault);
        }
        else
            understood = false;

        if (! understood)
            problems.push_back ("line " + std::to_string (lineNumber) + " not understood: " + line);
    }

    return problems;
}
