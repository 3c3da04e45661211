#include "update/UpdateFileSearch.h"

#include <cstdlib>

int updateFileNumber (const juce::String& fileName)
{
    if (fileName.length() != kUpdateFileNameLength)
        return 0;

    const auto digits = fileName.substring (kUpdateFilePrefixLength, kUpdateFilePrefixLength + kUpdateFileNumberLength);
    return std::atoi (digits.toRawUTF8());
}

juce::File chooseUpdateFile (const juce::Array<juce::File>& listed)
{
    juce::File chosen;
    int best = 0;

    for (const auto& file : listed)
    {
        const auto number = updateFileNumber (file.getFileName());

        // Strictly greater: the first listed keeps a tie, and 0 is never taken.
        if (number > best)
        {
            best = number;
            chosen = file;
        }
    }

    return chosen;
}

std::optional<int32_t> applyUpdateFileCheck (const juce::File& chosen, const UpdateFileCheck& check, UpdateFileState& state)
{
    if (check.stamp.has_value())
        state.fileStamp = *check.stamp;

    if (check.version.has_value())
        state.fileVersion = *check.version;

    for (auto& region : state.regions)
        region.state = check.result;

    if (check.result == ERR_FILE_NOT_FOUND)
        return ERR_PROTOCOL;

    if (! check.passed())
        return check.result;

    for (int i = 0; i < kRegionCount; ++i)
    {
        auto& region = state.regions[static_cast<size_t> (i)];
        const auto& layout = kRegions[static_cast<size_t> (i)];
        region.file = chosen;
        region.length = layout.length;
        region.fileOffset = layout.fileOffset;
        region.deviceAddress = layout.deviceAddress;
        region.command = layout.command;
    }

    state.checkedImage = check.image;
    state.fileState = FILE_READY;
    return std::nullopt;
}

std::optional<int32_t> findUpdateFile (const juce::File& folder, UpdateFileState& state)
{
    const auto listed = folder.findChildFiles (juce::File::findFiles, false, kUpdateFilePattern);
    const auto chosen = chooseUpdateFile (listed);

    if (chosen == juce::File() || ! chosen.exists())
    {
        state.fileState = FILE_NONE;
        return ERR_FILE_NOT_FOUND;
    }

    return applyUpdateFileCheck (chosen, checkUpdateFile (chosen), state);
}
