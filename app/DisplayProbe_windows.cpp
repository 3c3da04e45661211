// On Windows there is always a desktop to open windows on, so the probe asks the
// one thing that can be wrong: whether this process's window station is one a
// person sees. A service, or a task set to run whether the user is signed in or
// not, gets a window station of its own that is never shown; a window there would
// wait for a click that nobody can give.

#include "app/DisplayProbe.h"

#include <windows.h>

namespace
{
// The window station of the signed-in user's desktop.
constexpr const wchar_t* kInteractiveStation = L"WinSta0";
constexpr DWORD kLongestName = 256;
} // namespace

juce::String findDisplayProblem()
{
    auto* const station = ::GetProcessWindowStation();
    USEROBJECTFLAGS flags {};
    wchar_t name[kLongestName] {};

    // Without an answer the desktop is taken to be there: the window then shows
    // or the framework says why not.
    if (station == nullptr
        || ! ::GetUserObjectInformationW (station, UOI_FLAGS, &flags, sizeof (flags), nullptr)
        || ! ::GetUserObjectInformationW (station, UOI_NAME, name, sizeof (name) - sizeof (wchar_t), nullptr))
        return {};

    if ((flags.dwFlags & WSF_VISIBLE) != 0 || ::lstrcmpiW (name, kInteractiveStation) == 0)
        return {};

    return "no display: this process runs on the window station \"" + juce::String (name)
           + "\", which no one sees (a service, or a task that runs without the user signed in)";
}

bool displayProbeIsStillWaiting() noexcept
{
    // Nothing is waited for on a thread of its own here.
    return false;
}
