// Address translation through the binary driver image, continuation rows
// included. An image computed by hand is the oracle: the generator must
// produce it byte for byte, and the driver must find in it the addresses
// worked out by hand, so neither can share a wrong reading of the format.
#include "bindrv_gen.hpp"
#include "vdsl_fixture.hpp"

namespace vdsltest {
namespace {

// N = 3 items a row; 2.1 with seven items of 1, 2, 1, 1, 3, 1, 1 words
// (items 4-6 and 7 in two continuation rows), 3.1 with two one-word items
// in two rows four words apart. T = 2 tables + 2 continuation rows.
const uint32_t kOracleWords[] = {
    0x534F5256, 0,          0,  0x000102, 0x100, 0, 0x200, 4, 3, 4,  // header: VROS .. T
    0,          0,          0,  0,        0,     0, 0,     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x40000A10,                  // 2.1: stride 10 words, continuation mark 1 (first row T - 1 = 3)
    0x60000400,                  // 3.1: stride 4
    0xDF000000, 0xDF000000,      // rows that only carry continuations
    1,          3,          4,   // row 0, 2.1 items 1-3: end offsets
    1,          2,          2,   // row 1, 3.1 items 1-2
    10,         10,         10,  // row 2, 2.1 item 7 (second continuation row)
    5,          8,          9,   // row 3, 2.1 items 4-6 (first continuation row)
};

bindrv::Layout oracle_layout()
{
    bindrv::Layout s;
    s.items_per_row = 3;
    bindrv::Table a;
    a.group = 2;
    a.table = 1;
    a.words = {1, 2, 1, 1, 3, 1, 1};
    bindrv::Table b;
    b.group = 3;
    b.table = 1;
    b.rows = 2;
    b.words = {1, 1};
    b.stride = 4;
    s.tables = {a, b};
    return s;
}

std::vector<uint8_t> oracle_bytes()
{
    std::vector<uint8_t> img;
    for (uint32_t w : kOracleWords)
        for (int b = 0; b < 4; b++)
            img.push_back(static_cast<uint8_t>(w >> (8 * b)));
    return img;
}

TEST(ImageGenerator, BuildsTheHandComputedImage)
{
    bindrv::Built b = bindrv::build(oracle_layout());
    EXPECT_EQ(b.image, oracle_bytes());
    EXPECT_EQ(b.starts, (std::vector<uint32_t>{0x1000, 0x100A}));
    EXPECT_EQ(b.address(2, 1, 7), 0x1009u);
    EXPECT_EQ(b.address(3, 1, 2, 2), 0x100Fu);
}

TEST(ImageGenerator, RefusesWhatTheFormatCannotHold)
{
    bindrv::Layout s = oracle_layout();
    // Three tables of eight continuation rows: the last one's first row
    // lies 17 rows from the end, beyond a 4-bit mark.
    s.tables[0].words.assign(3 * 9, 1);
    s.tables[1].words.assign(3 * 9, 1);
    s.tables.push_back(s.tables[0]);
    s.tables.back().group = 1;
    EXPECT_THROW(bindrv::build(s), std::length_error);
    s = oracle_layout();
    s.tables[0].rows = 7000;  // past the chip's memory
    EXPECT_THROW(bindrv::build(s), std::length_error);
}

class Oracle : public Driver {
protected:
    void SetUp() override
    {
        Driver::SetUp();
        for (const bindrv::ChipWord &w : bindrv::build(oracle_layout()).chip_words)
            chip.poke(w.mem, w.addr, w.value);
        ASSERT_EQ(set_mgt(), 0);
        ASSERT_EQ(firmware_phase(3), 0);
        ASSERT_EQ(load_image(oracle_bytes()), 0);
    }
};

TEST_F(Oracle, DriverFindsTheEntriesWorkedOutByHand)
{
    struct Case {
        const char *oid;
        uint32_t addr, words;
    } cases[] = {
        {"2.1.1", 0x1000, 1},
        {"2.1.2", 0x1001, 2},
        {"2.1.3", 0x1003, 1},
        {"2.1.4", 0x1004, 1},  // first continuation row, column 0: starts where row 0 ended
        {"2.1.5", 0x1005, 3},
        {"2.1.6", 0x1008, 1},
        {"2.1.7", 0x1009, 1},  // second continuation row: starts where the first ended
        {"3.1.1", 0x100A, 1},
        {"3.1.2.2", 0x100F, 1},
    };
    for (const Case &c : cases) {
        Block b = block();
        std::memcpy(b.data(), c.oid, std::strlen(c.oid) + 1);
        ASSERT_EQ(ioctl(VDSL_MIB2_INFO, b), 0) << c.oid;
        uint32_t info[3];
        std::memcpy(info, b.data(), sizeof info);
        EXPECT_EQ(info[0], c.addr) << c.oid;
        EXPECT_EQ(info[1], c.words) << c.oid;
    }
    chip.poke(0, 0x1005, 0x0A0B0C);
    chip.poke(0, 0x1006, 0x0D0E0F);
    chip.poke(0, 0x1007, 0x101112);
    chip.poke(0, 0x100F, 0x777777);
    Block a;
    ASSERT_EQ(mib_read("2.1.5", a), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(a.data()) + 2, "0a0b0c0d0e0f101112");
    ASSERT_EQ(mib_read("3.1.2.2", a), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(a.data()) + 2, "777777");
    // Past the last item the offsets repeat: an entry of no words.
    ASSERT_EQ(mib_read("2.1.8", a), 0);
    EXPECT_EQ(a[1], 0);
}

}  // namespace
}  // namespace vdsltest
