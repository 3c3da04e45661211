#pragma once

#include "update/UpdateFile.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Update files are named trbkelo7__vNNN.bin: the prefix, three characters read
// as a number (highest wins), the extension.
inline constexpr const char* kUpdateFilePattern = "trbkelo7__v*.bin";
inline constexpr int kUpdateFileNameLength = 18;
inline constexpr int kUpdateFilePrefixLength = 11;
inline constexpr int kUpdateFileNumberLength = 3;

/**
    What the file search leaves behind for the update worker and the display:
    the main component's fileState, fileStamp, fileVersion and region table,
    plus the checked image that the worker writes every block from.
*/
struct UpdateFileState
{
    int32_t fileState = FILE_NONE;
    uint32_t fileStamp = 0;
    juce::String fileVersion;
    juce::String fileSha256; // the checked file's SHA-256 (lower-case hex); empty when none was read
    std::array<UpdateRegion, kRegionCount> regions {};
    CheckedImage checkedImage;
};

/**
    The number in an update file's name: the decimal value that the three
    characters after the prefix begin with, read as the C library's atoi reads
    (leading blanks skipped, stops at the first non-digit, no digit gives 0).
    A name that is not exactly 18 characters gives 0, which is never chosen.
    Any thread.
*/
int updateFileNumber (const juce::String& fileName);

/**
    The file to load from a listing in the file system's order: the highest
    number wins, the first listed wins a tie, a number of 0 or less is never
    chosen. Returns juce::File() when none qualifies. Any thread.
*/
juce::File chooseUpdateFile (const juce::Array<juce::File>& listed);

/**
    Applies the check of the chosen file to state, as the search's last step:
    every region's state takes the check's result; a pass fills the region table
    from kRegions and makes fileState FILE_READY; the stamp and version that
    were read, and the digest of what was read, are stored even when a later
    check failed.

    Returns the error to set (through the status's sticky rule), or nothing on
    success. A file that vanished before it could be read gives ERR_PROTOCOL;
    the other failures give the check's own ERR_FILE_*. Any thread, but state
    must not be read by another thread meanwhile.
*/
std::optional<int32_t> applyUpdateFileCheck (const juce::File& chosen, const UpdateFileCheck& check, UpdateFileState& state);

/**
    Looks for the newest update file in folder (not in its subfolders), checks
    it and fills state: the whole file search of the first press of the main
    button. The main component calls it with the folder of its executable.

    Returns the error to set through the status's sticky rule, or nothing when
    the file is ready (the status then stays ST_INITIAL). No qualifying file,
    or one that is gone before it is loaded, gives ERR_FILE_NOT_FOUND and
    fileState FILE_NONE. Runs on the message thread in the program; blocks only
    on the file system (never on a FIFO or a device named like an update file).
*/
std::optional<int32_t> findUpdateFile (const juce::File& folder, UpdateFileState& state);

/**
    One place where the update file is looked for: a folder whose newest
    update file is taken, or a file named by the user, taken whatever its name.

    path is what is shown; nativePath, when not empty, is the path's bytes as
    the file system knows them (they need not be UTF-8), by which the place is
    listed and its file read. An empty nativePath means path's own text.
*/
struct UpdateFilePlace
{
    juce::File path;
    bool namedFile = false;
    std::string nativePath {};

    /** The place of a path's bytes, shown as their text. */
    static UpdateFilePlace fromNativePath (const std::string& bytes, bool named);

    /** The bytes by which the place is listed or read. */
    std::string bytes() const;

    bool operator== (const UpdateFilePlace& other) const { return bytes() == other.bytes() && namedFile == other.namedFile; }
};

/**
    The places to look in, in order: the path given on the command line (a file,
    or a folder to search; relative to currentFolder; none when empty), the
    program's folder, the current folder, the download folder. A folder already
    in the list is not listed again. Any thread.
*/
std::vector<UpdateFilePlace> updateFilePlaces (const juce::String& commandLinePath, const juce::File& programFolder,
                                               const juce::File& currentFolder, const juce::File& downloadFolder);

/** updateFilePlaces by the paths' bytes: the command line's path as it was
    given (empty when none), the folders as the file system knows them. */
std::vector<UpdateFilePlace> updateFilePlaces (const std::string& commandLinePath, const std::string& programFolder,
                                               const std::string& currentFolder, const std::string& downloadFolder);

/**
    updateFilePlaces for this process: its executable's folder, its working
    folder and the user's download folder; commandLinePath is the argument's
    bytes. What was wrong with the user's folder settings (user-dirs.dirs) is
    added to problems, one line each, when problems is given. Message thread.
*/
std::vector<UpdateFilePlace> updateFilePlacesForThisProcess (const std::string& commandLinePath,
                                                             juce::StringArray* problems = nullptr);

/** The largest user-dirs.dirs that is read; a larger one is not taken. */
inline constexpr size_t kMaxUserDirsBytes = 64 * 1024;

/**
    The download folder that the content of a user-dirs.dirs names, as bytes:
    the last line XDG_DOWNLOAD_DIR="$HOME/..." or ="/absolute/path" (home
    stands for $HOME). Nothing when no line names one; a line that cannot be
    read that way is passed over. The content may be any bytes. Any thread.
*/
std::optional<std::string> downloadFolderFromUserDirs (const std::string& content, const std::string& home);

/**
    The user's download folder as bytes: XDG_DOWNLOAD_DIR as user-dirs.dirs in
    configHome names it, else home's "Downloads". The file is read only when it
    is a regular file (links followed) of at most kMaxUserDirsBytes, opened
    without waiting; anything else (a FIFO, a device, a folder, a larger file)
    gives the default and a line in problems, when given. Any thread.
*/
std::string userDownloadFolder (const std::string& home, const std::string& configHome,
                                juce::StringArray* problems = nullptr);

/** userDownloadFolder for paths given as juce::File. Any thread. */
juce::File userDownloadFolder (const juce::File& home, const juce::File& configHome);

/** userDownloadFolder in this user's home and configuration folders (NativeFiles). Any thread. */
juce::File userDownloadFolder();

/** What a search went through, for the support log. */
struct UpdateFileSearchReport
{
    std::vector<juce::File> searchedFolders; // in the order they were searched
    juce::File namedFile; // the file named by the user, if one was
    juce::File chosen; // the file taken (and checked); none when nothing was found
    std::string chosenPath; // the same file's path as bytes (empty: chosen's own text)
    std::optional<int32_t> error; // as findUpdateFile returns it
};

/**
    Looks through places in order and takes the first candidate: a named file
    as it is, or the newest update file of a folder (as chooseUpdateFile); then
    checks it and fills state as the single-folder search does.

    A named file that does not exist ends the search there, with
    ERR_FILE_NOT_FOUND: the user asked for that file and no other. A folder
    that holds no update file passes the search on to the next place; an entry
    named like one that names nothing (a dangling link) is passed over. Fills
    report (when given) with what was searched and taken. Message thread in the
    program; blocks only on the file system.
*/
std::optional<int32_t> findUpdateFile (const std::vector<UpdateFilePlace>& places, UpdateFileState& state,
                                       UpdateFileSearchReport* report = nullptr);
