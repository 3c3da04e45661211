#include "protocol/Crc16.h"

#include <array>

namespace
{
constexpr uint16_t kCrcPolynomial = 0x1021;
constexpr size_t kCrcSlices = 16;

using CrcTables = std::array<std::array<uint16_t, 256>, kCrcSlices>;

// tables[k][b] is the CRC contribution of byte b followed by k zero bytes, so
// sixteen bytes can be folded in with sixteen independent look-ups.
constexpr CrcTables makeCrcTables()
{
    CrcTables tables {};

    for (uint32_t byte = 0; byte < 256; ++byte)
    {
        uint32_t crc = byte << 8;

        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ kCrcPolynomial : crc << 1;

        tables[0][byte] = static_cast<uint16_t> (crc);
    }

    for (size_t k = 1; k < kCrcSlices; ++k)
        for (size_t byte = 0; byte < 256; ++byte)
        {
            const auto previous = tables[k - 1][byte];
            tables[k][byte] = static_cast<uint16_t> ((previous << 8) ^ tables[0][previous >> 8]);
        }

    return tables;
}

constexpr CrcTables kCrcTables = makeCrcTables();
} // namespace

uint16_t crc16 (size_t length, const void* data) noexcept
{
    const auto* bytes = static_cast<const uint8_t*> (data);
    uint32_t crc = 0;

    while (length >= kCrcSlices)
    {
        // The running CRC lines up with the first two bytes of the slice.
        const auto first = static_cast<uint32_t> (bytes[0] ^ (crc >> 8));
        const auto second = static_cast<uint32_t> (bytes[1] ^ (crc & 0xFFu));

        crc = static_cast<uint32_t> (kCrcTables[15][first] ^ kCrcTables[14][second]
                                     ^ kCrcTables[13][bytes[2]] ^ kCrcTables[12][bytes[3]]
                                     ^ kCrcTables[11][bytes[4]] ^ kCrcTables[10][bytes[5]]
                                     ^ kCrcTables[9][bytes[6]] ^ kCrcTables[8][bytes[7]]
                                     ^ kCrcTables[7][bytes[8]] ^ kCrcTables[6][bytes[9]]
                                     ^ kCrcTables[5][bytes[10]] ^ kCrcTables[4][bytes[11]]
                                     ^ kCrcTables[3][bytes[12]] ^ kCrcTables[2][bytes[13]]
                                     ^ kCrcTables[1][bytes[14]] ^ kCrcTables[0][bytes[15]]);

        bytes += kCrcSlices;
        length -= kCrcSlices;
    }

    while (length-- > 0)
        crc = ((crc << 8) ^ kCrcTables[0][((crc >> 8) ^ *bytes++) & 0xFFu]) & 0xFFFFu;

    return static_cast<uint16_t> (crc);
}

uint16_t crc16Bitwise (size_t length, const void* data) noexcept
{
    constexpr uint32_t augmentedPolynomial = 0x1102100;
    constexpr uint32_t topBit = 0x1000000;

    const auto* bytes = static_cast<const uint8_t*> (data);
    uint32_t accumulator = 0;

    const auto shiftEight = [&accumulator]
    {
        for (int bit = 0; bit < 8; ++bit)
        {
            accumulator <<= 1;

            if ((accumulator & topBit) != 0)
                accumulator ^= augmentedPolynomial;
        }
    };

    for (size_t i = 0; i < length; ++i)
    {
        accumulator |= bytes[i];
        shiftEight();
    }

    // Two zero bytes push the last data bits through the register.
    shiftEight();
    shiftEight();

    return static_cast<uint16_t> (accumulator >> 8);
}
