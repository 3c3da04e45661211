#include "tests/usb/UpdateDriver.h"

#include "device/simulated/ControllerModel.h"
#include "protocol/Reports.h"

#include <algorithm>
#include <cstring>
#include <random>

std::vector<uint8_t> UpdateDriver::makeImage (uint32_t seed)
{
    std::vector<uint8_t> image (ControllerModel::kFlashSize, 0xFF);
    std::mt19937 random (seed);

    for (const auto& region : kRegions)
        for (int64_t i = 0; i < region.length; ++i)
            image[(size_t) (region.deviceAddress + i)] = (uint8_t) random();

    const uint8_t version[] = { '1', '.', '2', '3' };
    const uint8_t stamp[] = { 0x20, 0x25, 0x06, 0x15 };
    std::copy (std::begin (version), std::end (version), image.begin() + (long) ControllerModel::kVersionOffset);
    std::copy (std::begin (stamp), std::end (stamp), image.begin() + (long) ControllerModel::kStampOffset);
    return image;
}

UpdateDriver::Report UpdateDriver::statusQuery()
{
    return ::statusQuery();
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
    const auto head = readReply (reply->data());
    return head.command == out[kOffsetCommand] && head.code == expectedCode;
}

bool UpdateDriver::runWholeUpdate (const std::vector<uint8_t>& image)
{
    if (! accepted (::statusQuery(), REPLY_OK) || ! accepted (infoQuery(), REPLY_INFO) || ! accepted (prepareRequest (REGION_MAIN), REPLY_OK))
        return false;

    for (const auto& region : kRegions)
    {
        const auto length = (uint32_t) region.length;

        for (uint32_t offset = 0; offset < length; offset += (uint32_t) kBlockSize)
            if (! writeBlock (region, offset, std::min ((uint32_t) kBlockSize, length - offset), image.data() + region.deviceAddress + offset))
                return false;
    }

    return send (finishRequest());
}

bool UpdateDriver::writeBlock (const RegionLayout& region, uint32_t offset, uint32_t length, const uint8_t* bytes)
{
    if (! accepted (headerRequest (region.command, (uint32_t) region.deviceAddress + offset, length), REPLY_OK))
        return false;

    uint32_t sum = 0;

    for (uint32_t at = 0; at < length; at += (uint32_t) kPieceSize)
    {
        const auto pieceLength = std::min ((uint32_t) kPieceSize, length - at);

        if (at + (uint32_t) kPieceSize >= length)
        {
            if (! accepted (lastPieceAnnouncement (region.command, (int) pieceLength), REPLY_OK))
                return false;
        }

        if (! accepted (dataPieceRequest (region.command, bytes + at, (int) pieceLength), REPLY_OK))
            return false;
    }

    for (uint32_t i = 0; i < length; ++i)
        sum += bytes[i];

    if (! accepted (checksumRequest (region.command, sum), REPLY_OK))
        return false;

    for (;;)
    {
        const auto reply = exchange (pollRequest (region.command));

        if (! reply.has_value())
            return false;

        ++count;

        const auto code = readReply (reply->data()).code;

        if (code == REPLY_BLOCK_DONE)
            return true;

        if (code != REPLY_BUSY && code != REPLY_BUSY_ALT)
            return false;
    }
}
