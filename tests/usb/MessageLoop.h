#pragma once

#include <juce_events/juce_events.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

/*
    How the USB tests let notices through: the main thread is the message
    thread, and it runs the message loop while a test waits for something.
*/

/** Runs the message loop until done() holds or timeoutMs have passed; true when done. */
inline bool pumpUntil (const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

    while (! done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;

        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }

    return true;
}

/** Runs the message loop for milliseconds. */
inline void pumpFor (int milliseconds)
{
    pumpUntil ([]
               { return false; },
               milliseconds);
}

/** Runs fn on a thread of its own (the update worker's place) while the message loop runs. */
inline void runOnWorker (const std::function<void()>& fn)
{
    std::atomic<bool> done { false };
    std::thread worker ([&]
                        { fn(); done.store (true); });
    pumpUntil ([&]
               { return done.load(); },
               600000);
    worker.join();
}

/** Like runOnWorker, but the message loop runs as in the program: blocked until a notice
    comes, rather than polled with a sleep between empty turns. That sleep would dominate a
    run of thousands of exchanges. The loop cannot run again in this process afterwards, so
    this is a test's last use of the message thread. */
inline void runOnWorkerToTheEnd (const std::function<void()>& fn)
{
    std::thread worker ([&]
                        {
        fn();
        juce::MessageManager::getInstance()->stopDispatchLoop(); });
    juce::MessageManager::getInstance()->runDispatchLoop();
    worker.join();
}
