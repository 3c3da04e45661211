#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct hid_device_;

/** Serialises hidapi's calls that touch its process-wide state (init, enumeration, open,
    exit): hidapi keeps its last global error in one unguarded string. */
std::mutex& hidapiGlobalLock();

/**
    One open controller: its reports in and out, and the reader thread that
    collects what it sends.

    hidapi's read and write on one handle share that handle's error string
    without a lock, so the reader thread and the writers each get a handle of
    their own on the same node.
*/
class UsbHidConnection final
{
public:
    /** Told by the reader thread about the device it reads; called on that thread. */
    struct Listener
    {
        virtual ~Listener() = default;

        /** One input report of deviceNumber was queued for takeInput. */
        virtual void inputQueued (int32_t deviceNumber) = 0;

        /** Reading deviceNumber failed: the device is gone. Called once; the reader then ends. */
        virtual void readFailed (int32_t deviceNumber) = 0;
    };

    /** Opens the node at path twice and starts the reader. Returns null when the node cannot be
        opened (missing, or no permission). Any thread but a reader thread. */
    static std::unique_ptr<UsbHidConnection> open (const std::string& path, int32_t deviceNumber, Listener& listener);

    /** Stops and joins the reader and closes both handles. Never call it on the reader thread
        or while holding a lock the listener takes. */
    ~UsbHidConnection();

    /** Writes one report of length bytes (1..64, zero-padded to 64) with report ID 0 in front.
        True when the whole report went out; false after shutOff, for a bad length or a failed
        write. Any thread; writes are serialised. */
    bool write (const uint8_t* report, int32_t length);

    /** Moves the oldest queued report into buffer (at most capacity bytes) and returns the bytes
        placed, 0 when none is queued. Any thread. */
    int32_t takeInput (uint8_t* buffer, int32_t capacity);

    /** From now on write() sends nothing; returns after a write in progress has finished, so
        that nothing reaches the device after it. Any thread. */
    void shutOff();

    /** Ends and joins the reader; no input is queued or told after it returns. Safe to call
        any number of times and from several threads, but never on the reader thread. */
    void stopReading();

private:
    using Report = std::array<uint8_t, 64>;

    UsbHidConnection (hid_device_* reader, hid_device_* writer, int32_t number, Listener& listener);
    void readLoop();

    hid_device_* readHandle = nullptr;
    hid_device_* writeHandle = nullptr;
    const int32_t deviceNumber;
    Listener& listener;

    std::mutex writeLock;
    bool writable = true; // guarded by writeLock

    std::mutex queueLock;
    std::deque<std::pair<Report, int32_t>> pending; // guarded by queueLock

    std::atomic<bool> stopping { false };
    std::mutex readerLock; // guards joining the reader
    std::thread reader;

    UsbHidConnection (const UsbHidConnection&) = delete;
    UsbHidConnection& operator= (const UsbHidConnection&) = delete;
};
