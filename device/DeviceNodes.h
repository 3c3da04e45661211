#pragma once

#include <cstdint>
#include <string>
#include <vector>

/*
    What the device library can say and do about its devices beyond the HID_*
    functions: the names of nodes for the support log, and the claim that keeps
    every other updater (of any user, in any runtime folder) away from a
    controller while this one speaks to it. Each device library that a program
    links implements these too.
*/

/** The system's name of a present device, as a person would look for it: its node
    ("/dev/hidraw3") on USB, "simulated" for the simulated controller. Empty for
    no such device. Message thread. */
std::string trbDeviceNode (int32_t deviceNumber);

/** The nodes of controllers that are present but could not be opened because this
    user may not open them (the node's permissions). Message thread. */
std::vector<std::string> trbControllersWithoutAccess();

/** What trbClaimDevice made of its attempt. */
enum class TrbClaimResult
{
    taken, // this process now holds the claim (or held it already)
    heldElsewhere, // another process holds it: nothing may be sent to the device
    unavailable // no claim could be had for another reason (no such device, the system refused)
};

/** Who holds a claim this process was refused, as far as the library can tell: bytes as the
    system gave them (the link makes text of them). pid 0: not known. */
struct TrbClaimHolder
{
    int32_t pid = 0;
    std::string processName;
    std::string user;
};

/** Claims a present controller for this process until trbReleaseDeviceClaim, its removal or
    HID_Stop, whichever comes first: on Linux an exclusive, non-blocking flock on its node; on
    Windows a machine-wide named object keyed by its identity. Taking a claim this process holds
    already is taken again. On heldElsewhere, holder says who holds it where that can be seen.
    Message thread; never waits for the holder. */
TrbClaimResult trbClaimDevice (int32_t deviceNumber, TrbClaimHolder& holder);

/** Gives up this process's claim on a device, if it holds one. Message thread. */
void trbReleaseDeviceClaim (int32_t deviceNumber);
