#include "device/HidCtrl.h"
#include "device/HidUtil.h"
#include "device/NoticeReceiver.h"
#include "device/simulated/SimulatedController.h"
#include "protocol/Protocol.h"
#include "tests/SimulatedDeviceTestSupport.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <array>
#include <functional>
#include <thread>
#include <vector>

namespace
{
using Function = SimulatedController::Function;

using testsupport::runUntil;

void settle() { testsupport::settleSimulator(); }

// Records each event with what HidCtrl held at the moment the listener heard of it.
struct RecordingListener final : public HidHandler
{
    enum class Event
    {
        removed,
        arrived,
        input
    };

    struct Heard
    {
        Event event;
        int32_t connected;
        uint32_t firmwareVersion;
        int32_t inputLength;
        std::array<uint8_t, HID_REPORT_SIZE> inputReport;
        bool onMessageThread;
    };

    explicit RecordingListener (HidCtrl& ctrlToWatch)
        : ctrl (ctrlToWatch)
    {
    }

    void hidDeviceRemoved() override { record (Event::removed); }
    void hidDeviceArrived() override { record (Event::arrived); }
    void hidInputReceived (int) override { record (Event::input); }

    void record (Event event)
    {
        Heard heard { event, ctrl.connected.load(), ctrl.firmwareVersion, ctrl.inputLength, {}, juce::MessageManager::getInstance()->isThisTheMessageThread() };
        std::copy (std::begin (ctrl.inputReport), std::end (ctrl.inputReport), heard.inputReport.begin());
        events.push_back (heard);
    }

    size_t count (Event event) const
    {
        return (size_t) std::count_if (events.begin(), events.end(), [event] (const Heard& h)
                                       { return h.event == event; });
    }

    HidCtrl& ctrl;
    std::vector<Heard> events;
};

std::array<uint8_t, HID_REPORT_SIZE> numberedReport (uint8_t first)
{
    std::array<uint8_t, HID_REPORT_SIZE> report {};

    for (size_t i = 0; i < report.size(); ++i)
        report[i] = (uint8_t) (first + i);

    return report;
}

class DeviceLink : public ::testing::Test
{
protected:
    void SetUp() override { start ({}); }

    void start (const SimulatedScenario& scenario)
    {
        sim.reset (scenario);
    }

    SimulatedController& sim = SimulatedController::instance();
};
}

TEST_F (DeviceLink, OpensTheControllerPresentAtStartAndReadsItsVersion)
{
    SimulatedScenario scenario;
    scenario.version = "1.07";
    start (scenario);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    EXPECT_TRUE (ctrl.open (&listener));

    EXPECT_EQ (ctrl.connected.load(), 1);
    EXPECT_EQ (ctrl.firmwareVersion, 0x107u);
    ASSERT_NE (ctrl.util, nullptr);
    EXPECT_EQ (ctrl.util->deviceNo.load(), sim.firstController());
    EXPECT_EQ (activeHidUtil, ctrl.util);
    EXPECT_EQ (sim.callCount (Function::initialize), 1);
    EXPECT_EQ (sim.callCount (Function::start), 1);
    EXPECT_TRUE (listener.events.empty());
}

