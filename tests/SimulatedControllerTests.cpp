#include "device/NoticeReceiver.h"
#include "device/TrbKelo7Hid.h"
#include "device/simulated/ControllerModel.h"
#include "device/simulated/SimulatedController.h"
#include "tests/SimulatedDeviceTestSupport.h"
#include "protocol/ByteLayout.h"
#include "protocol/Protocol.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>
#include <numeric>
#include <vector>

namespace
{
using Report = ControllerModel::Report;
using Kind = ControllerModel::RequestKind;
using Fault = ControllerModel::ScriptedFault;

Report request (uint8_t command, uint8_t sub)
{
    Report r {};
    r[kOffsetCommand] = command;
    r[kOffsetSubCommand] = sub;
    return r;
}

Report addressed (uint8_t command, uint8_t sub, uint32_t address, uint32_t length)
{
    auto r = request (command, sub);
    writeLittleEndian32 (r.data() + kOffsetAddress, address);
    r[kOffsetMarker] = kAddressMarker;
    writeLittleEndian32 (r.data() + kOffsetLength, length);
    return r;
}

// Talks to the model the way the updater does, one request at a time.
struct Host
{
    ControllerModel model;

    ControllerModel::Outcome send (const Report& r) { return model.handleRequest (r.data(), r.size()); }

    uint8_t code (const Report& r)
    {
        auto outcome = send (r);
        EXPECT_TRUE (outcome.hasReply);
        EXPECT_EQ (outcome.reply[kOffsetCommand], r[kOffsetCommand]);
        return outcome.reply[kOffsetSubCommand];
    }

    // Header, pieces, last-piece announcement and checksum of one block; returns the checksum's reply.
    ControllerModel::Outcome sendBlock (uint8_t command, uint32_t address, const std::vector<uint8_t>& data, uint32_t sumDelta = 0)
    {
        EXPECT_EQ (code (addressed (command, SUB_BLOCK, address, (uint32_t) data.size())), REPLY_OK);

        for (size_t offset = 0; offset < data.size(); offset += kPieceSize)
        {
            auto piece = request (command, SUB_DATA);
            const auto count = std::min ((size_t) kPieceSize, data.size() - offset);

            if (offset + kPieceSize >= data.size())
            {
                auto last = request (command, SUB_LAST);
                last[kOffsetReason] = (uint8_t) count;
                EXPECT_EQ (code (last), REPLY_OK);
            }

            std::copy (data.begin() + (std::ptrdiff_t) offset, data.begin() + (std::ptrdiff_t) (offset + count), piece.begin() + kOffsetData);
            EXPECT_EQ (code (piece), REPLY_OK);
        }

        auto checksum = request (command, SUB_CHECKSUM);
        writeLittleEndian32 (checksum.data() + kOffsetAddress, std::accumulate (data.begin(), data.end(), 0u) + sumDelta);
        return send (checksum);
    }
};

std::vector<uint8_t> pattern (size_t size, uint8_t seed = 7)
{
    std::vector<uint8_t> bytes (size);

    for (size_t i = 0; i < size; ++i)
        bytes[i] = (uint8_t) (i * 31 + seed);

    return bytes;
}

// Rewrites the head of a controller's info region with a new version text, as an
// update with equal stamps does, up to (not including) the finish request.
void writeInfoHead (ControllerModel& model, const char* version)
{
    auto send = [&model] (const Report& r)
    { return model.handleRequest (r.data(), r.size()).reply[kOffsetSubCommand]; };
    auto head = pattern (0x1000);
    std::copy_n (version, 4, head.begin());

    ASSERT_EQ (send (addressed (CMD_EXTRA, SUB_PREPARE, 0x1D0000, (uint32_t) head.size())), REPLY_OK);
    ASSERT_EQ (send (addressed (CMD_INFO, SUB_BLOCK, 0x1D0000, (uint32_t) head.size())), REPLY_OK);

    for (size_t offset = 0; offset < head.size(); offset += kPieceSize)
    {
        auto piece = request (CMD_INFO, SUB_DATA);
        const auto count = std::min ((size_t) kPieceSize, head.size() - offset);

        if (offset + kPieceSize >= head.size())
        {
            auto last = request (CMD_INFO, SUB_LAST);
            last[kOffsetReason] = (uint8_t) count;
            ASSERT_EQ (send (last), REPLY_OK);
        }

        std::copy_n (head.begin() + (std::ptrdiff_t) offset, count, piece.begin() + kOffsetData);
        ASSERT_EQ (send (piece), REPLY_OK);
    }

    auto checksum = request (CMD_INFO, SUB_CHECKSUM);
    writeLittleEndian32 (checksum.data() + kOffsetAddress, std::accumulate (head.begin(), head.end(), 0u));
    ASSERT_EQ (send (checksum), REPLY_OK);
    ASSERT_EQ (send (request (CMD_INFO, SUB_POLL)), REPLY_BLOCK_DONE);
}
}

