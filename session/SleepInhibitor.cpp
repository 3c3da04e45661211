#include "session/SleepInhibitor.h"

#include "platform/StandardErrorWriter.h"

void SleepInhibitor::warnOnce (std::atomic<bool>& told, const Warning& warning, const juce::String& line)
{
    if (told.exchange (true))
        return;

    if (warning != nullptr)
        warning (line);
    else
        StandardErrorWriter::write (line);
}
