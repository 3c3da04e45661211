#include "device/simulated/ControllerModel.h"

#include "protocol/Reports.h"

#include <algorithm>
#include <cstring>

namespace
{
constexpr uint8_t kErased = 0xFF;
constexpr const char* kDefaultVersion = "1.00";
constexpr uint32_t kDefaultStamp = 0x20240101;
constexpr uint8_t kReasonChecksum = 2;
// A reply byte 0 that no request carries: flips the lowest bit of the command.
constexpr uint8_t kWrongByte0Mask = 0x01;

constexpr const char* kKindNames[] = { "status", "info", "prepare", "header", "data", "last",
                                       "checksum", "poll", "finish", "unknown", "any" };

// The request kinds of the model are the protocol's, in the same order, and one more.
static_assert ((int) ControllerModel::RequestKind::unknown == (int) WireRequest::unknown);
static_assert ((int) ControllerModel::RequestKind::statusQuery == (int) WireRequest::statusQuery);
} // namespace

ControllerModel::ControllerModel()
{
    installFirmware (kDefaultVersion, kDefaultStamp);
}

void ControllerModel::installFirmware (const std::string& versionText, uint32_t stamp)
{
    flashImage.assign (kFlashSize, kErased);

    for (size_t i = 0; i < (size_t) kVersionLength; ++i)
        flashImage[kVersionOffset + i] = i < versionText.size() ? (uint8_t) versionText[i] : 0;

    writeBigEndian32 (flashImage.data() + kStampOffset, stamp);

    infoValid = true;
    infoRewritten = false;
    powerCycle();
}

void ControllerModel::loadFlash (const uint8_t* data, size_t size)
{
    flashImage.assign (kFlashSize, kErased);

    if (data != nullptr)
        std::memcpy (flashImage.data(), data, std::min (size, kFlashSize));

    infoValid = true;
    infoRewritten = false;
    powerCycle();
}

uint8_t ControllerModel::infoByte (size_t offset) const noexcept
{
    return infoValid ? flashImage[offset] : kErased;
}

void ControllerModel::eraseInfoPart (uint32_t address, uint32_t length)
{
    const auto& info = kRegions[REGION_INFO];
    const auto first = std::max (address, (uint32_t) info.deviceAddress);
    const auto end = (uint32_t) std::min<uint64_t> ((uint64_t) address + length, (uint64_t) info.deviceEnd());

    if (length == 0 || first >= end)
        return;

    std::fill (flashImage.begin() + first, flashImage.begin() + end, kErased);
    erasedFirst = first;
    erasedEnd = end;
    infoValid = false;
    infoRewritten = false;
}

std::string ControllerModel::installedVersion() const
{
    std::string text;

    for (int i = 0; i < kVersionLength; ++i)
        text += (char) infoByte (kVersionOffset + (size_t) i);

    return text;
}

uint32_t ControllerModel::installedStamp() const
{
    uint8_t bytes[kStampLength] {};

    for (size_t i = 0; i < (size_t) kStampLength; ++i)
        bytes[i] = infoByte (kStampOffset + i);

    return readBigEndian32 (bytes);
}

uint32_t ControllerModel::firmwareWord() const
{
    // "d.dd" -> 0x0ddd; anything that is not a digit counts as 0.
    auto digit = [this] (int index) -> uint32_t
    {
        auto c = infoByte (kVersionOffset + (size_t) index);
        return (c >= '0' && c <= '9') ? (uint32_t) (c - '0') : 0;
    };

    return (digit (0) << 8) | (digit (2) << 4) | digit (3);
}

void ControllerModel::resetScript()
{
    faults.clear();
    counts.fill (0);
    log.clear();
    busyForever = false;
    blockCount = 0;
    finishes = 0;
}

void ControllerModel::powerCycle()
{
    currentSession = {};
    blockState = BlockState::none;
    blockData.clear();
    blockLength = 0;
    announcedLast = 0;
    busyLeft = 0;
}

int ControllerModel::requestCount (RequestKind kind) const noexcept
{
    if (kind == RequestKind::any)
    {
        int total = 0;

        for (auto count : counts)
            total += count;

        return total;
    }

    return counts[(size_t) kind];
}

ControllerModel::RequestKind ControllerModel::kindOf (const uint8_t* request) noexcept
{
    return (RequestKind) requestKind (request);
}

