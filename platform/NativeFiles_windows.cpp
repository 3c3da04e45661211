// The file system on Windows: paths held as bytes (WidePath's UTF-8) and handed
// to the system's UTF-16 calls, so every name Windows allows is found, listed and
// opened as it is, whatever the code page.

#include "platform/NativeFiles.h"

#include "platform/ScopedHandle.h"
#include "platform/WidePath.h"
#include "text/ExternalText.h"

#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace
{
constexpr char kSeparator = '\\';
constexpr size_t kLongestPath = 1u << 16; // UTF-16 units: the longest path Windows knows is 32767
constexpr size_t kReadChunkBytes = 4096;
constexpr const char* kDefaultConfigFolder = "AppData\\Roaming";
constexpr const char* kLastResortHome = "C:\\";

bool isSeparator (char c) noexcept { return c == '\\' || c == '/'; }

bool isDriveLetter (char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:\..." or "\\server\share\..." (and "\\?\..." as a share of its own).
bool isAbsolute (const std::string& path) noexcept
{
    return (path.size() >= 3 && isDriveLetter (path[0]) && path[1] == ':' && isSeparator (path[2]))
           || (path.size() >= 2 && isSeparator (path[0]) && isSeparator (path[1]));
}

std::vector<std::string> componentsOf (const std::string& text)
{
    std::vector<std::string> parts;
    std::string part;

    for (size_t i = 0; i <= text.size(); ++i)
    {
        if (i < text.size() && ! isSeparator (text[i]))
        {
            part += text[i];
            continue;
        }

        if (! part.empty())
            parts.push_back (part);

        part.clear();
    }

    return parts;
}

// An absolute path split into its root ("C:\", "\\server\share\") and the rest.
std::pair<std::string, std::string> splitRoot (const std::string& path)
{
    if (path.size() >= 2 && isSeparator (path[0]) && isSeparator (path[1]))
    {
        const auto parts = componentsOf (path);
        std::string root = "\\\\";
        size_t used = 0;

        for (; used < std::min<size_t> (2, parts.size()); ++used)
            root += parts[used] + kSeparator;

        std::string rest;

        for (size_t i = used; i < parts.size(); ++i)
            rest += parts[i] + kSeparator;

        return { root, rest };
    }

    return { path.substr (0, 2) + kSeparator, path.substr (std::min<size_t> (3, path.size())) };
}

// Links followed, as opening a file follows them; null when the path names nothing.
ScopedHandle openForLooking (const std::string& path)
{
    return ScopedHandle { ::CreateFileW (WidePath::toWide (path).c_str(), 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr) };
}

std::optional<std::string> knownFolder (REFKNOWNFOLDERID id)
{
    PWSTR folder = nullptr;
    std::optional<std::string> found;

    if (SUCCEEDED (::SHGetKnownFolderPath (id, KF_FLAG_DEFAULT, nullptr, &folder)) && folder != nullptr)
        found = WidePath::fromWide (folder, wcslen (folder));

    // Freed whatever the answer: the call may hand back memory with a failure too.
    ::CoTaskMemFree (folder);
    return found && isAbsolute (*found) ? found : std::nullopt;
}

std::optional<std::string> environmentFolder (const wchar_t* name)
{
    std::wstring value (kLongestPath, L'\0');
    const auto length = ::GetEnvironmentVariableW (name, value.data(), (DWORD) value.size());

    if (length == 0 || length >= value.size())
        return std::nullopt;

    auto folder = WidePath::fromWide (value.data(), length);
    return isAbsolute (folder) ? std::optional<std::string> (std::move (folder)) : std::nullopt;
}
} // namespace

NativeFiles::Kind NativeFiles::kindOf (const std::string& path)
{
    if (path.empty())
        return Kind::nothing;

    const auto handle = openForLooking (path);
    BY_HANDLE_FILE_INFORMATION info {};

    if (! handle.isValid() || ! ::GetFileInformationByHandle (handle.get(), &info))
        return Kind::nothing;

    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::folder : Kind::other;
}

int64_t NativeFiles::sizeOf (const std::string& path)
{
    if (path.empty())
        return 0;

    const auto handle = openForLooking (path);
    LARGE_INTEGER size {};

    return handle.isValid() && ::GetFileSizeEx (handle.get(), &size) ? static_cast<int64_t> (size.QuadPart) : 0;
}

std::vector<std::string> NativeFiles::listFiles (const std::string& folder, const char* pattern)
{
    std::vector<std::string> listed;

    if (folder.empty())
        return listed;

    const auto prefix = isSeparator (folder.back()) ? folder : folder + kSeparator;
    WIN32_FIND_DATAW entry {};
    const auto search = ::FindFirstFileExW (WidePath::toWide (prefix + "*").c_str(), FindExInfoBasic, &entry,
                                            FindExSearchNameMatch, nullptr, 0);

    if (search == INVALID_HANDLE_VALUE)
        return listed;

    const auto wildcard = juce::String (pattern);

    do
    {
        // The pattern is plain ASCII: a name's lone surrogates cannot matter to it.
        if (! juce::String (entry.cFileName).matchesWildcard (wildcard, true))
            continue;

        auto path = prefix + WidePath::fromWide (entry.cFileName, wcslen (entry.cFileName));

        if (kindOf (path) == Kind::other)
            listed.push_back (std::move (path));
    } while (::FindNextFileW (search, &entry));

    ::FindClose (search);
    return listed;
}

std::string NativeFiles::currentFolder()
{
    std::wstring buffer (kLongestPath, L'\0');
    const auto length = ::GetCurrentDirectoryW ((DWORD) buffer.size(), buffer.data());

    if (length == 0 || length >= buffer.size())
        return {};

    return WidePath::fromWide (buffer.data(), length);
}

std::string NativeFiles::programFolder()
{
    std::wstring buffer (kLongestPath, L'\0');
    const auto length = ::GetModuleFileNameW (nullptr, buffer.data(), (DWORD) buffer.size());

    // A full buffer means the name was cut short.
    if (length == 0 || length >= buffer.size())
        return {};

    const auto program = WidePath::fromWide (buffer.data(), length);
    const auto separator = program.find_last_of ("\\/");

    if (separator == std::string::npos)
        return {};

    return separator < 3 ? program.substr (0, separator + 1) : program.substr (0, separator);
}

std::string NativeFiles::homeFolder()
{
    if (auto home = environmentFolder (L"USERPROFILE"))
        return *home;

    return knownFolder (FOLDERID_Profile).value_or (kLastResortHome);
}

std::string NativeFiles::configFolder()
{
    if (auto config = knownFolder (FOLDERID_RoamingAppData))
        return *config;

    return join (homeFolder(), kDefaultConfigFolder);
}

std::optional<std::string> NativeFiles::knownDownloadFolder()
{
    return knownFolder (FOLDERID_Downloads);
}

std::string NativeFiles::join (const std::string& path, const std::string& relative)
{
    std::string root;
    std::vector<std::string> parts;

    auto add = [&parts] (const std::string& text)
    {
        for (const auto& part : componentsOf (text))
        {
            if (part == "..")
            {
                if (! parts.empty())
                    parts.pop_back();
            }
            else if (part != ".")
            {
                parts.push_back (part);
            }
        }
    };

    if (isAbsolute (relative))
    {
        const auto [relativeRoot, rest] = splitRoot (relative);
        root = relativeRoot;
        add (rest);
    }
    else
    {
        if (isAbsolute (path))
        {
            const auto [pathRoot, rest] = splitRoot (path);
            root = pathRoot;

            // "\folder" starts at the root of path's drive.
            if (relative.empty() || ! isSeparator (relative.front()))
                add (rest);
        }
        else
        {
            add (path);
        }

        add (relative);
    }

    std::string joined = root;

    for (size_t i = 0; i < parts.size(); ++i)
        joined += (i == 0 ? "" : std::string (1, kSeparator)) + parts[i];

    return joined.empty() ? std::string (".") : joined;
}

std::string NativeFiles::nameOf (const std::string& path)
{
    // Both separators end a component on Windows, and so does a drive's colon ("C:name").
    const auto separator = path.find_last_of ("\\/:");
    return separator == std::string::npos ? path : path.substr (separator + 1);
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
    const ScopedHandle file { ::CreateFileW (WidePath::toWide (path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr) };

    if (! file.isValid())
    {
        const auto error = ::GetLastError();

        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::nullopt;

        // A folder does not open without backup semantics.
        problem = kindOf (path) == Kind::folder ? "is not a regular file" : "cannot be opened";
        return std::nullopt;
    }

    // A name may open a pipe, a console or a device ("\\.\pipe\x", "CON"): only a file on a disk is read.
    if (::GetFileType (file.get()) != FILE_TYPE_DISK)
    {
        problem = "is not a regular file";
        return std::nullopt;
    }

    BY_HANDLE_FILE_INFORMATION info {};

    if (! ::GetFileInformationByHandle (file.get(), &info))
    {
        problem = "cannot be looked at";
        return std::nullopt;
    }

    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
    {
        problem = "is not a regular file";
        return std::nullopt;
    }

    const auto size = (static_cast<uint64_t> (info.nFileSizeHigh) << 32) | info.nFileSizeLow;

    if (size > maxBytes)
    {
        problem = "is larger than " + juce::String (static_cast<juce::int64> (maxBytes)) + " bytes";
        return std::nullopt;
    }

    // One byte more than allowed tells a file that grew after it was looked at.
    std::string content;
    char chunk[kReadChunkBytes];

    while (content.size() <= maxBytes)
    {
        DWORD got = 0;

        if (! ::ReadFile (file.get(), chunk, (DWORD) std::min (sizeof (chunk), maxBytes + 1 - content.size()), &got, nullptr))
        {
            problem = "cannot be read";
            return std::nullopt;
        }

        if (got == 0)
            return content;

        content.append (chunk, got);
    }

    problem = "is larger than " + juce::String (static_cast<juce::int64> (maxBytes)) + " bytes";
    return std::nullopt;
}
