#include "platform/NativeFiles.h"

#include "platform/ScopedDescriptor.h"
#include "text/ExternalText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr const char* kProgramLink = "/proc/self/exe";
constexpr size_t kReadChunkBytes = 4096;
constexpr const char* kDefaultConfigFolder = ".config";

bool isAbsolute (const std::string& path) { return ! path.empty() && path.front() == '/'; }

std::string parentOf (const std::string& path)
{
    const auto slash = path.rfind ('/');

    if (slash == std::string::npos)
        return {};

    return slash == 0 ? std::string ("/") : path.substr (0, slash);
}

} // namespace

NativeFiles::Kind NativeFiles::kindOf (const std::string& path)
{
    struct stat info
    {
    };

    if (path.empty() || ::stat (path.c_str(), &info) != 0)
        return Kind::nothing;

    return S_ISDIR (info.st_mode) ? Kind::folder : Kind::other;
}

int64_t NativeFiles::sizeOf (const std::string& path)
{
    struct stat info
    {
    };

    return ! path.empty() && ::stat (path.c_str(), &info) == 0 ? static_cast<int64_t> (info.st_size) : 0;
}

std::vector<std::string> NativeFiles::listFiles (const std::string& folder, const char* pattern)
{
    std::vector<std::string> listed;

    if (folder.empty())
        return listed;

    const std::unique_ptr<DIR, int (*) (DIR*)> directory (::opendir (folder.c_str()), ::closedir);

    if (directory == nullptr)
        return listed;

    const auto prefix = folder.back() == '/' ? folder : folder + "/";

    while (const auto* entry = ::readdir (directory.get()))
    {
        if (::fnmatch (pattern, entry->d_name, FNM_CASEFOLD) != 0)
            continue;

        auto path = prefix + entry->d_name;

        if (kindOf (path) == Kind::other)
            listed.push_back (std::move (path));
    }

    return listed;
}

std::string NativeFiles::currentFolder()
{
    for (size_t size = PATH_MAX;; size *= 2)
    {
        std::string buffer (size, '\0');

        if (::getcwd (buffer.data(), buffer.size()) != nullptr)
            return buffer.c_str();

        if (errno != ERANGE || size > (1u << 20))
            return {};
    }
}

std::string NativeFiles::programFolder()
{
    for (size_t size = PATH_MAX;; size *= 2)
    {
        std::string buffer (size, '\0');
        const auto length = ::readlink (kProgramLink, buffer.data(), buffer.size());

        if (length < 0)
            return {};

        // A full buffer may have cut the path short: try again with more room.
        if (static_cast<size_t> (length) < buffer.size())
            return parentOf (buffer.substr (0, static_cast<size_t> (length)));

        if (size > (1u << 20))
            return {};
    }
}

std::string NativeFiles::homeFolder()
{
    if (const char* home = std::getenv ("HOME"); home != nullptr && isAbsolute (home))
        return home;

    if (const auto* account = ::getpwuid (::getuid()); account != nullptr && account->pw_dir != nullptr
                                                       && isAbsolute (account->pw_dir))
        return account->pw_dir;

    return "/";
}

std::string NativeFiles::configFolder()
{
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base directory rules say.
    if (const char* config = std::getenv ("XDG_CONFIG_HOME"); config != nullptr && isAbsolute (config))
        return config;

    return join (homeFolder(), kDefaultConfigFolder);
}

std::optional<std::string> NativeFiles::knownDownloadFolder()
{
    return std::nullopt;
}

std::string NativeFiles::join (const std::string& path, const std::string& relative)
{
    std::vector<std::string> parts;

    auto add = [&parts] (const std::string& text)
    {
        size_t start = 0;

        while (start <= text.size())
        {
            const auto end = std::min (text.find ('/', start), text.size());
            const auto part = text.substr (start, end - start);

            if (part == "..")
            {
                if (! parts.empty())
                    parts.pop_back();
            }
            else if (! part.empty() && part != ".")
            {
                parts.push_back (part);
            }

            start = end + 1;
        }
    };

    if (! isAbsolute (relative))
        add (path);

    add (relative);

    std::string joined;

    for (const auto& part : parts)
        joined += "/" + part;

    return joined.empty() ? std::string ("/") : joined;
}

std::string NativeFiles::nameOf (const std::string& path)
{
    return path.substr (path.rfind ('/') + 1);
}

juce::File NativeFiles::shown (const std::string& path)
{
    return isAbsolute (path) ? juce::File (ExternalText::fromBytes (path)) : juce::File();
}

std::string NativeFiles::bytesOf (const juce::File& file)
{
    return file.getFullPathName().toStdString();
}

std::optional<std::string> NativeFiles::readSmallRegularFile (const std::string& path, size_t maxBytes, juce::String& problem)
{
    // O_NONBLOCK: a FIFO would otherwise wait for a writer before the open returns.
    const ScopedDescriptor descriptor { ::open (path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY) };

    if (descriptor.fd < 0)
    {
        if (errno != ENOENT && errno != ENOTDIR)
            problem = "cannot be opened";

        return std::nullopt;
    }

    struct stat info
    {
    };

    if (::fstat (descriptor.fd, &info) != 0)
    {
        problem = "cannot be looked at";
        return std::nullopt;
    }

    if (! S_ISREG (info.st_mode))
    {
        problem = "is not a regular file";
        return std::nullopt;
    }

    if (static_cast<uint64_t> (info.st_size) > maxBytes)
    {
        problem = "is larger than " + juce::String (static_cast<juce::int64> (maxBytes)) + " bytes";
        return std::nullopt;
    }

    // A regular file: reads may block as usual.
    const auto flags = ::fcntl (descriptor.fd, F_GETFL);

    if (flags < 0 || ::fcntl (descriptor.fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    {
        problem = "cannot be read";
        return std::nullopt;
    }

    // One byte more than allowed tells a file that grew after fstat.
    std::string content;
    char chunk[kReadChunkBytes];

    while (content.size() <= maxBytes)
    {
        const auto got = ::read (descriptor.fd, chunk, std::min (sizeof (chunk), maxBytes + 1 - content.size()));

        if (got < 0 && errno == EINTR)
            continue;

        if (got < 0)
        {
            problem = "cannot be read";
            return std::nullopt;
        }

        if (got == 0)
            return content;

        content.append (chunk, static_cast<size_t> (got));
    }

    problem = "is larger than " + juce::String (static_cast<juce::int64> (maxBytes)) + " bytes";
    return std::nullopt;
}
