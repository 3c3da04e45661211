#include "device/NoticeReceiver.h"
#include "device/TrbKelo7Hid.h"
#include "device/usb/UsbHidIdentity.h"
#include "device/usb/UsbHidLibrary.h"
#include "tests/usb/EmulatedHidBus.h"
#include "tests/usb/UpdateDriver.h"
#include "tests/usb/WorkerLoop.h"
#include "protocol/Protocol.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>

/*
    The Linux device library against emulated USB HID devices (umockdev): real
    hidapi, real udev monitor, real threads, real notice delivery; only the
    controller is the simulated one's protocol logic, behind each hidraw node.
*/

namespace
{
using Report = UpdateDriver::Report;

constexpr uint32_t kMarkerMessage = 4242;
// Generous for a sanitizer build on a busy machine; a wait ends as soon as what
// it waits for has happened. A reply is waited for as long as the updater waits.
constexpr int kWaitMs = 60000;
constexpr int kReplyWaitMs = kReplyTimeoutMs;

struct PostedNotice
{
    uint32_t message;
    uintptr_t wParam;
};

EmulatedUsbIdentity foreignKeyboard()
{
    EmulatedUsbIdentity keyboard;
    keyboard.vendorId = 0x046D;
    keyboard.productId = 0xC31C;
    keyboard.product = "USB Keyboard";
    return keyboard;
}
}

class UsbDeviceLibrary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        current = this;
        bus = std::make_unique<EmulatedHidBus>();
        window = createNoticeReceiver (noticeModuleHandle(), &procedure);
        ASSERT_NE (window, nullptr);
    }

    void TearDown() override
    {
        stopLibrary();
        UsbHidLibrary::instance().setHotplugRefusedForTesting (false);
        destroyNoticeReceiver (window);
        bus.reset();
        current = nullptr;
    }

    void startLibrary()
    {
        HID_Initialize (noticeModuleHandle());
        HID_SetCallback (window, WM_HID_INPUT, WM_HID_ARRIVED, WM_HID_REMOVED);
        HID_Start();
    }

    void stopLibrary()
    {
        HID_Stop();
        HID_SetCallback (nullptr, 0, 0, 0);
        HID_Finalize();
    }

    static std::vector<int32_t> enumerate()
    {
        int32_t numbers[HID_MAX_DEVICES] = {};
        const auto count = HID_EnumHIDno (numbers);
        return std::vector<int32_t> (numbers, numbers + std::max (0, count));
    }

    int countNotices (uint32_t message, int64_t number = -1) const
    {
        return (int) std::count_if (notices.begin(), notices.end(), [&] (const PostedNotice& n)
                                    { return n.message == message && (number < 0 || (int64_t) n.wParam == number); });
    }

    /** One request and its reply through the library, as the worker does it. Worker thread. */
    std::optional<Report> exchange (int32_t device, const Report& request, int timeoutMs = kReplyWaitMs)
    {
        if (HID_Write (device, request.data(), HID_REPORT_SIZE) == 0)
            return std::nullopt;

        std::unique_lock<std::mutex> guard (replyLock);

        if (! replyArrived.wait_for (guard, std::chrono::milliseconds (timeoutMs), [this]
                                     { return ! replies.empty(); }))
            return std::nullopt;

        const auto reply = replies.front();
        replies.pop_front();
        return reply;
    }

    UpdateDriver makeDriver (int32_t device)
    {
        return UpdateDriver ([this, device] (const Report& r)
                             { return exchange (device, r); },
                             [device] (const Report& r)
                             { return HID_Write (device, r.data(), HID_REPORT_SIZE) != 0; });
    }

    std::unique_ptr<EmulatedHidBus> bus;
    void* window = nullptr;
    std::vector<PostedNotice> notices; // message thread only
    std::atomic<bool> removalSeen { false };

    std::mutex replyLock;
    std::condition_variable replyArrived;
    std::deque<Report> replies;

