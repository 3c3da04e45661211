#include "update/Status.h"

juce::String formatErrorId (int32_t status)
{
    return juce::String::toHexString (status).toUpperCase().paddedLeft ('0', 4);
}

bool StatusValue::set (int32_t newValue) noexcept
{
    auto current = value.load (std::memory_order_acquire);

    while (current != ERR_DEVICE_REMOVED)
        if (value.compare_exchange_weak (current, newValue, std::memory_order_acq_rel, std::memory_order_acquire))
            return true;

    return false;
}

bool StatusValue::setIf (int32_t expected, int32_t newValue) noexcept
{
    return value.compare_exchange_strong (expected, newValue, std::memory_order_acq_rel, std::memory_order_acquire);
}

bool StatusValue::markRemoved() noexcept
{
    auto current = value.load (std::memory_order_acquire);

    while (isRemovableStep (current))
        if (value.compare_exchange_weak (current, ERR_DEVICE_REMOVED, std::memory_order_acq_rel, std::memory_order_acquire))
            return true;

    return false;
}
