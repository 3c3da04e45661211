#pragma once

/*
    The device library's interface: eleven plain C functions and three notices.

    A program links exactly one implementation: the USB HID library over hidapi
    (device/usb/, with device/linux/ or device/windows/ adding the platform's
    hot-plug and node access), or the simulated controller (device/simulated/).
    Nothing above these functions knows which one it got.

    HID_Write is called on the update worker thread; every other function on the
    message thread. The library reports events by posting notices to the window
    given to HID_SetCallback with trbPostNotice() (see NoticeReceiver.h); it may
    post from any of its own threads, and must post nothing after HID_Stop has
    returned.
*/

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Notice numbers, as the library is told them by HID_SetCallback. */
enum
{
    WM_HID_REMOVED = 1025, /**< wParam: the removed device's number. */
    WM_HID_ARRIVED = 1026, /**< parameters not read: some HID device arrived. */
    WM_HID_INPUT = 1027    /**< wParam: the device whose input report is ready for HID_Input. */
};

/** Size of the device-number array that HID_EnumHIDno fills. */
#define HID_MAX_DEVICES 128

/** Size of every report, in both directions. */
#define HID_REPORT_SIZE 64

/** Type code of the TRB-Kelo7. */
#define HID_TYPE_TRBKELO7 0x1A0

/** A buffer of this many bytes always holds what HID_GetDeviceIdentity places in it. */
#define HID_IDENTITY_SIZE 256

/** Starts using the library; instance is the program's module handle. The result is ignored. */
int32_t HID_Initialize (void* instance);

/** Names the window that receives the notices and their numbers (input, arrived, removed);
    all zero/null at shutdown. The result is ignored. */
int32_t HID_SetCallback (void* window, uint32_t inputMessage, uint32_t arrivedMessage, uint32_t removedMessage);

/** Starts watching devices. The result is ignored. */
int32_t HID_Start (void);

/** Fills deviceNumbers with the numbers of the present HID devices; returns how many (0 or less: none). */
int32_t HID_EnumHIDno (int32_t deviceNumbers[HID_MAX_DEVICES]);

/** The type code of one device (0x1A0 for the TRB-Kelo7). */
int32_t HID_GetDeviceType (int32_t deviceNumber);

/** Reads the firmware version of the device of this type code into words[0]; words[1] and
    count are the library's own. The result is ignored. */
int32_t HID_GetFirmwareVersion (int32_t typeCode, uint32_t words[2], int32_t count);

/** Takes the oldest pending input report of the device into buffer (64 bytes); *length holds 64
    on entry and the bytes placed on return, 0 when none. The result is ignored. */
int32_t HID_Input (int32_t deviceNumber, uint8_t* buffer, int32_t* length);

/** Writes one report of length bytes (64) to the device; non-zero when written. Worker thread. */
int32_t HID_Write (int32_t deviceNumber, const uint8_t* report, int32_t length);

/** What tells one present device from another of its type: its USB serial string (empty when
    it has none) into serial, and its port into location ("1-3.2" from sysfs on Linux, the
    location SetupAPI gives on Windows, "sim-1" for a simulated controller; empty when not
    known). Both are null-terminated bytes as the system gave them (meant to be UTF-8, not
    checked), cut to fit serialSize and locationSize. Non-zero when the device is present;
    for no such device both are left empty and 0 is returned. Message thread. */
int32_t HID_GetDeviceIdentity (int32_t deviceNumber, char* serial, int32_t serialSize, char* location, int32_t locationSize);

/** Stops watching devices; no notice is posted after it returns. The result is ignored. */
int32_t HID_Stop (void);

/** Ends the use of the library. The result is ignored. */
int32_t HID_Finalize (void);

#ifdef __cplusplus
}
#endif
