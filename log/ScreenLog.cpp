#include "log/ScreenLog.h"

#include "text/ExternalText.h"

#include <chrono>
#include <cstdlib>

namespace
{
constexpr const char* kScreenLogVariable = "TRB_SCREEN_LOG";

const juce::File& logFile()
{
    static const juce::File file = []
    {
        const auto* path = std::getenv (kScreenLogVariable);
        return path != nullptr && *path != 0 ? juce::File (ExternalText::fromBytes (path)) : juce::File();
    }();
    return file;
}

double monotonicMs()
{
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock a test's time.monotonic() reads.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli> (now).count();
}
} // namespace

bool ScreenLog::isEnabled()
{
    return logFile() != juce::File();
}

void ScreenLog::write (const juce::String& event, const juce::var& entry)
{
    if (! isEnabled())
        return;

    auto* object = entry.getDynamicObject();
    juce::var line (object != nullptr ? object : new juce::DynamicObject());
    line.getDynamicObject()->setProperty ("event", event);
    line.getDynamicObject()->setProperty ("ms", monotonicMs());

    juce::FileOutputStream out (logFile());

    if (out.openedOk())
    {
        out << juce::JSON::toString (line, true) << "\n";
        out.flush();
    }
}

void ScreenLog::firstPaint()
{
    static bool painted = false;

    if (painted || ! isEnabled())
        return;

    painted = true;
    write ("painted", {});
}
