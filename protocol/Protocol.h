#pragma once

#include <cstdint>

// The controller's update protocol: every request and every reply is one
// 64-byte report. Byte 0 of a request is the command (the whole controller, or
// the region concerned), byte 1 the sub-command; multi-byte numbers in requests
// are little-endian. Byte 0 of a reply repeats the request's, byte 1 is the
// reply code, byte 2 the reason of a refusal.

inline constexpr int kReportSize = 64;

// Command bytes: the whole controller, then one per region of the update file.
inline constexpr uint8_t CMD_CONTROL = 0xF0;
inline constexpr uint8_t CMD_MAIN = 0xF1;
inline constexpr uint8_t CMD_EXTRA = 0xF2;
inline constexpr uint8_t CMD_INFO = 0xF7;

// Sub-commands (byte 1 of a request).
inline constexpr uint8_t SUB_STATUS = 0x00;
inline constexpr uint8_t SUB_INFO = 0x01;
inline constexpr uint8_t SUB_BLOCK = 0x02;
inline constexpr uint8_t SUB_DATA = 0x03;
inline constexpr uint8_t SUB_CHECKSUM = 0x04;
inline constexpr uint8_t SUB_POLL = 0x05;
inline constexpr uint8_t SUB_FINISH = 0x06;
inline constexpr uint8_t SUB_LAST = 0x07;
inline constexpr uint8_t SUB_PREPARE = 0x08;

// Reply codes (byte 1 of a reply).
inline constexpr uint8_t REPLY_OK = 0x80;
inline constexpr uint8_t REPLY_REFUSED = 0x81;
inline constexpr uint8_t REPLY_INFO = 0x82;
inline constexpr uint8_t REPLY_BUSY = 0x83;
inline constexpr uint8_t REPLY_BUSY_ALT = 0x84;
inline constexpr uint8_t REPLY_BLOCK_DONE = 0x85;

// Refusal reasons (byte 2 of a refusal); reason 5 is a protocol error for any request.
inline constexpr uint8_t REASON_PROTOCOL = 5;

// Byte 6 of the prepare request and the block header.
inline constexpr uint8_t kAddressMarker = 0xFF;

// Offsets of the fields inside a report.
inline constexpr int kOffsetCommand = 0;
inline constexpr int kOffsetSubCommand = 1;
inline constexpr int kOffsetReason = 2; // refusal reason, last-piece count
inline constexpr int kOffsetAddress = 2; // prepare, block header: address; checksum: byte sum
inline constexpr int kOffsetMarker = 6; // prepare, block header: kAddressMarker
inline constexpr int kOffsetLength = 7; // prepare, block header: length
inline constexpr int kOffsetData = 2; // data piece: the bytes
inline constexpr int kOffsetInfoStamp = 2; // info reply: date stamp, most significant byte first
inline constexpr int kOffsetInfoVersion = 7; // info reply: version text, four characters

// Sizes and times of the transfer.
inline constexpr int kBlockSize = 0x20000;
inline constexpr int kPieceSize = 62;
inline constexpr int kReplyTimeoutMs = 10000;
inline constexpr int kStepIntervalMs = 1;
inline constexpr int kPollIntervalMs = 100;
inline constexpr int kBusyPollLimitMs = 60000; // all the busy replies to one block's polls
inline constexpr int kStopTimeoutMs = 5000;
inline constexpr int kRemovalPauseMs = 100;
// After the finish request: how long the controller may take to restart (or not)
// and answer the one info query that confirms the write.
inline constexpr int kConfirmWaitMs = 15000;
// A confirming query that could not be sent, or got an answer that is not an info
// reply (a controller still starting), is asked again this much later.
inline constexpr int kConfirmRetryMs = 100;
