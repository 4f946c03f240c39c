// MIB entries by logic OID and raw name, translation and location requests.
#include "vdsl_fixture.hpp"

namespace vdsltest {
namespace {

class Mib : public Driver {
protected:
    void SetUp() override
    {
        Driver::SetUp();
        bring_up();
        sent.clear();
    }
};

TEST_F(Mib, OidForms)
{
    struct Case {
        const char *oid;
        int g, t, i, idx, intv;
    } cases[] = {
        {"0.1.5", 0, 1, 5, 1, 255},     {"0.2.3.11", 0, 2, 3, 11, 255},
        {"0.18.1.1.1", 0, 18, 1, 1, 1}, {"2.1.1234", 2, 1, 123, 1, 255},  // three digits a component
        {"3", 3, 0, 0, 1, 255},
    };
    for (const Case &c : cases) {
        int g, t, i, idx, intv;
        oid2gtip(c.oid, &g, &t, &i, &idx, &intv);
        EXPECT_EQ((std::vector<int>{g, t, i, idx, intv}), (std::vector<int>{c.g, c.t, c.i, c.idx, c.intv}))
            << c.oid;
    }
}

TEST_F(Mib, DimensionChecks)
{
    struct Case {
        const char *oid;
        long want;
    } cases[] = {
        {"0.25.1", 103}, {"4.1.1", 102},   {"0.1.41", 104},  {"0.2.3.12", 105}, {"0.0.1", 103},
        {"2.1.0", 104},  {"2.1.499", 104}, {"3.7.1.3", 105}, {"0.2.3.11", 118},  // sound, but the test image
                                                                                 // has no table 0.2
    };
    for (const Case &c : cases) {
        Block a;
        EXPECT_EQ(mib_read(c.oid, a), c.want) << c.oid;
    }
}

TEST_F(Mib, ReadsEntriesOfOneAndMoreWords)
{
    chip.poke(0, 0x1004, 0x000005);
    chip.poke(0, 0x1006, 0xABCDEF);
    chip.poke(0, 0x1007, 0x012345);
    chip.poke(0, 0x1011, 0x000017);
    chip.poke(0, 0x1012, 0x000018);
    chip.poke(0, 0x1013, 0x000019);
    chip.poke(0, 0x2021, 0x000321);
    struct Case {
        const char *oid;
        const char *text;
    } cases[] = {
        {"2.1.5", "000005"},        {"2.1.7", "abcdef012345"}, {"2.1.17", "000017"},  // continuation row
        {"2.1.18", "000018000019"}, {"3.1.2.2", "000321"},  // second row: stride 0x20
    };
    for (unsigned cmd : {VDSL_GET_DATA_LOGIC, VDSL_GET_MIB}) {
        for (const Case &c : cases) {
            Block a;
            ASSERT_EQ(mib_read(c.oid, a, cmd), 0) << c.oid;
            EXPECT_EQ(a[0], 0);
            EXPECT_EQ(a[1], std::strlen(c.text) / 6) << c.oid;
            EXPECT_STREQ(reinterpret_cast<char *>(a.data()) + 2, c.text) << c.oid;
        }
    }
}

TEST_F(Mib, WritesCheckTheValueText)
{
    struct Case {
        const char *oid, *value;
        long want;
        uint32_t addr, word;
    } cases[] = {
        {"2.1.5", "00000a", 0, 0x1004, 0x00000A},
        {"2.1.5", "7", 0, 0x1004, 7},
        {"2.1.5", "", 0, 0x1004, 0},
        {"2.1.5", "0000001", 119, 0x1004, 0},  // more than one word's digits
        {"2.1.7", "0000001", 120, 0x1006, 0},  // not whole words
        {"2.1.5", "000000000001", 119, 0x1004, 0},
        {"2.1.7", "11111122222g", 100, 0x1006, 0},  // not hexadecimal: nothing written
        {"2.1.7", "111111222222", 0, 0x1007, 0x222222},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(mib_write(c.oid, c.value), c.want) << c.oid << "=" << c.value;
        EXPECT_EQ(chip.peek(0, c.addr), c.word) << c.oid << "=" << c.value;
    }
}

TEST_F(Mib, RawMemoryNames)
{
    Block a;
    EXPECT_EQ(mib_read("m.0.6c36", a), 0);
    EXPECT_EQ(a[1], 1);
    EXPECT_STREQ(reinterpret_cast<char *>(a.data()) + 2, "474154");
    EXPECT_EQ(mib_read("m.0", a), 0);  // a field missing: the preset answer
    EXPECT_EQ(a[1], 0);
    EXPECT_EQ(mib_write("m.1.3f", "abc"), 0);
    EXPECT_EQ(chip.peek(1, 0x3F), 0xABCu);
}

TEST_F(Mib, PortsOtherThanTheFirst)
{
    struct Case {
        unsigned cmd;
        unsigned char port;
        long want;
    } cases[] = {
        {VDSL_GET_DATA_LOGIC, 1, -108}, {VDSL_GET_DATA_LOGIC, 2, 100}, {VDSL_GET_MIB, 1, -108},
        {VDSL_GET_MIB, 3, 100},         {VDSL_SET_MIB, 1, 100},        {VDSL_GET_MEM, 1, 100},
        {VDSL_GET_MEM_SK, 1, 100},      {VDSL_OP_STATUS, 1, 100},      {VDSL_CHECK_BINDRV, 1, 100},
    };
    for (const Case &c : cases) {
        Block a = block();
        a[0] = c.port;
        std::memcpy(a.data() + 1, "2.1.5", 6);
        EXPECT_EQ(ioctl(c.cmd, a), c.want) << std::hex << c.cmd << " port " << int(c.port);
    }
    EXPECT_TRUE(sent.empty());
}

TEST_F(Mib, TranslationAndLocation)
{
    Block b = block(VDSL_BLOCK_HEAD);
    b[0] = 2;
    b[1] = 1;
    b[2] = 1;
    b[3] = 7;
    EXPECT_EQ(ioctl(VDSL_TRANS_MIB_ADDR, b), 0);
    uint32_t out[2];
    std::memcpy(out, b.data(), sizeof out);
    EXPECT_EQ(out[0], 2u);
    EXPECT_EQ(out[1], 0x1006u);
    b = block(VDSL_BLOCK_HEAD);
    b[0] = 0;
    b[1] = 5;
    b[2] = 1;
    b[3] = 1;
    EXPECT_EQ(ioctl(VDSL_TRANS_MIB_ADDR, b), 0);
    std::memcpy(out, b.data(), sizeof out);
    EXPECT_EQ(out[0], 0xFFFFFFFFu);

    b = block();
    std::memcpy(b.data(), "2.1.18", 7);
    EXPECT_EQ(ioctl(VDSL_MIB2_INFO, b), 0);
    uint32_t info[3];
    std::memcpy(info, b.data(), sizeof info);
    EXPECT_EQ(info[0], 0x1012u);
    EXPECT_EQ(info[1], 2u);
    EXPECT_EQ(info[2], 0u);
    std::memcpy(b.data(), "0.9.1", 6);
    EXPECT_EQ(ioctl(VDSL_MIB2_INFO, b), 118);
}

TEST_F(Mib, ChipWordsOverBothRoutes)
{
    for (unsigned cmd : {VDSL_SET_MEM, VDSL_SET_MEM_SK})
        EXPECT_EQ(word_write(cmd, 0x30, 2, 0x0F0F0F + cmd), 0);
    EXPECT_EQ(chip.peek(2, 0x30), 0x0F0F0Fu + VDSL_SET_MEM_SK);
    uint32_t v = 0;
    EXPECT_EQ(word_read(VDSL_GET_MEM, 0x30, 2, v), 0);
    EXPECT_EQ(v, 0x0F0F0Fu + VDSL_SET_MEM_SK);
}

TEST_F(Mib, PhysicalStatusFollowsTheLinePhase)
{
    struct Case {
        uint32_t word;
        uint8_t state;
    } cases[] = {{0x000000, 2}, {0x000100, 3}, {0x000200, 4}, {0x000300, 5}, {0xFFF3FF, 5}};
    for (const Case &c : cases) {
        chip.poke(0, 0x1004, c.word);
        Block b = block(VDSL_BLOCK_HEAD);
        EXPECT_EQ(ioctl(VDSL_PHY_STATUS, b), 0);
        EXPECT_EQ(b[0], c.state) << std::hex << c.word;
        EXPECT_EQ(b[1], 0);
    }
    silent_addrs.insert(0x1004);
    Block b = block(VDSL_BLOCK_HEAD);
    EXPECT_EQ(ioctl(VDSL_PHY_STATUS, b), -11);
    EXPECT_EQ(b[0], VDSL_STATE_ERROR);
}

}  // namespace
}  // namespace vdsltest
