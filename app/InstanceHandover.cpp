#include "app/InstanceHandover.h"

#include "text/ExternalText.h"

namespace
{
// The application's name leads every message, so that an instance takes no
// bytes meant for another program that happens to reach its endpoint.
juce::String messagePrefix (const juce::String& applicationName)
{
    return applicationName + "/";
}
} // namespace

juce::String InstanceHandover::messageFor (const juce::String& applicationName, const juce::String& commandLine)
{
    return messagePrefix (applicationName) + commandLine;
}

std::optional<juce::String> InstanceHandover::commandLineFromMessage (const juce::String& applicationName,
                                                                      const void* bytes,
                                                                      size_t size)
{
    const auto text = ExternalText::fromBytes (static_cast<const char*> (bytes), bytes != nullptr ? size : 0);
    const auto prefix = messagePrefix (applicationName);

    if (! text.startsWith (prefix))
        return std::nullopt;

    return text.substring (prefix.length());
}