const char* ControllerModel::kindName (RequestKind kind) noexcept
{
    return kKindNames[(size_t) kind];
}

bool ControllerModel::kindFromName (const std::string& name, RequestKind& kind) noexcept
{
    for (size_t i = 0; i < std::size (kKindNames); ++i)
    {
        if (name == kKindNames[i])
        {
            kind = (RequestKind) i;
            return true;
        }
    }

    return false;
}

const ControllerModel::ScriptedFault* ControllerModel::faultFor (RequestKind kind) const noexcept
{
    for (auto& fault : faults)
    {
        const auto seen = fault.kind == RequestKind::any ? requestCount (RequestKind::any) : counts[(size_t) kind];

        if ((fault.kind == kind || fault.kind == RequestKind::any) && fault.occurrence == seen)
            return &fault;
    }

    return nullptr;
}

ControllerModel::Outcome ControllerModel::handleRequest (const uint8_t* request, size_t length)
{
    LoggedRequest entry;

    if (request != nullptr)
        std::memcpy (entry.bytes.data(), request, std::min (length, entry.bytes.size()));

    entry.kind = length == entry.bytes.size() ? kindOf (entry.bytes.data()) : RequestKind::unknown;
    if (keepsLog)
        log.push_back (entry);
    ++counts[(size_t) entry.kind];

    const auto kind = entry.kind;
    const auto* bytes = entry.bytes.data();
    Outcome outcome;

    if (const auto* fault = faultFor (kind))
    {
        using Action = ScriptedFault::Action;

        switch (fault->action)
        {
            case Action::reply:
                outcome.hasReply = true;
                outcome.reply = makeReply (bytes[kOffsetCommand], fault->code, fault->reason);
                return outcome;

            case Action::noReply:
                return outcome;

            case Action::remove:
                outcome.removeDevice = true;
                outcome.replugAfterMs = fault->delayMs;
                return outcome;

            case Action::busyForever:
                busyForever = true;
                break;

            case Action::wrongByte0:
            case Action::lateReply:
            case Action::duplicateReply:
                break;
        }

        const auto reply = carryOut (kind, bytes);

        if (kind != RequestKind::finish)
        {
            outcome.hasReply = true;
            outcome.reply = reply;
        }

        if (fault->action == Action::wrongByte0)
            outcome.reply[kOffsetCommand] = (uint8_t) (outcome.reply[kOffsetCommand] ^ kWrongByte0Mask);
        else if (fault->action == Action::lateReply)
            outcome.extraDelayMs = fault->delayMs;
        else if (fault->action == Action::duplicateReply)
            outcome.duplicate = outcome.hasReply;

        return outcome;
    }

    const auto reply = carryOut (kind, bytes);

    // The finish request is the only one the host does not wait on.
    if (kind != RequestKind::finish)
    {
        outcome.hasReply = true;
        outcome.reply = reply;
    }

    return outcome;
}

ControllerModel::Report ControllerModel::carryOut (RequestKind kind, const uint8_t* request)
{
    const auto command = request[kOffsetCommand];

    switch (kind)
    {
        case RequestKind::statusQuery:
            return makeReply (command, REPLY_OK);

        case RequestKind::infoQuery:
        {
            uint8_t stamp[kStampLength] {}, version[kVersionLength] {};

            for (size_t i = 0; i < (size_t) kStampLength; ++i)
                stamp[i] = infoByte (kStampOffset + i);

            for (size_t i = 0; i < (size_t) kVersionLength; ++i)
                version[i] = infoByte (kVersionOffset + i);

            return infoReply (command, stamp, version);
        }

        case RequestKind::prepare:
            if (keepsOldFirmware && flashBeforeUpdate.empty())
                flashBeforeUpdate = flashImage;

            powerCycle();
            currentSession.open = true;
            currentSession.command = command;
            {
                const auto range = readAddressedRequest (request);
                currentSession.address = range.address;
                currentSession.length = range.length;
                eraseInfoPart (currentSession.address, currentSession.length);
                return makeReply (command, REPLY_OK);
            }

        case RequestKind::blockHeader:
            return answerBlockHeader (request);

        case RequestKind::dataPiece:
            return answerDataPiece (request);

        case RequestKind::lastPiece:
        {
            const int count = readLastPieceCount (request);

            if (blockState != BlockState::receiving || command != blockCommand || count < 1 || count > kPieceSize)
                return makeReply (command, REPLY_REFUSED, REASON_PROTOCOL);

            announcedLast = count;
            return makeReply (command, REPLY_OK);
        }

        case RequestKind::checksum:
            return answerChecksum (request);

        case RequestKind::poll:
            return answerPoll (request);

        case RequestKind::finish:
            ++finishes;

            if (infoRewritten)
                infoValid = true;

            if (! flashBeforeUpdate.empty())
            {
                flashImage.swap (flashBeforeUpdate);
                flashBeforeUpdate.clear();
                infoValid = true;
                infoRewritten = false;
            }

            powerCycle();
            return {};

        case RequestKind::unknown:
        case RequestKind::any:
            break;
    }

    return makeReply (command, REPLY_REFUSED, REASON_PROTOCOL);
}

