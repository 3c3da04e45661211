#pragma once

#include "device/DeviceIdentity.h"
#include "device/TrbKelo7Hid.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <vector>

class HidCtrl;

/** Type codes HidUtil can look for, indexed by its deviceKind; entry 1 is the TRB-Kelo7. */
inline constexpr int32_t deviceTypeTable[2] = { 0, HID_TYPE_TRBKELO7 };

/** Index of the TRB-Kelo7 in deviceTypeTable. */
inline constexpr int32_t kDeviceKindTrbKelo7 = 1;

/**
    The raw side of the device link: starts and stops the device library, owns the
    receiver of its notices (the "hidden window"), finds the controller among the
    HID devices, claims it, and reads and writes reports.

    The link follows one controller by its identity: the first TRB-Kelo7 found,
    or the one chosen by serial. Once one is followed, only a TRB-Kelo7 with its
    serial is taken again after a removal (without a serial, or when another
    controller shows the same serial: only one with its port too); every other
    device's arrival and removal changes nothing and is only told to the owner.
    A controller is held only under its claim (see trbClaimDevice): a claim held
    by another process leaves it unheld, with the holder kept for claimRefusal.

    At most one HidUtil is started at a time in a process (activeHidUtil). Every
    method runs on the message thread, except writeReport, which the update
    worker calls; deviceNo is atomic for that reason. Failures are false results
    and zero counts, never exceptions.
*/
class HidUtil
{
public:
    HidUtil() = default;

    /** Runs stop(). */
    virtual ~HidUtil();

    /** Starts the library with a notice receiver whose events go to owner. Fails, changing
        nothing, when another HidUtil is started; fails after running stop() when there is no
        module handle or no receiver could be made. Message thread. */
    bool start (HidCtrl* owner);

    /** Stops the library and destroys the receiver, if this util started them; forgets the
        device. Safe to run any number of times, and on a util whose start failed (it leaves
        another util's activeHidUtil alone). Message thread. */
    void stop();

    /** Looks for the followed controller (before one is followed: the only TRB-Kelo7 present,
        which is then followed), claims it and keeps its number. True at once, without asking the
        library, while one is held; false when it is not present, its claim is held by another
        process (claimRefused() then tells who), or several are present and none was chosen
        (choiceNeeded(): none is taken until chooseIdentity). Message thread. */
    bool findDevice();

    /** Forgets the held device and gives up its claim; it stays followed. False when none was
        held. Message thread. */
    bool releaseDevice();

    /** Follows the controller with this serial from now on: a held controller of another serial
        is let go (its claim given up, nothing told to the owner), and the chosen one is looked for
        at once once started. True when it is held afterwards. Message thread; not while an
        update writes. */
    bool chooseSerial (const juce::String& serial);

    /** Follows this controller from now on: by its serial, and by its port too when it has no
        serial or another present controller shows the same one. As chooseSerial otherwise. */
    bool chooseIdentity (const DeviceIdentity& which);

    /** True while several TRB-Kelo7s were present with none followed: the user is to choose, and
        until then none is held or sent anything. Message thread. */
    bool choiceNeeded() const noexcept { return choosing; }

    /** The TRB-Kelo7s present now, in the library's device order, with their identities; asks
        the library, sends nothing to them. Message thread. */
    std::vector<ConnectedController> listControllers();

    /** The followed controller's identity (its node the one it had when last held); empty
        while none is followed. Message thread. */
    DeviceIdentity followedIdentity() const { return followed; }

    /** True when the last attempt to hold the followed controller found its claim held by
        another process; claimHolder() then says who. Cleared when it is held. Message thread. */
    bool claimRefused() const noexcept { return refused; }

    /** Who holds the claim that was refused (pid 0 when not known). Message thread. */
    const ClaimHolder& claimHolder() const noexcept { return holder; }

    /** True when the held controller is held without a claim because the system gave none (not
        because another process holds it): said once in the log. Message thread. */
    bool heldUnclaimed() const noexcept { return unclaimed; }

    /** Looks at the bus after a device arrival: takes up the followed controller when none is
        held (true: the owner is to hear of the arrival), and tells the owner of any other
        TRB-Kelo7 that came. Message thread. */
    bool noteArrival();

    /** Looks at a removal notice for deviceNumber: true when it was the held controller (now let
        go); another TRB-Kelo7's removal is told to the owner. Message thread. */
    bool noteRemoval (int32_t deviceNumber);

    /** The controller's firmware version word (asked by type code); 0 when no device is held.
        Message thread. */
    uint32_t readFirmwareVersion();

    /** Takes one pending input report (up to 64 bytes) into buffer; returns the count placed,
        0 when there was none, no device is held or buffer is null. Message thread. */
    int32_t readInput (uint8_t* buffer);

    /** Writes one 64-byte report to the held device; false when none is held, the report is
        null or the library did not take it. Update worker thread. */
    bool writeReport (const uint8_t* report);

    HidCtrl* owner = nullptr;
    int32_t deviceKind = 0;
    void* instance = nullptr;
    void* window = nullptr;
    std::atomic<int32_t> deviceNo { -1 };

private:
    bool isFollowed (const ConnectedController& candidate) const;
    bool holdFirstFollowed (const std::vector<ConnectedController>& present);
    bool tryToHold (const ConnectedController& candidate);
    void noteSharedSerial (const std::vector<ConnectedController>& present);
    void tellOthers (const std::vector<ConnectedController>& present);

    DeviceIdentity followed;
    bool following = false;
    bool serialShared = false; // another controller showed the followed serial: the port decides too
    bool refused = false;
    bool choosing = false; // several were present before any was followed
    bool unclaimed = false;
    ClaimHolder holder;
    std::vector<ConnectedController> lastSeen; // the TRB-Kelo7s present at the last look

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidUtil)
};

/** The started HidUtil, or null. The notice procedure finds its util only through it.
    Written and read on the message thread. */
extern HidUtil* activeHidUtil;

/** The receiver's procedure: hands the library's notices to the active util's owner. Every
    notice is then passed on to the platform's default handling, whose result is returned
    (0 here). Message thread. */
intptr_t hidWindowProc (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
