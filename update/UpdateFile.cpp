#include "update/UpdateFile.h"

#include "protocol/ByteLayout.h"

#include "platform/RegularFileRead.h"

#include <juce_cryptography/juce_cryptography.h>

#include <vector>

// Every region the worker writes lies inside the checked image.
static_assert (kRegions[REGION_MAIN].fileOffset + kRegions[REGION_MAIN].length <= kImageSize
               && kRegions[REGION_EXTRA].fileOffset + kRegions[REGION_EXTRA].length <= kImageSize
               && kRegions[REGION_INFO].fileOffset + kRegions[REGION_INFO].length <= kImageSize);

namespace
{
constexpr uint32_t kStampByteLimits[kStampLength] = { 0x20, 0x50, 0x12, 0x31 };

bool isDigit (juce::juce_wchar c) noexcept { return c >= '0' && c <= '9'; }
} // namespace

bool isValidStamp (uint32_t stamp) noexcept
{
    for (int i = 0; i < kStampLength; ++i)
    {
        const auto byte = (stamp >> (8 * (kStampLength - 1 - i))) & 0xFFu;

        if (byte > kStampByteLimits[i])
            return false;
    }

    return true;
}

bool isValidVersionText (const juce::String& text)
{
    if (text.length() < kVersionLength)
        return false;

    return isDigit (text[0]) && text[1] == '.' && isDigit (text[2]) && isDigit (text[3]);
}

juce::String versionTextFromBytes (const uint8_t* bytes)
{
    juce::String text;

    for (int i = 0; i < kVersionLength; ++i)
        if (bytes[i] != 0)
            text += juce::String::charToString (static_cast<juce::juce_wchar> (bytes[i]));

    return text;
}

namespace
{
// The checks of checkUpdateImage, without keeping the content.
UpdateFileCheck judgeImage (const uint8_t* data, size_t size)
{
    UpdateFileCheck check;

    if (data == nullptr || static_cast<int64_t> (size) != kImageSize)
    {
        check.result = ERR_FILE_SIZE;
        return check;
    }

    check.stamp = readBigEndian32 (data + kStampOffset);
    // Read before either is judged: what is valid of the two is told even when the
    // other is not.
    check.version = versionTextFromBytes (data + kVersionOffset);

    if (! isValidStamp (*check.stamp))
    {
        check.result = ERR_FILE_CONTENT;
        return check;
    }

    if (! isValidVersionText (*check.version))
    {
        check.result = ERR_FILE_CONTENT;
        return check;
    }

    const auto stored = readLittleEndian16 (data + kCrcOffset);

    if (crc16 (static_cast<size_t> (kCrcOffset), data) != stored)
    {
        check.result = ERR_FILE_CRC;
        return check;
    }

    check.result = kFileCheckPassed;
    return check;
}
} // namespace

juce::String sha256Hex (const uint8_t* data, size_t size)
{
    return juce::SHA256 (data, size).toHexString();
}

UpdateFileCheck checkUpdateImage (const uint8_t* data, size_t size)
{
    auto check = judgeImage (data, size);

    if (data != nullptr)
        check.sha256 = sha256Hex (data, size);

    if (check.passed())
        check.image = std::make_shared<const std::vector<uint8_t>> (data, data + size);

    return check;
}

UpdateFileCheck checkUpdateFile (const juce::File& file)
{
    return checkUpdateFile (file.getFullPathName().toStdString());
}

UpdateFileCheck checkUpdateFile (const std::string& nativePath)
{
    UpdateFileCheck check;

    // Released when this scope ends, whatever the outcome.
    std::vector<uint8_t> content;

    switch (readRegularFile (nativePath, kImageSize, content))
    {
        case RegularFileReadResult::read:
        {
            check = judgeImage (content.data(), content.size());
            // Over the bytes just judged: the file is never read a second time.
            check.sha256 = sha256Hex (content.data(), content.size());

            // The bytes just checked are the ones the update writes; they are moved, not copied.
            if (check.passed())
                check.image = std::make_shared<const std::vector<uint8_t>> (std::move (content));

            return check;
        }

        case RegularFileReadResult::notFound:
            check.result = ERR_FILE_NOT_FOUND;
            break;

        case RegularFileReadResult::unreadable:
            check.result = ERR_FILE_READ;
            break;

        case RegularFileReadResult::wrongSize:
            check.result = ERR_FILE_SIZE;
            break;
    }

    return check;
}

int32_t loadUpdateFile (const juce::File& file, uint32_t& stamp, juce::String& version)
{
    const auto check = checkUpdateFile (file);

    if (check.stamp.has_value())
        stamp = *check.stamp;

    if (check.version.has_value())
        version = *check.version;

    return check.result;
}
