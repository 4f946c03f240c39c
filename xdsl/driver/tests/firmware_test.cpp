// Firmware start phases, binary driver loading and the image check.
#include "fw_test/matchers.h"
#include "vdsl_fixture.hpp"

using fw_test::HasSubstr;

namespace vdsltest {
namespace {

class Firmware : public Driver {
protected:
    void SetUp() override
    {
        Driver::SetUp();
        ASSERT_EQ(set_mgt(), 0);
    }
    long check()
    {
        Block b = block();
        return ioctl(VDSL_CHECK_BINDRV, b);
    }
};

TEST_F(Firmware, StartPhasesAndImageGiveMibAccess)
{
    TestImage::prepare_chip(chip);
    chip.poke(0, 0x1004, 0x00ABCD);
    Block a;
    EXPECT_EQ(mib_read("2.1.5", a), 100);  // port disabled until the firmware start
    EXPECT_EQ(firmware_phase(3), 0);
    EXPECT_EQ(op_state(), VDSL_STATE_IDLE);
    EXPECT_EQ(mib_read("2.1.5", a), 112);  // no image yet
    EXPECT_EQ(a[0], 0);
    EXPECT_STREQ(reinterpret_cast<char *>(a.data()) + 2, "000000");
    EXPECT_EQ(load_image(TestImage::bytes()), 0);
    EXPECT_EQ(mib_read("2.1.5", a), 0);
    EXPECT_EQ(a[1], 1);
    EXPECT_STREQ(reinterpret_cast<char *>(a.data()) + 2, "00abcd");
    // The check ran once; the next access reads just the entry.
    sent.clear();
    EXPECT_EQ(mib_read("2.1.5", a), 0);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(Firmware, SignatureOfTheRunningChip)
{
    chip.poke(0, chipsim::kSignatureAddress, 0x123456);
    EXPECT_EQ(firmware_phase(3), 100);
    EXPECT_EQ(op_state(), VDSL_STATE_DISABLE);

    // A silent chip: 20 reads of about 450 ms, 100 ms apart.
    chip.set_fault({chipsim::Fault::Silent, 0, 0});
    int64_t t0 = now_ms();
    EXPECT_EQ(firmware_phase(3), -11);
    EXPECT_EQ(now_ms() - t0, 100 + 20 * (450 + 100));
    EXPECT_EQ(op_state(), VDSL_STATE_DISABLE);
}

TEST_F(Firmware, PhaseOneResetsAndForgetsTheImage)
{
    Block mask = block(VDSL_BLOCK_HEAD);
    mask[3] = 1;
    ioctl(VDSL_SET_DEBUG_LEVEL, mask);
    TestImage::prepare_chip(chip);
    ASSERT_EQ(firmware_phase(3), 0);
    ASSERT_EQ(load_image(TestImage::bytes()), 0);
    ASSERT_EQ(check(), 0);

    EXPECT_EQ(firmware_phase(1), 0);
    EXPECT_THAT(log(), HasSubstr("Resetting Chip...\n"));
    EXPECT_EQ(op_state(), VDSL_STATE_DISABLE);
    ASSERT_EQ(firmware_phase(3), 0);
    Block a;
    EXPECT_EQ(mib_read("2.1.5", a), 112);
}

TEST_F(Firmware, ImageSignatureIsCheckedAtEveryAccessUntilSound)
{
    TestImage::prepare_chip(chip);
    ASSERT_EQ(firmware_phase(3), 0);
    auto img = TestImage::bytes();
    std::memcpy(img.data(), "VRXS", 4);
    EXPECT_EQ(load_image(img), 0);
    Block a;
    EXPECT_EQ(mib_read("2.1.5", a), 113);
    EXPECT_EQ(mib_read("2.1.5", a), 113);
    EXPECT_EQ(check(), 113);
    EXPECT_EQ(load_image(TestImage::bytes()), 0);
    EXPECT_EQ(check(), 0);
}

TEST_F(Firmware, MalformedImagesAreRefused)
{
    TestImage::prepare_chip(chip);
    ASSERT_EQ(firmware_phase(3), 0);
    struct Case {
        const char *what;
        uint32_t word;
        uint32_t value;
        size_t size;
    } cases[] = {
        {"shorter than its header", 0, 0x534F5256, 100},
        {"more than 100 table starts", 7, 101, 0},
        {"more than 100 tables", 9, 101, 0},
        {"rows of no items", 8, 0, 0},
        {"offsets rows past the end", 8, 1000, 0},
        {"row count that overflows", 8, 0xFFFFFFFF, 0},
        {"directory past the end", 9, 100, 0},
    };
    for (const Case &c : cases) {
        auto img = TestImage::bytes();
        TestImage::set_word(img, c.word, c.value);
        if (c.size)
            img.resize(c.size);
        EXPECT_EQ(load_image(img), 113) << c.what;
        Block a;
        EXPECT_EQ(mib_read("2.1.5", a), 112) << c.what;  // refused: not loaded
    }
    EXPECT_EQ(load_image(TestImage::bytes()), 0);
    EXPECT_EQ(check(), 0);
}

TEST_F(Firmware, ChunksStayInsideTheBlockAndTheImage)
{
    Block b = block();
    b[0] = 1;
    ASSERT_EQ(ioctl(VDSL_LOAD_BINDRV, b), 0);
    // A chunk longer than the block's data area.
    b = block();
    b[0] = 2;
    b[1] = 0x04;
    b[2] = 0x36;  // 1078 bytes
    EXPECT_EQ(ioctl(VDSL_LOAD_BINDRV, b), 100);
    EXPECT_EQ(bd_len, 0u);
    // Up to 16384 bytes are taken; a chunk past that is refused whole.
    for (int i = 0; i < 32; i++) {
        b = block();
        b[0] = 2;
        b[1] = 0x02;
        b[2] = 0x00;
        b[3] = static_cast<unsigned char>(i);
        ASSERT_EQ(ioctl(VDSL_LOAD_BINDRV, b), 0) << i;
    }
    EXPECT_EQ(bd_len, 16384u);
    b[2] = 0x01;
    EXPECT_EQ(ioctl(VDSL_LOAD_BINDRV, b), 100);
    EXPECT_EQ(bd_len, 16384u);
    EXPECT_EQ(bd_image[31 * 512], 31);
    // Length 0 changes nothing; a chunk claimed longer than a short block faults.
    b = block();
    b[0] = 2;
    EXPECT_EQ(ioctl(VDSL_LOAD_BINDRV, b), 0);
    Block small = block(VDSL_BLOCK_HEAD);
    small[0] = 2;
    small[2] = 100;
    EXPECT_EQ(ioctl(VDSL_LOAD_BINDRV, small), -14);
    // The firmware phase's identifier in the length field is no data length.
    b = block();
    b[1] = 2;
    b[2] = 0x12;
    b[3] = 0x34;
    EXPECT_EQ(ioctl(VDSL_DOWNLOAD_FIRMWARE, b), 0);
}

TEST_F(Firmware, SignatureBlockFoundThroughTheFallbackPointer)
{
    TestImage::prepare_chip(chip);
    ASSERT_EQ(firmware_phase(3), 0);
    // Move the signature block: W[4] no longer points at a sound one.
    chip.poke(0, 0x104, 0);
    chip.poke(1, 0x3F, 0x0500);
    chip.poke(0, 0x0504, 0x0300);    // p
    chip.poke(0, 0x0501, 0xEA0400);  // end marker address
    chip.poke(0, 0x0509, 0x1000);    // table starts at the pointer + 9
    chip.poke(0, 0x050A, 0x2000);
    ASSERT_EQ(load_image(TestImage::bytes()), 0);
    chip.poke(0, 0x1004, 0x000777);
    Block a;
    EXPECT_EQ(mib_read("2.1.5", a), 0);
    EXPECT_EQ(word_of(a, 0), 0x777u);

    chip.poke(1, 0x3F, 0x0600);  // nothing sound there
    EXPECT_EQ(firmware_phase(1), 0);
    ASSERT_EQ(firmware_phase(3), 0);
    ASSERT_EQ(load_image(TestImage::bytes()), 0);
    EXPECT_EQ(check(), 115);
}

TEST_F(Firmware, UnreadTableStartKeepsTheCheckPending)
{
    TestImage::prepare_chip(chip);
    ASSERT_EQ(firmware_phase(3), 0);
    silent_addrs.insert(0x201);
    ASSERT_EQ(load_image(TestImage::bytes()), 0);
    EXPECT_EQ(check(), -11);
    silent_addrs.clear();
    chip.poke(0, 0x2021, 0x000321);
    Block a;
    EXPECT_EQ(mib_read("3.1.2.2", a), 0);  // checked again, start of 3.1 read this time
    EXPECT_EQ(word_of(a, 0), 0x321u);
}

TEST_F(Firmware, LoadCalibratesTheIntervalClock)
{
    kstandin_clock_set_wall(10 * 3600 + 7 * 60 + 30);
    TestImage::prepare_chip(chip);
    ASSERT_EQ(firmware_phase(3), 0);
    ASSERT_EQ(load_image(TestImage::bytes()), 0);
    EXPECT_EQ(chip.peek(0, 0x100D), 0x1C2u);   // 2.1.13: 450 s left in the quarter hour
    EXPECT_EQ(chip.peek(0, 0x100E), 0xC31Eu);  // 2.1.14: 49950 s left in the day
}

}  // namespace
}  // namespace vdsltest
