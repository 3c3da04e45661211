#include "app/QuitSignalWatcher.h"
#include "tests/AppShellTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

#include <unistd.h>

using app_shell_test::dispatchUntil;

namespace
{
extern "C" void ignoreSignal (int) { }
} // namespace

TEST (QuitSignalWatcher, TermInterruptAndHangUpEachReachTheMessageThread)
{
    for (const auto signalNumber : { SIGTERM, SIGINT, SIGHUP })
    {
        int calls = 0;
        bool onMessageThread = false;
        QuitSignalWatcher watcher ([&]
                                   {
                                       ++calls;
                                       onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread(); });
        ASSERT_TRUE (watcher.isWatching());

        ASSERT_EQ (std::raise (signalNumber), 0);
        EXPECT_TRUE (dispatchUntil ([&]
                                    { return calls > 0; }))
            << "signal " << signalNumber;
        EXPECT_EQ (calls, 1);
        EXPECT_TRUE (onMessageThread);
    }
}

TEST (QuitSignalWatcherDeathTest, ASecondSignalEndsTheProgramAtOnceWithTheStatusGiven)
{
    // A process of its own started afresh: the watcher needs the message thread.
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    constexpr int kStatus = 5;

    for (const auto signalNumber : { SIGTERM, SIGINT, SIGHUP })
    {
        EXPECT_EXIT (
            {
                QuitSignalWatcher watcher ([] {}, []() noexcept
                                           { return kStatus; });
                std::raise (signalNumber);
                std::raise (signalNumber);
                std::exit (0);
            },
            testing::ExitedWithCode (kStatus), "")
            << "signal " << signalNumber;
    }
}

TEST (QuitSignalWatcher, GivesTheSignalsBackToTheirPreviousHandlers)
{
    struct sigaction custom
    {
    };
    custom.sa_handler = ignoreSignal;
    sigemptyset (&custom.sa_mask);
    struct sigaction savedTerm
    {
    }, savedInt {}, savedHangUp {};
    ASSERT_EQ (sigaction (SIGTERM, &custom, &savedTerm), 0);
    ASSERT_EQ (sigaction (SIGINT, &custom, &savedInt), 0);
    ASSERT_EQ (sigaction (SIGHUP, &custom, &savedHangUp), 0);

    {
        QuitSignalWatcher watcher ([] {});
        struct sigaction during
        {
        };
        sigaction (SIGTERM, nullptr, &during);
        EXPECT_NE (during.sa_handler, ignoreSignal);
    }

    for (const auto signalNumber : { SIGTERM, SIGINT, SIGHUP })
    {
        struct sigaction after
        {
        };
        sigaction (signalNumber, nullptr, &after);
        EXPECT_EQ (after.sa_handler, ignoreSignal) << "signal " << signalNumber;
    }

    sigaction (SIGTERM, &savedTerm, nullptr);
    sigaction (SIGINT, &savedInt, nullptr);
    sigaction (SIGHUP, &savedHangUp, nullptr);
}
