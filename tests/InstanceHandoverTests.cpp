#include "app/InstanceHandover.h"
#include "tests/AppShellTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using app_shell_test::dispatchUntil;
using app_shell_test::uniqueApplicationName;

namespace
{
std::future<bool> sendInBackground (const juce::String& name, const juce::String& commandLine, int waitMs)
{
    return std::async (std::launch::async, [=]
                       { return InstanceHandover::sendToRunningInstance (name, commandLine, waitMs); });
}
} // namespace

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
