#pragma once

#include "device/simulated/ControllerModel.h"

#include <cstdint>
#include <string>
#include <vector>

/**
    How the simulated bus starts: the controllers' installed firmware, their
    timing and their scripted faults, and what else is plugged in.

    In a test, fill one in and hand it to SimulatedController::reset. From outside
    the process, name a file in TRB_SIM_SCENARIO; it holds key=value lines
    applied on top of defaultForDemo(); blank lines and lines starting with #
    are skipped:

        version=1.00            installed version text (four characters)
        stamp=0x20240101        installed date stamp
        latency_ms=1            answer latency per exchange
        busy_count=2            busy poll replies per block; -1: busy for ever
        controllers=1           TRB-Kelo7s present at start (0 for none)
        arrive_after_ms=500     one more TRB-Kelo7 plugged in this long after HID_Start
        other_device=0x1B2 0x5  a HID device of another type (type code, firmware
                                word), present at start and listed before the
                                controllers; repeatable
        serials=KELO7-A KELO7-A -
                                the USB serials of the TRB-Kelo7s in the order
                                they are added (those at start, then the one
                                arriving), "-" for none; by default each has its
                                own (KELO7-SIM-0001, ...); every device's port is
                                sim-<its number + 1>
        lookalike=1             devices of the TRB-Kelo7's type code that never
                                answer (serial LOOKALIKE-<n>), present at start
                                and listed after the controllers
        claimed_by=4242 name    another process (ID, optional name) holds the
                                claim on the first controller
        restart_ms=1000         time off the bus after the finish request (the
                                controller restarts); -1: it stays connected
        gone_after_finish=1     the controller does not come back after the finish
        unchanged_after_finish=1
                                it comes back with its old version and stamp
                                (the update did not take)
        fault=data 100 remove 500
                                a fault of the first controller; repeatable:
                                <kind> <n> <action> [arguments], kind one of
                                status info prepare header data last checksum
                                poll finish unknown any, n counted from 1,
                                action one of
                                  reply <code> <reason>
                                  wrong_byte0 | no_reply | busy_forever | duplicate
                                  late <ms> | remove <ms until plugged in again, -1 never>

    Numbers take decimal or 0x hexadecimal.
*/
struct SimulatedScenario
{
    /** A HID device of another kind on the bus. */
    struct OtherDevice
    {
        int32_t typeCode = 0;
        uint32_t firmwareWord = 0;
    };

    std::string version = "1.00";
    uint32_t stamp = 0x20240101;
    int latencyMs = 0;
    int busyCount = 0;
    int controllers = 1;
    int arriveAfterMs = -1;
    int restartMs = 1000; // off the bus after the finish request; negative: no restart
    bool goneAfterFinish = false; // it does not come back after the finish request
    bool unchangedAfterFinish = false; // it comes back reporting its old firmware
    std::vector<OtherDevice> otherDevices;
    std::vector<std::string> serials; // "-": none; missing ones get KELO7-SIM-<n>
    int lookalikes = 0;
    int32_t claimedByPid = 0; // 0: nobody else holds the first controller's claim
    std::string claimedByName;
    std::vector<ControllerModel::ScriptedFault> faults;

    /** The scenario without a file: as the default, with an answer latency of about one USB
        frame, so the demo's progress is visible. */
    static SimulatedScenario defaultForDemo();

    /** defaultForDemo() with the file named by TRB_SIM_SCENARIO applied, if the variable is
        set. An unreadable file or a line not understood is reported on stderr and skipped, so a
        typo shows in the output instead of silently running another scenario. */
    static SimulatedScenario fromEnvironment();

    /** Applies key=value lines to this scenario. Returns one message per line that was not
        understood (that line changes nothing). */
    std::vector<std::string> apply (const std::string& text);
};
