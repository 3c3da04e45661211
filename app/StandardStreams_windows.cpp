// The standard streams on Windows. The program is a windowed one, so it starts
// without streams unless the one who started it redirected them: a command
// prompt's console is taken over (AttachConsole) for what is not redirected, so
// --help, --version and the support log show where the command was typed.
// Streams with nowhere to go are opened on the null device, as on Linux.
//
// The support log (stderr) also always goes to a file of its own under
// %LOCALAPPDATA%, one per run, of which the last few are kept: stderr becomes a
// pipe whose other end a thread of ours copies to both places.

#include "app/StandardStreams.h"

#include "app/ProgramIdentity.h"
#include "platform/ScopedHandle.h"
#include "platform/WidePath.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <io.h>

namespace
{
constexpr int kKeptRuns = 5; // the newest log files kept, this run's included
constexpr DWORD kPipeBytes = 64 * 1024;
constexpr DWORD kCopyChunkBytes = 4096;
constexpr int kSettleAtExitMs = 2000;
constexpr DWORD kSettlePollMs = 5;
constexpr DWORD kLongestPath = 32768;
constexpr const wchar_t* kLogFolder = L"logs";
constexpr const wchar_t* kLogPrefix = L"support-";
constexpr const wchar_t* kLogSuffix = L".log";

// The copy of stderr: the pipe's read end, where its lines go on to, and whether
// the copying thread is in the middle of a chunk. Set up once on the main thread
// before any other thread exists; read by the copying thread and by settle.
struct StandardErrorCopy
{
    HANDLE readEnd = nullptr;
    HANDLE onward = nullptr; // the console or the parent's redirect; may be null
    HANDLE logFile = nullptr; // may be null
    std::atomic<bool> copying { false };
};

StandardErrorCopy* errorCopy = nullptr;

void writeWhole (HANDLE target, const char* data, DWORD size) noexcept
{
    while (target != nullptr && size > 0)
    {
        DWORD written = 0;

        if (! ::WriteFile (target, data, size, &written, nullptr) || written == 0)
            return;

        data += written;
        size -= written;
    }
}

DWORD WINAPI copyStandardError (LPVOID) noexcept
{
    char chunk[kCopyChunkBytes];

    for (;;)
    {
        DWORD got = 0;

        if (! ::ReadFile (errorCopy->readEnd, chunk, sizeof (chunk), &got, nullptr) || got == 0)
            return 0;

        errorCopy->copying = true;
        writeWhole (errorCopy->onward, chunk, got);
        writeWhole (errorCopy->logFile, chunk, got);
        errorCopy->copying = false;
    }
}

bool isUsable (HANDLE handle) noexcept
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType (handle) != FILE_TYPE_UNKNOWN;
}

// The folder for this program's own files under %LOCALAPPDATA%; empty when there is none.
std::wstring localDataFolder()
{
    std::wstring folder (kLongestPath, L'\0');
    const auto length = ::GetEnvironmentVariableW (L"LOCALAPPDATA", folder.data(), (DWORD) folder.size());

    if (length > 0 && length < folder.size())
    {
        folder.resize (length);
    }
    else
    {
        PWSTR known = nullptr;
        folder.clear();

        if (SUCCEEDED (::SHGetKnownFolderPath (FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &known)) && known != nullptr)
            folder = known;

        ::CoTaskMemFree (known);
    }

    return folder.empty() ? folder : folder + L"\\" + WidePath::toWide (kProgramName);
}

// Removes the oldest log files so that, with the one about to be made, kKeptRuns remain.
void pruneOldLogs (const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry {};
    const auto search = ::FindFirstFileExW ((folder + L"\\" + kLogPrefix + L"*" + kLogSuffix).c_str(), FindExInfoBasic,
                                            &entry, FindExSearchNameMatch, nullptr, 0);

    if (search == INVALID_HANDLE_VALUE)
        return;

    do
    {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.emplace_back (entry.cFileName);
    } while (::FindNextFileW (search, &entry));

    ::FindClose (search);

    // The names begin with the time they were made: their order is their age.
    std::sort (names.begin(), names.end());

    for (size_t i = 0; i + (kKeptRuns - 1) < names.size(); ++i)
        ::DeleteFileW ((folder + L"\\" + names[i]).c_str());
}

