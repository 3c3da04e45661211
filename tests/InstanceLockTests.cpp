#include "app/InstanceLock.h"
#include "tests/AppShellTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using app_shell_test::dispatchUntil;
using app_shell_test::uniqueApplicationName;

namespace
{
// A user id that is not the test's own, for the files of "another user".
constexpr uid_t kOtherUser = 65534;

// A fresh directory that only this user may write to, gone after the test.
struct PrivateFolder
{
    PrivateFolder()
    {
        folder.createDirectory();
        ::chmod (folder.getFullPathName().toRawUTF8(), 0700);
    }
    ~PrivateFolder()
    {
        folder.setReadOnly (false, true);
        folder.deleteRecursively();
    }

    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("trb-lock-test-" + juce::Uuid().toString());
};

// True when nobody holds a lock on file; probes by taking it and letting go.
bool isUnlocked (const juce::File& file)
{
    const int fd = ::open (file.getFullPathName().toRawUTF8(), O_RDWR | O_CLOEXEC);
    const bool free = fd >= 0 && ::flock (fd, LOCK_EX | LOCK_NB) == 0;

    if (fd >= 0)
        ::close (fd);

    return free;
}
} // namespace

TEST (InstanceLock, TheFirstLaunchHoldsItAndLaterOnesFindItsEndpointUntilItEnds)
{
    PrivateFolder place;
    const auto name = uniqueApplicationName();
    juce::String firstEndpoint;

    {
        InstanceLock first (name, { place.folder });
        ASSERT_EQ (first.getState(), InstanceLock::State::held) << first.getProblem();
        EXPECT_EQ (first.getFile().getParentDirectory(), place.folder);
        firstEndpoint = first.getHandoverName();
        EXPECT_TRUE (firstEndpoint.startsWith (name + "."));

        InstanceLock second (name, { place.folder });
        EXPECT_EQ (second.getState(), InstanceLock::State::heldElsewhere);
        EXPECT_EQ (second.readHandoverName (0), firstEndpoint);

        // A file that does not hold an endpoint name is not followed anywhere.
        {
            juce::FileOutputStream out (first.getFile());
            ASSERT_TRUE (out.setPosition (0) && out.truncate().wasOk());
            out.writeText ("elsewhere\n", false, false, nullptr);
        }

        EXPECT_EQ (second.readHandoverName (0), "");
    }

    // The lock ends with its holder, and the next instance gets a name of its own.
    InstanceLock next (name, { place.folder });
    ASSERT_EQ (next.getState(), InstanceLock::State::held);
    EXPECT_NE (next.getHandoverName(), firstEndpoint);
    EXPECT_EQ (InstanceLock (name, { place.folder }).readHandoverName (0), next.getHandoverName());
}

TEST (InstanceLock, AnInstanceThatTakesNoLaunchesSaysSoWithACompleteEmptyLine)
{
    PrivateFolder place;
    const auto name = uniqueApplicationName();

    InstanceLock terminalRun (name, { place.folder }, InstanceLock::Launches::refused);
    ASSERT_EQ (terminalRun.getState(), InstanceLock::State::held) << terminalRun.getProblem();
    EXPECT_EQ (terminalRun.getHandoverName(), "");
    // A finished line, not an empty file: a later launch knows at once, without waiting
    // for a name that would never come.
    EXPECT_EQ (terminalRun.getFile().loadFileAsString(), "\n");

    InstanceLock later (name, { place.folder });
    EXPECT_EQ (later.getState(), InstanceLock::State::heldElsewhere);
    EXPECT_EQ (later.readHandoverName (0), "");
}

TEST (InstanceLock, PassesOverPlacesOthersCouldWriteToAndSaysWhyWhenNoneIsLeft)
{
    PrivateFolder root;
    const auto name = uniqueApplicationName();

    const auto writable = root.folder.getChildFile ("writable");
    writable.createDirectory();
    ::chmod (writable.getFullPathName().toRawUTF8(), 01777);

    const auto link = root.folder.getChildFile ("link");
    const auto target = root.folder.getChildFile ("target");
    target.createDirectory();
    ::chmod (target.getFullPathName().toRawUTF8(), 0700);
    ASSERT_TRUE (target.createSymbolicLink (link, true));

    const auto plainFile = root.folder.getChildFile ("file");
    plainFile.create();

    const auto missing = root.folder.getChildFile ("missing");
    const juce::Array<juce::File> unusable { writable, link, plainFile, missing };

    const InstanceLock none (name, unusable);
    EXPECT_EQ (none.getState(), InstanceLock::State::unavailable);

    for (const auto& place : unusable)
        EXPECT_TRUE (none.getProblem().contains (place.getFullPathName())) << none.getProblem();

    auto withPrivate = unusable;
    withPrivate.add (root.folder);
    const InstanceLock lock (name, withPrivate);
    ASSERT_EQ (lock.getState(), InstanceLock::State::held);
    EXPECT_EQ (lock.getFile().getParentDirectory(), root.folder);
    EXPECT_FALSE (writable.getChildFile (name + ".lock").exists());
}