private:
    // What the device link's hidden window does with a notice, reduced to what
    // these tests look at: every input notice is read at once with HID_Input.
    static intptr_t procedure (void*, uint32_t message, uintptr_t wParam, intptr_t)
    {
        auto& self = *current;
        self.notices.push_back ({ message, wParam });

        if (message == WM_HID_REMOVED)
            self.removalSeen.store (true);

        if (message == WM_HID_INPUT)
        {
            Report reply {};
            int32_t length = HID_REPORT_SIZE;
            HID_Input ((int32_t) wParam, reply.data(), &length);

            if (length > 0)
            {
                const std::lock_guard<std::mutex> guard (self.replyLock);
                self.replies.push_back (reply);
                self.replyArrived.notify_one();
            }
        }

        return 0;
    }

    static inline UsbDeviceLibrary* current = nullptr;
};

//==============================================================================
TEST_F (UsbDeviceLibrary, ListsEveryHidDeviceAndTypesOnlyControllersAsTrbKelo7)
{
    auto first = EmulatedUsbIdentity();
    first.release = 0x0102;
    auto& controllerA = bus->plugIn (first);
    auto& keyboard = bus->plugIn (foreignKeyboard(), false);
    auto& controllerB = bus->plugIn (EmulatedUsbIdentity());
    startLibrary();

    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 3u);
    EXPECT_EQ (HID_GetDeviceType (numbers[0]), HID_TYPE_TRBKELO7);
    EXPECT_NE (HID_GetDeviceType (numbers[1]), HID_TYPE_TRBKELO7);
    EXPECT_EQ (HID_GetDeviceType (numbers[2]), HID_TYPE_TRBKELO7);
    EXPECT_NE (numbers[0], numbers[2]);

    // Numbers stay put from one enumeration to the next.
    EXPECT_EQ (enumerate(), numbers);

    // The first controller listed is the one whose version is reported.
    uint32_t words[2] = {};
    HID_GetFirmwareVersion (HID_TYPE_TRBKELO7, words, 1);
    EXPECT_EQ (words[0], 0x0102u);

    // Both controllers answer on their own numbers; the keyboard is left alone.
    runOnWorker ([&]
                 {
        EXPECT_TRUE (exchange (numbers[0], UpdateDriver::statusQuery()).has_value());
        EXPECT_TRUE (exchange (numbers[2], UpdateDriver::statusQuery()).has_value());
        EXPECT_EQ (HID_Write (numbers[1], UpdateDriver::statusQuery().data(), HID_REPORT_SIZE), 0); });
    EXPECT_EQ (controllerA.requestCount(), 1);
    EXPECT_EQ (controllerB.requestCount(), 1);
    EXPECT_EQ (keyboard.openCount(), 0);
    EXPECT_EQ (keyboard.requestCount(), 0);
    EXPECT_EQ (countNotices (WM_HID_INPUT, numbers[0]), 1);
    EXPECT_EQ (countNotices (WM_HID_INPUT, numbers[2]), 1);
}

TEST_F (UsbDeviceLibrary, NeverOpensADeviceThatMatchesOnlyPartOfTheIdentity)
{
    struct Case
    {
        uint16_t productId;
        const char* product;
    };

    const Case cases[] = {
        { 0x01A0, "TRB-Kelo9" },
        { 0x01A0, "trb-kelo7" },
        { 0x01A0, "TRB-Kelo7 MkII" },
        { 0x01A1, "TRB-Kelo7" },
    };

    std::vector<EmulatedHidDevice*> lookalikes;

    for (const auto& c : cases)
    {
        EmulatedUsbIdentity identity;
        identity.productId = c.productId;
        identity.product = c.product;
        lookalikes.push_back (&bus->plugIn (identity, false));
    }

    startLibrary();

    // One more arrives while the library runs: the hot-plug path decides too.
    EmulatedUsbIdentity late;
    late.product = "Kelo7";
    lookalikes.push_back (&bus->plugIn (late, false));
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_ARRIVED) == 1; }));

    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), lookalikes.size());

    runOnWorker ([&]
                 {
        for (auto number : numbers)
        {
            EXPECT_NE (HID_GetDeviceType (number), HID_TYPE_TRBKELO7);
            EXPECT_EQ (HID_Write (number, UpdateDriver::statusQuery().data(), HID_REPORT_SIZE), 0);
        } });

    uint32_t words[2] = {};
    HID_GetFirmwareVersion (HID_TYPE_TRBKELO7, words, 1);
    EXPECT_EQ (words[0], 0u);

    for (auto* device : lookalikes)
    {
        EXPECT_EQ (device->openCount(), 0) << device->nodeName();
        EXPECT_EQ (device->requestCount(), 0) << device->nodeName();
    }
}

