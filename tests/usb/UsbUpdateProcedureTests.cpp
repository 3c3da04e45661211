#include "device/HidCtrl.h"
#include "tests/usb/EmulatedHidBus.h"
#include "tests/usb/WorkerLoop.h"
#include "tools/UpdateImageBuilder.h"
#include "ui/MainComponent.h"
#include "update/UpdateFile.h"
#include "update/UpdateProcedure.h"

#include <gtest/gtest.h>

/*
    The updater's own update procedure on the Linux USB library, against an
    emulated controller: what the updater program does with a real one.
*/

namespace
{
// Long enough for any wait also under the sanitizers on a busy machine. A whole
// update is waited for as long as the controller keeps receiving requests.
constexpr int kWaitMs = 60000;

bool runWhileTheControllerHears (EmulatedHidDevice& controller, const std::function<bool()>& condition)
{
    return testing_support::runWhileProgressing (
        condition, [&controller]
        { return (int64_t) controller.requestCount(); },
        kWaitMs);
}

// A folder with one update file in it, removed when the test ends.
struct UpdateFolder
{
    explicit UpdateFolder (const std::vector<uint8_t>& image)
    {
        folder.createDirectory();
        folder.getChildFile ("trbkelo7__v105.bin").replaceWithData (image.data(), image.size());
    }

    ~UpdateFolder() { folder.deleteRecursively(); }

    juce::File folder = juce::File::createTempFile ("trb-usb-update");
};

std::vector<uint8_t> slice (const std::vector<uint8_t>& bytes, int64_t offset, int64_t length)
{
    return { bytes.begin() + offset, bytes.begin() + offset + length };
}

// The update procedure on a device link of its own, as the program holds them.
struct Updater
{
    Updater() { link.open (&procedure); }

    ~Updater()
    {
        procedure.stop();
        link.close();
    }

    HidCtrl link;
    UpdateProcedure procedure { link };
};

bool checkController (UpdateProcedure& procedure, const UpdateFolder& folder)
{
    procedure.startCheck (folder.folder);
    return pumpUntil ([&]
                      { return ! procedure.isWorkerRunning() || procedure.getStatus() != ST_INITIAL; },
                      kWaitMs);
}
} // namespace

TEST (UsbUpdateProcedure, AFullUpdateWritesAllThreeRegionsByteForByte)
{
    EmulatedHidBus bus;
    auto& controller = bus.plugIn (EmulatedUsbIdentity());
    controller.withController ([] (ControllerModel& model)
                               { model.setBusyCount (1); });

    const auto image = makeUpdateImage ("1.05", 0x20261209, 7);
    UpdateFolder folder (image);
    auto updater = std::make_unique<Updater>();

    ASSERT_TRUE (checkController (updater->procedure, folder));
    ASSERT_EQ (updater->procedure.getStatus(), ST_READY);

    updater->procedure.startUpdate();
    ASSERT_TRUE (runWhileTheControllerHears (controller, [&]
                                             { return ! updater->procedure.isWorkerRunning(); }));
    EXPECT_EQ (updater->procedure.getStatus(), ST_COMPLETE);

    // The finish request has no reply; it has reached the controller when the
    // worker has ended, give or take the transport.
    EXPECT_TRUE (pumpUntil ([&]
                            {
                                int finishes = 0;
                                controller.withController ([&] (ControllerModel& model) { finishes = model.finishCount(); });
                                return finishes == 1; }));

    controller.withController ([&] (ControllerModel& model)
                               {
        for (const auto& region : kRegions)
            EXPECT_EQ (slice (model.flash(), region.deviceAddress, region.length), slice (image, region.fileOffset, region.length)); });

    updater.reset();
}

TEST (UsbUpdateProcedure, UnpluggingMidUpdateEndsIn0x0E37WithNothingSentAfterIt)
{
    EmulatedHidBus bus;
    auto& controller = bus.plugIn (EmulatedUsbIdentity());
    UpdateFolder folder (makeUpdateImage ("1.05", 0x20261209, 9));
    auto updater = std::make_unique<Updater>();

    ASSERT_TRUE (checkController (updater->procedure, folder));
    ASSERT_EQ (updater->procedure.getStatus(), ST_READY);

    updater->procedure.startUpdate();
    ASSERT_TRUE (pumpUntil ([&]
                            { return controller.requestCount() >= 1000; },
                            kWaitMs));
    bus.unplug (controller);

    ASSERT_TRUE (pumpUntil ([&]
                            { return ! updater->procedure.isWorkerRunning(); },
                            kWaitMs));
    EXPECT_EQ (updater->procedure.getStatus(), ERR_DEVICE_REMOVED);
    EXPECT_EQ (formatErrorId (updater->procedure.getStatus()), "0E37");

    // Whatever reached the controller did so before the removal was told; after
    // it nothing more arrives, and no block was closed or finish sent.
    const auto requestsAtEnd = controller.requestCount();
    pumpFor (300);
    EXPECT_EQ (controller.requestCount(), requestsAtEnd);
    controller.withController ([] (ControllerModel& model)
                               {
        EXPECT_EQ (model.finishCount(), 0);
        EXPECT_EQ (model.requestCount (ControllerModel::RequestKind::checksum), 0); });

    updater.reset();
}

