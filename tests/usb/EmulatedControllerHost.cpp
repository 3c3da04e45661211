// Runs a program against an emulated TRB-Kelo7 on USB: a umockdev testbed with
// the controller's hidraw node (EmulatedHidBus), the controller model answering
// behind it, and the program started inside the testbed so that it inherits
// the preload and the testbed's folder (as does a wineserver started by the
// set-up command, and with it Wine's HID driver). When the program has ended,
// the flash is compared with the update file and the requests are reported.
//
// Must itself run under umockdev-wrapper. Usage:
//   trb_emulated_controller_host [options] -- program [arguments...]
// Options:
//   --update-file FILE      compare the flash with FILE's regions at the end
//   --expect-status N       the program's exit status that counts as success (0)
//   --look-alike            plug in a HID device with the controller's IDs but
//                           another product name first; nothing may be written
//                           to it (how often it was opened is reported: under
//                           Wine the system's HID driver opens every device)
//   --no-manufacturer       the devices have no manufacturer string (under Wine
//                           the product string is the kernel's HID name, which
//                           then is the product name alone)
//   --plug-in-when PATH     plug the controller in only once PATH exists (the
//                           program has started), so that it arrives later
//   --plug-in-after-text TEXT  plug the controller in only once the program's
//                           output holds TEXT (it has looked for it in vain)
//   --end-after-text TEXT   kill the program once its output holds TEXT (its
//                           status is then 137)
//   --remove-at-poll N      the controller drops off the bus at its N-th poll
//                           (mid-write) without answering it; no request may
//                           reach it after that
//   --expect-text TEXT      the program's output (standard output and error,
//                           passed on as they come) must hold TEXT
//   --expect-requests N     the controller must have received exactly N requests
//   --serial TEXT           the controller's USB serial string (none without it)
//   --request-log FILE      each request the controller receives is a line of
//                           FILE as it arrives ("12 poll"), so that a test can
//                           wait for a stage of the write and see who spoke when
//   --hold-poll-while PATH  a poll that arrives while PATH exists is answered
//                           only once PATH is gone: the write waits in that
//                           block (for at most the program's reply timeout) with
//                           no reply on the node for any other reader to take
//   --setup COMMAND         a shell command run inside the testbed first
//   --teardown COMMAND      a shell command run inside the testbed at the end
// Exit status: 0 when the program ended as expected and every check held, 1
// otherwise, 2 for a command line not understood.

#include "tests/usb/EmulatedHidBus.h"
#include "update/UpdateFile.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{
// No step waits longer than this for the program (a whole update included).
constexpr auto kPatience = std::chrono::minutes (10);
constexpr auto kPollInterval = std::chrono::milliseconds (20);
constexpr int kUsageStatus = 2;

struct Options
{
    std::string updateFile;
    int expectedStatus = 0;
    bool lookAlike = false;
    bool noManufacturer = false;
    std::string plugInWhen;
    std::string plugInAfterText;
    std::string endAfterText;
    int removeAtPoll = 0;
    int expectedRequests = -1;
    std::string expectedText;
    std::string setup, teardown;
    std::string serial;
    std::string requestLog;
    std::string holdPollWhile;
    std::vector<std::string> command;
};

std::optional<Options> parse (int argc, char** argv)
{
    Options options;

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;

        if (arg == "--")
        {
            options.command.assign (argv + i + 1, argv + argc);
            break;
        }

        if (arg == "--look-alike")
            options.lookAlike = true;
        else if (arg == "--no-manufacturer")
            options.noManufacturer = true;
        else if (arg == "--update-file" && hasValue)
            options.updateFile = argv[++i];
        else if (arg == "--expect-status" && hasValue)
            options.expectedStatus = std::atoi (argv[++i]);
        else if (arg == "--plug-in-when" && hasValue)
            options.plugInWhen = argv[++i];
        else if (arg == "--plug-in-after-text" && hasValue)
            options.plugInAfterText = argv[++i];
        else if (arg == "--end-after-text" && hasValue)
            options.endAfterText = argv[++i];
        else if (arg == "--remove-at-poll" && hasValue)
            options.removeAtPoll = std::atoi (argv[++i]);
        else if (arg == "--expect-text" && hasValue)
            options.expectedText = argv[++i];
        else if (arg == "--setup" && hasValue)
            options.setup = argv[++i];
        else if (arg == "--teardown" && hasValue)
            options.teardown = argv[++i];
        else if (arg == "--expect-requests" && hasValue)
            options.expectedRequests = std::atoi (argv[++i]);
        else if (arg == "--serial" && hasValue)
            options.serial = argv[++i];
        else if (arg == "--request-log" && hasValue)
            options.requestLog = argv[++i];
        else if (arg == "--hold-poll-while" && hasValue)
            options.holdPollWhile = argv[++i];
        else
            return std::nullopt;
    }

    if (options.command.empty())
        return std::nullopt;

    return options;
}

