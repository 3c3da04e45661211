#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace update_test;

// The wire as the controller's protocol describes it, written out by hand in
// tests/wire/*.txt: literal requests and replies, all 64 bytes, and the order of
// the requests over a whole run. Nothing here is built from our own constants, so
// a code swapped or a field moved on both sides alike (the procedure and the
// simulated controller) still fails.

namespace
{
using Bytes = std::vector<uint8_t>;

Bytes parseHex (std::istream& in)
{
    Bytes bytes;
    std::string word;

    while (in >> word)
        bytes.push_back ((uint8_t) std::stoul (word, nullptr, 16));

    return bytes;
}

std::string hexOf (const uint8_t* bytes, size_t count)
{
    std::ostringstream out;

    for (size_t i = 0; i < count; ++i)
        out << (i > 0 ? " " : "") << std::uppercase << std::hex << (bytes[i] < 0x10 ? "0" : "") << (int) bytes[i];

    return out.str();
}

bool startsWith (const WireReport& report, const Bytes& prefix)
{
    return prefix.size() <= report.size() && std::equal (prefix.begin(), prefix.end(), report.begin());
}

// One run of requests that share their leading bytes, and the head of each reply.
struct OrderRun
{
    int count = 0;
    Bytes request;
    bool replied = true;
    Bytes reply;
};

struct Recording
{
    ControllerModel controller;
    int32_t status = 0;
    std::vector<std::pair<char, Bytes>> literals; // '>' request, '<' reply to the request above
    std::vector<OrderRun> order;
};

Recording readRecording (const std::string& name)
{
    Recording recording;
    std::ifstream file (std::string (TRB_WIRE_DIR) + "/" + name);
    std::string line;
    bool inOrder = false;

    while (std::getline (file, line))
    {
        line = line.substr (0, line.find ('#'));
        std::istringstream in (line);
        std::string word;

        if (! (in >> word))
            continue;

        if (word == "controller")
        {
            std::string version, stamp;
            int busy = 0;
            in >> version >> stamp >> busy;
            recording.controller.installFirmware (version, (uint32_t) std::stoul (stamp, nullptr, 16));
            recording.controller.setBusyCount (busy);
        }
        else if (word == "fault")
        {
            ControllerModel::ScriptedFault fault;
            std::string kind, action, code = "0", reason = "0";
            in >> kind >> fault.occurrence >> action >> code >> reason;
            EXPECT_TRUE (ControllerModel::kindFromName (kind, fault.kind)) << line;
            fault.action = action == "remove" ? Action::remove : Action::reply;
            fault.code = (uint8_t) std::stoul (code, nullptr, 16);
            fault.reason = (uint8_t) std::stoul (reason, nullptr, 16);
            fault.delayMs = -1;
            recording.controller.addFault (fault);
        }
        else if (word == "status")
        {
            in >> word;
            recording.status = (int32_t) std::stol (word, nullptr, 16);
        }
        else if (word == ">" || word == "<")
        {
            auto bytes = parseHex (in);
            EXPECT_EQ (bytes.size(), (size_t) kReportSize) << line;
            recording.literals.emplace_back (word[0], std::move (bytes));
        }
        else if (word == "order")
        {
            inOrder = true;
        }
        else if (inOrder)
        {
            OrderRun run;
            run.count = std::stoi (word);
            const auto arrow = line.find ("->");
            std::istringstream request (line.substr (word.size(), arrow - word.size()));
            std::istringstream reply (line.substr (arrow + 2));
            run.request = parseHex (request);
            run.replied = line.find ("none", arrow) == std::string::npos;

            if (run.replied)
                run.reply = parseHex (reply);

            recording.order.push_back (run);
        }
    }

    EXPECT_FALSE (recording.order.empty()) << name << " has no order";
    return recording;
}

// The file of every recording: each content byte is its offset's low byte.
std::vector<uint8_t> patternImage()
{
    std::vector<uint8_t> image ((size_t) kImageSize);

    for (size_t i = 0; i < image.size(); ++i)
        image[i] = (uint8_t) i;

    setImageVersion (image, "1.05");
    setImageStamp (image, 0x20261209);
    storeImageCrc (image);
    return image;
}

class WireExchangeHeadless : public ::testing::TestWithParam<const char*>
{
};
} // namespace

TEST_P (WireExchangeHeadless, MatchesTheRecordedExchange)
{
    const auto recording = readRecording (GetParam());
    ModelRun run (recording.controller, patternImage());

    ASSERT_TRUE (run.runToTheEnd());
    run.deliverEverythingPending();
    EXPECT_EQ (run.status(), recording.status);

    const auto exchanges = run.link.exchanges();

    // Every literal request was sent, and every literal reply answered one of them.
    std::vector<size_t> sentAt;

    for (const auto& [direction, bytes] : recording.literals)
    {
        const auto literal = hexOf (bytes.data(), bytes.size());

        if (direction == '>')
        {
            sentAt.clear();

            for (size_t i = 0; i < exchanges.size(); ++i)
                if (startsWith (exchanges[i].request, bytes))
                    sentAt.push_back (i);

            EXPECT_FALSE (sentAt.empty()) << "never sent: " << literal;
        }
        else
        {
            EXPECT_TRUE (std::any_of (sentAt.begin(), sentAt.end(), [&] (size_t i)
                                      { return exchanges[i].replied && startsWith (exchanges[i].reply, bytes); }))
                << "never answered: " << literal;
        }
    }

    // The whole run, request by request, in the recorded order.
    size_t at = 0;

    for (const auto& expected : recording.order)
    {
        for (int n = 0; n < expected.count; ++n, ++at)
        {
            ASSERT_LT (at, exchanges.size()) << "the run ended before " << hexOf (expected.request.data(), expected.request.size());
            const auto& exchange = exchanges[at];
            const auto where = "request " + std::to_string (at) + ": " + hexOf (exchange.request.data(), 11)
                               + " -> " + (exchange.replied ? hexOf (exchange.reply.data(), 11) : "none");

            ASSERT_TRUE (startsWith (exchange.request, expected.request))
                << where << ", recorded " << hexOf (expected.request.data(), expected.request.size());
            ASSERT_EQ (exchange.replied, expected.replied) << where;
            ASSERT_TRUE (! expected.replied || startsWith (exchange.reply, expected.reply))
                << where << ", recorded reply " << hexOf (expected.reply.data(), expected.reply.size());
        }
    }

    EXPECT_EQ (at, exchanges.size()) << "requests were sent after the recorded run";
}

INSTANTIATE_TEST_SUITE_P (Recorded, WireExchangeHeadless,
                          ::testing::Values ("full-new-stamp.txt", "equal-stamps.txt", "removal-mid-block.txt", "refusal.txt"),
                          [] (const auto& testInfo)
                          {
                              std::string name;
                              for (const char* c = testInfo.param; *c != '.'; ++c)
                                  if (std::isalnum ((unsigned char) *c))
                                      name += *c;
                              return name;
                          });

TEST (WireRequestsHeadless, ThePrepareOfAnUpdateOfTheInfoRegionAloneNamesNothing)
{
    // The one prepare request no run of the procedure sends (the extra region is
    // always written), checked here against its bytes.
    const Bytes expected { 0xF7, 0x08, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00 };
    const auto request = prepareRequest (REGION_INFO);
    EXPECT_TRUE (startsWith (request, expected)) << hexOf (request.data(), 11);
    EXPECT_TRUE (std::all_of (request.begin() + (long) expected.size(), request.end(), [] (uint8_t b)
                              { return b == 0; }));
}
