#include "engine/paradox/ParadoxCodec.h"

#include <gtest/gtest.h>

using namespace fieldsmith::engine::paradox;

TEST(ParadoxCodec, IntegersCompareAsStored) {
    std::uint8_t b[4];
    encodeInt(b, 4, 40);
    EXPECT_EQ(b[0], 0x80);
    EXPECT_EQ(b[3], 0x28);
    EXPECT_EQ(decodeInt(b, 4), 40);
    encodeInt(b, 2, -1);
    EXPECT_EQ(b[0], 0x7F);
    EXPECT_EQ(b[1], 0xFF);
    EXPECT_EQ(decodeInt(b, 2), -1);
}
