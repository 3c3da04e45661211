#include "device/usb/UsbDeviceClaim.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{
constexpr const char* kLockTable = "/proc/locks";

// The process that holds a flock on the file open at fd, from the kernel's table of locks
// (readable by every user, so the holder is found whatever user it runs as); 0 when not
// listed. A line reads "1: FLOCK  ADVISORY  WRITE 4242 00:05:1234 0 EOF"; a waiter's
// line has "->" after the number and is passed over.
int32_t flockHolder (int fd)
{
    struct stat file
    {
    };

    if (::fstat (fd, &file) != 0)
        return 0;

    std::ifstream table (kLockTable);

    for (std::string line; std::getline (table, line);)
    {
        std::istringstream words (line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        words >> number >> kind >> mode >> access >> pid >> where;

        if (! words || kind != "FLOCK")
            continue;

        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;

        if (std::sscanf (where.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 && major == ::major (file.st_dev)
            && minor == ::minor (file.st_dev) && inode == (unsigned long long) file.st_ino)
            return (int32_t) pid;
    }

    return 0;
}
} // namespace

TrbClaimResult UsbDeviceClaim::take (const std::string& path, const std::string&, const std::string&,
                                     std::unique_ptr<UsbDeviceClaim>& claim, TrbClaimHolder& holder)
{
    // Any open descriptor can carry the lock; O_NOCTTY because a node may be a terminal
    // device where it is emulated.
    const int fd = ::open (path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);

    if (fd < 0)
        return TrbClaimResult::unavailable;

    if (::flock (fd, LOCK_EX | LOCK_NB) == 0)
    {
        claim.reset (new UsbDeviceClaim());
        claim->handle = fd;
        return TrbClaimResult::taken;
    }

    const bool held = errno == EWOULDBLOCK;

    if (held)
        holder.pid = flockHolder (fd);

    ::close (fd);
    return held ? TrbClaimResult::heldElsewhere : TrbClaimResult::unavailable;
}

UsbDeviceClaim::~UsbDeviceClaim()
{
    // Closing the only descriptor of the lock releases it.
    if (handle >= 0)
        ::close ((int) handle);
}
