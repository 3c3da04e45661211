#include "device/simulated/SimulatedController.h"

#include "device/IdentityText.h"
#include "device/NoticeReceiver.h"
#include "device/TrbKelo7Hid.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace
{
constexpr const char* kFlashDumpVariable = "TRB_SIM_FLASH_DUMP";
constexpr const char* kRequestLogVariable = "TRB_SIM_REQUEST_LOG";
constexpr const char* kNoSerial = "-";

std::string numbered (const char* prefix, int n)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%s%04d", prefix, n);
    return text;
}

std::string environment (const char* name)
{
    const auto* value = std::getenv (name);
    return value != nullptr ? value : "";
}
}

SimulatedController& SimulatedController::instance()
{
    static SimulatedController simulator;
    return simulator;
}

SimulatedController::SimulatedController()
    : flashDumpPath (environment (kFlashDumpVariable))
    , requestLogPath (environment (kRequestLogVariable))
{
    reset (SimulatedScenario::fromEnvironment());

    std::lock_guard<std::mutex> guard (lock);
    setRecordingLocked (! requestLogPath.empty());
}

SimulatedController::~SimulatedController()
{
    std::unique_lock<std::mutex> guard (lock);
    stopDeviceThread (guard);
    writeDumpsLocked();
}

void SimulatedController::reset (const SimulatedScenario& newScenario)
{
    std::lock_guard<std::mutex> guard (lock);
    scenario = newScenario;
    latency = std::chrono::milliseconds (std::max (0, scenario.latencyMs));
    devices.clear();
    events.clear();
    received.clear();
    writes.clear();
    recording = true;
    calls.fill (0);
    nextPlugOrder = 0;
    pendingArrival = -1;
    controllersAdded = 0;
    claimCount = 0;

    for (const auto& other : scenario.otherDevices)
        addLocked (other.typeCode, other.firmwareWord, true);

    for (int i = 0; i < scenario.controllers; ++i)
        addLocked (HID_TYPE_TRBKELO7, 0, true);

    for (int i = 0; i < scenario.lookalikes; ++i)
        devices[(size_t) addLocked (HID_TYPE_TRBKELO7, 0, true, false)]->serial = numbered ("LOOKALIKE-", i + 1);

    if (scenario.arriveAfterMs >= 0)
        pendingArrival = addLocked (HID_TYPE_TRBKELO7, 0, false);

    if (auto* first = controller (-1))
    {
        for (const auto& fault : scenario.faults)
            first->model->addFault (fault);

        first->claimedByPid = scenario.claimedByPid;
        first->claimedByName = scenario.claimedByName;
    }

    idle.notify_all();
}

int32_t SimulatedController::addController (bool plugged)
{
    std::lock_guard<std::mutex> guard (lock);
    return addLocked (HID_TYPE_TRBKELO7, 0, plugged);
}

int32_t SimulatedController::addDevice (int32_t typeCode, uint32_t firmwareWord, bool plugged)
{
    std::lock_guard<std::mutex> guard (lock);
    return addLocked (typeCode, firmwareWord, plugged);
}

int32_t SimulatedController::addLocked (int32_t typeCode, uint32_t firmwareWord, bool plugged, bool answers)
{
    auto device = std::make_unique<Device>();
    device->number = (int32_t) devices.size();
    device->typeCode = typeCode;
    device->firmwareWord = firmwareWord;
    device->location = "sim-" + std::to_string (device->number + 1);

    if (typeCode == HID_TYPE_TRBKELO7 && answers)
    {
        const auto index = (size_t) controllersAdded++;
        const bool given = index < scenario.serials.size();
        device->serial = given ? scenario.serials[index] : numbered ("KELO7-SIM-", (int) index + 1);

        if (device->serial == kNoSerial)
            device->serial.clear();

        device->model = std::make_unique<ControllerModel>();
        device->model->installFirmware (scenario.version, scenario.stamp);
        device->model->setBusyCount (scenario.busyCount);
        device->model->setKeepsOldFirmware (scenario.unchangedAfterFinish);
        device->model->setKeepsLog (recording);
    }

    devices.push_back (std::move (device));

    if (plugged)
        plugInLocked (*devices.back());

    return devices.back()->number;
}

