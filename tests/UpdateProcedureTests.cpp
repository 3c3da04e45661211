#include "device/simulated/SimulatedController.h"
#include "tests/MessageLoop.h"
#include "tools/UpdateImageBuilder.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
constexpr int kWaitMs = 20000;

bool runUntil (const std::function<bool()>& condition, int timeoutMs = kWaitMs)
{
    return testing_support::runUntil (condition, timeoutMs);
}

// A folder with one update file in it, removed when the test ends.
struct UpdateFolder
{
    explicit UpdateFolder (const std::vector<uint8_t>& image)
    {
        folder.createDirectory();
        file.replaceWithData (image.data(), image.size());
    }

    ~UpdateFolder() { folder.deleteRecursively(); }

    juce::File folder = juce::File::createTempFile ("trb-update");
    juce::File file = folder.getChildFile ("trbkelo7__v102.bin");
};

struct UpdateRun
{
    explicit UpdateRun (const SimulatedScenario& scenario, const std::vector<uint8_t>& fileImage)
        : folder (fileImage)
    {
        SimulatedController::instance().reset (scenario);
        component = std::make_unique<MainComponent>();
        component->setReplyTimeoutMs (500);
    }

    ~UpdateRun()
    {
        component.reset();
        SimulatedController::instance().waitUntilIdle (1000);
    }

    bool checkController()
    {
        component->startCheck (folder.folder);
        return runUntil ([this]
                         { return ! component->isThreadRunning() || component->getStatus() != ST_INITIAL; });
    }

    bool runToTheEnd()
    {
        component->startUpdate();
        return runUntil ([this]
                         { return ! component->isThreadRunning(); });
    }

    UpdateFolder folder;
    std::unique_ptr<MainComponent> component;
};

std::vector<uint8_t> slice (const std::vector<uint8_t>& bytes, int64_t offset, int64_t length)
{
    return { bytes.begin() + offset, bytes.begin() + offset + length };
}
} // namespace

TEST (UpdateProcedure, AFullUpdateWritesAllThreeRegionsByteForByte)
{
    SimulatedScenario scenario;
    scenario.busyCount = 1;
    const auto image = makeUpdateImage ("1.05", 0x20261209, 7);
    UpdateRun run (scenario, image);

    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.component->getStatus(), ST_READY);
    EXPECT_EQ (run.component->getTotalBytes(), 0x120000);
    EXPECT_EQ (run.component->getDeviceVersion(), "1.00");

    const auto ended = run.runToTheEnd();
    ASSERT_TRUE (ended);
    EXPECT_EQ (run.component->getStatus(), ST_COMPLETE);
    EXPECT_TRUE (run.component->isFullUpdate());
    EXPECT_DOUBLE_EQ (run.component->getWorkerProgress(), 1.0);

    const auto flash = SimulatedController::instance().flash();
    for (const auto& region : kRegions)
        EXPECT_EQ (slice (flash, region.deviceAddress, region.length), slice (image, region.fileOffset, region.length));
}
