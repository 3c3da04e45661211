// The Windows device library through Wine's whole HID stack, against the
// umockdev-emulated controller that EmulatedControllerHost serves: the ten
// HID_* functions and the notices as the device link meets them, in the cases
// the updater's own run cannot provoke on its own.
//
// Started by the host (inside its testbed, with a wineserver started there too)
// with a look-alike device present and the controller not yet plugged in:
//   EmulatedControllerHost --look-alike --no-manufacturer --plug-in-when MARKER
//       --remove-at-poll 3 -- wine WineDeviceLibraryCheck.exe MARKER
// It checks that the look-alike is listed but never written to, that the
// controller plugged in after the start is told as an arrival and answers,
// and that its removal mid-way (the host unplugs it at its third poll) is told
// for its number, after which nothing more is written to it. The host checks
// the other side: nothing reached the look-alike, nothing reached the
// controller after its removal.
// Exit status 0 when every check held; the failed check is printed otherwise.

#include "device/DeviceNodes.h"
#include "device/NoticeReceiver.h"
#include "device/TrbKelo7Hid.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>

namespace
{
// The longest any one step may take: Wine's driver takes a new device up in
// well under a second, but the machine may be busy.
constexpr DWORD kPatienceMs = 60000;
constexpr DWORD kPumpSliceMs = 20;
constexpr int kNoDevice = -1;
constexpr const char* kEmulatedIds = "VID_1209&PID_01A0";

constexpr uint8_t kStatusQuery[] = { 0xF0, 0x00 };
constexpr uint8_t kMainRegionPoll[] = { 0xF1, 0x05 };
constexpr uint8_t kAccepted = 0x80;

struct Heard
{
    int arrivals = 0;
    int removedNumber = kNoDevice;
    int inputs = 0;
    uint8_t lastInput[HID_REPORT_SIZE] = {};
    int32_t lastInputLength = 0;
};

Heard heard;

intptr_t noticeProcedure (void*, uint32_t message, uintptr_t wParam, intptr_t)
{
    if (message == WM_HID_ARRIVED)
        ++heard.arrivals;
    else if (message == WM_HID_REMOVED)
        heard.removedNumber = (int) wParam;
    else if (message == WM_HID_INPUT)
    {
        heard.lastInputLength = HID_REPORT_SIZE;
        HID_Input ((int32_t) wParam, heard.lastInput, &heard.lastInputLength);
        ++heard.inputs;
    }

    return 0;
}

// Runs the thread's message loop until condition holds or the patience runs out.
bool pumpUntil (const std::function<bool()>& condition)
{
    const DWORD start = GetTickCount();

    while (! condition())
    {
        if (GetTickCount() - start > kPatienceMs)
            return false;

        MsgWaitForMultipleObjects (0, nullptr, FALSE, kPumpSliceMs, QS_ALLINPUT);
        MSG message;

        while (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW (&message);
    }

    return true;
}

bool isEmulated (int32_t number)
{
    auto node = trbDeviceNode (number);
    std::transform (node.begin(), node.end(), node.begin(), [] (unsigned char c)
                    { return (char) std::toupper (c); });
    return node.find (kEmulatedIds) != std::string::npos;
}

// The number of the first present device that the emulation made and that has typeCode.
int findEmulated (int32_t typeCode)
{
    int32_t numbers[HID_MAX_DEVICES] = {};
    const int32_t count = HID_EnumHIDno (numbers);

    for (int32_t i = 0; i < count; ++i)
        if (isEmulated (numbers[i]) && HID_GetDeviceType (numbers[i]) == typeCode)
            return numbers[i];

    return kNoDevice;
}

bool writeReport (int32_t number, const uint8_t* bytes, size_t length)
{
    uint8_t report[HID_REPORT_SIZE] = {};
    std::copy (bytes, bytes + length, report);
    return HID_Write (number, report, HID_REPORT_SIZE) != 0;
}

int fail (const char* what)
{
    std::printf ("device library under Wine: FAILED: %s\n", what);
    return 1;
}

int runChecks (const char* marker)
{
    if (HID_Start() == 0)
        return fail ("HID_Start did not start watching for devices");

    int lookAlike = kNoDevice;

    if (! pumpUntil ([&]
                     { return (lookAlike = findEmulated (0)) != kNoDevice; }))
        return fail ("the look-alike device was never listed");

    if (writeReport (lookAlike, kStatusQuery, sizeof (kStatusQuery)))
        return fail ("a report was written to the look-alike device");

    // The host plugs the controller in once the marker exists.
    const HANDLE created = CreateFileA (marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);

    if (created == INVALID_HANDLE_VALUE)
        return fail ("the marker file could not be made");

    CloseHandle (created);
    int controller = kNoDevice;

    if (! pumpUntil ([&]
                     { return heard.arrivals > 0 && (controller = findEmulated (HID_TYPE_TRBKELO7)) != kNoDevice; }))
        return fail ("the controller plugged in after the start was not told as an arrival and found");

    if (! writeReport (controller, kStatusQuery, sizeof (kStatusQuery)))
        return fail ("the status query could not be written");

    if (! pumpUntil ([&]
                     { return heard.inputs > 0; }))
        return fail ("no reply to the status query");

    if (heard.lastInputLength != HID_REPORT_SIZE || heard.lastInput[0] != kStatusQuery[0] || heard.lastInput[1] != kAccepted)
        return fail ("the reply to the status query is not the controller's");

    // Polls, each waiting for its reply, until the controller drops off the bus
    // (the host unplugs it at its third poll, which it leaves unanswered).
    while (heard.removedNumber == kNoDevice)
    {
        const int before = heard.inputs;

        if (! writeReport (controller, kMainRegionPoll, sizeof (kMainRegionPoll)))
            break;

        if (! pumpUntil ([&]
                         { return heard.inputs > before || heard.removedNumber != kNoDevice; }))
            return fail ("a poll was neither answered nor followed by the removal");
    }

    if (! pumpUntil ([&]
                     { return heard.removedNumber != kNoDevice; }))
        return fail ("the removal was not told");

    if (heard.removedNumber != controller)
        return fail ("the removal was told for another device number");

    if (writeReport (controller, kStatusQuery, sizeof (kStatusQuery)))
        return fail ("a report was taken for the removed controller");

    std::printf ("device library under Wine: passed (arrivals %d, replies %d)\n", heard.arrivals, heard.inputs);
    return 0;
}
}

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::printf ("usage: %s MARKER-FILE\n", argv[0]);
        return 2;
    }

    void* receiver = createNoticeReceiver (noticeModuleHandle(), noticeProcedure);

    if (receiver == nullptr)
        return fail ("no notice receiver");

    HID_Initialize (noticeModuleHandle());
    HID_SetCallback (receiver, WM_HID_INPUT, WM_HID_ARRIVED, WM_HID_REMOVED);
    const int status = runChecks (argv[1]);
    std::fflush (stdout);

    HID_Stop();
    HID_SetCallback (nullptr, 0, 0, 0);
    HID_Finalize();
    destroyNoticeReceiver (receiver);
    return status;
}
