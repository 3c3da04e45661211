#include "device/usb/UsbNodeAccess.h"

#include <cerrno>

#include <fcntl.h>
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
