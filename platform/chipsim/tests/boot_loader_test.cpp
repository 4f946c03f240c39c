#include "chipsim/chip.hpp"

#include "vdsl_ebm.h"

#include <gtest/gtest.h>

#include <cstring>

namespace chipsim {
namespace {

const Mac kHost = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

std::vector<uint8_t> frame(const Mac &dst, std::vector<uint8_t> body)
{
    std::vector<uint8_t> f(14, 0);
    std::memcpy(f.data(), dst.data(), 6);
    std::memcpy(f.data() + 6, kHost.data(), 6);
    f[12] = static_cast<uint8_t>(body.size() >> 8);
    f[13] = static_cast<uint8_t>(body.size());
    f.insert(f.end(), body.begin(), body.end());
    if (f.size() < 60)
        f.resize(60, 0);
    return f;
}

void put24(std::vector<uint8_t> &v, uint32_t w)
{
    v.push_back(static_cast<uint8_t>(w >> 16));
    v.push_back(static_cast<uint8_t>(w >> 8));
    v.push_back(static_cast<uint8_t>(w));
}

struct Boot : ::testing::Test {
    Chip chip;
    Output one(const std::vector<uint8_t> &f)
    {
        auto outs = chip.on_frame(f.data(), f.size());
        EXPECT_EQ(outs.size(), 1u);
        return outs.empty() ? Output{} : outs[0];
    }
    std::vector<uint8_t> start(const Mac *boot_mac)
    {
        std::vector<uint8_t> b = {0, 0, 2, 3, 4, static_cast<uint8_t>(boot_mac ? 1 : 0)};
        if (boot_mac)
            b.insert(b.end(), boot_mac->begin(), boot_mac->end());
        else
            b.resize(12, 0);
        // The start frame's length field says 5 whatever follows.
        auto f = frame(chip.mgmt_mac(), b);
        f[12] = 0;
        f[13] = 5;
        return f;
    }
    std::vector<uint8_t> data(uint8_t seq, uint32_t load, const std::vector<uint32_t> &words)
    {
        std::vector<uint8_t> b = {4, seq, 1};
        put24(b, load);
        put24(b, static_cast<uint32_t>(words.size()));
        for (uint32_t w : words)
            put24(b, w);
        return frame(chip.boot_mac(), b);
    }
};

TEST_F(Boot, FullBootRunsTheFirmware)
{
    auto r = one(start(nullptr)).frame;
    EXPECT_EQ(r[12], 0x61);
    EXPECT_EQ(r[13], 0x20);
    EXPECT_EQ(r[16], 0x80);
    EXPECT_EQ(0, std::memcmp(r.data() + 18, chip.boot_mac().data(), 6));

    r = one(frame(chip.boot_mac(), {4, 1, 0, 0, 0, 0x10, 0})).frame;  // init, 4096 bytes
    EXPECT_EQ(r[16], 0x84);
    EXPECT_EQ(r[17], 1);
    EXPECT_EQ(r[18] & 3, 0);

    // 300 data frames: the sequence byte runs 2..255, then 0..45.
    uint8_t seq = 2;
    for (int i = 0; i < 300; i++, seq++) {
        r = one(data(seq, 0x010000 + static_cast<uint32_t>(i), {static_cast<uint32_t>(i)})).frame;
        ASSERT_EQ(r[17], seq);
        ASSERT_EQ(r[18] & 3, 0) << i;
    }
    EXPECT_EQ(seq, 46);
    r = one(frame(chip.boot_mac(), {4, seq, 1, 0, 0, 0, 0, 0, 0})).frame;  // end of data
    EXPECT_EQ(r[18] & 3, 0);
    seq++;
    r = one(frame(chip.boot_mac(), {4, seq, 2})).frame;  // finish
    EXPECT_EQ(r[16], 0x84);
    EXPECT_EQ(r[17], seq);
    r = one(frame(chip.boot_mac(), {2})).frame;  // stop
    EXPECT_EQ(r[16], 0x82);
    EXPECT_EQ(chip.state(), State::Running);
    EXPECT_EQ(chip.peek(EBM_MEM_X, 299), 299u);  // records landed in X memory
    EXPECT_EQ(chip.peek(EBM_MEM_X, kSignatureAddress), kFirmwareSignature);
}

TEST_F(Boot, ConfiguredBootMacIsUsedAndEchoed)
{
    Mac mine = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x01};
    auto r = one(start(&mine)).frame;
    EXPECT_EQ(0, std::memcmp(r.data() + 18, mine.data(), 6));
    EXPECT_EQ(chip.boot_mac(), mine);
    // Frames to the default boot address now go unanswered.
    Chip other;
    auto f = frame(other.boot_mac(), {4, 1, 0, 0, 0, 0, 9});
    EXPECT_TRUE(chip.on_frame(f.data(), f.size()).empty());
}

TEST_F(Boot, BadFramesAreRefusedNotAcknowledged)
{
    one(start(nullptr));
    one(frame(chip.boot_mac(), {4, 1, 0, 0, 0, 0, 9}));
    struct Case {
        const char *what;
        std::vector<uint8_t> f;
    } cases[] = {
        {"wrong sequence", data(7, 0x010000, {1})},
        {"memory beyond Y", data(2, 0x030000, {1})},
        {"record past the end of memory", data(2, 0x01FFFF, {1, 2})},
    };
    for (auto &c : cases) {
        auto r = one(c.f).frame;
        EXPECT_NE(r[18] & 3, 0) << c.what;
    }
    // A count that promises more words than the length field covers.
    auto lying = data(2, 0x010000, {1});
    lying[22] = 2;
    EXPECT_NE(one(lying).frame[18] & 3, 0);
    // None of the refusals moved the sequence on.
    EXPECT_EQ(one(data(2, 0x010000, {5})).frame[18] & 3, 0);
    EXPECT_EQ(chip.peek(EBM_MEM_X, 0), 5u);
}

TEST_F(Boot, HeldChipIgnoresEverything)
{
    chip.set_reset_line(false);
    auto f = start(nullptr);
    EXPECT_TRUE(chip.on_frame(f.data(), f.size()).empty());
    chip.set_reset_line(true);
    EXPECT_EQ(one(f).frame[16], 0x80);
}

}  // namespace
}  // namespace chipsim
