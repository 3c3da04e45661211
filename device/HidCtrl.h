#pragma once

#include "device/ControllerLink.h"
#include "device/DeviceIdentity.h"
#include "device/HidHandler.h"
#include "device/TrbKelo7Hid.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

class HidUtil;

/** What HidCtrl::open found. Converts to true only for connected, so a caller that only asks
    "is a controller held" keeps reading it as a bool. */
struct LinkOpenResult final
{
    enum class State
    {
        connected, // a controller is held, under its claim
        waiting, // no controller present (yet): a later arrival is taken up
        claimedElsewhere, // the controller is there but another process holds its claim: see claimRefusal()
        choiceNeeded, // several TRB-Kelo7s are present and none was chosen: none is held or sent anything
        failed // the device library could not be started: closed for good
    };

    State state = State::failed;

    explicit operator bool() const noexcept { return state == State::connected; }
};

/**
    The controller as the program sees it: opens the device link, keeps the
    connection flag, the firmware version word and the last input report, and
    forwards each device event to its listener (the update procedure), which
    reaches the link itself through ControllerLink.

    States: Closed (no util), Waiting (util started, no controller), Claimed
    elsewhere (util started, the controller's claim held by another process),
    Connected.
    Every method runs on the message thread except write and isConnected, which
    the update worker calls; connected is atomic for that reason. close must not
    overlap a write (the worker has ended before the link is closed).

    The link holds one controller and follows it by identity (see HidUtil): the
    first TRB-Kelo7 found, or the one chosen with chooseController. Its removal
    and its return (by serial; without a serial, by port) reach the listener;
    every other controller's arrival and removal goes only to
    otherControllerObserver. A controller is held only under its claim, taken
    before anything is sent and kept until the link closes (taken again when the
    controller comes back after its restart). When another process holds the
    claim the link holds nothing and sends nothing: open() says claimedElsewhere,
    isClaimedElsewhere() is true and claimRefusal() names the holder, so that the
    front-end can end the run before the first request.
*/
class HidCtrl final : public HidHandler,
                      public ControllerLink
{
public:
    HidCtrl() = default;

    /** Runs close(). */
    ~HidCtrl() override;

    /** Starts the link with listener as the receiver of its events and looks for the
        controller (the chosen one, when chooseController came first), claiming it. Connected
        (true) when it was found and claimed. Otherwise: waiting (none present; a later arrival
        still finds it), claimedElsewhere (present, but another process holds its claim:
        nothing is sent; claimRefusal() says who) or failed (the library could not be started:
        Closed for good, every later write fails). Message thread. */
    LinkOpenResult open (HidHandler* listener);

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

    /** Follows the controller with this USB serial from now on; before open, open looks for
        it alone. A held controller with another serial is let go first (its claim given up;
        the listener is not told). True when the chosen one is held now (after open). Message
        thread; never while an update writes. */
    bool chooseController (const juce::String& serial);

    /** Follows this controller from now on (by its serial; without one, or when another present
        controller shows the same serial, by its port too) and claims it: connected, claimedElsewhere
        (nothing sent; claimRefusal() says who) or waiting (not present). A held controller that is
        not it is let go first. Nothing is told to the listener. Message thread; never while an
        update writes. */
    LinkOpenResult chooseController (const DeviceIdentity& which);

    /** What the link stands at now, as open() would say it. Message thread. */
    LinkOpenResult::State state() const noexcept;

    /** True while several TRB-Kelo7s were present when the link looked and none has been chosen:
        until chooseController, none is held and nothing is sent. Message thread. */
    bool isChoiceNeeded() const noexcept;

    /** The held (or followed, while it is away) controller's serial, port and node; empty
        before any was found. Message thread. */
    DeviceIdentity identity() const;

    /** Every TRB-Kelo7 present now, with its identity, held or not (empty while Closed). Asks
        the device library; sends nothing to any controller. Message thread. */
    std::vector<ConnectedController> connectedControllers() const;

    /** True when the followed controller is present but another process holds its claim, so
        the link holds nothing and sends nothing (a distinct state from Waiting). Message
        thread. */
    bool isClaimedElsewhere() const noexcept;

    /** Who holds the claim that was refused: process ID (0 when not known), name and user
        where visible, and the controller it is on. Meaningful while isClaimedElsewhere().
        Message thread. */
    ClaimHolder claimRefusal() const;

    /** True when the held controller is held without a claim because the system gave none
        (no lock could be taken on its node, no named object made), not because another
        process holds it: worth a line in the support log. Message thread. */
    bool isHeldUnclaimed() const noexcept;

    /** Told by the util when a TRB-Kelo7 other than the followed one arrives (true) or goes
        (false); forwarded to otherControllerObserver only. Message thread. */
    void otherControllerChanged (bool arrived, const DeviceIdentity& other);

    /** Told, before the listener, when the controller comes (true) or goes (false): for a
        log of what happened. Message thread. */
    std::function<void (bool arrived)> connectionObserver;

    /** Told when another TRB-Kelo7 (not the one this link follows) arrives (true) or goes
        (false), with its identity; the held controller is unaffected: for a line in the log.
        Message thread. */
    std::function<void (bool arrived, const DeviceIdentity& other)> otherControllerObserver;

    HidHandler* listener = nullptr;
    HidUtil* util = nullptr;
    std::atomic<int32_t> connected { 0 };
    uint32_t firmwareVersion = 0;
    uint8_t inputReport[HID_REPORT_SIZE] = {};
    int32_t inputLength = 0;

private:
    juce::String pendingChoice; // chosen before open

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidCtrl)
};
