// The util directory's chip and driver tests: print mask, statistics delay,
// port statistics, packet counters, SPI, GPIO, HPI and chip memory.
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "shell_fixture.h"
#include "vdsl.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;

class ChipTests : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        take();
    }
    // The requests sent, without the port state reads.
    std::vector<fakedev::Request> sent()
    {
        std::vector<fakedev::Request> out;
        for (const auto &r : fakedev::device().requests)
            if (r.number != VDSL_PHY_STATUS)
                out.push_back(r);
        return out;
    }
    std::string oid_of(const fakedev::Request &r)
    {
        return reinterpret_cast<const char *>(r.block.data() + 1);
    }
};

TEST_F(ChipTests, LevelSetsThePrintMask)
{
    EXPECT_EQ(run("util level 0"), 0);
    EXPECT_EQ(cli_print_mask, 0u);
    EXPECT_EQ(take(), "");
    EXPECT_EQ(run("util clrstatus"), 0);  // its usage line is hidden now
    EXPECT_EQ(take(), "");
    EXPECT_EQ(run("util level 400"), 0);
    EXPECT_EQ(cli_print_mask, uint32_t(CLI_MASK_INTERACTIVE));
    EXPECT_EQ(take(), "set_debug_level(0x400)\n");
    cli_print_mask = CLI_MASK_CLEAN;
    EXPECT_EQ(run("util level"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage:cmd <debug_level> ex: cmd 0x00000020\n");
}

TEST_F(ChipTests, StatDelaySendsTheSecondsAsText)
{
    EXPECT_EQ(run("util misc statdelay 30"), 0);
    auto r = sent();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].number, static_cast<unsigned long>(VDSL_SET_THREAD_DELAY));
    EXPECT_STREQ(reinterpret_cast<const char *>(r[0].block.data()), "30");

    fakedev::device().handler = [](unsigned long, unsigned char *, std::size_t) { return 100; };
    EXPECT_EQ(run("util misc statdelay 5"), 100);
    EXPECT_EQ(take(), "Can't set statistic thread delay.\n");
    fakedev::device().open_fails = true;
    EXPECT_EQ(run("util misc statdelay 5"), CLI_FAILED);
    EXPECT_EQ(take(), "vdsl device open failed.");
    EXPECT_EQ(run("util misc statdelay x"), CLI_USAGE);
}

TEST_F(ChipTests, ClrStatus)
{
    EXPECT_EQ(run("util clrstatus 1"), 0);
    auto r = sent();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].number, static_cast<unsigned long>(VDSL_CLEAR_PORT_STATS));
    EXPECT_EQ(r[0].block[0], 0);
    take();
    EXPECT_EQ(run("util clrstatus 2"), CLI_FAILED);
    EXPECT_EQ(sent().size(), 1u);
    take();
    EXPECT_EQ(run("util clrstatus"), 0);
    EXPECT_EQ(take(), "Usage:cmd <portid>\n");
}

