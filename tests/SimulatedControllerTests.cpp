#include "device/simulated/ControllerModel.h"
#include "update/Protocol.h"

#include <gtest/gtest.h>

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

void putLittleEndian (Report& r, int offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        r[(size_t) (offset + i)] = (uint8_t) (value >> (8 * i));
}

Report addressed (uint8_t command, uint8_t sub, uint32_t address, uint32_t length)
{
    auto r = request (command, sub);
    putLittleEndian (r, kOffsetAddress, address);
    r[kOffsetMarker] = kAddressMarker;
    putLittleEndian (r, kOffsetLength, length);
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
        putLittleEndian (checksum, kOffsetAddress, std::accumulate (data.begin(), data.end(), 0u) + sumDelta);
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
