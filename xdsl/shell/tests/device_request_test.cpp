// The device request layer against a fake device: block layouts, one open
// and close per request, the port rule, value readers and composite reads.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "shell_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class DeviceRequest : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        cli_print_mask = 0xFFFFFFFFu & ~0x80000000u;
    }
    fakedev::Device &dev = fakedev::device();
};

TEST_F(DeviceRequest, EveryOperationRefusesOtherPortsWithoutOpening)
{
    unsigned char answer[VDSL_BLOCK_SIZE], word[3] = {1, 2, 3}, state = 9;
    uint32_t hex = 0;
    int32_t value = 0;
    const std::function<int()> ops[] = {
        [&] { return mib_get_logic(1, "2.1.5", answer); },
        [&] { return mib_set_logic(1, "2.1.5", "000001"); },
        [&] { return xdsl_get_opstate(1, &state); },
        [&] { return port_control(1, VDSL_PORT_CONNECT); },
        [&] { return dsp_mem_read_word(1, 0x10, VDSL_MEM_X, word); },
        [&] { return dsp_mem_write_word(1, 0x10, VDSL_MEM_X, word); },
        [&] { return dsp_mem_read_remote(1, 0x10, 0, word); },
        [&] { return ebm_access_word(1, word, 0); },
        [&] { return mib32_clear(1, "0.22.5.1"); },
        [&] { return mib_get_hex(1, "2.1.5", &hex); },
        [&] { return mib_get_int24(1, "2.1.5", &value); },
    };
    for (const auto &op : ops) {
        take();
        EXPECT_EQ(op(), 100);
        EXPECT_EQ(take(), "Invalid portid=1\n\nError Code = -5\n");
    }
    EXPECT_EQ(dev.opens, 0);
    EXPECT_EQ(state, 9);
}