TEST_F (UsbDeviceLibrary, AControllerPluggedInAfterStartArrivesAndAnswers)
{
    startLibrary();
    EXPECT_TRUE (enumerate().empty());

    auto& controller = bus->plugIn (EmulatedUsbIdentity());
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_ARRIVED) == 1; }));

    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 1u);
    ASSERT_EQ (HID_GetDeviceType (numbers[0]), HID_TYPE_TRBKELO7);

    // Nothing is pending before a request.
    uint8_t buffer[HID_REPORT_SIZE];
    int32_t length = HID_REPORT_SIZE;
    HID_Input (numbers[0], buffer, &length);
    EXPECT_EQ (length, 0);

    std::optional<Report> reply;
    runOnWorker ([&]
                 { reply = exchange (numbers[0], UpdateDriver::statusQuery()); });
    ASSERT_TRUE (reply.has_value());
    EXPECT_EQ ((*reply)[kOffsetCommand], CMD_CONTROL);
    EXPECT_EQ ((*reply)[kOffsetSubCommand], REPLY_OK);
    EXPECT_EQ (controller.requestCount(), 1);
    EXPECT_EQ (countNotices (WM_HID_INPUT, numbers[0]), 1);
}

TEST_F (UsbDeviceLibrary, AWholeUpdateThroughTheLibraryLeavesTheFlashAsWritten)
{
    auto& controller = bus->plugIn (EmulatedUsbIdentity());
    controller.withController ([] (ControllerModel& model)
                               { model.setBusyCount (2); });
    startLibrary();

    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 1u);

    const auto image = UpdateDriver::makeImage (7);
    auto driver = makeDriver (numbers[0]);
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
                                return finishes > 0; },
                            kWaitMs));
    EXPECT_EQ (finishes, 1);

    controller.withController ([&] (ControllerModel& model)
                               {
        EXPECT_EQ (model.blocksWritten(), 10);
        EXPECT_TRUE (model.flash() == image);
        EXPECT_EQ (model.installedVersion(), "1.23"); });
    EXPECT_EQ (controller.requestCount(), driver.exchanges() + 1);
}

TEST_F (UsbDeviceLibrary, RemovalMidUpdateIsToldOnceAndNothingIsWrittenAfterIt)
{
    auto& controller = bus->plugIn (EmulatedUsbIdentity());
    startLibrary();
    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 1u);
    const auto number = numbers[0];

    std::atomic<int> acceptedWrites { 0 };
    std::atomic<int> writesAfterNotice { 0 };
    const auto image = UpdateDriver::makeImage (11);

    // The worker: a whole update whose every write notes whether the
    // removal had already been heard of on the message thread.
    UpdateDriver driver ([&] (const Report& r) -> std::optional<Report>
                         {
                             const bool told = removalSeen.load();

                             if (HID_Write (number, r.data(), HID_REPORT_SIZE) == 0)
                                 return std::nullopt;

                             acceptedWrites.fetch_add (1);

                             if (told)
                                 writesAfterNotice.fetch_add (1);

                             std::unique_lock<std::mutex> guard (replyLock);

                             if (! replyArrived.wait_for (guard, std::chrono::milliseconds (kReplyWaitMs), [this] { return ! replies.empty(); }))
                                 return std::nullopt;

                             const auto reply = replies.front();
                             replies.pop_front();
                             return reply; },
                         [] (const Report&)
                         { return false; });

    std::atomic<bool> done { false };
    bool finished = true;
    std::thread worker ([&]
                        { finished = driver.runWholeUpdate (image); done.store (true); });

    const bool midway = pumpUntil ([&]
                                   { return controller.requestCount() >= 500; });

    if (midway)
        bus->unplug (controller);

    pumpUntil ([&]
               { return done.load(); },
               600000);
    worker.join();
    pumpFor (300);

    ASSERT_TRUE (midway);
    EXPECT_FALSE (finished);
    EXPECT_EQ (countNotices (WM_HID_REMOVED), 1);
    EXPECT_EQ (countNotices (WM_HID_REMOVED, number), 1);
    EXPECT_EQ (writesAfterNotice.load(), 0);
    EXPECT_EQ (controller.requestCount(), acceptedWrites.load());
    EXPECT_EQ (HID_Write (number, UpdateDriver::statusQuery().data(), HID_REPORT_SIZE), 0);
    EXPECT_TRUE (enumerate().empty());

    // Nothing reached the node after the removal either.
    const auto requestsAtRemoval = controller.requestCount();
    pumpFor (200);
    EXPECT_EQ (controller.requestCount(), requestsAtRemoval);
}

