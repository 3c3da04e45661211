#include "tests/usb/UpdateDriver.h"

#include "device/simulated/ControllerModel.h"
#include "update/ByteLayout.h"
#include "update/Protocol.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace
{
constexpr uint32_t kInfoAddress = 0x1D0000;
constexpr uint32_t kInfoLength = 0x10000;

UpdateDriver::Report request (uint8_t command, uint8_t sub)
{
    UpdateDriver::Report report {};
    report[kOffsetCommand] = command;
    report[kOffsetSubCommand] = sub;
    return report;
}

UpdateDriver::Report addressed (uint8_t command, uint8_t sub, uint32_t address, uint32_t length)
{
    auto report = request (command, sub);
    writeLittleEndian32 (report.data() + kOffsetAddress, address);
    report[kOffsetMarker] = kAddressMarker;
    writeLittleEndian32 (report.data() + kOffsetLength, length);
    return report;
}
}

const std::array<UpdateDriver::Region, 3> UpdateDriver::kRegions { {
    { CMD_MAIN, 0x000000, 0x90000 },
    { CMD_EXTRA, 0x090000, 0x80000 },
    { CMD_INFO, kInfoAddress, kInfoLength },
} };

std::vector<uint8_t> UpdateDriver::makeImage (uint32_t seed)
{
    std::vector<uint8_t> image (ControllerModel::kFlashSize, 0xFF);
    std::mt19937 random (seed);

    for (const auto& region : kRegions)
        for (uint32_t i = 0; i < region.length; ++i)
            image[region.address + i] = (uint8_t) random();

    const uint8_t version[] = { '1', '.', '2', '3' };
    const uint8_t stamp[] = { 0x20, 0x25, 0x06, 0x15 };
    std::copy (std::begin (version), std::end (version), image.begin() + (long) ControllerModel::kVersionOffset);
    std::copy (std::begin (stamp), std::end (stamp), image.begin() + (long) ControllerModel::kStampOffset);
    return image;
}

UpdateDriver::Report UpdateDriver::statusQuery()
{
    return request (CMD_CONTROL, SUB_STATUS);
}

UpdateDriver::UpdateDriver (Exchange exchangeToUse, Send sendToUse)
    : exchange (std::move (exchangeToUse))
    , send (std::move (sendToUse))
{
}

bool UpdateDriver::accepted (const Report& out, uint8_t expectedCode)
{
    const auto reply = exchange (out);

    if (! reply.has_value())
        return false;

    ++count;
    return (*reply)[kOffsetCommand] == out[kOffsetCommand] && (*reply)[kOffsetSubCommand] == expectedCode;
}

bool UpdateDriver::runWholeUpdate (const std::vector<uint8_t>& image)
{
    if (! accepted (request (CMD_CONTROL, SUB_STATUS), REPLY_OK)
        || ! accepted (request (CMD_CONTROL, SUB_INFO), REPLY_INFO)
        || ! accepted (addressed (CMD_MAIN, SUB_PREPARE, kInfoAddress, kInfoLength), REPLY_OK))
        return false;

    for (const auto& region : kRegions)
        for (uint32_t offset = 0; offset < region.length; offset += (uint32_t) kBlockSize)
            if (! writeBlock (region, offset, std::min ((uint32_t) kBlockSize, region.length - offset), image.data() + region.address + offset))
                return false;

    return send (request (CMD_CONTROL, SUB_FINISH));
}

bool UpdateDriver::writeBlock (const Region& region, uint32_t offset, uint32_t length, const uint8_t* bytes)
{
    if (! accepted (addressed (region.command, SUB_BLOCK, region.address + offset, length), REPLY_OK))
        return false;

    uint32_t sum = 0;

    for (uint32_t at = 0; at < length; at += (uint32_t) kPieceSize)
    {
        const auto pieceLength = std::min ((uint32_t) kPieceSize, length - at);

        if (at + (uint32_t) kPieceSize >= length)
        {
            auto announcement = request (region.command, SUB_LAST);
            announcement[kOffsetReason] = (uint8_t) pieceLength;

            if (! accepted (announcement, REPLY_OK))
                return false;
        }

        auto piece = request (region.command, SUB_DATA);
        std::memcpy (piece.data() + kOffsetData, bytes + at, pieceLength);

        if (! accepted (piece, REPLY_OK))
            return false;
    }

    for (uint32_t i = 0; i < length; ++i)
        sum += bytes[i];

    auto checksum = request (region.command, SUB_CHECKSUM);
    writeLittleEndian32 (checksum.data() + kOffsetAddress, sum);

    if (! accepted (checksum, REPLY_OK))
        return false;

    for (;;)
    {
        const auto poll = request (region.command, SUB_POLL);
        const auto reply = exchange (poll);

        if (! reply.has_value())
            return false;

        ++count;

        if ((*reply)[kOffsetSubCommand] == REPLY_BLOCK_DONE)
            return true;

        if ((*reply)[kOffsetSubCommand] != REPLY_BUSY && (*reply)[kOffsetSubCommand] != REPLY_BUSY_ALT)
            return false;
    }
}
