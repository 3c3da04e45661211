#include "device/HidCtrl.h"
#include "tests/usb/EmulatedHidBus.h"
#include "tests/usb/WorkerLoop.h"
#include "tools/UpdateImageBuilder.h"
#include "update/UpdateProcedure.h"

#include <gtest/gtest.h>

#include <array>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

/*
    Two emulated TRB-Kelo7s with their own serials on the Linux USB library: the
    link tells them apart, follows the written one to the node it comes back on
    after its restart, and never speaks to one whose claim another holds.
*/

namespace
{
constexpr int kWaitMs = 60000;

EmulatedUsbIdentity withSerial (const char* serial)
{
    EmulatedUsbIdentity identity;
    identity.serial = serial;
    return identity;
}

struct UpdateFolder
{
    explicit UpdateFolder (const std::vector<uint8_t>& image)
    {
        folder.createDirectory();
        folder.getChildFile ("trbkelo7__v105.bin").replaceWithData (image.data(), image.size());
    }

    ~UpdateFolder() { folder.deleteRecursively(); }

    juce::File folder = juce::File::createTempFile ("trb-usb-identity");
};

int requestsOf (EmulatedHidDevice& device, ControllerModel::RequestKind kind)
{
    int count = 0;
    device.withController ([&] (ControllerModel& model)
                           { count = model.requestCount (kind); });
    return count;
}
} // namespace

TEST (UsbControllerIdentity, TheWrittenControllerIsAskedOnTheNodeItComesBackOnNotTheOtherOne)
{
    using Kind = ControllerModel::RequestKind;
    EmulatedHidBus bus;
    auto& written = bus.plugIn (withSerial ("KELO7-0001"));
    auto& other = bus.plugIn (withSerial ("KELO7-0002"));

    // The confirming query is lost in the restart, as it is when the controller drops off
    // the bus at the moment it is asked.
    written.withController ([] (ControllerModel& model)
                            { model.addFault ({ Kind::infoQuery, 2, ControllerModel::ScriptedFault::Action::noReply, 0, 0, 0 }); });

    const auto image = makeUpdateImage ("1.05", 0x20261209, 5);
    UpdateFolder folder (image);
    HidCtrl link;
    UpdateProcedure procedure { link };
    // Two present: none is taken, and nothing sent, until the user chooses.
    ASSERT_EQ (link.open (&procedure).state, LinkOpenResult::State::choiceNeeded);
    const auto present = link.connectedControllers();
    ASSERT_EQ (present.size(), 2u);
    EXPECT_EQ (present[1].identity.serial, "KELO7-0002");
    EXPECT_EQ (present[1].identity.location, "1-2");
    EXPECT_EQ (written.requestCount() + other.requestCount(), 0);
    ASSERT_EQ (link.chooseController (present[0].identity).state, LinkOpenResult::State::connected);
    EXPECT_EQ (link.identity().serial, "KELO7-0001");
    EXPECT_EQ (link.identity().location, "1-1");
    EXPECT_EQ (link.identity().node, "/dev/" + juce::String (written.nodeName()));

    procedure.startCheck (folder.folder);
    ASSERT_TRUE (pumpUntil ([&]
                            { return procedure.getStatus() != ST_INITIAL; },
                            kWaitMs));
    ASSERT_EQ (procedure.getStatus(), ST_READY);
    procedure.startUpdate();
    ASSERT_TRUE (pumpUntil ([&]
                            { return requestsOf (written, Kind::infoQuery) == 2; },
                            kWaitMs * 5));

    // The restart: it goes, and comes back with what it now holds on another node.
    ControllerModel restarted;
    written.withController ([&] (ControllerModel& model)
                            { restarted = model; });
    bus.unplug (written);
    auto& back = bus.plugIn (withSerial ("KELO7-0001"));
    back.withController ([&] (ControllerModel& model)
                         {
                             model = restarted;
                             model.resetScript();
                             model.powerCycle(); });

    ASSERT_TRUE (pumpUntil ([&]
                            { return procedure.isConfirmationKnown(); },
                            kWaitMs));
    EXPECT_EQ (procedure.getConfirmation().outcome, WriteConfirmation::Outcome::confirmed);
    EXPECT_EQ (link.identity().node, "/dev/" + juce::String (back.nodeName()));
    EXPECT_EQ (other.requestCount(), 0) << "the other controller was spoken to";

    procedure.stop();
    link.close();
}

TEST (UsbControllerIdentity, AControllerWhoseNodeIsLockedElsewhereIsSentNothingAndItsHolderIsNamed)
{
    EmulatedHidBus bus;
    auto& claimed = bus.plugIn (withSerial ("KELO7-0001"));
    auto& other = bus.plugIn (withSerial ("KELO7-0002"));

    // Another updater's claim: an exclusive lock on the node, on a descriptor of its own.
    const int elsewhere = ::open (("/dev/" + claimed.nodeName()).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    ASSERT_GE (elsewhere, 0);
    ASSERT_EQ (::flock (elsewhere, LOCK_EX | LOCK_NB), 0);

    {
        HidCtrl link;
        UpdateProcedure procedure { link };
        ASSERT_EQ (link.open (&procedure).state, LinkOpenResult::State::choiceNeeded);
        EXPECT_EQ (link.chooseController (link.connectedControllers()[0].identity).state, LinkOpenResult::State::claimedElsewhere);
        EXPECT_TRUE (link.isClaimedElsewhere());
        EXPECT_EQ (link.claimRefusal().pid, (int32_t)::getpid());
        EXPECT_EQ (link.claimRefusal().controller.serial, "KELO7-0001");

        const std::array<uint8_t, 64> status {};
        EXPECT_FALSE (link.write (status.data()));
        bus.announce (other);
        pumpFor (200);
        EXPECT_FALSE (link.isConnected()) << "the other controller was taken instead";
        link.close();
    }

    EXPECT_EQ (claimed.requestCount(), 0);
    EXPECT_EQ (other.requestCount(), 0);

    // Once that lock is gone, the next link claims the controller for itself.
    ::close (elsewhere);
    HidCtrl link;
    UpdateProcedure procedure { link };
    link.chooseController (juce::String ("KELO7-0001"));
    EXPECT_TRUE (link.open (&procedure));
    const int again = ::open (("/dev/" + claimed.nodeName()).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    EXPECT_NE (::flock (again, LOCK_EX | LOCK_NB), 0) << "the link holds no lock on the node";
    ::close (again);
    link.close();
}
