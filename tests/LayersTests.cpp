#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <vector>

namespace
{
// The program's rooms from the bottom up, written once: a room includes its own
// headers and those of the rooms below it, never one above it. Rooms named on
// one line stand beside each other and include neither the other (the window's
// front-end and the terminal's). The protocol is at the very bottom, so the wire
// stays described by itself; the platform helpers sit just above the text room,
// whose one conversion of outside bytes they use.
const std::vector<juce::StringArray> kRoomsFromTheBottom {
    { "protocol" },
    { "resources" },
    { "text" },
    { "platform" },
    { "device" },
    { "update" },
    { "log" },
    { "session" },
    { "ui", "terminal" },
    { "app" },
};

// The line of kRoomsFromTheBottom that names room; -1 for a folder that is no room.
int levelOf (const juce::String& room)
{
    for (size_t level = 0; level < kRoomsFromTheBottom.size(); ++level)
        if (kRoomsFromTheBottom[level].contains (room))
            return (int) level;

    return -1;
}
} // namespace

// Every #include "room/..." of the program's sources names its own room or one
// below; a room that is not in the order (a new folder, tests/, tools/) is
// reported too, so that no include escapes the check.
TEST (LayersHeadless, NoRoomIncludesARoomAboveIt)
{
    const juce::File sources { TRB_SOURCE_DIR };
    const juce::String prefix { "#include \"" };
    int includesChecked = 0;

    for (const auto& rooms : kRoomsFromTheBottom)
        for (const auto& room : rooms)
            for (const auto& file : sources.getChildFile (room).findChildFiles (juce::File::findFiles, true, "*.h;*.cpp"))
                for (const auto& line : juce::StringArray::fromLines (file.loadFileAsString()))
                {
                    if (! line.startsWith (prefix))
                        continue;

                    ++includesChecked;
                    const auto included = line.fromFirstOccurrenceOf (prefix, false, false).upToFirstOccurrenceOf ("/", false, false);
                    const auto level = levelOf (included);
                    const auto where = file.getRelativePathFrom (sources) + ": " + line;

                    EXPECT_NE (level, -1) << where << " (a folder that is not in the order of rooms)";
                    EXPECT_TRUE (included == room || level < levelOf (room)) << where;
                }

    // A source folder the test cannot find would pass it silently.
    EXPECT_GT (includesChecked, 0) << sources.getFullPathName();
}
