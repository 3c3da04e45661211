#pragma once

#include <juce_graphics/juce_graphics.h>

// The warning icon of the error screens: a 56 x 55 RGBA PNG file built into the
// program (resources/warning_icon.png, embedded by tools/MakeWarningIcon.cpp).
extern const unsigned char kWarningIconPng[];
extern const int kWarningIconPngSize;

/** Returns the warning icon, decoded once and then taken from the framework's
    image cache. Message thread (the cache is not meant to be shared between
    threads). Returns an invalid image only if the built-in data cannot be
    decoded, which the tests rule out. */
juce::Image getWarningIcon();
