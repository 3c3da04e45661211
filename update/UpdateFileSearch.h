#pragma once

#include "update/UpdateFile.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <optional>

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
    were read are stored even when a later check failed.

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
