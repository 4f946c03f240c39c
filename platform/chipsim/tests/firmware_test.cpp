// The running firmware's own behaviour: host commands, line phases, the
// far-end mailbox and counters, driven by EBM frames and a test clock.
#include "chipsim/chip.hpp"
#include "ebm_frames.hpp"

#include "vdsl_ebm.h"

#include <gtest/gtest.h>

#include <cstring>

namespace chipsim {
namespace {

constexpr uint32_t kCmd = 0x1006, kGo = 0x1007, kPhy = 0x1004;
constexpr uint32_t kReq = 0x1100, kMbox = 0x1110, kTag = 0x1111, kData = 0x1112;
constexpr uint32_t kLdsf = 0x1200, kLdsfState = 0x1201, kToneRequest = 0x1202, kSegment = 0x1203;
constexpr uint32_t kBitsGain = 0x1400, kHlog = 0x1600, kSeltStatus = 0x1300;

struct Firmware : ::testing::Test {
    Chip chip{Chip::Config{Mac EBM_CHIP_MGMT_MAC, Mac EBM_CHIP_DEFAULT_BOOT_MAC, true}};
    uint64_t t = 1000;

    void SetUp() override
    {
        chip.set_clock([this] { return t; });
        for (const char *line :
             {"entry host_command 0x1006", "entry host_go 0x1007", "entry phy_status 0x1004",
              "entry mbox_request 0x1100", "entry mbox_command 0x1110", "entry mbox_tag 0x1111",
              "entry mbox_data 0x1112", "entry ldsf 0x1200", "entry ldsf_state 0x1201",
              "entry tone_request 0x1202", "entry segment 0x1203", "entry bits_gain 0x1400",
              "entry hlog 0x1600", "entry selt_status 0x1300"})
            ASSERT_EQ(chip.control(line), "ok") << line;
    }

    // One EBM exchange; the word the chip answers.
    uint32_t frame(bool write, uint32_t addr, uint32_t value = 0)
    {
        auto f = ebm_request(chip.mgmt_mac(), Mac{2, 0, 0, 0, 0, 1},
                             static_cast<uint8_t>((write ? EBM_REQ_WRITE : 0) | 1),
                             static_cast<uint16_t>(addr), value);
        auto outs = chip.on_frame(f.data(), f.size());
        EXPECT_EQ(outs.size(), 1u);
        const uint8_t *a = outs.at(0).frame.data() + 16;
        return static_cast<uint32_t>(a[3] << 16 | a[4] << 8 | a[5]);
    }
    uint32_t read(uint32_t addr) { return frame(false, addr); }
    void write(uint32_t addr, uint32_t v) { frame(true, addr, v); }
    void host_command(uint32_t c)
    {
        write(kCmd, c);
        write(kGo, 1);
    }
};

TEST_F(Firmware, GoFlagIsClearedOnlyOnceTheCommandIsTaken)
{
    host_command(5);
    EXPECT_EQ(read(kGo), 1u);
    EXPECT_TRUE(chip.host_commands().empty());
    t += 30;
    EXPECT_EQ(read(kGo), 0u);
    EXPECT_EQ(chip.host_commands(), std::vector<uint32_t>{5});
    EXPECT_EQ(read(kPhy) & 0x800, 0x800u);  // loop-back on
    host_command(6);
    t += 30;
    EXPECT_EQ(read(kPhy) & 0x800, 0u);
}

TEST_F(Firmware, CommandsAreTakenAsTheirGoFoundThem)
{
    // The next command word follows at once, the go a second later.
    write(kCmd, 4);
    write(kGo, 1);
    write(kCmd, 0xe);
    t += 1000;
    write(kGo, 1);
    t += 30;
    read(kGo);
    EXPECT_EQ(chip.host_commands(), (std::vector<uint32_t>{4, 0xe}));
}

TEST_F(Firmware, StuckGoFlagNeverClears)
{
    ASSERT_EQ(chip.control("hostcmd stuck on"), "ok");
    host_command(3);
    t += 10000;
    EXPECT_EQ(read(kGo), 1u);
    EXPECT_TRUE(chip.host_commands().empty());
}

TEST_F(Firmware, ConnectWalksTheLineToShowtimeAndDisconnectStopsIt)
{
    host_command(3);
    EXPECT_EQ(read(kPhy) >> 8 & 3, 0u);  // not taken yet
    t += 30;
    struct Step {
        uint64_t after;
        uint32_t phase;
    } steps[] = {{0, 1}, {200, 2}, {200, 3}, {1000, 3}};
    for (const Step &s : steps) {
        t += s.after;
        EXPECT_EQ(read(kPhy) >> 8 & 3, s.phase) << "at " << t;
    }
    host_command(4);
    t += 30;
    EXPECT_EQ(read(kPhy) >> 8 & 3, 0u);
    EXPECT_EQ(chip.control("line"), "ok phase=0 commands=2");
}

TEST_F(Firmware, MailboxAnswersFarEndWordsWithTheRequestTag)
{
    chip.far_poke(0x44, 0xABCDEF);
    ASSERT_EQ(chip.control("mailbox delay 100"), "ok");
    write(kReq, 0x200081);
    write(kReq + 1, 0x44);
    write(kReq + 2, 1);
    write(kMbox, 0x81407D);
    EXPECT_EQ(read(kMbox), 0x81407Du);  // not yet answered
    t += 100;
    EXPECT_EQ(read(kMbox) >> 16, 0x51u);
    EXPECT_EQ(read(kTag), 0x200081u);
    EXPECT_EQ(read(kData), 0xABCDEFu);

    ASSERT_EQ(chip.control("mailbox refuse on"), "ok");
    write(kMbox, 0x81407D);
    t += 100;
    EXPECT_EQ(read(kMbox) >> 16, 0x49u);
    write(kMbox, 0x123456);  // any other command is just a word
    t += 100;
    EXPECT_EQ(read(kMbox), 0x123456u);
}

TEST_F(Firmware, CountersGrowOnEveryReadAndWrapAt24Bits)
{
    ASSERT_EQ(chip.control("poke x 0x2000 0xfffff8"), "ok");
    ASSERT_EQ(chip.control("counter x 0x2000 5"), "ok");
    EXPECT_EQ(read(0x2000), 0xFFFFF8u);
    EXPECT_EQ(read(0x2000), 0xFFFFFDu);
    EXPECT_EQ(read(0x2000), 0x000002u);
    ASSERT_EQ(chip.control("counter x 0x2000 0"), "ok");
    EXPECT_EQ(read(0x2000), 0x000007u);
    EXPECT_EQ(read(0x2000), 0x000007u);
}

TEST_F(Firmware, BenchCommandsRefuseWhatTheyCannotTake)
{
    for (const char *bad :
         {"entry nothing 0x10", "entry host_go 0x10000", "hostcmd stuck maybe", "mailbox delay x",
          "counter q 0x10 1", "far poke 0x10", "far poke 0x10 0x1000000"})
        EXPECT_EQ(chip.control(bad).compare(0, 3, "err"), 0) << bad;
    EXPECT_EQ(chip.control("far poke 0x10 0x123"), "ok");
    EXPECT_EQ(chip.far_peek(0x10), 0x123u);
}

TEST_F(Firmware, LoopDiagnosticEndsAsTheBenchSays)
{
    struct Case {
        const char *outcome;
        uint32_t state, flag_after;
    } cases[] = {{"done", 2, 0}, {"fail", 7, 0}, {"silent", 1, 1}};
    ASSERT_EQ(chip.control("delt time 200"), "ok");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.outcome);
        ASSERT_EQ(chip.control(std::string("delt ") + c.outcome), "ok");
        write(kHlog, 0x3FF);
        write(kLdsf, 1);
        write(kLdsfState, 1);  // the shell clears the reason first
        host_command(3);
        t += 30;
        EXPECT_EQ(read(kPhy) >> 8 & 3, 1u) << "the diagnostic trains from handshake";
        t += 200;
        EXPECT_EQ(read(kLdsfState), c.flag_after ? 1u : 3u);
        t += 200;
        EXPECT_EQ(read(kLdsfState), c.state);
        EXPECT_EQ(read(kLdsf), c.flag_after) << "a diagnostic that ran clears its flag";
        EXPECT_EQ(read(kHlog), c.state == 2 ? 0u : 0x3FFu);
        host_command(4);
        t += 30;
    }
    // The flag written back, a connect walks to showtime again.
    write(kLdsf, 0);
    host_command(3);
    t += 30 + 400;
    EXPECT_EQ(read(kPhy) >> 8 & 3, 3u);
}

