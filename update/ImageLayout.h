#pragma once

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
