#include "tests/UpdateFileTestSupport.h"
#include "update/UpdateFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using update_file_test::ScratchFolder;
using update_file_test::validImage;
using update_file_test::withStamp;
using update_file_test::withVersion;

namespace
{
int32_t checkBytes (const ScratchFolder& scratch, const std::vector<uint8_t>& bytes)
{
    uint32_t stamp = 0;
    juce::String version;
    return loadUpdateFile (scratch.write ("trbkelo7__v001.bin", bytes), stamp, version);
}
} // namespace

TEST (UpdateFile, StampBytesAreTestedAgainstTheirUpperBoundsOnly)
{
    struct Case
    {
        uint32_t stamp;
        bool valid;
    };

    const Case cases[] = {
        { 0x20501231, true }, // every byte at its bound
        { 0x00000000, true }, // no lower bound
        { 0x20260A00, true }, // single BCD digits are not tested
        { 0x21000000, false }, // century
        { 0x00510000, false }, // year
        { 0x00001300, false }, // month
        { 0x00000032, false }, // day
        { 0xFFFFFFFF, false },
    };

    ScratchFolder scratch;

    for (const auto& c : cases)
    {
        EXPECT_EQ (isValidStamp (c.stamp), c.valid) << std::hex << c.stamp;
        EXPECT_EQ (checkBytes (scratch, withStamp (c.stamp)), c.valid ? kFileCheckPassed : ERR_FILE_CONTENT) << std::hex << c.stamp;
    }
}

