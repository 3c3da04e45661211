#include "device/usb/UsbNodeAccess.h"

#include <cerrno>

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

bool usbNodeRefusesOpening (const std::string& path)
{
    // hidapi keeps no reason for a failed open; the node itself tells it.
    const int fd = ::open (path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);

    if (fd >= 0)
    {
        ::close (fd);
        return false;
    }

    return errno == EACCES || errno == EPERM;
}

std::string usbNodePort (const std::string& path)
{
    const auto slash = path.find_last_of ('/');
    const auto name = slash == std::string::npos ? path : path.substr (slash + 1);
    std::string port;

    if (name.empty())
        return port;

    udev* context = udev_new();

    if (context == nullptr)
        return port;

    // The hidraw node's USB device (not its interface) is named by its place on the bus.
    if (udev_device* node = udev_device_new_from_subsystem_sysname (context, "hidraw", name.c_str()))
    {
        if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype (node, "usb", "usb_device"))
            if (const char* sysname = udev_device_get_sysname (usb))
                port = sysname;

        udev_device_unref (node);
    }

    udev_unref (context);
    return port;
}