TEST_F(ChipTests, PktCountShowPicksTheCounter)
{
    struct {
        const char *word, *oid;
    } cases[] = {{"otrx", "3.1.11"}, {"ottx", "3.1.12"}, {"rtrx", "3.1.11.2"}, {"rttx", "3.1.12.2"}};
    fakedev::device().handler = [](unsigned long number, unsigned char *b, std::size_t size) {
        if (number != VDSL_GET_MIB32)
            return fakedev::builtin_answer(number, b, size);
        std::memcpy(b + 2, "0000ff", 7);
        return 0;
    };
    for (const auto &c : cases) {
        fakedev::device().requests.clear();
        EXPECT_EQ(run(std::string("util misc pktcount show 1 ") + c.word), 0) << c.word;
        auto r = sent();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].number, static_cast<unsigned long>(VDSL_GET_MIB32));
        EXPECT_EQ(oid_of(r[0]), c.oid);
        EXPECT_EQ(take(), "MIB2 value: 0000ff\n");
    }
    EXPECT_EQ(run("util misc pktcount show 1 abcd"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage:cmd <portid> <ottx/otrx/rttx/rtrx>\n");
    fakedev::device().state = VDSL_STATE_DISABLE;
    EXPECT_EQ(run("util misc pktcount show 1 ottx"), CLI_FAILED);
    EXPECT_EQ(take(), "Error getting MIB value.\n");
}

TEST_F(ChipTests, PktCountClearOnAFarEndChip)
{
    fakedev::device().values["2.1.5"] = "000001";
    EXPECT_EQ(run("util misc pktcount clear 1"), 0);
    EXPECT_EQ(take(), "Clear pkt count...\nClear Success!!\n");
    std::vector<std::pair<unsigned long, std::string>> want = {{VDSL_GET_MIB, "2.1.5"},
                                                               {VDSL_SET_DATA_LOGIC, "3.1.11.2"},
                                                               {VDSL_CLEAR_MIB32, "3.1.11.2"},
                                                               {VDSL_SET_DATA_LOGIC, "3.1.12.2"},
                                                               {VDSL_CLEAR_MIB32, "3.1.12.2"}};
    auto r = sent();
    ASSERT_EQ(r.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(r[i].number, want[i].first) << i;
        EXPECT_EQ(oid_of(r[i]), want[i].second) << i;
    }
    EXPECT_EQ(fakedev::device().values["3.1.11.2"], "0");
}

TEST_F(ChipTests, PktCountClearWritesNothingWhenTheRoleIsUnknown)
{
    fakedev::device().failures["2.1.5"] = 118;
    EXPECT_EQ(run("util misc pktcount clear 1"), CLI_FAILED);
    auto r = sent();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].number, static_cast<unsigned long>(VDSL_GET_MIB));
    EXPECT_THAT(take(), HasSubstr("Clear pktcount failed"));
}

TEST_F(ChipTests, PktCountClearStopsAtAFailedWrite)
{
    fakedev::device().failures["3.1.11"] = 100;
    EXPECT_EQ(run("util misc pktcount clear 1"), CLI_FAILED);
    EXPECT_EQ(take(), "Clear pkt count...\nClear pktcount failed\n");
    EXPECT_EQ(sent().size(), 2u);
}

TEST_F(ChipTests, SpiAndGpioWarnButSend)
{
    EXPECT_EQ(run("util gpio 4 2 40"), 0);
    EXPECT_EQ(take(), "Allowed type is 1 - 3\nAllowed value is 0 - 1\nAllowed pinnum is 0 - 31\n"
                      "set_gpio send pin=40 type=4 value=2\n");
    auto r = sent();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].number, static_cast<unsigned long>(VDSL_GPIO_TEST));
    EXPECT_EQ(std::vector<unsigned char>(r[0].block.begin(), r[0].block.begin() + 3),
              (std::vector<unsigned char>{0x28, 4, 2}));

    fakedev::device().requests.clear();
    EXPECT_EQ(run("util spi 3 a5"), 0);
    EXPECT_EQ(take(), "set_spi send type=3 value=165\n");
    EXPECT_EQ(run("util spi 2"), 0);
    EXPECT_EQ(run("util spi 7 1"), 0);
    EXPECT_THAT(take(), HasSubstr("Allowed type is 1 - 4\n"));
    r = sent();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].number, 0x7652ul);
    EXPECT_EQ(r[0].block[0], 3);
    EXPECT_EQ(r[0].block[1], 0xa5);
    EXPECT_EQ(run("util spi 1"), CLI_USAGE);
    EXPECT_EQ(run("util gpio 1 1"), CLI_USAGE);
    EXPECT_THAT(take(), HasSubstr("  pin: gpio pin, 0 - 31\n"));

    fakedev::device().open_fails = true;
    EXPECT_EQ(run("util gpio 1 1 1"), CLI_FAILED);
    EXPECT_EQ(take(), "vdsl device open failed.\n");
}