void SimulatedController::plugIn (int32_t deviceNumber)
{
    std::lock_guard<std::mutex> guard (lock);

    if (auto* device = find (deviceNumber))
        plugInLocked (*device);
}

void SimulatedController::plugInLater (int32_t deviceNumber, int delayMs)
{
    std::lock_guard<std::mutex> guard (lock);
    schedule (Clock::now() + std::chrono::milliseconds (std::max (0, delayMs)), { Event::Type::plugIn, deviceNumber, 0, {} });
}

void SimulatedController::remove (int32_t deviceNumber)
{
    std::lock_guard<std::mutex> guard (lock);

    if (auto* device = find (deviceNumber))
        removeLocked (*device);
}

void SimulatedController::sendInput (int32_t deviceNumber, const uint8_t* bytes, int32_t length)
{
    std::lock_guard<std::mutex> guard (lock);
    auto* device = find (deviceNumber);

    if (device == nullptr || bytes == nullptr || length < 1 || length > HID_REPORT_SIZE)
        return;

    schedule (Clock::now() + latency,
              { Event::Type::reply, deviceNumber, device->generation, std::vector<uint8_t> (bytes, bytes + length) });
}

void SimulatedController::plugInLocked (Device& device)
{
    if (device.present)
        return;

    device.present = true;
    device.plugOrder = nextPlugOrder++;

    if (device.model != nullptr)
        device.model->powerCycle();

    post (arrivedMessage, (uintptr_t) device.number);
}

void SimulatedController::removeLocked (Device& device)
{
    if (! device.present)
        return;

    device.present = false;
    device.claimed = false;
    ++device.generation;
    device.pendingInput.clear();

    if (device.model != nullptr)
        device.model->powerCycle();

    post (removedMessage, (uintptr_t) device.number);
}

void SimulatedController::deliverInputLocked (Device& device, std::vector<uint8_t> bytes)
{
    device.pendingInput.push_back (std::move (bytes));
    post (inputMessage, (uintptr_t) device.number);
}

void SimulatedController::post (uint32_t message, uintptr_t wParam)
{
    // Posting under the lock: HID_Stop takes it too, so nothing is posted after it.
    if (started && window != nullptr && message != 0)
        trbPostNotice (window, message, wParam, 0);
}

void SimulatedController::setIdentity (int32_t deviceNumber, const std::string& serial, const std::string& location)
{
    std::lock_guard<std::mutex> guard (lock);

    if (auto* device = find (deviceNumber))
    {
        device->serial = serial;
        device->location = location;
    }
}

void SimulatedController::setClaimedBy (int32_t deviceNumber, int32_t pid, const std::string& name)
{
    std::lock_guard<std::mutex> guard (lock);

    if (auto* device = find (deviceNumber))
    {
        device->claimedByPid = pid;
        device->claimedByName = name;
    }
}

bool SimulatedController::isClaimed (int32_t deviceNumber) const
{
    std::lock_guard<std::mutex> guard (lock);
    const auto* device = find (deviceNumber);
    return device != nullptr && device->claimed;
}

int SimulatedController::claimsTaken() const
{
    std::lock_guard<std::mutex> guard (lock);
    return claimCount;
}

TrbClaimResult SimulatedController::claim (int32_t deviceNumber, TrbClaimHolder& holder)
{
    std::lock_guard<std::mutex> guard (lock);
    auto* device = find (deviceNumber);

    if (device == nullptr || ! device->present)
        return TrbClaimResult::unavailable;

    if (device->claimedByPid != 0)
    {
        holder.pid = device->claimedByPid;
        holder.processName = device->claimedByName;
        return TrbClaimResult::heldElsewhere;
    }

    device->claimed = true;
    ++claimCount;
    return TrbClaimResult::taken;
}

void SimulatedController::releaseClaim (int32_t deviceNumber)
{
    std::lock_guard<std::mutex> guard (lock);

    if (auto* device = find (deviceNumber))
        device->claimed = false;
}

