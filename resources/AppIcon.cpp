#include "resources/AppIcon.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <TrbResourceData.h>

juce::Image renderAppIcon (int size)
{
    if (size <= 0)
        return {};

    const auto svg = juce::parseXML (juce::String::fromUTF8 (TrbResourceData::trbkelo7updater_svg,
                                                             TrbResourceData::trbkelo7updater_svgSize));

    if (svg == nullptr)
        return {};

    const auto drawable = juce::Drawable::createFromSVG (*svg);

    if (drawable == nullptr)
        return {};

    juce::Image image (juce::Image::ARGB, size, size, true);
    juce::Graphics g (image);
    drawable->drawWithin (g, juce::Rectangle<float> (0.0f, 0.0f, (float) size, (float) size),
                          juce::RectanglePlacement::centred, 1.0f);
    return image;
}
