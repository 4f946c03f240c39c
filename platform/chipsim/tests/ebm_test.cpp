#include "chipsim/chip.hpp"
#include "ebm_frames.hpp"

#include "vdsl_ebm.h"

#include <gtest/gtest.h>

#include <cstring>

namespace chipsim {
namespace {

const Mac kHost = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

std::vector<uint8_t> request(const Mac &dst, uint8_t b0, uint16_t addr, uint32_t value)
{
    return ebm_request(dst, kHost, b0, addr, value);
}

struct Ebm : ::testing::Test {
    Chip chip{Chip::Config{Mac EBM_CHIP_MGMT_MAC, Mac EBM_CHIP_DEFAULT_BOOT_MAC, true}};
    std::vector<Output> send(const std::vector<uint8_t> &f) { return chip.on_frame(f.data(), f.size()); }
};

TEST(Fcs, MatchesTheKnownFirstRead)
{
    const uint8_t req[6] = {0x01, 0x6C, 0x36, 0x00, 0x00, 0x00};
    EXPECT_EQ(fcs16(req, 6), 0x224F);  // travels as 4F 22
}

TEST_F(Ebm, ReadAnswersTheWordAndEchoesTheRequest)
{
    auto outs = send(request(chip.mgmt_mac(), 0x01, 0x6C36, 0));
    ASSERT_EQ(outs.size(), 1u);
    const auto &r = outs[0].frame;
    ASSERT_GE(r.size(), 24u);
    EXPECT_EQ(0, std::memcmp(r.data(), kHost.data(), 6));
    EXPECT_EQ(0, std::memcmp(r.data() + 6, chip.mgmt_mac().data(), 6));
    EXPECT_EQ(r[12], 0x61);
    EXPECT_EQ(r[13], 0x20);
    EXPECT_EQ(r[16], 0x01);
    EXPECT_EQ(r[17], 0x6C);
    EXPECT_EQ(r[18], 0x36);
    EXPECT_EQ((r[19] << 16 | r[20] << 8 | r[21]), 0x474154);
    EXPECT_EQ(fcs16(r.data() + 16, 6), r[22] | r[23] << 8);
}

TEST_F(Ebm, WritesGoToTheNamedMemory)
{
    struct Case {
        unsigned mem;
        uint16_t addr;
        uint32_t value;
    } cases[] = {{0, 0x0010, 0x123456}, {1, 0x0010, 0xABCDEF}, {2, 0xFFFF, 0x000001}};
    for (const Case &c : cases) {
        uint8_t b0 = static_cast<uint8_t>(EBM_REQ_WRITE | c.mem << EBM_REQ_MEM_SHIFT | 3);
        ASSERT_EQ(send(request(chip.mgmt_mac(), b0, c.addr, c.value)).size(), 1u);
        EXPECT_EQ(chip.peek(c.mem, c.addr), c.value);
        auto outs =
            send(request(chip.mgmt_mac(), static_cast<uint8_t>(c.mem << EBM_REQ_MEM_SHIFT | 4), c.addr, 0));
        ASSERT_EQ(outs.size(), 1u);
        EXPECT_EQ(outs[0].frame[16] & EBM_REQ_SEQ_MASK, 4);
        EXPECT_EQ(static_cast<uint32_t>(outs[0].frame[19] << 16 | outs[0].frame[20] << 8 | outs[0].frame[21]),
                  c.value);
    }
    // X and Y are apart.
    EXPECT_EQ(chip.peek(0, 0x10), 0x123456u);
}

TEST_F(Ebm, DropsWhatIsNotAGoodRequestForIt)
{
    auto bad = request(chip.mgmt_mac(), 0x01, 0x6C36, 0);
    bad[22] ^= 1;
    EXPECT_TRUE(send(bad).empty());
    EXPECT_EQ(chip.stats().bad_fcs, 1u);
    Mac other = {0x02, 9, 9, 9, 9, 9};
    EXPECT_TRUE(send(request(other, 0x01, 0x6C36, 0)).empty());
    auto shortf = request(chip.mgmt_mac(), 0x01, 0x6C36, 0);
    shortf.resize(20);
    EXPECT_TRUE(send(shortf).empty());
    Chip booting;  // not running yet: management frames go unanswered
    auto f = request(booting.mgmt_mac(), 0x01, 0x6C36, 0);
    EXPECT_TRUE(booting.on_frame(f.data(), f.size()).empty());
}

TEST_F(Ebm, InjectedFaultsShapeTheReplies)
{
    auto f = request(chip.mgmt_mac(), 0x01, 0x6C36, 0);
    chip.set_fault({Fault::Silent, 0, 2});
    EXPECT_TRUE(send(f).empty());
    EXPECT_TRUE(send(f).empty());
    EXPECT_EQ(send(f).size(), 1u);  // the count ran out

    chip.set_fault({Fault::Delay, 500, 1});
    auto late = send(f);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].delay_ms, 500u);

    chip.set_fault({Fault::Duplicate, 0, 0});
    EXPECT_EQ(send(f).size(), 2u);
    EXPECT_EQ(send(f).size(), 2u);

    chip.set_fault({Fault::BadFcs, 0, 1});
    auto corrupt = send(f);
    ASSERT_EQ(corrupt.size(), 1u);
    EXPECT_NE(fcs16(corrupt[0].frame.data() + 16, 6), corrupt[0].frame[22] | corrupt[0].frame[23] << 8);
}

TEST_F(Ebm, ResetLosesTheFirmware)
{
    chip.set_reset_line(false);
    EXPECT_EQ(chip.state(), State::Held);
    EXPECT_TRUE(send(request(chip.mgmt_mac(), 0x01, 0x6C36, 0)).empty());
    chip.set_reset_line(true);
    EXPECT_EQ(chip.state(), State::Boot);
    EXPECT_EQ(chip.peek(0, kSignatureAddress), 0u);
}

}  // namespace
}  // namespace chipsim
