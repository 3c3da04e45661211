#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

// The rooms point down: the front-ends (app/, ui/) use the update session, never
// the reverse, and the rooms below it use neither the session nor a front-end.
TEST (LayersHeadless, NoRoomIncludesARoomAboveIt)
{
    const juce::File sources { TRB_SOURCE_DIR };
    const struct
    {
        const char* room;
        juce::StringArray above;
    } rules[] = {
        { "ui", { "app/" } },
        { "session", { "app/", "ui/" } },
        { "log", { "app/", "ui/", "session/" } },
        { "update", { "app/", "ui/", "session/", "log/" } },
        { "text", { "app/", "ui/", "session/", "log/", "device/", "update/" } },
        { "protocol", { "app/", "ui/", "session/", "log/", "device/", "update/", "text/", "resources/" } },
    };

    for (const auto& rule : rules)
        for (const auto& file : sources.getChildFile (rule.room).findChildFiles (juce::File::findFiles, true, "*.h;*.cpp"))
            for (const auto& line : juce::StringArray::fromLines (file.loadFileAsString()))
                for (const auto& above : rule.above)
                    EXPECT_FALSE (line.startsWith ("#include \"" + above)) << file.getFullPathName() << ": " << line;
}
