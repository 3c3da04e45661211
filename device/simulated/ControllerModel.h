#pragma once

#include "protocol/Reports.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/*
    A TRB-Kelo7 controller in software: its flash and its update protocol,
    bytes in and bytes out.

    No threads, no transport, no clock, no locks: one request of 64 bytes goes in
    through handleRequest(), at most one reply of 64 bytes comes out, together with
    what the transport should do about it (answer late, drop off the bus). The
    simulated device library wraps it with a device thread and the HID_*
    functions; the USB library's tests wrap the same class behind an emulated
    hidraw node. The caller serialises all calls (one lock per controller).

    The flash is 2 MiB laid out like the update file: the version text (four
    characters such as "1.00") at 0x1D0000 and the date stamp (four BCD bytes,
    most significant first) at 0x1DFFFC. The info reply is read from there, so
    after an update the controller reports what was written.

    What an interrupted update leaves behind is our model of the hardware, not
    something the hardware's makers describe: the prepare request erases the
    part of the info region it names (its address and length) at once, and from
    then on the version text and the date stamp read as all 0xFF (in the info
    reply and below) until a written block has covered that part again and the
    finish request has arrived. A controller cut off anywhere in between, by a
    removal, a lost reply or an error, keeps reporting an erased version and
    stamp across power cycles, as a real one would after losing power mid-way.

    Protocol, as the updater sees it:
    - status query (F0 00): 0x80.
    - info query (F0 01): 0x82, bytes 2..5 the stamp from flash, byte 6 0x00,
      bytes 7..10 the version text from flash.
    - prepare (Fx 08, address, 0xFF, length): opens an update session, records
      what it was given (see session()) and answers 0x80. A length other than 0
      erases that part of the info region (only the part inside it) and hides
      the version and stamp as told above. Any of the three region commands is
      accepted.
    - block header (Fx 02, address, 0xFF, length): 0x80 when a session is open
      and the block (1..0x20000 bytes) lies inside the region that the command
      byte names (F1 0x000000..0x08FFFF, F2 0x090000..0x10FFFF,
      F7 0x1D0000..0x1DFFFF); otherwise refused with reason 5.
    - data piece (Fx 03): 62 bytes are taken, or, right after a last-piece
      announcement, the announced count. Refused with reason 5 without an open
      block, with a command byte other than the block's, or when the piece
      would run past the block's length.
    - last-piece announcement (Fx 07, count): 0x80 for a count of 1..62,
      otherwise refused with reason 5.
    - block checksum (Fx 04, byte sum little-endian): when fewer bytes than the
      block's length were received, refused with reason 5; when the sum of the
      received bytes differs, refused with reason 2 (and the block is dropped);
      otherwise 0x80 and the block starts being written.
    - poll (Fx 05): while the block is being written, busyCount() polls are
      answered busy, alternately 0x83 and 0x84; the next poll copies the block
      into the flash and answers 0x85. A poll with no block being written is
      refused with reason 5. The flash changes only at that 0x85.
    - finish (F0 06): closes the session and, when the part erased by the
      prepare request has been written again, shows the version and stamp
      once more; no reply. A controller set to keep its old firmware puts its
      flash back as it was before the update instead.
    - anything else: refused with reason 5.
    Byte 0 of every reply repeats byte 0 of the request.

    Scripted faults (addFault) pick the N-th request of a kind, counted from the
    last reset, and change what happens to it; see ScriptedFault.
*/
class ControllerModel final
{
public:
    using Report = WireReport;

    /** Flash size and where the firmware's version text and date stamp live in it. */
    static constexpr size_t kFlashSize = (size_t) kImageSize;
    static constexpr size_t kVersionOffset = (size_t)::kVersionOffset;
    static constexpr size_t kStampOffset = (size_t)::kStampOffset;

