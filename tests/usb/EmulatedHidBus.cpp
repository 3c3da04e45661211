#include "tests/usb/EmulatedHidBus.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <umockdev.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{
// One vendor-defined collection with a 64-byte input and a 64-byte output
// report and no report IDs, as the controller describes itself.
constexpr guint8 kReportDescriptor[] = {
    0x06, 0x00, 0xFF, // usage page (vendor 0xFF00)
    0x09, 0x01, // usage 1
    0xA1, 0x01, // collection (application)
    0x09, 0x01, //   usage 1
    0x15, 0x00, //   logical minimum 0
    0x26, 0xFF, 0x00, //   logical maximum 255
    0x75, 0x08, //   report size 8
    0x95, 0x40, //   report count 64
    0x81, 0x02, //   input (data, variable, absolute)
    0x09, 0x01, //   usage 1
    0x95, 0x40, //   report count 64
    0x91, 0x02, //   output (data, variable, absolute)
    0xC0 // end collection
};

// Writes bytes at offset into the memory the ioctl's argument points to and completes it.
void answerIoctl (UMockdevIoctlClient* client, const guint8* bytes, size_t length, size_t offset)
{
    GError* error = nullptr;
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve (umockdev_ioctl_client_get_arg (client), 0, offset + length, &error);

    if (target != nullptr)
    {
        umockdev_ioctl_data_update (target, offset, const_cast<guint8*> (bytes), (gint) length);
        umockdev_ioctl_data_unref (target);
    }

    g_clear_error (&error);
    umockdev_ioctl_client_complete (client, target != nullptr ? 0 : -1, target != nullptr ? 0 : EFAULT);
}

constexpr int kFrameIn = 65; // report ID + report, as the host writes it
constexpr int kServePollMs = 20;

std::string hex4 (unsigned value);
}

//==============================================================================
int EmulatedHidDevice::handleIoctl (UMockdevIoctlBase*, UMockdevIoctlClient* client, void* data)
{
    auto* device = static_cast<EmulatedHidDevice*> (data);

    const auto request = umockdev_ioctl_client_get_request (client);

    // hidapi's open asks for the report descriptor's size, so every open makes
    // this call; so does Wine's HID driver when it takes up the node.
    if (request == HIDIOCGRDESCSIZE)
    {
        device->opens.fetch_add (1);
        const int size = (int) sizeof (kReportDescriptor);
        answerIoctl (client, reinterpret_cast<const guint8*> (&size), sizeof (size), 0);
        return TRUE;
    }

    // The descriptor itself: Wine builds the device's reports from it.
    if (request == HIDIOCGRDESC)
    {
        answerIoctl (client, kReportDescriptor, sizeof (kReportDescriptor), offsetof (hidraw_report_descriptor, value));
        return TRUE;
    }

    umockdev_ioctl_client_complete (client, -1, ENOTTY);
    return TRUE;
}

namespace
{
std::string hex4 (unsigned value)
{
    char text[8];
    std::snprintf (text, sizeof (text), "%04x", value & 0xFFFFu);
    return text;
}
}

//==============================================================================
EmulatedHidDevice::~EmulatedHidDevice()
{
    stopServing();

    if (ioctlHandler != nullptr)
        g_object_unref (ioctlHandler);
}

void EmulatedHidDevice::withController (const std::function<void (ControllerModel&)>& fn)
{
    const std::lock_guard<std::mutex> guard (controllerLock);
    fn (controller);
}

void EmulatedHidDevice::onRequest (std::function<void (int, const uint8_t*, ControllerModel&)> fn)
{
    const std::lock_guard<std::mutex> guard (controllerLock);
    requestHook = std::move (fn);
}

void EmulatedHidDevice::holdReplies (bool on)
{
    const std::lock_guard<std::mutex> guard (replyLock);
    holding = on;

    if (on)
        return;

    for (const auto& reply : heldReplies)
        [[maybe_unused]] const auto written = ::write (deviceFd, reply.data(), kReportSize);

    heldReplies.clear();
}

