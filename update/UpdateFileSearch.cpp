#include "update/UpdateFileSearch.h"

#include <algorithm>
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
    return findUpdateFile (std::vector<UpdateFilePlace> { { folder, false } }, state);
}

std::vector<UpdateFilePlace> updateFilePlaces (const juce::String& commandLinePath, const juce::File& programFolder,
                                               const juce::File& currentFolder, const juce::File& downloadFolder)
{
    std::vector<UpdateFilePlace> places;

    auto addFolder = [&places] (const juce::File& folder)
    {
        const UpdateFilePlace place { folder, false };

        if (folder != juce::File() && std::find (places.begin(), places.end(), place) == places.end())
            places.push_back (place);
    };

    if (commandLinePath.isNotEmpty())
    {
        const auto named = currentFolder.getChildFile (commandLinePath);

        // Whatever is not a folder is taken as the file meant, also when it does
        // not exist: the search then says so instead of taking another file.
        if (named.isDirectory())
            addFolder (named);
        else
            places.push_back ({ named, true });
    }

    addFolder (programFolder);
    addFolder (currentFolder);
    addFolder (downloadFolder);
    return places;
}

std::vector<UpdateFilePlace> updateFilePlacesForThisProcess (const juce::String& commandLinePath)
{
    return updateFilePlaces (commandLinePath,
                             juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory(),
                             juce::File::getCurrentWorkingDirectory(),
                             userDownloadFolder());
}

namespace
{
constexpr const char* kDownloadKey = "XDG_DOWNLOAD_DIR";
constexpr const char* kHomeVariable = "$HOME";
constexpr const char* kUserDirsFile = "user-dirs.dirs";
constexpr const char* kDefaultDownloadFolder = "Downloads";
constexpr const char* kDefaultConfigFolder = ".config";

// One line of user-dirs.dirs: KEY="$HOME/Folder" or KEY="/absolute/folder".
std::optional<juce::File> downloadFolderFromLine (const juce::String& line, const juce::File& home)
{
    const auto trimmed = line.trim();

    if (! trimmed.startsWith (juce::String (kDownloadKey) + "="))
        return std::nullopt;

    auto value = trimmed.fromFirstOccurrenceOf ("=", false, false).trim();

    if (value.length() < 2 || ! value.startsWithChar ('"') || ! value.endsWithChar ('"'))
        return std::nullopt;

    value = value.substring (1, value.length() - 1).replace ("\\\"", "\"");

    if (value == kHomeVariable)
        return home;

    if (value.startsWith (juce::String (kHomeVariable) + "/"))
        return home.getChildFile (value.substring (juce::String (kHomeVariable).length() + 1));

    if (juce::File::isAbsolutePath (value))
        return juce::File (value);

    return std::nullopt;
}
} // namespace

juce::File userDownloadFolder (const juce::File& home, const juce::File& configHome)
{
    juce::StringArray lines;
    configHome.getChildFile (kUserDirsFile).readLines (lines);
    std::optional<juce::File> named;

    // The last valid line wins, as when the file is read by a shell.
    for (const auto& line : lines)
        if (auto folder = downloadFolderFromLine (line, home))
            named = folder;

    return named.value_or (home.getChildFile (kDefaultDownloadFolder));
}

juce::File userDownloadFolder()
{
    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    const auto configVariable = juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {});

    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base directory rules say.
    const auto configHome = juce::File::isAbsolutePath (configVariable) ? juce::File (configVariable)
                                                                        : home.getChildFile (kDefaultConfigFolder);
    return userDownloadFolder (home, configHome);
}

std::optional<int32_t> findUpdateFile (const std::vector<UpdateFilePlace>& places, UpdateFileState& state,
                                       UpdateFileSearchReport* report)
{
    UpdateFileSearchReport local;
    auto& searched = report != nullptr ? *report : local;
    searched = {};

    auto notFound = [&state, &searched]
    {
        state.fileState = FILE_NONE;
        searched.error = ERR_FILE_NOT_FOUND;
        return searched.error;
    };

    for (const auto& place : places)
    {
        juce::File chosen;

        if (place.namedFile)
        {
            searched.namedFile = place.path;

            if (! place.path.exists())
                return notFound();

            chosen = place.path;
        }
        else
        {
            searched.searchedFolders.push_back (place.path);
            chosen = chooseUpdateFile (place.path.findChildFiles (juce::File::findFiles, false, kUpdateFilePattern));

            if (chosen == juce::File())
                continue;

            // Gone between the listing and now: this place held a candidate, so
            // the search ends here as it always has.
            if (! chosen.exists())
                return notFound();
        }

        searched.chosen = chosen;
        searched.error = applyUpdateFileCheck (chosen, checkUpdateFile (chosen), state);
        return searched.error;
    }

    return notFound();
}
