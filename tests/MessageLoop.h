#pragma once

#include <juce_events/juce_events.h>

#include <functional>

namespace juce
{
// The framework's own step of the message loop: dispatches one message, waiting
// for it when none is pending. runDispatchLoopUntil() sleeps a whole millisecond
// whenever the queue is empty, which turns every request-reply exchange of a
// test into a millisecond; this step wakes as soon as a message is posted.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace testing_support
{
/** Runs the message loop on the calling (message) thread until condition holds or
    timeoutMs have passed; true when it holds. */
inline bool runUntil (const std::function<bool()>& condition, int timeoutMs)
{
    // A ticking timer posts a message now and then, so the wait for the next
    // message never outlasts the time-out by much.
    struct Ticker final : public juce::Timer
    {
        void timerCallback() override { }
    } ticker;

    ticker.startTimer (5);
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;

        juce::dispatchNextMessageOnSystemQueue (false);
    }

    return true;
}

// The longest any wait of the suite may take, whatever moves on meanwhile: far
// beyond a whole update under a sanitizer on a busy machine, and short of a
// test's own time limit, so a wait that never ends fails with its assertion.
constexpr int kLongestWaitMs = 10 * 60 * 1000;

/** Runs the message loop until condition holds, for as long as the work it waits for
    moves on: gives up when progress() has not changed for stallMs, and in any case
    after overallMs. A long piece of work (a whole update) takes what it takes on a
    slow machine; one that hangs, or that moves on for ever (a controller busy without
    end), still ends the wait with a failure instead of holding the suite. */
inline bool runWhileProgressing (const std::function<bool()>& condition, const std::function<int64_t()>& progress, int stallMs,
                                 int overallMs = kLongestWaitMs)
{
    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) overallMs;

    for (;;)
    {
        const auto before = progress();
        const auto now = juce::Time::getMillisecondCounter();

        if (now >= giveUpAt)
            return condition();

        if (runUntil (condition, juce::jmin (stallMs, (int) (giveUpAt - now))))
            return true;

        if (progress() == before)
            return false;
    }
}
} // namespace testing_support
