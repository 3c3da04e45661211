#pragma once

#include "device/DeviceNodes.h"
#include "device/simulated/ControllerModel.h"
#include "device/simulated/SimulatedScenario.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/*
    The simulated device library: a bus of HID devices, one or more of them
    simulated TRB-Kelo7 controllers (ControllerModel), behind the eleven HID_*
    functions (SimulatedDeviceLibrary.cpp forwards every call here).

    It behaves like hardware, not like a stub:
    - HID_Write only queues the report; the device thread takes it latencyMs
      later, lets the controller model answer, and posts the reply as an input
      notice (WM_HID_INPUT) that HID_Input then reads. No reply is ever produced
      inside HID_Write.
    - Devices have numbers (0, 1, 2, ... in the order they were added), a type
      code, and an order: HID_EnumHIDno lists the present devices in the order
      they were plugged in. Plugging in and removing post WM_HID_ARRIVED and
      WM_HID_REMOVED while the library is started.
    - HID_GetFirmwareVersion answers by type code: the first present device of
      that type gives words[0] (a controller: its version digits as BCD, "1.00"
      -> 0x100; another device: the word it was added with); words[1] is left
      alone. Nothing present of that type: words[0] is left alone, result 0.
    - HID_Input places the oldest pending report of that device (at most *length
      bytes) and sets *length to the count, 0 when none is pending.
    - Every device has a port (sim-<number + 1>) and every controller its own
      USB serial (KELO7-SIM-0001, ... in the order they were added) unless the
      scenario gives others; a look-alike has the controller's type code but no
      model and never answers. Claims (DeviceNodes.h) are this process's alone,
      unless the scenario or setClaimedBy says another process holds one.
    - A controller that carried out a finish request restarts, as the real one
      does: it drops off the bus (a removal notice) and is plugged in again
      after the scenario's restartMs with what it now holds; the scenario may
      keep it away or bring it back with its old firmware.
    - Notices are posted only between HID_Start and HID_Stop; HID_Stop waits for
      the device thread, so nothing is posted after it returns. A removal drops
      the device's pending input reports and the replies still on their way.

    Test use (in-process; every method is thread-safe):

        auto& sim = SimulatedController::instance();
        SimulatedScenario scenario;            // healthy, "1.00", latency 0
        scenario.busyCount = 2;
        sim.reset (scenario);                  // before the link is opened
        sim.addFault (ControllerModel::ScriptedFault { Kind::dataPiece, 100,
                                                       Action::remove, 0, 0, 50 });
        ... run the updater ...
        sim.waitUntilIdle (1000);
        auto received = sim.receivedRequests(); // what the controllers took, in order
        auto flash = sim.flash();               // the first controller's flash

    Other processes (the demo, GUI tests) are set up through environment
    variables, read when the simulator is first used:
    - TRB_SIM_SCENARIO: path of a scenario file (see SimulatedScenario.h).
      Without it: a healthy controller with firmware "1.00" of 2024-01-01, never
      busy, answering after 1 ms.
    - TRB_SIM_FLASH_DUMP: path; the first controller's flash (2 MiB) is written
      there at HID_Finalize and again when the process ends.
    - TRB_SIM_REQUEST_LOG: path; the received requests are written there at the
      same moments, one line each: "<device> <kind> <64 bytes as hex>".
    Set up that way, the simulator records the requests and the HID_Write calls
    only when TRB_SIM_REQUEST_LOG names a file: a whole update is some 25,000
    requests, and their record would grow the demo by megabytes while it writes,
    for nobody to read. reset() and setDumpPaths() with a log path record them again.
*/
class SimulatedController final
{
public:
    using Report = ControllerModel::Report;
    using Fault = ControllerModel::ScriptedFault;

    /** One request a controller received, in arrival order across all devices. */
    struct ReceivedRequest
    {
        int32_t deviceNumber = -1;
        ControllerModel::RequestKind kind = ControllerModel::RequestKind::unknown;
        Report bytes {};
    };

