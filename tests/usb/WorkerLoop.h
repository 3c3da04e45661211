#pragma once

#include "tests/MessageLoop.h"

#include <atomic>
#include <functional>
#include <thread>

/*
    How the USB tests let notices through: the main thread is the message
    thread, and it runs the message loop while a test waits for something or
    while a thread of the test plays the update worker.
*/

/** Runs the message loop until done() holds or timeoutMs have passed; true when done.
    The default is generous for a sanitizer build on a busy machine. */
inline bool pumpUntil (const std::function<bool()>& done, int timeoutMs = 60000)
{
    return testing_support::runUntil (done, timeoutMs);
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
