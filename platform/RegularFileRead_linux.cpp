#include "platform/RegularFileRead.h"

#include "platform/ScopedDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Reads until count bytes arrived, the end of the file, or an error (-1).
ssize_t readFully (int fd, uint8_t* destination, size_t count) noexcept
{
    size_t done = 0;

    while (done < count)
    {
        const auto got = ::read (fd, destination + done, count - done);

        if (got == 0)
            break;

        if (got < 0)
        {
            if (errno == EINTR)
                continue;

            return -1;
        }

        done += static_cast<size_t> (got);
    }

    return static_cast<ssize_t> (done);
}
} // namespace

RegularFileReadResult readRegularFile (const juce::File& file, int64_t expectedSize, std::vector<uint8_t>& content)
{
    return readRegularFile (file.getFullPathName().toStdString(), expectedSize, content);
}

RegularFileReadResult readRegularFile (const std::string& path, int64_t expectedSize, std::vector<uint8_t>& content)
{
    content.clear();
    content.shrink_to_fit();

    if (path.empty() || expectedSize < 0)
        return RegularFileReadResult::notFound;

    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const ScopedDescriptor descriptor { ::open (path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY) };

    if (descriptor.fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? RegularFileReadResult::notFound
                                                   : RegularFileReadResult::unreadable;

    struct stat info
    {
    };

    if (::fstat (descriptor.fd, &info) != 0 || ! S_ISREG (info.st_mode))
        return RegularFileReadResult::unreadable;

    if (static_cast<int64_t> (info.st_size) != expectedSize)
        return RegularFileReadResult::wrongSize;

    // A regular file: reads may block as usual (a file under a lock must not fail with EAGAIN).
    const auto flags = ::fcntl (descriptor.fd, F_GETFL);

    if (flags < 0 || ::fcntl (descriptor.fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return RegularFileReadResult::unreadable;

    content.resize (static_cast<size_t> (expectedSize));
    const auto got = readFully (descriptor.fd, content.data(), content.size());

    if (got < 0 || static_cast<int64_t> (got) < expectedSize)
    {
        content.clear();
        content.shrink_to_fit();
        return RegularFileReadResult::unreadable;
    }

    // One byte more than expected means the file grew after fstat.
    uint8_t extra = 0;
    const auto beyond = readFully (descriptor.fd, &extra, 1);

    if (beyond != 0)
    {
        content.clear();
        content.shrink_to_fit();
        return beyond > 0 ? RegularFileReadResult::wrongSize : RegularFileReadResult::unreadable;
    }

    return RegularFileReadResult::read;
}
