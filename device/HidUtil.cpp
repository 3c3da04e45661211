#include "device/HidUtil.h"

#include "device/DeviceHolders.h"
#include "device/DeviceNodes.h"
#include "device/HidCtrl.h"
#include "device/NoticeReceiver.h"
#include "platform/StandardErrorWriter.h"
#include "text/ExternalText.h"

#include <algorithm>
#include <array>
#include <cstdio>

HidUtil* activeHidUtil = nullptr;

namespace
{
// What the platform does with a notice after us; a Windows window would call
// DefWindowProcA here. Nothing on this platform acts on them.
intptr_t defaultNoticeProc (void*, uint32_t, uintptr_t, intptr_t) { return 0; }

DeviceIdentity identityOf (int32_t number)
{
    std::array<char, HID_IDENTITY_SIZE> serial {}, location {};
    DeviceIdentity identity;

    if (HID_GetDeviceIdentity (number, serial.data(), (int32_t) serial.size(), location.data(), (int32_t) location.size()) != 0)
    {
        // A library that fills a buffer to its last byte still leaves a string here.
        serial.back() = '\0';
        location.back() = '\0';
        identity.serial = ExternalText::fromBytes (serial.data());
        identity.location = ExternalText::fromBytes (location.data());
    }

    identity.node = ExternalText::fromBytes (trbDeviceNode (number));
    return identity;
}

bool listed (const std::vector<ConnectedController>& controllers, int32_t number)
{
    return std::any_of (controllers.begin(), controllers.end(), [number] (const ConnectedController& c)
                        { return c.deviceNumber == number; });
}
} // namespace

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
    releaseDevice();

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

std::vector<ConnectedController> HidUtil::listControllers()
{
    std::vector<ConnectedController> present;
    int32_t numbers[HID_MAX_DEVICES] = {};
    const auto count = juce::jlimit ((int32_t) 0, (int32_t) HID_MAX_DEVICES, HID_EnumHIDno (numbers));

    for (int32_t i = 0; i < count; ++i)
        if (HID_GetDeviceType (numbers[i]) == deviceTypeTable[kDeviceKindTrbKelo7])
            present.push_back ({ numbers[i], identityOf (numbers[i]) });

    return present;
}

bool HidUtil::isFollowed (const ConnectedController& candidate) const
{
    const auto& other = candidate.identity;

    if (followed.serial.isNotEmpty() && ! serialShared)
        return other.serial == followed.serial;

    // Without a serial of its own, or with one another controller shows too, only the
    // port tells the followed controller apart.
    if (followed.location.isNotEmpty())
        return other.serial == followed.serial && other.location == followed.location;

    // A library that tells neither: the node is all there is.
    return other.serial.isEmpty() && other.location.isEmpty() && other.node == followed.node;
}

bool HidUtil::tryToHold (const ConnectedController& candidate)
{
    following = true;
    followed = candidate.identity;

    TrbClaimHolder found;
    const auto claim = trbClaimDevice (candidate.deviceNumber, found);

    if (claim == TrbClaimResult::heldElsewhere)
    {
        refused = true;
        holder = {};
        holder.controller = candidate.identity;
        holder.pid = found.pid;
        holder.processName = ExternalText::fromBytes (found.processName);
        holder.user = ExternalText::fromBytes (found.user);

        // What the library could not say, the system's process table may.
        auto pid = found.pid;

        if (pid <= 0)
        {
            const auto holders = findOtherProcessesHolding (trbDeviceNode (candidate.deviceNumber));

            if (! holders.empty())
                pid = holders.front().pid;
        }

        const auto described = describeProcess (pid);

        if (holder.pid <= 0)
            holder.pid = described.pid;

        if (holder.processName.isEmpty())
            holder.processName = described.name;

        if (holder.user.isEmpty())
            holder.user = described.user;

        return false;
    }

    refused = false;
    holder = {};
    unclaimed = claim == TrbClaimResult::unavailable;
    deviceNo.store (candidate.deviceNumber);
    return true;
}

void HidUtil::noteSharedSerial (const std::vector<ConnectedController>& present)
{
    const auto held = deviceNo.load();

    if (held < 0 || followed.serial.isEmpty())
        return;

    for (const auto& controller : present)
        if (controller.deviceNumber != held && controller.identity.serial == followed.serial)
            serialShared = true;
}

