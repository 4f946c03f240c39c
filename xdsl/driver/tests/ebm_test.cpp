// Management frames: layout, FCS, sequence numbers, retries and time-outs,
// reply matching, the persistent socket and the interface notifier.
#include "fw_test/matchers.h"
#include "vdsl_fixture.hpp"

using fw_test::HasSubstr;

namespace vdsltest {
namespace {

class Ebm : public Driver {
protected:
    void SetUp() override
    {
        Driver::SetUp();
        ASSERT_EQ(set_mgt(), 0);
        ASSERT_EQ(firmware_phase(3), 0);  // the chip runs: port 0 is IDLE
        sent.clear();
    }
};

TEST_F(Ebm, FirstReadAfterLoadIsTheKnownFrame)
{
    // A fresh module: the signature read of the firmware start is the first.
    kstandin_module_exit();
    ASSERT_EQ(kstandin_module_init(), 0);
    ASSERT_EQ(set_mgt(), 0);
    uint32_t v = 0;
    ASSERT_EQ(word_read(VDSL_EBM_ACCESS, 0x6C36, 0, v), 0);
    EXPECT_EQ(v, 0x474154u);
    ASSERT_EQ(sent.size(), 1u);
    const Block want = {0x02, 0x00, 0xEB, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0A, 0x01,
                        0x61, 0x20, 0x00, 0x07, 0x01, 0x6C, 0x36, 0x00, 0x00, 0x00, 0x4F, 0x22};
    EXPECT_EQ(sent[0], want);
}

TEST_F(Ebm, SequenceRunsOneToSevenThenZeroAcrossBothRoutes)
{
    // The firmware start used 1; reads and writes of both routes share the counter.
    uint32_t v;
    std::vector<int> seqs;
    for (int i = 0; i < 9; i++) {
        if (i % 2)
            ASSERT_EQ(word_read(VDSL_GET_MEM_SK, 0x10, 0, v), 0);
        else
            ASSERT_EQ(word_write(VDSL_EBM_ACCESS, 0x10, 0, 0x100 + i), 0);
        seqs.push_back(sent.back()[16] & 7);
    }
    EXPECT_EQ(seqs, (std::vector<int>{2, 3, 4, 5, 6, 7, 0, 1, 2}));
}

TEST_F(Ebm, WriteFrameCarriesBitFiveAndTheValueHighByteFirst)
{
    ASSERT_EQ(word_write(VDSL_SET_MEM_SK, 0x12ABCD, 1, 0x123456), 0);
    const Block &f = sent.back();
    EXPECT_EQ(f[16] & 0x20, 0x20);
    EXPECT_EQ((f[16] >> 3) & 3, 1);  // Y memory
    EXPECT_EQ(f[17], 0xAB);          // upper address bits dropped
    EXPECT_EQ(f[18], 0xCD);
    EXPECT_EQ((Block{f[19], f[20], f[21]}), (Block{0x12, 0x34, 0x56}));
    EXPECT_EQ(chipsim::fcs16(f.data() + 16, 6), f[22] | f[23] << 8);
    EXPECT_EQ(chip.peek(1, 0xABCD), 0x123456u);
    uint32_t v;
    ASSERT_EQ(word_read(VDSL_GET_MEM_SK, 0xABCD, 1, v), 0);
    EXPECT_EQ(v, 0x123456u);
}

TEST_F(Ebm, SilentChipGetsThreeSendsAndFailsAfter450ms)
{
    struct Route {
        unsigned cmd;
    } routes[] = {{VDSL_EBM_ACCESS}, {VDSL_GET_MEM_SK}, {VDSL_GET_MEM}};
    for (const Route &r : routes) {
        chip.set_fault({chipsim::Fault::Silent, 0, 0});
        sent.clear();
        int64_t t0 = now_ms();
        uint32_t v = 0xABCDEF;
        EXPECT_EQ(word_read(r.cmd, 0x6C36, 0, v), -11) << std::hex << r.cmd;
        EXPECT_EQ(now_ms() - t0, 450) << std::hex << r.cmd;
        EXPECT_EQ(sent.size(), 3u);
        EXPECT_EQ(sent[0], sent[2]);  // the same request each time
    }
}

TEST_F(Ebm, LostFirstReplyIsAnsweredOnTheSecondSend)
{
    chip.set_fault({chipsim::Fault::Silent, 0, 1});
    int64_t t0 = now_ms();
    uint32_t v;
    EXPECT_EQ(word_read(VDSL_GET_MEM_SK, 0x6C36, 0, v), 0);
    EXPECT_EQ(v, 0x474154u);
    EXPECT_EQ(now_ms() - t0, 10 + 20 + 30);
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(Ebm, LateReplyDoesNotAnswerTheNextRequest)
{
    chip.poke(0, 0x10, 0x111111);
    chip.poke(0, 0x20, 0x222222);
    chip.set_fault({chipsim::Fault::Delay, 500, 3});  // all three sends answered late
    uint32_t v = 0;
    EXPECT_EQ(word_read(VDSL_GET_MEM_SK, 0x10, 0, v), -11);
    msleep(200);  // the late replies are waiting on the socket now
    ASSERT_EQ(word_read(VDSL_GET_MEM_SK, 0x20, 0, v), 0);
    EXPECT_EQ(v, 0x222222u);
}

TEST_F(Ebm, DuplicateRepliesAreDropped)
{
    chip.poke(0, 0x10, 0x111111);
    chip.poke(0, 0x11, 0x333333);
    chip.set_fault({chipsim::Fault::Duplicate, 0, 0});
    uint32_t v = 0;
    for (int i = 0; i < 10; i++) {  // more than one run through the sequence numbers
        uint32_t addr = i % 2 ? 0x11 : 0x10;
        ASSERT_EQ(word_read(VDSL_GET_MEM_SK, addr, 0, v), 0);
        EXPECT_EQ(v, i % 2 ? 0x333333u : 0x111111u) << i;
    }
}

TEST_F(Ebm, DamagedReplyIsDroppedAndTheRequestResent)
{
    chip.set_fault({chipsim::Fault::BadFcs, 0, 1});
    uint32_t v;
    EXPECT_EQ(word_read(VDSL_GET_MEM_SK, 0x6C36, 0, v), 0);
    EXPECT_EQ(v, 0x474154u);
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(Ebm, ReplyFromAnySourceIsAccepted)
{
    rewrite_source = true;
    uint32_t v;
    EXPECT_EQ(word_read(VDSL_EBM_ACCESS, 0x6C36, 0, v), 0);
    EXPECT_EQ(v, 0x474154u);
}

TEST_F(Ebm, InterfaceStates)
{
    uint32_t v;
    // Unregistering the named interface closes the socket and forgets the name.
    kstandin_vdev_remove(kMgt);
    EXPECT_EQ(ebm_mgt_ethif[0], 0);
    EXPECT_EQ(word_read(VDSL_GET_MEM_SK, 0x6C36, 0, v), -127);
    EXPECT_EQ(word_read(VDSL_EBM_ACCESS, 0x6C36, 0, v), -6);
    Block b = block(VDSL_BLOCK_HEAD);
    EXPECT_EQ(ioctl(VDSL_REOPEN_SOCKET, b), -1);

    // A down interface: named, but no socket opens on it.
    ASSERT_GT(kstandin_vdev_add(kMgt, kMgtMac, xmit, this), 0);
    kstandin_vdev_set_up(kMgt, 0);
    EXPECT_EQ(set_mgt(), 0);
    EXPECT_THAT(log(), HasSubstr("Device mgt0 is down\n"));
    EXPECT_EQ(word_read(VDSL_GET_MEM_SK, 0x6C36, 0, v), -127);
    EXPECT_EQ(word_read(VDSL_EBM_ACCESS, 0x6C36, 0, v), -6);

    kstandin_vdev_set_up(kMgt, 1);
    EXPECT_EQ(ioctl(VDSL_REOPEN_SOCKET, b), 0);
    EXPECT_EQ(word_read(VDSL_GET_MEM_SK, 0x6C36, 0, v), 0);
    // Another interface's going leaves ours alone.
    kstandin_netdev_event(NETDEV_UNREGISTER, "eth9");
    EXPECT_EQ(word_read(VDSL_GET_MEM_SK, 0x6C36, 0, v), 0);
}

TEST_F(Ebm, LongInterfaceNameIsCutToFifteen)
{
    Block b = block(VDSL_BLOCK_HEAD);
    std::memset(b.data(), 'a', 40);
    EXPECT_EQ(ioctl(VDSL_SET_MGT_IFACE, b), 0);
    EXPECT_EQ(std::string(ebm_mgt_ethif), std::string(15, 'a'));
}

}  // namespace
}  // namespace vdsltest
