#include "device/usb/UsbHidConnection.h"

#include "device/TrbKelo7Hid.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstring>

namespace
{
// How long one read waits before the reader looks at its stop flag again;
// a report that arrives meanwhile is read at once.
constexpr int kReadPollMs = 50;

// A program that never takes its input would otherwise grow the queue
// without bound; the oldest reports give way.
constexpr size_t kMaxPendingReports = 256;

// hidapi takes the report ID in front of the report; 0 for a device
// without numbered reports, which the system strips before sending.
constexpr uint8_t kNoReportId = 0;
}

std::mutex& hidapiGlobalLock()
{
    static std::mutex lock;
    return lock;
}

std::unique_ptr<UsbHidConnection> UsbHidConnection::open (const std::string& path, int32_t deviceNumber, Listener& listener)
{
    hid_device* reader = nullptr;
    hid_device* writer = nullptr;

    {
        const std::lock_guard<std::mutex> hidapi (hidapiGlobalLock());
        reader = hid_open_path (path.c_str());

        if (reader != nullptr)
            writer = hid_open_path (path.c_str());
    }

    if (reader == nullptr || writer == nullptr)
    {
        if (reader != nullptr)
            hid_close (reader);

        return nullptr;
    }

    std::unique_ptr<UsbHidConnection> connection (new UsbHidConnection (reader, writer, deviceNumber, listener));
    connection->reader = std::thread ([c = connection.get()]
                                      { c->readLoop(); });
    return connection;
}

UsbHidConnection::UsbHidConnection (hid_device* readerHandle, hid_device* writerHandle, int32_t number, Listener& l)
    : readHandle (readerHandle)
    , writeHandle (writerHandle)
    , deviceNumber (number)
    , listener (l)
{
}

UsbHidConnection::~UsbHidConnection()
{
    shutOff();
    stopReading();
    hid_close (readHandle);
    hid_close (writeHandle);
}

bool UsbHidConnection::write (const uint8_t* report, int32_t length)
{
    if (report == nullptr || length <= 0 || length > HID_REPORT_SIZE)
        return false;

    uint8_t framed[1 + HID_REPORT_SIZE] = { kNoReportId };
    std::memcpy (framed + 1, report, (size_t) length);

    const std::lock_guard<std::mutex> guard (writeLock);

    if (! writable)
        return false;

    return hid_write (writeHandle, framed, sizeof (framed)) >= HID_REPORT_SIZE;
}

int32_t UsbHidConnection::takeInput (uint8_t* buffer, int32_t capacity)
{
    if (buffer == nullptr || capacity <= 0)
        return 0;

    const std::lock_guard<std::mutex> guard (queueLock);

    if (pending.empty())
        return 0;

    const auto& [report, length] = pending.front();
    const auto placed = std::min (length, capacity);
    std::memcpy (buffer, report.data(), (size_t) placed);
    pending.pop_front();
    return placed;
}

void UsbHidConnection::shutOff()
{
    const std::lock_guard<std::mutex> guard (writeLock);
    writable = false;
}

void UsbHidConnection::stopReading()
{
    stopping.store (true);
    const std::lock_guard<std::mutex> guard (readerLock);

    if (reader.joinable())
        reader.join();
}

void UsbHidConnection::readLoop()
{
    while (! stopping.load())
    {
        Report report {};
        const int count = hid_read_timeout (readHandle, report.data(), report.size(), kReadPollMs);

        if (count < 0)
        {
            listener.readFailed (deviceNumber);
            return;
        }

        if (count == 0)
            continue;

        {
            const std::lock_guard<std::mutex> guard (queueLock);

            if (pending.size() >= kMaxPendingReports)
                pending.pop_front();

            pending.emplace_back (report, count);
        }

        listener.inputQueued (deviceNumber);
    }
}