TEST (UpdateFile, VersionTextMustBeDigitPointDigitDigit)
{
    struct Case
    {
        const char* text;
        bool valid;
    };

    const Case cases[] = {
        { "9.99", true },
        { "0.00", true },
        { "1.02 beta", true }, // beyond the fourth is not looked at
        { "1.0A", false },
        { "10.2", false },
        { "1,02", false },
        { "1.0", false },
        { "", false },
        { "A.00", false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (isValidVersionText (c.text), c.valid) << c.text;

    ScratchFolder scratch;
    EXPECT_EQ (checkBytes (scratch, withVersion ("9.99")), kFileCheckPassed);
    EXPECT_EQ (checkBytes (scratch, withVersion ("1.0A")), ERR_FILE_CONTENT);
    EXPECT_EQ (checkBytes (scratch, withVersion ("10.2")), ERR_FILE_CONTENT);
}

TEST (UpdateFile, VersionBytesBecomeCharactersOfTheSameCodeAndZerosAddNothing)
{
    const uint8_t withZero[] = { '1', 0, '0', '2' };
    EXPECT_EQ (versionTextFromBytes (withZero), "102");

    const uint8_t highBytes[] = { '1', '.', 0xE9, 0xFF };
    const auto text = versionTextFromBytes (highBytes);
    ASSERT_EQ (text.length(), 4);
    EXPECT_EQ (text[2], static_cast<juce::juce_wchar> (0xE9));
    EXPECT_EQ (text[3], static_cast<juce::juce_wchar> (0xFF));
    EXPECT_FALSE (isValidVersionText (text));
}

TEST (UpdateFile, RejectsAFileOneByteShortOrLong)
{
    ScratchFolder scratch;

    auto shorter = validImage();
    shorter.pop_back();
    EXPECT_EQ (checkBytes (scratch, shorter), ERR_FILE_SIZE);

    auto longer = validImage();
    longer.push_back (0);
    EXPECT_EQ (checkBytes (scratch, longer), ERR_FILE_SIZE);

    EXPECT_EQ (checkBytes (scratch, {}), ERR_FILE_SIZE);
    EXPECT_EQ (checkBytes (scratch, validImage()), kFileCheckPassed);
}

TEST (UpdateFile, RejectsSwappedCrcBytesAndAnyChangedByte)
{
    ScratchFolder scratch;
    auto swapped = validImage();
    ASSERT_NE (swapped[kCrcOffset], swapped[kCrcOffset + 1]);
    std::swap (swapped[kCrcOffset], swapped[kCrcOffset + 1]);
    EXPECT_EQ (checkBytes (scratch, swapped), ERR_FILE_CRC);

    // A byte outside every region is covered by the CRC as well.
    auto changed = validImage();
    changed[0x150000] ^= 0x01;
    EXPECT_EQ (checkBytes (scratch, changed), ERR_FILE_CRC);
}

TEST (UpdateFile, AFileFullOfFFFailsOnItsStamp)
{
    ScratchFolder scratch;
    EXPECT_EQ (checkBytes (scratch, std::vector<uint8_t> (static_cast<size_t> (kImageSize), 0xFF)), ERR_FILE_CONTENT);
}

TEST (UpdateFile, OutParametersHoldWhatWasReadBeforeTheFailingCheck)
{
    struct Case
    {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t result;
        uint32_t stamp;
        const char* version;
    };

    auto badCrc = validImage();
    badCrc[kCrcOffset] ^= 0xFF;
    auto badStamp = withVersion ("9.99");
    setImageStamp (badStamp, 0x20501232);
    auto shortFile = validImage();
    shortFile.resize (100);

    const Case cases[] = {
        { "wrong size: nothing read", shortFile, ERR_FILE_SIZE, 0xDEADBEEF, "untouched" },
        { "bad stamp: both read (the version is told when it is valid)", badStamp, ERR_FILE_CONTENT, 0x20501232, "9.99" },
        { "bad version: both read", withVersion ("1.0A"), ERR_FILE_CONTENT, 0x20261209, "1.0A" },
        { "bad CRC: both read", badCrc, ERR_FILE_CRC, 0x20261209, "1.02" },
        { "valid", validImage(), kFileCheckPassed, 0x20261209, "1.02" },
    };

    ScratchFolder scratch;

    for (const auto& c : cases)
    {
        uint32_t stamp = 0xDEADBEEF;
        juce::String version = "untouched";
        EXPECT_EQ (loadUpdateFile (scratch.write ("trbkelo7__v001.bin", c.bytes), stamp, version), c.result) << c.what;
        EXPECT_EQ (stamp, c.stamp) << c.what;
        EXPECT_EQ (version, c.version) << c.what;
    }
}

TEST (UpdateFile, MissingPathsAreNotFoundAndWhatIsNoRegularFileCannotBeRead)
{
    ScratchFolder scratch;
    uint32_t stamp = 0;
    juce::String version;

    EXPECT_EQ (loadUpdateFile (juce::File(), stamp, version), ERR_FILE_NOT_FOUND);
    EXPECT_EQ (loadUpdateFile (scratch.folder.getChildFile ("trbkelo7__v001.bin"), stamp, version), ERR_FILE_NOT_FOUND);

    const auto folder = scratch.folder.getChildFile ("trbkelo7__v002.bin");
    ASSERT_TRUE (folder.createDirectory());
    EXPECT_EQ (loadUpdateFile (folder, stamp, version), ERR_FILE_READ);

    // A link to a device that would hand out bytes for ever.
    const auto device = scratch.folder.getChildFile ("trbkelo7__v003.bin");
    ASSERT_EQ (::symlink ("/dev/zero", device.getFullPathName().toRawUTF8()), 0);
    EXPECT_EQ (loadUpdateFile (device, stamp, version), ERR_FILE_READ);
}

TEST (UpdateFile, AFifoNamedLikeAnUpdateFileDoesNotBlock)
{
    ScratchFolder scratch;
    const auto fifo = scratch.folder.getChildFile ("trbkelo7__v001.bin");
    ASSERT_EQ (::mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);

    auto check = std::async (std::launch::async, [&fifo]
                             { return checkUpdateFile (fifo).result; });
    const auto finished = check.wait_for (std::chrono::seconds (10)) == std::future_status::ready;

    if (! finished)
    {
        // Release a reader stuck in open() or read() so the test can end.
        const auto writer = ::open (fifo.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close (writer);
    }

    ASSERT_TRUE (finished) << "the check waited on a FIFO";
    EXPECT_EQ (check.get(), ERR_FILE_READ);
}

TEST (UpdateFile, AHugeFileIsRefusedWithoutBeingRead)
{
    // 64 GiB, sparse: reading it whole would exhaust this machine's memory.
    ScratchFolder scratch;
    const auto huge = scratch.folder.getChildFile ("trbkelo7__v001.bin");
    ASSERT_TRUE (huge.create());
    ASSERT_EQ (::truncate (huge.getFullPathName().toRawUTF8(), off_t { 64 } << 30), 0);

    uint32_t stamp = 0xDEADBEEF;
    juce::String version = "untouched";
    EXPECT_EQ (loadUpdateFile (huge, stamp, version), ERR_FILE_SIZE);
    EXPECT_EQ (stamp, 0xDEADBEEF);
}

TEST (UpdateFile, ImageChecksStopAtTheFirstFailureInFileOrder)
{
    // Stamp before version before CRC: a file bad in all three reports its stamp (and
    // carries its version text, which is read either way).
    auto image = validImage();
    setImageStamp (image, 0x21000000);
    setImageVersion (image, "X.YZ");
    image[kCrcOffset] ^= 0xFF;

    const auto check = checkUpdateImage (image.data(), image.size());
    EXPECT_EQ (check.result, ERR_FILE_CONTENT);
    EXPECT_EQ (check.stamp, 0x21000000u);
    EXPECT_EQ (check.version, juce::String ("X.YZ"));
    EXPECT_EQ (check.image, nullptr);

    EXPECT_EQ (checkUpdateImage (nullptr, 0).result, ERR_FILE_SIZE);
}

TEST (UpdateFile, APassedFileKeepsExactlyTheCheckedBytesWhateverHappensToTheFileLater)
{
    ScratchFolder scratch;
    const auto file = scratch.write ("trbkelo7__v001.bin", validImage());
    const auto check = checkUpdateFile (file);
    ASSERT_TRUE (check.passed());
    ASSERT_NE (check.image, nullptr);
    EXPECT_TRUE (*check.image == validImage());

    scratch.write ("trbkelo7__v001.bin", withVersion ("2.00"));
    EXPECT_TRUE (*check.image == validImage());
    ASSERT_TRUE (file.deleteFile());
    EXPECT_TRUE (*check.image == validImage());

    // A file that fails keeps nothing.
    EXPECT_EQ (checkUpdateFile (scratch.write ("trbkelo7__v002.bin", withStamp (0x21000000))).image, nullptr);
}
