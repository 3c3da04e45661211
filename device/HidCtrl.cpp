#include "device/HidCtrl.h"

#include "device/HidUtil.h"

#include <cstring>

HidCtrl::~HidCtrl()
{
    close();
}

LinkOpenResult HidCtrl::open (HidHandler* newListener)
{
    using State = LinkOpenResult::State;

    listener = newListener;
    util = new HidUtil();
    connected.store (0);
    std::memset (inputReport, 0, sizeof (inputReport));

    if (! util->start (this))
    {
        listener = nullptr;
        util->stop();
        delete util;
        util = nullptr;
        connected.store (0);
        return { State::failed };
    }

    const bool found = pendingChoice.isNotEmpty() ? util->chooseSerial (pendingChoice) : util->findDevice();
    connected.store (found ? 1 : 0);

    if (found)
        firmwareVersion = util->readFirmwareVersion();

    return { state() };
}

LinkOpenResult HidCtrl::chooseController (const DeviceIdentity& which)
{
    if (util == nullptr)
        return { LinkOpenResult::State::failed };

    const bool held = util->chooseIdentity (which);
    connected.store (held ? 1 : 0);
    firmwareVersion = held ? util->readFirmwareVersion() : 0;
    std::memset (inputReport, 0, sizeof (inputReport));
    inputLength = 0;
    return { state() };
}

LinkOpenResult::State HidCtrl::state() const noexcept
{
    using State = LinkOpenResult::State;

    if (util == nullptr)
        return State::failed;

    if (util->deviceNo.load() >= 0)
        return State::connected;

    if (util->claimRefused())
        return State::claimedElsewhere;

    return util->choiceNeeded() ? State::choiceNeeded : State::waiting;
}

bool HidCtrl::isChoiceNeeded() const noexcept
{
    return util != nullptr && util->deviceNo.load() < 0 && util->choiceNeeded();
}

bool HidCtrl::chooseController (const juce::String& serial)
{
    if (util == nullptr)
    {
        pendingChoice = serial;
        return false;
    }

    const bool held = util->chooseSerial (serial);
    connected.store (held ? 1 : 0);
    firmwareVersion = held ? util->readFirmwareVersion() : 0;
    std::memset (inputReport, 0, sizeof (inputReport));
    inputLength = 0;
    return held;
}

DeviceIdentity HidCtrl::identity() const
{
    return util != nullptr ? util->followedIdentity() : DeviceIdentity();
}

std::vector<ConnectedController> HidCtrl::connectedControllers() const
{
    return util != nullptr ? util->listControllers() : std::vector<ConnectedController>();
}

bool HidCtrl::isClaimedElsewhere() const noexcept
{
    return util != nullptr && util->deviceNo.load() < 0 && util->claimRefused();
}

bool HidCtrl::isHeldUnclaimed() const noexcept
{
    return util != nullptr && util->deviceNo.load() >= 0 && util->heldUnclaimed();
}

ClaimHolder HidCtrl::claimRefusal() const
{
    return util != nullptr && util->claimRefused() ? util->claimHolder() : ClaimHolder();
}

void HidCtrl::otherControllerChanged (bool arrived, const DeviceIdentity& other)
{
    if (otherControllerObserver != nullptr)
        otherControllerObserver (arrived, other);
}

void HidCtrl::close()
{
    listener = nullptr;

    if (util != nullptr)
    {
        util->stop();
        delete util;
        util = nullptr;
    }
}

bool HidCtrl::write (const uint8_t* report)
{
    // close keeps the connection flag, so the util is checked too: a write after close
    // must fail rather than reach a deleted util.
    if (connected.load() == 0 || util == nullptr)
        return false;

    return util->writeReport (report);
}

int HidCtrl::takeInput (uint8_t* destination) noexcept
{
    const auto length = juce::jlimit (0, (int) HID_REPORT_SIZE, (int) inputLength);

    if (length == 0)
        return 0;

    std::memcpy (destination, inputReport, (size_t) length);
    std::memset (inputReport, 0, sizeof (inputReport));
    return length;
}

int32_t HidCtrl::deviceNumber() const noexcept
{
    return util != nullptr ? util->deviceNo.load() : -1;
}

void HidCtrl::hidDeviceRemoved()
{
    connected.store (0);
    firmwareVersion = 0;
    std::memset (inputReport, 0, sizeof (inputReport));
    inputLength = 0;

    if (connectionObserver != nullptr)
        connectionObserver (false);

    if (listener != nullptr)
        listener->hidDeviceRemoved();
}

void HidCtrl::hidDeviceArrived()
{
    if (util == nullptr)
        return;

    connected.store (1);
    firmwareVersion = util->readFirmwareVersion();
    inputLength = util->readInput (inputReport);

    if (connectionObserver != nullptr)
        connectionObserver (true);

    if (listener != nullptr)
        listener->hidDeviceArrived();
}

void HidCtrl::hidInputReceived (int)
{
    if (util == nullptr || util->deviceNo.load() < 0)
        return;

    uint8_t buffer[HID_REPORT_SIZE] = {};
    const auto length = util->readInput (buffer);

    if (length <= 0)
        return;

    std::memcpy (inputReport, buffer, (size_t) length);
    inputLength = length;

    if (listener != nullptr)
        listener->hidInputReceived (0);
}