    /** One HID_Write call as the host made it, taken or not. */
    struct WriteCall
    {
        int32_t deviceNumber = -1;
        int32_t length = 0;
        bool taken = false;
        Report bytes {};
    };

    /** The library functions, for counting calls. */
    enum class Function
    {
        initialize,
        setCallback,
        start,
        enumerate,
        getDeviceType,
        getFirmwareVersion,
        input,
        write,
        stop,
        finalize,
        getDeviceIdentity
    };

    /** The one simulator of the process (set up from TRB_SIM_SCENARIO on first use). */
    static SimulatedController& instance();

    ~SimulatedController();

    /** Replaces the bus with the scenario's devices (present, without notices), forgets
        faults, counts and logs, and records from now on. Call it while the library is stopped. */
    void reset (const SimulatedScenario& scenario);

    /** Adds a TRB-Kelo7 with the scenario's firmware; plugged in at once (posting an arrival
        while started) unless plugged is false. Returns its device number. */
    int32_t addController (bool plugged = true);

    /** Adds a HID device of another kind with a firmware word. Returns its device number. */
    int32_t addDevice (int32_t typeCode, uint32_t firmwareWord = 0, bool plugged = true);

    /** Plugs a device in (again): it goes to the end of the enumeration order, its controller
        starts a fresh session, an arrival notice is posted while started. */
    void plugIn (int32_t deviceNumber);

    /** Plugs a device in after delayMs, from the device thread. */
    void plugInLater (int32_t deviceNumber, int delayMs);

    /** Takes a device off the bus: HID_Write to it fails from now on, its pending input and
        replies are dropped, a removal notice is posted while started. */
    void remove (int32_t deviceNumber);

    /** Makes a device send an input report nobody asked for (length 1..64 bytes), from the
        device thread after the usual latency. */
    void sendInput (int32_t deviceNumber, const uint8_t* bytes, int32_t length);

    /** Gives a device its USB serial and port, as HID_GetDeviceIdentity tells them. */
    void setIdentity (int32_t deviceNumber, const std::string& serial, const std::string& location);

    /** Another process (pid, name) holds the device's claim from now on; pid 0 lets it go. */
    void setClaimedBy (int32_t deviceNumber, int32_t pid, const std::string& name = {});

    /** True while this process holds the device's claim (trbClaimDevice). */
    bool isClaimed (int32_t deviceNumber) const;

    /** How often a claim was taken since reset (a claim taken again counts once more). */
    int claimsTaken() const;

    /** The claim functions of DeviceNodes.h, served here. */
    TrbClaimResult claim (int32_t deviceNumber, TrbClaimHolder& holder);
    void releaseClaim (int32_t deviceNumber);

    /** The number of the first controller added, -1 when there is none. */
    int32_t firstController() const;

    /** Answer latency of the device thread, in milliseconds. */
    void setLatencyMs (int latencyMs);

    /** The same in microseconds, for measuring the host's own cost per exchange at
        latencies below a USB frame. */
    void setLatencyMicroseconds (int latencyMicroseconds);

    /** Adds a scripted fault / sets the busy count of a controller (default: the first). */
    void addFault (const Fault& fault, int32_t deviceNumber = -1);
    void setBusyCount (int busyCount, int32_t deviceNumber = -1);

    /** Runs fn on a controller's model under the simulator's lock (default: the first);
        for reading or changing anything the other methods do not cover. False when there
        is no such controller. Do not call the simulator from inside fn. */
    bool withModel (const std::function<void (ControllerModel&)>& fn, int32_t deviceNumber = -1);

    /** A copy of a controller's flash (default: the first); empty when there is none. */
    std::vector<uint8_t> flash (int32_t deviceNumber = -1) const;

    /** Every request the controllers received since reset, in order. */
    std::vector<ReceivedRequest> receivedRequests() const;

    /** Every HID_Write call since reset, in order. */
    std::vector<WriteCall> writeCalls() const;

    /** How often a library function was called since reset. */
    int callCount (Function function) const;

    /** Waits until no request, reply or timed event is pending on the device thread (ignoring
        events more than timeoutMs away). True when idle within timeoutMs. */
    bool waitUntilIdle (int timeoutMs);