TEST (ControllerModel, AnswersTheInfoQueryFromItsOwnFlash)
{
    Host host;
    host.model.installFirmware ("1.02", 0x20231130);

    auto outcome = host.send (request (CMD_CONTROL, SUB_INFO));

    ASSERT_TRUE (outcome.hasReply);
    const Report& reply = outcome.reply;
    EXPECT_EQ (reply[0], CMD_CONTROL);
    EXPECT_EQ (reply[1], REPLY_INFO);
    EXPECT_EQ (std::vector<uint8_t> (reply.begin() + 2, reply.begin() + 6), (std::vector<uint8_t> { 0x20, 0x23, 0x11, 0x30 }));
    EXPECT_EQ (std::string (reply.begin() + 7, reply.begin() + 11), "1.02");
    EXPECT_EQ (host.model.flash()[ControllerModel::kVersionOffset], '1');
    EXPECT_EQ (host.model.flash()[ControllerModel::kStampOffset], 0x20);
    EXPECT_EQ (host.model.firmwareWord(), 0x0102u);
    EXPECT_EQ (host.code (request (CMD_CONTROL, SUB_STATUS)), REPLY_OK);
}

TEST (ControllerModel, WritesABlockIntoFlashOnlyWhenThePollReportsItDone)
{
    Host host;
    host.model.setBusyCount (3);
    ASSERT_EQ (host.code (addressed (CMD_EXTRA, SUB_PREPARE, 0x1D0000, 0x1000)), REPLY_OK);

    const auto data = pattern (0x1000);
    const auto before = host.model.flash();
    ASSERT_EQ (host.sendBlock (CMD_EXTRA, 0x0A0000, data).reply[1], REPLY_OK);

    const auto poll = request (CMD_EXTRA, SUB_POLL);
    EXPECT_EQ (host.code (poll), REPLY_BUSY);
    EXPECT_EQ (host.code (poll), REPLY_BUSY_ALT);
    EXPECT_EQ (host.code (poll), REPLY_BUSY);
    EXPECT_EQ (host.model.flash(), before) << "the flash changed before the block was reported written";
    EXPECT_EQ (host.model.blocksWritten(), 0);

    EXPECT_EQ (host.code (poll), REPLY_BLOCK_DONE);
    const auto& flash = host.model.flash();
    EXPECT_TRUE (std::equal (data.begin(), data.end(), flash.begin() + 0x0A0000));
    EXPECT_EQ (flash[0x0A0000 - 1], 0xFF);
    EXPECT_EQ (flash[0x0A1000], 0xFF);
    EXPECT_EQ (host.model.blocksWritten(), 1);

    // Nothing is being written any more: a further poll is out of sequence.
    auto stray = host.send (poll);
    EXPECT_EQ (stray.reply[1], REPLY_REFUSED);
    EXPECT_EQ (stray.reply[2], REASON_PROTOCOL);
}

TEST (ControllerModel, PrepareHidesVersionAndStampUntilTheErasedPartIsRewrittenAndFinished)
{
    Host host;
    host.model.installFirmware ("1.02", 0x20231130);
    const auto infoReports = [&host] (const std::string& version, uint32_t stamp)
    {
        const auto reply = host.send (request (CMD_CONTROL, SUB_INFO)).reply;
        EXPECT_EQ (std::string (reply.begin() + 7, reply.begin() + 11), version);
        EXPECT_EQ (readBigEndian32 (reply.data() + kOffsetInfoStamp), stamp);
        EXPECT_EQ (host.model.installedVersion(), version);
        EXPECT_EQ (host.model.installedStamp(), stamp);
    };
    const std::string erased (4, '\xff');

    // The head of the info region only: the stamp further on stays in flash, but
    // the controller no longer vouches for it.
    ASSERT_EQ (host.code (addressed (CMD_EXTRA, SUB_PREPARE, 0x1D0000, 0x1000)), REPLY_OK);
    EXPECT_EQ (host.model.flash()[ControllerModel::kVersionOffset], 0xFF);
    EXPECT_EQ (host.model.flash()[ControllerModel::kStampOffset], 0x20);
    infoReports (erased, 0xFFFFFFFF);

    // Neither a power cycle nor a finish without the rewrite brings it back.
    host.model.powerCycle();
    host.send (request (CMD_CONTROL, SUB_FINISH));
    infoReports (erased, 0xFFFFFFFF);

    ASSERT_EQ (host.code (addressed (CMD_EXTRA, SUB_PREPARE, 0x1D0000, 0x1000)), REPLY_OK);
    auto head = pattern (0x1000);
    std::copy_n ("1.05", 4, head.begin());
    ASSERT_EQ (host.sendBlock (CMD_INFO, 0x1D0000, head).reply[1], REPLY_OK);
    ASSERT_EQ (host.code (request (CMD_INFO, SUB_POLL)), REPLY_BLOCK_DONE);
    infoReports (erased, 0xFFFFFFFF);

    host.send (request (CMD_CONTROL, SUB_FINISH));
    infoReports ("1.05", 0x20231130);
}

