#pragma once

#include "protocol/ByteLayout.h"
#include "protocol/ImageLayout.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

// Every request and reply of the update protocol, built and read in one place:
// the update procedure builds the requests and reads the replies, the simulated
// controller reads the requests and builds the replies. Pure functions over
// 64-byte reports: any thread, no failures (a reader reads whatever the bytes say).

using WireReport = std::array<uint8_t, kReportSize>;

//==============================================================================
// Requests, as the host builds them.

namespace wire_detail
{
inline WireReport request (uint8_t command, uint8_t subCommand) noexcept
{
    WireReport report {};
    report[kOffsetCommand] = command;
    report[kOffsetSubCommand] = subCommand;
    return report;
}

// Prepare and block header: address, the marker, length.
inline WireReport addressed (uint8_t command, uint8_t subCommand, uint32_t address, uint32_t length) noexcept
{
    auto report = request (command, subCommand);
    writeLittleEndian32 (report.data() + kOffsetAddress, address);
    report[kOffsetMarker] = kAddressMarker;
    writeLittleEndian32 (report.data() + kOffsetLength, length);
    return report;
}
} // namespace wire_detail

/** The status query: is the controller ready for an update. */
inline WireReport statusQuery() noexcept { return wire_detail::request (CMD_CONTROL, SUB_STATUS); }

/** The info query: the controller's date stamp and version text. */
inline WireReport infoQuery() noexcept { return wire_detail::request (CMD_CONTROL, SUB_INFO); }

/** What the prepare request names: the part of the info region that the update rewrites,
    which depends on the first region written (the info region always comes last). */
struct PrepareTarget
{
    uint32_t address = 0, length = 0;
};

/** The prepare target when firstRegion (REGION_MAIN, REGION_EXTRA or REGION_INFO) is the
    first one written: main means the whole info region, extra (equal stamps) its head,
    info alone nothing. */
inline PrepareTarget prepareTarget (int firstRegion) noexcept
{
    const auto& info = kRegions[REGION_INFO];

    switch (firstRegion)
    {
        case REGION_MAIN:
            return { (uint32_t) info.deviceAddress, (uint32_t) info.length };
        case REGION_EXTRA:
            return { (uint32_t) info.deviceAddress, (uint32_t) kInfoPartialLength };
        default:
            return {};
    }
}

/** The prepare request that opens an update whose first region is firstRegion; it carries
    that region's command byte and its prepareTarget(). */
inline WireReport prepareRequest (int firstRegion) noexcept
{
    const auto target = prepareTarget (firstRegion);
    const auto index = std::clamp (firstRegion, 0, kRegionCount - 1);
    return wire_detail::addressed (kRegions[(size_t) index].command, SUB_PREPARE, target.address, target.length);
}

/** The block header: the block of length bytes at the controller address follows. */
inline WireReport headerRequest (uint8_t command, uint32_t address, uint32_t length) noexcept
{
    return wire_detail::addressed (command, SUB_BLOCK, address, length);
}

/** A data piece of count bytes (at most kPieceSize); the rest of the report stays 0. */
inline WireReport dataPieceRequest (uint8_t command, const uint8_t* bytes, int count) noexcept
{
    auto report = wire_detail::request (command, SUB_DATA);
    std::memcpy (report.data() + kOffsetData, bytes, (size_t) std::clamp (count, 0, kPieceSize));
    return report;
}

/** The announcement that the next data piece is the block's last and holds count bytes. */
inline WireReport lastPieceAnnouncement (uint8_t command, int count) noexcept
{
    auto report = wire_detail::request (command, SUB_LAST);
    report[kOffsetReason] = (uint8_t) count;
    return report;
}

/** The block's byte sum, which the controller checks before it writes the block. */
inline WireReport checksumRequest (uint8_t command, uint32_t sum) noexcept
{
    auto report = wire_detail::request (command, SUB_CHECKSUM);
    writeLittleEndian32 (report.data() + kOffsetAddress, sum);
    return report;
}

/** The poll: is the block written yet. */
inline WireReport pollRequest (uint8_t command) noexcept { return wire_detail::request (command, SUB_POLL); }

/** The finish request, which ends the update (no reply). */
inline WireReport finishRequest() noexcept { return wire_detail::request (CMD_CONTROL, SUB_FINISH); }

