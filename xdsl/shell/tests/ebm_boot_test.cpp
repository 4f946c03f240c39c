// The boot exchange against the chip model: frames byte by byte, the
// sequence byte's wrap, refused images and a silent loader; the reset line
// and the interface choice through the configuration manager.
#include <cstdio>
#include <cstring>
#include <deque>
#include <linux/sockios.h>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "chipsim/chip.hpp"
#include "cli_print.h"
#include "ebm_boot.h"
#include "ebm_boot_link.h"
#include "fake_device.h"
#include "package_builder.h"
#include "shell_fixture.h"
#include "sleep_recorder.h"
#include "vdsl.h"
#include "vdsl_ebm.h"

namespace {

using pkgtest::Bytes;
using shelltest::take;

std::vector<unsigned long> &sleeps = shelltest::SleepRecorder::waits();

// The chip model on the far end of the boot interface.
class ChipLink : public boot::Link {
public:
    ChipLink() : chip({chipsim::Mac EBM_CHIP_MGMT_MAC, chipsim::Mac EBM_CHIP_DEFAULT_BOOT_MAC, false}) {}
    bool send(const unsigned char *frame, size_t length) override
    {
        sent.emplace_back(frame, frame + length);
        for (const chipsim::Output &o : chip.on_frame(frame, length))
            replies.push_back(o.frame);
        return true;
    }
    int receive(unsigned char *buffer, size_t capacity, int) override
    {
        if (replies.empty())
            return 0;
        Bytes r = replies.front();
        replies.pop_front();
        size_t n = r.size() < capacity ? r.size() : capacity;
        std::memcpy(buffer, r.data(), n);
        return static_cast<int>(n);
    }
    chipsim::Chip chip;
    std::vector<Bytes> sent;
    std::deque<Bytes> replies;
};

const unsigned char kOwn[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

class EbmBoot : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        sleeps.clear();
        take();
    }
    // The image as a file, booted over link.
    int boot(ChipLink &link, const Bytes &image, const char *mac = nullptr)
    {
        std::string path = write_file("image.bin", std::string(image.begin(), image.end()));
        std::FILE *f = std::fopen(path.c_str(), "rb");
        int rc = boot::run(link, 0, kOwn, mac, f, 0, static_cast<long>(image.size()));
        std::fclose(f);
        return rc;
    }
    shelltest::SleepRecorder recorder_;
};

TEST_F(EbmBoot, ImageLandsInTheChipFrameByFrame)
{
    ChipLink link;
    Bytes image = pkgtest::boot_image({{0x010100, {0x123456, 0xABCDEF}}, {0x020010, {0x000001}}});
    EXPECT_EQ(boot(link, image), 0);
    EXPECT_EQ(link.chip.state(), chipsim::State::Running);
    EXPECT_EQ(link.chip.peek(EBM_MEM_X, 0x0100), 0x123456u);
    EXPECT_EQ(link.chip.peek(EBM_MEM_X, 0x0101), 0xABCDEFu);
    EXPECT_EQ(link.chip.peek(EBM_MEM_Y, 0x0010), 0x000001u);
    EXPECT_EQ(take(), "Sendto Success! : Start\nSendto Success! : Bootrequest Init\nend of packet\n"
                      "Sendto Success! : Bootrequest finish\nSendto Success! : Stop\n");
    EXPECT_EQ(sleeps, std::vector<unsigned long>{500000});

    // start, init, two records, the end mark, finish, stop
    ASSERT_EQ(link.sent.size(), 7u);
    const Bytes mgmt = EBM_CHIP_MGMT_MAC, boot_mac = EBM_CHIP_DEFAULT_BOOT_MAC;
    Bytes start(60, 0);
    std::memcpy(start.data(), mgmt.data(), 6);
    std::memcpy(start.data() + 6, kOwn, 6);
    const uint8_t start_req[] = {0x00, 0x05, 0x00, 0x00, 0x02, 0x03, 0x04, 0x00};
    std::memcpy(start.data() + 12, start_req, sizeof start_req);
    EXPECT_EQ(link.sent[0], start);

    Bytes init(60, 0);
    std::memcpy(init.data(), boot_mac.data(), 6);
    std::memcpy(init.data() + 6, kOwn, 6);
    const uint8_t init_req[] = {
        0x00, 0x07, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(image.size())};
    std::memcpy(init.data() + 12, init_req, sizeof init_req);
    EXPECT_EQ(link.sent[1], init);

    const uint8_t data_req[] = {0x00, 0x0f, 0x04, 0x02, 0x01, 0x01, 0x01, 0x00, 0x00,
                                0x00, 0x02, 0x12, 0x34, 0x56, 0xab, 0xcd, 0xef};
    EXPECT_EQ(link.sent[2].size(), 60u);
    EXPECT_EQ(Bytes(link.sent[2].begin() + 12, link.sent[2].begin() + 29), Bytes(data_req, data_req + 17));
    EXPECT_EQ(link.sent[4][13], 0x09);  // end mark: a header without words
    EXPECT_EQ(link.sent[4][15], 0x04);
    const uint8_t finish_req[] = {0x00, 0x03, 0x04, 0x05, 0x02};
    EXPECT_EQ(Bytes(link.sent[5].begin() + 12, link.sent[5].begin() + 17), Bytes(finish_req, finish_req + 5));
    EXPECT_EQ(link.sent[6][13], 0x01);
    EXPECT_EQ(link.sent[6][14], 0x02);
}