TEST_F(Firmware, SegmentSelectionServesItsAllocation)
{
    write(kSegment, 3);
    EXPECT_EQ(read(kBitsGain), allocation_word(1025, false));
    EXPECT_EQ(read(kBitsGain + 511), allocation_word(1536, false));
    write(kSegment, 0x800003);
    EXPECT_EQ(read(kBitsGain), allocation_word(1025, true));
    write(kSegment, 9);  // no such segment: the words stay
    EXPECT_EQ(read(kBitsGain), allocation_word(1025, true));
    EXPECT_EQ(allocation_word(5, false), 0x5105u) << "5 bits, g = 0x105";
}

TEST_F(Firmware, ToneSegmentRequestIsDoneAtOnce)
{
    write(kToneRequest, 0x820081);
    EXPECT_EQ(read(kToneRequest), 0x920081u);
    write(kToneRequest, 0x000001);
    EXPECT_EQ(read(kToneRequest), 0x000001u);
}

TEST_F(Firmware, SeltStatusReadingsNameTheResultRanges)
{
    // One whole reading of the five status words.
    auto reading = [this] {
        std::vector<uint32_t> w;
        for (uint32_t k = 0; k < 5; k++)
            w.push_back(read(kSeltStatus + k));
        return w;
    };
    ASSERT_EQ(chip.control("selt flags 0x18"), "ok");
    host_command(0xe);
    t += 30;
    EXPECT_EQ(reading()[0], 0u) << "running";
    t += 200;
    EXPECT_EQ(reading()[0], 0x800018u) << "done, with its status bits";
    EXPECT_EQ(reading()[0], 0x5000u);
    EXPECT_EQ(reading()[0], 16u);
    EXPECT_EQ(reading()[1], 0x5100u);
    EXPECT_EQ(reading()[1], 8u);
    EXPECT_EQ(reading()[0], 0x6000u);
    EXPECT_EQ(reading()[0], 4u);
    EXPECT_EQ(reading()[0], 0x800018u) << "then the status again";
    EXPECT_EQ(read(0x5000), selt_result_word(EBM_MEM_X, 0x5000));
    EXPECT_EQ(chip.peek(EBM_MEM_Y, 0x6003), selt_result_word(EBM_MEM_Y, 0x6003));
    write(kSeltStatus, 0);
    EXPECT_EQ(reading()[0], 0u) << "reset by the shell";

    host_command(0xd);
    t += 230;
    EXPECT_EQ(reading()[0], 0x800018u);
    EXPECT_EQ(reading()[0], 0x5200u);
    EXPECT_EQ(reading()[0], 12u);
}

}  // namespace
}  // namespace chipsim
