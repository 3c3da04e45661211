#pragma once

#include <memory>
#include <string>

/**
    Watches the system for HID device nodes coming and going, on a thread of
    its own: udev's hidraw events on Linux, device-change notifications on the
    HID interface class on Windows.

    A node is named by its key: what nodeKeyOf() makes of the path hidapi
    lists for it, so the library can match an event with its devices.
*/
class HotplugMonitor final
{
public:
    /** Told about nodes; called on the monitor thread, one event at a time. */
    struct Listener
    {
        virtual ~Listener() = default;

        /** A HID node appeared; nodeKey as nodeKeyOf() gives it. */
        virtual void nodeAdded (const std::string& nodeKey) = 0;

        /** A HID node went away. */
        virtual void nodeRemoved (const std::string& nodeKey) = 0;
    };

    HotplugMonitor();

    /** Stops the thread if it runs. */
    ~HotplugMonitor();

    /** Connects to the system's device events and starts the thread. False when they cannot be
        had; nothing is watched then. Call from the thread that will call stop(). */
    bool start (Listener& listener);

    /** Ends and joins the thread; after it returns the listener is not called again. Safe to
        call any number of times. Never call it on the monitor thread. */
    void stop();

    /** The key under which the events name the node that hidapi lists at path: the kernel name
        ("hidraw3") on Linux, the interface path in upper case on Windows. Any thread. */
    static std::string nodeKeyOf (const std::string& path);

private:
    struct Platform;
    std::unique_ptr<Platform> platform;

    HotplugMonitor (const HotplugMonitor&) = delete;
    HotplugMonitor& operator= (const HotplugMonitor&) = delete;
};