HANDLE openThisRunsLog()
{
    const auto programFolder = localDataFolder();

    if (programFolder.empty())
        return nullptr;

    const auto folder = programFolder + L"\\" + kLogFolder;
    ::CreateDirectoryW (programFolder.c_str(), nullptr);
    ::CreateDirectoryW (folder.c_str(), nullptr);
    pruneOldLogs (folder);

    SYSTEMTIME now {};
    ::GetSystemTime (&now);
    wchar_t stamp[64] {};
    std::swprintf (stamp, 64, L"%04u%02u%02u-%02u%02u%02u-%03u-%lu", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                   now.wSecond, now.wMilliseconds, (unsigned long) ::GetCurrentProcessId());

    const auto file = ::CreateFileW ((folder + L"\\" + kLogPrefix + stamp + kLogSuffix).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Points the C library's descriptor fd (and the system's standard handle) at handle,
// which the descriptor then owns.
void bindDescriptor (int fd, DWORD standard, HANDLE handle, int flags) noexcept
{
    const auto opened = ::_open_osfhandle (reinterpret_cast<intptr_t> (handle), flags);

    if (opened < 0)
    {
        ::CloseHandle (handle);
        return;
    }

    if (opened != fd)
    {
        ::_dup2 (opened, fd);
        ::_close (opened);
    }

    ::SetStdHandle (standard, reinterpret_cast<HANDLE> (::_get_osfhandle (fd)));
}

HANDLE openConsoleOrNull (bool console, bool forReading)
{
    const auto handle = ::CreateFileW (console ? (forReading ? L"CONIN$" : L"CONOUT$") : L"NUL",
                                       GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// stderr through the copying thread; false when it cannot be set up (stderr then
// stays as it is).
bool copyStandardErrorToLog (HANDLE onward)
{
    auto* const logFile = openThisRunsLog();
    HANDLE readEnd = nullptr, writeEnd = nullptr;

    if (logFile == nullptr || ! ::CreatePipe (&readEnd, &writeEnd, nullptr, kPipeBytes))
    {
        if (logFile != nullptr)
            ::CloseHandle (logFile);

        return false;
    }

    errorCopy = new StandardErrorCopy();
    errorCopy->readEnd = readEnd;
    errorCopy->onward = onward;
    errorCopy->logFile = logFile;

    // Never joined: it copies until the process ends.
    if (auto* thread = ::CreateThread (nullptr, 0, copyStandardError, nullptr, 0, nullptr))
    {
        ::CloseHandle (thread);
    }
    else
    {
        ::CloseHandle (writeEnd);
        return false;
    }

    bindDescriptor (2, STD_ERROR_HANDLE, writeEnd, _O_WRONLY | _O_BINARY);
    std::setvbuf (stderr, nullptr, _IONBF, 0);
    return true;
}

void settleAtExit()
{
    settleStandardStreams (kSettleAtExitMs);
}
} // namespace

void prepareStandardStreams() noexcept
{
    const bool console = ::AttachConsole (ATTACH_PARENT_PROCESS) != FALSE;
    const DWORD standards[] = { STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE };
    HANDLE errorTarget = nullptr;

    for (int fd = 0; fd < 3; ++fd)
    {
        auto* handle = ::GetStdHandle (standards[fd]);

        if (! isUsable (handle))
        {
            handle = openConsoleOrNull (console, fd == 0);

            if (handle == nullptr)
                continue;

            bindDescriptor (fd, standards[fd], handle, fd == 0 ? _O_RDONLY : _O_WRONLY);
            handle = reinterpret_cast<HANDLE> (::_get_osfhandle (fd));
        }
        else if (::_get_osfhandle (fd) == -1 || ::_get_osfhandle (fd) == -2)
        {
            // Redirected by the parent, but the C library did not take the handle
            // over at start-up: a copy of it, so that closing one leaves the other.
            HANDLE copy = nullptr;

            if (::DuplicateHandle (::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
                bindDescriptor (fd, standards[fd], copy, fd == 0 ? _O_RDONLY : _O_WRONLY);
        }

        if (fd == 2)
            errorTarget = handle;
    }

    // The descriptors are set: the C library's streams follow them.
    std::setvbuf (stdout, nullptr, _IOLBF, BUFSIZ);

    // The console or the redirect keeps its own handle for the copying thread, since
    // descriptor 2 becomes the pipe.
    HANDLE onward = nullptr;

    if (errorTarget != nullptr && ::GetFileType (errorTarget) != FILE_TYPE_UNKNOWN)
        ::DuplicateHandle (::GetCurrentProcess(), errorTarget, ::GetCurrentProcess(), &onward, 0, FALSE, DUPLICATE_SAME_ACCESS);

    if (copyStandardErrorToLog (onward))
        std::atexit (settleAtExit);
    else if (onward != nullptr)
        ::CloseHandle (onward);
}

void settleStandardStreams (int timeoutMs) noexcept
{
    if (errorCopy == nullptr)
        return;

    const auto giveUpAt = ::GetTickCount64() + (ULONGLONG) std::max (0, timeoutMs);

    for (;;)
    {
        DWORD waiting = 0;

        if (! ::PeekNamedPipe (errorCopy->readEnd, nullptr, 0, nullptr, &waiting, nullptr)
            || (waiting == 0 && ! errorCopy->copying))
            return;

        if (::GetTickCount64() >= giveUpAt)
            return;

        ::Sleep (kSettlePollMs);
    }
}
