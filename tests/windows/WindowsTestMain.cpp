#include "tests/windows/WindowsTestSupport.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <map>

#include <shellapi.h>

namespace windows_test_support
{
namespace
{
    std::map<std::string, Role>& roles()
    {
        static std::map<std::string, Role> registered;
        return registered;
    }
} // namespace

RoleRegistration::RoleRegistration (const char* name, Role role)
{
    roles()[name] = std::move (role);
}

std::optional<int> runRoleIfAsked()
{
    // The arguments as the system has them (UTF-16): the C library's are in the
    // code page, which cannot hold every name.
    int count = 0;
    auto** const wide = ::CommandLineToArgvW (::GetCommandLineW(), &count);
    juce::StringArray arguments;

    for (int i = 0; wide != nullptr && i < count; ++i)
        arguments.add (juce::String (wide[i]));

    ::LocalFree (wide);
    const juce::String prefix ("--role=");

    if (arguments.size() < 2 || ! arguments[1].startsWith (prefix))
        return std::nullopt;

    const auto found = roles().find (arguments[1].substring (prefix.length()).toStdString());
    arguments.removeRange (0, 2);

    if (found == roles().end())
        return 127;

    return found->second (arguments);
}
} // namespace windows_test_support

// One framework instance for the whole program; the main thread is the message
// thread. A helper role (a second instance, a program that writes its log) runs
// in place of the tests when the program is started for it.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;

    if (const auto exitCode = windows_test_support::runRoleIfAsked())
        return *exitCode;

    ::testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
