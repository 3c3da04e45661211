#pragma once

#include "device/DeviceNodes.h"

#include <cstdint>
#include <memory>
#include <string>

/**
    One claim this process holds on a controller of the USB library, given up
    when destroyed: on Linux an exclusive flock on the controller's node (so every
    updater of any user or runtime folder that opens the same node sees it); on
    Windows a named object in the machine-wide namespace (the session's where the
    machine-wide one is refused) keyed by the controller's serial, else its port,
    else its node.
*/
class UsbDeviceClaim final
{
public:
    /** Tries to claim the controller at path without waiting. On taken, claim holds the new
        claim; on heldElsewhere, holder says who holds it as far as the system shows (process
        ID; name and user are left to the caller). Any thread but a reader's. */
    static TrbClaimResult take (const std::string& path, const std::string& serial, const std::string& location,
                                std::unique_ptr<UsbDeviceClaim>& claim, TrbClaimHolder& holder);

    ~UsbDeviceClaim();

private:
    UsbDeviceClaim() = default;

    intptr_t handle = -1; // the locked descriptor (Linux), the named object (Windows)
    intptr_t holderRecord = 0; // Windows: the named record of the holder's process ID

    UsbDeviceClaim (const UsbDeviceClaim&) = delete;
    UsbDeviceClaim& operator= (const UsbDeviceClaim&) = delete;
};