TEST_F (UsbDeviceLibrary, RetriesOpeningAControllerThatArrivesBeforeItsNodeIsUsable)
{
    auto& controller = bus->plugIn (EmulatedUsbIdentity());
    bus->hideNode (controller, true);
    startLibrary();
    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 1u);
    ASSERT_NE (HID_GetDeviceType (numbers[0]), HID_TYPE_TRBKELO7);

    // udev tells of the device while its node cannot be opened yet; it
    // becomes usable a moment later, within the library's retries.
    bus->announce (controller);
    pumpFor (300);
    EXPECT_EQ (countNotices (WM_HID_ARRIVED), 0);
    bus->hideNode (controller, false);
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_ARRIVED) == 1; }));

    // The arrival is told once the controller is open (two handles), not before.
    EXPECT_EQ (controller.openCount(), 2);

    EXPECT_EQ (enumerate(), numbers);
    EXPECT_EQ (HID_GetDeviceType (numbers[0]), HID_TYPE_TRBKELO7);

    std::optional<Report> reply;
    runOnWorker ([&]
                 { reply = exchange (numbers[0], UpdateDriver::statusQuery()); });
    EXPECT_TRUE (reply.has_value());
}

TEST_F (UsbDeviceLibrary, AControllerThatCannotBeOpenedIsListedButNotOffered)
{
    auto& controller = bus->plugIn (EmulatedUsbIdentity());
    bus->hideNode (controller, true);
    startLibrary();

    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 1u);
    EXPECT_NE (HID_GetDeviceType (numbers[0]), HID_TYPE_TRBKELO7);
    EXPECT_EQ (HID_Write (numbers[0], UpdateDriver::statusQuery().data(), HID_REPORT_SIZE), 0);

    // Once it can be opened, the next enumeration takes it up.
    bus->hideNode (controller, false);
    EXPECT_EQ (enumerate(), numbers);
    EXPECT_EQ (HID_GetDeviceType (numbers[0]), HID_TYPE_TRBKELO7);
}

TEST_F (UsbDeviceLibrary, ADeviceThatHangsUpIsToldRemovedOnceThoughUdevTellsToo)
{
    auto& controller = bus->plugIn (EmulatedUsbIdentity());
    auto& other = bus->plugIn (EmulatedUsbIdentity());
    startLibrary();
    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 2u);

    controller.hangUp();
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_REMOVED) == 1; }));
    EXPECT_EQ (countNotices (WM_HID_REMOVED, numbers[0]), 1);

    bus->unplug (controller);
    pumpFor (300);
    EXPECT_EQ (countNotices (WM_HID_REMOVED), 1);
    EXPECT_EQ (HID_Write (numbers[0], UpdateDriver::statusQuery().data(), HID_REPORT_SIZE), 0);

    // The other controller is not disturbed.
    std::optional<Report> reply;
    runOnWorker ([&]
                 { reply = exchange (numbers[1], UpdateDriver::statusQuery()); });
    EXPECT_TRUE (reply.has_value());
    EXPECT_EQ (other.requestCount(), 1);
}