TEST_F (DeviceLink, AControllerAbsentAtStartIsTakenUpWhenItArrives)
{
    SimulatedScenario scenario;
    scenario.controllers = 0;
    start (scenario);
    const auto device = sim.addController (false);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    EXPECT_FALSE (ctrl.open (&listener));
    EXPECT_EQ (ctrl.connected.load(), 0);
    ASSERT_NE (ctrl.util, nullptr) << "the link must stay started to hear the arrival";
    EXPECT_EQ (ctrl.util->deviceNo.load(), -1);

    // The controller says something as soon as it is plugged in: the arrival must read it.
    const auto greeting = numberedReport (0x40);
    sim.plugIn (device);
    sim.sendInput (device, greeting.data(), HID_REPORT_SIZE);
    settle();

    ASSERT_EQ (listener.count (RecordingListener::Event::arrived), 1u);
    const auto& heard = listener.events.front();
    EXPECT_EQ (heard.event, RecordingListener::Event::arrived);
    EXPECT_EQ (heard.connected, 1);
    EXPECT_EQ (heard.firmwareVersion, 0x100u);
    EXPECT_EQ (heard.inputLength, HID_REPORT_SIZE);
    EXPECT_EQ (heard.inputReport, greeting);
    EXPECT_EQ (ctrl.util->deviceNo.load(), device);

    // The greeting was taken by the arrival; its own notice then reads nothing and forwards nothing.
    EXPECT_EQ (listener.count (RecordingListener::Event::input), 0u);
}

TEST_F (DeviceLink, WithSeveralPresentNoneIsTakenOrClaimedUntilOneIsChosen)
{
    SimulatedScenario scenario;
    scenario.controllers = 0;
    start (scenario);
    const auto pluggedLater = sim.addController (false);
    const auto pluggedFirst = sim.addController (true);
    sim.plugIn (pluggedLater);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    EXPECT_EQ (ctrl.open (&listener).state, LinkOpenResult::State::choiceNeeded);
    EXPECT_EQ (ctrl.deviceNumber(), -1);
    EXPECT_FALSE (sim.isClaimed (pluggedFirst) || sim.isClaimed (pluggedLater));

    // Taking "the first" would pick by the order of the library's list, not the user's wish.
    const auto present = ctrl.connectedControllers();
    const auto later = std::find_if (present.begin(), present.end(), [&] (const ConnectedController& c)
                                     { return c.deviceNumber == pluggedLater; });
    ASSERT_NE (later, present.end());
    EXPECT_EQ (ctrl.chooseController (later->identity).state, LinkOpenResult::State::connected);
    EXPECT_EQ (ctrl.deviceNumber(), pluggedLater);
    EXPECT_FALSE (sim.isClaimed (pluggedFirst));
    EXPECT_TRUE (sim.writeCalls().empty());
}

TEST_F (DeviceLink, DevicesOfOtherTypesAreNeverTaken)
{
    SimulatedScenario scenario;
    scenario.controllers = 0;
    scenario.otherDevices = { { 0x1B2, 0x55 }, { 0x0A0, 0x66 } };
    start (scenario);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    EXPECT_FALSE (ctrl.open (&listener));

    sim.addDevice (0x1A1);
    settle();

    EXPECT_EQ (sim.callCount (Function::enumerate), 2) << "the arrival must have been looked at";
    EXPECT_TRUE (listener.events.empty());
    EXPECT_EQ (ctrl.connected.load(), 0);
    EXPECT_EQ (ctrl.util->deviceNo.load(), -1);
    EXPECT_EQ (ctrl.firmwareVersion, 0u);
}

TEST_F (DeviceLink, AnotherControllersArrivalAndRemovalAreToldApartAndChangeNothing)
{
    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    std::vector<juce::String> others;
    ctrl.otherControllerObserver = [&others] (bool arrived, const DeviceIdentity& other)
    { others.push_back ((arrived ? "+" : "-") + other.serial + "@" + other.location); };
    ASSERT_TRUE (ctrl.open (&listener));
    const auto first = ctrl.util->deviceNo.load();

    const auto second = sim.addController();
    sim.addDevice (0x1B2);
    settle();
    sim.remove (second);
    settle();

    EXPECT_TRUE (listener.events.empty());
    EXPECT_EQ (others, (std::vector<juce::String> { "+KELO7-SIM-0002@sim-2", "-KELO7-SIM-0002@sim-2" }));
    EXPECT_EQ (ctrl.util->deviceNo.load(), first);
    EXPECT_EQ (ctrl.connected.load(), 1);
}

