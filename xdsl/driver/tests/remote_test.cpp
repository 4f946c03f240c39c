// Far-end words through the chip's mailbox: request 0x7629, far-end
// entries of logic reads, and the retries.
#include "fw_test/matchers.h"
#include "full_mib.hpp"

using fw_test::HasSubstr;

namespace vdsltest {
namespace {

class Remote : public FullMib {
protected:
    long far_read(uint32_t addr, uint32_t &v) { return word_read(VDSL_GET_MEM_REMOTE, addr, 0, v); }
};

TEST_F(Remote, ReadsTheFarEndWordWithAFreshTagEachTime)
{
    chip.far_poke(0x0123, 0xC0FFEE);
    chip.far_poke(0x0124, 0x00BEEF);
    uint32_t v = 0;
    ASSERT_EQ(far_read(0x0123, v), 0);
    EXPECT_EQ(v, 0xC0FFEEu);
    uint32_t tag1 = chip.peek(0, at(2, 1, 91));
    ASSERT_EQ(far_read(0x0124, v), 0);
    EXPECT_EQ(v, 0x00BEEFu);
    EXPECT_EQ(chip.peek(0, at(2, 1, 91)), tag1 + 1);
    EXPECT_EQ(tag1, 0x200081u);  // the counter starts at 128 and moves first
    EXPECT_EQ(chip.peek(0, at(2, 1, 123) + 1), 0x0124u);
    EXPECT_EQ(chip.peek(0, at(2, 1, 123) + 2), 1u);
}

TEST_F(Remote, LateAnswersArePolledForAndRefusalsRetried)
{
    chip.far_poke(0x10, 0x654321);
    ASSERT_EQ(chip.control("mailbox delay 120"), "ok");
    uint32_t v = 0;
    ASSERT_EQ(far_read(0x10, v), 0);
    EXPECT_EQ(v, 0x654321u);

    ASSERT_EQ(chip.control("mailbox refuse on"), "ok");
    ASSERT_EQ(chip.control("mailbox delay 0"), "ok");
    Block level{0, 0, 0, 1};
    level.resize(VDSL_BLOCK_HEAD);
    ASSERT_EQ(ioctl(VDSL_SET_DEBUG_LEVEL, level), 0);
    EXPECT_EQ(far_read(0x10, v), 100);
    for (int attempt = 1; attempt <= 3; attempt++)
        EXPECT_THAT(log(), HasSubstr("gpmr_bdy: retry " + std::to_string(attempt) + ", res 5\n"));
}

TEST_F(Remote, SilentFarEndGivesUpAfterThreeAttempts)
{
    ASSERT_EQ(chip.control("mailbox delay 60000"), "ok");
    uint32_t v = 0;
    int64_t t0 = now_ms();
    EXPECT_EQ(far_read(0x10, v), 100);
    EXPECT_GE(now_ms() - t0, 3 * 10 * 50);
}

TEST_F(Remote, FarEndEntriesOfLogicReads)
{
    // Index with bit 7: the far-end instance; only its first word is fetched.
    chip.far_poke(at(3, 1, 10, 2), 0x000303);
    Block a;
    EXPECT_EQ(mib_read("3.1.10.130", a), 0);
    EXPECT_EQ(text(a), "000303");
    EXPECT_EQ(a[1], 1);
    // Standard OIDs never take the far-end route.
    chip.poke(0, at(0, 7, 2, 2), 0x414243);
    Block s = block();
    std::memcpy(s.data() + 1, "1.3.1.1.2.130", 14);
    EXPECT_EQ(ioctl(VDSL_GET_DATA, s), 0);
    EXPECT_EQ(text(s).substr(0, 6), "414243");
}

TEST_F(Remote, RefusedWhileDisabled)
{
    ASSERT_EQ(request(VDSL_RESET_CHIP_LOW), 0);
    uint32_t v = 0;
    EXPECT_EQ(far_read(0x10, v), 100);
    EXPECT_TRUE(sent.empty());
}

}  // namespace
}  // namespace vdsltest