// Starts the program with its standard output and error on a pipe, whose
// reading end is placed in output (non-blocking).
pid_t startProgram (const std::vector<std::string>& command, int& output)
{
    int ends[2] = { -1, -1 };

    if (::pipe2 (ends, O_CLOEXEC) != 0)
        return -1;

    std::vector<char*> arguments;

    for (const auto& part : command)
        arguments.push_back (const_cast<char*> (part.c_str()));

    arguments.push_back (nullptr);
    const pid_t child = ::fork();

    if (child == 0)
    {
        ::dup2 (ends[1], STDOUT_FILENO);
        ::dup2 (ends[1], STDERR_FILENO);
        ::execvp (arguments[0], arguments.data());
        std::perror (arguments[0]);
        ::_exit (127);
    }

    ::close (ends[1]);
    ::fcntl (ends[0], F_SETFL, O_NONBLOCK);
    output = ends[0];
    return child;
}

// Passes on what the program wrote so far and keeps it in seen.
void passOn (int output, std::string& seen)
{
    char buffer[4096];
    ssize_t got = 0;

    while ((got = ::read (output, buffer, sizeof (buffer))) > 0)
    {
        std::fwrite (buffer, 1, (size_t) got, stdout);
        seen.append (buffer, (size_t) got);
    }

    std::fflush (stdout);
}

// The program's exit status, or -1 once the patience ran out (it is killed then).
int waitForProgram (pid_t child, const std::function<void()>& meanwhile)
{
    const auto deadline = std::chrono::steady_clock::now() + kPatience;

    while (std::chrono::steady_clock::now() < deadline)
    {
        int status = 0;

        if (::waitpid (child, &status, WNOHANG) == child)
            return WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);

        meanwhile();
        std::this_thread::sleep_for (kPollInterval);
    }

    ::kill (child, SIGKILL);
    ::waitpid (child, nullptr, 0);
    return -1;
}

bool runShell (const std::string& command)
{
    return command.empty() || std::system (command.c_str()) == 0;
}

bool flashHoldsTheFile (const std::vector<uint8_t>& flash, const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    const std::vector<uint8_t> image ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    bool equal = image.size() == (size_t) kImageSize;

    for (const auto& region : kRegions)
    {
        const bool same = equal
                          && std::equal (image.begin() + region.fileOffset, image.begin() + region.fileOffset + region.length,
                                         flash.begin() + region.deviceAddress);
        std::printf ("flash region at 0x%06X, %d bytes: %s\n", (unsigned) region.deviceAddress, (int) region.length,
                     same ? "equal to the file" : "differs from the file");
        equal = equal && same;
    }

    return equal;
}
}