TEST (ControllerModel, OneThatKeepsItsOldFirmwarePutsItsFlashBackAtTheFinish)
{
    Host host;
    host.model.installFirmware ("1.02", 0x20231130);
    host.model.setKeepsOldFirmware (true);
    const auto flashBefore = host.model.flash();

    writeInfoHead (host.model, "1.05");
    EXPECT_NE (host.model.flash(), flashBefore);

    host.send (request (CMD_CONTROL, SUB_FINISH));
    EXPECT_EQ (host.model.flash(), flashBefore);
    EXPECT_EQ (host.model.installedVersion(), "1.02");
    EXPECT_EQ (host.model.installedStamp(), 0x20231130u);
}

TEST (ControllerModel, RefusesAWrongChecksumWithReasonTwoAndKeepsItsFlash)
{
    Host host;
    ASSERT_EQ (host.code (addressed (CMD_MAIN, SUB_PREPARE, 0x1D0000, 0x10000)), REPLY_OK);
    const auto before = host.model.flash();

    auto outcome = host.sendBlock (CMD_MAIN, 0, pattern (0x20000), 1);

    EXPECT_EQ (outcome.reply[0], CMD_MAIN);
    EXPECT_EQ (outcome.reply[1], REPLY_REFUSED);
    EXPECT_EQ (outcome.reply[2], 2);
    EXPECT_EQ (host.code (request (CMD_MAIN, SUB_POLL)), REPLY_REFUSED);
    EXPECT_EQ (host.model.flash(), before);
}

TEST (ControllerModel, AFullBlockTravelsAsTheUpdaterSendsItAndLandsWhole)
{
    Host host;
    ASSERT_EQ (host.code (addressed (CMD_MAIN, SUB_PREPARE, 0x1D0000, 0x10000)), REPLY_OK);

    const auto data = pattern (0x20000, 99);
    ASSERT_EQ (host.sendBlock (CMD_MAIN, 0x020000, data).reply[1], REPLY_OK);
    EXPECT_EQ (host.code (request (CMD_MAIN, SUB_POLL)), REPLY_BLOCK_DONE);

    EXPECT_TRUE (std::equal (data.begin(), data.end(), host.model.flash().begin() + 0x020000));
    EXPECT_EQ (host.model.requestCount (Kind::dataPiece), 2115);
    EXPECT_EQ (host.model.requestCount (Kind::lastPiece), 1);
}

TEST (ControllerModel, RefusesRequestsOutOfSequenceWithReasonFive)
{
    struct Case
    {
        const char* what;
        bool prepare;
        std::vector<Report> before;
        Report request;
    };

    const Case cases[] = {
        { "block header without prepare", false, {}, addressed (CMD_MAIN, SUB_BLOCK, 0, 0x100) },
        { "data piece without a block", true, {}, request (CMD_MAIN, SUB_DATA) },
        { "block outside its region", true, {}, addressed (CMD_EXTRA, SUB_BLOCK, 0x08FFFF, 2) },
        { "block longer than 128 KiB", true, {}, addressed (CMD_MAIN, SUB_BLOCK, 0, 0x20001) },
        { "empty block", true, {}, addressed (CMD_MAIN, SUB_BLOCK, 0, 0) },
        { "piece past the block's end", true, { addressed (CMD_MAIN, SUB_BLOCK, 0, 10) }, request (CMD_MAIN, SUB_DATA) },
        { "piece for another region", true, { addressed (CMD_MAIN, SUB_BLOCK, 0, 100) }, request (CMD_EXTRA, SUB_DATA) },
        { "checksum of a short block", true, { addressed (CMD_MAIN, SUB_BLOCK, 0, 100) }, request (CMD_MAIN, SUB_CHECKSUM) },
        { "last-piece count 0", true, { addressed (CMD_MAIN, SUB_BLOCK, 0, 100) }, request (CMD_MAIN, SUB_LAST) },
        { "unknown sub-command", false, {}, request (CMD_CONTROL, 0x09) },
        { "unknown command", false, {}, request (0x42, SUB_STATUS) },
    };

    for (const auto& c : cases)
    {
        Host host;

        if (c.prepare)
            host.send (addressed (CMD_MAIN, SUB_PREPARE, 0x1D0000, 0x10000));

        for (const auto& r : c.before)
            ASSERT_EQ (host.code (r), REPLY_OK) << c.what;

        auto outcome = host.send (c.request);
        ASSERT_TRUE (outcome.hasReply) << c.what;
        EXPECT_EQ (outcome.reply[0], c.request[0]) << c.what;
        EXPECT_EQ (outcome.reply[1], REPLY_REFUSED) << c.what;
        EXPECT_EQ (outcome.reply[2], REASON_PROTOCOL) << c.what;
    }
}

