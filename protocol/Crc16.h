#pragma once

#include <cstddef>
#include <cstdint>

/**
    CRC-16/XMODEM of the first length bytes of data: polynomial 0x1021, initial
    value 0, most significant bit first, no reflection, no final exclusive-or.
    0x31C3 over the nine bytes "123456789", 0 over nothing.

    This is the checksum that guards the whole update file. It runs sixteen
    bytes per step from tables built at compile time. Pure function: any
    thread, never fails; data may be null when length is 0.
*/
uint16_t crc16 (size_t length, const void* data) noexcept;

/**
    The same value computed the slow way, bit by bit in the augmented form the
    controller's maker describes; kept as the reference that the fast form is
    tested and fuzzed against. Any thread, never fails.
*/
uint16_t crc16Bitwise (size_t length, const void* data) noexcept;
