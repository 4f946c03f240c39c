// Entry access beyond plain logic OIDs: standard OIDs, the retransmission
// limits, the SELT status entry, the answer's size cap, and the getters
// exported to other kernel code.
#include "fw_test/matchers.h"
#include "full_mib.hpp"

using fw_test::HasSubstr;

namespace vdsltest {
namespace {

class Access : public FullMib {
protected:
    long std_read(const std::string &oid, Block &a)
    {
        a = block();
        std::memcpy(a.data() + 1, oid.c_str(), oid.size() + 1);
        return ioctl(VDSL_GET_DATA, a);
    }
    long std_write(const std::string &oid, const std::string &value)
    {
        Block b = block();
        std::memcpy(b.data() + 1, oid.c_str(), oid.size() + 1);
        std::memcpy(b.data() + 2 + oid.size(), value.c_str(), value.size() + 1);
        return ioctl(VDSL_SET_DATA, b);
    }
};

TEST_F(Access, StandardOidsAreRewrittenByPrefix)
{
    struct Case {
        const char *std, *logic;
    } cases[] = {
        {"1.4.1.1.1.3.1", "0.16.3.1"}, {"1.1.1.1.5.1", "0.1.5.1"},
        {"1.5.1.2.1.7", "0.9.7"},      {"1.1.5", "1.1.5"},
        {"3.2.9.2", "3.2.9.2"},        {"1.2.5.1.3.1", "0.6.3.1"},
    };
    char out[VDSL_OID_MAX + 1];
    for (const Case &c : cases) {
        ASSERT_EQ(std_oid_rewrite(c.std, out), 0) << c.std;
        EXPECT_STREQ(out, c.logic) << c.std;
    }
    EXPECT_EQ(std_oid_rewrite("9.9.9", out), 100);
    EXPECT_EQ(std_oid_rewrite(std::string(600, '1').c_str(), out), 100);

    chip.poke(0, at(0, 1, 5), 0x00ABCD);
    Block a;
    EXPECT_EQ(std_read("1.1.1.1.5.1", a), 0);
    EXPECT_EQ(text(a), "00abcd");
    Block level{0, 0, 0, 1};
    level.resize(VDSL_BLOCK_HEAD);
    ASSERT_EQ(ioctl(VDSL_SET_DEBUG_LEVEL, level), 0);
    EXPECT_EQ(std_read("9.9.9", a), 100);
    EXPECT_THAT(log(), HasSubstr("Incompatible OID\n"));
    a[0] = 1;
    std::memcpy(a.data() + 1, "1.1.1.1.5.1", 12);
    EXPECT_EQ(ioctl(VDSL_GET_DATA, a), -108);

    EXPECT_EQ(std_write("1.1.1.1.5.1", "000007"), 0);
    EXPECT_EQ(chip.peek(0, at(0, 1, 5)), 7u);
    sent.clear();
    EXPECT_EQ(std_write("1.1.1.1.5.1", ""), 0);  // nothing written
    EXPECT_EQ(chip.peek(0, at(0, 1, 5)), 7u);
    EXPECT_EQ(std_write("1.1.1.1.41.1", ""), 104);  // but the entry is checked
}

TEST_F(Access, RetransmissionLimitsFollowTheirRules)
{
    chip.poke(0, at(3, 3, 8), 0x100);  // current limits of items 4, 6 and 5, 7
    chip.poke(0, at(3, 3, 9), 0x40);
    struct Case {
        const char *oid, *value;
        long want;
    } cases[] = {
        {"3.3.2", "3", 0},  // below 4: allowed, whatever an example once said
        {"3.3.3", "4", 100},     {"3.3.1", "0", 100},   {"3.3.27", "63", 0},  {"3.3.26", "64", 100},
        {"3.3.4", "100", 0},     {"3.3.6", "108", 100},  // above 3.3.8's 0x100
        {"3.3.5", "40", 0},      {"3.3.7", "48", 100},  {"3.3.10", "0", 100}, {"3.3.11", "3f", 0},
        {"3.3.16", "7f", 0},     {"3.3.17", "80", 100}, {"3.3.18", "64", 0},  {"3.3.19", "65", 100},
        {"3.3.20", "7", 0},      {"3.3.22", "e", 100},  {"3.3.24", "1", 0},   {"3.3.25", "2", 100},
        {"3.2.1", "ffffff", 0},   // other tables pass
        {"3.3.8", "30d48", 100},  // a multiple of 8 above 200000
        {"3.3.8", "c", 100},     {"3.3.8", "8", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(mib_write(c.oid, c.value), c.want) << c.oid << "=" << c.value;
    EXPECT_EQ(chip.peek(0, at(3, 3, 2)), 3u);
    EXPECT_EQ(chip.peek(0, at(3, 3, 3)), 0u);
}

TEST_F(Access, SeltStatusEntryIsAccepted)
{
    chip.poke(0, at(SELT_GROUP, SELT_TABLE, 1), 0x800000);
    Block a;
    EXPECT_EQ(mib_read("65535.65535.65535", a, VDSL_GET_MIB), 0);
    EXPECT_EQ(a[1], 5);
    EXPECT_EQ(text(a).substr(0, 6), "800000");
    EXPECT_EQ(mib_write("65535.65535.65535", "0"), 0);
    EXPECT_EQ(chip.peek(0, at(SELT_GROUP, SELT_TABLE, 1)), 0u);
    EXPECT_EQ(mib_read("65535.65535.1", a), 102);  // only that one text
}

TEST_F(Access, AnswerStaysTerminatedInsideTheBlock)
{
    Block a;
    ASSERT_EQ(mib_read("2.1.201", a), 0);
    EXPECT_EQ(a[1], 179);
    EXPECT_EQ(std::strlen(reinterpret_cast<char *>(a.data()) + 2), 179u * 6);
    EXPECT_EQ(mib_read("2.1.202", a), 119);  // 180 words would not fit with the zero byte
}

TEST_F(Access, ExportedGetters)
{
    chip.poke(0, at(0, 1, 20), 0x800001);
    chip.poke(0, at(0, 3, 2, 3), 0x7FFFFF);
    unsigned u = 0;
    int i = 0;
    EXPECT_EQ(get_mib2_uint32(0, "0.1.20", &u), 0);
    EXPECT_EQ(u, 0x800001u);
    EXPECT_EQ(get_mib2_int(0, "0.1.20", &i), 0);
    EXPECT_EQ(i, -8388607);
    EXPECT_EQ(get_mib2_int_idx(0, "0.3.2", &i, 3), 0);
    EXPECT_EQ(i, 8388607);

    // Inventory text of four words; budgets that cut a word.
    const uint32_t inv = at(0, 7, 2, 2);
    chip.poke(0, inv, 0x414243);
    chip.poke(0, inv + 1, 0x444546);
    chip.poke(0, inv + 2, 0x474849);
    chip.poke(0, inv + 3, 0x4A4B4C);
    struct Case {
        int size;
        std::string want;
    } cases[] = {
        {12, "ABCDEFGHIJKL"}, {100, "ABCDEFGHIJKL"}, {7, "ABCDEFG"}, {8, "ABCDEFGH"}, {2, "AB"}, {0, ""}};
    for (const Case &c : cases) {
        unsigned char bytes[128] = {};
        int count = -1;
        EXPECT_EQ(get_mib2_uint8_idx(0, "0.7.2", bytes, c.size, &count, 2), 0) << c.size;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), static_cast<size_t>(count)), c.want) << c.size;
    }
    unsigned char bytes[16];
    EXPECT_EQ(get_mib2_uint8(0, "0.7", bytes, 16, nullptr), 100);
    // The far-end instance reads through the mailbox.
    chip.far_poke(inv, 0x585958);
    int count = 0;
    EXPECT_EQ(get_mib2_uint8(0, "0.7.2.130", bytes, 3, &count), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 3), "XYX");

    unsigned char state = 0, connected = 9;
    EXPECT_EQ(get_phy_status(0, &state, &connected), 0);
    EXPECT_EQ(state, VDSL_STATE_IDLE);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(get_phy_status(0, nullptr, nullptr), 0);
    EXPECT_EQ(get_phy_status(1, &state, nullptr), 100);
}

}  // namespace
}  // namespace vdsltest