TEST_F(ChipTests, HpiRequests)
{
    struct {
        int test;
        unsigned long request;
    } cases[] = {{1, VDSL_HPI_TEST},
                 {2, VDSL_HPI_TEST_WRITE},
                 {3, VDSL_HPI_TEST_READ},
                 {4, VDSL_HPI_TEST_READ_FIXSIZE}};
    for (const auto &c : cases) {
        fakedev::device().requests.clear();
        EXPECT_EQ(run("util hpi " + std::to_string(c.test) + " 1"), 0);
        auto r = sent();
        ASSERT_EQ(r.size(), 1u) << c.test;
        EXPECT_EQ(r[0].number, c.request);
        EXPECT_EQ(r[0].block[0], 0);
    }
    fakedev::device().requests.clear();
    EXPECT_EQ(run("util hpi 9 1"), 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(run("util hpi 1"), CLI_USAGE);
    EXPECT_THAT(take(), HasSubstr("  4: HPI Read always 50 bytes on Specified Port\n"));
}

TEST_F(ChipTests, MemWriteStopsAtTheWordSpace)
{
    EXPECT_EQ(run("util mem 2 1 0 fffe 5 123456"), 0);
    EXPECT_EQ(take(), "test id=2,portid=0,memtype=0,address=0x00fffe,count=0x000005,data=0x123456\n"
                      "000000 == Address:00fffe has written ==\n000001 == Address:00ffff has written ==\n");
    auto r = sent();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(std::vector<unsigned char>(r[1].block.begin(), r[1].block.begin() + 8),
              (std::vector<unsigned char>{0, 0x00, 0xff, 0xff, 0, 0x12, 0x34, 0x56}));
    EXPECT_EQ(run("util mem 2 1 0 10000 1 1"), CLI_FAILED);
    EXPECT_EQ(take(), "Memory address exceed boundary.\n");
}

TEST_F(ChipTests, MemReads)
{
    fakedev::device().words[static_cast<unsigned long>(VDSL_MEM_Y) << 24 | 0x100] = 0xabcdef;
    EXPECT_EQ(run("util mem 1 1 1 ff 2"), 0);
    EXPECT_EQ(take(), "test id=1,portid=0,memtype=1,address=0x0000ff,count=0x000002\n"
                      "Address:0000ff Data:000000 ==\nAddress:000100 Data:abcdef ==\n");
    EXPECT_EQ(run("util mem 1 1 0 ff 0"), 0);
    EXPECT_EQ(take(), "test id=1,portid=0,memtype=0,address=0x0000ff,count=0x000000\n");
    fakedev::device().failures["mem"] = 100;
    EXPECT_EQ(run("util mem 1 1 0 ff 1"), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("Memory reading error!!\n"));
}

TEST_F(ChipTests, MemRandomReads)
{
    EXPECT_EQ(run("util mem 3 1 3"), 0);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("test id=3,portid=0,memtype=3,address=0x000000,count=0x000000\n"));
    EXPECT_THAT(out, HasSubstr("000002 == Port1 "));
    EXPECT_EQ(sent().size(), 3u);
    EXPECT_EQ(run("util mem 3 2 10"), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("Invalid portid=1\n"));
    EXPECT_EQ(run("util mem 3 1"), CLI_USAGE);
    EXPECT_EQ(run("util mem 1 1 0 ff"), CLI_USAGE);
}

TEST_F(ChipTests, MemTestsOfTheShellsOwnMemoryAreRefused)
{
    for (const char *line : {"util mem 4 1 0 ff 1", "util mem 5 1 0 ff 1 0"}) {
        EXPECT_EQ(run(line), CLI_FAILED) << line;
        EXPECT_THAT(take(), Not(HasSubstr("Address:"))) << line;
    }
    EXPECT_TRUE(sent().empty());
}

TEST_F(ChipTests, MemPutsTheMaskBackOnEveryPath)
{
    cli_print_mask = CLI_MASK_CLEAN;
    fakedev::device().failures["mem"] = 100;
    EXPECT_EQ(run("util mem 1 1 0 0 1"), CLI_FAILED);
    EXPECT_EQ(cli_print_mask, uint32_t(CLI_MASK_CLEAN));
    fakedev::device().failures.clear();
    EXPECT_EQ(run("util mem 6 1 0 44 1"), 0);
    EXPECT_EQ(cli_print_mask, uint32_t(CLI_MASK_CLEAN));
    auto r = sent();
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back().number, static_cast<unsigned long>(VDSL_GET_MEM_REMOTE));
}

}  // namespace