TEST_F(DeviceRequest, BlocksCarryTheirFieldsAndExactSizes)
{
    unsigned char answer[VDSL_BLOCK_SIZE], word[3] = {0xAB, 0xCD, 0xEF}, state = 0;
    dev.values["2.1.5"] = "00abcd";
    ASSERT_EQ(mib_get_logic(0, "2.1.5", answer), 0);
    ASSERT_EQ(mib_set_logic(0, "2.1.9", "123456"), 0);
    ASSERT_EQ(xdsl_get_opstate(0, &state), 0);
    ASSERT_EQ(port_control(0, VDSL_PORT_LOOPBACK_OFF), 0);
    ASSERT_EQ(port_control(0, 17), 0);  // unknown operations connect
    ASSERT_EQ(dsp_mem_write_word(0, 0x123456, VDSL_MEM_Y, word), 0);
    ASSERT_EQ(dsp_mem_read_remote(0, 0x44, 0x0102, word), 0);
    const unsigned char out[3] = {0xAB, 0xCD, 0xEF};
    std::memcpy(word, out, 3);
    ASSERT_EQ(ebm_access_word(0, word, 1), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(answer) + 2, "00abcd");
    EXPECT_EQ(state, 2);
    EXPECT_EQ(dev.values["2.1.9"], "123456");
    EXPECT_EQ(dev.numbers(),
              (std::vector<unsigned long>{0x7610, 0x7628, 0x7614, 0x76019, 0x7605, 0x7624, 0x7629, 0x7651}));
    const std::vector<size_t> sizes = {1080, 1080, 64, 64, 64, 64, 64, 64};
    for (size_t k = 0; k < sizes.size(); k++)
        EXPECT_EQ(dev.requests[k].block.size(), sizes[k]) << k;
    const auto &set = dev.requests[1].block;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(set.data()) + 1, 13), std::string("2.1.9\0"
                                                                                           "123456\0",
                                                                                           13));
    const auto &w = dev.requests[5].block;
    EXPECT_EQ(std::vector<unsigned char>(w.begin(), w.begin() + 8),
              (std::vector<unsigned char>{0, 0x12, 0x34, 0x56, 1, 0xAB, 0xCD, 0xEF}));
    const auto &r = dev.requests[6].block;
    EXPECT_EQ(std::vector<unsigned char>(r.begin(), r.begin() + 6),
              (std::vector<unsigned char>{0, 0, 0, 0x44, 1, 2}));
    const auto &e = dev.requests[7].block;
    EXPECT_EQ(std::vector<unsigned char>(e.begin(), e.begin() + 9),
              (std::vector<unsigned char>{0, 0, 0x6C, 0x32, 0, 1, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(dev.opens, 8);
    EXPECT_EQ(dev.closes, 8);
}

TEST_F(DeviceRequest, TextsThatDoNotFitTheBlockAreNotSent)
{
    std::string oid(600, '1'), value(600, 'a');
    EXPECT_EQ(mib_set_logic(0, oid.c_str(), value.c_str()), -117);
    EXPECT_EQ(dev.opens, 0);
}

TEST_F(DeviceRequest, OpenFailureIsSaidOnStandardOutput)
{
    dev.open_fails = true;
    unsigned char answer[VDSL_BLOCK_SIZE];
    EXPECT_EQ(mib_get_logic(0, "2.1.5", answer), -1);
    EXPECT_EQ(take(), "vdsl device open failed.\n");
}

TEST_F(DeviceRequest, ValueReaders)
{
    struct Case {
        const char *text;
        int32_t int24;
    } cases[] = {{"800000", -8388608}, {"7fffff", 8388607}, {"ffffff", -1}, {"000010", 16}};
    for (const Case &c : cases) {
        dev.values["0.1.20"] = c.text;
        int32_t v = 0;
        uint32_t h = 0;
        ASSERT_EQ(mib_get_int24(0, "0.1.20", &v), 0);
        EXPECT_EQ(v, c.int24) << c.text;
        ASSERT_EQ(mib_get_hex(0, "0.1.20", &h), 0);
        EXPECT_EQ(h, std::strtoul(c.text, nullptr, 16));
    }
    dev.failures["0.1.21"] = 118;
    int32_t kept = 0x00800001;
    EXPECT_EQ(mib_get_int24(0, "0.1.21", &kept), 118);
    EXPECT_EQ(kept, static_cast<int32_t>(0xFF800001u));  // former contents, sign-extended

    dev.values["0.3.2.3"] = "7fffff";
    dev.values["0.3.2.4"] = "ffffff";
    take();
    cli_print_mask = 0xFFFFFFFFu & ~0x80000000u;
    EXPECT_EQ(print_mib_value_idx(0, "%s %s %s", "0.3.2", "rate:", "kbps", 3), 0);
    EXPECT_EQ(print_mib_value_idx(0, "%s %s %s", "0.3.2", "rate:", "kbps", 4), 0);
    EXPECT_EQ(take(), "rate: NA kbps\nrate: -1 kbps\n");  // the records show only in silent mode

    dev.values["2.1.1"] = "000102";
    dev.values["2.1.5"] = "000001";
    uint32_t v1 = 0, v2 = 7, v3 = 7;
    char mode[3] = "";
    dev.failures["2.1.2"] = 100;
    EXPECT_EQ(mib_get_chip_version(0, &v1, &v2, &v3, mode), 0);
    EXPECT_EQ(v1, 0x102u);
    EXPECT_EQ(v2, 7u);  // its read failed
    EXPECT_STREQ(mode, "RT");
}

TEST_F(DeviceRequest, LongEntriesAreReadWordByWordWithinTheBudget)
{
    dev.lengths["0.6.7"] = 600;
    for (unsigned a = 0; a < 600; a++)
        dev.words[0x1000 + a] = a;
    std::vector<unsigned char> buf(2000, 0xEE);
    ASSERT_EQ(mib_read_by_name(0, "0.6.7", buf.data(), 1536), 0);
    size_t reads = dev.requests.size() - 1;
    EXPECT_EQ(reads, 512u);
    EXPECT_EQ(buf[3 * 511 + 2], 511 & 0xFF);
    EXPECT_EQ(buf[1536], 0xEE);  // no partial word
    dev.requests.clear();
    ASSERT_EQ(mib_read_by_name(0, "0.6.7", buf.data(), 1537), 0);
    EXPECT_EQ(dev.requests.size(), 1u + 513u);
    EXPECT_EQ(buf[1536], 0);  // high byte of word 512
    EXPECT_EQ(buf[1537], 0xEE);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(dev.requests[0].block.data())), "0.6.7");
    EXPECT_EQ(dev.requests[1].number, 0x7681u);

    dev.requests.clear();
    EXPECT_EQ(mib_read_by_name(0, "0.6", buf.data(), 100), 100);
    EXPECT_EQ(mib_read_by_name(0, "0.7.2.200", buf.data(), 100), 100);
    EXPECT_TRUE(dev.requests.empty());
    dev.lengths["0.7.2.2"] = 4;
    ASSERT_EQ(mib_read_by_name(0, "0.7.2.2", buf.data(), 12), 0);
    EXPECT_EQ(dev.requests.size(), 5u);
}

TEST_F(DeviceRequest, MemoryDumpHasItsSizeEvenWhenReadsFail)
{
    vdsl_memdump_dir = dir_.c_str();
    dev.words[(0ul << 24) | 0x10] = 0x123456;
    ASSERT_EQ(dsp_mem_dump_file(0, VDSL_MEM_X), 0);
    std::ifstream x(dir_ + "/memdump_x.bin", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(x)), {});
    ASSERT_EQ(bytes.size(), 196608u);
    EXPECT_EQ(bytes.substr(0x30, 3), "\x12\x34\x56");
    dev.failures["mem"] = -11;
    ASSERT_EQ(dsp_mem_dump_file(0, VDSL_MEM_Y), 0);
    std::ifstream y(dir_ + "/memdump_y.bin", std::ios::binary);
    bytes.assign((std::istreambuf_iterator<char>(y)), {});
    ASSERT_EQ(bytes.size(), 196608u);
    EXPECT_EQ(bytes.find_first_not_of('X'), std::string::npos);
    EXPECT_EQ(dev.opens, 2 * 65536);
    EXPECT_EQ(dev.closes, dev.opens);
}

TEST_F(DeviceRequest, ToneSegmentsWithCountZeroSendNothing)
{
    request_tone_segments(0, 0);
    EXPECT_TRUE(dev.requests.empty());
}

}  // namespace