TEST (ControllerModel, ScriptedFaultsHitOnlyTheNamedRequest)
{
    Host host;
    host.model.addFault ({ Kind::statusQuery, 2, Fault::Action::reply, REPLY_REFUSED, 3, 0 });
    host.model.addFault ({ Kind::infoQuery, 1, Fault::Action::wrongByte0, 0, 0, 0 });
    host.model.addFault ({ Kind::infoQuery, 2, Fault::Action::noReply, 0, 0, 0 });
    host.model.addFault ({ Kind::infoQuery, 3, Fault::Action::lateReply, 0, 0, 250 });
    host.model.addFault ({ Kind::infoQuery, 4, Fault::Action::remove, 0, 0, 40 });

    const auto status = request (CMD_CONTROL, SUB_STATUS);
    EXPECT_EQ (host.code (status), REPLY_OK);
    auto refused = host.send (status);
    EXPECT_EQ (refused.reply[1], REPLY_REFUSED);
    EXPECT_EQ (refused.reply[2], 3);
    EXPECT_EQ (host.code (status), REPLY_OK);

    const auto info = request (CMD_CONTROL, SUB_INFO);
    auto wrong = host.send (info);
    EXPECT_TRUE (wrong.hasReply);
    EXPECT_NE (wrong.reply[0], CMD_CONTROL);
    EXPECT_EQ (wrong.reply[1], REPLY_INFO);

    EXPECT_FALSE (host.send (info).hasReply);

    auto late = host.send (info);
    EXPECT_TRUE (late.hasReply);
    EXPECT_EQ (late.extraDelayMs, 250);

    auto removal = host.send (info);
    EXPECT_FALSE (removal.hasReply);
    EXPECT_TRUE (removal.removeDevice);
    EXPECT_EQ (removal.replugAfterMs, 40);

    EXPECT_EQ (host.code (info), REPLY_INFO);
    EXPECT_EQ (host.model.requestCount (Kind::infoQuery), 5);
    EXPECT_EQ (host.model.requestCount (Kind::any), 8);
}

TEST (ControllerModel, StaysBusyForEverFromTheScriptedPoll)
{
    Host host;
    host.model.addFault ({ Kind::poll, 2, Fault::Action::busyForever, 0, 0, 0 });
    host.send (addressed (CMD_INFO, SUB_PREPARE, 0, 0));
    ASSERT_EQ (host.sendBlock (CMD_INFO, 0x1D0000, pattern (100)).reply[1], REPLY_OK);

    const auto poll = request (CMD_INFO, SUB_POLL);
    EXPECT_EQ (host.code (poll), REPLY_BLOCK_DONE);
    ASSERT_EQ (host.sendBlock (CMD_INFO, 0x1D1000, pattern (100)).reply[1], REPLY_OK);

    for (int i = 0; i < 50; ++i)
    {
        const auto code = host.code (poll);
        ASSERT_TRUE (code == REPLY_BUSY || code == REPLY_BUSY_ALT) << i;
    }

    EXPECT_EQ (host.model.blocksWritten(), 1);
}

TEST (ControllerModel, LogsEveryRequestInOrderAndDoesNotAnswerFinish)
{
    Host host;
    host.send (request (CMD_CONTROL, SUB_STATUS));
    host.send (request (CMD_CONTROL, SUB_INFO));
    auto finish = host.send (request (CMD_CONTROL, SUB_FINISH));
    auto shortOne = host.model.handleRequest (request (CMD_CONTROL, SUB_STATUS).data(), 10);

    EXPECT_FALSE (finish.hasReply);
    EXPECT_EQ (host.model.finishCount(), 1);
    EXPECT_EQ (shortOne.reply[1], REPLY_REFUSED);

    const auto& log = host.model.requests();
    ASSERT_EQ (log.size(), 4u);
    EXPECT_EQ (log[0].kind, Kind::statusQuery);
    EXPECT_EQ (log[1].kind, Kind::infoQuery);
    EXPECT_EQ (log[2].kind, Kind::finish);
    EXPECT_EQ (log[3].kind, Kind::unknown);
    EXPECT_EQ (log[2].bytes[1], SUB_FINISH);
}

// ---------------------------------------------------------------------------
// The simulated device library behind the ten functions.

