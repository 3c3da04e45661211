#include "device/linux/UsbHidLibrary.h"

#include "device/NoticeReceiver.h"
#include "device/linux/UsbHidIdentity.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <unistd.h>

namespace
{
// Right after a hot-plug udev may still be setting the node's permissions:
// an open that fails then is tried again for up to two seconds.
constexpr int kHotplugOpenAttempts = 20;
constexpr int kHotplugOpenRetryMs = 100;

std::string nodeNameOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');
    return slash == std::string::npos ? path : path.substr (slash + 1);
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
    const bool watching = monitor.start (*this);

    for (const auto& node : listPresentNodes())
        admit (node, 1);

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

    monitor.stop();

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

std::vector<std::string> UsbHidLibrary::controllersWithoutAccess()
{
    std::vector<std::string> unopened;

    {
        const std::lock_guard<std::mutex> state (lock);

        for (const auto& entry : entries)
            if (entry.typeCode != HID_TYPE_OTHER && entry.connection == nullptr)
                unopened.push_back (entry.path);
    }

    std::vector<std::string> refused;

    // hidapi keeps no reason for a failed open; the node itself tells it.
    for (const auto& path : unopened)
    {
        const int fd = ::open (path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);

        if (fd >= 0)
            ::close (fd);
        else if (errno == EACCES || errno == EPERM)
            refused.push_back (path);
    }

    return refused;
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

        nodes.push_back ({ nodeNameOf (path), path, identifyUsbHidDevice (info->vendor_id, info->product_id, info->product_string), info->release_number });
    }

    hid_free_enumeration (all);
    return nodes;
}

void UsbHidLibrary::admit (const PresentNode& node, int openAttempts)
{
    int32_t number = -1;

    {
        const std::lock_guard<std::mutex> state (lock);

        if (! running)
            return;

        auto known = std::find_if (entries.begin(), entries.end(), [&] (const Entry& entry)
                                   { return entry.path == node.path; });

        if (known == entries.end())
        {
            Entry entry;
            entry.number = takeNumberLocked();
            entry.nodeName = node.nodeName;
            entry.path = node.path;
            entry.typeCode = node.typeCode;
            entry.releaseNumber = node.releaseNumber;
            entries.push_back (std::move (entry));
            known = entries.end() - 1;
        }

        // Only a known controller is ever opened; every other device is
        // merely listed and never read or written.
        if (known->typeCode == HID_TYPE_OTHER || known->connection != nullptr)
            return;

        number = known->number;
    }

    std::unique_ptr<UsbHidConnection> opened;

    for (int attempt = 0; attempt < openAttempts; ++attempt)
    {
        if (attempt > 0 && monitor.sleepUnlessStopping (kHotplugOpenRetryMs))
            break;

        opened = UsbHidConnection::open (node.path, number, *this);

        if (opened != nullptr)
            break;
    }

    std::shared_ptr<UsbHidConnection> unused;

    {
        const std::lock_guard<std::mutex> state (lock);
        auto* entry = findLocked (number);

        if (entry != nullptr && entry->connection == nullptr && running)
            entry->connection = std::move (opened);
        else
            unused = std::move (opened);
    }

    // Opened twice by a race (or stopped meanwhile): the spare closes here,
    // outside the lock its reader may be waiting for.
    unused.reset();
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

        // Gone already: the udev removal came first and has been told.
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

void UsbHidLibrary::hidrawAdded (const std::string& nodeName)
{
    dropClosedConnections();

    for (const auto& node : listPresentNodes())
        if (node.nodeName == nodeName)
            admit (node, kHotplugOpenAttempts);

    postNotice (Notice::arrived, 0);
}

void UsbHidLibrary::hidrawRemoved (const std::string& nodeName)
{
    std::shared_ptr<UsbHidConnection> connection;
    int32_t number = -1;

    {
        const std::lock_guard<std::mutex> state (lock);
        auto found = std::find_if (entries.begin(), entries.end(), [&] (const Entry& entry)
                                   { return entry.nodeName == nodeName; });

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
