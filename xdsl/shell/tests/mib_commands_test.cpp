// MIB access commands through the executor, with a fake device.
#include <cstring>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "mib_names.h"
#include "shell_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class MibCommands : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        cli_print_mask = 0xFFFFFFFFu & ~0x80000000u;
        take();
    }
    fakedev::Device &dev = fakedev::device();
};

TEST(MibNames, TableHasEveryRowInItsOrder)
{
    EXPECT_EQ(mib_name_count, 1687u);
    unsigned n = 0;
    while (mib_name_table[n].name)
        n++;
    EXPECT_EQ(n, 1687u);
    struct Case {
        const char *name, *oid;
    } cases[] = {
        {"xdsl2PMLCurr15MTimeElapsed1", "0.16.4.2"},
        {"xdsl2BanplanSYS", "10.1.1.2"},
        {"XdslGltGroup", "3.3.0xffff"},
        {"XdslGltSeltTable", "3.3.0xffff"},
        {"XdslGltSeltVersion", "0xffff.0xffff.SV_MIB_XdslGltSeltVersion"},
        {"xdslHostCommandStatus", "2.1.8"},
        {"xdsl2LineBandStatusSnrMargin10", "0.2.4.11"},
    };
    for (const Case &c : cases) {
        ASSERT_NE(mib_name_lookup(c.name), nullptr) << c.name;
        EXPECT_STREQ(mib_name_lookup(c.name), c.oid);
    }
    EXPECT_EQ(mib_name_lookup("xdsl2banplansys"), nullptr);
    EXPECT_STREQ(mib_name_table[0].name, "xdsl2Banplan");
    EXPECT_STREQ(mib_name_table[51].name, "XdslGltSeltVersion");  // 10.1, 2.2, 2.3, then SELT
    EXPECT_STREQ(mib_name_table[1686].name, "xdsl2PMLHist1DLops1");
}

TEST(RoidSplit, StandardOidsBecomeEntryAndPort)
{
    struct Case {
        const char *text;
        int rc;
        const char *entry;
        int port;
    } cases[] = {
        {"1.1.1.1.20.1", 0, "1.1.1.1.20", 1},
        {"1.2.5.1.3.1.2.4", 0, "1.2.5.1.3.2.4", 1},
        {"1.4.1.3.1.9.2.7", 0, "1.4.1.3.1.9.7", 2},
        {"1.5.1.1.1.3.1", 101, "", 0},
        {"9.9.9", 101, "", 0},
        {"1.1.1.1.20", 100, "", 0},
        {"1.1.1.1.20.x", 100, "", 0},
        {"0.0.0.1.1", 101, "", 0},
    };
    for (const Case &c : cases) {
        char out[512] = "";
        int port = 0;
        EXPECT_EQ(roid_split(c.text, out, sizeof out, &port), c.rc) << c.text;
        if (c.rc == 0) {
            EXPECT_STREQ(out, c.entry);
            EXPECT_EQ(port, c.port);
        }
    }
    std::string long_oid = "1.1.1.1.2.1." + std::string(520, '1');
    char out[1024];
    int port;
    EXPECT_EQ(roid_split(long_oid.c_str(), out, sizeof out, &port), 100);
}

TEST_F(MibCommands, SetAndShowByOidAndName)
{
    EXPECT_EQ(run("interface xdsl set oid 1 2.1.9 123456"), 0);
    EXPECT_EQ(take(), "MIB value has set.\n");
    EXPECT_EQ(dev.values["2.1.9"], "123456");
    EXPECT_EQ(run("interface xdsl set mibname 1 xdsl2BanplanSYS 000001"), 0);
    EXPECT_EQ(dev.values["10.1.1.2"], "000001");
    take();
    EXPECT_EQ(run("interface xdsl set mibname 1 xdsl2banplansys 000001"), 100);
    EXPECT_EQ(take(), "MIB name xdsl2banplansys not found\n");
    const std::string long_value(450, 'a');  // near the line's limit: reaches the device whole
    EXPECT_EQ(run("interface xdsl set mibname 1 xdsl2LInvSerialNumber0 " + long_value), 0);
    EXPECT_EQ(dev.values["0.7.5"], long_value);
    take();

    dev.values["0.16.4.2"] = "000384";
    cli_print_mask = 0xFFFFFFFFu;  // silent: the record goes to the buffer
    cli_silent_buffer_clear();
    EXPECT_EQ(run("interface xdsl show mibname 1 xdsl2PMLCurr15MTimeElapsed1"), 0);
    EXPECT_EQ(
        std::string(cli_silent_buffer()),
        "MIB2 value: 000384<MIB idx=\"0\" loid=\"0.16.4.2\" value=\"900\"></MIB>");  // silent: no line ends
    cli_print_mask = 0xFFFFFFFFu & ~0x80000000u;
    dev.failures["2.1.6"] = 118;
    EXPECT_EQ(run("interface xdsl show oid 1 2.1.6"), 118);
    EXPECT_EQ(take(), "Error getting MIB value.\n");
    dev.failures["2.1.9"] = 112;
    EXPECT_EQ(run("interface xdsl set oid 1 2.1.9 1"), 112);
    EXPECT_EQ(take(), "Error setting MIB value.\n");
}

