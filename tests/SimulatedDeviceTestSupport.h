#pragma once

#include "device/NoticeReceiver.h"
#include "device/simulated/SimulatedController.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>

// Helpers for tests that wait for the device library's notices. The test body runs on
// the message thread, so it has to turn the message loop itself while it waits.
namespace testsupport
{
// Generous for a sanitizer build on a busy machine; a wait ends as soon as what it
// waits for has happened.
inline constexpr int kNoticeWaitMs = 60000;

/** Runs the message loop until condition holds; false when timeoutMs passed first. */
inline bool runUntil (const std::function<bool()>& condition, int timeoutMs = kNoticeWaitMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;

        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    }

    return true;
}

// The marker notice: a message of the range a receiver hands on (on Windows from
// WM_USER up; 0 there is WM_NULL, which no receiver sees), and none the library sends.
constexpr uint32_t kMarkerNotice = 0x7FFF;

inline std::atomic<bool> markerSeen { false };

inline intptr_t markerProcedure (void*, uint32_t, uintptr_t, intptr_t)
{
    markerSeen = true;
    return 0;
}

/** Lets everything the simulator has done or still has on its way reach the receivers:
    its device thread is drained first (late replies and plug-ins after a delay
    included, up to kNoticeWaitMs ahead), then a marker notice posted behind its
    notices is waited for (the message queue is first in, first out). */
inline void settleSimulator()
{
    ASSERT_TRUE (SimulatedController::instance().waitUntilIdle (kNoticeWaitMs));
    auto* marker = createNoticeReceiver (noticeModuleHandle(), markerProcedure);
    markerSeen = false;
    trbPostNotice (marker, kMarkerNotice, 0, 0);
    EXPECT_TRUE (runUntil ([]
                           { return markerSeen.load(); }));
    destroyNoticeReceiver (marker);
}
}
