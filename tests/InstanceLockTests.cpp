#include "app/CommandLine.h"
#include "app/DesktopScale.h"
#include "app/InstanceHandover.h"
#include "app/InstanceLock.h"
#include "app/QuitSignalWatcher.h"
#include "resources/AppIcon.h"
#include "resources/WarningIcon.h"
#include "text/ExternalText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <thread>

#include <cstddef>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// A name no real program uses, drawn per test, so these tests never meet a
// running updater nor a test of another run on the same machine (the process
// number alone repeats across containers that share their sockets).
juce::String uniqueApplicationName()
{
    return "TRBShellTest." + juce::Uuid().toString();
}

// Runs the message loop until done() holds or timeoutMs passed; the default is
// generous for a sanitizer build on a busy machine.
template <typename Predicate>
bool dispatchUntil (Predicate done, int timeoutMs = 60000)
{
    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! done() && juce::Time::getMillisecondCounter() < giveUpAt)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    return done();
}

std::future<bool> sendInBackground (const juce::String& name, const juce::String& commandLine, int waitMs)
{
    return std::async (std::launch::async, [=]
                       { return InstanceHandover::sendToRunningInstance (name, commandLine, waitMs); });
}

bool isYellow (juce::Colour c)
{
    return c.getAlpha() == 0xFF && c.getRed() > 0xE0 && c.getGreen() > 0xB0 && c.getBlue() < 0x40;
}

bool isBlack (juce::Colour c)
{
    return c.getAlpha() == 0xFF && c.getRed() < 0x20 && c.getGreen() < 0x20 && c.getBlue() < 0x20;
}
} // namespace

TEST (WarningIcon, DecodesToA56By55ImageWithAlpha)
{
    const auto icon = getWarningIcon();

    ASSERT_TRUE (icon.isValid());
    EXPECT_EQ (icon.getWidth(), 56);
    EXPECT_EQ (icon.getHeight(), 55);
    EXPECT_TRUE (icon.hasAlphaChannel());
}

TEST (WarningIcon, IsAYellowTriangleWithBlackInkOnATransparentGround)
{
    const auto icon = getWarningIcon();
    ASSERT_TRUE (icon.isValid());

    const int w = icon.getWidth(), h = icon.getHeight();

    for (auto [x, y] : { std::pair { 0, 0 }, { w - 1, 0 }, { 0, h - 1 }, { w - 1, h - 1 }, { 5, 10 }, { w - 6, 10 } })
        EXPECT_EQ (icon.getPixelAt (x, y).getAlpha(), 0) << "at " << x << ", " << y;

    int yellow = 0, black = 0;

    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            yellow += isYellow (icon.getPixelAt (x, y)) ? 1 : 0;
            black += isBlack (icon.getPixelAt (x, y)) ? 1 : 0;
        }

    // The triangle covers a good part of the image; the border and the
    // exclamation mark are a smaller, clearly visible part of it.
    EXPECT_GT (yellow, w * h / 5);
    EXPECT_GT (black, w * h / 10);

    // The exclamation mark is black on the triangle's middle line: in the bar
    // and in the dot, with yellow between them and beside them.
    EXPECT_TRUE (isBlack (icon.getPixelAt (w / 2, 25)));
    EXPECT_TRUE (isBlack (icon.getPixelAt (w / 2, 44)));
    EXPECT_TRUE (isYellow (icon.getPixelAt (w / 2, 40)));
    EXPECT_TRUE (isYellow (icon.getPixelAt (w / 2 - 10, 40)));
}

TEST (WarningIcon, IsDecodedOnceAndThenTakenFromTheCache)
{
    const auto first = getWarningIcon();
    const auto second = getWarningIcon();

    // Images that share their pixel data compare equal.
    EXPECT_TRUE (first == second);
}