TEST (UsbUpdateProcedure, AnUpdateCutOffByUnpluggingIsFinishedByRunningTheUpdaterAgain)
{
    EmulatedHidBus bus;
    auto& cutOff = bus.plugIn (EmulatedUsbIdentity());
    const auto image = makeUpdateImage ("1.05", 0x20261209, 13);
    UpdateFolder folder (image);
    auto updater = std::make_unique<Updater>();

    ASSERT_TRUE (checkController (updater->procedure, folder));
    ASSERT_EQ (updater->procedure.getStatus(), ST_READY);
    updater->procedure.startUpdate();
    ASSERT_TRUE (pumpUntil ([&]
                            { return cutOff.requestCount() >= 1000; },
                            kWaitMs));
    bus.unplug (cutOff);
    ASSERT_TRUE (pumpUntil ([&]
                            { return ! updater->procedure.isWorkerRunning(); },
                            kWaitMs));
    ASSERT_EQ (updater->procedure.getStatus(), ERR_DEVICE_REMOVED);
    updater.reset();

    // The same controller comes back with its flash as the cut left it, and the
    // user starts the updater again.
    ControllerModel leftBehind;
    cutOff.withController ([&] (ControllerModel& model)
                           { leftBehind = model; });
    EXPECT_EQ (leftBehind.installedStamp(), 0xFFFFFFFFu);

    auto& again = bus.plugIn (EmulatedUsbIdentity());
    again.withController ([&] (ControllerModel& model)
                          {
                              model = leftBehind;
                              model.resetScript();
                              model.powerCycle(); });
    updater = std::make_unique<Updater>();

    ASSERT_TRUE (checkController (updater->procedure, folder));
    ASSERT_EQ (updater->procedure.getStatus(), ST_READY);
    updater->procedure.startUpdate();
    ASSERT_TRUE (pumpUntil ([&]
                            { return ! updater->procedure.isWorkerRunning(); },
                            kWaitMs));
    EXPECT_EQ (updater->procedure.getStatus(), ST_COMPLETE);
    EXPECT_TRUE (updater->procedure.isFullUpdate());

    EXPECT_TRUE (pumpUntil ([&]
                            {
                                int finishes = 0;
                                again.withController ([&] (ControllerModel& model) { finishes = model.finishCount(); });
                                return finishes == 1; }));

    again.withController ([&] (ControllerModel& model)
                          {
        for (const auto& region : kRegions)
            EXPECT_EQ (slice (model.flash(), region.deviceAddress, region.length), slice (image, region.fileOffset, region.length));
        EXPECT_EQ (model.installedVersion(), "1.05");
        EXPECT_EQ (model.installedStamp(), 0x20261209u); });

    updater.reset();
}

TEST (UsbUpdateProcedure, AControllerThisUserMayNotOpenIsToldWithTheRemedyNotJustAsNotConnected)
{
    EmulatedHidBus bus;
    auto& controller = bus.plugIn (EmulatedUsbIdentity());
    const auto mode = bus.setNodeMode (controller, 0);
    // A controller whose node is missing is not one this user may not open.
    auto& withoutNode = bus.plugIn (EmulatedUsbIdentity());
    bus.hideNode (withoutNode, true);
    UpdateFolder folder (makeUpdateImage ("1.05", 0x20261209, 7));

    {
        const FileModesApplyToThisThread asAnyUser;
        UpdateSession session;
        auto component = std::make_unique<MainComponent> (session);
        juce::StringArray lines;
        component->getSupportLog().setSink ([&lines] (const juce::String& line)
                                            { lines.add (line); });

        component->setUpdateFileFolder (folder.folder);
        component->buttonClicked (&component->getOkButton()); // "OK" on the language screen
        EXPECT_EQ (component->getStatus(), ERR_NOT_CONNECTED);

        // What explains the error, then the result's own line, last.
        ASSERT_GE (lines.size(), 2) << lines.joinIntoString ("\n");
        EXPECT_TRUE (lines[lines.size() - 1].startsWith ("result: error 0x0E21, no controller found")) << lines.joinIntoString ("\n");
        const auto& told = lines[lines.size() - 2];
        EXPECT_TRUE (told.startsWith ("controller without access: /dev/" + juce::String (controller.nodeName()) + " is a TRB-Kelo7, but this user may not open it"))
            << told;
        EXPECT_TRUE (told.contains ("udev rule") && told.contains ("replug")) << told;
        component.reset();
    }

    bus.setNodeMode (controller, mode);
    bus.hideNode (withoutNode, false);
}