TEST_F (UsbDeviceLibrary, AReplugGetsANewNumberAndWorksAgain)
{
    auto& first = bus->plugIn (EmulatedUsbIdentity());
    startLibrary();
    const auto before = enumerate();
    ASSERT_EQ (before.size(), 1u);

    bus->unplug (first);
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_REMOVED, before[0]) == 1; }));

    auto& second = bus->plugIn (EmulatedUsbIdentity());
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_ARRIVED) == 1; }));

    const auto after = enumerate();
    ASSERT_EQ (after.size(), 1u);
    EXPECT_NE (after[0], before[0]);
    EXPECT_EQ (HID_GetDeviceType (after[0]), HID_TYPE_TRBKELO7);
    EXPECT_EQ (HID_GetDeviceType (before[0]), -1);

    std::optional<Report> reply;
    runOnWorker ([&]
                 { reply = exchange (after[0], UpdateDriver::statusQuery()); });
    EXPECT_TRUE (reply.has_value());
    EXPECT_EQ (second.requestCount(), 1);
    EXPECT_EQ (countNotices (WM_HID_REMOVED), 1);
}

TEST_F (UsbDeviceLibrary, ANodeTakenOverByAnotherDeviceUnheardIsANewDeviceWithItsOwnIdentity)
{
    struct Case
    {
        const char* what;
        bool oldIsController;
    };

    // A controller not opened yet that a keyboard replaces (the keyboard must
    // not be taken for a controller), and a keyboard that a controller replaces
    // (the controller must not hide behind the keyboard's identity).
    for (const auto& c : { Case { "controller replaced by a keyboard", true }, Case { "keyboard replaced by a controller", false } })
    {
        SCOPED_TRACE (c.what);
        bus.reset();
        bus = std::make_unique<EmulatedHidBus>();
        notices.clear();

        EmulatedUsbIdentity identity;
        identity.product = c.oldIsController ? "TRB-Kelo7" : "USB Keyboard";
        auto& device = bus->plugIn (identity, c.oldIsController);

        if (c.oldIsController)
            bus->hideNode (device, true);

        startLibrary();
        const auto before = enumerate();
        ASSERT_EQ (before.size(), 1u);
        ASSERT_NE (HID_GetDeviceType (before[0]), HID_TYPE_TRBKELO7);

        if (c.oldIsController)
            bus->hideNode (device, false);

        bus->changeProductUnheard (device, c.oldIsController ? "USB Keyboard" : "TRB-Kelo7", ! c.oldIsController);
        ASSERT_TRUE (pumpUntil ([&]
                                { return countNotices (WM_HID_ARRIVED) == 1; }));

        const auto after = enumerate();
        ASSERT_EQ (after.size(), 1u);
        EXPECT_NE (after[0], before[0]);
        EXPECT_EQ (countNotices (WM_HID_REMOVED, before[0]), 1);
        EXPECT_EQ (HID_GetDeviceType (before[0]), -1);

        if (c.oldIsController)
        {
            EXPECT_EQ (HID_GetDeviceType (after[0]), HID_TYPE_OTHER);
            EXPECT_EQ (device.openCount(), 0);
        }
        else
        {
            EXPECT_EQ (HID_GetDeviceType (after[0]), HID_TYPE_TRBKELO7);
            std::optional<Report> reply;
            runOnWorker ([&]
                         { reply = exchange (after[0], UpdateDriver::statusQuery()); });
            EXPECT_TRUE (reply.has_value());
        }

        stopLibrary();
    }
}

TEST_F (UsbDeviceLibrary, AControllerSlowToOpenHoldsUpNoOtherArrival)
{
    auto& slow = bus->plugIn (EmulatedUsbIdentity());
    bus->hideNode (slow, true);
    startLibrary();

    // Both are heard of together; the first cannot be opened yet and is tried again.
    bus->announce (slow);
    auto& fast = bus->plugIn (EmulatedUsbIdentity());
    ASSERT_TRUE (pumpUntil ([&]
                            { return fast.openCount() == 2; }));

    // Had the retries held the second one up, they would all be over by now and
    // nothing would open the first one any more: it opens on its own here.
    bus->hideNode (slow, false);
    ASSERT_TRUE (pumpUntil ([&]
                            { return slow.openCount() == 2; }));
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_ARRIVED) == 2; }));

    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 2u);

    for (const auto number : numbers)
    {
        EXPECT_EQ (HID_GetDeviceType (number), HID_TYPE_TRBKELO7);
        std::optional<Report> reply;
        runOnWorker ([&]
                     { reply = exchange (number, UpdateDriver::statusQuery()); });
        EXPECT_TRUE (reply.has_value());
    }
}

