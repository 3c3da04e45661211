#include "log/PlatformAdvice.h"

namespace PlatformAdvice
{
juce::String downloadFolder()
{
    return "the Downloads folder";
}

juce::String resumeStopped (const juce::String& processId)
{
    return "resume it (process id " + processId + ") and let it finish, or end it in Task Manager";
}

juce::String endHung (const juce::String& processId)
{
    return ", or end it in Task Manager if it hangs (process id " + processId + ")";
}

juce::String controllerWithoutAccess()
{
    // Windows needs no rule for a HID device: one that is there but cannot be
    // opened is held by another program.
    return "another program holds it. Close the other program that uses the controller "
           "(a DJ application, or another updater), then run this one again";
}

juce::String controllerNotFound()
{
    return "plug it in and run again; if it is plugged in, close any other program that uses it and run again";
}
} // namespace PlatformAdvice
