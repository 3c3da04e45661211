// The instance lock on Windows: a named mutex in the session's own namespace
// ("Local\"), its name holding the user's security identifier, so that neither
// another session nor another user of this one shares it. A mutex whose holder
// ended without letting go is handed to the next waiter ("abandoned"), so a
// crashed instance leaves no stale lock. Beside it a small named memory section
// carries the hand-over name and the holder's process id, for later launches.
// Both objects get the default security of this user's process: other users
// cannot open them.

#include "app/InstanceLock.h"
#include "app/UserSid_windows.h"

#include "platform/ScopedHandle.h"
#include "platform/WidePath.h"
#include "text/ExternalText.h"

#include <windows.h>

#include <sddl.h>

#include <cstring>
#include <string>

// The system's random generator (RtlGenRandom), exported by advapi32 under this name.
extern "C" BOOLEAN NTAPI SystemFunction036 (PVOID buffer, ULONG length);

namespace
{
constexpr const wchar_t* kSessionNamespace = L"Local\\";
constexpr size_t kRandomBytes = 16;
// The section holds "name\npid\n": room for a name of kMaxNameBytes and a number.
constexpr int kMaxNameBytes = 200;
constexpr DWORD kSectionBytes = 256;
constexpr int kReadRetryMs = 20;

// This process's user as a text SID ("S-1-5-21-..."); empty when the system does not say.
juce::String currentUserSid()
{
    HANDLE token = nullptr;

    if (! ::OpenProcessToken (::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};

    const ScopedHandle ownedToken { token };
    return userSidOfToken (token);
}

juce::String randomHex()
{
    unsigned char bytes[kRandomBytes] {};

    if (! SystemFunction036 (bytes, (ULONG) sizeof (bytes)))
    {
        // Without the system's randomness the name is still unique per process;
        // guessing it only lets another user fail a hand-over, which then starts anyway.
        juce::Random random;
        random.setSeedRandomly();

        for (auto& b : bytes)
            b = (unsigned char) random.nextInt (256);
    }

    return juce::String::toHexString (bytes, (int) sizeof (bytes), 0);
}

juce::String describeError (DWORD error)
{
    return "error " + juce::String ((int) error);
}
} // namespace

struct InstanceLock::Native final
{
    ScopedHandle mutex, section;
    char* view = nullptr;

    ~Native()
    {
        if (view != nullptr)
            ::UnmapViewOfFile (view);

        // Let go of a mutex this thread holds; on another thread (or none held) this
        // fails, and closing the last handle ends the hold with the process anyway.
        if (mutex.isValid())
            ::ReleaseMutex (mutex.get());
    }
};

InstanceLock::InstanceLock (const juce::String& applicationName, juce::Array<juce::File>, Launches launches)
    : namePrefix (applicationName + ".")
{
    tryPlace ({}, applicationName, launches);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryPlace (const juce::File&, const juce::String& applicationName, Launches launches)
{
    const auto sid = currentUserSid();

    if (sid.isEmpty())
    {
        problem = "this process's user cannot be told (" + describeError (::GetLastError()) + ")";
        return false;
    }

    const auto baseName = juce::String (kSessionNamespace) + applicationName + "." + sid;
    auto held = std::make_unique<Native>();
    held->mutex.reset (::CreateMutexW (nullptr, FALSE, (baseName + ".lock").toWideCharPointer()));

    if (! held->mutex.isValid())
    {
        // Access denied: another user of this session made an object of that name.
        problem = "the lock " + baseName + ".lock cannot be made (" + describeError (::GetLastError()) + ")";
        return false;
    }

    held->section.reset (::CreateFileMappingW (INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionBytes,
                                               (baseName + ".instance").toWideCharPointer()));

    if (held->section.isValid())
        held->view = static_cast<char*> (::MapViewOfFile (held->section.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kSectionBytes));

    const auto waited = ::WaitForSingleObject (held->mutex.get(), 0);

    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    {
        // An empty first line tells a later launch at once that there is no one to hand over to.
        if (launches == Launches::handedOver)
            handoverName = namePrefix + randomHex();

        const auto text = (handoverName + "\n" + juce::String ((int) ::GetCurrentProcessId())).toStdString();

        if (held->view != nullptr && text.size() + 1 < kSectionBytes)
        {
            // A reader takes the text once its last line ends: the end comes last.
            std::memset (held->view, 0, kSectionBytes);
            ::MemoryBarrier();
            std::memcpy (held->view, text.data(), text.size());
            ::MemoryBarrier();
            held->view[text.size()] = '\n';
        }
        else
        {
            // Later launches cannot find this one, but it still is the instance.
            handoverName.clear();
        }

        state = State::held;
    }
    else if (waited == WAIT_TIMEOUT)
    {
        state = State::heldElsewhere;
    }
    else
    {
        problem = "the lock " + baseName + ".lock cannot be taken (" + describeError (::GetLastError()) + ")";
        return false;
    }

    native = std::move (held);
    lockName = baseName + ".lock";
    return true;
}

namespace
{
// The section's two lines once both are there: the name and the holder's process id.
bool readSection (const char* view, juce::String& name, juce::String& processId)
{
    char copy[kSectionBytes + 1] {};
    std::memcpy (copy, view, kSectionBytes);
    ::MemoryBarrier();
    const auto* firstEnd = static_cast<const char*> (std::memchr (copy, '\n', kSectionBytes));

    if (firstEnd == nullptr)
        return false;

    const auto firstLength = (size_t) (firstEnd - copy);
    const auto* secondEnd = static_cast<const char*> (std::memchr (firstEnd + 1, '\n', kSectionBytes - firstLength - 1));

    if (secondEnd == nullptr || firstLength > (size_t) kMaxNameBytes)
        return false;

    name = ExternalText::fromBytes (copy, firstLength);
    processId = ExternalText::fromBytes (firstEnd + 1, (size_t) (secondEnd - firstEnd - 1));
    return true;
}
} // namespace

juce::String InstanceLock::readHandoverName (int waitMs) const
{
    if (state != State::heldElsewhere || native->view == nullptr)
        return {};

    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, waitMs);

    for (;;)
    {
        juce::String name, processId;

        if (readSection (native->view, name, processId))
        {
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
    juce::String name, processId;

    if (state != State::heldElsewhere || native->view == nullptr || ! readSection (native->view, name, processId)
        || processId.isEmpty() || ! processId.containsOnly ("0123456789"))
        return std::nullopt;

    Holder holder { processId.getIntValue(), {}, false };
    const ScopedHandle process { ::OpenProcess (PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD) holder.processId) };

    // A process id is reused once its process is gone: only a live one is named.
    DWORD exitCode = 0;

    if (! process.isValid() || ! ::GetExitCodeProcess (process.get(), &exitCode) || exitCode != STILL_ACTIVE)
        return std::nullopt;

    wchar_t path[MAX_PATH * 4] {};
    DWORD length = (DWORD) (sizeof (path) / sizeof (path[0]));

    if (::QueryFullProcessImageNameW (process.get(), 0, path, &length))
    {
        // The program's file name, as Linux's short name of a process is.
        const auto shown = ExternalText::fromBytes (WidePath::fromWide (path, length));
        holder.name = shown.fromLastOccurrenceOf ("\\", false, false);
    }

    return holder;
}

juce::Array<juce::File> InstanceLock::defaultPlaces (const juce::String&)
{
    return {};
}
