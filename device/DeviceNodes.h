#pragma once

#include <cstdint>
#include <string>
#include <vector>

/*
    What the device library can say about its devices beyond the ten HID_*
    functions, for the support log. Each device library that a program links
    implements these too.
*/

/** The system's name of a present device, as a person would look for it: its node
    ("/dev/hidraw3") on USB, "simulated" for the simulated controller. Empty for
    no such device. Message thread. */
std::string trbDeviceNode (int32_t deviceNumber);

/** The nodes of controllers that are present but could not be opened because this
    user may not open them (the node's permissions). Message thread. */
std::vector<std::string> trbControllersWithoutAccess();
