// Host commands and the port operations built on them.
#include "fw_test/matchers.h"
#include "full_mib.hpp"

using fw_test::HasSubstr;

namespace vdsltest {
namespace {

class HostCommands : public FullMib {};

TEST_F(HostCommands, ConnectWalksTheLineAndDisconnectStopsIt)
{
    ASSERT_EQ(chip.control("hostcmd phase 400"), "ok");
    EXPECT_EQ(op_state(), VDSL_STATE_IDLE);
    int64_t t0 = now_ms();
    EXPECT_EQ(request(VDSL_CONNECT_PORT), 0);
    EXPECT_EQ(chip.host_commands(), std::vector<uint32_t>{3});
    EXPECT_EQ(now_ms() - t0 >= 500, true);  // the chip is given time to leave idle
    EXPECT_EQ(op_state(), VDSL_STATE_HANDSHAKE);

    struct Step {
        int64_t wait_ms;
        uint8_t state;
    } steps[] = {{0, VDSL_STATE_TRAINING}, {400, VDSL_STATE_SHOWTIME}, {1000, VDSL_STATE_SHOWTIME}};
    for (const Step &s : steps) {
        kstandin_advance_ns(s.wait_ms * 1000000);
        Block b = block(VDSL_BLOCK_HEAD);
        EXPECT_EQ(ioctl(VDSL_PHY_STATUS, b), 0);
        EXPECT_EQ(b[0], s.state);
        EXPECT_EQ(b[1], 1);  // connected
    }
    EXPECT_EQ(request(VDSL_DISCONNECT_PORT), 0);
    kstandin_advance_ns(50 * 1000000);  // the chip takes the command
    Block b = block(VDSL_BLOCK_HEAD);
    EXPECT_EQ(ioctl(VDSL_PHY_STATUS, b), 0);
    EXPECT_EQ(b[0], VDSL_STATE_IDLE);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(chip.host_commands(), (std::vector<uint32_t>{3, 4}));
}

TEST_F(HostCommands, EachOperationSendsItsCommand)
{
    struct Case {
        unsigned cmd;
        std::vector<uint32_t> sent;
    } cases[] = {
        {VDSL_INIT_MODEM, {0}},      {VDSL_RESET_MODEM, {0}},    {VDSL_SHUTDOWN_CHIP, {0}},
        {VDSL_SHUTDOWN_SYSTEM, {0}}, {VDSL_LOOPBACK_ON, {4, 5}}, {VDSL_LOOPBACK_OFF, {6}},
    };
    size_t seen = 0;
    for (const Case &c : cases) {
        EXPECT_EQ(request(c.cmd), 0) << std::hex << c.cmd;
        kstandin_advance_ns(100 * 1000000);
        Block a;
        mib_read("0.1.1", a);  // lets the chip take the last command
        std::vector<uint32_t> got(chip.host_commands().begin() + static_cast<long>(seen),
                                  chip.host_commands().end());
        EXPECT_EQ(got, c.sent) << std::hex << c.cmd;
        seen = chip.host_commands().size();
    }
    EXPECT_EQ(chip.peek(0, at(2, 1, 5)) & 0x800, 0u);  // loop-back off again
}

TEST_F(HostCommands, StuckGoFlagFailsAfterItsPolls)
{
    ASSERT_EQ(chip.control("hostcmd stuck on"), "ok");
    ASSERT_EQ(request(VDSL_INIT_MODEM), 0);  // the first command sets the flag
    kstandin_log_clear();
    Block level{0, 0, 0, 1};
    level.resize(VDSL_BLOCK_HEAD);
    ASSERT_EQ(ioctl(VDSL_SET_DEBUG_LEVEL, level), 0);
    size_t before = sent.size();
    int64_t t0 = now_ms();
    EXPECT_EQ(request(VDSL_DISCONNECT_PORT), 100);
    EXPECT_GE(now_ms() - t0, 99 * 20);
    EXPECT_EQ(sent.size() - before, 100u);  // one read of the flag a poll, nothing written
    EXPECT_THAT(log(), HasSubstr("Issue host command failed!!\n"));
    // A loop-back still tries its second command when the first failed.
    sent.clear();
    EXPECT_EQ(request(VDSL_LOOPBACK_ON), 100);
    EXPECT_EQ(sent.size(), 200u);
}

TEST_F(HostCommands, ConnectGivesUpAfterTenTriesAndStillRecordsHandshake)
{
    // A chip that takes the command but never leaves idle.
    chipsim::FirmwareLayout l = chip.layout();
    l.phy_status = -1;
    chip.set_layout(l);
    EXPECT_EQ(request(VDSL_CONNECT_PORT), 0);
    EXPECT_EQ(chip.host_commands().size(), 10u);
    EXPECT_EQ(op_state(), VDSL_STATE_HANDSHAKE);
}

TEST_F(HostCommands, RefusedWhileDisabledOrForOtherPorts)
{
    ASSERT_EQ(request(VDSL_RESET_CHIP_HIGH), 0);  // port disabled
    for (unsigned cmd : {VDSL_INIT_MODEM, VDSL_CONNECT_PORT, VDSL_DISCONNECT_PORT, VDSL_LOOPBACK_ON})
        EXPECT_EQ(request(cmd), 100) << std::hex << cmd;
    // A connect does not make a chip in reset look like it trains.
    EXPECT_EQ(op_state(), VDSL_STATE_DISABLE);
    EXPECT_EQ(request(VDSL_INIT_MODEM, 1), -108);  // the MIB read's answer for port 1
    EXPECT_EQ(request(VDSL_CONNECT_PORT, 1), 100);
    Block b = block(VDSL_BLOCK_HEAD);
    EXPECT_EQ(ioctl(VDSL_PHY_STATUS, b), 0);
    EXPECT_EQ(b[0], VDSL_STATE_DISABLE);
    EXPECT_TRUE(sent.empty());
}

}  // namespace
}  // namespace vdsltest
