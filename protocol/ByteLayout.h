#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstring>

// How numbers lie in the update file and in the reports: the date stamp is
// big-endian (its BCD digits in reading order), every address, length and sum
// of a request is little-endian, and so is the file's CRC. These helpers are
// the one place that packs and unpacks them.

/** The 32-bit big-endian number at source (4 bytes). Any thread. */
inline uint32_t readBigEndian32 (const uint8_t* source) noexcept
{
    return juce::ByteOrder::bigEndianInt (source);
}

/** The 32-bit little-endian number at source (4 bytes). Any thread. */
inline uint32_t readLittleEndian32 (const uint8_t* source) noexcept
{
    return juce::ByteOrder::littleEndianInt (source);
}

/** The 16-bit little-endian number at source (2 bytes). Any thread. */
inline uint16_t readLittleEndian16 (const uint8_t* source) noexcept
{
    return juce::ByteOrder::littleEndianShort (source);
}

/** Stores value at destination (4 bytes), most significant byte first. Any thread. */
inline void writeBigEndian32 (uint8_t* destination, uint32_t value) noexcept
{
    const auto ordered = juce::ByteOrder::swapIfLittleEndian (value);
    std::memcpy (destination, &ordered, sizeof (ordered));
}

/** Stores value at destination (2 bytes), least significant byte first. Any thread. */
inline void writeLittleEndian16 (uint8_t* destination, uint16_t value) noexcept
{
    const auto ordered = juce::ByteOrder::swapIfBigEndian (value);
    std::memcpy (destination, &ordered, sizeof (ordered));
}

/** Stores value at destination (4 bytes), least significant byte first. Any thread. */
inline void writeLittleEndian32 (uint8_t* destination, uint32_t value) noexcept
{
    const auto ordered = juce::ByteOrder::swapIfBigEndian (value);
    std::memcpy (destination, &ordered, sizeof (ordered));
}