int32_t SimulatedController::identity (int32_t deviceNumber, char* serial, int32_t serialSize, char* location, int32_t locationSize)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::getDeviceIdentity);
    const auto* device = find (deviceNumber);
    const bool present = device != nullptr && device->present;
    copyIdentityText (present ? device->serial : std::string(), serial, serialSize);
    copyIdentityText (present ? device->location : std::string(), location, locationSize);
    return present ? 1 : 0;
}

int32_t SimulatedController::firstController() const
{
    std::lock_guard<std::mutex> guard (lock);
    const auto* device = controller (-1);
    return device != nullptr ? device->number : -1;
}

void SimulatedController::setLatencyMs (int latencyMs)
{
    std::lock_guard<std::mutex> guard (lock);
    scenario.latencyMs = std::max (0, latencyMs);
    latency = std::chrono::milliseconds (scenario.latencyMs);
}

void SimulatedController::setLatencyMicroseconds (int latencyMicroseconds)
{
    std::lock_guard<std::mutex> guard (lock);
    latency = std::chrono::microseconds (std::max (0, latencyMicroseconds));
    scenario.latencyMs = (int) std::chrono::duration_cast<std::chrono::milliseconds> (latency).count();
}

void SimulatedController::addFault (const Fault& fault, int32_t deviceNumber)
{
    withModel ([&fault] (ControllerModel& model)
               { model.addFault (fault); },
               deviceNumber);
}

void SimulatedController::setBusyCount (int busyCount, int32_t deviceNumber)
{
    withModel ([busyCount] (ControllerModel& model)
               { model.setBusyCount (busyCount); },
               deviceNumber);
}

bool SimulatedController::withModel (const std::function<void (ControllerModel&)>& fn, int32_t deviceNumber)
{
    std::lock_guard<std::mutex> guard (lock);
    auto* device = controller (deviceNumber);

    if (device == nullptr)
        return false;

    fn (*device->model);
    return true;
}

std::vector<uint8_t> SimulatedController::flash (int32_t deviceNumber) const
{
    std::lock_guard<std::mutex> guard (lock);
    const auto* device = controller (deviceNumber);
    return device != nullptr ? device->model->flash() : std::vector<uint8_t>();
}

std::vector<SimulatedController::ReceivedRequest> SimulatedController::receivedRequests() const
{
    std::lock_guard<std::mutex> guard (lock);
    return received;
}

std::vector<SimulatedController::WriteCall> SimulatedController::writeCalls() const
{
    std::lock_guard<std::mutex> guard (lock);
    return writes;
}

int SimulatedController::callCount (Function function) const
{
    std::lock_guard<std::mutex> guard (lock);
    return calls[(size_t) function];
}

bool SimulatedController::waitUntilIdle (int timeoutMs)
{
    std::unique_lock<std::mutex> guard (lock);
    return idle.wait_for (guard, std::chrono::milliseconds (timeoutMs), [this]
                          { return events.empty(); });
}

SimulatedController::Device* SimulatedController::find (int32_t deviceNumber)
{
    return deviceNumber >= 0 && (size_t) deviceNumber < devices.size() ? devices[(size_t) deviceNumber].get() : nullptr;
}

const SimulatedController::Device* SimulatedController::find (int32_t deviceNumber) const
{
    return const_cast<SimulatedController*> (this)->find (deviceNumber);
}

SimulatedController::Device* SimulatedController::controller (int32_t deviceNumber)
{
    if (deviceNumber >= 0)
    {
        auto* device = find (deviceNumber);
        return device != nullptr && device->model != nullptr ? device : nullptr;
    }

    for (auto& device : devices)
        if (device->model != nullptr)
            return device.get();

    return nullptr;
}

const SimulatedController::Device* SimulatedController::controller (int32_t deviceNumber) const
{
    return const_cast<SimulatedController*> (this)->controller (deviceNumber);
}

void SimulatedController::schedule (Clock::time_point due, Event event)
{
    events.emplace (std::make_pair (due, nextEventSerial++), std::move (event));
    wake.notify_all();
}