//==============================================================================
TEST (AppIcon, DrawsTheBuiltInSvgIntoASquareWithATransparentCorner)
{
    const auto icon = renderAppIcon (128);

    ASSERT_TRUE (icon.isValid());
    EXPECT_EQ (icon.getWidth(), 128);
    EXPECT_EQ (icon.getHeight(), 128);
    // The controller's body fills the lower middle; above the arrow's head
    // at the left edge there is nothing.
    EXPECT_EQ (icon.getPixelAt (64, 100).getAlpha(), 255);
    EXPECT_EQ (icon.getPixelAt (2, 2).getAlpha(), 0);
    // The arrow is green.
    const auto arrow = icon.getPixelAt (64, 20);
    EXPECT_GT (arrow.getGreen(), arrow.getRed());
    EXPECT_GT (arrow.getGreen(), arrow.getBlue());

    EXPECT_FALSE (renderAppIcon (0).isValid());
}

//==============================================================================
TEST (DesktopScale, ReadsGdkScaleFirstThenXftDpiAndIgnoresWhatIsNoScreen)
{
    struct Case
    {
        const char* gdkScale;
        const char* xftDpi;
        std::optional<double> expected;
    };

    const Case cases[] = {
        { nullptr, nullptr, std::nullopt },
        { nullptr, "96", 1.0 },
        { nullptr, "192", 2.0 },
        { nullptr, "144", 1.5 },
        { nullptr, " 192\n", 2.0 },
        { "2", nullptr, 2.0 },
        { "2", "96", 2.0 }, // GDK_SCALE wins over Xft.dpi
        { "1", "192", 1.0 }, // also when it asks for less
        { "1.5", "192", 2.0 }, // GTK takes whole numbers only; the resource stands
        { "", "192", 2.0 },
        { "abc", nullptr, std::nullopt },
        { "0", nullptr, std::nullopt },
        { "-2", nullptr, std::nullopt },
        { "99999999999999999999", nullptr, std::nullopt },
        { "9", nullptr, std::nullopt },
        { nullptr, "0", std::nullopt },
        { nullptr, "-96", std::nullopt },
        { nullptr, "nan", std::nullopt },
        { nullptr, "inf", std::nullopt },
        { nullptr, "192dpi", std::nullopt },
        { nullptr, "10", std::nullopt },
        { nullptr, "9600", std::nullopt },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String ("GDK_SCALE=") + (c.gdkScale != nullptr ? c.gdkScale : "(unset)")
                      + " Xft.dpi=" + (c.xftDpi != nullptr ? c.xftDpi : "(unset)"));
        EXPECT_EQ (DesktopScale::fromSettings (c.gdkScale, c.xftDpi), c.expected);
    }
}

TEST (DesktopScale, TheGlobalFactorTopsUpWhatTheFrameworkAlreadyScales)
{
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (2.0, 1.0), 2.0);
    // The framework found the 2x screen itself: nothing to add, no 4x window.
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (2.0, 2.0), 1.0);
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (1.0, 2.0), 0.5);
    EXPECT_DOUBLE_EQ (DesktopScale::globalFactorFor (1.5, 0.0), 1.5);
}

//==============================================================================
TEST (DesktopScale, AScaleThatWouldPushTheWindowPastTheWorkAreaIsCutToFit)
{
    struct Case
    {
        double desired;
        double workWidth, workHeight;
        double expected;
    };

    // The window is 406 x 154 at scale 1.
    const Case cases[] = {
        { 2.0, 2560.0, 1440.0, 2.0 }, // fits: as asked
        { 8.0, 1024.0, 768.0, 2.52 }, // 1024 / 406, cut to hundredths
        { 8.0, 1024.0, 200.0, 1.29 }, // the height decides: 200 / 154
        { 3.0, 300.0, 700.0, 1.0 }, // a screen narrower than the window at 1x: not below 1
        { 0.5, 300.0, 700.0, 0.5 }, // a smaller scale that fits stays
        { 2.0, 0.0, 0.0, 2.0 }, // no work area known
    };

    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ (DesktopScale::fittingScale (c.desired, 406, 154, c.workWidth, c.workHeight), c.expected)
            << c.desired << " on " << c.workWidth << " x " << c.workHeight;
}

