#include "device/DeviceNodes.h"
#include "device/TrbKelo7Hid.h"
#include "device/simulated/SimulatedController.h"

// The device library's functions, served by the simulated bus.

int32_t HID_Initialize (void* instance) { return SimulatedController::instance().initialize (instance); }

int32_t HID_SetCallback (void* window, uint32_t inputMessage, uint32_t arrivedMessage, uint32_t removedMessage)
{
    return SimulatedController::instance().setCallback (window, inputMessage, arrivedMessage, removedMessage);
}

int32_t HID_Start (void) { return SimulatedController::instance().start(); }

int32_t HID_EnumHIDno (int32_t deviceNumbers[HID_MAX_DEVICES]) { return SimulatedController::instance().enumerate (deviceNumbers); }

int32_t HID_GetDeviceType (int32_t deviceNumber) { return SimulatedController::instance().deviceType (deviceNumber); }

int32_t HID_GetFirmwareVersion (int32_t typeCode, uint32_t words[2], int32_t count)
{
    return SimulatedController::instance().firmwareVersion (typeCode, words, count);
}

int32_t HID_Input (int32_t deviceNumber, uint8_t* buffer, int32_t* length)
{
    return SimulatedController::instance().input (deviceNumber, buffer, length);
}

int32_t HID_Write (int32_t deviceNumber, const uint8_t* report, int32_t length)
{
    return SimulatedController::instance().write (deviceNumber, report, length);
}

int32_t HID_GetDeviceIdentity (int32_t deviceNumber, char* serial, int32_t serialSize, char* location, int32_t locationSize)
{
    return SimulatedController::instance().identity (deviceNumber, serial, serialSize, location, locationSize);
}

int32_t HID_Stop (void) { return SimulatedController::instance().stop(); }

int32_t HID_Finalize (void) { return SimulatedController::instance().finalize(); }

// What the support log reads: a simulated device has no node of its own. The
// simulator is not asked, so that its call counts stay those of the HID_* functions.
std::string trbDeviceNode (int32_t deviceNumber)
{
    return deviceNumber >= 0 ? "simulated" : "";
}

std::vector<std::string> trbControllersWithoutAccess()
{
    return {};
}

TrbClaimResult trbClaimDevice (int32_t deviceNumber, TrbClaimHolder& holder)
{
    return SimulatedController::instance().claim (deviceNumber, holder);
}

void trbReleaseDeviceClaim (int32_t deviceNumber)
{
    SimulatedController::instance().releaseClaim (deviceNumber);
}
