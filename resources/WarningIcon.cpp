#include "resources/WarningIcon.h"

juce::Image getWarningIcon()
{
    return juce::ImageCache::getFromMemory (kWarningIconPng, kWarningIconPngSize);
}
