#include "update/UpdateFileSearch.h"

#include "platform/NativeFiles.h"
#include "text/ExternalText.h"

#include <algorithm>
#include <cstdlib>

UpdateFilePlace UpdateFilePlace::fromNativePath (const std::string& bytes, bool named)
{
    return { NativeFiles::shown (bytes), named, bytes };
}

std::string UpdateFilePlace::bytes() const
{
    return nativePath.empty() ? NativeFiles::bytesOf (path) : nativePath;
}

int updateFileNumber (const juce::String& fileName)
{
    if (fileName.length() != kUpdateFileNameLength)
        return 0;

    const auto digits = fileName.substring (kUpdateFilePrefixLength, kUpdateFilePrefixLength + kUpdateFileNumberLength);
    return std::atoi (digits.toRawUTF8());
}

namespace
{
// The index of the name with the highest number; -1 when none qualifies.
int newestIndex (const juce::StringArray& names)
{
    int chosen = -1;
    int best = 0;

    for (int i = 0; i < names.size(); ++i)
    {
        const auto number = updateFileNumber (names[i]);

        // Strictly greater: the first listed keeps a tie, and 0 is never taken.
        if (number > best)
        {
            best = number;
            chosen = i;
        }
    }

    return chosen;
}

// chooseUpdateFile for paths as bytes: the names are judged by their text.
std::string chooseNewest (const std::vector<std::string>& listed)
{
    juce::StringArray names;

    for (const auto& path : listed)
        names.add (ExternalText::fromBytes (NativeFiles::nameOf (path)));

    const auto index = newestIndex (names);
    return index >= 0 ? listed[static_cast<size_t> (index)] : std::string();
}
} // namespace

juce::File chooseUpdateFile (const juce::Array<juce::File>& listed)
{
    juce::StringArray names;

    for (const auto& file : listed)
        names.add (file.getFileName());

    const auto index = newestIndex (names);
    return index >= 0 ? listed[index] : juce::File();
}

std::optional<int32_t> applyUpdateFileCheck (const juce::File& chosen, const UpdateFileCheck& check, UpdateFileState& state)
{
    if (check.stamp.has_value())
        state.fileStamp = *check.stamp;

    if (check.version.has_value())
        state.fileVersion = *check.version;

    state.fileSha256 = check.sha256;

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
    auto bytesOf = [] (const juce::File& folder)
    { return folder != juce::File() ? NativeFiles::bytesOf (folder) : std::string(); };

    return updateFilePlaces (commandLinePath.toStdString(), bytesOf (programFolder), bytesOf (currentFolder),
                             bytesOf (downloadFolder));
}

std::vector<UpdateFilePlace> updateFilePlaces (const std::string& commandLinePath, const std::string& programFolder,
                                               const std::string& currentFolder, const std::string& downloadFolder)
{
    std::vector<UpdateFilePlace> places;

    auto addFolder = [&places] (const std::string& folder)
    {
        const auto place = UpdateFilePlace::fromNativePath (folder, false);

        if (! folder.empty() && std::find (places.begin(), places.end(), place) == places.end())
            places.push_back (place);
    };

    if (! commandLinePath.empty())
    {
        const auto named = NativeFiles::join (currentFolder, commandLinePath);

        // Whatever is not a folder is taken as the file meant, also when it does
        // not exist: the search then says so instead of taking another file.
        if (NativeFiles::kindOf (named) == NativeFiles::Kind::folder)
            addFolder (named);
        else
            places.push_back (UpdateFilePlace::fromNativePath (named, true));
    }

    addFolder (programFolder);
    addFolder (currentFolder);
    addFolder (downloadFolder);
    return places;
}

