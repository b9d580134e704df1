#include "common/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{

uint32_t FullCrc(const void* data, size_t length)
{
    return ~Crc32(0xFFFFFFFF, data, length);
}

} // namespace

TEST(Crc32, CheckValueOfNineDigits)
{
    EXPECT_EQ(0xCBF43926u, FullCrc("123456789", 9));
}

TEST(Crc32, EmptyBlockLeavesRunningValue)
{
    EXPECT_EQ(0x12345678u, Crc32(0x12345678, "", 0));
}

TEST(Crc32, SplitAnywhereAtAnyAlignmentGivesSameValue)
{
    const char* text = "The quick brown fox jumps over the lazy dog, twice: the quick brown fox.";
    const size_t length = std::strlen(text);
    const uint32_t whole = FullCrc(text, length);
    std::vector<unsigned char> buffer(length + 16);
    for (size_t offset = 0; offset < 8; offset++)
    {
        std::memcpy(buffer.data() + offset, text, length);
        for (size_t split = 0; split <= length; split++)
        {
            uint32_t crc = Crc32(0xFFFFFFFF, buffer.data() + offset, split);
            crc = Crc32(crc, buffer.data() + offset + split, length - split);
            ASSERT_EQ(whole, ~crc) << "offset " << offset << " split " << split;
        }
    }
}