void EmulatedHidDevice::hangUp()
{
    stopServing();

    // Closing the PTY's master end hangs up the node for its readers; putting
    // /dev/null in its place keeps the descriptor valid for the testbed, which
    // still owns and closes it.
    const int nothing = ::open ("/dev/null", O_RDWR | O_CLOEXEC);
    ::dup2 (nothing, deviceFd);
    ::close (nothing);
}

void EmulatedHidDevice::startServing (int fd, bool answer)
{
    deviceFd = fd;
    answering.store (answer);
    thread = std::thread ([this]
                          { serve(); });
}

void EmulatedHidDevice::stopServing()
{
    stopping.store (true);

    if (thread.joinable())
        thread.join();
}

void EmulatedHidDevice::serve()
{
    uint8_t frame[kFrameIn];
    int filled = 0;

    while (! stopping.load())
    {
        pollfd readable { deviceFd, POLLIN, 0 };

        if (::poll (&readable, 1, kServePollMs) <= 0)
            continue;

        if ((readable.revents & POLLIN) == 0)
        {
            // The other end hung up: nothing to read until the bus goes away.
            std::this_thread::sleep_for (std::chrono::milliseconds (kServePollMs));
            continue;
        }

        const auto got = ::read (deviceFd, frame + filled, (size_t) (kFrameIn - filled));

        if (got <= 0)
            continue;

        filled += (int) got;

        if (filled < kFrameIn)
            continue;

        filled = 0;
        const int number = requests.fetch_add (1) + 1;
        ControllerModel::Outcome outcome;

        {
            const std::lock_guard<std::mutex> guard (controllerLock);

            if (requestHook)
                requestHook (number, frame + 1, controller);

            if (answering.load())
                outcome = controller.handleRequest (frame + 1, kReportSize);
        }

        if (outcome.removeDevice)
        {
            removalAt.store (number);
            continue;
        }

        if (outcome.hasReply)
        {
            const std::lock_guard<std::mutex> guard (replyLock);

            if (holding)
                heldReplies.push_back (outcome.reply);
            else
                [[maybe_unused]]
                const auto written = ::write (deviceFd, outcome.reply.data(), kReportSize);
        }
    }
}

//==============================================================================
EmulatedHidBus::EmulatedHidBus()
{
    const char* preload = std::getenv ("LD_PRELOAD");

    if (preload == nullptr || std::strstr (preload, "umockdev") == nullptr)
        throw std::runtime_error ("not running under umockdev-wrapper");

    testbed = umockdev_testbed_new();
}

EmulatedHidBus::~EmulatedHidBus()
{
    devices.clear();
    g_object_unref (testbed);
}

void EmulatedHidBus::changeProductUnheard (EmulatedHidDevice& device, const std::string& product, bool answer)
{
    umockdev_testbed_set_attribute (testbed, ("/sys" + device.usbPath).c_str(), "product", product.c_str());
    device.answering.store (answer);
    announce (device);
}