TEST_F(EbmBoot, ConfiguredBootMacTravelsInTheStartFrame)
{
    ChipLink link;
    EXPECT_EQ(boot(link, pkgtest::boot_image({{0x010000, {1}}}), "02:aa:bb:cc:dd:ee"), 0);
    const Bytes mac = {0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0xee};
    EXPECT_EQ(link.sent[0][19], 0x01);
    EXPECT_EQ(Bytes(link.sent[0].begin() + 20, link.sent[0].begin() + 26), mac);
    EXPECT_EQ(Bytes(link.sent[1].begin(), link.sent[1].begin() + 6), mac);
}

TEST_F(EbmBoot, SequenceByteWrapsOnce)
{
    ChipLink link;
    std::vector<pkgtest::Record> records(299, {0x010000, {7}});
    EXPECT_EQ(boot(link, pkgtest::boot_image(records)), 0);
    std::string out = take();
    EXPECT_NE(out.find("Wrap times = 1\n"), std::string::npos);
    EXPECT_EQ(out.find("Wrap times = 2"), std::string::npos);
    // Data frames carry 2..255, then 0..45; finish carries the next.
    ASSERT_EQ(link.sent.size(), 2u + 300 + 2);
    EXPECT_EQ(link.sent[2][15], 2);
    EXPECT_EQ(link.sent[255][15], 255);
    EXPECT_EQ(link.sent[256][15], 0);
    EXPECT_EQ(link.sent[301][15], 45);
    EXPECT_EQ(link.sent[302][15], 46);
}

TEST_F(EbmBoot, BadImagesAreRefusedBeforeTheyAreSent)
{
    struct Case {
        Bytes image;
        const char *message;
    } cases[] = {
        {pkgtest::boot_image({{0x010000, std::vector<uint32_t>(77, 1)}}),
         "Boot record of 77 words refused (at most 76).\n"},
        {Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00},
         "Boot record runs past the end of the image.\n"},
    };
    for (const Case &c : cases) {
        ChipLink link;
        EXPECT_EQ(boot(link, c.image), 100);
        std::string out = take();
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_EQ(link.sent.size(), 2u) << out;  // start and init only
    }
    // A record of 76 words is the largest a frame carries.
    ChipLink link;
    EXPECT_EQ(boot(link, pkgtest::boot_image({{0x010000, std::vector<uint32_t>(76, 1)}})), 0);
    EXPECT_EQ(link.sent[2].size(), 23u + 3 * 76);
}

TEST_F(EbmBoot, SilentLoaderIsTriedTenTimes)
{
    ChipLink link;
    link.chip.set_reset_line(false);  // held in reset: nothing answers
    EXPECT_EQ(boot(link, pkgtest::boot_image({{0x010000, {1}}})), 100);
    std::string want;
    for (int i = 0; i < 10; i++)
        want +=
            "No data within 1 seconds.\nNo start request response, try again(" + std::to_string(i) + ")\n";
    want += "Tried 10 times for start request, stop\n";
    EXPECT_EQ(take(), want);
    EXPECT_EQ(sleeps, std::vector<unsigned long>(10, 500000));
}

// A loader that answers wrongly: short frames, a wrong sequence byte, a
// refusal, or a flood of strangers' frames. Each ends the boot with 100 at
// the step it hit, and nothing is read past the frames.
class HostileLink : public ChipLink {
public:
    enum Mode { Short, WrongSequence, Refusing, Flood };
    explicit HostileLink(Mode m) : mode(m) {}
    int receive(unsigned char *buffer, size_t capacity, int timeout) override
    {
        int n = ChipLink::receive(buffer, capacity, timeout);
        if (n <= 0 || sent.size() < 3)
            return n;  // start and init go through
        switch (mode) {
        case Short:
            return 17;
        case WrongSequence:
            buffer[17] ^= 0x40;
            return n;
        case Refusing:
            buffer[18] = 0x01;
            return n;
        case Flood:
            std::memset(buffer, 0xA5, static_cast<size_t>(n));
            return n;
        }
        return n;
    }
    Mode mode;
};

