#pragma once

#include <juce_graphics/juce_graphics.h>

// The warning icon of the error screens: a 56 x 55 RGBA PNG file built into the
// program (resources/warning_icon.png, drawn by tools/MakeWarningIcon.cpp; the
// top CMakeLists.txt builds it in).

/** Returns the warning icon, decoded once and then taken from the framework's
    image cache. Message thread (the cache is not meant to be shared between
    threads). Returns an invalid image only if the built-in data cannot be
    decoded, which the tests rule out. */
juce::Image getWarningIcon();