namespace
{
struct Notice
{
    uint32_t message;
    uintptr_t wParam;
};

std::vector<Notice> noticesHeard;

intptr_t collectNotice (void*, uint32_t message, uintptr_t wParam, intptr_t)
{
    noticesHeard.push_back ({ message, wParam });
    return 0;
}

using testsupport::runUntil;

// The library started on a receiver of our own, as HidUtil would start it.
class SimulatedLibrary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        noticesHeard.clear();
        sim.reset (scenario());
        window = createNoticeReceiver (noticeModuleHandle(), collectNotice);
        HID_Initialize (noticeModuleHandle());
        HID_SetCallback (window, WM_HID_INPUT, WM_HID_ARRIVED, WM_HID_REMOVED);
        HID_Start();
    }

    void TearDown() override
    {
        HID_Stop();
        HID_SetCallback (nullptr, 0, 0, 0);
        HID_Finalize();
        destroyNoticeReceiver (window);
    }

    virtual SimulatedScenario scenario() { return {}; }

    // Drains the device thread, then the notices it posted (a marker notice comes out last).
    void settle()
    {
        ASSERT_TRUE (sim.waitUntilIdle (testsupport::kNoticeWaitMs));
        trbPostNotice (window, testsupport::kMarkerNotice, 0, 0);
        EXPECT_TRUE (runUntil ([]
                               { return ! noticesHeard.empty() && noticesHeard.back().message == testsupport::kMarkerNotice; }));
        noticesHeard.pop_back();
    }

    static int32_t inputLength (int32_t device, Report& buffer, int32_t room = 64)
    {
        int32_t length = room;
        HID_Input (device, buffer.data(), &length);
        return length;
    }

    SimulatedController& sim = SimulatedController::instance();
    void* window = nullptr;
};
}

TEST_F (SimulatedLibrary, AnswersLaterFromItsOwnThreadNeverInsideTheWrite)
{
    sim.setLatencyMs (50);
    const auto device = sim.firstController();
    const auto status = request (CMD_CONTROL, SUB_STATUS);

    EXPECT_NE (HID_Write (device, status.data(), 64), 0);
    Report buffer {};
    EXPECT_EQ (inputLength (device, buffer), 0) << "the reply was there as the write returned";

    settle();
    ASSERT_EQ (noticesHeard.size(), 1u);
    EXPECT_EQ (noticesHeard[0].message, (uint32_t) WM_HID_INPUT);
    EXPECT_EQ (noticesHeard[0].wParam, (uintptr_t) device);
    EXPECT_EQ (inputLength (device, buffer), 64);
    EXPECT_EQ (buffer[0], CMD_CONTROL);
    EXPECT_EQ (buffer[1], REPLY_OK);
    EXPECT_EQ (inputLength (device, buffer), 0) << "one notice, one report";
}

TEST_F (SimulatedLibrary, ListsDevicesInPlugOrderAndAnswersVersionsByTypeCode)
{
    const auto controller = sim.firstController();
    const auto other = sim.addDevice (0x1B2, 0x0305);
    const auto second = sim.addController();
    settle();

    int32_t numbers[HID_MAX_DEVICES] = {};
    ASSERT_EQ (HID_EnumHIDno (numbers), 3);
    EXPECT_EQ (numbers[0], controller);
    EXPECT_EQ (numbers[1], other);
    EXPECT_EQ (numbers[2], second);
    EXPECT_EQ (HID_GetDeviceType (controller), HID_TYPE_TRBKELO7);
    EXPECT_EQ (HID_GetDeviceType (other), 0x1B2);
    EXPECT_EQ (HID_GetDeviceType (99), 0);

    uint32_t words[2] = { 0, 0 };
    HID_GetFirmwareVersion (HID_TYPE_TRBKELO7, words, 1);
    EXPECT_EQ (words[0], 0x100u);
    HID_GetFirmwareVersion (0x1B2, words, 1);
    EXPECT_EQ (words[0], 0x305u);
    words[0] = 7;
    EXPECT_EQ (HID_GetFirmwareVersion (0x999, words, 1), 0);
    EXPECT_EQ (words[0], 7u);

    // Two arrivals were posted, each naming its device.
    ASSERT_EQ (noticesHeard.size(), 2u);
    EXPECT_EQ (noticesHeard[0].message, (uint32_t) WM_HID_ARRIVED);

    // Removed and plugged in again, a device goes to the end of the list.
    sim.remove (controller);
    sim.plugIn (controller);
    ASSERT_EQ (HID_EnumHIDno (numbers), 3);
    EXPECT_EQ (numbers[2], controller);
}