TEST_F (DeviceLink, TellsTheHeldControllersIdentityAndListsEveryControllerPresent)
{
    SimulatedScenario scenario;
    scenario.controllers = 2;
    scenario.otherDevices = { { 0x1B2, 0 } };
    start (scenario);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_EQ (ctrl.open (&listener).state, LinkOpenResult::State::choiceNeeded);
    ASSERT_TRUE (ctrl.chooseController (ctrl.connectedControllers().at (0).identity));

    EXPECT_EQ (ctrl.identity(), (DeviceIdentity { "KELO7-SIM-0001", "sim-2", "simulated" }));
    const auto present = ctrl.connectedControllers();
    ASSERT_EQ (present.size(), 2u);
    EXPECT_EQ (present[0].identity, ctrl.identity());
    EXPECT_EQ (present[1].identity, (DeviceIdentity { "KELO7-SIM-0002", "sim-3", "simulated" }));
    EXPECT_TRUE (sim.writeCalls().empty());
}

namespace
{
// Which controller comes back as the held one after the held one's removal: the
// identities of the held one and of another, and what each shows when it returns.
struct FollowCase
{
    const char* name;
    const char* heldSerial;
    const char* otherSerial;
    const char* heldReturnsAt; // the port the held one shows when it comes back
    bool heldIsTakenBack;
};

const FollowCase kFollowCases[] = {
    { "BySerialEvenOnAnotherPort", "KELO7-A", "KELO7-B", "sim-9", true },
    { "ByPortWithoutASerial", "", "", "sim-1", true },
    { "NotOnAnotherPortWithoutASerial", "", "", "sim-9", false },
    { "ByPortWhenTheSerialIsShared", "KELO7-A", "KELO7-A", "sim-1", true },
    { "NotOnAnotherPortWhenTheSerialIsShared", "KELO7-A", "KELO7-A", "sim-9", false },
};

class FollowedController : public ::testing::TestWithParam<FollowCase>
{
};
} // namespace

TEST_P (FollowedController, IsTheOnlyOneTakenBackAfterItsRemoval)
{
    const auto& param = GetParam();
    auto& sim = SimulatedController::instance();
    sim.reset ({});
    const auto held = sim.firstController();
    sim.setIdentity (held, param.heldSerial, "sim-1");
    const auto other = sim.addController();
    sim.setIdentity (other, param.otherSerial, "sim-2");

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_EQ (ctrl.open (&listener).state, LinkOpenResult::State::choiceNeeded);
    ASSERT_TRUE (ctrl.chooseController (DeviceIdentity { param.heldSerial, "sim-1", {} }));
    ASSERT_EQ (ctrl.deviceNumber(), held);

    // The other one is removed and plugged in again while the held one is away: its
    // arrival must not be taken for the held one's return.
    sim.remove (held);
    sim.remove (other);
    settle();
    sim.plugIn (other);
    settle();
    EXPECT_EQ (ctrl.connected.load(), 0);

    sim.setIdentity (held, param.heldSerial, param.heldReturnsAt);
    sim.plugIn (held);
    settle();

    EXPECT_EQ (ctrl.connected.load(), param.heldIsTakenBack ? 1 : 0);
    EXPECT_EQ (ctrl.deviceNumber(), param.heldIsTakenBack ? held : -1);
    EXPECT_EQ (listener.count (RecordingListener::Event::arrived), param.heldIsTakenBack ? 1u : 0u);
    EXPECT_FALSE (sim.isClaimed (other));
}

INSTANTIATE_TEST_SUITE_P (DeviceLink,
                          FollowedController,
                          ::testing::ValuesIn (kFollowCases),
                          [] (const ::testing::TestParamInfo<FollowCase>& caseInfo)
                          { return std::string (caseInfo.param.name); });