void HidUtil::tellOthers (const std::vector<ConnectedController>& present)
{
    for (const auto& controller : present)
    {
        const bool isTheFollowedOne = controller.deviceNumber == deviceNo.load() || (following && isFollowed (controller));

        if (! isTheFollowedOne && ! listed (lastSeen, controller.deviceNumber) && owner != nullptr)
            owner->otherControllerChanged (true, controller.identity);
    }

    lastSeen = present;
}

bool HidUtil::holdFirstFollowed (const std::vector<ConnectedController>& present)
{
    // Before the user has chosen, only a controller that is alone on the bus is taken up:
    // with several, taking "the first" would ask or write one the user did not mean.
    if (! following && (choosing || present.size() > 1))
    {
        choosing = choosing || present.size() > 1;
        return false;
    }

    // The first candidate decides: a followed controller whose claim is refused is not
    // replaced by the next one in the list.
    for (const auto& controller : present)
        if (! following || isFollowed (controller))
            return tryToHold (controller);

    return false;
}

bool HidUtil::findDevice()
{
    if (deviceNo.load() >= 0)
        return true;

    const auto present = listControllers();
    const bool held = holdFirstFollowed (present);
    noteSharedSerial (present);
    lastSeen = present;
    return held;
}

bool HidUtil::noteArrival()
{
    const auto present = listControllers();
    const bool takenUp = deviceNo.load() < 0 && holdFirstFollowed (present);
    noteSharedSerial (present);
    tellOthers (present);
    return takenUp;
}

bool HidUtil::noteRemoval (int32_t deviceNumber)
{
    const auto seen = std::find_if (lastSeen.begin(), lastSeen.end(), [deviceNumber] (const ConnectedController& c)
                                    { return c.deviceNumber == deviceNumber; });
    ConnectedController gone;

    if (seen != lastSeen.end())
    {
        gone = *seen;
        lastSeen.erase (seen);
    }

    if (deviceNo.load() >= 0 && deviceNumber == deviceNo.load())
    {
        releaseDevice();
        return true;
    }

    if (gone.deviceNumber >= 0 && ! (following && isFollowed (gone)) && owner != nullptr)
        owner->otherControllerChanged (false, gone.identity);

    return false;
}

bool HidUtil::chooseSerial (const juce::String& serial)
{
    if (serial.isEmpty())
        return false;

    DeviceIdentity which;
    which.serial = serial;
    return chooseIdentity (which);
}

bool HidUtil::chooseIdentity (const DeviceIdentity& which)
{
    if (which.serial.isEmpty() && which.location.isEmpty())
        return false;

    if (deviceNo.load() >= 0 && following && followed.serial == which.serial
        && (which.location.isEmpty() || followed.location == which.location))
        return true;

    releaseDevice();
    following = true;
    choosing = false;
    followed = {};
    followed.serial = which.serial;
    followed.location = which.location;
    refused = false;
    holder = {};

    if (window == nullptr)
    {
        serialShared = which.serial.isEmpty();
        return false;
    }

    // A serial that two present controllers show says not which one: the port chosen with it does.
    const auto present = listControllers();
    serialShared = which.serial.isEmpty()
                   || (which.location.isNotEmpty()
                       && std::count_if (present.begin(), present.end(), [&which] (const ConnectedController& c)
                                         { return c.identity.serial == which.serial; })
                              > 1);
    return findDevice();
}

bool HidUtil::releaseDevice()
{
    const auto held = deviceNo.load();

    if (held < 0)
        return false;

    deviceNo.store (-1);
    trbReleaseDeviceClaim (held);
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
        switch (message)
        {
            case WM_HID_REMOVED:
                if (util->noteRemoval ((int32_t) wParam) && util->owner != nullptr)
                    util->owner->hidDeviceRemoved();
                break;

            case WM_HID_ARRIVED:
                if (util->noteArrival() && util->owner != nullptr)
                    util->owner->hidDeviceArrived();
                break;

            case WM_HID_INPUT:
                if ((intptr_t) wParam == util->deviceNo.load() && util->deviceNo.load() >= 0 && util->owner != nullptr)
                    util->owner->hidInputReceived ((int) lParam);
                break;

            default:
                break;
        }
    }

    return defaultNoticeProc (window, message, wParam, lParam);
}
