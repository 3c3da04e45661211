#pragma once

#include "device/simulated/ControllerModel.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

/** The USB identity an emulated HID device shows. */
struct EmulatedUsbIdentity
{
    uint16_t vendorId = 0x1209;
    uint16_t productId = 0x01A0;
    std::string product = "TRB-Kelo7";
    /** Empty: the device has no manufacturer string, and the kernel's HID name (which
        Wine's HID driver gives as the product string) is the product alone. */
    std::string manufacturer = "TRB";
    uint16_t release = 0x0123;
    /** The USB serial string; empty: none. */
    std::string serial;
    /** The USB port ("1-4"); empty: one of its own, never used before in this bus. */
    std::string port;
};

/**
    One emulated USB HID device: a hidraw node in the testbed whose other end
    is a PTY. When it carries a controller, a thread of its own reads each
    request there (65 bytes: report ID 0, then the report, because the PTY
    does not strip the ID as hidraw does), hands it to the controller's
    protocol logic and writes the 64-byte reply back.
*/
class EmulatedHidDevice final
{
public:
    ~EmulatedHidDevice();

    const std::string& nodeName() const noexcept { return node; }

    /** How often a program opened the node (each open asks for the descriptor size). */
    int openCount() const noexcept { return opens.load(); }

    /** Requests received on the node, and bytes that did not form a whole request. */
    int requestCount() const noexcept { return requests.load(); }

    /** Runs fn with the controller, under the lock its thread uses. */
    void withController (const std::function<void (ControllerModel&)>& fn);

    /** The number of the request at which the controller's script dropped it off the bus
        (ScriptedFault remove), 0 while it has not. The device is not unplugged by that: the
        caller does it with EmulatedHidBus::unplug. */
    int removalRequestedAt() const noexcept { return removalAt.load(); }

    /** Called on the device thread with each request (its number and 64 bytes) and the
        controller, under the controller's lock, before it is answered. */
    void onRequest (std::function<void (int requestNumber, const uint8_t* request, ControllerModel& controller)> fn);

    /** While on, replies are kept instead of written, so that nothing waits on the node for
        any reader (a second process's reader would take a reply meant for the first, as two
        readers of one PTY do, where the kernel gives each hidraw reader a copy); turning it
        off writes the kept ones in order. Any thread, the request hook's included. */
    void holdReplies (bool on);

    /** The device end goes away under an open node: readers see a hang-up, as when the
        kernel drops a device. Its controller stops answering. */
    void hangUp();

private:
    friend class EmulatedHidBus;

    EmulatedHidDevice() = default;
    static int handleIoctl (UMockdevIoctlBase*, struct _UMockdevIoctlClient* client, void* device);
    void startServing (int fd, bool answer);
    void stopServing();
    void serve();

    std::string node;
    std::string syspath;
    std::string usbPath;
    UMockdevIoctlBase* ioctlHandler = nullptr;
    std::atomic<int> opens { 0 };
    std::atomic<int> requests { 0 };
    std::atomic<int> removalAt { 0 };

    std::mutex controllerLock;
    ControllerModel controller;
    std::function<void (int, const uint8_t*, ControllerModel&)> requestHook;

    int deviceFd = -1;
    std::mutex replyLock; // taken after controllerLock, never before it
    bool holding = false; // guarded by replyLock
    std::vector<ControllerModel::Report> heldReplies; // guarded by replyLock
    std::atomic<bool> answering { true };
    std::atomic<bool> stopping { false };
    std::thread thread;
};

/**
    An emulated sysfs/udev tree (umockdev) holding USB HID devices with hidraw
    nodes. Needs the process to run under umockdev-wrapper. Every node gets a
    name never used before in this bus (hidraw0, hidraw1, ...), as replugging
    needs a new one.
*/
class EmulatedHidBus final
{
public:
    EmulatedHidBus();
    ~EmulatedHidBus();

    /** Plugs in a device; with answer, a controller answers on its node. udev hears an add. */
    EmulatedHidDevice& plugIn (const EmulatedUsbIdentity& identity, bool answer = true);

    /** Another device takes over the node of one plugged in, whose removal went unheard
        (the kernel gives a freed node to the next device): the node's USB product string
        becomes product, a controller answers on it or not, and udev hears an add. */
    void changeProductUnheard (EmulatedHidDevice& device, const std::string& product, bool answer);

    /** Takes the device's /dev node away, or puts it back. While it is away, opening it fails
        as it does before udev has made the node usable; the device stays in sysfs. */
    void hideNode (EmulatedHidDevice& device, bool hidden);

    /** Sets the permission bits of the device's /dev node (as a udev rule would); returns
        the bits it had. */
    unsigned setNodeMode (EmulatedHidDevice& device, unsigned mode);

    /** udev hears an add for a device already plugged in (as after a re-trigger). */
    void announce (EmulatedHidDevice& device);

    /** Unplugs a device: udev hears the removal first, then the node vanishes. */
    void unplug (EmulatedHidDevice& device);

private:
    UMockdevTestbed* testbed = nullptr;
    int nextIndex = 0;
    std::vector<std::unique_ptr<EmulatedHidDevice>> devices;
};

/**
    Root opens a node whatever its mode. While one of these lives, the calling
    thread (and the threads it starts) opens files as their modes say, as any
    other user would; capabilities belong to each thread, the rest of the
    process keeps them. Without root it changes nothing.
*/
struct FileModesApplyToThisThread
{
    FileModesApplyToThisThread() { setOverride (false); }
    ~FileModesApplyToThisThread() { setOverride (true); }

    static void setOverride (bool on);
};