TEST (InstanceHandover, DeliversEachLaunchsCommandLineOnTheMessageThread)
{
    const auto name = uniqueApplicationName();
    juce::StringArray received;
    std::atomic<bool> onMessageThread { true };

    InstanceHandover running (name, [&] (const juce::String& commandLine)
                              {
                                  onMessageThread = onMessageThread && juce::MessageManager::getInstance()->isThisTheMessageThread();
                                  received.add (commandLine); });
    ASSERT_TRUE (running.isListening());

    const juce::StringArray launches { "", "--open \"a file\"", juce::String::fromUTF8 (u8"caf\u00e9 \u65e5\u672c\u8a9e") };

    for (const auto& commandLine : launches)
    {
        auto sent = sendInBackground (name, commandLine, 0);
        EXPECT_TRUE (sent.get());
    }

    ASSERT_TRUE (dispatchUntil ([&]
                                { return received.size() == launches.size(); }));
    EXPECT_EQ (received, launches);
    EXPECT_TRUE (onMessageThread);
}

TEST (InstanceHandover, AMessageThatIsNotUtf8ArrivesAsItsReplacedText)
{
    const auto name = uniqueApplicationName();
    juce::StringArray received;
    InstanceHandover running (name, [&] (const juce::String& commandLine)
                              { received.add (commandLine); });
    ASSERT_TRUE (running.isListening());

    // A same-user process may send any bytes: here a stray continuation byte
    // far ahead of the message's end.
    const auto message = name.toStdString() + "/open \x80" + std::string (200, 'B');
    const auto endpointName = (name + ".instance." + juce::String ((int) ::getuid())).toStdString();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::copy (endpointName.begin(), endpointName.end(), address.sun_path + 1);
    const auto length = (socklen_t) (offsetof (sockaddr_un, sun_path) + 1 + endpointName.size());

    auto sent = std::async (std::launch::async, [&]
                            {
                                const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                                char reply = 0;
                                const bool ok = ::connect (fd, reinterpret_cast<const sockaddr*> (&address), length) == 0
                                                && ::send (fd, message.data(), message.size(), MSG_NOSIGNAL) == (ssize_t) message.size()
                                                && ::shutdown (fd, SHUT_WR) == 0
                                                && ::recv (fd, &reply, 1, 0) == 1;
                                ::close (fd);
                                return ok; });
    ASSERT_TRUE (dispatchUntil ([&]
                                { return received.size() == 1; }));
    EXPECT_TRUE (sent.get());
    EXPECT_EQ (received[0], "open " + juce::String::charToString (0xfffd) + juce::String::repeatedString ("B", 200));

    // Parsed on its own: another application's message carries nothing.
    EXPECT_EQ (InstanceHandover::commandLineFromMessage (name, message.data(), message.size()), received[0]);
    EXPECT_EQ (InstanceHandover::commandLineFromMessage (name + "x", message.data(), message.size()), std::nullopt);
}

TEST (InstanceHandover, ALaunchWithNoRunningInstanceGivesUpAfterItsWait)
{
    const auto name = uniqueApplicationName();

    EXPECT_FALSE (InstanceHandover::sendToRunningInstance (name, "x", 0));

    const auto started = juce::Time::getMillisecondCounter();
    EXPECT_FALSE (InstanceHandover::sendToRunningInstance (name, "x", 200));
    EXPECT_GE (juce::Time::getMillisecondCounter() - started, 200u);
}

TEST (InstanceHandover, ALaunchReachesAnInstanceThatIsStillStarting)
{
    const auto name = uniqueApplicationName();
    auto sent = sendInBackground (name, "late", 60000);
    juce::Thread::sleep (150);

    juce::String received;
    InstanceHandover running (name, [&] (const juce::String& commandLine)
                              { received = commandLine; });

    EXPECT_TRUE (sent.get());
    EXPECT_TRUE (dispatchUntil ([&]
                                { return received == "late"; }));
}

