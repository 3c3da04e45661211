#include "log/PlatformAdvice.h"

namespace PlatformAdvice
{
juce::String downloadFolder()
{
    return "the download folder (XDG_DOWNLOAD_DIR, else ~/Downloads)";
}

juce::String resumeStopped (const juce::String& processId)
{
    return "resume it ('fg' in its terminal, or kill -CONT " + processId + ") and let it finish";
}

juce::String endHung (const juce::String& processId)
{
    return ", or end it if it hangs (kill " + processId + ")";
}

juce::String controllerWithoutAccess()
{
    // Where the packaged udev rule lies; a build from source installs it by hand.
    return "this user may not open it. Install the udev rule 70-trbkelo7-updater.rules into "
           "/usr/lib/udev/rules.d (the package does this), then unplug and replug the controller "
           "(or run: sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw)";
}

juce::String controllerNotFound()
{
    return "plug it in and run again; if it is plugged in, install the udev rule (the package does) and replug it";
}
} // namespace PlatformAdvice
