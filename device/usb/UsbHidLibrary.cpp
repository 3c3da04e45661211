#include "device/usb/UsbHidLibrary.h"

#include "device/NoticeReceiver.h"
#include "device/usb/UsbHidIdentity.h"
#include "device/usb/UsbNodeAccess.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace
{
// Right after a hot-plug the system may still be setting the node up (udev its
// permissions, Windows its driver stack): an open that fails then is tried
// again for up to two seconds.
constexpr int kHotplugOpenAttempts = 20;
constexpr int kHotplugOpenRetryMs = 100;

// Without the system's device events, how often the nodes are scanned for arrivals and removals.
constexpr int kScanIntervalMs = 1000;

// hidapi's strings are wide: UTF-32 on Linux, UTF-16 on Windows. Both become UTF-8 here;
// a lone surrogate becomes U+FFFD.
std::string utf8Of (const wchar_t* text)
{
    std::string bytes;

    if (text == nullptr)
        return bytes;

    const auto put = [&bytes] (uint32_t c)
    {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;

        if (c < 0x80)
            bytes += (char) c;
        else if (c < 0x800)
            bytes += { (char) (0xC0 | (c >> 6)), (char) (0x80 | (c & 0x3F)) };
        else if (c < 0x10000)
            bytes += { (char) (0xE0 | (c >> 12)), (char) (0x80 | ((c >> 6) & 0x3F)), (char) (0x80 | (c & 0x3F)) };
        else
            bytes += { (char) (0xF0 | (c >> 18)), (char) (0x80 | ((c >> 12) & 0x3F)), (char) (0x80 | ((c >> 6) & 0x3F)), (char) (0x80 | (c & 0x3F)) };
    };

    for (auto* p = text; *p != 0; ++p)
    {
        auto c = (uint32_t) *p;

        if (sizeof (wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && (uint32_t) p[1] >= 0xDC00 && (uint32_t) p[1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + ((uint32_t) * ++p - 0xDC00);

        put (c);
    }

    return bytes;
}
}

UsbHidLibrary& UsbHidLibrary::instance()
{
    // The lock must outlive the library, whose destructor still closes devices
    // at exit: statics are destroyed in the reverse order of their creation.
    hidapiGlobalLock();
    static UsbHidLibrary library;
    return library;
}

UsbHidLibrary::~UsbHidLibrary()
{
    finalise();
}

bool UsbHidLibrary::initialise()
{
    const std::lock_guard<std::mutex> guard (lifecycle);

    if (! hidapiReady)
    {
        const std::lock_guard<std::mutex> hidapi (hidapiGlobalLock());
        hidapiReady = hid_init() == 0;
    }

    return hidapiReady;
}

void UsbHidLibrary::setCallback (void* newWindow, uint32_t input, uint32_t arrived, uint32_t removed)
{
    const std::lock_guard<std::mutex> guard (lock);
    window = newWindow;
    inputMessage = input;
    arrivedMessage = arrived;
    removedMessage = removed;
}

bool UsbHidLibrary::start()
{
    if (! initialise())
        return false;

    const std::lock_guard<std::mutex> guard (lifecycle);

    {
        const std::lock_guard<std::mutex> state (lock);

        if (running)
            return true;

        running = true;
    }

    // The monitor starts first so that a device plugged in during the scan
    // below is not missed; admitting a node twice is harmless.
    const bool watching = ! hotplugRefusedForTesting && monitor.start (*this);

    lastScan.clear();

    for (const auto& node : listPresentNodes())
    {
        admit (node, 1);
        lastScan.push_back (node.path);
    }

    if (! watching)
        scanner = std::thread ([this]
                               { scanLoop(); });

    return watching;
}

void UsbHidLibrary::stop()
{
    const std::lock_guard<std::mutex> guard (lifecycle);

    {
        const std::lock_guard<std::mutex> state (lock);

        if (! running)
            return;

        running = false;
    }

    stopWake.notify_all();
    monitor.stop();

    if (scanner.joinable())
        scanner.join();

    // After the monitor: it is the one that starts openers.
    joinFinishedOpeners (true);

    std::vector<std::shared_ptr<UsbHidConnection>> open;

    {
        const std::lock_guard<std::mutex> state (lock);

        for (auto& entry : entries)
            if (entry.connection != nullptr)
                open.push_back (std::move (entry.connection));

        for (auto& connection : closing)
            open.push_back (std::move (connection));

        entries.clear();
        closing.clear();
    }

    // A writer may still hold one of these; the readers are ended here all
    // the same, so that none of them posts anything once stop() has returned.
    for (auto& connection : open)
    {
        connection->shutOff();
        connection->stopReading();
    }
}

void UsbHidLibrary::finalise()
{
    stop();

    const std::lock_guard<std::mutex> guard (lifecycle);

    if (hidapiReady)
    {
        const std::lock_guard<std::mutex> hidapi (hidapiGlobalLock());
        hid_exit();
        hidapiReady = false;
    }
}

int32_t UsbHidLibrary::enumerate (int32_t* numbers, int32_t capacity)
{
    if (numbers == nullptr || capacity <= 0)
        return 0;

    {
        const std::lock_guard<std::mutex> state (lock);

        if (! running)
            return 0;
    }

    const auto present = listPresentNodes();

    for (const auto& node : present)
        admit (node, 1);

    dropClosedConnections();

    const std::lock_guard<std::mutex> state (lock);
    int32_t count = 0;

    // Entries are kept in the order they were first seen, so that order is
    // what the caller gets; a node that vanished is left out even before its
    // removal has been told.
    for (const auto& entry : entries)
    {
        const bool stillThere = std::any_of (present.begin(), present.end(), [&] (const PresentNode& node)
                                             { return node.path == entry.path; });

        if (stillThere && count < capacity)
            numbers[count++] = entry.number;
    }

    return count;
}

int32_t UsbHidLibrary::deviceType (int32_t number)
{
    const std::lock_guard<std::mutex> state (lock);
    const auto* entry = findLocked (number);

    if (entry == nullptr)
        return -1;

    // A controller that could not be opened (no permission, usually) is of
    // no use to the caller: it counts as some other device until it opens.
    return entry->connection != nullptr ? entry->typeCode : HID_TYPE_OTHER;
}

int64_t UsbHidLibrary::releaseNumber (int32_t typeCode)
{
    const std::lock_guard<std::mutex> state (lock);

    for (const auto& entry : entries)
        if (entry.connection != nullptr && entry.typeCode == typeCode)
            return entry.releaseNumber;

    return -1;
}

int32_t UsbHidLibrary::takeInput (int32_t number, uint8_t* buffer, int32_t capacity)
{
    const auto connection = controllerConnection (number);
    return connection != nullptr ? connection->takeInput (buffer, capacity) : 0;
}

bool UsbHidLibrary::write (int32_t number, const uint8_t* report, int32_t length)
{
    const auto connection = controllerConnection (number);
    return connection != nullptr && connection->write (report, length);
}

std::string UsbHidLibrary::nodePath (int32_t number)
{
    const std::lock_guard<std::mutex> state (lock);
    const auto* entry = findLocked (number);
    return entry != nullptr ? entry->path : std::string();
}

bool UsbHidLibrary::identity (int32_t number, std::string& serial, std::string& location)
{
    std::string path;

    {
        const std::lock_guard<std::mutex> state (lock);
        const auto* entry = findLocked (number);

        if (entry == nullptr)
            return false;

        serial = entry->serial;
        location = entry->location;

        if (entry->locationKnown)
            return true;

        path = entry->path;
    }

    // The port is looked up once per device, when first asked, outside the lock: the
    // system's device database is not quick.
    location = usbNodePort (path);
    const std::lock_guard<std::mutex> state (lock);

    if (auto* entry = findLocked (number); entry != nullptr && entry->path == path)
    {
        entry->location = location;
        entry->locationKnown = true;
    }

    return true;
}

TrbClaimResult UsbHidLibrary::claim (int32_t number, TrbClaimHolder& holder)
{
    std::string path, serial, location;

    {
        const std::lock_guard<std::mutex> state (lock);
        const auto* entry = findLocked (number);

        if (entry == nullptr || entry->typeCode == HID_TYPE_OTHER || entry->connection == nullptr)
            return TrbClaimResult::unavailable;

        if (entry->claim != nullptr)
            return TrbClaimResult::taken;

        path = entry->path;
        serial = entry->serial;
        location = entry->location;
    }

    std::unique_ptr<UsbDeviceClaim> taken;
    const auto result = UsbDeviceClaim::take (path, serial, location, taken, holder);

    if (result != TrbClaimResult::taken)
        return result;

    const std::lock_guard<std::mutex> state (lock);
    auto* entry = findLocked (number);

    // Gone meanwhile: the claim goes with it.
    if (entry == nullptr || entry->path != path)
        return TrbClaimResult::unavailable;

    entry->claim = std::move (taken);
    return TrbClaimResult::taken;
}

void UsbHidLibrary::releaseClaim (int32_t number)
{
    std::unique_ptr<UsbDeviceClaim> released;
    const std::lock_guard<std::mutex> state (lock);

    if (auto* entry = findLocked (number))
        released = std::move (entry->claim);
}

std::vector<std::string> UsbHidLibrary::controllersWithoutAccess()
{
    std::vector<std::string> unopened;

    {
        const std::lock_guard<std::mutex> state (lock);

        for (const auto& entry : entries)
            if (entry.typeCode != HID_TYPE_OTHER && entry.connection == nullptr)
                unopened.push_back (entry.path);
    }

    // hidapi keeps no reason for a failed open; the node itself tells it.
    unopened.erase (std::remove_if (unopened.begin(), unopened.end(), [] (const std::string& path)
                                    { return ! usbNodeRefusesOpening (path); }),
                    unopened.end());
    return unopened;
}

std::vector<UsbHidLibrary::PresentNode> UsbHidLibrary::listPresentNodes()
{
    std::vector<PresentNode> nodes;
    const std::lock_guard<std::mutex> hidapi (hidapiGlobalLock());
    hid_device_info* all = hid_enumerate (0, 0);

    // hidapi lists a node once per top-level usage; one entry per node is wanted.
    for (auto* info = all; info != nullptr; info = info->next)
    {
        if (info->path == nullptr)
            continue;

        const std::string path (info->path);

        if (std::any_of (nodes.begin(), nodes.end(), [&] (const PresentNode& node)
                         { return node.path == path; }))
            continue;

        nodes.push_back ({ HotplugMonitor::nodeKeyOf (path), path, identifyUsbHidDevice (info->vendor_id, info->product_id, info->product_string), info->release_number, utf8Of (info->serial_number) });
    }

    hid_free_enumeration (all);
    return nodes;
}

bool UsbHidLibrary::admit (const PresentNode& node, int openAttempts)
{
    int32_t number = -1, replacedNumber = -1;
    bool listed = false;
    std::shared_ptr<UsbHidConnection> replaced;

    {
        const std::lock_guard<std::mutex> state (lock);

        if (! running)
            return false;

        auto known = std::find_if (entries.begin(), entries.end(), [&] (const Entry& entry)
                                   { return entry.path == node.path; });

        // The node shows another device than before: the old one went while its
        // removal went unheard (the kernel gives a freed node to the next device).
        // It is told removed, and the new one is taken up as the stranger it is.
        if (known != entries.end() && (known->typeCode != node.typeCode || known->releaseNumber != node.releaseNumber || known->serial != node.serial))
        {
            replacedNumber = known->number;
            replaced = std::move (known->connection);
            entries.erase (known);
            known = entries.end();
        }

        if (known == entries.end())
        {
            Entry entry;
            entry.number = takeNumberLocked();
            entry.nodeKey = node.nodeKey;
            entry.path = node.path;
            entry.typeCode = node.typeCode;
            entry.releaseNumber = node.releaseNumber;
            entry.serial = node.serial;
            entries.push_back (std::move (entry));
            known = entries.end() - 1;
            listed = true;
        }

        // Only a known controller is ever opened; every other device is
        // merely listed and never read or written.
        if (known->typeCode != HID_TYPE_OTHER && known->connection == nullptr)
            number = known->number;
    }

    if (replaced != nullptr)
    {
        replaced->shutOff();
        replaced->stopReading();
    }

    if (replacedNumber >= 0)
        postNotice (Notice::removed, replacedNumber);

    return (number >= 0 && openController (node.path, number, openAttempts)) || listed;
}

bool UsbHidLibrary::openController (const std::string& path, int32_t number, int openAttempts)
{
    std::unique_ptr<UsbHidConnection> opened;

    for (int attempt = 0; attempt < openAttempts; ++attempt)
    {
        if (attempt > 0 && sleepUnlessStopping (kHotplugOpenRetryMs))
            break;

        opened = UsbHidConnection::open (path, number, *this);

        if (opened != nullptr)
            break;
    }

    std::shared_ptr<UsbHidConnection> unused;
    bool taken = false;

    {
        const std::lock_guard<std::mutex> state (lock);
        auto* entry = findLocked (number);

        // The entry may have gone meanwhile (removed, or replaced by another device).
        if (opened != nullptr && entry != nullptr && entry->path == path && entry->connection == nullptr && running)
        {
            entry->connection = std::move (opened);
            taken = true;
        }
        else
        {
            unused = std::move (opened);
        }
    }

    // Opened twice by a race (or stopped meanwhile): the spare closes here,
    // outside the lock its reader may be waiting for.
    unused.reset();
    return taken;
}

int32_t UsbHidLibrary::controllerAwaitingOpen (const std::string& path)
{
    const std::lock_guard<std::mutex> state (lock);
    const auto found = std::find_if (entries.begin(), entries.end(), [&] (const Entry& entry)
                                     { return entry.path == path; });
    const bool waiting = found != entries.end() && found->typeCode != HID_TYPE_OTHER && found->connection == nullptr;
    return waiting ? found->number : -1;
}

void UsbHidLibrary::openInBackground (const std::string& path, int32_t number)
{
    auto done = std::make_shared<std::atomic<bool>> (false);
    std::thread opener ([this, path, number, done]
                        {
                            openController (path, number, kHotplugOpenAttempts);
                            // Told once the controller is open (or given up on), so that
                            // the receiver finds it usable.
                            postNotice (Notice::arrived, 0);
                            done->store (true); });

    const std::lock_guard<std::mutex> state (lock);
    openers.push_back ({ std::move (opener), std::move (done) });
}

void UsbHidLibrary::joinFinishedOpeners (bool all)
{
    std::vector<std::thread> finished;

    {
        const std::lock_guard<std::mutex> state (lock);

        for (auto it = openers.begin(); it != openers.end();)
        {
            if (all || it->done->load())
            {
                finished.push_back (std::move (it->thread));
                it = openers.erase (it);
            }
            else
            {
                ++it;
            }
        }
    }

    for (auto& thread : finished)
        thread.join();
}

bool UsbHidLibrary::sleepUnlessStopping (int milliseconds)
{
    std::unique_lock<std::mutex> state (lock);
    return stopWake.wait_for (state, std::chrono::milliseconds (milliseconds), [this]
                              { return ! running; });
}

void UsbHidLibrary::scanLoop()
{
    while (! sleepUnlessStopping (kScanIntervalMs))
        scanOnce();
}

void UsbHidLibrary::scanOnce()
{
    dropClosedConnections();
    const auto present = listPresentNodes();
    bool arrived = false;

    // What changed since the last scan stands for the system's events: a node new
    // since then has arrived (even if an enumeration took it up meanwhile), one
    // gone since then was removed. A controller not opened yet is tried again.
    for (const auto& node : present)
    {
        const bool isNew = std::find (lastScan.begin(), lastScan.end(), node.path) == lastScan.end();
        arrived = admit (node, 1) || isNew || arrived;
    }

    for (const auto& path : lastScan)
    {
        if (std::none_of (present.begin(), present.end(), [&] (const PresentNode& node)
                          { return node.path == path; }))
            nodeRemoved (HotplugMonitor::nodeKeyOf (path));
    }

    lastScan.clear();

    for (const auto& node : present)
        lastScan.push_back (node.path);

    if (arrived)
        postNotice (Notice::arrived, 0);
}

void UsbHidLibrary::dropClosedConnections()
{
    std::vector<std::shared_ptr<UsbHidConnection>> done;

    {
        const std::lock_guard<std::mutex> state (lock);
        done.swap (closing);
    }
}

void UsbHidLibrary::postNotice (Notice notice, int32_t number)
{
    void* target = nullptr;
    uint32_t message = 0;

    {
        const std::lock_guard<std::mutex> state (lock);
        target = window;

        switch (notice)
        {
            case Notice::input:
                message = inputMessage;
                break;
            case Notice::arrived:
                message = arrivedMessage;
                break;
            case Notice::removed:
                message = removedMessage;
                break;
        }
    }

    if (target != nullptr && message != 0)
        trbPostNotice (target, message, (uintptr_t) number, 0);
}

int32_t UsbHidLibrary::takeNumberLocked()
{
    // Numbers only grow, so a number that went away is not taken by the next
    // device; after two thousand million devices they start again at 1,
    // skipping those still present.
    do
        lastNumber = lastNumber == INT32_MAX ? 1 : lastNumber + 1;
    while (findLocked (lastNumber) != nullptr);

    return lastNumber;
}

UsbHidLibrary::Entry* UsbHidLibrary::findLocked (int32_t number)
{
    auto found = std::find_if (entries.begin(), entries.end(), [number] (const Entry& entry)
                               { return entry.number == number; });
    return found != entries.end() ? &*found : nullptr;
}

std::shared_ptr<UsbHidConnection> UsbHidLibrary::controllerConnection (int32_t number)
{
    const std::lock_guard<std::mutex> state (lock);
    const auto* entry = findLocked (number);

    if (entry == nullptr || entry->typeCode == HID_TYPE_OTHER)
        return nullptr;

    return entry->connection;
}

void UsbHidLibrary::inputQueued (int32_t deviceNumber)
{
    postNotice (Notice::input, deviceNumber);
}

void UsbHidLibrary::readFailed (int32_t deviceNumber)
{
    UsbHidConnection* failed = nullptr;

    {
        const std::lock_guard<std::mutex> state (lock);
        auto* entry = findLocked (deviceNumber);

        // Gone already: the system's removal came first and has been told.
        if (entry == nullptr)
            return;

        // This runs on the connection's own reader, which its destructor
        // joins: the object outlives this call wherever its last owner is,
        // so it is parked for another thread to close.
        failed = entry->connection.get();
        closing.push_back (std::move (entry->connection));
        entries.erase (entries.begin() + (entry - entries.data()));
    }

    if (failed != nullptr)
        failed->shutOff();

    postNotice (Notice::removed, deviceNumber);
}

void UsbHidLibrary::nodeAdded (const std::string& nodeKey)
{
    dropClosedConnections();
    joinFinishedOpeners (false);

    for (const auto& node : listPresentNodes())
    {
        if (node.nodeKey != nodeKey)
            continue;

        admit (node, 0);

        // The system may still be setting the node up: the opener tries
        // again for a while, and this thread goes on to the next event.
        if (const auto number = controllerAwaitingOpen (node.path); number >= 0)
        {
            openInBackground (node.path, number);
            return;
        }
    }

    postNotice (Notice::arrived, 0);
}

void UsbHidLibrary::nodeRemoved (const std::string& nodeKey)
{
    std::shared_ptr<UsbHidConnection> connection;
    int32_t number = -1;

    {
        const std::lock_guard<std::mutex> state (lock);
        auto found = std::find_if (entries.begin(), entries.end(), [&] (const Entry& entry)
                                   { return entry.nodeKey == nodeKey; });

        // Gone already: a failed read came first and has been told.
        if (found == entries.end())
            return;

        number = found->number;
        connection = std::move (found->connection);
        entries.erase (found);
    }

    // Shut before the notice, so that nothing is written after the caller
    // has heard of the removal.
    if (connection != nullptr)
    {
        connection->shutOff();
        connection->stopReading();
    }

    postNotice (Notice::removed, number);
    dropClosedConnections();
}
