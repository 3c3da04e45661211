#pragma once

#include <string>

/** Whether the system refuses this program the node at path (the path hidapi lists) for a
    reason that is not the device's absence: on Linux the node's permissions, on Windows
    another program holding the device without sharing it, or access denied. False when the
    node opens, is missing, or fails otherwise. Any thread; opens and closes the node once. */
bool usbNodeRefusesOpening (const std::string& path);

/** The USB port of the device whose HID node is at path: on Linux the USB device's name in
    sysfs ("1-3.2": bus, then the hub ports), on Windows the location the system gives the USB
    device ("Port_#0002.Hub_#0001"). Empty when it cannot be told. Any thread. */
std::string usbNodePort (const std::string& path);