    /** What a request is, judged by its bytes 0 and 1. */
    enum class RequestKind
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
        unknown,
        any /**< matches every kind in a ScriptedFault */
    };

    /** What to do instead of the normal answer to one request. */
    struct ScriptedFault
    {
        enum class Action
        {
            reply, /**< not carried out; answered with code and reason instead */
            wrongByte0, /**< carried out; the reply's byte 0 is changed */
            noReply, /**< lost: not carried out, not answered */
            lateReply, /**< carried out; the reply comes delayMs later than usual */
            busyForever, /**< this poll and every later one is answered busy */
            remove, /**< not answered; the device drops off the bus and comes back
                        after delayMs (negative: never) */
            duplicateReply /**< carried out; the reply is sent twice, so the second copy
                                arrives when no request waits for it */
        };

        RequestKind kind = RequestKind::any;
        int occurrence = 1; /**< 1 = the first request of that kind since the last reset */
        Action action = Action::reply;
        uint8_t code = 0x81; /**< reply: byte 1 */
        uint8_t reason = 5; /**< reply: byte 2 */
        int delayMs = 0; /**< lateReply: extra delay; remove: time until plugged in again */
    };

    /** What handleRequest() produced. */
    struct Outcome
    {
        bool hasReply = false;
        Report reply {};
        int extraDelayMs = 0; /**< answer this much later than the usual latency */
        bool removeDevice = false; /**< take the device off the bus now */
        int replugAfterMs = -1; /**< with removeDevice: plug it in again after this (negative: never) */
        bool duplicate = false; /**< send the reply a second time right after the first */
    };

    /** One received request, as logged. */
    struct LoggedRequest
    {
        RequestKind kind = RequestKind::unknown;
        Report bytes {};
    };

    /** The update session opened by prepare, as the controller recorded it. */
    struct Session
    {
        bool open = false;
        uint8_t command = 0;
        uint32_t address = 0;
        uint32_t length = 0;
    };

    /** A controller with erased flash (0xFF) holding firmware "1.00" of 2024-01-01, never busy. */
    ControllerModel();

    /** Erases the flash and installs a firmware with this version text (first four characters)
        and date stamp. Ends any session. */
    void installFirmware (const std::string& versionText, uint32_t stamp);

    /** Replaces the flash with an image (shorter images are padded with 0xFF, longer ones cut). */
    void loadFlash (const uint8_t* data, size_t size);

    /** The flash as it is now. */
    const std::vector<uint8_t>& flash() const noexcept { return flashImage; }

    /** The version text and date stamp as the info reply would report them (all 0xFF
        while an update is unfinished). */
    std::string installedVersion() const;
    uint32_t installedStamp() const;

    /** False from a prepare request that erased part of the info region until the finish
        request that follows its rewriting. */
    bool infoShown() const noexcept { return infoValid; }

    /** A version word for HID_GetFirmwareVersion: the version digits as BCD, "1.02" -> 0x0102. */
    uint32_t firmwareWord() const;

    /** A controller on which an update does not take: the finish request puts back the
        flash as it was before the first prepare request since the last finish, so it goes
        on reporting its old version and stamp. */
    void setKeepsOldFirmware (bool keeps) noexcept { keepsOldFirmware = keeps; }

    /** Polls answered busy per block before it is written; negative: busy for ever. */
    void setBusyCount (int count) noexcept { busyCount = count; }
    int getBusyCount() const noexcept { return busyCount; }

    void addFault (const ScriptedFault& fault) { faults.push_back (fault); }

    /** Forgets the faults, the request counts and the log; the flash stays. */
    void resetScript();

    /** What a power cycle does (the device was unplugged): the session and any block in
        progress are lost; flash, faults, counts and log stay. */
    void powerCycle();

    /** Takes one request and decides the answer. length is what the host wrote; anything
        other than 64 bytes is refused with reason 5 (and logged with its bytes zero-padded). */
    Outcome handleRequest (const uint8_t* request, size_t length);

    /** Every request received since the last reset, in order; empty while the log is not kept. */
    const std::vector<LoggedRequest>& requests() const noexcept { return log; }

    /** Whether requests() grows with every request (the default). A whole update is some
        25,000 requests: a program that reads no log keeps none. */
    void setKeepsLog (bool keeps) noexcept { keepsLog = keeps; }

    /** How many requests of this kind arrived since the last reset. */
    int requestCount (RequestKind kind) const noexcept;

    /** How many blocks were written into the flash, and how many finish requests arrived. */
    int blocksWritten() const noexcept { return blockCount; }
    int finishCount() const noexcept { return finishes; }

    const Session& session() const noexcept { return currentSession; }

    static RequestKind kindOf (const uint8_t* request) noexcept;

    /** A short name for logs and scenario files ("status", "info", "prepare", "header",
        "data", "last", "checksum", "poll", "finish", "unknown", "any"). */
    static const char* kindName (RequestKind kind) noexcept;

    /** The kind named by kindName(); false when the name is unknown. */
    static bool kindFromName (const std::string& name, RequestKind& kind) noexcept;

private:
    enum class BlockState
    {
        none,
        receiving,
        writing
    };

    Report carryOut (RequestKind kind, const uint8_t* request);
    Report answerBlockHeader (const uint8_t* request);
    Report answerDataPiece (const uint8_t* request);
    Report answerChecksum (const uint8_t* request);
    Report answerPoll (const uint8_t* request);
    void eraseInfoPart (uint32_t address, uint32_t length);
    uint8_t infoByte (size_t offset) const noexcept;
    const ScriptedFault* faultFor (RequestKind kind) const noexcept;

    std::vector<uint8_t> flashImage;
    // Kept in flash, so a power cycle does not change them.
    bool infoValid = true;
    bool infoRewritten = false;
    uint32_t erasedFirst = 0, erasedEnd = 0;
    int busyCount = 0;
    bool busyForever = false;
    bool keepsOldFirmware = false;
    std::vector<uint8_t> flashBeforeUpdate; // with keepsOldFirmware, from the prepare to the finish

    Session currentSession;
    BlockState blockState = BlockState::none;
    uint8_t blockCommand = 0;
    uint32_t blockAddress = 0;
    std::vector<uint8_t> blockData;
    uint32_t blockLength = 0;
    int announcedLast = 0;
    int busyLeft = 0;
    int busyReplies = 0;

    std::vector<ScriptedFault> faults;
    std::array<int, 10> counts {};
    std::vector<LoggedRequest> log;
    bool keepsLog = true;
    int blockCount = 0;
    int finishes = 0;
};
