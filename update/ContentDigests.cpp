#include "update/ContentDigests.h"

#include <algorithm>
#include <cstring>

namespace
{
// The multipliers of a well-known 64-bit multiply-rotate hash; any odd constants
// with good bit spread would do, these are tried and mixed well.
constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

constexpr uint64_t rotateLeft (uint64_t value, int bits) noexcept { return (value << bits) | (value >> (64 - bits)); }

uint64_t readWord (const uint8_t* bytes) noexcept
{
    uint64_t word;
    std::memcpy (&word, bytes, sizeof (word));
    return word;
}

uint64_t mixLane (uint64_t lane, uint64_t word) noexcept
{
    lane += word * kPrime2;
    return rotateLeft (lane, 31) * kPrime1;
}

uint64_t mergeLane (uint64_t hash, uint64_t lane) noexcept
{
    hash ^= mixLane (0, lane);
    return hash * kPrime1 + kPrime4;
}
} // namespace

uint64_t ContentDigests::digest (const void* data, size_t size) noexcept
{
    const auto* bytes = static_cast<const uint8_t*> (data);
    const auto* const end = bytes + size;
    uint64_t hash;

    if (size >= 32)
    {
        // Four independent lanes keep the multipliers busy.
        uint64_t lanes[4] = { kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1 };

        for (; end - bytes >= 32; bytes += 32)
            for (int lane = 0; lane < 4; ++lane)
                lanes[lane] = mixLane (lanes[lane], readWord (bytes + 8 * lane));

        hash = rotateLeft (lanes[0], 1) + rotateLeft (lanes[1], 7) + rotateLeft (lanes[2], 12) + rotateLeft (lanes[3], 18);

        for (auto lane : lanes)
            hash = mergeLane (hash, lane);
    }
    else
    {
        hash = kPrime5;
    }

    hash += static_cast<uint64_t> (size);

    for (; end - bytes >= 8; bytes += 8)
        hash = rotateLeft (hash ^ mixLane (0, readWord (bytes)), 27) * kPrime1 + kPrime4;

    for (; bytes < end; ++bytes)
        hash = rotateLeft (hash ^ (*bytes * kPrime5), 11) * kPrime1;

    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

ContentDigests ContentDigests::of (const uint8_t* content, size_t size)
{
    ContentDigests result;
    result.contentSize = static_cast<int64_t> (size);
    result.chunkDigests.reserve ((size + kDigestChunkSize - 1) / kDigestChunkSize);

    for (size_t offset = 0; offset < size; offset += kDigestChunkSize)
    {
        const auto chunk = std::min<size_t> (kDigestChunkSize, size - offset);
        result.chunkDigests.push_back (digest (content + offset, chunk));
    }

    return result;
}

bool ContentDigests::matches (int64_t fileOffset, const void* data, int64_t length) const noexcept
{
    if (data == nullptr || length <= 0 || fileOffset < 0 || fileOffset % kDigestChunkSize != 0
        || fileOffset > contentSize || length > contentSize - fileOffset)
        return false;

    const auto end = fileOffset + length;

    if (end % kDigestChunkSize != 0 && end != contentSize)
        return false;

    const auto* bytes = static_cast<const uint8_t*> (data);

    for (auto offset = fileOffset; offset < end; offset += kDigestChunkSize)
    {
        const auto chunk = std::min (kDigestChunkSize, end - offset);

        if (digest (bytes + (offset - fileOffset), static_cast<size_t> (chunk))
            != chunkDigests[static_cast<size_t> (offset / kDigestChunkSize)])
            return false;
    }

    return true;
}
