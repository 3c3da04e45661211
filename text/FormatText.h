#pragma once

#include <juce_core/juce_core.h>

/**
    Fills a catalogue text's conversions with up to four text arguments, printf-style:
    "%s" takes the next argument unchanged; a width pads it on the left to that many
    characters, with blanks, or with the digit 0 when the width starts with 0 ("%02s"
    turns "5" into "05", "%04s" turns "E21" into "0E21"); a longer argument is never
    cut. The blank and plus flags change nothing for texts ("% s" prints like "%s"),
    "-" pads on the right, ".N" keeps at most N characters and "%%" is a percent sign.
    Widths count characters, not UTF-8 bytes. A conversion past the fourth argument
    takes the empty text, and anything that is not a text conversion is copied as it
    stands. The result has whatever length it needs. Any thread; never fails.
*/
juce::String formatText (const juce::String& format,
                         const juce::String& arg1 = {},
                         const juce::String& arg2 = {},
                         const juce::String& arg3 = {},
                         const juce::String& arg4 = {});