TEST_F (SimulatedLibrary, GivesEachDeviceItsOwnSerialAndPortCutToTheRoomGiven)
{
    const auto first = sim.firstController();
    const auto other = sim.addDevice (0x1B2);
    const auto second = sim.addController();
    char serial[HID_IDENTITY_SIZE] = {}, location[HID_IDENTITY_SIZE] = {};

    struct Expected
    {
        int32_t device;
        const char* serial;
        const char* location;
    };

    for (const auto& expected : { Expected { first, "KELO7-SIM-0001", "sim-1" }, Expected { other, "", "sim-2" }, Expected { second, "KELO7-SIM-0002", "sim-3" } })
    {
        EXPECT_NE (HID_GetDeviceIdentity (expected.device, serial, sizeof (serial), location, sizeof (location)), 0);
        EXPECT_STREQ (serial, expected.serial);
        EXPECT_STREQ (location, expected.location);
    }

    EXPECT_NE (HID_GetDeviceIdentity (first, serial, 6, location, 4), 0);
    EXPECT_STREQ (serial, "KELO7");
    EXPECT_STREQ (location, "sim");

    sim.remove (second);
    EXPECT_EQ (HID_GetDeviceIdentity (second, serial, sizeof (serial), location, sizeof (location)), 0);
    EXPECT_STREQ (serial, "");
    EXPECT_EQ (HID_GetDeviceIdentity (first, nullptr, 0, nullptr, 0), 1) << "null buffers are left alone";
}

TEST_F (SimulatedLibrary, PlacesAtMostTheRoomGivenAndNothingWhenNoReportIsPending)
{
    const auto device = sim.firstController();
    const auto report = pattern (64);
    sim.sendInput (device, report.data(), 64);
    settle();

    Report buffer {};
    EXPECT_EQ (inputLength (device, buffer, 10), 10);
    EXPECT_TRUE (std::equal (buffer.begin(), buffer.begin() + 10, report.begin()));
    EXPECT_EQ (buffer[10], 0);
    EXPECT_EQ (inputLength (device, buffer), 0);
    EXPECT_EQ (inputLength (42, buffer), 0);

    int32_t length = 64;
    EXPECT_EQ (HID_Input (device, nullptr, &length), 0);
    EXPECT_EQ (length, 0);
}

TEST_F (SimulatedLibrary, AScriptedRemovalTakesTheDeviceOffTheBusUntilItIsPluggedInAgain)
{
    // Plugged in again well after the test has looked at the removed device, however
    // slowly the test runs.
    constexpr int kReplugAfterMs = 3000;
    const auto device = sim.firstController();
    sim.addFault ({ Kind::infoQuery, 1, Fault::Action::remove, 0, 0, kReplugAfterMs });
    const auto info = request (CMD_CONTROL, SUB_INFO);

    ASSERT_NE (HID_Write (device, info.data(), 64), 0);
    ASSERT_TRUE (runUntil ([&]
                           { return ! noticesHeard.empty(); }));
    EXPECT_EQ (noticesHeard[0].message, (uint32_t) WM_HID_REMOVED);
    EXPECT_EQ (noticesHeard[0].wParam, (uintptr_t) device);
    EXPECT_EQ (HID_Write (device, info.data(), 64), 0) << "a removed device takes no report";
    EXPECT_EQ (HID_GetDeviceType (device), 0);

    ASSERT_TRUE (runUntil ([&]
                           { return noticesHeard.size() >= 2; }));
    EXPECT_EQ (noticesHeard[1].message, (uint32_t) WM_HID_ARRIVED);
    EXPECT_NE (HID_Write (device, info.data(), 64), 0);
    settle();

    // The removed request was received but not answered; only the one after the return was.
    const auto received = sim.receivedRequests();
    ASSERT_EQ (received.size(), 2u);
    EXPECT_EQ (noticesHeard.size(), 3u);
    const auto writes = sim.writeCalls();
    ASSERT_EQ (writes.size(), 3u);
    EXPECT_FALSE (writes[1].taken);
}

namespace
{
// What a controller does after a finish request, by the scenario's keys.
struct FinishCase
{
    const char* keys;
    bool restarts;
    bool comesBack;
    const char* versionAfter; // what its info query reports once back
};

class RestartAfterFinish : public SimulatedLibrary,
                           public ::testing::WithParamInterface<FinishCase>
{
protected:
    SimulatedScenario scenario() override
    {
        SimulatedScenario s;
        EXPECT_TRUE (s.apply (std::string ("restart_ms=200\n") + GetParam().keys).empty());
        return s;
    }
};
} // namespace

