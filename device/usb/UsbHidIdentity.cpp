#include "device/usb/UsbHidIdentity.h"

#include <cwchar>

namespace
{
// The TRB-Kelo7's product ID is taken from the maker's type code, and its
// vendor ID is not known yet: until it is, the product ID and the product
// string decide. Put the vendor ID here once it is known.
constexpr UsbHidIdentity kKnownDevices[] = {
    { kAnyVendorId, 0x01A0, L"TRB-Kelo7", HID_TYPE_TRBKELO7 },
};
}

int32_t identifyUsbHidDevice (uint16_t vendorId, uint16_t productId, const wchar_t* productName) noexcept
{
    if (productName == nullptr)
        return HID_TYPE_OTHER;

    for (const auto& known : kKnownDevices)
    {
        const bool vendorMatches = known.vendorId == kAnyVendorId || known.vendorId == vendorId;

        if (vendorMatches && known.productId == productId && std::wcscmp (known.productName, productName) == 0)
            return known.typeCode;
    }

    return HID_TYPE_OTHER;
}
