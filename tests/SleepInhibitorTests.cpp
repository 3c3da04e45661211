#include "device/HidUtil.h"
#include "device/simulated/SimulatedController.h"
#include "platform/StandardErrorWriter.h"
#include "session/SleepInhibitor.h"
#include "tests/MessageLoop.h"
#include "tests/UpdateTestSupport.h"
#include "tools/UpdateImageBuilder.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <mutex>

#include <cstdlib>

/*
    The sleep lock against a stand-in for systemd-logind: python-dbusmock's
    logind template on a bus of the test's own, which the program reaches as its
    system bus (DBUS_SYSTEM_BUS_ADDRESS). The stand-in lists the inhibitors it
    handed out and drops each one when its descriptor is closed.
*/

namespace
{
// Generous for a sanitizer build on a busy machine; a wait ends at its event.
constexpr int kWaitMs = 60000;
const juce::String kWhy { "A firmware update of the TRB-Kelo7 is in progress" };

bool runUntil (const std::function<bool()>& condition, int timeoutMs = kWaitMs)
{
    return testing_support::runUntil (condition, timeoutMs);
}

// Points the system bus at address for one test and puts it back after.
struct SystemBusAddress
{
    explicit SystemBusAddress (const juce::String& address)
    {
        if (const char* old = std::getenv ("DBUS_SYSTEM_BUS_ADDRESS"))
            previous = old;

        ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", address.toRawUTF8(), 1);
    }

    ~SystemBusAddress()
    {
        if (previous.isNotEmpty())
            ::setenv ("DBUS_SYSTEM_BUS_ADDRESS", previous.toRawUTF8(), 1);
        else
            ::unsetenv ("DBUS_SYSTEM_BUS_ADDRESS");
    }

    juce::String previous;
};

class MockLogind
{
public:
    explicit MockLogind (bool withLogind = true)
    {
        folder.createDirectory();
        const auto socket = folder.getChildFile ("bus");
        address = std::make_unique<SystemBusAddress> ("unix:path=" + socket.getFullPathName());

        busDaemon.start (juce::StringArray { "dbus-daemon", "--session", "--nofork", "--nopidfile",
                                             "--address=unix:path=" + socket.getFullPathName() },
                         0);
        busReady = runUntil ([&]
                             { return socket.exists(); });

        if (withLogind && busReady)
        {
            logind.start (juce::StringArray { "/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind" }, 0);
            busReady = runUntil ([this]
                                 { return inhibitors() >= 0; });
        }
    }

    ~MockLogind()
    {
        logind.kill();
        busDaemon.kill();
        logind.waitForProcessToFinish (kWaitMs);
        busDaemon.waitForProcessToFinish (kWaitMs);
        folder.deleteRecursively();
    }

    /** The stand-in's list of inhibitors as dbus-send prints it; empty when it cannot be asked. */
    static juce::String listInhibitors()
    {
        juce::ChildProcess ask;

        if (! ask.start (juce::StringArray { "dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.login1",
                                             "/org/freedesktop/login1", "org.freedesktop.login1.Manager.ListInhibitors" }))
            return {};

        const auto output = ask.readAllProcessOutput();
        return output.startsWith ("method return") ? output : juce::String();
    }

    /** How many inhibitors the stand-in holds for the update (-1: it cannot be asked). */
    static int inhibitors()
    {
        const auto list = listInhibitors();

        if (list.isEmpty())
            return -1;

        int count = 0;

        for (const auto& line : juce::StringArray::fromLines (list))
            count += line.trim() == "string \"" + kWhy + "\"" ? 1 : 0;

        return count;
    }

    /** Makes the stand-in refuse, as polkit may, any inhibitor that takes over the lid
        switch, and hand out every other one as before. True once it does. */
    static bool refuseTheLid()
    {
        const juce::String code { "if 'handle-lid-switch' in args[0]:\n"
                                  "    raise dbus.exceptions.DBusException('Access denied', "
                                  "name='org.freedesktop.DBus.Error.AccessDenied')\n"
                                  "import importlib\n"
                                  "ret = importlib.import_module('dbusmock.templates.logind').Inhibit(self, *args)\n" };
        juce::ChildProcess add;
        return add.start (juce::StringArray { "dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.login1",
                                              "/org/freedesktop/login1", "org.freedesktop.DBus.Mock.AddMethod",
                                              "string:org.freedesktop.login1.Manager", "string:Inhibit", "string:ssss",
                                              "string:h", "string:" + code })
               && add.readAllProcessOutput().startsWith ("method return");
    }

    /** The what of the update's inhibitors the stand-in holds, in order. */
    static juce::StringArray inhibitorWhats()
    {
        const auto entry = juce::StringArray::fromLines (listInhibitors());
        juce::StringArray whats;

        for (int line = 2; line < entry.size(); ++line)
            if (entry[line].trim() == "string \"" + kWhy + "\"")
                whats.add (entry[line - 2].trim().fromFirstOccurrenceOf ("\"", false, false).dropLastCharacters (1));

        return whats;
    }

