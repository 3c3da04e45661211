#include "protocol/Crc16.h"
#include "tools/UpdateImageBuilder.h"

#include <gtest/gtest.h>

TEST (Crc16, GivesTheXmodemCheckValues)
{
    EXPECT_EQ (crc16 (9, "123456789"), 0x31C3);
    EXPECT_EQ (crc16 (0, nullptr), 0);
    EXPECT_EQ (crc16Bitwise (9, "123456789"), 0x31C3);
    EXPECT_EQ (crc16Bitwise (0, nullptr), 0);
}

TEST (Crc16, FastFormAgreesWithTheBitwiseFormAtEveryLengthAndAlignment)
{
    const auto image = makeUpdateImage ("1.02", 0x20261209, 7);
    for (size_t start = 0; start < 16; ++start)
        for (size_t length = 0; length < 300; ++length)
            ASSERT_EQ (crc16 (length, image.data() + start), crc16Bitwise (length, image.data() + start)) << start << " " << length;

    EXPECT_EQ (crc16 (image.size(), image.data()), crc16Bitwise (image.size(), image.data()));
}
