#pragma once

// Builds update-file images in memory: used by make-update-file, the tests,
// the benchmarks and the fuzz target. Not part of the updater itself.

#include "protocol/ByteLayout.h"
#include "update/UpdateFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

/** Fills every content byte of image with a reproducible pseudo-random sequence from seed. */
inline void fillImageFromSeed (std::vector<uint8_t>& image, uint64_t seed)
{
    // splitmix64: cheap, and every seed gives a different, well-spread sequence.
    auto state = seed;

    for (size_t offset = 0; offset < image.size(); offset += 8)
    {
        state += 0x9E3779B97F4A7C15ull;
        auto z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;

        const auto count = std::min<size_t> (8, image.size() - offset);
        std::memcpy (image.data() + offset, &z, count);
    }
}

/** Stores up to four characters of text as the version bytes (missing ones become 0). */
inline void setImageVersion (std::vector<uint8_t>& image, const std::string& text)
{
    for (int64_t i = 0; i < kVersionLength; ++i)
        image[static_cast<size_t> (kVersionOffset + i)] = i < static_cast<int64_t> (text.size()) ? static_cast<uint8_t> (text[static_cast<size_t> (i)]) : 0;
}

/** Stores the date stamp, most significant byte first. */
inline void setImageStamp (std::vector<uint8_t>& image, uint32_t stamp)
{
    writeBigEndian32 (image.data() + kStampOffset, stamp);
}

/** Stores the CRC-16 of everything before the last two bytes, low byte first. */
inline void storeImageCrc (std::vector<uint8_t>& image)
{
    const auto crc = crc16 (image.size() - 2, image.data());
    writeLittleEndian16 (image.data() + image.size() - 2, crc);
}

/** A complete, valid image (when version and stamp are valid) of kImageSize bytes. */
inline std::vector<uint8_t> makeUpdateImage (const std::string& version = "1.02", uint32_t stamp = 0x20261209, uint64_t seed = 1)
{
    std::vector<uint8_t> image (static_cast<size_t> (kImageSize));
    fillImageFromSeed (image, seed);
    setImageVersion (image, version);
    setImageStamp (image, stamp);
    storeImageCrc (image);
    return image;
}
