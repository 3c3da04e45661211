#pragma once

#include <string>

/** Whether the system refuses this program the node at path (the path hidapi lists) for a
    reason that is not the device's absence: on Linux the node's permissions, on Windows
    another program holding the device without sharing it, or access denied. False when the
    node opens, is missing, or fails otherwise. Any thread; opens and closes the node once. */
bool usbNodeRefusesOpening (const std::string& path);