TEST_F (UsbDeviceLibrary, WithoutUdevArrivalsAndRemovalsAreFoundByScanning)
{
    UsbHidLibrary::instance().setHotplugRefusedForTesting (true);
    HID_Initialize (noticeModuleHandle());
    HID_SetCallback (window, WM_HID_INPUT, WM_HID_ARRIVED, WM_HID_REMOVED);
    EXPECT_EQ (HID_Start(), 0);
    EXPECT_TRUE (enumerate().empty());

    auto& controller = bus->plugIn (EmulatedUsbIdentity());
    auto& keyboard = bus->plugIn (foreignKeyboard(), false);
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_ARRIVED) >= 1; }));
    ASSERT_TRUE (pumpUntil ([&]
                            { return enumerate().size() == 2; }));

    const auto numbers = enumerate();
    EXPECT_EQ (HID_GetDeviceType (numbers[0]), HID_TYPE_TRBKELO7);
    EXPECT_EQ (HID_GetDeviceType (numbers[1]), HID_TYPE_OTHER);
    std::optional<Report> reply;
    runOnWorker ([&]
                 { reply = exchange (numbers[0], UpdateDriver::statusQuery()); });
    EXPECT_TRUE (reply.has_value());

    // The keyboard has no reader to notice it going: only the scan can tell.
    bus->unplug (keyboard);
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_REMOVED, numbers[1]) == 1; }));
    bus->unplug (controller);
    ASSERT_TRUE (pumpUntil ([&]
                            { return countNotices (WM_HID_REMOVED, numbers[0]) == 1; }));
    pumpFor (1500);
    EXPECT_EQ (countNotices (WM_HID_REMOVED), 2);
    EXPECT_TRUE (enumerate().empty());
}

TEST_F (UsbDeviceLibrary, PostsNothingOnceStopHasReturned)
{
    bus->plugIn (EmulatedUsbIdentity());
    startLibrary();
    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 1u);

    // A writer keeps the reader busy with replies while the library stops.
    std::atomic<bool> stopWriting { false };
    std::thread writer ([&]
                        {
        while (! stopWriting.load())
            if (HID_Write (numbers[0], UpdateDriver::statusQuery().data(), HID_REPORT_SIZE) == 0)
                std::this_thread::sleep_for (std::chrono::milliseconds (1)); });

    const bool busy = pumpUntil ([&]
                                 { return countNotices (WM_HID_INPUT) >= 50; });
    HID_Stop();

    // Notices are delivered in the order they were posted: any library
    // notice behind this marker was posted after HID_Stop returned.
    trbPostNotice (window, kMarkerMessage, 0, 0);
    pumpFor (300);
    stopWriting.store (true);
    writer.join();
    pumpFor (100);

    ASSERT_TRUE (busy);
    const auto marker = std::find_if (notices.begin(), notices.end(), [] (const PostedNotice& n)
                                      { return n.message == kMarkerMessage; });
    ASSERT_NE (marker, notices.end());
    EXPECT_EQ (std::distance (marker, notices.end()), 1);
    EXPECT_EQ (HID_Write (numbers[0], UpdateDriver::statusQuery().data(), HID_REPORT_SIZE), 0);
    EXPECT_TRUE (enumerate().empty());
}

TEST_F (UsbDeviceLibrary, ReportsTheTimeOfOneRequestReplyExchange)
{
    bus->plugIn (EmulatedUsbIdentity());
    startLibrary();
    const auto numbers = enumerate();
    ASSERT_EQ (numbers.size(), 1u);

    constexpr int kExchanges = 2000;
    int answered = 0;
    double seconds = 0;

    runOnWorker ([&]
                 {
        const auto start = std::chrono::steady_clock::now();

        for (int i = 0; i < kExchanges; ++i)
            if (exchange (numbers[0], UpdateDriver::statusQuery()).has_value())
                ++answered;

        seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count(); });

    EXPECT_EQ (answered, kExchanges);
    const auto microseconds = seconds / kExchanges * 1e6;
    std::printf ("one request-reply exchange through the USB library under umockdev: %.1f us (mean of %d)\n", microseconds, kExchanges);
    RecordProperty ("exchange_us", std::to_string (microseconds));
}
