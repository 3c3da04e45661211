// The Windows device library's identity and claim through Wine's whole HID
// stack, against the umockdev-emulated controller that EmulatedControllerHost
// serves with a serial of its own:
//   EmulatedControllerHost --serial SERIAL --no-manufacturer
//       -- wine WineControllerClaimCheck.exe SERIAL
// It checks that HID_GetDeviceIdentity gives the controller's serial (and
// prints the port, which Wine does not know); that once this process has claimed it, another process (this program
// again, in the role "rival", under the same wineserver) is refused the claim
// and told this process's ID, sending nothing; and that after the claim is
// given back, another process takes it. The host checks that the controller
// received no request at all.
// Exit status 0 when every check held; the failed check is printed otherwise.

#include "device/DeviceNodes.h"
#include "device/NoticeReceiver.h"
#include "device/TrbKelo7Hid.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
// The longest any one step may take: Wine's driver takes a device up in well
// under a second, but the machine may be busy.
constexpr DWORD kPatienceMs = 60000;
constexpr DWORD kPumpSliceMs = 20;
constexpr int kNoDevice = -1;

// A rival's exit statuses, which the holder reads.
constexpr DWORD kRivalRefused = 10; // refused, and told the holder's process ID
constexpr DWORD kRivalTookIt = 11;
constexpr DWORD kRivalFailed = 12; // no controller, or refused without the holder

intptr_t ignoreNotices (void*, uint32_t, uintptr_t, intptr_t) { return 0; }

// The first present TRB-Kelo7, waiting for Wine's driver to list it.
int findController()
{
    const DWORD start = GetTickCount();

    while (GetTickCount() - start < kPatienceMs)
    {
        int32_t numbers[HID_MAX_DEVICES] = {};
        const int32_t count = HID_EnumHIDno (numbers);

        for (int32_t i = 0; i < count; ++i)
            if (HID_GetDeviceType (numbers[i]) == HID_TYPE_TRBKELO7)
                return numbers[i];

        MSG message;
        MsgWaitForMultipleObjects (0, nullptr, FALSE, kPumpSliceMs, QS_ALLINPUT);

        while (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW (&message);
    }

    return kNoDevice;
}

int fail (const char* what)
{
    std::printf ("identity and claim under Wine: FAILED: %s\n", what);
    return 1;
}

// Runs this program again as a rival that tries to claim the controller; its exit status.
DWORD runRival (DWORD holderPid)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA (nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string (self) + "\" rival " + std::to_string (holderPid);
    STARTUPINFOA startup {};
    startup.cb = sizeof (startup);
    PROCESS_INFORMATION process {};

    if (! CreateProcessA (nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return kRivalFailed;

    DWORD status = kRivalFailed;

    if (WaitForSingleObject (process.hProcess, kPatienceMs) == WAIT_OBJECT_0)
        GetExitCodeProcess (process.hProcess, &status);
    else
        TerminateProcess (process.hProcess, kRivalFailed);

    CloseHandle (process.hThread);
    CloseHandle (process.hProcess);
    return status;
}

int rival (DWORD holderPid)
{
    const int controller = findController();

    if (controller == kNoDevice)
        return (int) kRivalFailed;

    TrbClaimHolder holder;
    const auto result = trbClaimDevice (controller, holder);

    if (result == TrbClaimResult::taken)
        return (int) kRivalTookIt;

    const bool named = result == TrbClaimResult::heldElsewhere && holder.pid == (int32_t) holderPid;
    std::printf ("rival: refused, holder pid %d (expected %lu)\n", (int) holder.pid, (unsigned long) holderPid);
    return (int) (named ? kRivalRefused : kRivalFailed);
}

int holder (const char* serial)
{
    const int controller = findController();

    if (controller == kNoDevice)
        return fail ("the controller was never listed");

    char gotSerial[HID_IDENTITY_SIZE] = {};
    char location[HID_IDENTITY_SIZE] = {};

    if (HID_GetDeviceIdentity (controller, gotSerial, sizeof (gotSerial), location, sizeof (location)) == 0)
        return fail ("HID_GetDeviceIdentity does not know the listed controller");

    std::printf ("identity: serial \"%s\", location \"%s\", node %s\n", gotSerial, location, trbDeviceNode (controller).c_str());

    if (std::strcmp (gotSerial, serial) != 0)
        return fail ("the serial is not the controller's");

    // The location is printed, not required: Wine's HID bus puts its devices under a bus of
    // its own that gives no USB port (Wine 8 leaves the location empty), where Windows
    // gives the hub's "Port_#0002.Hub_#0001". The claim is keyed by the serial then.

    TrbClaimHolder none;

    if (trbClaimDevice (controller, none) != TrbClaimResult::taken)
        return fail ("the first claim was not taken");

    if (runRival (GetCurrentProcessId()) != kRivalRefused)
        return fail ("another process was not refused the held claim, or not told who holds it");

    trbReleaseDeviceClaim (controller);

    if (runRival (GetCurrentProcessId()) != kRivalTookIt)
        return fail ("the claim given back was not taken by another process");

    std::printf ("identity and claim under Wine: passed\n");
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    const bool isRival = argc == 3 && std::strcmp (argv[1], "rival") == 0;

    if (argc != 2 && ! isRival)
    {
        std::printf ("usage: %s SERIAL | rival HOLDER-PID\n", argv[0]);
        return 2;
    }

    void* receiver = createNoticeReceiver (noticeModuleHandle(), ignoreNotices);

    if (receiver == nullptr)
        return fail ("no notice receiver");

    HID_Initialize (noticeModuleHandle());
    HID_SetCallback (receiver, WM_HID_INPUT, WM_HID_ARRIVED, WM_HID_REMOVED);
    HID_Start();
    const int status = isRival ? rival ((DWORD) std::strtoul (argv[2], nullptr, 10)) : holder (argv[1]);
    std::fflush (stdout);

    HID_Stop();
    HID_SetCallback (nullptr, 0, 0, 0);
    HID_Finalize();
    destroyNoticeReceiver (receiver);
    return status;
}
