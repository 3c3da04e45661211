#pragma once

#include "protocol/Crc16.h"
#include "protocol/ImageLayout.h"
#include "update/Status.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the search found (fileState).
inline constexpr int32_t FILE_NONE = 0;
inline constexpr int32_t FILE_READY = 8;

// The result of a file that passed every check (the other results are ERR_FILE_*).
inline constexpr int32_t kFileCheckPassed = 1;

// Region states: loaded by the file check, then chosen for writing or skipped by the worker.
inline constexpr int32_t REGION_LOADED = 1;
inline constexpr int32_t REGION_WRITE = 2;
inline constexpr int32_t REGION_SKIP = 3;

/**
    One region of the update file to be written into the controller. The file
    search fills it from kRegions once the file passed its checks; the update
    worker then sets state to REGION_WRITE or REGION_SKIP and may shorten the
    info region.
*/
struct UpdateRegion
{
    juce::File file; // the chosen update file (the same in all three)
    int64_t length = 0; // bytes to write
    int64_t fileOffset = 0; // where the region starts in the file
    int64_t deviceAddress = 0; // controller address of the region's first byte
    int32_t state = 0; // REGION_LOADED/WRITE/SKIP, or the failed check's result
    uint8_t command = 0; // byte 0 of every report that concerns the region
};

/**
    The whole update file as it passed its checks. Nothing can change it once
    it is made, and the update worker writes every block from it: the file is
    never read again, so whatever happens to the file afterwards, the controller
    receives exactly the bytes that were checked. Shared read-only between the
    message thread and the worker.
*/
using CheckedImage = std::shared_ptr<const std::vector<uint8_t>>;

/**
    The outcome of checking an update file.

    result is kFileCheckPassed or the first failing check's ERR_FILE_*.
    stamp and version hold what was read before the failing check (they are
    empty when the check stopped before reading them; both are read together, so
    a valid version text is told even when the stamp is invalid). image holds the whole
    checked content only when the file passed, and is null otherwise. sha256 is
    the digest of the content whenever it was read, passed or not, so that a
    user can compare it with the one the maker published.
*/
struct UpdateFileCheck
{
    int32_t result = ERR_FILE_NOT_FOUND;
    std::optional<uint32_t> stamp;
    std::optional<juce::String> version;
    CheckedImage image;
    juce::String sha256; // the SHA-256 of the bytes read, lower-case hex; empty when none were

    bool passed() const noexcept { return result == kFileCheckPassed; }
};

/**
    True when the BCD date stamp (century, year, month, day from the most
    significant byte down) lies within the upper bounds 0x20, 0x50, 0x12, 0x31.
    No lower bound and no test of the single digits. Used for the file's stamp
    and the controller's. Any thread.
*/
bool isValidStamp (uint32_t stamp) noexcept;

/**
    True when the text reads digit, point, digit, digit (for example "1.02");
    characters beyond the fourth are not looked at. Used for the file's version
    text and the controller's. Any thread.
*/
bool isValidVersionText (const juce::String& text);

/**
    The version text of four bytes as the file or the controller hold it: each
    byte becomes the character of the same code, in order; a zero byte adds
    nothing (so the text is then too short to be valid). Any thread.
*/
juce::String versionTextFromBytes (const uint8_t* bytes);

/** The SHA-256 of size bytes at data as 64 lower-case hex digits. Any thread. */
juce::String sha256Hex (const uint8_t* data, size_t size);

/**
    Checks an image in memory, in the file's order: size, date stamp, version
    text, CRC. When every check passed, image holds a copy of the data. Any
    thread; size may be anything (data may be null when size is 0).
*/
UpdateFileCheck checkUpdateImage (const uint8_t* data, size_t size);

/**
    Checks an update file: it exists (else ERR_FILE_NOT_FOUND), is a regular
    file that can be read (else ERR_FILE_READ), is exactly kImageSize bytes
    (else ERR_FILE_SIZE), then the checks of checkUpdateImage.

    At most kImageSize + 1 bytes are ever read and nothing that is not a
    regular file is waited on. The content read is kept as the result's image
    when the file passed, and released before returning on every other path.
    Any thread; used on the message thread by the file search.
*/
UpdateFileCheck checkUpdateFile (const juce::File& file);

/** checkUpdateFile of the file whose path is nativePath, by its bytes (they
    need not be UTF-8). */
UpdateFileCheck checkUpdateFile (const std::string& nativePath);

/**
    checkUpdateFile as the file search calls it: returns kFileCheckPassed or
    the ERR_FILE_* of the first failing check, and stores the date stamp and
    the version text into stamp and version as soon as they were read (also
    when a later check fails); what was not read is left as it was.
*/
int32_t loadUpdateFile (const juce::File& file, uint32_t& stamp, juce::String& version);
