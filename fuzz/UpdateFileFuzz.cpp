// Feeds arbitrary bytes to the update file check, three ways: as a whole image
// in memory, spliced into the places of a valid image that the checks read, and
// as a file on disk. Any crash, out-of-bounds read or broken invariant is a find.

#include "tools/UpdateImageBuilder.h"
#include "update/UpdateFile.h"

#include <cstdio>
#include <unistd.h>

namespace
{
void require (bool condition)
{
    if (! condition)
        __builtin_trap();
}

const std::vector<uint8_t>& pristineImage()
{
    static const auto image = makeUpdateImage ("1.02", 0x20261209, 99);
    return image;
}

uint32_t readStamp (const std::vector<uint8_t>& image)
{
    return readBigEndian32 (image.data() + kStampOffset);
}

void checkRawBytes (const uint8_t* data, size_t size)
{
    require (crc16 (size, data) == crc16Bitwise (size, data));

    const auto check = checkUpdateImage (data, size);

    if (static_cast<int64_t> (size) != kImageSize)
        require (check.result == ERR_FILE_SIZE && ! check.stamp.has_value() && ! check.version.has_value());
}

// Layout of the input: one flag byte, four version bytes, four stamp bytes, two
// CRC bytes, then content that overwrites the image from its start and, from
// the other end, the bytes just before the stored CRC. One working image is
// kept and only the touched bytes are put back afterwards, which keeps an
// execution to about two passes over 2 MiB.
void checkSplicedImage (const uint8_t* data, size_t size)
{
    constexpr size_t headerSize = 11;

    if (size < headerSize)
        return;

    static auto image = pristineImage();
    const auto& pristine = pristineImage();
    const auto flags = data[0];
    const auto content = data + headerSize;
    const auto contentSize = std::min (size - headerSize, static_cast<size_t> (kVersionOffset));
    const auto headSize = contentSize / 2;
    const auto tailStart = image.size() - 2 - (contentSize - headSize);

    for (int64_t i = 0; i < kVersionLength; ++i)
        image[static_cast<size_t> (kVersionOffset + i)] = data[1 + i];

    for (int64_t i = 0; i < kStampLength; ++i)
        image[static_cast<size_t> (kStampOffset + i)] = data[5 + i];

    std::copy (content, content + headSize, image.begin());
    std::copy (content + headSize, content + contentSize, image.begin() + static_cast<ptrdiff_t> (tailStart));

    const auto trueCrc = crc16 (static_cast<size_t> (kCrcOffset), image.data());
    const auto storedCrc = (flags & 1) != 0 ? trueCrc : static_cast<uint16_t> (data[9] | (data[10] << 8));
    image[static_cast<size_t> (kCrcOffset)] = static_cast<uint8_t> (storedCrc & 0xFF);
    image[static_cast<size_t> (kCrcOffset + 1)] = static_cast<uint8_t> (storedCrc >> 8);

    const auto check = checkUpdateImage (image.data(), image.size());
    const auto stamp = readStamp (image);
    const auto version = versionTextFromBytes (image.data() + kVersionOffset);

    require (check.stamp == stamp);

    if (! isValidStamp (stamp))
        require (check.result == ERR_FILE_CONTENT && ! check.version.has_value());
    else
    {
        require (check.version == version);

        if (! isValidVersionText (version))
            require (check.result == ERR_FILE_CONTENT);
        else
            require (check.result == (storedCrc == trueCrc ? kFileCheckPassed : ERR_FILE_CRC));
    }

    require (check.passed() == (check.image != nullptr));

    if (check.passed())
    {
        // The kept image is a copy of what was checked: a later change to the
        // source bytes does not reach it.
        require (*check.image == image);

        auto& changed = image[(static_cast<size_t> (flags) * 4099u) % image.size()];
        changed ^= 0x5A;
        require (*check.image != image);
        changed ^= 0x5A;
    }

    // Put back what this input changed.
    std::copy (pristine.begin(), pristine.begin() + static_cast<ptrdiff_t> (headSize), image.begin());
    std::copy (pristine.begin() + static_cast<ptrdiff_t> (tailStart), pristine.end(), image.begin() + static_cast<ptrdiff_t> (tailStart));
    std::copy (pristine.begin() + kVersionOffset, pristine.begin() + kVersionOffset + kVersionLength, image.begin() + kVersionOffset);
    std::copy (pristine.begin() + kStampOffset, pristine.begin() + kStampOffset + kStampLength, image.begin() + kStampOffset);
}

void checkThroughAFile (const uint8_t* data, size_t size)
{
    static const auto path = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                 .getChildFile ("trb-fuzz-" + juce::String (static_cast<int> (::getpid())))
                                 .getChildFile ("trbkelo7__v001.bin");
    static const bool folderMade = path.getParentDirectory().createDirectory().wasOk();
    require (folderMade);

    auto* out = std::fopen (path.getFullPathName().toRawUTF8(), "wb");
    require (out != nullptr);
    require (std::fwrite (data, 1, size, out) == size);
    require (std::fclose (out) == 0);

    uint32_t stamp = 0xDEADBEEF;
    juce::String version = "untouched";
    const auto result = loadUpdateFile (path, stamp, version);

    // The fuzzer's inputs are far below the image size.
    require (static_cast<int64_t> (size) == kImageSize || (result == ERR_FILE_SIZE && stamp == 0xDEADBEEF && version == "untouched"));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    checkRawBytes (data, size);
    checkSplicedImage (data, size);
    checkThroughAFile (data, size);
    return 0;
}
