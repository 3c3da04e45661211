#pragma once

#include "device/DeviceNodes.h"
#include "device/usb/HotplugMonitor.h"
#include "device/usb/UsbDeviceClaim.h"
#include "device/usb/UsbHidConnection.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/**
    The USB device library: the state behind the HID_* functions, on
    hidapi and the platform's hot-plug events (see HotplugMonitor).

    Every HID node present gets a device number when it is first seen; the
    number stays while the node stays and is never given out again in this
    process. A node that shows another USB identity (model, release or serial)
    than before (its device was replaced while a removal went unheard) counts
    as a new device: the old
    one is told removed and the new one gets a new number. Nodes whose USB
    identity matches a known controller are opened (one reader thread each);
    all others are only listed. The system's add and remove events become the
    arrival and removal notices; without them, a scan of the nodes once a
    second does. A reader's input becomes an input notice, and every notice
    goes to the window named by setCallback through trbPostNotice.

    A controller heard of while its node is not usable yet is opened on a
    thread of its own, which tries again for a while, so that other devices'
    events are not held up meanwhile.

    Thread use is that of the HID_* functions: write() on the update worker,
    everything else on the message thread; the reader, opener, monitor and
    scan threads are this class's own and are all joined by stop().
*/
class UsbHidLibrary final : private UsbHidConnection::Listener, private HotplugMonitor::Listener
{
public:
    UsbHidLibrary() = default;

    /** Stops whatever still runs. */
    ~UsbHidLibrary() override;

    /** The one instance behind the C functions. */
    static UsbHidLibrary& instance();

    /** Initialises hidapi. True when it could. */
    bool initialise();

    /** Names the notice receiver and the three notice numbers; a null window or 0 numbers
        silence the notices. Any thread. */
    void setCallback (void* window, uint32_t input, uint32_t arrived, uint32_t removed);

    /** Starts the hot-plug monitor and takes up the devices already present (one open attempt
        each). True when the monitor runs; without it present devices still work, and a
        scan once a second finds arrivals and removals instead. */
    bool start();

    /** Tests: start() acts as though the system's device events could not be had. Before start(). */
    void setHotplugRefusedForTesting (bool refused) { hotplugRefusedForTesting = refused; }

    /** Ends the monitor and every reader and closes every device; no notice is posted after it
        returns. Numbers are not reused after a restart. Safe to call any number of times. */
    void stop();

    /** stop(), then releases hidapi. */
    void finalise();

    /** Fills numbers (capacity entries) with the present HID devices, in the order they were
        first seen; returns the count, 0 when not started. */
    int32_t enumerate (int32_t* numbers, int32_t capacity);

    /** The type code of a present device: the controller's when it is one and is open,
        HID_TYPE_OTHER for any other device, -1 for no such device. */
    int32_t deviceType (int32_t number);

    /** The USB release number (bcdDevice) of the first open device of typeCode, or -1. */
    int64_t releaseNumber (int32_t typeCode);

    /** Moves the device's oldest input report into buffer; returns the bytes placed (0: none). */
    int32_t takeInput (int32_t number, uint8_t* buffer, int32_t capacity);

    /** Writes one report to an open controller. False for any other device, after its removal,
        or when the write failed. Worker thread (any thread). */
    bool write (int32_t number, const uint8_t* report, int32_t length);

    /** The node path of a present device as hidapi lists it ("/dev/hidraw3"), or empty. Any thread. */
    std::string nodePath (int32_t number);

    /** The USB serial string (UTF-8; empty for none) and port (see usbNodePort) of a present
        device; false for no such device. Any thread. */
    bool identity (int32_t number, std::string& serial, std::string& location);

    /** Claims an open controller for this process (see UsbDeviceClaim) until releaseClaim,
        its removal or stop(). Taken at once when it holds the claim already; unavailable for
        any other device. Message thread. */
    TrbClaimResult claim (int32_t number, TrbClaimHolder& holder);

    /** Gives up this process's claim on a device, if it holds one. Any thread. */
    void releaseClaim (int32_t number);

    /** The node paths of present controllers that are not open because opening their node is
        refused (see usbNodeRefusesOpening); each is tried once more to tell that from a node
        that is missing or failing. Message thread. */
    std::vector<std::string> controllersWithoutAccess();

private:
    struct Entry
    {
        int32_t number = -1;
        std::string nodeKey;
        std::string path;
        int32_t typeCode = 0;
        uint16_t releaseNumber = 0;
        std::string serial;
        std::string location;
        bool locationKnown = false;
        std::shared_ptr<UsbHidConnection> connection;
        std::unique_ptr<UsbDeviceClaim> claim; // given up with the entry
    };

    struct PresentNode
    {
        std::string nodeKey;
        std::string path;
        int32_t typeCode = 0;
        uint16_t releaseNumber = 0;
        std::string serial;
    };

    enum class Notice
    {
        input,
        arrived,
        removed
    };

    static std::vector<PresentNode> listPresentNodes();
    bool admit (const PresentNode& node, int openAttempts);
    bool openController (const std::string& path, int32_t number, int openAttempts);
    int32_t controllerAwaitingOpen (const std::string& path);
    void openInBackground (const std::string& path, int32_t number);
    void joinFinishedOpeners (bool all);
    bool sleepUnlessStopping (int milliseconds);
    void scanLoop();
    void scanOnce();
    void dropClosedConnections();
    void postNotice (Notice notice, int32_t number);
    int32_t takeNumberLocked();
    Entry* findLocked (int32_t number);
    std::shared_ptr<UsbHidConnection> controllerConnection (int32_t number);

    void inputQueued (int32_t deviceNumber) override;
    void readFailed (int32_t deviceNumber) override;
    void nodeAdded (const std::string& nodeKey) override;
    void nodeRemoved (const std::string& nodeKey) override;

    struct Opener
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    // One lock for the state the threads share; stop() wakes a sleeping opener
    // or scanner through stopWake, on the same lock.
    std::mutex lock;
    std::condition_variable stopWake;
    std::vector<Entry> entries; // guarded by lock
    std::vector<std::shared_ptr<UsbHidConnection>> closing; // guarded by lock
    std::vector<Opener> openers; // guarded by lock
    int32_t lastNumber = 0; // guarded by lock
    bool running = false; // guarded by lock
    void* window = nullptr; // guarded by lock
    uint32_t inputMessage = 0, arrivedMessage = 0, removedMessage = 0; // guarded by lock

    // Serialises start, stop and finalise, which join threads that take lock.
    std::mutex lifecycle;
    bool hidapiReady = false; // guarded by lifecycle
    bool hotplugRefusedForTesting = false;
    HotplugMonitor monitor;
    std::thread scanner;
    std::vector<std::string> lastScan; // the scan thread's, once started

    UsbHidLibrary (const UsbHidLibrary&) = delete;
    UsbHidLibrary& operator= (const UsbHidLibrary&) = delete;
};