void SimulatedController::handleEventLocked (const Event& event)
{
    auto* device = find (event.deviceNumber);

    if (device == nullptr)
        return;

    switch (event.type)
    {
        case Event::Type::plugIn:
            plugInLocked (*device);
            return;

        case Event::Type::reply:
            if (device->present && device->generation == event.generation)
                deliverInputLocked (*device, event.bytes);
            return;

        case Event::Type::request:
            break;
    }

    // A device of another kind takes reports and never answers.
    if (! device->present || device->generation != event.generation || device->model == nullptr)
        return;

    auto& model = *device->model;
    const auto finishesBefore = model.finishCount();
    const auto outcome = model.handleRequest (event.bytes.data(), event.bytes.size());

    if (recording)
    {
        const auto& logged = model.requests().back();
        received.push_back ({ device->number, logged.kind, logged.bytes });
    }

    // A finish request carried out restarts the controller: it drops off the bus
    // and comes back with what it now holds (or, as scripted, stays away).
    if (model.finishCount() != finishesBefore && scenario.restartMs >= 0 && ! outcome.removeDevice)
    {
        removeLocked (*device);

        if (! scenario.goneAfterFinish)
            schedule (Clock::now() + std::chrono::milliseconds (scenario.restartMs), { Event::Type::plugIn, device->number, 0, {} });

        return;
    }

    if (outcome.removeDevice)
    {
        removeLocked (*device);

        if (outcome.replugAfterMs >= 0)
            schedule (Clock::now() + std::chrono::milliseconds (outcome.replugAfterMs), { Event::Type::plugIn, device->number, 0, {} });

        return;
    }

    if (! outcome.hasReply)
        return;

    std::vector<uint8_t> reply (outcome.reply.begin(), outcome.reply.end());
    const auto copies = outcome.duplicate ? 2 : 1;

    for (int i = 0; i < copies; ++i)
    {
        if (outcome.extraDelayMs > 0)
            schedule (Clock::now() + std::chrono::milliseconds (outcome.extraDelayMs), { Event::Type::reply, device->number, device->generation, reply });
        else
            deliverInputLocked (*device, reply);
    }
}

void SimulatedController::deviceThreadLoop()
{
    std::unique_lock<std::mutex> guard (lock);

    while (! threadShouldExit)
    {
        if (events.empty())
        {
            idle.notify_all();
            wake.wait (guard);
            continue;
        }

        const auto first = events.begin();

        // A copy: the wait lets go of the lock, and the event may be gone (a reset, a
        // stop) by the time the wait looks at its time again.
        const auto due = first->first.first;

        if (due > Clock::now())
        {
            wake.wait_until (guard, due);
            continue;
        }

        auto event = std::move (first->second);
        events.erase (first);
        handleEventLocked (event);
    }
}

void SimulatedController::stopDeviceThread (std::unique_lock<std::mutex>& guard)
{
    started = false;
    threadShouldExit = true;
    events.clear();
    wake.notify_all();
    idle.notify_all();

    if (deviceThread.joinable())
    {
        guard.unlock();
        deviceThread.join();
        guard.lock();
    }
}

void SimulatedController::writeDumps() const
{
    std::lock_guard<std::mutex> guard (lock);
    writeDumpsLocked();
}

void SimulatedController::setDumpPaths (const std::string& flashPath, const std::string& logPath)
{
    std::lock_guard<std::mutex> guard (lock);
    flashDumpPath = flashPath;
    requestLogPath = logPath;

    if (! requestLogPath.empty())
        setRecordingLocked (true);
}

void SimulatedController::setRecordingLocked (bool on)
{
    recording = on;

    for (auto& device : devices)
        if (device->model != nullptr)
            device->model->setKeepsLog (on);
}

void SimulatedController::writeDumpsLocked() const
{
    if (! flashDumpPath.empty())
    {
        if (const auto* device = controller (-1))
        {
            std::ofstream file (flashDumpPath, std::ios::binary | std::ios::trunc);
            const auto& image = device->model->flash();
            file.write (reinterpret_cast<const char*> (image.data()), (std::streamsize) image.size());
        }
    }

    if (! requestLogPath.empty())
    {
        std::ofstream file (requestLogPath, std::ios::trunc);

        for (const auto& request : received)
        {
            char hex[3] = {};
            file << request.deviceNumber << ' ' << ControllerModel::kindName (request.kind) << ' ';

            for (auto byte : request.bytes)
            {
                std::snprintf (hex, sizeof (hex), "%02x", byte);
                file << hex;
            }

            file << '\n';
        }
    }
}

