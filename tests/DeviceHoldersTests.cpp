#include "device/DeviceHolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

// The scan of /proc for other processes that hold a node open, against a child
// process that holds a file while the test looks.
namespace
{
constexpr const char* kHolderName = "trb-holder";

// A child process that holds path open (opened by the child itself) until the
// object goes; it names itself kHolderName.
struct HoldingChild final
{
    explicit HoldingChild (const std::string& path)
    {
        int ready[2] = { -1, -1 };

        if (::pipe2 (ready, O_CLOEXEC) != 0)
            return;

        pid = ::fork();

        if (pid == 0)
        {
            // Only system calls here: the parent has threads.
            ::close (ready[0]);
            ::prctl (PR_SET_NAME, kHolderName, 0, 0, 0);
            const auto fd = ::open (path.c_str(), O_RDONLY | O_NONBLOCK);
            const char answer = fd >= 0 ? 'y' : 'n';
            (void) ::write (ready[1], &answer, 1);
            ::close (ready[1]);

            for (;;)
                ::pause();
        }

        ::close (ready[1]);
        char answer = 'n';

        // The pipe closes when the child ends, so this never waits for ever.
        while (pid > 0 && ::read (ready[0], &answer, 1) < 0 && errno == EINTR)
        {
        }

        ::close (ready[0]);
        holding = pid > 0 && answer == 'y';
    }

    ~HoldingChild()
    {
        if (pid > 0)
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }
    }

    pid_t pid = -1;
    bool holding = false;
};

struct TempFolder final
{
    TempFolder()
    {
        char pattern[] = "/tmp/trb-holders-XXXXXX";

        if (::mkdtemp (pattern) != nullptr)
            path = pattern;
    }

    ~TempFolder()
    {
        for (const auto& file : files)
            ::unlink (file.c_str());

        ::rmdir (path.c_str());
    }

    std::string file (const char* name)
    {
        files.push_back (path + "/" + name);
        return files.back();
    }

    std::string path;
    std::vector<std::string> files;
};

bool names (const std::vector<DeviceHolder>& holders, int pid)
{
    return std::any_of (holders.begin(), holders.end(), [pid] (const DeviceHolder& h)
                        { return h.pid == pid; });
}
} // namespace

TEST (DeviceHolders, FindsAChildThatHoldsAFileByItsNameButNeverThisProcess)
{
    TempFolder folder;
    const auto path = folder.file ("node");
    // This process holds the file too.
    const auto ownFd = ::open (path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE (ownFd, 0);

    {
        HoldingChild child (path);
        ASSERT_TRUE (child.holding);

        const auto holders = findOtherProcessesHolding (path);
        ASSERT_EQ (holders.size(), 1u);
        EXPECT_EQ (holders[0].pid, child.pid);
        EXPECT_EQ (holders[0].name, kHolderName);
    }

    EXPECT_TRUE (findOtherProcessesHolding (path).empty());
    ::close (ownFd);
}

TEST (DeviceHolders, FindsAChildThatHoldsTheSameDeviceUnderAnotherName)
{
    TempFolder folder;
    const auto otherName = folder.file ("null");

    if (::mknod (otherName.c_str(), S_IFCHR | 0600, ::makedev (1, 3)) != 0)
        GTEST_SKIP() << "this user may not make device nodes";

    const auto ownFd = ::open ("/dev/null", O_RDONLY | O_CLOEXEC);
    HoldingChild child (otherName);
    ASSERT_TRUE (child.holding);

    const auto holders = findOtherProcessesHolding ("/dev/null");
    EXPECT_TRUE (names (holders, child.pid));
    EXPECT_FALSE (names (holders, ::getpid()));
    EXPECT_TRUE (std::is_sorted (holders.begin(), holders.end(), [] (const DeviceHolder& a, const DeviceHolder& b)
                                 { return a.pid < b.pid; }));
    ::close (ownFd);
}

TEST (DeviceHolders, APathNobodyHoldsThatIsMissingOrRelativeGivesNoHolders)
{
    TempFolder folder;
    const auto held = folder.file ("simulated");
    const auto unheld = folder.file ("unheld");

    for (const auto& path : { held, unheld })
    {
        const auto fd = ::open (path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE (fd, 0);
        ::close (fd);
    }

    // The simulated controller's node is the word "simulated": a relative path must
    // not find a file of that name in the working folder.
    HoldingChild child (held);
    ASSERT_TRUE (child.holding);
    const auto saved = ::open (".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE (saved, 0);
    ASSERT_EQ (::chdir (folder.path.c_str()), 0);
    const auto relative = findOtherProcessesHolding ("simulated");
    EXPECT_EQ (::fchdir (saved), 0);
    ::close (saved);

    EXPECT_TRUE (relative.empty());
    EXPECT_TRUE (findOtherProcessesHolding (unheld).empty());
    EXPECT_TRUE (findOtherProcessesHolding (folder.path + "/missing").empty());
    EXPECT_TRUE (findOtherProcessesHolding ("").empty());
}

TEST (DeviceHolders, DescribesAProcessByItsNameAndUserAndNothingForNoProcess)
{
    const HoldingChild child ("/dev/null");
    ASSERT_TRUE (child.holding);

    const auto described = describeProcess ((int) child.pid);
    EXPECT_EQ (described.pid, (int) child.pid);
    EXPECT_EQ (described.name, kHolderName);
    EXPECT_FALSE (described.user.isEmpty());
    EXPECT_EQ (describeProcess ((int) ::getpid()).user, described.user) << "the child runs as this user";

    EXPECT_TRUE (describeProcess (0).name.isEmpty());
    EXPECT_TRUE (describeProcess (-1).user.isEmpty());
}