TEST (InstanceHandover, OnlyTheFirstEndpointOfANameListens)
{
    const auto name = uniqueApplicationName();
    int firstCalls = 0, secondCalls = 0;

    InstanceHandover first (name, [&] (const juce::String&)
                            { ++firstCalls; });
    InstanceHandover second (name, [&] (const juce::String&)
                             { ++secondCalls; });

    EXPECT_TRUE (first.isListening());
    EXPECT_FALSE (second.isListening());

    auto sent = sendInBackground (name, "", 0);
    EXPECT_TRUE (sent.get());
    EXPECT_TRUE (dispatchUntil ([&]
                                { return firstCalls == 1; }));
    EXPECT_EQ (secondCalls, 0);
}

TEST (InstanceHandover, NothingIsDeliveredAfterTheEndpointIsDestroyed)
{
    const auto name = uniqueApplicationName();
    int calls = 0;

    {
        InstanceHandover running (name, [&] (const juce::String&)
                                  { ++calls; });

        // Acknowledged means queued for the message thread, which has not run yet.
        auto sent = sendInBackground (name, "queued", 0);
        EXPECT_TRUE (sent.get());
    }

    dispatchUntil ([]
                   { return false; },
                   200);
    EXPECT_EQ (calls, 0);
    EXPECT_FALSE (InstanceHandover::sendToRunningInstance (name, "after", 0));
}

TEST (InstanceHandover, AnOversizedCommandLineIsDroppedAndTheEndpointKeepsListening)
{
    const auto name = uniqueApplicationName();
    juce::StringArray received;
    InstanceHandover running (name, [&] (const juce::String& commandLine)
                              { received.add (commandLine); });

    auto oversized = sendInBackground (name, juce::String::repeatedString ("x", 100 * 1024), 0);
    EXPECT_FALSE (oversized.get());

    auto normal = sendInBackground (name, "next", 0);
    EXPECT_TRUE (normal.get());
    EXPECT_TRUE (dispatchUntil ([&]
                                { return received.size() == 1; }));
    EXPECT_EQ (received, juce::StringArray { "next" });
}

TEST (InstanceHandover, ALaunchTricklingItsBytesDoesNotKeepTheNextOneFromBeingHeard)
{
    const auto name = uniqueApplicationName();
    juce::StringArray received;
    InstanceHandover running (name, [&] (const juce::String& commandLine)
                              { received.add (commandLine); });
    ASSERT_TRUE (running.isListening());

    // A process of this user that connects and sends a byte now and then, for
    // far longer than a launch waits for its acknowledgement.
    const auto address = (name + ".instance." + juce::String ((int) ::getuid())).toStdString();
    sockaddr_un endpoint {};
    endpoint.sun_family = AF_UNIX;
    std::copy (address.begin(), address.end(), endpoint.sun_path + 1);
    const int trickler = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ (::connect (trickler, reinterpret_cast<const sockaddr*> (&endpoint), (socklen_t) (offsetof (sockaddr_un, sun_path) + 1 + address.size())), 0);

    std::atomic<bool> stop { false };
    std::thread trickle ([&]
                         {
                             for (int i = 0; i < 300 && ! stop; ++i)
                             {
                                 ::send (trickler, "x", 1, MSG_NOSIGNAL);
                                 juce::Thread::sleep (200);
                             } });

    auto sent = sendInBackground (name, "next", 0);
    const auto heard = sent.get();
    stop = true;
    trickle.join();
    ::close (trickler);

    EXPECT_TRUE (heard);
    EXPECT_TRUE (dispatchUntil ([&]
                                { return received.contains ("next"); }));
}

//==============================================================================
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

