// One instance per user on Windows: the lock seen from a second process, a lock
// left by a process that ended without letting go, and the hand-over of a later
// launch's command line to the running instance.

#include "app/InstanceHandover.h"
#include "app/InstanceLock.h"
#include "tests/MessageLoop.h"
#include "tests/windows/WindowsTestSupport.h"

#include <gtest/gtest.h>

using namespace windows_test_support;

namespace
{
// The exit codes of the role that looks at a lock, one per state.
constexpr int kSawHeld = 10;
constexpr int kSawHeldElsewhere = 11;
constexpr int kSawUnavailable = 12;
constexpr int kHandedOver = 20;
constexpr int kNotHandedOver = 21;
constexpr int kHandoverWaitMs = 3000;

int exitCodeFor (InstanceLock::State state)
{
    switch (state)
    {
        case InstanceLock::State::held:
            return kSawHeld;
        case InstanceLock::State::heldElsewhere:
            return kSawHeldElsewhere;
        case InstanceLock::State::unavailable:
            break;
    }

    return kSawUnavailable;
}

// Takes the lock of the name given and says what it found.
const RoleRegistration lookAtLock ("look-at-lock", [] (const juce::StringArray& arguments)
                                   { return exitCodeFor (InstanceLock (arguments[0]).getState()); });

// A later launch: finds the running instance through the lock and hands it the
// command line given.
const RoleRegistration launchAgain ("launch-again", [] (const juce::StringArray& arguments)
                                    {
                                        const InstanceLock lock (arguments[0]);

                                        if (lock.getState() != InstanceLock::State::heldElsewhere)
                                            return exitCodeFor (lock.getState());

                                        const auto name = lock.readHandoverName (kHandoverWaitMs);
                                        return name.isNotEmpty() && InstanceHandover::sendToRunningInstance (name, arguments[1], kHandoverWaitMs)
                                                   ? kHandedOver
                                                   : kNotHandedOver; });

// Holds the lock until it is ended from outside.
const RoleRegistration holdLock ("hold-lock", [] (const juce::StringArray& arguments)
                                 {
                                     const InstanceLock lock (arguments[0]);
                                     std::printf ("%d\n", exitCodeFor (lock.getState()));
                                     std::fflush (stdout);
                                     ::Sleep (INFINITE);
                                     return 0; });

// Runs a role to its end while the message loop turns; its exit code, or -1.
int runRole (const juce::String& role, const juce::StringArray& arguments)
{
    juce::ChildProcess child;

    if (! child.start (roleCommand (role, arguments), 0))
        return -1;

    if (! testing_support::runUntil ([&child]
                                     { return ! child.isRunning(); },
                                     kLongestWaitMs))
    {
        child.kill();
        return -1;
    }

    return (int) child.getExitCode();
}
} // namespace

TEST (WindowsInstance, ASecondProcessOfTheSameUserSeesTheFirstAndOnlyWhileItHolds)
{
    const auto name = uniqueName ("TRBInstanceTest");

    {
        const InstanceLock first (name);
        ASSERT_EQ (first.getState(), InstanceLock::State::held);
        EXPECT_TRUE (first.getLockName().startsWith ("Local\\" + name + ".S-"));
        EXPECT_TRUE (first.getHandoverName().startsWith (name + "."));

        EXPECT_EQ (runRole ("look-at-lock", { name }), kSawHeldElsewhere);
        EXPECT_EQ (runRole ("look-at-lock", { name + "-other" }), kSawHeld);
    }

    EXPECT_EQ (runRole ("look-at-lock", { name }), kSawHeld);
}

TEST (WindowsInstance, ALockLeftByAProcessThatEndedWithoutLettingGoIsTakenOver)
{
    const auto name = uniqueName ("TRBInstanceTest");
    juce::ChildProcess holder;
    ASSERT_TRUE (holder.start (roleCommand ("hold-lock", { name })));

    // The holder says what it found once it holds the lock, in one short line. A read
    // waits for as many bytes as it asks for: one at a time, up to the line's end.
    juce::String said;

    while (! said.endsWith ("\n") && said.length() < 8)
    {
        char received = 0;

        if (holder.readProcessOutput (&received, 1) != 1)
            break;

        said += juce::String::charToString ((juce::juce_wchar) (uint8_t) received);
    }

    ASSERT_EQ (said.trim(), juce::String (kSawHeld));

    {
        const InstanceLock later (name);
        EXPECT_EQ (later.getState(), InstanceLock::State::heldElsewhere);
        const auto holderProcess = later.findHolder();
        ASSERT_TRUE (holderProcess.has_value());
        EXPECT_TRUE (holderProcess->name.endsWithIgnoreCase (".exe"));
    }

    ASSERT_TRUE (holder.kill());
    ASSERT_TRUE (holder.waitForProcessToFinish (kLongestWaitMs));

    const InstanceLock after (name);
    EXPECT_EQ (after.getState(), InstanceLock::State::held);
}

TEST (WindowsInstance, ALaterLaunchHandsItsCommandLineToTheRunningInstance)
{
    const auto name = uniqueName ("TRBInstanceTest");
    const InstanceLock lock (name);
    ASSERT_EQ (lock.getState(), InstanceLock::State::held);

    juce::StringArray received;
    const InstanceHandover handover (lock.getHandoverName(), [&received] (const juce::String& commandLine)
                                     { received.add (commandLine); });
    ASSERT_TRUE (handover.isListening());

    const auto commandLine = juce::String::fromUTF8 ("C:\\Downloads\\trbkelo7__v105 \u65E5\u672C.bin");
    EXPECT_EQ (runRole ("launch-again", { name, commandLine }), kHandedOver);
    EXPECT_TRUE (testing_support::runUntil ([&received]
                                            { return ! received.isEmpty(); },
                                            kLongestWaitMs));
    EXPECT_EQ (received, juce::StringArray (commandLine));

    // A second launch after the first is heard too: the pipe serves one launch after another.
    EXPECT_EQ (runRole ("launch-again", { name, "again" }), kHandedOver);
    EXPECT_TRUE (testing_support::runUntil ([&received]
                                            { return received.size() == 2; },
                                            kLongestWaitMs));
}

TEST (WindowsInstance, ALaunchFindsNoListenerOnceTheInstanceStoppedListening)
{
    const auto name = uniqueName ("TRBInstanceTest");
    const InstanceLock lock (name);
    ASSERT_EQ (lock.getState(), InstanceLock::State::held);

    {
        const InstanceHandover handover (lock.getHandoverName(), [] (const juce::String&) {});
        ASSERT_TRUE (handover.isListening());

        // A squatter cannot take the name while the instance listens.
        const InstanceHandover squatter (lock.getHandoverName(), [] (const juce::String&) {});
        EXPECT_FALSE (squatter.isListening());
    }

    EXPECT_EQ (runRole ("launch-again", { name, "late" }), kNotHandedOver);
}
