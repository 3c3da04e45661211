#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

/**
    Which TRB-Kelo7 a controller is, as the device link tells them apart: its USB
    serial string, its port and its node. Texts are made from the system's bytes
    through ExternalText; an empty one is not known (a controller without a serial).
*/
struct DeviceIdentity final
{
    juce::String serial; // the USB serial string, e.g. "KELO7-0001"
    juce::String location; // the port: "1-3.2" (Linux), SetupAPI's location (Windows), "sim-1"
    juce::String node; // the node the device has now: "/dev/hidraw3", "simulated"

    bool operator== (const DeviceIdentity& other) const
    {
        return serial == other.serial && location == other.location && node == other.node;
    }

    bool operator!= (const DeviceIdentity& other) const { return ! operator== (other); }
};

/** One TRB-Kelo7 present on the bus, as the device link lists them. */
struct ConnectedController final
{
    int32_t deviceNumber = -1;
    DeviceIdentity identity;
};

/** Who holds the claim on a controller that this link was refused. */
struct ClaimHolder final
{
    int32_t pid = 0; // 0: not known
    juce::String processName; // empty: not known
    juce::String user; // empty: not visible to this user, or not known
    DeviceIdentity controller; // the controller the claim is on
};