TEST_F(MibCommands, BitSettingWritesOnlyAfterASoundRead)
{
    dev.values["2.1.9"] = "123456";
    EXPECT_EQ(run("interface xdsl set oidbit 1 2.1.9 0f0 0a5"), 0);
    EXPECT_EQ(take(), "portid=1,loid=2.1.9,bitmask=240,value=165\nMIB bit value has set.\n");
    EXPECT_EQ(dev.values["2.1.9"], "1234a6");

    dev.failures["2.1.10"] = -11;
    dev.requests.clear();
    EXPECT_EQ(run("interface xdsl set oidbit 1 2.1.10 0f0 0a5"), -11);
    EXPECT_EQ(take(), "portid=1,loid=2.1.10,bitmask=240,value=165\nError setting MIB bit value.\n");
    EXPECT_EQ(dev.numbers(), std::vector<unsigned long>{0x7610});  // nothing written
}

TEST_F(MibCommands, OtherPortsAndBadArgumentsNeverReachTheDevice)
{
    struct Case {
        const char *line;
        int rc;
        const char *out;
    } cases[] = {
        {"interface xdsl set oid 2 2.1.9 123456", 100, "Invalid portid=1\n\nError Code = -5\n"},
        {"interface xdsl show oid 2 2.1.9", 100, "Invalid portid=1\n\nError Code = -5\n"},
        {"interface xdsl show oid-32 0 0.22.5.1", 100, "Invalid portid=-1\n\nError Code = -5\n"},
        {"interface xdsl set oidbit 2 2.1.9 1 1", 100,
         "portid=2,loid=2.1.9,bitmask=1,value=1\nInvalid portid=1\n\nError Code = -5\n"},
        {"interface xdsl show roid 1.1.1.1.20.2", 100, "Invalid portid=1\n\nError Code = -5\n"},
        {"interface xdsl show roid 1.5.1.1.1.3.1", 100, ""},
        {"interface xdsl set oid 1 2.1.9", -111, "Usage:cmd <portid> <loid> <value>\n"},
        {"interface xdsl show oid x", -111, "Usage:cmd <portid> <loid>\n"},
        {"interface xdsl dump mem", -111, "Usage: cmd <portid>\n"},
        {"show loop-back", -111, "Usage: cmd <portid>\n"},
        {"show loop-back 2", 100, "Invalid portid=1\n\nError Code = -5\n"},
        // Extreme port numbers are refused before any arithmetic on them.
        {"interface xdsl set oid -2147483648 2.1.9 1", 100,
         "Invalid portid=-2147483649\n\nError Code = -5\n"},
        {"interface xdsl show oid -2147483648 2.1.9", 100, "Invalid portid=-2147483649\n\nError Code = -5\n"},
        {"interface xdsl show mibname -2147483648 xdsl2BanplanSYS", 100,
         "Invalid portid=-2147483649\n\nError Code = -5\n"},
        {"interface xdsl set oidbit -2147483648 2.1.9 1 1", 100,
         "portid=-2147483648,loid=2.1.9,bitmask=1,value=1\nInvalid portid=-2147483649\n\nError Code = -5\n"},
        {"interface xdsl show oid-32 -2147483648 0.22.5.1", 100,
         "Invalid portid=-2147483649\n\nError Code = -5\n"},
        {"interface xdsl dump mem -2147483648", 100, "Invalid portid=-2147483649\n\nError Code = -5\n"},
        {"show loop-back -2147483648", 100, "Invalid portid=-2147483649\n\nError Code = -5\n"},
        {"show loop-back 2147483647", 100, "Invalid portid=2147483646\n\nError Code = -5\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(run(c.line), c.rc) << c.line;
        EXPECT_EQ(take(), c.out) << c.line;
    }
    EXPECT_EQ(dev.opens, 0);
}

TEST_F(MibCommands, DisabledPortIsNotRead)
{
    dev.state = VDSL_STATE_DISABLE;
    EXPECT_EQ(run("interface xdsl show oid 1 2.1.5"), 100);
    EXPECT_EQ(take(), "Error getting MIB value.\n");
    EXPECT_EQ(dev.numbers(), std::vector<unsigned long>{0x7614});
}

TEST_F(MibCommands, StandardOidsAndCounters)
{
    dev.values["1.1.1.1.20"] = "00000a";
    EXPECT_EQ(run("interface xdsl show roid 1.1.1.1.20.1"), 0);
    EXPECT_EQ(take(), "MIB2 value: 00000a\n");
    EXPECT_EQ(dev.requests.back().number, 0x7625u);
    EXPECT_EQ(run("interface xdsl set roid 1.1.1.1.20.1 00000b"), 0);
    EXPECT_EQ(take(), "MIB value has set.\n");
    EXPECT_EQ(dev.values["1.1.1.1.20"], "00000b");
    dev.values["0.22.5.1"] = "01000010";
    EXPECT_EQ(run("interface xdsl show oid-32 1 0.22.5.1"), 0);
    EXPECT_EQ(take(), "MIB2 value: 01000010\n");
}

TEST_F(MibCommands, LongEntriesAndLoopBack)
{
    dev.lengths["0.6.7"] = 512;
    for (unsigned a = 0; a < 512; a++)
        dev.words[0x1000 + a] = 0xABCDEF;
    cli_print_mask = 0xFFFFFFFFu;
    cli_silent_buffer_clear();
    EXPECT_EQ(run("interface xdsl show oid 1 0.6.7"), 0);
    std::string out = cli_silent_buffer();
    EXPECT_EQ(out.find("MIB2 value: "), 0u);
    EXPECT_EQ(out.substr(12, out.find('<') - 12).size(), 3072u);
    cli_print_mask = 0xFFFFFFFFu & ~0x80000000u;
    take();

    for (const auto &c : {std::make_pair("000800", "Enable"), std::make_pair("0ff7ff", "Disable")}) {
        dev.values["2.1.5"] = c.first;
        EXPECT_EQ(run("show loop-back 1"), 0);
        EXPECT_EQ(take(), std::string("Loop-Back mode: ") + c.second + "\n");
    }
}

}  // namespace