ControllerModel::Report ControllerModel::answerBlockHeader (const uint8_t* request)
{
    const auto command = request[kOffsetCommand];
    const auto [address, length] = readAddressedRequest (request);
    const auto region = regionOfCommand (command);

    // Inside the region that the command byte names.
    const auto first = region >= 0 ? (uint64_t) kRegions[(size_t) region].deviceAddress : 0;
    const auto end = region >= 0 ? (uint64_t) kRegions[(size_t) region].deviceEnd() : 0;
    const bool fits = region >= 0 && length >= 1 && length <= (uint32_t) kBlockSize
                      && address >= first && (uint64_t) address + length <= end;

    if (! currentSession.open || blockState == BlockState::writing || ! fits)
        return makeReply (command, REPLY_REFUSED, REASON_PROTOCOL);

    blockState = BlockState::receiving;
    blockCommand = command;
    blockAddress = address;
    blockLength = length;
    blockData.clear();
    blockData.reserve (length);
    announcedLast = 0;
    return makeReply (command, REPLY_OK);
}

ControllerModel::Report ControllerModel::answerDataPiece (const uint8_t* request)
{
    const auto command = request[kOffsetCommand];
    const auto count = (size_t) (announcedLast > 0 ? announcedLast : kPieceSize);

    if (blockState != BlockState::receiving || command != blockCommand || blockData.size() + count > blockLength)
        return makeReply (command, REPLY_REFUSED, REASON_PROTOCOL);

    const auto* piece = dataPieceBytes (request);
    blockData.insert (blockData.end(), piece, piece + count);
    announcedLast = 0;
    return makeReply (command, REPLY_OK);
}

ControllerModel::Report ControllerModel::answerChecksum (const uint8_t* request)
{
    const auto command = request[kOffsetCommand];

    if (blockState != BlockState::receiving || command != blockCommand || blockData.size() != blockLength)
        return makeReply (command, REPLY_REFUSED, REASON_PROTOCOL);

    uint32_t sum = 0;

    for (auto byte : blockData)
        sum += byte;

    if (sum != readChecksumRequest (request))
    {
        blockState = BlockState::none;
        blockData.clear();
        return makeReply (command, REPLY_REFUSED, kReasonChecksum);
    }

    blockState = BlockState::writing;
    busyLeft = busyCount;
    busyReplies = 0;
    return makeReply (command, REPLY_OK);
}

ControllerModel::Report ControllerModel::answerPoll (const uint8_t* request)
{
    const auto command = request[kOffsetCommand];

    if (blockState != BlockState::writing || command != blockCommand)
        return makeReply (command, REPLY_REFUSED, REASON_PROTOCOL);

    if (busyForever || busyCount < 0 || busyLeft > 0)
    {
        if (busyLeft > 0)
            --busyLeft;

        return makeReply (command, (busyReplies++ % 2) == 0 ? REPLY_BUSY : REPLY_BUSY_ALT);
    }

    std::copy (blockData.begin(), blockData.end(), flashImage.begin() + (std::ptrdiff_t) blockAddress);

    if (! infoValid && blockAddress <= erasedFirst && blockAddress + blockLength >= erasedEnd)
        infoRewritten = true;

    blockState = BlockState::none;
    blockData.clear();
    ++blockCount;
    return makeReply (command, REPLY_BLOCK_DONE);
}
