#include "base/hex.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string_view>
#include <vector>

TEST(Hex, WritesLowercaseAndReadsEitherCase) {
    const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(base::toHex(bytes, sizeof(bytes)), "000fa5ff");
    std::vector<uint8_t> read;
    ASSERT_TRUE(base::fromHex("000FA5ff", read));
    EXPECT_EQ(read, std::vector<uint8_t>(std::begin(bytes), std::end(bytes)));
    EXPECT_TRUE(base::fromHex("", read));
    EXPECT_TRUE(read.empty());
}

TEST(Hex, RefusesOddLengthAndAnyOtherCharacter) {
    std::vector<uint8_t> read;
    for (const char* text : {"abc", "0g", "0x00", " 00", "00 ", "+1", "1\n"}) {
        EXPECT_FALSE(base::fromHex(text, read)) << text;
        EXPECT_TRUE(read.empty()) << text;
    }
    EXPECT_FALSE(base::fromHex(std::string_view("00\0", 4), read));  // an embedded NUL
    EXPECT_EQ(base::hexDigitValue('F'), 15);
    EXPECT_EQ(base::hexDigitValue('G'), -1);
}
