// The instance lock on Linux: flock() on "<name>.lock" in a directory private
// to the user ($XDG_RUNTIME_DIR, /run/user/<uid>, /tmp/<name>-<uid>, home).
// flock() locks belong to the open file and vanish with the process, so a
// crashed instance leaves no stale lock behind.

#include "app/InstanceLock.h"

#include "text/ExternalText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{
constexpr mode_t kPrivateDirectoryMode = 0700;
constexpr mode_t kLockFileMode = 0600;
// Group or others may write: then they could put a file of their own there.
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;
constexpr size_t kRandomBytes = 16;
constexpr int kMaxNameBytes = 200;
constexpr int kReadRetryMs = 20;
constexpr const char* kSharedTemporary = "/tmp";

bool isPrivateDirectory (const juce::File& place, juce::String& why)
{
    struct stat info
    {
    };

    if (::lstat (place.getFullPathName().toRawUTF8(), &info) != 0)
        why = "it cannot be read (" + juce::String (std::strerror (errno)) + ")";
    else if (! S_ISDIR (info.st_mode))
        why = "it is not a directory";
    else if (info.st_uid != ::getuid())
        why = "it belongs to user id " + juce::String ((int) info.st_uid);
    else if ((info.st_mode & kWritableByOthers) != 0)
        why = "others may write to it";
    else
        return true;

    return false;
}

// The kernel's table of file locks, and where a line of it names the holder's
// process and the locked file.
constexpr const char* kLockTable = "/proc/locks";
constexpr int kLockTableFields = 8;
constexpr int kLockTablePidField = 4;
constexpr int kLockTableFileField = 5;
constexpr size_t kMaxSystemFileBytes = 256 * 1024;

// A file of the kernel's own (no FIFO or device can stand there), read up to a limit.
juce::String readSmallSystemFile (const juce::String& path)
{
    const int opened = ::open (path.toRawUTF8(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);

    if (opened < 0)
        return {};

    std::string bytes;
    char buffer[4096];
    ssize_t got = 0;

    while (bytes.size() < kMaxSystemFileBytes && (got = ::read (opened, buffer, sizeof (buffer))) > 0)
        bytes.append (buffer, (size_t) got);

    ::close (opened);
    // A process name is the user's choice: it becomes text like any outside bytes,
    // and whoever prints it escapes what it holds of control characters.
    return ExternalText::fromBytes (bytes);
}

juce::String randomHex()
{
    unsigned char bytes[kRandomBytes] {};

    if (::getrandom (bytes, sizeof (bytes), 0) != (ssize_t) sizeof (bytes))
    {
        // Without the kernel's randomness the name is still unique per process;
        // guessing it only lets another user fail a hand-over, which then starts anyway.
        juce::Random random;
        random.setSeedRandomly();

        for (auto& b : bytes)
            b = (unsigned char) random.nextInt (256);
    }

    return juce::String::toHexString (bytes, (int) sizeof (bytes), 0);
}
} // namespace

struct InstanceLock::Native final
{
    explicit Native (int openedDescriptor) noexcept
        : fd (openedDescriptor)
    {
    }

    ~Native() { ::close (fd); }

    const int fd;

    JUCE_DECLARE_NON_COPYABLE (Native)
};

