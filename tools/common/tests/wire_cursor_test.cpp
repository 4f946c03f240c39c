#include "wire_cursor.h"

#include <gtest/gtest.h>

namespace {

TEST(WireCursor, ReaderStopsAtTheEndAndStaysOverrun)
{
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9a};
    wire::Reader r(bytes, sizeof bytes);
    EXPECT_EQ(r.u16(), 0x1234);
    EXPECT_EQ(r.u8(), 0x56);
    EXPECT_FALSE(r.overrun());
    EXPECT_EQ(r.u32(), 0u) << "four bytes asked, two left";
    EXPECT_TRUE(r.overrun());
    EXPECT_EQ(r.left(), 0u);
    EXPECT_EQ(r.u8(), 0) << "nothing more once overrun";
    EXPECT_TRUE(r.bytes(0).empty());
}

TEST(WireCursor, WriterNeverWritesPastItsBuffer)
{
    uint8_t buf[6] = {};
    uint8_t guard = 0xEE;
    wire::Writer w(buf, 5);
    w.u32(0xA1B2C3D4);
    w.u16(0x0102);
    EXPECT_TRUE(w.overrun());
    EXPECT_EQ(w.size(), 4u);
    w.u8(0x55);
    EXPECT_EQ(buf[4], 0x55);
    w.bytes("xy", 2);
    EXPECT_EQ(buf[5], 0) << "written past the end";
    EXPECT_EQ(guard, 0xEE);
    EXPECT_EQ(buf[0], 0xA1);
    EXPECT_EQ(buf[3], 0xD4);
}

}  // namespace