    bool waitForInhibitors (int count)
    {
        return runUntil ([&]
                         { return inhibitors() == count; });
    }

    bool busReady = false;

private:
    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("trb-bus-" + juce::Uuid().toString());
    std::unique_ptr<SystemBusAddress> address;
    juce::ChildProcess busDaemon, logind;
};

// The main component on the simulated controller, held in the poll of the first
// block, so that the write is under way for as long as the test wants.
struct WriteUnderWay
{
    WriteUnderWay()
    {
        folder.createDirectory();
        const auto image = makeUpdateImage ("1.05", 0x20261209, 3);
        folder.getChildFile ("trbkelo7__v105.bin").replaceWithData (image.data(), image.size());

        SimulatedScenario scenario;
        scenario.busyCount = -1;
        SimulatedController::instance().reset (scenario);
        session = std::make_unique<UpdateSession>();
        component = std::make_unique<MainComponent> (*session);
        component->setUpdateFileFolder (folder);
        component->setSize (406, 154);
    }

    ~WriteUnderWay()
    {
        component.reset();
        session.reset();
        SimulatedController::instance().waitUntilIdle (1000);
        folder.deleteRecursively();
    }

    bool start()
    {
        auto& c = *component;
        c.buttonClicked (&c.getOkButton());

        if (! runUntil ([&c]
                        { return c.getStatus() == ST_READY; }))
            return false;

        c.buttonClicked (&c.getOkButton());
        return runUntil ([&c]
                         { return c.getStatus() == ST_BLOCK_WAIT; });
    }

    juce::File folder = juce::File::createTempFile ("trb-sleep");
    std::unique_ptr<UpdateSession> session;
    std::unique_ptr<MainComponent> component;
};
} // namespace

TEST (SleepInhibitor, IsTakenFromLogindOnceAndEndsWhenReleased)
{
    MockLogind logind;
    ASSERT_TRUE (logind.busReady);
    ASSERT_EQ (logind.inhibitors(), 0);

    const auto inhibitor = SleepInhibitor::create ("TRBKelo7UpdateProgram", kWhy);
    inhibitor->acquire();
    inhibitor->acquire();
    ASSERT_TRUE (runUntil ([&]
                           { return inhibitor->isHeld(); }));
    EXPECT_EQ (logind.inhibitors(), 1);

    // What logind is asked for: sleep, shutdown and idle, and its own handling of the
    // lid and the sleep keys (which ignores a sleep lock), blocked, by the updater.
    const auto entry = juce::StringArray::fromLines (MockLogind::listInhibitors());
    const auto why = entry.indexOf ("         string \"" + kWhy + "\"");
    ASSERT_GE (why, 2);
    EXPECT_EQ (entry[why - 2].trim(),
               "string \"sleep:shutdown:idle:handle-lid-switch:handle-suspend-key:handle-hibernate-key\"");
    EXPECT_EQ (entry[why - 1].trim(), "string \"TRBKelo7UpdateProgram\"");
    EXPECT_EQ (entry[why + 1].trim(), "string \"block\"");

    inhibitor->release();
    EXPECT_FALSE (inhibitor->isHeld());
    EXPECT_TRUE (logind.waitForInhibitors (0));

    // Taken again after a release; the destructor lets go as well.
    inhibitor->acquire();
    EXPECT_TRUE (logind.waitForInhibitors (1));
    const_cast<std::unique_ptr<SleepInhibitor>&> (inhibitor).reset();
    EXPECT_TRUE (logind.waitForInhibitors (0));
}

TEST (SleepInhibitor, WithoutABusOrLogindItCarriesOnAndSaysSoOnce)
{
    testing::internal::CaptureStderr();

    // Nothing waits for an ask, so the test waits for each to end.
    const auto askEnds = [] (const SleepInhibitor& inhibitor)
    {
        return runUntil ([&]
                         { return ! inhibitor.isAsking(); });
    };

    {
        const SystemBusAddress nowhere ("unix:path=/nonexistent/trb-no-bus");
        const auto inhibitor = SleepInhibitor::create ("TRBKelo7UpdateProgram", kWhy);
        inhibitor->acquire();
        EXPECT_TRUE (askEnds (*inhibitor));
    }
    {
        MockLogind busWithoutLogind (false);
        ASSERT_TRUE (busWithoutLogind.busReady);
        const auto inhibitor = SleepInhibitor::create ("TRBKelo7UpdateProgram", kWhy);
        inhibitor->acquire();
        inhibitor->acquire();
        EXPECT_TRUE (askEnds (*inhibitor));
        inhibitor->release();
        inhibitor->acquire();
        EXPECT_TRUE (askEnds (*inhibitor));
    }

    EXPECT_TRUE (StandardErrorWriter::flush (kWaitMs));
    const auto said = juce::String (testing::internal::GetCapturedStderr());
    EXPECT_EQ (juce::StringArray::fromLines (said.trim()).size(), 1) << said;
    EXPECT_TRUE (said.contains ("sleeping")) << said;
}