TEST_F(EbmBoot, WrongRepliesEndTheBoot)
{
    for (HostileLink::Mode m :
         {HostileLink::Short, HostileLink::WrongSequence, HostileLink::Refusing, HostileLink::Flood}) {
        HostileLink link(m);
        EXPECT_EQ(boot(link, pkgtest::boot_image({{0x010000, {1}}, {0x010001, {2}}})), 100) << m;
        EXPECT_THAT(take(), testing::EndsWith("Got failed on bootrequest_srec_pkt\n")) << m;
        EXPECT_EQ(link.sent.size(), 3u) << m;
    }
}

TEST_F(EbmBoot, AccessTestWritesAndReadsBack)
{
    store("EBM_BOOT_IF_P1", "lo");
    unsigned char word[3] = {};
    fakedev::device().handler = [&word](unsigned long number, unsigned char *b, std::size_t) {
        if (number == VDSL_EBM_ACCESS && b[5] == 1)
            std::memcpy(word, b + 6, 3);
        else if (number == VDSL_EBM_ACCESS)
            std::memcpy(b, word, 3);
        return 0;
    };
    cli_print_mask = CLI_LEVEL_ORDINARY;
    EXPECT_EQ(run("util ebm-access 1 3"), 0);
    EXPECT_THAT(take(), testing::EndsWith("Start Test...\nW_count:1,value=123456\nR_count:1,value=123456\n"
                                          "W_count:2,value=112233\nR_count:2,value=112233\n"
                                          "W_count:3,value=123456\nR_count:3,value=123456\nEnd Test...\n"));
    // A word that reads back without the expected bits stops the test.
    fakedev::device().handler = [](unsigned long, unsigned char *b, std::size_t) {
        b[0] = 0x04;
        return 0;
    };
    EXPECT_EQ(run("util ebm-access 1 3"), 0);
    EXPECT_THAT(take(), testing::EndsWith("W_count:1,value=123456\nError value!!\nEnd Test...\n"));
    EXPECT_EQ(run("util ebm-access 2 3"), 100);
    take();
    EXPECT_EQ(run("util ebm-access 1"), 0);
    EXPECT_EQ(take(), "Usage:cmd <portid> <times>\n");
}

TEST_F(EbmBoot, RepliesAreCheckedByKind)
{
    unsigned char f[60] = {};
    const unsigned char mac[6] = {2, 0, 0xeb, 0xb0, 7, 0};
    f[16] = 0x80;
    std::memcpy(f + 18, mac, 6);
    EXPECT_TRUE(boot_reply_accepted(EBM_REPLY_START, f, sizeof f, mac, 0));
    EXPECT_TRUE(boot_reply_accepted(EBM_REPLY_START, f, sizeof f, nullptr, 0));  // the default
    f[23] ^= 1;
    EXPECT_FALSE(boot_reply_accepted(EBM_REPLY_START, f, sizeof f, mac, 0));  // another boot MAC
    f[16] = 0x84, f[17] = 9, f[18] = 0;
    EXPECT_TRUE(boot_reply_accepted(EBM_REPLY_DATA, f, sizeof f, mac, 9));
    EXPECT_FALSE(boot_reply_accepted(EBM_REPLY_DATA, f, sizeof f, mac, 8));
    f[18] = 1;
    EXPECT_FALSE(boot_reply_accepted(EBM_REPLY_DATA, f, sizeof f, mac, 9));
    f[18] = 0;
    EXPECT_TRUE(boot_reply_accepted(EBM_REPLY_DATA, f, 19, mac, 9));
    EXPECT_FALSE(boot_reply_accepted(EBM_REPLY_DATA, f, 18, mac, 9));  // too short to tell
    f[16] = 0x82, f[17] = 0;
    EXPECT_TRUE(boot_reply_accepted(EBM_REPLY_STOP, f, 18, mac, 0));
    EXPECT_FALSE(boot_reply_accepted(EBM_REPLY_STOP, f, 17, mac, 0));
    EXPECT_FALSE(boot_reply_accepted(EBM_REPLY_START, f, 23, mac, 0));
}

