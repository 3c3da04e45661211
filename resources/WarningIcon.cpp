#include "resources/WarningIcon.h"

#include <TrbResourceData.h>

juce::Image getWarningIcon()
{
    return juce::ImageCache::getFromMemory (TrbResourceData::warning_icon_png, TrbResourceData::warning_icon_pngSize);
}