int main (int argc, char** argv)
{
    const auto options = parse (argc, argv);

    if (! options.has_value())
    {
        std::fprintf (stderr, "usage: %s [options] -- program [arguments...] (see the source for the options)\n", argv[0]);
        return kUsageStatus;
    }

    EmulatedHidBus bus;
    EmulatedHidDevice* lookAlike = nullptr;
    EmulatedHidDevice* controller = nullptr;

    EmulatedUsbIdentity identity;

    identity.serial = options->serial;

    if (options->noManufacturer)
        identity.manufacturer.clear();

    std::FILE* requestLog = options->requestLog.empty() ? nullptr : std::fopen (options->requestLog.c_str(), "we");

    if (! options->requestLog.empty() && requestLog == nullptr)
    {
        std::printf ("the request log cannot be written: %s\n", options->requestLog.c_str());
        return 1;
    }

    if (options->lookAlike)
    {
        auto other = identity;
        other.product = "TRB-Kelo7 Look-alike";
        lookAlike = &bus.plugIn (other, false);
    }

    std::atomic<bool> replyHeld { false };
    const auto plugInController = [&]
    {
        controller = &bus.plugIn (identity);
        controller->onRequest ([&] (int number, const uint8_t* request, ControllerModel&)
                               {
            const auto kind = ControllerModel::kindOf (request);

            if (kind == ControllerModel::RequestKind::poll && ! options->holdPollWhile.empty()
                && ::access (options->holdPollWhile.c_str(), F_OK) == 0)
            {
                controller->holdReplies (true);
                replyHeld = true;
            }

            if (requestLog != nullptr)
            {
                // Flushed at once: a test reads it while the program runs.
                std::fprintf (requestLog, "%d %s\n", number, ControllerModel::kindName (kind));
                std::fflush (requestLog);
            } });

        if (options->removeAtPoll > 0)
            controller->withController ([&] (ControllerModel& model)
                                        {
                                            ControllerModel::ScriptedFault removal;
                                            removal.kind = ControllerModel::RequestKind::poll;
                                            removal.occurrence = options->removeAtPoll;
                                            removal.action = ControllerModel::ScriptedFault::Action::remove;
                                            removal.delayMs = -1;
                                            model.addFault (removal); });
    };

    if (options->plugInWhen.empty() && options->plugInAfterText.empty())
        plugInController();

    if (! runShell (options->setup))
    {
        std::printf ("the set-up command failed: %s\n", options->setup.c_str());
        return 1;
    }

    int output = -1;
    std::string seen;
    const pid_t child = startProgram (options->command, output);

    if (child < 0)
    {
        std::printf ("the program could not be started\n");
        return 1;
    }

    std::printf ("program started: pid %d\n", (int) child);
    std::fflush (stdout);

    bool unplugged = false;
    bool ended = false;
    const int status = waitForProgram (child, [&]
                                       {
        passOn (output, seen);

        const bool plugInNow = ! options->plugInWhen.empty() ? ::access (options->plugInWhen.c_str(), F_OK) == 0
                                                             : seen.find (options->plugInAfterText) != std::string::npos;

        if (replyHeld && ::access (options->holdPollWhile.c_str(), F_OK) != 0)
        {
            replyHeld = false;
            controller->holdReplies (false);
        }

        if (controller == nullptr && plugInNow)
        {
            plugInController();
            std::printf ("controller plugged in\n");
            std::fflush (stdout);
        }

        if (! options->endAfterText.empty() && ! ended && seen.find (options->endAfterText) != std::string::npos)
        {
            ::kill (child, SIGKILL);
            ended = true;
        }

        if (controller != nullptr && ! unplugged && controller->removalRequestedAt() > 0)
        {
            bus.unplug (*controller);
            unplugged = true;
            std::printf ("controller unplugged at request %d\n", controller->removalRequestedAt());
            std::fflush (stdout);
        } });

    // What the program's own children (a wineserver) still hold open is not waited for.
    passOn (output, seen);
    ::close (output);
    runShell (options->teardown);
    bool passed = status == options->expectedStatus;
    std::printf ("program ended: status %d (expected %d)\n", status, options->expectedStatus);

    if (! options->expectedText.empty())
    {
        const bool found = seen.find (options->expectedText) != std::string::npos;
        std::printf ("the program's output %s \"%s\"\n", found ? "holds" : "lacks", options->expectedText.c_str());
        passed = passed && found;
    }

    if (lookAlike != nullptr)
    {
        std::printf ("look-alike device opened: %d times, requests written to it: %d\n", lookAlike->openCount(),
                     lookAlike->requestCount());
        passed = passed && lookAlike->requestCount() == 0;
    }

    if (controller == nullptr)
    {
        std::printf ("the controller was never plugged in\n");
        return 1;
    }

    controller->withController ([&] (ControllerModel& model)
                                {
        std::printf ("requests: %d, blocks written: %d, finish requests: %d\n", controller->requestCount(),
                     model.blocksWritten(), model.finishCount());

        if (! options->updateFile.empty())
            passed = flashHoldsTheFile (model.flash(), options->updateFile) && passed; });

    if (options->expectedRequests >= 0)
        passed = passed && controller->requestCount() == options->expectedRequests;

    if (options->removeAtPoll > 0)
    {
        const int after = controller->removalRequestedAt() > 0 ? controller->requestCount() - controller->removalRequestedAt() : -1;
        std::printf ("requests after the removal: %d\n", after);
        passed = passed && after == 0;
    }

    if (requestLog != nullptr)
    {
        controller->onRequest (nullptr);
        std::fclose (requestLog);
    }

    std::printf ("%s\n", passed ? "whole path: passed" : "whole path: FAILED");
    return passed ? 0 : 1;
}
