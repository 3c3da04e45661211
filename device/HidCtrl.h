#pragma once

#include "device/ControllerLink.h"
#include "device/HidHandler.h"
#include "device/TrbKelo7Hid.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <functional>

class HidUtil;

/**
    The controller as the program sees it: opens the device link, keeps the
    connection flag, the firmware version word and the last input report, and
    forwards each device event to its listener (the update procedure), which
    reaches the link itself through ControllerLink.

    States: Closed (no util), Waiting (util started, no controller), Connected.
    Every method runs on the message thread except write and isConnected, which
    the update worker calls; connected is atomic for that reason. close must not
    overlap a write (the worker has ended before the link is closed).
*/
class HidCtrl final : public HidHandler,
                      public ControllerLink
{
public:
    HidCtrl() = default;

    /** Runs close(). */
    ~HidCtrl() override;

    /** Starts the link with listener as the receiver of its events and looks for the
        controller. True when it was found (Connected). False when it was not (Waiting: a
        later arrival still finds it) or when the library could not be started (Closed for
        good: every later write fails). Message thread. */
    bool open (HidHandler* listener);

    /** Forgets the listener, stops the library and deletes the util; the connection flag,
        version and buffer keep their values. Safe to call again. Message thread. */
    void close();

    /** Writes one 64-byte report to the controller. False, sending nothing, while not
        connected; otherwise whether the library took it. Update worker thread. */
    bool write (const uint8_t* report) override;

    /** True while a controller is held (connected is set). Any thread. */
    bool isConnected() const noexcept override { return connected.load() != 0; }

    /** Copies the buffer's inputLength bytes (at most 64) to destination and clears the
        buffer; returns the count, or 0 for none (the buffer is then left alone). Message thread. */
    int takeInput (uint8_t* destination) noexcept override;

    /** Clears connection, version and buffer, then tells the listener. Message thread. */
    void hidDeviceRemoved() override;

    /** Marks the controller connected, reads its version and one input report into the
        buffer, then tells the listener. Message thread. */
    void hidDeviceArrived() override;

    /** Reads the pending input report into the buffer and tells the listener; nothing is
        forwarded when no device is held or the read gave no bytes. Message thread. */
    void hidInputReceived (int param) override;

    /** The device library's number of the held controller, or -1 when none is held.
        Message thread. */
    int32_t deviceNumber() const noexcept;

    /** Told, before the listener, when the controller comes (true) or goes (false): for a
        log of what happened. Message thread. */
    std::function<void (bool arrived)> connectionObserver;

    HidHandler* listener = nullptr;
    HidUtil* util = nullptr;
    std::atomic<int32_t> connected { 0 };
    uint32_t firmwareVersion = 0;
    uint8_t inputReport[HID_REPORT_SIZE] = {};
    int32_t inputLength = 0;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidCtrl)
};
