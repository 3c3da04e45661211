#pragma once

#include <juce_graphics/juce_graphics.h>

// The program's icon is packaging/trbkelo7-updater.svg, the file the desktop's
// icon theme gets, built into the program as text (the top CMakeLists.txt).

/** The program's icon drawn into a square image of the given size in pixels,
    for the window's icon property. Message thread (the SVG parser builds
    components). Returns an invalid image when the size is not positive or the
    built-in SVG cannot be parsed, which the tests rule out. */
juce::Image renderAppIcon (int size);