TEST_F (DeviceLink, AControllerChosenBySerialIsTheOneHeldBeforeAndAfterOpening)
{
    SimulatedScenario scenario;
    scenario.controllers = 3;
    start (scenario);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ctrl.chooseController ("KELO7-SIM-0002");
    ASSERT_TRUE (ctrl.open (&listener));
    EXPECT_EQ (ctrl.identity().serial, "KELO7-SIM-0002");
    EXPECT_TRUE (sim.isClaimed (1));

    EXPECT_TRUE (ctrl.chooseController ("KELO7-SIM-0003"));
    EXPECT_EQ (ctrl.deviceNumber(), 2);
    EXPECT_FALSE (sim.isClaimed (1)) << "the controller let go of keeps no claim";
    EXPECT_TRUE (sim.isClaimed (2));

    EXPECT_FALSE (ctrl.chooseController ("KELO7-NONE"));
    EXPECT_EQ (ctrl.connected.load(), 0);
    EXPECT_TRUE (listener.events.empty());
    EXPECT_TRUE (sim.writeCalls().empty());
}

TEST_F (DeviceLink, TheClaimIsHeldWhileConnectedAndTakenAgainWhenTheControllerComesBack)
{
    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_TRUE (ctrl.open (&listener));
    const auto device = ctrl.deviceNumber();
    EXPECT_TRUE (sim.isClaimed (device));

    sim.remove (device);
    settle();
    EXPECT_FALSE (sim.isClaimed (device));
    sim.plugIn (device);
    settle();
    EXPECT_TRUE (sim.isClaimed (device));
    EXPECT_EQ (sim.claimsTaken(), 2);

    ctrl.close();
    EXPECT_FALSE (sim.isClaimed (device));
}

TEST_F (DeviceLink, AClaimHeldElsewhereLeavesTheControllerUnheldAndSendsNothing)
{
    SimulatedScenario scenario;
    scenario.controllers = 2;
    ASSERT_TRUE (scenario.apply ("claimed_by=4242 djprogram").empty());
    start (scenario);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_EQ (ctrl.open (&listener).state, LinkOpenResult::State::choiceNeeded);
    const auto opened = ctrl.chooseController (ctrl.connectedControllers().at (0).identity);
    EXPECT_EQ (opened.state, LinkOpenResult::State::claimedElsewhere);
    EXPECT_FALSE (opened);
    EXPECT_TRUE (ctrl.isClaimedElsewhere());
    const auto holder = ctrl.claimRefusal();
    EXPECT_EQ (holder.pid, 4242);
    EXPECT_EQ (holder.processName, "djprogram");
    EXPECT_EQ (holder.controller.serial, "KELO7-SIM-0001");

    // The second controller is not taken instead, not even after an arrival.
    sim.addDevice (0x1B2);
    settle();
    EXPECT_EQ (ctrl.connected.load(), 0);
    const auto report = numberedReport (1);
    EXPECT_FALSE (ctrl.write (report.data()));
    EXPECT_TRUE (sim.writeCalls().empty());
    EXPECT_FALSE (sim.isClaimed (1));

    // Once the other holder lets go, the controller's next arrival takes it up.
    sim.setClaimedBy (0, 0);
    sim.remove (0);
    sim.plugIn (0);
    settle();
    EXPECT_EQ (ctrl.connected.load(), 1);
    EXPECT_FALSE (ctrl.isClaimedElsewhere());
    EXPECT_TRUE (sim.isClaimed (0));
}

TEST_F (DeviceLink, NoticesForAnotherDeviceNumberAreIgnored)
{
    SimulatedScenario scenario;
    scenario.controllers = 2;
    start (scenario);

    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_EQ (ctrl.open (&listener).state, LinkOpenResult::State::choiceNeeded);
    ASSERT_TRUE (ctrl.chooseController (ctrl.connectedControllers().at (0).identity));
    const auto other = ctrl.util->deviceNo.load() == 0 ? 1 : 0;
    const auto inputReads = sim.callCount (Function::input);

    const auto report = numberedReport (1);
    sim.sendInput (other, report.data(), HID_REPORT_SIZE);
    sim.remove (other);
    settle();

    EXPECT_TRUE (listener.events.empty());
    EXPECT_EQ (sim.callCount (Function::input), inputReads) << "another device's input must not be read";
    EXPECT_EQ (ctrl.connected.load(), 1);
    EXPECT_EQ (ctrl.inputLength, 0);
}