TEST_F(EbmBoot, InterfacesComeFromTheConfiguration)
{
    char boot_if[EBM_IFNAME_SIZE], mac[EBM_MAC_TEXT_SIZE];
    EXPECT_EQ(choose_ebm_interfaces(0, boot_if, mac), 100);
    EXPECT_NE(take().find("No valid booting interface."), std::string::npos);

    store("EBM_BOOT_IF_P1", "veth-boot0");
    store("EBM_BOOT_MAC_P1", "");
    EXPECT_EQ(choose_ebm_interfaces(0, boot_if, mac), 0);
    EXPECT_STREQ(boot_if, "veth-boot0");
    EXPECT_STREQ(mac, "");
    // The empty MAC says nothing of its own; the missing key does.
    EXPECT_EQ(take(), "No valid MAC, will use the default.\nstream reading failed\n"
                      "No valid management interface, will use the booting interface.\n");
    // The driver got the name in a zeroed head block; the key was written.
    ASSERT_EQ(fakedev::device().requests.size(), 1u);
    EXPECT_EQ(fakedev::device().requests[0].number, static_cast<unsigned long>(VDSL_SET_MGT_IFACE));
    Bytes block(64, 0);
    std::memcpy(block.data(), "veth-boot0", 10);
    EXPECT_EQ(fakedev::device().requests[0].block, block);
    EXPECT_NE(argv_log().find("\"-w\" \"EBM_MGT_IF_P1=veth-boot0\""), std::string::npos);

    // Longer than the kernel keeps: refused, not cut.
    store("EBM_BOOT_IF_P1", "a-name-of-16-chr");
    EXPECT_EQ(choose_ebm_interfaces(0, boot_if, mac), 100);
    EXPECT_NE(take().find("Value of EBM_BOOT_IF_P1 too long (at most 15 characters)."), std::string::npos);
    store("EBM_BOOT_IF_P1", "a-name-of-15-ch");
    store("EBM_BOOT_MAC_P1", "02:aa:bb:cc:dd:ee");
    EXPECT_EQ(choose_ebm_interfaces(0, boot_if, mac), 0);
    EXPECT_STREQ(mac, "02:aa:bb:cc:dd:ee");
}

TEST_F(EbmBoot, MgtIfaceCommand)
{
    struct Case {
        const char *line;
        int rc;
        const char *out;
    } cases[] = {
        {"util mgt-iface", 0, "Usage:cmd <portid> <ifname>\n"},
        {"util mgt-iface 1 eth1", 0, ""},
        {"util mgt-iface 1 sixteen-chars-xx", 100,
         "Interface name sixteen-chars-xx too long (at most 15 characters).\nFailed to set management interface.\n"},
        {"util mgt-iface -2147483648 eth1", 100, "Invalid portid=-2147483649\n\nError Code = -5\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.line), c.rc) << c.line;
        EXPECT_EQ(take(), c.out) << c.line;
    }
    fakedev::device().open_fails = true;
    EXPECT_EQ(run("util mgt-iface 1 eth1"), 100);
    EXPECT_EQ(take(), "vdsl device open failed.\nFailed to set management interface.\n");
}

TEST_F(EbmBoot, ResetLineFollowsTheMode)
{
    EXPECT_EQ(socket_ioctl_reset(0, 0), 100);
    EXPECT_EQ(take(), "stream reading failed\nsocket_ioctl_reset: Can not get EBM_BOOT_IF\n\n");
    store("EBM_BOOT_IF_P1", "lo");
    using Call = std::pair<std::string, unsigned long>;
    const unsigned long high = SIOCDEVPRIVATE + 1, low = SIOCDEVPRIVATE;
    struct Case {
        int mode;
        std::vector<Call> calls;
        size_t pauses;
    } cases[] = {
        {0, {{"lo", high}, {"lo", low}, {"lo", high}}, 3},
        {1, {{"lo", high}}, 0},
        {2, {{"lo", low}}, 0},
    };
    for (const Case &c : cases) {
        fakedev::device().resets.clear();
        sleeps.clear();
        EXPECT_EQ(chip_reset(0, c.mode), 0);
        EXPECT_EQ(fakedev::device().resets, c.calls) << c.mode;
        EXPECT_EQ(sleeps, std::vector<unsigned long>(c.pauses, 1000)) << c.mode;
    }
    EXPECT_EQ(chip_reset(1, 0), 100);
    store("EBM_BOOT_IF_P1", "no-such-if0");
    EXPECT_EQ(socket_ioctl_reset(0, 1), 100);
    EXPECT_NE(take().find("No such interface: no-such-if0"), std::string::npos);
}

}  // namespace
