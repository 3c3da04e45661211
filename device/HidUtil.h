#pragma once

#include "device/TrbKelo7Hid.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>

class HidCtrl;

/** Type codes HidUtil can look for, indexed by its deviceKind; entry 1 is the TRB-Kelo7. */
inline constexpr int32_t deviceTypeTable[2] = { 0, HID_TYPE_TRBKELO7 };

/** Index of the TRB-Kelo7 in deviceTypeTable. */
inline constexpr int32_t kDeviceKindTrbKelo7 = 1;

/**
    The raw side of the device link: starts and stops the device library, owns the
    receiver of its notices (the "hidden window"), finds the controller among the
    HID devices, and reads and writes reports.

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

    /** Looks for the first TRB-Kelo7 in the library's device order and keeps its number. True
        at once, without asking the library, while one is held; false when none is present.
        Message thread. */
    bool findDevice();

    /** Forgets the held device. False when none was held. Message thread. */
    bool releaseDevice();

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
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidUtil)
};

/** The started HidUtil, or null. The notice procedure finds its util only through it.
    Written and read on the message thread. */
extern HidUtil* activeHidUtil;

/** The receiver's procedure: hands the library's notices to the active util's owner. Every
    notice is then passed on to the platform's default handling, whose result is returned
    (0 here). Message thread. */
intptr_t hidWindowProc (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