TEST_F (DeviceLink, AnInputReportIsCopiedWholeWithItsLength)
{
    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_TRUE (ctrl.open (&listener));
    const auto device = ctrl.util->deviceNo.load();

    const auto full = numberedReport (0xC0);
    sim.sendInput (device, full.data(), HID_REPORT_SIZE);
    const auto partial = numberedReport (0x10);
    sim.sendInput (device, partial.data(), 10);
    settle();

    ASSERT_EQ (listener.count (RecordingListener::Event::input), 2u);
    EXPECT_EQ (listener.events[0].inputLength, HID_REPORT_SIZE);
    EXPECT_EQ (listener.events[0].inputReport, full);

    // A short report replaces only its own bytes; the rest of the buffer keeps the last report's.
    EXPECT_EQ (listener.events[1].inputLength, 10);
    auto expected = full;
    std::copy (partial.begin(), partial.begin() + 10, expected.begin());
    EXPECT_EQ (listener.events[1].inputReport, expected);
}

TEST_F (DeviceLink, ARemovalClearsTheBufferBeforeTheListenerHearsAndAnArrivalReconnects)
{
    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_TRUE (ctrl.open (&listener));
    const auto device = ctrl.util->deviceNo.load();

    const auto report = numberedReport (0x20);
    sim.sendInput (device, report.data(), HID_REPORT_SIZE);
    settle();
    ASSERT_EQ (ctrl.inputLength, HID_REPORT_SIZE);

    sim.remove (device);
    settle();

    ASSERT_EQ (listener.count (RecordingListener::Event::removed), 1u);
    const auto& heard = listener.events.back();
    EXPECT_EQ (heard.connected, 0);
    EXPECT_EQ (heard.firmwareVersion, 0u);
    EXPECT_EQ (heard.inputLength, 0);
    EXPECT_EQ (heard.inputReport, (std::array<uint8_t, HID_REPORT_SIZE> {}));
    EXPECT_EQ (ctrl.util->deviceNo.load(), -1);

    const auto writesBefore = sim.callCount (Function::write);
    EXPECT_FALSE (ctrl.write (report.data()));
    EXPECT_EQ (sim.callCount (Function::write), writesBefore) << "nothing may reach the library while waiting";

    sim.plugIn (device);
    settle();
    EXPECT_EQ (listener.events.back().event, RecordingListener::Event::arrived);
    EXPECT_EQ (ctrl.connected.load(), 1);
    EXPECT_EQ (ctrl.util->deviceNo.load(), device);
}

TEST_F (DeviceLink, ClosingTwiceStopsTheLibraryOnce)
{
    {
        HidCtrl ctrl;
        RecordingListener listener (ctrl);
        ASSERT_TRUE (ctrl.open (&listener));
        ctrl.close();
        ctrl.close();

        EXPECT_EQ (activeHidUtil, nullptr);
        EXPECT_EQ (ctrl.listener, nullptr);
        EXPECT_EQ (ctrl.connected.load(), 1) << "close keeps the connection flag";

        const auto report = numberedReport (0);
        EXPECT_FALSE (ctrl.write (report.data())) << "a write after close must fail, not reach a deleted util";
    }

    EXPECT_EQ (sim.callCount (Function::stop), 1);
    EXPECT_EQ (sim.callCount (Function::finalize), 1);
    EXPECT_EQ (sim.callCount (Function::setCallback), 2);
    EXPECT_EQ (sim.callCount (Function::write), 0);
}