//==============================================================================
// Requests, as the controller reads them.

/** The request kinds, judged by bytes 0 and 1. */
enum class WireRequest
{
    statusQuery,
    infoQuery,
    prepare,
    blockHeader,
    dataPiece,
    lastPiece,
    checksum,
    poll,
    finish,
    unknown
};

/** The kind of request: control commands carry the queries and the finish, region
    commands the rest; anything else is unknown. */
inline WireRequest requestKind (const uint8_t* request) noexcept
{
    const auto command = request[kOffsetCommand];
    const auto sub = request[kOffsetSubCommand];

    if (command == CMD_CONTROL)
    {
        switch (sub)
        {
            case SUB_STATUS:
                return WireRequest::statusQuery;
            case SUB_INFO:
                return WireRequest::infoQuery;
            case SUB_FINISH:
                return WireRequest::finish;
            default:
                return WireRequest::unknown;
        }
    }

    if (regionOfCommand (command) < 0)
        return WireRequest::unknown;

    switch (sub)
    {
        case SUB_PREPARE:
            return WireRequest::prepare;
        case SUB_BLOCK:
            return WireRequest::blockHeader;
        case SUB_DATA:
            return WireRequest::dataPiece;
        case SUB_LAST:
            return WireRequest::lastPiece;
        case SUB_CHECKSUM:
            return WireRequest::checksum;
        case SUB_POLL:
            return WireRequest::poll;
        default:
            return WireRequest::unknown;
    }
}

/** The address and length of a prepare request or a block header. */
struct AddressedRange
{
    uint32_t address = 0, length = 0;
};

inline AddressedRange readAddressedRequest (const uint8_t* request) noexcept
{
    return { readLittleEndian32 (request + kOffsetAddress), readLittleEndian32 (request + kOffsetLength) };
}

/** The byte sum of a checksum request. */
inline uint32_t readChecksumRequest (const uint8_t* request) noexcept { return readLittleEndian32 (request + kOffsetAddress); }

/** The count of a last-piece announcement. */
inline int readLastPieceCount (const uint8_t* request) noexcept { return request[kOffsetReason]; }

/** The first of a data piece's bytes. */
inline const uint8_t* dataPieceBytes (const uint8_t* request) noexcept { return request + kOffsetData; }

//==============================================================================
// Replies, as the controller builds them.

/** A reply to a request with command byte command: a code and, for a refusal, its reason. */
inline WireReport makeReply (uint8_t command, uint8_t code, uint8_t reason = 0) noexcept
{
    auto report = wire_detail::request (command, code);
    report[kOffsetReason] = reason;
    return report;
}

/** The info reply: the date stamp (most significant byte first) and the four version bytes. */
inline WireReport infoReply (uint8_t command, const uint8_t* stampBytes, const uint8_t* versionBytes) noexcept
{
    auto report = makeReply (command, REPLY_INFO);
    std::memcpy (report.data() + kOffsetInfoStamp, stampBytes, (size_t) kStampLength);
    std::memcpy (report.data() + kOffsetInfoVersion, versionBytes, (size_t) kVersionLength);
    return report;
}

//==============================================================================
// Replies, as the host reads them.

/** Bytes 0 to 2 of any reply: the repeated command byte, the reply code and the reason. */
struct ReplyHead
{
    uint8_t command = 0, code = 0, reason = 0;

    bool isProtocolRefusal() const noexcept { return code == REPLY_REFUSED && reason == REASON_PROTOCOL; }
};

inline ReplyHead readReply (const uint8_t* reply) noexcept
{
    return { reply[kOffsetCommand], reply[kOffsetSubCommand], reply[kOffsetReason] };
}

/** The reply to the status query: its head (REPLY_OK, or a refusal with its reason). */
inline ReplyHead readStatusReply (const uint8_t* reply) noexcept { return readReply (reply); }

/** What an info reply holds: the date stamp and the four version bytes as sent. */
struct InfoReply
{
    uint32_t stamp = 0;
    std::array<uint8_t, kVersionLength> versionBytes {};
};

inline InfoReply readInfoReply (const uint8_t* reply) noexcept
{
    InfoReply info;
    info.stamp = readBigEndian32 (reply + kOffsetInfoStamp);
    std::memcpy (info.versionBytes.data(), reply + kOffsetInfoVersion, info.versionBytes.size());
    return info;
}
