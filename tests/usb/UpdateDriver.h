#pragma once

#include "protocol/ImageLayout.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

/**
    Speaks the update protocol from the host's side, as the updater's worker
    does: one request, one reply, for a whole update of the three regions.
    It stands in for the worker so that the device library can be tested
    alone; exchange() is how it reaches the controller.
*/
class UpdateDriver final
{
public:
    using Report = std::array<uint8_t, 64>;

    /** Sends one request and returns the reply, or nothing when none came (or it was not sent). */
    using Exchange = std::function<std::optional<Report> (const Report& request)>;

    /** Sends one request that has no reply (finish). */
    using Send = std::function<bool (const Report& request)>;

    UpdateDriver (Exchange exchangeToUse, Send sendToUse);

    /** Writes the three regions of image (laid out like the flash, 2 MiB) into the controller.
        True when every request was accepted and the finish request went out. */
    bool runWholeUpdate (const std::vector<uint8_t>& image);

    /** A firmware image of the flash's size: pseudo-random regions from seed, version "1.23"
        and date stamp 2025-06-15 where the controller keeps them, 0xFF elsewhere. */
    static std::vector<uint8_t> makeImage (uint32_t seed);

    /** The status query (F0 00). */
    static Report statusQuery();

    /** Requests answered so far. */
    int exchanges() const noexcept { return count; }

private:
    bool accepted (const Report& request, uint8_t expectedCode);
    bool writeBlock (const RegionLayout& region, uint32_t offset, uint32_t length, const uint8_t* bytes);

    Exchange exchange;
    Send send;
    int count = 0;
};