TEST_F (DeviceLink, ARefusedSecondOpenLeavesTheFirstLinkHearingItsNotices)
{
    HidCtrl first;
    RecordingListener firstListener (first);
    ASSERT_TRUE (first.open (&firstListener));

    {
        HidCtrl second;
        RecordingListener secondListener (second);
        EXPECT_FALSE (second.open (&secondListener));
        EXPECT_EQ (second.util, nullptr);
        EXPECT_EQ (second.listener, nullptr);

        const auto report = numberedReport (0);
        EXPECT_FALSE (second.write (report.data()));
    }

    EXPECT_EQ (activeHidUtil, first.util);
    EXPECT_EQ (sim.callCount (Function::stop), 0) << "the refused link must not stop the running library";

    const auto report = numberedReport (0x33);
    sim.sendInput (first.util->deviceNo.load(), report.data(), HID_REPORT_SIZE);
    settle();
    EXPECT_EQ (firstListener.count (RecordingListener::Event::input), 1u);
}

TEST_F (DeviceLink, RepliesArriveOnTheMessageThreadInOrderWhileAnotherThreadWrites)
{
    HidCtrl ctrl;
    RecordingListener listener (ctrl);
    ASSERT_TRUE (ctrl.open (&listener));

    // Requests the controller does not know are refused with their own byte 0 echoed,
    // so each reply names the request it answers.
    constexpr int kRequests = 200;
    std::atomic<int> taken { 0 };

    std::thread writer ([&]
                        {
                            for (int i = 0; i < kRequests; ++i)
                            {
                                std::array<uint8_t, HID_REPORT_SIZE> report {};
                                report[0] = (uint8_t) i;
                                report[1] = 0x7F;

                                if (ctrl.write (report.data()))
                                    ++taken;
                            } });

    EXPECT_TRUE (runUntil ([&]
                           { return listener.events.size() >= (size_t) kRequests; }));
    writer.join();

    EXPECT_EQ (taken.load(), kRequests);
    ASSERT_EQ (listener.events.size(), (size_t) kRequests);

    for (int i = 0; i < kRequests; ++i)
    {
        const auto& heard = listener.events[(size_t) i];
        EXPECT_EQ (heard.event, RecordingListener::Event::input);
        EXPECT_TRUE (heard.onMessageThread);
        EXPECT_EQ (heard.inputReport[0], (uint8_t) i);
        EXPECT_EQ (heard.inputReport[1], REPLY_REFUSED);
    }
}

TEST (NoticeReceiver, DeliversNoticesInOrderAndDropsThoseOfADestroyedReceiver)
{
    static std::vector<std::array<intptr_t, 3>> delivered;
    delivered.clear();

    auto procedure = [] (void*, uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t
    {
        delivered.push_back ({ (intptr_t) message, (intptr_t) wParam, lParam });
        return 0;
    };

    auto* live = createNoticeReceiver (noticeModuleHandle(), procedure);
    auto* doomed = createNoticeReceiver (noticeModuleHandle(), procedure);
    ASSERT_NE (live, nullptr);
    ASSERT_NE (doomed, nullptr);

    std::thread poster ([&]
                        {
                            for (int i = 0; i < 50; ++i)
                            {
                                trbPostNotice (live, WM_HID_INPUT, (uintptr_t) i, -i);
                                trbPostNotice (doomed, WM_HID_REMOVED, 0, 0);
                            } });
    poster.join();

    destroyNoticeReceiver (doomed);
    trbPostNotice (doomed, WM_HID_REMOVED, 0, 0);
    trbPostNotice (nullptr, WM_HID_REMOVED, 0, 0);
    EXPECT_TRUE (runUntil ([]
                           { return delivered.size() >= 50; }));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

    ASSERT_EQ (delivered.size(), 50u);

    for (int i = 0; i < 50; ++i)
        EXPECT_EQ (delivered[(size_t) i], (std::array<intptr_t, 3> { WM_HID_INPUT, i, -i }));

    destroyNoticeReceiver (live);
    destroyNoticeReceiver (live);
}
