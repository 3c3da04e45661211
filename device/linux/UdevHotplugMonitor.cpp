#include "device/linux/UdevHotplugMonitor.h"

#include <libudev.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace
{
constexpr const char* kHidrawSubsystem = "hidraw";
constexpr const char* kActionAdd = "add";
constexpr const char* kActionRemove = "remove";
}

UdevHotplugMonitor::~UdevHotplugMonitor()
{
    stop();
}

bool UdevHotplugMonitor::start (Listener& l)
{
    if (thread.joinable())
        return true;

    listener = &l;
    stopping.store (false);
    context = udev_new();

    if (context != nullptr)
        monitor = udev_monitor_new_from_netlink (context, "udev");

    wakeFd = eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);

    const bool ready = monitor != nullptr && wakeFd >= 0
                       && udev_monitor_filter_add_match_subsystem_devtype (monitor, kHidrawSubsystem, nullptr) >= 0
                       && udev_monitor_enable_receiving (monitor) >= 0;

    if (! ready)
    {
        stop();
        return false;
    }

    thread = std::thread ([this]
                          { run(); });
    return true;
}

void UdevHotplugMonitor::stop()
{
    stopping.store (true);

    if (thread.joinable())
    {
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write (wakeFd, &one, sizeof (one));
        thread.join();
    }

    if (monitor != nullptr)
        udev_monitor_unref (monitor);

    if (context != nullptr)
        udev_unref (context);

    if (wakeFd >= 0)
        ::close (wakeFd);

    monitor = nullptr;
    context = nullptr;
    wakeFd = -1;
}

void UdevHotplugMonitor::run()
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

void UdevHotplugMonitor::handleOneEvent()
{
    udev_device* device = udev_monitor_receive_device (monitor);

    if (device == nullptr)
        return;

    const char* action = udev_device_get_action (device);
    const char* name = udev_device_get_sysname (device);

    if (action != nullptr && name != nullptr)
    {
        if (std::strcmp (action, kActionAdd) == 0)
            listener->hidrawAdded (name);
        else if (std::strcmp (action, kActionRemove) == 0)
            listener->hidrawRemoved (name);
    }

    udev_device_unref (device);
}
