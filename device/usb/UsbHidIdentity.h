#pragma once

#include "device/TrbKelo7Hid.h"

#include <cstdint>

/*
    Which USB HID devices this library treats as controllers.

    A device matches an entry when its product ID and product string are the
    entry's, and its vendor ID too once the entry names one. Only matching
    devices are ever opened or written to.
*/

/** Vendor ID of an entry whose vendor is not known: any vendor matches. */
inline constexpr uint16_t kAnyVendorId = 0;

/** Type code answered for every HID device that is not a known controller. */
inline constexpr int32_t HID_TYPE_OTHER = 0;

/** One known controller model. */
struct UsbHidIdentity
{
    uint16_t vendorId;
    uint16_t productId;
    const wchar_t* productName;
    int32_t typeCode;
};

/** The type code of a HID device described by its USB identity: a known model's code, or
    HID_TYPE_OTHER. A null productName never matches. Any thread. */
int32_t identifyUsbHidDevice (uint16_t vendorId, uint16_t productId, const wchar_t* productName) noexcept;
