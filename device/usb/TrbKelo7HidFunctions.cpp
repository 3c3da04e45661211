// The device-library functions over hidapi and the platform's hot-plug events.
// Each forwards to the one UsbHidLibrary; see there for the threads and notices.

#include "device/DeviceNodes.h"
#include "device/IdentityText.h"
#include "device/TrbKelo7Hid.h"
#include "device/usb/UsbHidLibrary.h"

#include <algorithm>
#include <cstring>

namespace
{
constexpr int32_t kDone = 1;
constexpr int32_t kFailed = 0;

int32_t result (bool ok) { return ok ? kDone : kFailed; }
}

extern "C"
{
    int32_t HID_Initialize (void*)
    {
        return result (UsbHidLibrary::instance().initialise());
    }

    int32_t HID_SetCallback (void* window, uint32_t inputMessage, uint32_t arrivedMessage, uint32_t removedMessage)
    {
        UsbHidLibrary::instance().setCallback (window, inputMessage, arrivedMessage, removedMessage);
        return kDone;
    }

    int32_t HID_Start (void)
    {
        return result (UsbHidLibrary::instance().start());
    }

    int32_t HID_EnumHIDno (int32_t deviceNumbers[HID_MAX_DEVICES])
    {
        return UsbHidLibrary::instance().enumerate (deviceNumbers, HID_MAX_DEVICES);
    }

    int32_t HID_GetDeviceType (int32_t deviceNumber)
    {
        return UsbHidLibrary::instance().deviceType (deviceNumber);
    }

    int32_t HID_GetFirmwareVersion (int32_t typeCode, uint32_t words[2], int32_t count)
    {
        // The controller's USB release number stands for its firmware version;
        // the second word is not used.
        const auto release = UsbHidLibrary::instance().releaseNumber (typeCode);

        if (words == nullptr || count < 1 || release < 0)
            return kFailed;

        words[0] = (uint32_t) release;
        return kDone;
    }

    int32_t HID_Input (int32_t deviceNumber, uint8_t* buffer, int32_t* length)
    {
        if (length == nullptr)
            return kFailed;

        *length = UsbHidLibrary::instance().takeInput (deviceNumber, buffer, *length);
        return result (*length > 0);
    }

    int32_t HID_Write (int32_t deviceNumber, const uint8_t* report, int32_t length)
    {
        return result (UsbHidLibrary::instance().write (deviceNumber, report, length));
    }

    int32_t HID_GetDeviceIdentity (int32_t deviceNumber, char* serial, int32_t serialSize, char* location, int32_t locationSize)
    {
        std::string serialBytes, locationBytes;
        const bool present = UsbHidLibrary::instance().identity (deviceNumber, serialBytes, locationBytes);
        copyIdentityText (serialBytes, serial, serialSize);
        copyIdentityText (locationBytes, location, locationSize);
        return result (present);
    }

    int32_t HID_Stop (void)
    {
        UsbHidLibrary::instance().stop();
        return kDone;
    }

    int32_t HID_Finalize (void)
    {
        UsbHidLibrary::instance().finalise();
        return kDone;
    }
}

std::string trbDeviceNode (int32_t deviceNumber)
{
    return UsbHidLibrary::instance().nodePath (deviceNumber);
}

std::vector<std::string> trbControllersWithoutAccess()
{
    return UsbHidLibrary::instance().controllersWithoutAccess();
}

TrbClaimResult trbClaimDevice (int32_t deviceNumber, TrbClaimHolder& holder)
{
    return UsbHidLibrary::instance().claim (deviceNumber, holder);
}

void trbReleaseDeviceClaim (int32_t deviceNumber)
{
    UsbHidLibrary::instance().releaseClaim (deviceNumber);
}
