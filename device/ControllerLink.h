#pragma once

#include <cstdint>

/**
    The device link as the update procedure uses it: whether a controller is held,
    one request out, the report that came in. The device events themselves reach
    the procedure through HidHandler.

    Implemented by HidCtrl, and in the tests by ModelLink (device/simulated/), which
    answers from the controller model inside write(); the procedure knows nothing
    else of the link.
*/
class ControllerLink
{
public:
    virtual ~ControllerLink() = default;

    /** True while a controller is held. Any thread. */
    virtual bool isConnected() const noexcept = 0;

    /** Writes one 64-byte report to the controller. False, sending nothing, while none is
        held or when the library did not take it. Update worker thread. */
    virtual bool write (const uint8_t* report) = 0;

    /** Takes the input report that the last hidInputReceived announced: copies its bytes
        (at most 64) to destination, clears the link's buffer and returns the count. With
        no bytes it returns 0 and leaves the buffer alone. Message thread. */
    virtual int takeInput (uint8_t* destination) noexcept = 0;
};
