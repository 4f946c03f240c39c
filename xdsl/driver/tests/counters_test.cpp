// PM queries: computed interval counts, interval history, the counter
// handler, 32-bit counters across the 24-bit wrap, clearing, retrain log.
#include "full_mib.hpp"

namespace vdsltest {
namespace {

class Counters : public FullMib {};

TEST_F(Counters, ComputedEntriesNeedNoChip)
{
    struct Case {
        const char *oid;
        long rc;
        const char *text;
    } cases[] = {
        {"0.16.3.1", 0, "000060"},       {"0.16.2.1", 0, "000000"},
        {"0.16.11.2", 0, "00001e"},      {"0.17.9.1", 0, "00001e"},
        {"0.22.3.4", 0, "000060"},       {"0.22.3.5", 0, "000000"},  // index out of range: 0
        {"2.2.4", 0, "000000"},          {"2.3.5.1", 0, "ffffff"},
        {"2.3.9.1", 0, "ffffff"},        {"2.3.0", 0, "000000"},
        {"2.3.11", 0, "000000"},  // refused kinds answer 0
        {"0.18.1.1.1", -106, "000000"},  {"0.20.7.1.1", 0, "000000"},
        {"0.20.7.1.97", -107, "000000"}, {"0.17.11.1.1", -104, "000000"},
        {"3.7.2.1.1", -106, "000000"},   {"3.7.5.1.31", -107, "000000"},
        {"0.24.1.5.1", -107, "000000"},  {"0.23.6.4.0", -107, "000000"},  // interval 0 stands for 128
    };
    for (const Case &c : cases) {
        Block a;
        EXPECT_EQ(mib_read(c.oid, a, VDSL_GET_MIB), c.rc) << c.oid;
        EXPECT_EQ(text(a), c.text) << c.oid;
    }
    EXPECT_TRUE(sent.empty());
}

TEST_F(Counters, CounterHandlerReadsItsEntry)
{
    chip.poke(0, at(0, 17, 11, 2), 0x000042);
    chip.poke(0, at(0, 22, 10, 3), 0x000077);
    struct Case {
        const char *oid;
        const char *text;
    } cases[] = {{"2.3.1.2", "000042"}, {"2.3.6", "000077"}, {"2.3.1.3", "000000"}};
    for (const Case &c : cases) {
        Block a;
        EXPECT_EQ(mib_read(c.oid, a, VDSL_GET_MIB), 0) << c.oid;
        EXPECT_EQ(text(a), c.text) << c.oid;
    }
    EXPECT_EQ(mib_handler_pmcounter(0, 1, 3), -104);
    EXPECT_EQ(mib_handler_pmcounter(0, 3, 5), -107);
    EXPECT_EQ(mib_handler_pmcounter(0, 0, 1), -104);
}

TEST_F(Counters, ThirtyTwoBitCountersKeepCountingAcrossTheWrap)
{
    const uint32_t addr = at(0, 22, 5, 1);
    auto read32 = [&](unsigned cmd = VDSL_GET_MIB32) {
        Block a;
        EXPECT_EQ(mib_read("0.22.5.1", a, cmd), 0);
        return text(a);
    };
    chip.poke(0, addr, 0xFFFFF0);  // 16 below the wrap
    EXPECT_EQ(read32(), "00fffff0");
    chip.poke(0, addr, 0x000010);  // 16 after it
    EXPECT_EQ(read32(VDSL_GET_MIB32_B), "01000010");
    chip.poke(0, addr, 0xFFFFFF);  // no reading: the total stays as it was
    EXPECT_EQ(read32(), "01000010");
    chip.poke(0, addr, 0);
    EXPECT_EQ(read32(), "01000010");
    chip.poke(0, addr, 0x000020);
    EXPECT_EQ(read32(), "01000020");
    // The simulator's own counter, stepping over the wrap read by read.
    chip.poke(0, addr, 0xFFFFF0);
    ASSERT_EQ(chip.control("counter x " + std::to_string(addr) + " 8"), "ok");
    std::string last;
    for (int i = 0; i < 4; i++)
        last = read32();
    EXPECT_EQ(last, "02000008");  // 0x0fffff0 .. 0xffff8, (0: no reading), 8

    Block a;
    EXPECT_EQ(mib_read("0.22.5.9", a, VDSL_GET_MIB32), 107);
    Block c = block();
    std::memcpy(c.data() + 1, "0.22.5.1", 9);
    EXPECT_EQ(ioctl(VDSL_CLEAR_MIB32, c), 0);
    EXPECT_EQ(c, block());
    chip.poke(0, addr, 0x000005);
    ASSERT_EQ(chip.control("counter x " + std::to_string(addr) + " 0"), "ok");
    EXPECT_EQ(read32(), "00000005");
    std::memcpy(c.data() + 1, "9.9.9", 6);
    EXPECT_EQ(ioctl(VDSL_CLEAR_MIB32, c), 100);
}

TEST_F(Counters, ClearingWritesZeroToEveryCounterEntry)
{
    chip.poke(0, at(0, 16, 5, 2), 0x123);
    chip.poke(0, at(0, 24, 6, 4), 0x456);
    EXPECT_EQ(request(VDSL_CLEAR_PORT_STATS), 0);
    EXPECT_EQ(chip.peek(0, at(0, 16, 5, 2)), 0u);
    EXPECT_EQ(chip.peek(0, at(0, 24, 6, 4)), 0u);
    size_t writes = 0;
    for (const Block &f : sent)
        writes += (f[16] & EBM_REQ_WRITE) != 0;
    EXPECT_EQ(writes, 2u * (17 + 14 + 9 + 9 + 7 + 7) + 4u * (11 + 6 + 6));
}

TEST_F(Counters, RetrainLogAndDriverInfo)
{
    Block b = block();
    std::fill(b.begin(), b.end(), 0xAB);
    EXPECT_EQ(ioctl(VDSL_RETRAIN_LOG, b), 0);
    uint32_t words[31];
    std::memcpy(words, b.data(), sizeof words);
    EXPECT_EQ(words[0], 0u);
    for (int k = 1; k < 31; k++)
        EXPECT_EQ(words[k], 0xFFFFFFFFu);
    EXPECT_EQ(b[124], 0xAB);  // nothing past the log

    char text[512] = "x";
    int len = 1;
    vdsl_proc_msg(text, &len);
    const std::string want = "x=== xDSL Driver Info ===\nDriver Version\t: 1.7.9-37 - 201904102211\n"
                             "rw_delay\t: 150us\nr_delay\t\t: 0us\nw_delay\t\t: 0us\nMAX_PORTS\t: 1\n"
                             "GARNEL_PORT\t: 0xbf000000\n";
    EXPECT_EQ(std::string(text), want);
    EXPECT_EQ(len, static_cast<int>(want.size()));
}

}  // namespace
}  // namespace vdsltest
