#pragma once

#include <atomic>
#include <string>
#include <thread>

struct udev;
struct udev_monitor;

/**
    Watches udev for hidraw nodes coming and going, on a thread of its own.

    The thread sleeps in poll() on the udev monitor and on an eventfd that
    stop() signals, so it costs nothing while nothing happens and ends at once
    when asked.
*/
class UdevHotplugMonitor final
{
public:
    /** Told about hidraw nodes; called on the monitor thread, one event at a time. */
    struct Listener
    {
        virtual ~Listener() = default;

        /** A hidraw node appeared; nodeName is its kernel name, e.g. "hidraw3". */
        virtual void hidrawAdded (const std::string& nodeName) = 0;

        /** A hidraw node went away. */
        virtual void hidrawRemoved (const std::string& nodeName) = 0;
    };

    UdevHotplugMonitor() = default;

    /** Stops the thread if it runs. */
    ~UdevHotplugMonitor();

    /** Connects to udev and starts the thread. False when udev cannot be reached; nothing is
        watched then. Call once, from the thread that will call stop(). */
    bool start (Listener& listener);

    /** Ends and joins the thread; after it returns the listener is not called again. Safe to
        call any number of times. Never call it on the monitor thread. */
    void stop();

private:
    void run();
    void handleOneEvent();

    struct udev* context = nullptr;
    struct udev_monitor* monitor = nullptr;
    int wakeFd = -1;
    std::atomic<bool> stopping { false };
    Listener* listener = nullptr;
    std::thread thread;

    UdevHotplugMonitor (const UdevHotplugMonitor&) = delete;
    UdevHotplugMonitor& operator= (const UdevHotplugMonitor&) = delete;
};
