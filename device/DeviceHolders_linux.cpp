#include "device/DeviceHolders.h"

#include "platform/ScopedDescriptor.h"
#include "text/ExternalText.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr const char* kProcFolder = "/proc";
// comm holds at most 15 bytes and a line end; room to spare.
constexpr size_t kCommReadSize = 64;
// The Uid line comes within the first few hundred bytes of status.
constexpr size_t kStatusReadSize = 2048;
constexpr const char* kUidField = "\nUid:";
constexpr size_t kPasswdBufferSize = 4096;

struct DirCloser final
{
    void operator() (DIR* dir) const noexcept { ::closedir (dir); }
};

using ScopedDir = std::unique_ptr<DIR, DirCloser>;

// The number a /proc entry's name spells, or -1 for a name that is not all digits.
long numberNamed (const char* name)
{
    if (*name == '\0')
        return -1;

    for (auto* c = name; *c != '\0'; ++c)
        if (*c < '0' || *c > '9')
            return -1;

    errno = 0;
    const auto value = std::strtol (name, nullptr, 10);
    return errno == 0 ? value : -1;
}

bool isSameFile (const struct stat& node, const struct stat& held)
{
    // A device may have several names (its node, a symlink's target, a node made
    // with mknod elsewhere): the device number is what names the device.
    if (S_ISCHR (node.st_mode) || S_ISBLK (node.st_mode))
        return (node.st_mode & S_IFMT) == (held.st_mode & S_IFMT) && node.st_rdev == held.st_rdev;

    return node.st_dev == held.st_dev && node.st_ino == held.st_ino;
}

bool holds (const std::string& processFolder, const struct stat& node)
{
    const auto fdFolder = processFolder + "/fd";
    // Another user's descriptors are not listable: the scan passes over them.
    const ScopedDir dir (::opendir (fdFolder.c_str()));

    if (dir == nullptr)
        return false;

    while (const auto* entry = ::readdir (dir.get()))
    {
        if (numberNamed (entry->d_name) < 0)
            continue;

        // stat follows the descriptor to what it holds, whatever name it was opened by.
        struct stat held
        {
        };

        if (::stat ((fdFolder + "/" + entry->d_name).c_str(), &held) == 0 && isSameFile (node, held))
            return true;
    }

    return false;
}

juce::String processUser (const std::string& processFolder)
{
    // /proc/PID/status is readable for every process; its Uid line gives the real user first.
    const ScopedDescriptor file (::open ((processFolder + "/status").c_str(), O_RDONLY | O_CLOEXEC));

    if (file.fd < 0)
        return {};

    std::array<char, kStatusReadSize> bytes {};
    const auto length = ::read (file.fd, bytes.data(), bytes.size() - 1);

    if (length <= 0)
        return {};

    const std::string status (bytes.data(), (size_t) length);
    const auto line = status.find (kUidField);

    if (line == std::string::npos)
        return {};

    errno = 0;
    char* end = nullptr;
    const auto uid = std::strtoul (status.c_str() + line + std::strlen (kUidField), &end, 10);

    if (errno != 0 || end == status.c_str() + line + std::strlen (kUidField))
        return {};

    passwd entry {};
    passwd* found = nullptr;
    std::array<char, kPasswdBufferSize> buffer {};

    if (::getpwuid_r ((uid_t) uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return ExternalText::fromBytes (found->pw_name);

    return juce::String ((juce::uint64) uid);
}

juce::String processName (const std::string& processFolder)
{
    const ScopedDescriptor file (::open ((processFolder + "/comm").c_str(), O_RDONLY | O_CLOEXEC));

    if (file.fd < 0)
        return {};

    std::array<char, kCommReadSize> bytes {};
    const auto length = ::read (file.fd, bytes.data(), bytes.size());

    if (length <= 0)
        return {};

    auto size = (size_t) length;

    if (bytes[size - 1] == '\n')
        --size;

    // A program chooses its own name: any bytes at all.
    return ExternalText::fromBytes (bytes.data(), size);
}
} // namespace

std::vector<DeviceHolder> findOtherProcessesHolding (const std::string& nodePath)
{
    std::vector<DeviceHolder> holders;
    struct stat node
    {
    };

    // The simulated controller's "node" is a word, not a path: it must not match
    // a file of that name in the working folder.
    if (nodePath.empty() || nodePath.front() != '/' || ::stat (nodePath.c_str(), &node) != 0)
        return holders;

    const ScopedDir proc (::opendir (kProcFolder));

    if (proc == nullptr)
        return holders;

    const auto ownPid = (long) ::getpid();

    while (const auto* entry = ::readdir (proc.get()))
    {
        const auto pid = numberNamed (entry->d_name);

        if (pid <= 0 || pid == ownPid)
            continue;

        const auto processFolder = std::string (kProcFolder) + "/" + entry->d_name;

        if (holds (processFolder, node))
            holders.push_back ({ (int) pid, processName (processFolder) });
    }

    std::sort (holders.begin(), holders.end(), [] (const DeviceHolder& a, const DeviceHolder& b)
               { return a.pid < b.pid; });
    return holders;
}

ProcessDescription describeProcess (int pid)
{
    if (pid <= 0)
        return {};

    const auto processFolder = std::string (kProcFolder) + "/" + std::to_string (pid);
    return { pid, processName (processFolder), processUser (processFolder) };
}

bool otherDeviceHoldersCanBeFound() noexcept
{
    return true;
}
