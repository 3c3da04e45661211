#include "device/usb/HotplugMonitor.h"

#include <libudev.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace
{
constexpr const char* kHidrawSubsystem = "hidraw";
constexpr const char* kActionAdd = "add";
constexpr const char* kActionRemove = "remove";
}

/*
    The thread sleeps in poll() on the udev monitor and on an eventfd that
    stop() signals, so it costs nothing while nothing happens and ends at once
    when asked.
*/
struct HotplugMonitor::Platform
{
    struct udev* context = nullptr;
    struct udev_monitor* monitor = nullptr;
    int wakeFd = -1;
    std::atomic<bool> stopping { false };
    Listener* listener = nullptr;
    std::thread thread;

    void run()
    {
        pollfd watched[2] = { { udev_monitor_get_fd (monitor), POLLIN, 0 }, { wakeFd, POLLIN, 0 } };

        while (! stopping.load())
        {
            if (::poll (watched, 2, -1) < 0)
            {
                if (errno == EINTR)
                    continue;

                return;
            }

            if (stopping.load())
                return;

            if ((watched[0].revents & POLLIN) != 0)
                handleOneEvent();
        }
    }

    void handleOneEvent()
    {
        udev_device* device = udev_monitor_receive_device (monitor);

        if (device == nullptr)
            return;

        const char* action = udev_device_get_action (device);
        const char* name = udev_device_get_sysname (device);

        if (action != nullptr && name != nullptr)
        {
            if (std::strcmp (action, kActionAdd) == 0)
                listener->nodeAdded (name);
            else if (std::strcmp (action, kActionRemove) == 0)
                listener->nodeRemoved (name);
        }

        udev_device_unref (device);
    }
};

HotplugMonitor::HotplugMonitor()
    : platform (std::make_unique<Platform>())
{
}

HotplugMonitor::~HotplugMonitor()
{
    stop();
}

bool HotplugMonitor::start (Listener& l)
{
    auto& p = *platform;

    if (p.thread.joinable())
        return true;

    p.listener = &l;
    p.stopping.store (false);
    p.context = udev_new();

    if (p.context != nullptr)
        p.monitor = udev_monitor_new_from_netlink (p.context, "udev");

    p.wakeFd = eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);

    const bool ready = p.monitor != nullptr && p.wakeFd >= 0
                       && udev_monitor_filter_add_match_subsystem_devtype (p.monitor, kHidrawSubsystem, nullptr) >= 0
                       && udev_monitor_enable_receiving (p.monitor) >= 0;

    if (! ready)
    {
        stop();
        return false;
    }

    p.thread = std::thread ([&p]
                            { p.run(); });
    return true;
}

void HotplugMonitor::stop()
{
    auto& p = *platform;
    p.stopping.store (true);

    if (p.thread.joinable())
    {
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write (p.wakeFd, &one, sizeof (one));
        p.thread.join();
    }

    if (p.monitor != nullptr)
        udev_monitor_unref (p.monitor);

    if (p.context != nullptr)
        udev_unref (p.context);

    if (p.wakeFd >= 0)
        ::close (p.wakeFd);

    p.monitor = nullptr;
    p.context = nullptr;
    p.wakeFd = -1;
}

std::string HotplugMonitor::nodeKeyOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');
    return slash == std::string::npos ? path : path.substr (slash + 1);
}
