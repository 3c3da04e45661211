#pragma once

#include "device/ControllerLink.h"
#include "device/HidHandler.h"
#include "protocol/Reports.h"

#include <juce_events/juce_events.h>

#include <cstdint>
#include <functional>

/** What a controller said of itself when asked outside an update. */
struct ControllerInfo final
{
    bool answered = false; // false: not held, removed, silent, or it answered with something else
    juce::String version; // "1.00" ("0.00" for an erased info part); empty unless answered
    uint32_t stamp = 0; // its date stamp (0xFFFFFFFF when erased)
};

/** The version text of an info reply: its four version bytes, or "0.00" when they are
    erased (an interrupted update leaves them so). Any thread. */
juce::String infoVersionText (const InfoReply& info);

/**
    Asks the controller a link holds for its version and date stamp with one info
    query, outside an update and without touching its flash: so that a listing of
    the connected controllers can name each one's firmware. While it asks it must
    be the link's listener (HidCtrl::open or HidCtrl::listener), so that the reply
    and a removal reach it.

    Only what the controller's claim allows is asked: the caller holds the
    controller (chosen under its claim) before ask, and lets go of it after.

    Threads: everything runs on the message thread, the write to the link too (one
    64-byte report; the device library takes it without waiting for the reply).
*/
class ControllerQuery final : public HidHandler,
                              private juce::Timer
{
public:
    /** Told once per ask, on the message thread. */
    using Answered = std::function<void (const ControllerInfo& info)>;

    /** A query over link, which must outlive it. Message thread. */
    explicit ControllerQuery (ControllerLink& link);

    ~ControllerQuery() override;

    /** Sends the info query to the held controller and tells answered once: with its version
        and stamp, or unanswered when no controller is held, the library does not take the
        request, the controller goes, stays silent for timeoutMs or replies with anything but
        its information. A question still open is dropped unanswered. Message thread. */
    void ask (int timeoutMs, Answered answered);

    void hidDeviceRemoved() override;
    void hidDeviceArrived() override { }
    void hidInputReceived (int unused) override;

private:
    void timerCallback() override;
    void tell (const ControllerInfo& info);

    ControllerLink& link;
    Answered pending;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ControllerQuery)
};
