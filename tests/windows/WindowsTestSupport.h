#pragma once

#include <juce_core/juce_core.h>

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace windows_test_support
{
/** A helper role of the test program, run in a process of its own: the test
    program started with "--role=NAME" and more arguments runs that role instead of
    the tests and ends with its exit code. */
using Role = std::function<int (const juce::StringArray& arguments)>;

/** Registers a role at start-up (from a static object of a test file). */
struct RoleRegistration
{
    RoleRegistration (const char* name, Role role);
};

/** Runs the role this process's command line names; nothing when it names none. */
std::optional<int> runRoleIfAsked();

/** This test program's own path, for starting a role. */
inline juce::String thisProgram()
{
    return juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();
}

/** The arguments that start role name of this program with more arguments. */
inline juce::StringArray roleCommand (const juce::String& name, const juce::StringArray& more = {})
{
    juce::StringArray command { thisProgram(), "--role=" + name };
    command.addArray (more);
    return command;
}

/** A name no other test run uses, for named objects and folders. */
inline juce::String uniqueName (const juce::String& stem)
{
    return stem + "-" + juce::String ((int) ::GetCurrentProcessId()) + "-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64());
}

/** True under Wine, which lacks a few of Windows's calls and cannot name a file
    with a lone surrogate (its names are UTF-8 on the host). */
inline bool runningUnderWine()
{
    auto* const ntdll = ::GetModuleHandleW (L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress (ntdll, "wine_get_version") != nullptr;
}

// Every wait of these tests ends at an event, with this as the outer bound.
constexpr int kLongestWaitMs = 60 * 1000;
} // namespace windows_test_support