TEST_P (RestartAfterFinish, DropsOffTheBusAndComesBackAsTheKeysSay)
{
    const auto device = sim.firstController();
    sim.withModel ([] (ControllerModel& model)
                   { writeInfoHead (model, "1.05"); });

    const auto finish = request (CMD_CONTROL, SUB_FINISH);
    ASSERT_NE (HID_Write (device, finish.data(), 64), 0);
    settle();

    if (! GetParam().restarts)
    {
        EXPECT_TRUE (noticesHeard.empty()) << "it restarted";
    }
    else
    {
        ASSERT_FALSE (noticesHeard.empty());
        EXPECT_EQ (noticesHeard[0].message, (uint32_t) WM_HID_REMOVED);
        EXPECT_EQ (noticesHeard[0].wParam, (uintptr_t) device);

        if (! GetParam().comesBack)
        {
            EXPECT_EQ (noticesHeard.size(), 1u) << "it came back";
            EXPECT_EQ (HID_GetDeviceType (device), 0);
            return;
        }

        ASSERT_EQ (noticesHeard.size(), 2u);
        EXPECT_EQ (noticesHeard[1].message, (uint32_t) WM_HID_ARRIVED);
    }

    const auto query = request (CMD_CONTROL, SUB_INFO);
    ASSERT_NE (HID_Write (device, query.data(), 64), 0);
    settle();
    Report reply {};
    ASSERT_EQ (inputLength (device, reply), 64);
    EXPECT_EQ (std::string (reply.begin() + kOffsetInfoVersion, reply.begin() + kOffsetInfoVersion + 4), GetParam().versionAfter);
}

INSTANTIATE_TEST_SUITE_P (SimulatedLibrary,
                          RestartAfterFinish,
                          ::testing::Values (FinishCase { "", true, true, "1.05" },
                                             FinishCase { "restart_ms=-1", false, true, "1.05" },
                                             FinishCase { "gone_after_finish=1", true, false, "" },
                                             FinishCase { "unchanged_after_finish=1", true, true, "1.00" }));

TEST_F (SimulatedLibrary, ALateReplyIsDroppedWhenTheDeviceWasRemovedMeanwhile)
{
    const auto device = sim.firstController();
    sim.addFault ({ Kind::statusQuery, 1, Fault::Action::lateReply, 0, 0, 100 });
    const auto status = request (CMD_CONTROL, SUB_STATUS);

    ASSERT_NE (HID_Write (device, status.data(), 64), 0);
    ASSERT_TRUE (runUntil ([&]
                           { return sim.receivedRequests().size() == 1; }));
    sim.remove (device);
    sim.plugIn (device);
    settle();

    ASSERT_EQ (noticesHeard.size(), 2u);
    EXPECT_EQ (noticesHeard[0].message, (uint32_t) WM_HID_REMOVED);
    EXPECT_EQ (noticesHeard[1].message, (uint32_t) WM_HID_ARRIVED);
    Report buffer {};
    EXPECT_EQ (inputLength (device, buffer), 0);
}

TEST_F (SimulatedLibrary, ADuplicatedReplyArrivesAsASecondReportNobodyAskedFor)
{
    const auto device = sim.firstController();
    sim.addFault ({ Kind::statusQuery, 1, Fault::Action::duplicateReply, 0, 0, 0 });
    const auto status = request (CMD_CONTROL, SUB_STATUS);

    ASSERT_NE (HID_Write (device, status.data(), 64), 0);
    settle();

    ASSERT_EQ (noticesHeard.size(), 2u);
    Report buffer {};
    EXPECT_EQ (inputLength (device, buffer), 64);
    EXPECT_EQ (inputLength (device, buffer), 64);
    EXPECT_EQ (buffer[1], REPLY_OK);
    EXPECT_EQ (inputLength (device, buffer), 0);
}

TEST_F (SimulatedLibrary, PostsNothingOnceStopped)
{
    const auto device = sim.firstController();
    HID_Stop();

    const auto status = request (CMD_CONTROL, SUB_STATUS);
    EXPECT_EQ (HID_Write (device, status.data(), 64), 0);
    sim.remove (device);
    sim.plugIn (device);
    sim.addController();
    settle();

    EXPECT_TRUE (noticesHeard.empty());
}

TEST_F (SimulatedLibrary, WritesItsFlashAndRequestLogWhenFinalized)
{
    const auto dir = juce::File::createTempFile ("sim");
    ASSERT_TRUE (dir.createDirectory());
    const auto flashFile = dir.getChildFile ("flash.bin");
    const auto logFile = dir.getChildFile ("requests.log");
    sim.setDumpPaths (flashFile.getFullPathName().toStdString(), logFile.getFullPathName().toStdString());

    const auto device = sim.firstController();
    auto prepare = addressed (CMD_INFO, SUB_PREPARE, 0, 0);
    HID_Write (device, prepare.data(), 64);
    settle();
    HID_Finalize();

    EXPECT_EQ (flashFile.getSize(), (juce::int64) ControllerModel::kFlashSize);
    juce::StringArray lines;
    logFile.readLines (lines);
    lines.removeEmptyStrings();
    ASSERT_EQ (lines.size(), 1);
    EXPECT_EQ (lines[0], juce::String (device) + " prepare f70800000000ff" + juce::String::repeatedString ("00", 57));

    sim.setDumpPaths ({}, {});
    dir.deleteRecursively();
}