InstanceLock::InstanceLock (const juce::String& applicationName, juce::Array<juce::File> places, Launches launches)
    : namePrefix (applicationName + ".")
{
    if (places.isEmpty())
        places = defaultPlaces (applicationName);

    juce::StringArray refused;

    for (const auto& place : places)
    {
        juce::String why;

        // The shared temporary directory's place is made private on first use; if
        // someone else made it first, it is refused below and the next place follows.
        if (place.getParentDirectory() == juce::File (kSharedTemporary))
            ::mkdir (place.getFullPathName().toRawUTF8(), kPrivateDirectoryMode);

        if (isPrivateDirectory (place, why) && tryPlace (place, applicationName, launches))
            return;

        refused.add (place.getFullPathName() + ": " + (why.isNotEmpty() ? why : problem));
    }

    problem = "no private place for the instance lock (" + refused.joinIntoString ("; ") + ")";
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryPlace (const juce::File& place, const juce::String& applicationName, Launches launches)
{
    const auto candidate = place.getChildFile (applicationName + ".lock");
    const int opened = ::open (candidate.getFullPathName().toRawUTF8(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);

    if (opened < 0)
    {
        problem = "the lock file cannot be opened (" + juce::String (std::strerror (errno)) + ")";
        return false;
    }

    struct stat info
    {
    };

    // Only root could have put someone else's file into a private directory;
    // a file that is not this user's own is not trusted either way.
    if (::fstat (opened, &info) != 0 || ! S_ISREG (info.st_mode) || info.st_uid != ::getuid())
    {
        ::close (opened);
        problem = "the lock file is not this user's own regular file";
        return false;
    }

    // A second name means the file is also something else, which writing the
    // hand-over name into it would overwrite.
    if (info.st_nlink != 1)
    {
        ::close (opened);
        problem = "the lock file has another name too (a hard link), so it is left alone";
        return false;
    }

    if (::flock (opened, LOCK_EX | LOCK_NB) == 0)
    {
        // An empty line tells a later launch at once that there is no one to hand over to.
        if (launches == Launches::handedOver)
            handoverName = namePrefix + randomHex();

        const auto text = handoverName + "\n";

        if (::ftruncate (opened, 0) != 0
            || ::pwrite (opened, text.toRawUTF8(), text.getNumBytesAsUTF8(), 0) != (ssize_t) text.getNumBytesAsUTF8())
        {
            // Later launches cannot find this one, but it still is the instance.
            handoverName.clear();
        }

        state = State::held;
    }
    else if (errno == EWOULDBLOCK)
    {
        state = State::heldElsewhere;
    }
    else
    {
        ::close (opened);
        problem = "the lock file cannot be locked (" + juce::String (std::strerror (errno)) + ")";
        return false;
    }

    native = std::make_unique<Native> (opened);
    file = candidate;
    return true;
}

juce::String InstanceLock::readHandoverName (int waitMs) const
{
    if (state != State::heldElsewhere)
        return {};

    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, waitMs);

    for (;;)
    {
        char buffer[kMaxNameBytes + 1] {};
        const auto length = ::pread (native->fd, buffer, kMaxNameBytes, 0);

        if (length > 0 && buffer[length - 1] == '\n')
        {
            const auto name = ExternalText::fromBytes (buffer, (size_t) length - 1);
            const auto suffix = name.fromFirstOccurrenceOf (namePrefix, false, false);
            const bool wellFormed = name.startsWith (namePrefix) && suffix.isNotEmpty()
                                    && suffix.containsOnly ("0123456789abcdef");
            return wellFormed ? name : juce::String();
        }

        if (juce::Time::getMillisecondCounter() >= giveUpAt)
            return {};

        juce::Thread::sleep (kReadRetryMs);
    }
}

std::optional<InstanceLock::Holder> InstanceLock::findHolder() const
{
    struct stat info
    {
    };

    if (state != State::heldElsewhere || ::fstat (native->fd, &info) != 0)
        return std::nullopt;

    // Each line of the table: "N: FLOCK ADVISORY WRITE PID MAJ:MIN:INODE START END";
    // a waiter's line has "->" after the number and is not the holder.
    const auto fileId = juce::String::toHexString ((int) major (info.st_dev)).paddedLeft ('0', 2) + ":"
                        + juce::String::toHexString ((int) minor (info.st_dev)).paddedLeft ('0', 2) + ":"
                        + juce::String ((juce::uint64) info.st_ino);
    const auto inode = ":" + juce::String ((juce::uint64) info.st_ino);
    const auto table = juce::StringArray::fromLines (readSmallSystemFile (kLockTable));

    // Some file systems (overlays) show another device number in the table than to
    // fstat; the inode alone is then the next best match.
    for (const bool sameDevice : { true, false })
    {
        const auto matches = [&] (const juce::String& id)
        { return sameDevice ? id == fileId : id.endsWith (inode); };

        for (const auto& line : table)
        {
            auto fields = juce::StringArray::fromTokens (line, " ", {});
            fields.removeEmptyStrings();

            if (fields.size() >= kLockTableFields && fields[1] == "FLOCK" && matches (fields[kLockTableFileField])
                && fields[kLockTablePidField].containsOnly ("0123456789"))
            {
                const auto pid = fields[kLockTablePidField];
                // The state follows the name, which is in parentheses and may hold any of them.
                const auto processState = readSmallSystemFile ("/proc/" + pid + "/stat")
                                              .fromLastOccurrenceOf (")", false, false)
                                              .trimStart()
                                              .substring (0, 1);
                return Holder { pid.getIntValue(), readSmallSystemFile ("/proc/" + pid + "/comm").trim(),
                                processState == "T" || processState == "t" };
            }
        }
    }

    return std::nullopt;
}

juce::Array<juce::File> InstanceLock::defaultPlaces (const juce::String& applicationName)
{
    juce::Array<juce::File> places;
    const auto uid = juce::String ((int) ::getuid());

    // A folder whose name is not well-formed text cannot be named by a juce::File
    // without changing it: that place is passed over.
    auto usableFolder = [] (const char* path)
    {
        return path != nullptr && ExternalText::isWellFormed (path, std::strlen (path))
               && juce::File::isAbsolutePath (ExternalText::fromBytes (path));
    };

    if (const char* runtime = std::getenv ("XDG_RUNTIME_DIR"); usableFolder (runtime))
        places.add (juce::File (ExternalText::fromBytes (runtime)));

    places.addIfNotAlreadyThere (juce::File ("/run/user/" + uid));

    places.add (juce::File (kSharedTemporary).getChildFile (applicationName + "-" + uid));

    if (const auto* account = ::getpwuid (::getuid()); account != nullptr && usableFolder (account->pw_dir))
        places.add (juce::File (ExternalText::fromBytes (account->pw_dir)));

    return places;
}
