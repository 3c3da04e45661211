#include "device/HidCtrl.h"
#include "device/usb/UsbHidLibrary.h"
#include "platform/StandardErrorWriter.h"
#include "protocol/Protocol.h"
#include "tests/usb/EmulatedHidBus.h"
#include "tests/usb/UpdateDriver.h"
#include "tests/usb/WorkerLoop.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>

/*
    The device link (HidCtrl, HidUtil, the notice receiver) on the Linux USB
    library, against emulated controllers: what the updater program runs.
*/

namespace
{
using Report = UpdateDriver::Report;

// As long as the updater itself waits for a reply.
constexpr int kReplyWaitMs = kReplyTimeoutMs;

// The main component's part, reduced to what these tests need: each reply
// that HidCtrl forwards is handed to the waiting worker.
class ReplyListener final : public HidHandler
{
public:
    explicit ReplyListener (HidCtrl& ctrlToUse)
        : ctrl (ctrlToUse)
    {
    }

    void hidDeviceRemoved() override { ++removals; }
    void hidDeviceArrived() override { ++arrivals; }

    void hidInputReceived (int) override
    {
        Report reply {};
        std::memcpy (reply.data(), ctrl.inputReport, (size_t) std::min (ctrl.inputLength, (int32_t) reply.size()));

        const std::lock_guard<std::mutex> guard (lock);
        replies.push_back (reply);
        arrived.notify_one();
    }

    /** Writes through the link and waits for the reply, as the worker does. Worker thread. */
    std::optional<Report> exchange (const Report& request)
    {
        if (! ctrl.write (request.data()))
            return std::nullopt;

        std::unique_lock<std::mutex> guard (lock);

        if (! arrived.wait_for (guard, std::chrono::milliseconds (kReplyWaitMs), [this]
                                { return ! replies.empty(); }))
            return std::nullopt;

        const auto reply = replies.front();
        replies.pop_front();
        return reply;
    }

    int removals = 0; // message thread
    int arrivals = 0; // message thread

private:
    HidCtrl& ctrl;
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Report> replies;
};
}

TEST (UsbDeviceLink, TakesUpAControllerPluggedInLaterAndLetsGoOfItWhenRemoved)
{
    EmulatedHidBus bus;
    EmulatedUsbIdentity keyboard;
    keyboard.productId = 0xC31C;
    keyboard.product = "USB Keyboard";
    bus.plugIn (keyboard, false);

    HidCtrl ctrl;
    ReplyListener listener (ctrl);
    EXPECT_FALSE (ctrl.open (&listener));
    EXPECT_EQ (ctrl.connected.load(), 0);

    EmulatedUsbIdentity identity;
    identity.release = 0x0102;
    auto& controller = bus.plugIn (identity);
    ASSERT_TRUE (pumpUntil ([&]
                            { return listener.arrivals == 1; }));
    EXPECT_EQ (ctrl.connected.load(), 1);
    EXPECT_EQ (ctrl.firmwareVersion, 0x0102u);

    std::optional<Report> reply;
    runOnWorker ([&]
                 { reply = listener.exchange (UpdateDriver::statusQuery()); });
    ASSERT_TRUE (reply.has_value());
    EXPECT_EQ ((*reply)[kOffsetSubCommand], REPLY_OK);

    bus.unplug (controller);
    ASSERT_TRUE (pumpUntil ([&]
                            { return listener.removals == 1; }));
    EXPECT_EQ (ctrl.connected.load(), 0);
    EXPECT_FALSE (ctrl.write (UpdateDriver::statusQuery().data()));

    pumpFor (200);
    EXPECT_EQ (listener.removals, 1);
    EXPECT_EQ (controller.requestCount(), 1);
    ctrl.close();
}

TEST (UsbDeviceLink, CarriesAWholeUpdateIntoTheControllersFlash)
{
    EmulatedHidBus bus;
    auto& controller = bus.plugIn (EmulatedUsbIdentity());
    controller.withController ([] (ControllerModel& model)
                               { model.setBusyCount (1); });

    HidCtrl ctrl;
    ReplyListener listener (ctrl);
    ASSERT_TRUE (ctrl.open (&listener));

    const auto image = UpdateDriver::makeImage (3);
    UpdateDriver driver ([&] (const Report& r)
                         { return listener.exchange (r); },
                         [&] (const Report& r)
                         { return ctrl.write (r.data()); });
    bool finished = false;
    runOnWorker ([&]
                 { finished = driver.runWholeUpdate (image); });
    ASSERT_TRUE (finished);

    // The finish request has no reply: wait until the controller has it.
    int finishes = 0;
    EXPECT_TRUE (pumpUntil ([&]
                            {
                                controller.withController ([&] (ControllerModel& model)
                                                           { finishes = model.finishCount(); });
                                return finishes > 0; }));
    EXPECT_EQ (finishes, 1);
    controller.withController ([&] (ControllerModel& model)
                               { EXPECT_TRUE (model.flash() == image); });
    ctrl.close();
}

TEST (UsbDeviceLink, WithoutUdevItSaysSoOnceAndStillTakesUpALaterController)
{
    EmulatedHidBus bus;
    UsbHidLibrary::instance().setHotplugRefusedForTesting (true);
    testing::internal::CaptureStderr();

    // Opened twice, as when the program's window is made again: told the first time only.
    HidCtrl ctrl;
    ReplyListener listener (ctrl);
    EXPECT_FALSE (ctrl.open (&listener));
    ctrl.close();
    EXPECT_FALSE (ctrl.open (&listener));
    // The line goes out through the program's stderr writer, on a thread of its own.
    StandardErrorWriter::flush (60000);
    const auto said = juce::String (testing::internal::GetCapturedStderr());

    auto& controller = bus.plugIn (EmulatedUsbIdentity());
    const bool arrived = pumpUntil ([&]
                                    { return listener.arrivals == 1; });
    const auto connected = ctrl.connected.load();
    std::optional<Report> reply;

    if (arrived)
        runOnWorker ([&]
                     { reply = listener.exchange (UpdateDriver::statusQuery()); });

    ctrl.close();
    UsbHidLibrary::instance().setHotplugRefusedForTesting (false);

    EXPECT_EQ (juce::StringArray::fromLines (said.trim()).size(), 1) << said;
    EXPECT_TRUE (said.contains ("HID_Start failed")) << said;
    ASSERT_TRUE (arrived);
    EXPECT_EQ (connected, 1);
    EXPECT_TRUE (reply.has_value());
    EXPECT_EQ (controller.requestCount(), 1);
}