TEST (CommandLine, APathThatIsNotUtf8IsReadAsTextAndKeptAsItsBytes)
{
    const struct
    {
        std::vector<std::string> arguments;
        CommandLine::Action action;
        std::string bytes;
    } cases[] = {
        { { "a\x80" + std::string (100, 'B') }, CommandLine::Action::run, "a\x80" + std::string (100, 'B') },
        { { "--", "-\xff.bin" }, CommandLine::Action::run, "-\xff.bin" },
        { { "/tmp/\xc0\x80" }, CommandLine::Action::run, "/tmp/\xc0\x80" },
        { { "--\x80" }, CommandLine::Action::usageError, {} },
        { { "x\x80", "y" }, CommandLine::Action::usageError, {} },
    };

    for (const auto& c : cases)
    {
        const auto parsed = CommandLine::parseBytes (c.arguments);
        EXPECT_EQ (parsed.action, c.action) << c.arguments.back();

        if (c.action == CommandLine::Action::run)
        {
            EXPECT_EQ (parsed.updateFileBytes, c.bytes);
            EXPECT_EQ (parsed.updateFilePath, ExternalText::fromBytes (c.bytes));
        }
    }
}

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

//==============================================================================
namespace
{
extern "C" void ignoreSignal (int) { }
} // namespace

TEST (QuitSignalWatcher, TermInterruptAndHangUpEachReachTheMessageThread)
{
    for (const auto signalNumber : { SIGTERM, SIGINT, SIGHUP })
    {
        int calls = 0;
        bool onMessageThread = false;
        QuitSignalWatcher watcher ([&]
                                   {
                                       ++calls;
                                       onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread(); });
        ASSERT_TRUE (watcher.isWatching());

        ASSERT_EQ (std::raise (signalNumber), 0);
        EXPECT_TRUE (dispatchUntil ([&]
                                    { return calls > 0; }))
            << "signal " << signalNumber;
        EXPECT_EQ (calls, 1);
        EXPECT_TRUE (onMessageThread);
    }
}

TEST (QuitSignalWatcherDeathTest, ASecondSignalEndsTheProgramAtOnceWithTheStatusGiven)
{
    // A process of its own started afresh: the watcher needs the message thread.
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    constexpr int kStatus = 5;

    for (const auto signalNumber : { SIGTERM, SIGINT, SIGHUP })
    {
        EXPECT_EXIT (
            {
                QuitSignalWatcher watcher ([] {}, []() noexcept
                                           { return kStatus; });
                std::raise (signalNumber);
                std::raise (signalNumber);
                std::exit (0);
            },
            testing::ExitedWithCode (kStatus), "")
            << "signal " << signalNumber;
    }
}

TEST (QuitSignalWatcher, GivesTheSignalsBackToTheirPreviousHandlers)
{
    struct sigaction custom
    {
    };
    custom.sa_handler = ignoreSignal;
    sigemptyset (&custom.sa_mask);
    struct sigaction savedTerm
    {
    }, savedInt {}, savedHangUp {};
    ASSERT_EQ (sigaction (SIGTERM, &custom, &savedTerm), 0);
    ASSERT_EQ (sigaction (SIGINT, &custom, &savedInt), 0);
    ASSERT_EQ (sigaction (SIGHUP, &custom, &savedHangUp), 0);

    {
        QuitSignalWatcher watcher ([] {});
        struct sigaction during
        {
        };
        sigaction (SIGTERM, nullptr, &during);
        EXPECT_NE (during.sa_handler, ignoreSignal);
    }

    for (const auto signalNumber : { SIGTERM, SIGINT, SIGHUP })
    {
        struct sigaction after
        {
        };
        sigaction (signalNumber, nullptr, &after);
        EXPECT_EQ (after.sa_handler, ignoreSignal) << "signal " << signalNumber;
    }

    sigaction (SIGTERM, &savedTerm, nullptr);
    sigaction (SIGINT, &savedInt, nullptr);
    sigaction (SIGHUP, &savedHangUp, nullptr);
}
