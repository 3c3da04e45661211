#include "device/HidUtil.h"

#include "log/StandardErrorWriter.h"

#include "device/HidCtrl.h"
#include "device/NoticeReceiver.h"

#include <cstdio>

HidUtil* activeHidUtil = nullptr;

namespace
{
// What the platform does with a notice after us; a Windows window would call
// DefWindowProcA here. Nothing on this platform acts on them.
intptr_t defaultNoticeProc (void*, uint32_t, uintptr_t, intptr_t) { return 0; }
}

HidUtil::~HidUtil()
{
    stop();
}

bool HidUtil::start (HidCtrl* newOwner)
{
    if (activeHidUtil != nullptr)
        return false;

    activeHidUtil = this;
    owner = newOwner;
    deviceKind = kDeviceKindTrbKelo7;

    instance = noticeModuleHandle();

    if (instance == nullptr)
    {
        stop();
        return false;
    }

    window = createNoticeReceiver (instance, hidWindowProc);

    if (window == nullptr)
    {
        stop();
        return false;
    }

    HID_Initialize (instance);
    HID_SetCallback (window, WM_HID_INPUT, WM_HID_ARRIVED, WM_HID_REMOVED);

    // The library runs on without its watch for devices (it may look for them
    // itself, later than usual): worth a word to whoever reads the log, once.
    static std::atomic<bool> startFailureTold { false };

    if (HID_Start() == 0 && ! startFailureTold.exchange (true))
        StandardErrorWriter::write ("The device library could not start watching for devices; a controller plugged in "
                                    "or removed from now on may be noticed late (HID_Start failed)");

    return true;
}

void HidUtil::stop()
{
    if (deviceNo.load() >= 0)
        deviceNo.store (-1);

    // Only our own registration is withdrawn: a util whose start was refused because
    // another one runs must not silence that one's notices.
    if (activeHidUtil == this)
        activeHidUtil = nullptr;

    owner = nullptr;

    if (instance != nullptr && window != nullptr)
    {
        HID_Stop();
        HID_SetCallback (nullptr, 0, 0, 0);
        HID_Finalize();
        destroyNoticeReceiver (window);
        instance = nullptr;
        window = nullptr;
    }
}

bool HidUtil::findDevice()
{
    if (deviceNo.load() >= 0)
        return true;

    int32_t numbers[HID_MAX_DEVICES] = {};
    const auto count = juce::jmin ((int32_t) HID_MAX_DEVICES, HID_EnumHIDno (numbers));

    for (int32_t i = 0; i < count; ++i)
    {
        if (HID_GetDeviceType (numbers[i]) == deviceTypeTable[deviceKind])
        {
            deviceNo.store (numbers[i]);
            return true;
        }
    }

    return false;
}

bool HidUtil::releaseDevice()
{
    if (deviceNo.load() < 0)
        return false;

    deviceNo.store (-1);
    return true;
}

uint32_t HidUtil::readFirmwareVersion()
{
    if (deviceNo.load() < 0)
        return 0;

    // The library is asked by type code, not by device number; the second word and the
    // count are the library's own business.
    uint32_t words[2] = { 0, 0 };
    HID_GetFirmwareVersion (deviceTypeTable[deviceKind], words, 1);
    return words[0];
}

int32_t HidUtil::readInput (uint8_t* buffer)
{
    const auto device = deviceNo.load();

    if (buffer == nullptr || device < 0)
        return 0;

    int32_t length = HID_REPORT_SIZE;
    HID_Input (device, buffer, &length);

    // The library's count is trusted only within the buffer's size.
    return juce::jlimit (0, (int32_t) HID_REPORT_SIZE, length);
}

bool HidUtil::writeReport (const uint8_t* report)
{
    const auto device = deviceNo.load();

    if (report == nullptr || device < 0)
        return false;

    return HID_Write (device, report, HID_REPORT_SIZE) != 0;
}

intptr_t hidWindowProc (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (auto* util = activeHidUtil)
    {
        const auto device = util->deviceNo.load();

        switch (message)
        {
            case WM_HID_REMOVED:
                if (device >= 0 && (intptr_t) wParam == device)
                {
                    util->releaseDevice();

                    if (util->owner != nullptr)
                        util->owner->hidDeviceRemoved();
                }
                break;

            case WM_HID_ARRIVED:
                if (device < 0 && util->findDevice() && util->owner != nullptr)
                    util->owner->hidDeviceArrived();
                break;

            case WM_HID_INPUT:
                if ((intptr_t) wParam == device && util->owner != nullptr)
                    util->owner->hidInputReceived ((int) lParam);
                break;

            default:
                break;
        }
    }

    return defaultNoticeProc (window, message, wParam, lParam);
}