TEST (SimulatedScenario, ReadsItsKeysAndReportsLinesItDoesNotUnderstand)
{
    SimulatedScenario scenario;
    const auto problems = scenario.apply ("# a comment\n"
                                          "version=1.05\n"
                                          "stamp=0x20231231\n"
                                          "  latency_ms = 3 \n"
                                          "busy_count=-1\n"
                                          "controllers=2\n"
                                          "arrive_after_ms=250\n"
                                          "other_device=0x1B2 0x305\n"
                                          "fault=checksum 1 reply 0x81 2\n"
                                          "fault=data 100 remove 500\n"
                                          "fault=poll 3 busy_forever\n"
                                          "restart_ms=250\n"
                                          "gone_after_finish=1\n"
                                          "unchanged_after_finish=1\n"
                                          "gone_after_finish=yes\n"
                                          "version=10.2.3\n"
                                          "fault=data 0 no_reply\n"
                                          "fault=poll 1 late\n"
                                          "colour=blue\n"
                                          "latency_ms=fast\n"
                                          "serials=KELO7-A -\n"
                                          "lookalike=1\n"
                                          "claimed_by=4242 djprogram\n"
                                          "claimed_by=0\n");

    EXPECT_EQ (scenario.version, "1.05");
    EXPECT_EQ (scenario.stamp, 0x20231231u);
    EXPECT_EQ (scenario.latencyMs, 3);
    EXPECT_EQ (scenario.busyCount, -1);
    EXPECT_EQ (scenario.controllers, 2);
    EXPECT_EQ (scenario.arriveAfterMs, 250);
    ASSERT_EQ (scenario.otherDevices.size(), 1u);
    EXPECT_EQ (scenario.otherDevices[0].typeCode, 0x1B2);
    EXPECT_EQ (scenario.otherDevices[0].firmwareWord, 0x305u);

    ASSERT_EQ (scenario.faults.size(), 3u);
    EXPECT_EQ (scenario.faults[0].kind, Kind::checksum);
    EXPECT_EQ (scenario.faults[0].action, Fault::Action::reply);
    EXPECT_EQ (scenario.faults[0].code, 0x81);
    EXPECT_EQ (scenario.faults[0].reason, 2);
    EXPECT_EQ (scenario.faults[1].kind, Kind::dataPiece);
    EXPECT_EQ (scenario.faults[1].occurrence, 100);
    EXPECT_EQ (scenario.faults[1].action, Fault::Action::remove);
    EXPECT_EQ (scenario.faults[1].delayMs, 500);
    EXPECT_EQ (scenario.faults[2].action, Fault::Action::busyForever);

    EXPECT_EQ (scenario.restartMs, 250);
    EXPECT_TRUE (scenario.goneAfterFinish);
    EXPECT_TRUE (scenario.unchangedAfterFinish);

    EXPECT_EQ (scenario.serials, (std::vector<std::string> { "KELO7-A", "-" }));
    EXPECT_EQ (scenario.lookalikes, 1);
    EXPECT_EQ (scenario.claimedByPid, 4242);
    EXPECT_EQ (scenario.claimedByName, "djprogram");

    ASSERT_EQ (problems.size(), 7u);
    EXPECT_NE (problems[0].find ("line 15"), std::string::npos);
}

TEST (SimulatedScenario, ComesFromTheFileNamedByTheEnvironmentOnTopOfTheDemoDefault)
{
    EXPECT_EQ (SimulatedScenario::fromEnvironment().latencyMs, SimulatedScenario::defaultForDemo().latencyMs);

    const auto file = juce::File::createTempFile ("scenario");
    ASSERT_TRUE (file.replaceWithText ("stamp=0x20250315\nfault=info 1 duplicate\n"));
    ::setenv ("TRB_SIM_SCENARIO", file.getFullPathName().toRawUTF8(), 1);
    const auto scenario = SimulatedScenario::fromEnvironment();
    ::unsetenv ("TRB_SIM_SCENARIO");
    file.deleteFile();

    EXPECT_EQ (scenario.stamp, 0x20250315u);
    EXPECT_EQ (scenario.version, "1.00");
    EXPECT_EQ (scenario.latencyMs, SimulatedScenario::defaultForDemo().latencyMs);
    ASSERT_EQ (scenario.faults.size(), 1u);
    EXPECT_EQ (scenario.faults[0].action, Fault::Action::duplicateReply);
}