int32_t SimulatedController::initialize (void*)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::initialize);
    return 1;
}

int32_t SimulatedController::setCallback (void* newWindow, uint32_t newInputMessage, uint32_t newArrivedMessage, uint32_t newRemovedMessage)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::setCallback);
    window = newWindow;
    inputMessage = newInputMessage;
    arrivedMessage = newArrivedMessage;
    removedMessage = newRemovedMessage;
    return 1;
}

int32_t SimulatedController::start()
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::start);

    if (started)
        return 1;

    started = true;
    threadShouldExit = false;
    deviceThread = std::thread ([this]
                                { deviceThreadLoop(); });

    if (auto* arriving = find (pendingArrival); arriving != nullptr && ! arriving->present)
        schedule (Clock::now() + std::chrono::milliseconds (scenario.arriveAfterMs), { Event::Type::plugIn, arriving->number, 0, {} });

    return 1;
}

int32_t SimulatedController::enumerate (int32_t* numbers)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::enumerate);

    if (numbers == nullptr)
        return 0;

    std::vector<const Device*> present;

    for (const auto& device : devices)
        if (device->present)
            present.push_back (device.get());

    std::sort (present.begin(), present.end(), [] (auto* a, auto* b)
               { return a->plugOrder < b->plugOrder; });

    const auto count = std::min (present.size(), (size_t) HID_MAX_DEVICES);

    for (size_t i = 0; i < count; ++i)
        numbers[i] = present[i]->number;

    return (int32_t) count;
}

int32_t SimulatedController::deviceType (int32_t deviceNumber)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::getDeviceType);
    const auto* device = find (deviceNumber);
    return device != nullptr && device->present ? device->typeCode : 0;
}

int32_t SimulatedController::firmwareVersion (int32_t typeCode, uint32_t* words, int32_t)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::getFirmwareVersion);

    if (words == nullptr)
        return 0;

    const Device* first = nullptr;

    for (const auto& device : devices)
        if (device->present && device->typeCode == typeCode && (first == nullptr || device->plugOrder < first->plugOrder))
            first = device.get();

    if (first == nullptr)
        return 0;

    words[0] = first->model != nullptr ? first->model->firmwareWord() : first->firmwareWord;
    return 1;
}

int32_t SimulatedController::input (int32_t deviceNumber, uint8_t* buffer, int32_t* length)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::input);

    if (length == nullptr)
        return 0;

    auto* device = find (deviceNumber);

    if (buffer == nullptr || device == nullptr || ! device->present || device->pendingInput.empty() || *length <= 0)
    {
        *length = 0;
        return 0;
    }

    const auto& report = device->pendingInput.front();
    const auto count = std::min ((size_t) *length, report.size());
    std::memcpy (buffer, report.data(), count);
    *length = (int32_t) count;
    device->pendingInput.pop_front();
    return 1;
}

int32_t SimulatedController::write (int32_t deviceNumber, const uint8_t* report, int32_t length)
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::write);

    WriteCall call;
    call.deviceNumber = deviceNumber;
    call.length = length;

    if (report != nullptr && length > 0)
        std::memcpy (call.bytes.data(), report, std::min ((size_t) length, call.bytes.size()));

    auto* device = find (deviceNumber);
    call.taken = started && device != nullptr && device->present && report != nullptr && length == HID_REPORT_SIZE;
    if (recording)
        writes.push_back (call);

    if (! call.taken)
        return 0;

    schedule (Clock::now() + latency,
              { Event::Type::request, deviceNumber, device->generation, std::vector<uint8_t> (report, report + length) });
    return 1;
}

int32_t SimulatedController::stop()
{
    std::unique_lock<std::mutex> guard (lock);
    countCall (Function::stop);
    stopDeviceThread (guard);

    // The claims go with the library, as a closed node's lock does.
    for (auto& device : devices)
        device->claimed = false;

    return 1;
}

int32_t SimulatedController::finalize()
{
    std::lock_guard<std::mutex> guard (lock);
    countCall (Function::finalize);
    writeDumpsLocked();
    return 1;
}
