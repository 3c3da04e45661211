#pragma once

#include "protocol/Protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The update file: one 2 MiB image, laid out as the controller's flash. It
// holds the three regions written into the controller, the version text, the
// BCD date stamp and a CRC-16 over the rest.
//
//   0x000000  0x090000  REGION_MAIN
//   0x090000  0x080000  REGION_EXTRA
//   0x110000  0x0C0000  not written; covered by the CRC
//   0x1D0000  0x010000  REGION_INFO: version text at 0x1D0000, date stamp at 0x1DFFFC
//   0x1E0000  0x01FFFE  not written; covered by the CRC
//   0x1FFFFE  2         CRC-16 of everything before it, low byte first
inline constexpr int64_t kImageSize = 0x200000;
inline constexpr int64_t kVersionOffset = 0x1D0000;
inline constexpr int64_t kVersionLength = 4;
inline constexpr int64_t kStampOffset = 0x1DFFFC;
inline constexpr int64_t kStampLength = 4;
inline constexpr int64_t kCrcOffset = kImageSize - 2;

// Indices of the three regions in the region table, in the order they are written.
inline constexpr int REGION_MAIN = 0;
inline constexpr int REGION_EXTRA = 1;
inline constexpr int REGION_INFO = 2;
inline constexpr int kRegionCount = 3;

/** Where a region lies in the file and in the controller, and which command byte names it. */
struct RegionLayout
{
    int64_t length;
    int64_t fileOffset;
    int64_t deviceAddress;
    uint8_t command;

    /** The controller address just past the region. */
    constexpr int64_t deviceEnd() const noexcept { return deviceAddress + length; }
};

/** The one region table, indexed by REGION_MAIN, REGION_EXTRA and REGION_INFO: what the
    update writes, and where the controller lets each region command write. */
inline constexpr std::array<RegionLayout, kRegionCount> kRegions { {
    { 0x90000, 0x000000, 0x000000, CMD_MAIN },
    { 0x80000, 0x090000, 0x090000, CMD_EXTRA },
    { 0x10000, 0x1D0000, 0x1D0000, CMD_INFO },
} };

/** The index of the region that command names, or -1 for a byte that names none. Any thread. */
constexpr int regionOfCommand (uint8_t command) noexcept
{
    for (int i = 0; i < kRegionCount; ++i)
        if (kRegions[(std::size_t) i].command == command)
            return i;

    return -1;
}

// With equal date stamps only the head of the info region is rewritten.
inline constexpr int64_t kInfoPartialLength = 0x1000;