TEST (InstanceLock, AnotherUsersLockedFileNeitherStopsALaunchNorSwitchesTheRuleOff)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root, to act as another user";

    PrivateFolder spoiled, spare;
    const auto name = uniqueApplicationName();

    // Another user's lock file, locked by a process of that user, in the place
    // tried first (where only root could have put it).
    const auto foreign = spoiled.folder.getChildFile (name + ".lock");
    foreign.replaceWithText ("elsewhere\n");
    ASSERT_EQ (::chown (foreign.getFullPathName().toRawUTF8(), kOtherUser, kOtherUser), 0);
    ::chmod (spoiled.folder.getFullPathName().toRawUTF8(), 0755);

    juce::ChildProcess holder;
    ASSERT_TRUE (holder.start (juce::StringArray { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                                                   "import fcntl, sys, time\n"
                                                   "f = open(sys.argv[1])\n"
                                                   "fcntl.flock(f, fcntl.LOCK_EX)\n"
                                                   "time.sleep(600)\n",
                                                   foreign.getFullPathName() },
                               0));
    ASSERT_TRUE (dispatchUntil ([&]
                                { return ! isUnlocked (foreign); }));

    const InstanceLock first (name, { spoiled.folder, spare.folder });
    const InstanceLock second (name, { spoiled.folder, spare.folder });
    holder.kill();

    EXPECT_EQ (first.getState(), InstanceLock::State::held);
    EXPECT_EQ (first.getFile().getParentDirectory(), spare.folder);
    EXPECT_EQ (second.getState(), InstanceLock::State::heldElsewhere);
    EXPECT_EQ (second.readHandoverName (0), first.getHandoverName());
}

TEST (InstanceLock, NamesTheProcessThatHoldsItAndSaysWhenItIsStopped)
{
    PrivateFolder place;
    const auto name = uniqueApplicationName();

    {
        const InstanceLock first (name, { place.folder });
        const InstanceLock second (name, { place.folder });
        ASSERT_EQ (second.getState(), InstanceLock::State::heldElsewhere);
        EXPECT_FALSE (first.findHolder().has_value()) << "the holder itself has no other holder to name";

        const auto holder = second.findHolder();
        ASSERT_TRUE (holder.has_value());
        EXPECT_EQ (holder->processId, (int) ::getpid());
        EXPECT_TRUE (holder->name.isNotEmpty());
        EXPECT_FALSE (holder->stopped);
    }

    // Another process holds it and is then stopped, as Ctrl+Z would stop it.
    const auto lockPath = place.folder.getChildFile (name + ".lock").getFullPathName().toStdString();
    const pid_t child = ::fork();
    ASSERT_GE (child, 0);

    if (child == 0)
    {
        const int fd = ::open (lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);

        if (fd < 0 || ::flock (fd, LOCK_EX) != 0)
            ::_exit (1);

        for (;;)
            ::pause();
    }

    const auto lockFile = place.folder.getChildFile (name + ".lock");
    const bool taken = dispatchUntil ([&]
                                      { return ! isUnlocked (lockFile); });
    const InstanceLock second (name, { place.folder });
    int status = 0;
    ::kill (child, SIGSTOP);
    ::waitpid (child, &status, WUNTRACED);
    const auto holder = second.findHolder();
    ::kill (child, SIGKILL);
    ::waitpid (child, &status, 0);

    ASSERT_TRUE (taken);
    ASSERT_EQ (second.getState(), InstanceLock::State::heldElsewhere);
    ASSERT_TRUE (holder.has_value());
    EXPECT_EQ (holder->processId, (int) child);
    EXPECT_TRUE (holder->stopped);
}

TEST (InstanceLock, ALockFileWithASecondNameIsLeftAloneAndTheNextPlaceTaken)
{
    PrivateFolder linked, spare;
    const auto name = uniqueApplicationName();
    const auto precious = linked.folder.getChildFile ("notes.txt");
    ASSERT_TRUE (precious.replaceWithText ("kept as it is"));
    ASSERT_EQ (::link (precious.getFullPathName().toRawUTF8(),
                       linked.folder.getChildFile (name + ".lock").getFullPathName().toRawUTF8()),
               0);

    const InstanceLock lock (name, { linked.folder, spare.folder });

    ASSERT_EQ (lock.getState(), InstanceLock::State::held) << lock.getProblem();
    EXPECT_EQ (lock.getFile().getParentDirectory(), spare.folder);
    EXPECT_EQ (precious.loadFileAsString(), "kept as it is");
}
