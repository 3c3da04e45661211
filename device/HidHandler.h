#pragma once

/**
    The three device events, as the device link delivers them.

    Implemented by HidCtrl, which hears them from the notice receiver, and by the
    update procedure, which hears them from HidCtrl. Every call arrives on the
    message thread, one at a time, in the order the device library reported them.
*/
class HidHandler
{
public:
    virtual ~HidHandler() = default;

    /** The open controller was removed. */
    virtual void hidDeviceRemoved() = 0;

    /** The controller was found after a device arrival. */
    virtual void hidDeviceArrived() = 0;

    /** An input report now lies in HidCtrl's buffer; the argument is not used by the receivers. */
    virtual void hidInputReceived (int param) = 0;
};