    /** Writes the flash dump and the request log named by the environment (or by
        setDumpPaths), if any. */
    void writeDumps() const;

    /** Overrides TRB_SIM_FLASH_DUMP and TRB_SIM_REQUEST_LOG; an empty path writes nothing.
        A request log path turns the record of requests on. */
    void setDumpPaths (const std::string& flashPath, const std::string& requestLogPath);

    // The library functions; see device/TrbKelo7Hid.h.
    int32_t initialize (void* instance);
    int32_t setCallback (void* window, uint32_t inputMessage, uint32_t arrivedMessage, uint32_t removedMessage);
    int32_t start();
    int32_t enumerate (int32_t* numbers);
    int32_t deviceType (int32_t deviceNumber);
    int32_t firmwareVersion (int32_t typeCode, uint32_t* words, int32_t count);
    int32_t input (int32_t deviceNumber, uint8_t* buffer, int32_t* length);
    int32_t write (int32_t deviceNumber, const uint8_t* report, int32_t length);
    int32_t stop();
    int32_t finalize();
    int32_t identity (int32_t deviceNumber, char* serial, int32_t serialSize, char* location, int32_t locationSize);

private:
    using Clock = std::chrono::steady_clock;

    struct Device
    {
        int32_t number = -1;
        int32_t typeCode = 0;
        uint32_t firmwareWord = 0;
        bool present = false;
        uint64_t plugOrder = 0; // enumeration order: when it was last plugged in
        uint64_t generation = 0; // changes at every removal, so late replies are dropped
        std::unique_ptr<ControllerModel> model;
        std::deque<std::vector<uint8_t>> pendingInput;
        std::string serial;
        std::string location;
        bool claimed = false; // by this process; given up at its removal
        int32_t claimedByPid = 0; // another process's claim
        std::string claimedByName;
    };

    struct Event
    {
        enum class Type
        {
            request,
            reply,
            plugIn
        };

        Type type = Type::request;
        int32_t deviceNumber = -1;
        uint64_t generation = 0;
        std::vector<uint8_t> bytes;
    };

    SimulatedController();

    Device* find (int32_t deviceNumber);
    const Device* find (int32_t deviceNumber) const;
    Device* controller (int32_t deviceNumber);
    const Device* controller (int32_t deviceNumber) const;
    int32_t addLocked (int32_t typeCode, uint32_t firmwareWord, bool plugged, bool answers = true);
    void plugInLocked (Device& device);
    void removeLocked (Device& device);
    void deliverInputLocked (Device& device, std::vector<uint8_t> bytes);
    void schedule (Clock::time_point due, Event event);
    void handleEventLocked (const Event& event);
    void post (uint32_t message, uintptr_t wParam);
    void countCall (Function function) { ++calls[(size_t) function]; }
    void deviceThreadLoop();
    void stopDeviceThread (std::unique_lock<std::mutex>& guard);
    void writeDumpsLocked() const;
    void setRecordingLocked (bool on);

    mutable std::mutex lock;
    std::condition_variable wake;
    std::condition_variable idle;

    SimulatedScenario scenario;
    std::chrono::microseconds latency { 0 }; // the scenario's latencyMs, or finer
    std::vector<std::unique_ptr<Device>> devices;
    uint64_t nextPlugOrder = 0;
    std::multimap<std::pair<Clock::time_point, uint64_t>, Event> events;
    uint64_t nextEventSerial = 0;
    int32_t pendingArrival = -1; // the scenario's controller that arrives after HID_Start

    void* window = nullptr;
    uint32_t inputMessage = 0;
    uint32_t arrivedMessage = 0;
    uint32_t removedMessage = 0;
    bool started = false;
    bool threadShouldExit = false;
    std::thread deviceThread;

    bool recording = true; // whether received, writes and the models' logs grow
    std::vector<ReceivedRequest> received;
    std::vector<WriteCall> writes;
    std::array<int, 11> calls {};
    int controllersAdded = 0;
    int claimCount = 0;

    std::string flashDumpPath;
    std::string requestLogPath;
};
