#include "tests/UpdateFileTestSupport.h"
#include "update/UpdateFile.h"
#include "update/UpdateFileSearch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using update_file_test::ScratchFolder;
using update_file_test::validImage;
using update_file_test::withVersion;

TEST (UpdateFileSearch, ReadsTheNumberAsAtoiDoesFromEighteenCharacterNamesOnly)
{
    struct Case
    {
        const char* name;
        int number;
    };

    const Case cases[] = {
        { "trbkelo7__v102.bin", 102 },
        { "trbkelo7__v007.bin", 7 },
        { "trbkelo7__v 12.bin", 12 },
        { "trbkelo7__v1a2.bin", 1 },
        { "trbkelo7__vabc.bin", 0 },
        { "trbkelo7__v-99.bin", -99 },
        { "trbkelo7__v000.bin", 0 },
        { "trbkelo7__v12.bin", 0 },
        { "trbkelo7__v1234.bin", 0 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (updateFileNumber (c.name), c.number) << c.name;
}

TEST (UpdateFileSearch, HighestNumberWinsAndTheFirstListedKeepsATie)
{
    const juce::File folder ("/nowhere");
    const auto v007 = folder.getChildFile ("trbkelo7__v007.bin");
    const auto v7xx = folder.getChildFile ("trbkelo7__v7xx.bin");
    const auto v101 = folder.getChildFile ("trbkelo7__v101.bin");
    const auto v102 = folder.getChildFile ("trbkelo7__v102.bin");
    const auto v000 = folder.getChildFile ("trbkelo7__v000.bin");
    const auto minus = folder.getChildFile ("trbkelo7__v-99.bin");

    EXPECT_EQ (chooseUpdateFile ({ v101, v102 }), v102);
    EXPECT_EQ (chooseUpdateFile ({ v102, v101 }), v102);
    EXPECT_EQ (chooseUpdateFile ({ v007, v7xx }), v007);
    EXPECT_EQ (chooseUpdateFile ({ v7xx, v007 }), v7xx);
    EXPECT_EQ (chooseUpdateFile ({ v000, minus }), juce::File());
    EXPECT_EQ (chooseUpdateFile ({}), juce::File());
}

TEST (UpdateFileSearch, NoQualifyingFileIsNotFound)
{
    const std::vector<std::vector<juce::String>> folders = {
        {},
        { "trbkelo7__v12.bin" },
        { "trbkelo7__v000.bin" },
        { "trbkelo7__v0000.bin", "other.bin", "trbkelo7__v100.txt" },
    };

    for (const auto& names : folders)
    {
        ScratchFolder scratch;

        for (const auto& name : names)
            scratch.write (name, validImage());

        UpdateFileState state;
        state.fileState = FILE_READY;
        EXPECT_EQ (findUpdateFile (scratch.folder, state), ERR_FILE_NOT_FOUND) << names.size();
        EXPECT_EQ (state.fileState, FILE_NONE);
    }
}

TEST (UpdateFileSearch, TheNewestValidFileFillsTheRegionTable)
{
    ScratchFolder scratch;
    scratch.write ("trbkelo7__v101.bin", makeUpdateImage ("1.01", 0x20250101, 1));
    const auto newest = scratch.write ("trbkelo7__v102.bin", makeUpdateImage ("1.02", 0x20261209, 2));
    // Folders are not update files, however they are named.
    ASSERT_TRUE (scratch.folder.getChildFile ("trbkelo7__v999.bin").createDirectory());

    UpdateFileState state;
    EXPECT_EQ (findUpdateFile (scratch.folder, state), std::nullopt);
    EXPECT_EQ (state.fileState, FILE_READY);
    EXPECT_EQ (state.fileStamp, 0x20261209u);
    EXPECT_EQ (state.fileVersion, "1.02");
    ASSERT_NE (state.checkedImage, nullptr);
    EXPECT_EQ (state.checkedImage->size(), (size_t) kImageSize);
    EXPECT_EQ ((*state.checkedImage)[kVersionOffset + 3], '2');

    for (int i = 0; i < kRegionCount; ++i)
    {
        const auto& region = state.regions[static_cast<size_t> (i)];
        EXPECT_EQ (region.file, newest);
        EXPECT_EQ (region.length, kRegions[static_cast<size_t> (i)].length);
        EXPECT_EQ (region.fileOffset, kRegions[static_cast<size_t> (i)].fileOffset);
        EXPECT_EQ (region.deviceAddress, kRegions[static_cast<size_t> (i)].deviceAddress);
        EXPECT_EQ (region.command, kRegions[static_cast<size_t> (i)].command);
        EXPECT_EQ (region.state, REGION_LOADED);
    }

    EXPECT_EQ (state.regions[REGION_MAIN].command, CMD_MAIN);
    EXPECT_EQ (state.regions[REGION_EXTRA].fileOffset, 0x90000);
    EXPECT_EQ (state.regions[REGION_INFO].length, 0x10000);
}

TEST (UpdateFileSearch, ABrokenNewestFileIsReportedNotPassedOver)
{
    ScratchFolder scratch;
    scratch.write ("trbkelo7__v101.bin", validImage());
    auto broken = validImage();
    broken.pop_back();
    scratch.write ("trbkelo7__v102.bin", broken);

    UpdateFileState state;
    EXPECT_EQ (findUpdateFile (scratch.folder, state), ERR_FILE_SIZE);
    EXPECT_EQ (state.fileState, FILE_NONE);

    for (const auto& region : state.regions)
    {
        EXPECT_EQ (region.state, ERR_FILE_SIZE);
        EXPECT_EQ (region.file, juce::File());
        EXPECT_EQ (region.length, 0);
    }
}

TEST (UpdateFileSearch, AFileGoneBeforeItWasReadIsAProtocolError)
{
    UpdateFileState state;
    UpdateFileCheck vanished;
    vanished.result = ERR_FILE_NOT_FOUND;
    EXPECT_EQ (applyUpdateFileCheck (juce::File ("/nowhere/trbkelo7__v001.bin"), vanished, state), ERR_PROTOCOL);
    EXPECT_EQ (state.fileState, FILE_NONE);
}

TEST (UpdateFileSearch, AFileErrorKeepsWhatWasReadForTheDisplay)
{
    ScratchFolder scratch;
    auto image = withVersion ("1.0A");
    scratch.write ("trbkelo7__v005.bin", image);

    UpdateFileState state;
    EXPECT_EQ (findUpdateFile (scratch.folder, state), ERR_FILE_CONTENT);
    EXPECT_EQ (state.fileStamp, 0x20261209u);
    EXPECT_EQ (state.fileVersion, "1.0A");
    EXPECT_EQ (state.checkedImage, nullptr);
}

namespace
{
// The four places of a search, each a folder of its own under one scratch folder.
struct SearchPlaces
{
    SearchPlaces()
    {
        for (auto* folder : { &named, &program, &current, &downloads })
            EXPECT_TRUE (folder->createDirectory());
    }

    std::vector<UpdateFilePlace> places (const juce::String& commandLinePath) const
    {
        return updateFilePlaces (commandLinePath, program, current, downloads);
    }

    ScratchFolder scratch;
    juce::File named = scratch.folder.getChildFile ("named");
    juce::File program = scratch.folder.getChildFile ("program");
    juce::File current = scratch.folder.getChildFile ("current");
    juce::File downloads = scratch.folder.getChildFile ("downloads");
};
} // namespace

TEST (UpdateFileSearch, EachPlaceIsSearchedInTurnAndTheFirstHoldingAFileWins)
{
    SearchPlaces p;
    const std::vector<juce::File> order { p.named, p.program, p.current, p.downloads };

    // From the last place to the first, each place gets a file numbered lower
    // than the ones already lying in later places: the earlier place still wins.
    for (int i = (int) order.size() - 1; i >= 0; --i)
    {
        const auto file = order[(size_t) i].getChildFile ("trbkelo7__v" + juce::String (100 + i) + ".bin");
        ASSERT_TRUE (file.replaceWithData (validImage().data(), validImage().size()));

        UpdateFileState state;
        UpdateFileSearchReport report;
        EXPECT_EQ (findUpdateFile (p.places ("../named"), state, &report), std::nullopt) << i;
        EXPECT_EQ (report.chosen, file);
        EXPECT_EQ (state.regions[REGION_MAIN].file, file);
        EXPECT_EQ (report.searchedFolders, std::vector<juce::File> (order.begin(), order.begin() + i + 1));
    }
}

TEST (UpdateFileSearch, AFaultyFileInAnEarlierPlaceIsReportedNotPassedOver)
{
    SearchPlaces p;
    auto broken = validImage();
    broken[100] ^= 0xff;
    const auto faulty = p.program.getChildFile ("trbkelo7__v101.bin");
    faulty.replaceWithData (broken.data(), broken.size());
    p.downloads.getChildFile ("trbkelo7__v102.bin").replaceWithData (validImage().data(), validImage().size());

    UpdateFileState state;
    UpdateFileSearchReport report;
    EXPECT_EQ (findUpdateFile (p.places ({}), state, &report), ERR_FILE_CRC);
    EXPECT_EQ (report.chosen, faulty);
    EXPECT_EQ (state.fileState, FILE_NONE);
}

TEST (UpdateFileSearch, ANamedFileIsTakenWhateverItsNameAndOnlyIt)
{
    SearchPlaces p;
    p.program.getChildFile ("trbkelo7__v300.bin").replaceWithData (validImage().data(), validImage().size());
    const auto named = p.named.getChildFile ("firmware (1).bin");
    named.replaceWithData (validImage().data(), validImage().size());

    // Relative to the current folder, or absolute.
    for (const auto& path : { juce::String ("../named/firmware (1).bin"), named.getFullPathName() })
    {
        UpdateFileState state;
        UpdateFileSearchReport report;
        EXPECT_EQ (findUpdateFile (p.places (path), state, &report), std::nullopt) << path;
        EXPECT_EQ (report.chosen, named);
        EXPECT_TRUE (report.searchedFolders.empty());
    }

    // One that does not exist ends the search: no other file is taken instead.
    const auto missing = p.named.getChildFile ("trbkelo7__v999.bin");
    UpdateFileState state;
    state.fileState = FILE_READY;
    UpdateFileSearchReport report;
    EXPECT_EQ (findUpdateFile (p.places (missing.getFullPathName()), state, &report), ERR_FILE_NOT_FOUND);
    EXPECT_EQ (report.namedFile, missing);
    EXPECT_EQ (report.chosen, juce::File());
    EXPECT_EQ (state.fileState, FILE_NONE);
}

TEST (UpdateFileSearch, NothingAnywhereIsNotFoundAfterEveryFolderOnce)
{
    SearchPlaces p;
    UpdateFileState state;
    UpdateFileSearchReport report;

    // The current folder is also the program's, and is searched only once.
    EXPECT_EQ (findUpdateFile (updateFilePlaces ({}, p.program, p.program, p.downloads), state, &report), ERR_FILE_NOT_FOUND);
    EXPECT_EQ (report.searchedFolders, (std::vector<juce::File> { p.program, p.downloads }));
    EXPECT_EQ (report.namedFile, juce::File());
    EXPECT_EQ (report.chosen, juce::File());
}

TEST (UpdateFileSearch, TheDownloadFolderIsTheOneTheUserDirsName)
{
    ScratchFolder scratch;
    const auto home = scratch.folder.getChildFile ("home");
    const auto config = home.getChildFile (".config");
    ASSERT_TRUE (config.createDirectory());

    const struct
    {
        const char* userDirs; // nullptr: no user-dirs.dirs at all
        juce::File expected;
    } cases[] = {
        { nullptr, home.getChildFile ("Downloads") },
        { "XDG_DOWNLOAD_DIR=\"$HOME/T\xc3\xa9l\xc3\xa9"
          "chargements\"\n",
          home.getChildFile (juce::String::fromUTF8 ("T\xc3\xa9l\xc3\xa9"
                                                     "chargements")) },
        { "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOWNLOAD_DIR=\"/srv/dl\"  \n", juce::File ("/srv/dl") },
        { "XDG_DOWNLOAD_DIR=\"$HOME\"\n", home },
        { "XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"$HOME/b\"\n", home.getChildFile ("b") },
        // Lines that cannot be read that way are passed over.
        { "XDG_DOWNLOAD_DIR=relative\nXDG_DOWNLOAD_DIR=\"dl\"\nXDG_DOWNLOAD_DIRS=\"/x\"\n", home.getChildFile ("Downloads") },
    };

    for (const auto& c : cases)
    {
        const auto userDirs = config.getChildFile ("user-dirs.dirs");
        userDirs.deleteFile();

        if (c.userDirs != nullptr)
        {
            ASSERT_TRUE (userDirs.replaceWithText (juce::String::fromUTF8 (c.userDirs)));
        }

        EXPECT_EQ (userDownloadFolder (home, config), c.expected) << (c.userDirs != nullptr ? c.userDirs : "none");
    }
}

TEST (UpdateFileSearch, ThisUsersUserDirsAreReadFromAnAbsoluteXdgConfigHomeElseHomesDotConfig)
{
    ScratchFolder scratch;
    const auto home = scratch.folder.getChildFile ("home");
    const auto config = scratch.folder.getChildFile ("config");
    ASSERT_TRUE (home.getChildFile (".config").createDirectory() && config.createDirectory());
    ASSERT_TRUE (home.getChildFile (".config/user-dirs.dirs").replaceWithText ("XDG_DOWNLOAD_DIR=\"/srv/home-config\"\n"));
    ASSERT_TRUE (config.getChildFile ("user-dirs.dirs").replaceWithText ("XDG_DOWNLOAD_DIR=\"/srv/xdg-config\"\n"));

    // The process's own environment, put back as it was whatever the outcome.
    struct SavedVariable
    {
        explicit SavedVariable (const char* variableName)
            : name (variableName)
        {
            if (const char* value = std::getenv (name))
                saved = value;
        }

        ~SavedVariable()
        {
            if (saved)
                ::setenv (name, saved->c_str(), 1);
            else
                ::unsetenv (name);
        }

        const char* name;
        std::optional<std::string> saved;
    } savedHome ("HOME"), savedConfig ("XDG_CONFIG_HOME");

    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    const struct
    {
        std::optional<std::string> configHome;
        const char* expected;
    } cases[] = {
        { config.getFullPathName().toStdString(), "/srv/xdg-config" },
        { std::nullopt, "/srv/home-config" },
        { std::string(), "/srv/home-config" },
        // A relative XDG_CONFIG_HOME is invalid and is passed over.
        { "config", "/srv/home-config" },
    };

    for (const auto& c : cases)
    {
        if (c.configHome)
            ::setenv ("XDG_CONFIG_HOME", c.configHome->c_str(), 1);
        else
            ::unsetenv ("XDG_CONFIG_HOME");

        EXPECT_EQ (userDownloadFolder(), juce::File (c.expected)) << c.configHome.value_or ("(unset)");
    }
}

// Names as the file system holds them: bytes that need not be UTF-8.
namespace
{
const std::string kReplacement = "\xef\xbf\xbd"; // U+FFFD

// A name of 18 characters once its bad byte is shown as U+FFFD: number 1.
const std::string kByteName = "trbkelo7__v1\xff"
                              "3.bin";

std::string bytesOf (const juce::File& file)
{
    return file.getFullPathName().toStdString();
}

bool writeBytes (const std::string& path, const std::vector<uint8_t>& bytes)
{
    const auto fd = ::open (path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);

    if (fd < 0)
        return false;

    const auto written = ::write (fd, bytes.data(), bytes.size());
    ::close (fd);
    return written == static_cast<ssize_t> (bytes.size());
}
} // namespace

TEST (UpdateFileSearch, AFileNameThatIsNotUtf8IsTakenFromEachPlaceByItsBytes)
{
    for (int place = 0; place < 3; ++place)
    {
        SearchPlaces p;
        const auto folder = bytesOf (place == 0 ? p.program : place == 1 ? p.current
                                                                         : p.downloads);
        ASSERT_TRUE (writeBytes (folder + "/" + kByteName, validImage()));
        // Beside it, a name far longer than the text its bytes measure as.
        ASSERT_TRUE (writeBytes (folder + "/trbkelo7__v\x80" + std::string (200, 'a') + ".bin", {}));

        UpdateFileState state;
        UpdateFileSearchReport report;
        EXPECT_EQ (findUpdateFile (p.places ({}), state, &report), std::nullopt) << place;
        EXPECT_EQ (bytesOf (report.chosen), folder + "/trbkelo7__v1" + kReplacement + "3.bin") << place;
        EXPECT_EQ (state.fileState, FILE_READY) << place;
    }
}

TEST (UpdateFileSearch, AFileOrFolderNamedInBytesThatAreNotUtf8IsTaken)
{
    SearchPlaces p;
    const auto current = bytesOf (p.current);
    const std::string oddFolder = current + "/dl\xfe\xfe";
    ASSERT_EQ (::mkdir (oddFolder.c_str(), 0700), 0);
    ASSERT_TRUE (writeBytes (oddFolder + "/trbkelo7__v200.bin", validImage()));
    ASSERT_TRUE (writeBytes (current + "/firmware \x80.bin", validImage()));

    const struct
    {
        std::string commandLine, programFolder, currentFolder;
        std::string chosen;
    } cases[] = {
        // The named file, relative to the current folder and absolute.
        { "firmware \x80.bin", {}, current, current + "/firmware " + kReplacement + ".bin" },
        { current + "/firmware \x80.bin", {}, current, current + "/firmware " + kReplacement + ".bin" },
        // A named folder, and the same folder as the current one.
        { "dl\xfe\xfe", {}, current, current + "/dl" + kReplacement + kReplacement + "/trbkelo7__v200.bin" },
        { {}, {}, oddFolder, current + "/dl" + kReplacement + kReplacement + "/trbkelo7__v200.bin" },
    };

    for (const auto& c : cases)
    {
        UpdateFileState state;
        UpdateFileSearchReport report;
        const auto places = updateFilePlaces (c.commandLine, c.programFolder, c.currentFolder, std::string());
        EXPECT_EQ (findUpdateFile (places, state, &report), std::nullopt) << c.chosen;
        EXPECT_EQ (bytesOf (report.chosen), c.chosen);
        EXPECT_EQ (state.fileState, FILE_READY) << c.chosen;
    }
}

TEST (UpdateFileSearch, ADanglingLinkNamedLikeAnUpdateFileIsPassedOver)
{
    SearchPlaces p;
    const auto valid = p.program.getChildFile ("trbkelo7__v100.bin");
    ASSERT_TRUE (valid.replaceWithData (validImage().data(), validImage().size()));
    ASSERT_EQ (::symlink ("/nonexistent/trbkelo7", bytesOf (p.program.getChildFile ("trbkelo7__v200.bin")).c_str()), 0);
    // A place holding nothing but a dangling link passes the search on.
    ASSERT_EQ (::symlink ("missing.bin", bytesOf (p.named.getChildFile ("trbkelo7__v900.bin")).c_str()), 0);

    UpdateFileState state;
    UpdateFileSearchReport report;
    EXPECT_EQ (findUpdateFile (p.places ("../named"), state, &report), std::nullopt);
    EXPECT_EQ (report.chosen, valid);
    EXPECT_EQ (state.fileState, FILE_READY);

    // With no file left at all, the usual not-found.
    ASSERT_TRUE (valid.deleteFile());
    EXPECT_EQ (findUpdateFile (p.places ("../named"), state, &report), ERR_FILE_NOT_FOUND);
    EXPECT_EQ (report.chosen, juce::File());
}

TEST (UpdateFileSearch, AUserDirsFileThatIsNoSmallRegularFileGivesTheDefaultWithoutWaiting)
{
    ScratchFolder scratch;
    const auto home = bytesOf (scratch.folder);
    const auto config = home + "/.config";
    const auto userDirs = config + "/user-dirs.dirs";
    ASSERT_EQ (::mkdir (config.c_str(), 0700), 0);
    const std::string named = "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n";

    const struct
    {
        const char* what;
        std::function<bool()> make;
        std::string expected;
        bool problem;
    } cases[] = {
        { "a FIFO", [&]
          { return ::mkfifo (userDirs.c_str(), 0600) == 0; },
          home + "/Downloads", true },
        { "a link to /dev/zero", [&]
          { return ::symlink ("/dev/zero", userDirs.c_str()) == 0; },
          home + "/Downloads", true },
        { "a folder", [&]
          { return ::mkdir (userDirs.c_str(), 0700) == 0; },
          home + "/Downloads", true },
        { "a file over 64 KiB", [&]
          { return writeBytes (userDirs, std::vector<uint8_t> (named.begin(), named.end()))
                   && ::truncate (userDirs.c_str(), kMaxUserDirsBytes + 1) == 0; },
          home + "/Downloads", true },
        { "a file of exactly 64 KiB", [&]
          { return writeBytes (userDirs, std::vector<uint8_t> (named.begin(), named.end()))
                   && ::truncate (userDirs.c_str(), kMaxUserDirsBytes) == 0; },
          home + "/dl", false },
        // Dotfile managers link it to a regular file: that is read.
        { "a link to a regular file", [&]
          { return writeBytes (config + "/real", std::vector<uint8_t> (named.begin(), named.end()))
                   && ::symlink ("real", userDirs.c_str()) == 0; },
          home + "/dl", false },
        { "a folder name that is not UTF-8", [&]
          { const std::string odd = "XDG_DOWNLOAD_DIR=\"$HOME/T\xe9l\xe9" "chargements\"\n";
            return writeBytes (userDirs, std::vector<uint8_t> (odd.begin(), odd.end())); },
          home + "/T\xe9l\xe9"
                 "chargements",
          false },
    };

    for (const auto& c : cases)
    {
        ::unlink (userDirs.c_str());
        ::rmdir (userDirs.c_str());
        ASSERT_TRUE (c.make()) << c.what;

        // On a thread of its own that is left behind if it hangs, so that the
        // test fails instead of waiting with it.
        using Found = std::pair<std::string, juce::StringArray>;
        auto promise = std::make_shared<std::promise<Found>>();
        auto found = promise->get_future();
        std::thread ([promise, home, config]
                     {
                         juce::StringArray problems;
                         auto folder = userDownloadFolder (home, config, &problems);
                         promise->set_value ({ folder, problems }); })
            .detach();
        ASSERT_EQ (found.wait_for (std::chrono::seconds (60)), std::future_status::ready) << c.what;
        const auto [folder, problems] = found.get();
        EXPECT_EQ (folder, c.expected) << c.what;
        EXPECT_EQ (problems.size(), c.problem ? 1 : 0) << c.what;
    }
}
