#pragma once

#include <juce_events/juce_events.h>

// What the tests of the application's shell (the instance lock, the hand-over
// between launches, the quit signals) share: names that no other run meets, and
// a wait on the message loop.
namespace app_shell_test
{
// A name no real program uses, drawn per test, so these tests never meet a
// running updater nor a test of another run on the same machine (the process
// number alone repeats across containers that share their sockets).
inline juce::String uniqueApplicationName()
{
    return "TRBShellTest." + juce::Uuid().toString();
}

// Runs the message loop until done() holds or timeoutMs passed; the default is
// generous for a sanitizer build on a busy machine.
template <typename Predicate>
bool dispatchUntil (Predicate done, int timeoutMs = 60000)
{
    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! done() && juce::Time::getMillisecondCounter() < giveUpAt)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    return done();
}
} // namespace app_shell_test