namespace
{
constexpr const char* kDownloadKey = "XDG_DOWNLOAD_DIR";
constexpr const char* kHomeVariable = "$HOME";
constexpr const char* kUserDirsFile = "user-dirs.dirs";
constexpr const char* kDefaultDownloadFolder = "Downloads";

constexpr const char* kBlanks = " \t\r\n\v\f";

std::string trimmed (const std::string& text)
{
    const auto first = text.find_first_not_of (kBlanks);

    if (first == std::string::npos)
        return {};

    return text.substr (first, text.find_last_not_of (kBlanks) - first + 1);
}

// One line of user-dirs.dirs: KEY="$HOME/Folder" or KEY="/absolute/folder".
std::optional<std::string> downloadFolderFromLine (const std::string& line, const std::string& home)
{
    const auto key = std::string (kDownloadKey) + "=";
    const auto text = trimmed (line);

    if (text.compare (0, key.size(), key) != 0)
        return std::nullopt;

    const auto quoted = trimmed (text.substr (key.size()));

    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"')
        return std::nullopt;

    std::string value;
    const auto inner = quoted.substr (1, quoted.size() - 2);

    for (size_t i = 0; i < inner.size(); ++i)
    {
        // \" stands for a quote; every other backslash stays as it is.
        if (inner[i] == '\\' && i + 1 < inner.size() && inner[i + 1] == '"')
            ++i;

        value += inner[i];
    }

    // A folder is never named with a null byte in it.
    if (value.find ('\0') != std::string::npos)
        return std::nullopt;

    const std::string homeVariable (kHomeVariable);

    if (value == homeVariable)
        return home;

    if (value.compare (0, homeVariable.size() + 1, homeVariable + "/") == 0)
        return NativeFiles::join (home, value.substr (homeVariable.size() + 1));

    if (! value.empty() && value.front() == '/')
        return value;

    return std::nullopt;
}
} // namespace

std::optional<std::string> downloadFolderFromUserDirs (const std::string& content, const std::string& home)
{
    std::optional<std::string> named;
    size_t start = 0;

    // The last valid line wins, as when the file is read by a shell.
    while (start < content.size())
    {
        const auto end = std::min (content.find ('\n', start), content.size());

        if (auto folder = downloadFolderFromLine (content.substr (start, end - start), home))
            named = std::move (folder);

        start = end + 1;
    }

    return named;
}

std::string userDownloadFolder (const std::string& home, const std::string& configHome, juce::StringArray* problems)
{
    const auto file = NativeFiles::join (configHome, kUserDirsFile);
    const auto fallback = NativeFiles::join (home, kDefaultDownloadFolder);
    juce::String problem;
    const auto content = NativeFiles::readSmallRegularFile (file, kMaxUserDirsBytes, problem);

    if (! content.has_value())
    {
        if (problem.isNotEmpty() && problems != nullptr)
            problems->add ("download folder: " + NativeFiles::shown (file).getFullPathName() + " " + problem
                           + "; using " + NativeFiles::shown (fallback).getFullPathName());

        return fallback;
    }

    return downloadFolderFromUserDirs (*content, home).value_or (fallback);
}

juce::File userDownloadFolder (const juce::File& home, const juce::File& configHome)
{
    return NativeFiles::shown (userDownloadFolder (NativeFiles::bytesOf (home), NativeFiles::bytesOf (configHome)));
}

namespace
{
std::string thisUsersDownloadFolder (juce::StringArray* problems)
{
    if (auto known = NativeFiles::knownDownloadFolder())
        return *known;

    return userDownloadFolder (NativeFiles::homeFolder(), NativeFiles::configFolder(), problems);
}
} // namespace

juce::File userDownloadFolder()
{
    return NativeFiles::shown (thisUsersDownloadFolder (nullptr));
}

std::vector<UpdateFilePlace> updateFilePlacesForThisProcess (const std::string& commandLinePath, juce::StringArray* problems)
{
    return updateFilePlaces (commandLinePath, NativeFiles::programFolder(), NativeFiles::currentFolder(),
                             thisUsersDownloadFolder (problems));
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
        std::string chosen;

        if (place.namedFile)
        {
            searched.namedFile = place.path;
            chosen = place.bytes();

            if (NativeFiles::kindOf (chosen) == NativeFiles::Kind::nothing)
                return notFound();
        }
        else
        {
            searched.searchedFolders.push_back (place.path);

            // Listed by the bytes of the names: a name that is not UTF-8 is
            // still found, and still opened by its own bytes.
            chosen = chooseNewest (NativeFiles::listFiles (place.bytes(), kUpdateFilePattern));

            if (chosen.empty())
                continue;

            // Gone between the listing and now: this place held a candidate, so
            // the search ends here as it always has.
            if (NativeFiles::kindOf (chosen) == NativeFiles::Kind::nothing)
                return notFound();
        }

        // A named file is shown as it was named; a listed one as its text.
        const auto shown = place.namedFile ? place.path : NativeFiles::shown (chosen);
        searched.chosen = shown;
        searched.chosenPath = chosen;
        searched.error = applyUpdateFileCheck (shown, checkUpdateFile (chosen), state);
        return searched.error;
    }

    return notFound();
}
