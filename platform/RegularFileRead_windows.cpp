// The regular-file read on Windows: the file is opened by its UTF-16 name with
// read sharing only, so no one can change it (or open it for writing) while it
// is read, and anything that is not a file on a disk (a pipe, a console, a
// device) is refused before a byte is read.

#include "platform/RegularFileRead.h"

#include "platform/ScopedHandle.h"
#include "platform/WidePath.h"

#include <algorithm>

namespace
{
// ReadFile takes at most a DWORD per call; a chunk well below that keeps each call short.
constexpr DWORD kReadChunkBytes = 1u << 20;

bool namesNothing (DWORD error) noexcept
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME
           || error == ERROR_BAD_NETPATH || error == ERROR_BAD_PATHNAME || error == ERROR_DIRECTORY;
}

// Reads until count bytes arrived, the end of the file, or an error (-1).
int64_t readFully (HANDLE file, uint8_t* destination, size_t count) noexcept
{
    size_t done = 0;

    while (done < count)
    {
        const auto wanted = (DWORD) std::min<size_t> (count - done, kReadChunkBytes);
        DWORD got = 0;

        if (! ::ReadFile (file, destination + done, wanted, &got, nullptr))
            return -1;

        if (got == 0)
            break;

        done += got;
    }

    return (int64_t) done;
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

    // Read sharing only: a writer that has the file open already makes the open
    // fail (a file being written is not taken), and none can open it meanwhile.
    // A folder does not open without backup semantics, which are not asked for.
    const ScopedHandle file { ::CreateFileW (WidePath::toWide (path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr) };

    if (! file.isValid())
        return namesNothing (::GetLastError()) ? RegularFileReadResult::notFound : RegularFileReadResult::unreadable;

    BY_HANDLE_FILE_INFORMATION info {};

    // A name may open a pipe, a console or a device ("\\.\pipe\x", "CON", "COM1"):
    // only a file on a disk is read.
    if (::GetFileType (file.get()) != FILE_TYPE_DISK || ! ::GetFileInformationByHandle (file.get(), &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return RegularFileReadResult::unreadable;

    LARGE_INTEGER size {};

    if (! ::GetFileSizeEx (file.get(), &size))
        return RegularFileReadResult::unreadable;

    if (size.QuadPart != expectedSize)
        return RegularFileReadResult::wrongSize;

    content.resize (static_cast<size_t> (expectedSize));
    const auto got = readFully (file.get(), content.data(), content.size());

    if (got < expectedSize)
    {
        content.clear();
        content.shrink_to_fit();
        return RegularFileReadResult::unreadable;
    }

    // No one may write meanwhile, but a process that had it mapped for writing
    // before could still have grown it: one byte more tells.
    uint8_t extra = 0;
    const auto beyond = readFully (file.get(), &extra, 1);

    if (beyond != 0)
    {
        content.clear();
        content.shrink_to_fit();
        return beyond > 0 ? RegularFileReadResult::wrongSize : RegularFileReadResult::unreadable;
    }

    return RegularFileReadResult::read;
}
