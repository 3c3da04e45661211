#include "device/NoticeReceiver.h"

#include <juce_events/juce_events.h>

#include <map>
#include <mutex>

namespace
{
/*
    A receiver is the Linux stand-in for the hidden window: a handle the library
    can post to from any thread, whose notices run its procedure on the message
    thread in posting order (the framework's message queue is first in, first out).

    The library only holds a raw handle, so every post looks the handle up in a
    registry of live receivers under a lock, and every delivery looks again: a
    notice for a receiver destroyed in between is dropped. The serial number
    tells a new receiver apart from a destroyed one that had the same address.
*/
struct Receiver
{
    NoticeProcedure procedure = nullptr;
    uint64_t serial = 0;
};

std::mutex registryLock;
std::map<void*, Receiver> registry;
uint64_t nextSerial = 1;

// Its address is the module handle: one per program, never null.
const char moduleToken = 0;

class Notice final : public juce::CallbackMessage
{
public:
    Notice (void* windowToUse, uint64_t serialToUse, uint32_t messageToUse, uintptr_t wParamToUse, intptr_t lParamToUse)
        : window (windowToUse)
        , serial (serialToUse)
        , message (messageToUse)
        , wParam (wParamToUse)
        , lParam (lParamToUse)
    {
    }

    void messageCallback() override
    {
        NoticeProcedure procedure = nullptr;

        {
            std::lock_guard<std::mutex> guard (registryLock);
            auto found = registry.find (window);

            if (found != registry.end() && found->second.serial == serial)
                procedure = found->second.procedure;
        }

        // Called without the lock: the procedure calls into the library, which posts
        // under its own lock. Receivers are destroyed only on this thread, so this one
        // cannot vanish before the call starts.
        if (procedure != nullptr)
            procedure (window, message, wParam, lParam);
    }

private:
    void* window;
    uint64_t serial;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};
}

void* noticeModuleHandle()
{
    return const_cast<char*> (&moduleToken);
}

void* createNoticeReceiver (void* instance, NoticeProcedure procedure)
{
    if (instance == nullptr || procedure == nullptr || juce::MessageManager::getInstanceWithoutCreating() == nullptr)
        return nullptr;

    // The handle only has to be unique among live receivers; a small allocation gives that.
    auto* window = static_cast<void*> (new char (0));
    std::lock_guard<std::mutex> guard (registryLock);
    registry[window] = { procedure, nextSerial++ };
    return window;
}

void destroyNoticeReceiver (void* window)
{
    if (window == nullptr)
        return;

    {
        std::lock_guard<std::mutex> guard (registryLock);

        if (registry.erase (window) == 0)
            return;
    }

    delete static_cast<char*> (window);
}

void trbPostNotice (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (window == nullptr)
        return;

    std::lock_guard<std::mutex> guard (registryLock);
    auto found = registry.find (window);

    if (found == registry.end())
        return;

    // post() deletes the message itself when there is no message loop to take it.
    (new Notice (window, found->second.serial, message, wParam, lParam))->post();
}
