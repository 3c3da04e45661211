#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <string>
#include <vector>

/** How reading a file of an expected size ended. */
enum class RegularFileReadResult
{
    read, // exactly the expected number of bytes were read
    notFound, // the path is empty or names nothing (also: vanished before it was opened)
    unreadable, // not a regular file (folder, FIFO, device, socket), or opening or reading failed
    wrongSize, // a regular file that is not the expected size (or grew while it was read)
};

/**
    Reads a regular file that must be exactly expectedSize bytes long into
    content, without ever reading more than expectedSize + 1 bytes or waiting
    on something that is not a regular file.

    A name may point at a FIFO or at a device (through a link) just as well as
    at a file; opening does not wait for a writer, and such entries are refused
    before anything is read. The size is taken from the open file first, so a
    huge file is refused without being read; a file that shrinks while it is
    read is unreadable, one that grows is the wrong size.

    content is resized to expectedSize on success and left empty otherwise.
    Any thread; blocking only on the file system itself.
*/
RegularFileReadResult readRegularFile (const juce::File& file, int64_t expectedSize, std::vector<uint8_t>& content);

/** readRegularFile of the file whose path is nativePath, opened by its bytes
    (they need not be UTF-8). */
RegularFileReadResult readRegularFile (const std::string& nativePath, int64_t expectedSize, std::vector<uint8_t>& content);