TEST (SleepInhibitor, WhereTheLidIsRefusedTheRestIsHeldAndTheRefusalSaidOnce)
{
    MockLogind logind;
    ASSERT_TRUE (logind.busReady);
    ASSERT_TRUE (MockLogind::refuseTheLid());
    testing::internal::CaptureStderr();

    const auto inhibitor = SleepInhibitor::create ("TRBKelo7UpdateProgram", kWhy);

    for (int hold = 0; hold < 2; ++hold)
    {
        inhibitor->acquire();
        EXPECT_TRUE (runUntil ([&]
                               { return inhibitor->isHeld(); }));
        EXPECT_EQ (MockLogind::inhibitorWhats(), juce::StringArray ({ "sleep:shutdown:idle" }));
        inhibitor->release();
        EXPECT_TRUE (logind.waitForInhibitors (0));
    }

    EXPECT_TRUE (StandardErrorWriter::flush (kWaitMs));
    const auto said = juce::String (testing::internal::GetCapturedStderr());
    EXPECT_EQ (juce::StringArray::fromLines (said.trim()).size(), 1) << said;
    EXPECT_TRUE (said.contains ("lid")) << said;
    EXPECT_TRUE (said.contains ("keeping the rest of the sleep lock")) << said;
}

TEST (SleepInhibitor, TheSessionsWarningGoesTheSupportLogsWayNeverStraightToStandardError)
{
    // A terminal run whose stderr is a terminal keeps the support log (and with it
    // this warning) off it: the warning must reach the log's sink, and only that.
    testing::internal::CaptureStderr();
    std::mutex lock;
    juce::StringArray logged;

    {
        const SystemBusAddress nowhere ("unix:path=/nonexistent/trb-no-bus");
        UpdateSession session ([&] (const juce::String& line)
                               {
                                   const std::lock_guard<std::mutex> guard (lock);
                                   logged.add (line); },
                               false);
        session.getSleepLock().acquire();
        EXPECT_TRUE (runUntil ([&session]
                               { return ! session.getSleepLock().isAsking(); }));
    }

    EXPECT_TRUE (StandardErrorWriter::flush (kWaitMs));
    const auto said = juce::String (testing::internal::GetCapturedStderr());
    EXPECT_FALSE (said.contains ("sleeping")) << said;
    const std::lock_guard<std::mutex> guard (lock);
    EXPECT_TRUE (logged.joinIntoString ("\n").contains ("Cannot keep the system from sleeping")) << logged.joinIntoString ("\n");
}

TEST (MainComponentSleepLock, IsHeldFromStartUntilTheCompletionScreen)
{
    MockLogind logind;
    ASSERT_TRUE (logind.busReady);
    WriteUnderWay update;
    auto& c = *update.component;

    c.buttonClicked (&c.getOkButton());
    ASSERT_TRUE (runUntil ([&c]
                           { return c.getStatus() == ST_READY; }));
    c.refreshDisplay();
    EXPECT_EQ (logind.inhibitors(), 0) << "not before Start";

    c.buttonClicked (&c.getOkButton());
    ASSERT_TRUE (runUntil ([&c]
                           { return c.getStatus() == ST_BLOCK_WAIT; }));
    EXPECT_TRUE (logind.waitForInhibitors (1));

    // The whole update follows: waited for as long as the controller keeps hearing from it.
    SimulatedController::instance().setBusyCount (0);
    ASSERT_TRUE (update_test::runUntil ([&c]
                                        { return c.getStatus() == ST_COMPLETE && ! c.getProcedure().isWorkerRunning(); }));
    c.refreshDisplay();
    EXPECT_TRUE (logind.waitForInhibitors (0));
}

TEST (MainComponentSleepLock, EndsAtAnErrorScreenAndWhenTheProgramQuitsMidWrite)
{
    MockLogind logind;
    ASSERT_TRUE (logind.busReady);

    {
        WriteUnderWay update;
        ASSERT_TRUE (update.start());
        ASSERT_TRUE (logind.waitForInhibitors (1));

        auto& c = *update.component;
        const auto device = activeHidUtil != nullptr ? activeHidUtil->deviceNo.load() : -1;
        ASSERT_GE (device, 0);
        SimulatedController::instance().remove (device);
        ASSERT_TRUE (runUntil ([&c]
                               { return c.getStatus() == ERR_DEVICE_REMOVED; }));
        c.refreshDisplay();
        EXPECT_TRUE (logind.waitForInhibitors (0));
    }

    // A quit request from the system during the write ends the program at once:
    // the window, and with it the component, goes at shutdown, then the session
    // that holds the lock.
    {
        WriteUnderWay update;
        ASSERT_TRUE (update.start());
        ASSERT_TRUE (logind.waitForInhibitors (1));
        update.component.reset();
        update.session.reset();
        EXPECT_TRUE (logind.waitForInhibitors (0));
    }
}