EmulatedHidDevice& EmulatedHidBus::plugIn (const EmulatedUsbIdentity& identity, bool answer)
{
    const int index = nextIndex++;
    std::unique_ptr<EmulatedHidDevice> device (new EmulatedHidDevice());
    device->node = "hidraw" + std::to_string (index);

    const std::string port = identity.port.empty() ? "1-" + std::to_string (index + 1) : identity.port;
    const std::string hidName = "0003:" + hex4 (identity.vendorId) + ":" + hex4 (identity.productId) + "." + hex4 ((unsigned) index + 1);
    device->usbPath = "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    const std::string interfacePath = device->usbPath + "/" + port + ":1.0";
    const std::string hidPath = interfacePath + "/" + hidName;
    const std::string rawPath = hidPath + "/hidraw/" + device->node;
    device->syspath = "/sys" + rawPath;

    // Parents first; the hidraw node links to its hid parent, and its N: line
    // makes the /dev node (a PTY). Without the USB parent's attributes
    // hidapi's enumeration would not see the device at all.
    const std::string record =
        "P: " + device->usbPath + "\n"
                                  "N: bus/usb/001/"
        + std::to_string (100 + index) + "\n"
                                         "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                                         "A: idVendor="
        + hex4 (identity.vendorId) + "\n"
                                     "A: idProduct="
        + hex4 (identity.productId) + "\n"
                                      "A: product="
        + identity.product + "\n"
        + (identity.manufacturer.empty() ? std::string() : "A: manufacturer=" + identity.manufacturer + "\n")
        + (identity.serial.empty() ? std::string() : "A: serial=" + identity.serial + "\n")
        + "A: bcdDevice="
        + hex4 (identity.release) + "\n\n"
                                    "P: "
        + interfacePath + "\n"
                          "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\n\n"
                          "P: "
        + hidPath + "\n"
                    "E: SUBSYSTEM=hid\n"
                    "E: HID_ID=0003:0000"
        + hex4 (identity.vendorId) + ":0000" + hex4 (identity.productId) + "\n"
                                                                           "E: HID_NAME="
        + (identity.manufacturer.empty() ? identity.product : identity.manufacturer + " " + identity.product) + "\nE: HID_UNIQ=" + identity.serial + "\n\n"
                                                                                                                                                     "P: "
        + rawPath + "\n"
                    "N: "
        + device->node + "\n"
                         "E: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/"
        + device->node + "\n"
                         "L: device=../../../"
        + hidName + "\n";

    const std::string devnode = "/dev/" + device->node;
    GError* error = nullptr;

    // hidapi's open needs its ioctl answered, and a program that hears the
    // add may open the node at once: the handler goes in first.
    device->ioctlHandler = umockdev_ioctl_base_new();
    g_signal_connect (device->ioctlHandler, "handle-ioctl", G_CALLBACK (EmulatedHidDevice::handleIoctl), device.get());

    if (! umockdev_testbed_attach_ioctl (testbed, devnode.c_str(), device->ioctlHandler, &error))
        throw std::runtime_error (error != nullptr ? error->message : "attach_ioctl failed");

    if (! umockdev_testbed_add_from_string (testbed, record.c_str(), &error))
        throw std::runtime_error (error != nullptr ? error->message : "add_from_string failed");

    device->startServing (umockdev_testbed_get_dev_fd (testbed, devnode.c_str()), answer);
    devices.push_back (std::move (device));
    return *devices.back();
}

void EmulatedHidBus::unplug (EmulatedHidDevice& device)
{
    // udev tells of the removal while the node still exists, as the kernel does.
    umockdev_testbed_uevent (testbed, device.syspath.c_str(), "remove");
    umockdev_testbed_remove_device (testbed, device.syspath.c_str());
}

void EmulatedHidBus::hideNode (EmulatedHidDevice& device, bool hidden)
{
    // The testbed's /dev node is a link to the PTY; a renamed link is a node
    // that is not there, and opening it fails like any node not yet usable.
    gchar* root = umockdev_testbed_get_root_dir (testbed);
    const std::string node = std::string (root) + "/dev/" + device.node;
    const std::string away = node + ".away";
    g_free (root);

    if (std::rename (hidden ? node.c_str() : away.c_str(), hidden ? away.c_str() : node.c_str()) != 0)
        throw std::runtime_error ("cannot move the node of " + device.node);
}

unsigned EmulatedHidBus::setNodeMode (EmulatedHidDevice& device, unsigned mode)
{
    gchar* root = umockdev_testbed_get_root_dir (testbed);
    const std::string node = std::string (root) + "/dev/" + device.node;
    g_free (root);

    // The node is a link; the mode that counts is that of the PTY it leads to.
    struct stat before
    {
    };

    if (::stat (node.c_str(), &before) != 0 || ::chmod (node.c_str(), (mode_t) mode) != 0)
        throw std::runtime_error ("cannot change the mode of " + device.node);

    return before.st_mode & 07777;
}

void EmulatedHidBus::announce (EmulatedHidDevice& device)
{
    umockdev_testbed_uevent (testbed, device.syspath.c_str(), "add");
}

void FileModesApplyToThisThread::setOverride (bool on)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] {};

    if (::syscall (SYS_capget, &header, data) != 0)
        return;

    for (const auto capability : { (unsigned) CAP_DAC_OVERRIDE, (unsigned) CAP_DAC_READ_SEARCH })
    {
        auto& effective = data[capability / 32].effective;
        const auto bit = 1u << (capability % 32);
        effective = on ? (effective | (data[capability / 32].permitted & bit)) : (effective & ~bit);
    }

    ::syscall (SYS_capset, &header, data);
}
