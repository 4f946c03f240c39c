// G.INP setters and the retransmission status table, with a fake device
// and the configuration manager stand-in.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "shell_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class Ginp : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
    }
    std::string key(const char *name)
    {
        char line[128];
        return cfgmgr_read(name, line, sizeof line) == CFGMGR_READ_OK ? cfgmgr_value_trim(line) : "<none>";
    }
    std::vector<std::string> written() const
    {
        std::vector<std::string> w;
        for (const fakedev::Request &r : dev.requests)
            if (r.number == VDSL_SET_DATA_LOGIC) {
                std::string oid = reinterpret_cast<const char *>(r.block.data() + 1);
                w.push_back(oid + "=" + reinterpret_cast<const char *>(r.block.data() + 2 + oid.size()));
            }
        return w;
    }
    fakedev::Device &dev = fakedev::device();
};

TEST_F(Ginp, RetranModeWritesUpstreamThenDownstreamAndStoresTheKey)
{
    EXPECT_EQ(run("interface xdsl g.inp retran_mode 1 1 2"), 0);
    EXPECT_EQ(take(), "portid=1, us=1, ds=2\n"
                      "MIB value has set.\n"
                      "OID: 3.3.3 - xdslRtxChConfUsRtxMode: 0x000001\n"
                      "MIB value has set.\n"
                      "OID: 3.3.2 - xdslRtxChConfDsRtxMode: 0x000002\n");
    EXPECT_EQ(written(), (std::vector<std::string>{"3.3.3=000001", "3.3.2=000002"}));
    EXPECT_EQ(key("G_INP_RETRAN_MODE"), "1@2");
}

TEST_F(Ginp, EverySetterWritesItsEntriesInOrder)
{
    struct Case {
        const char *line, *key, *stored;
        std::vector<std::string> writes;
    } cases[] = {
        {"freq_rein 1 1 0", "G_INP_FREQ_REIN", "1@0", {"3.3.25=000001", "3.3.24=000000"}},
        {"inp_min_rein 1 7 13 6 12",
         "G_INP_MIN_INP_REIN",
         "7@13@6@12",
         {"3.3.21=000007", "3.3.23=00000d", "3.3.20=000006", "3.3.22=00000c"}},
        {"inp_min 1 63 127 1 2",
         "G_INP_MIN_INP_SHINE",
         "63@127@1@2",
         {"3.3.15=00003f", "3.3.17=00007f", "3.3.14=000001", "3.3.16=000002"}},
        {"delay 1 0 63 2 8",
         "G_INP_DELAY",
         "0@63@2@8",
         {"3.3.13=000000", "3.3.11=00003f", "3.3.12=000002", "3.3.10=000008"}},
        {"leftr 1 99 0", "G_INP_LEFTR", "99@0", {"3.3.27=000063", "3.3.26=000000"}},
        {"shine_ratio 1 100 5", "G_INP_SHINE_RATIO", "100@5", {"3.3.19=000064", "3.3.18=000005"}},
        {"max_ndr 1 200000 0x10", "G_INP_NDR", "200000@16", {"3.3.9=030d40", "3.3.8=000010"}},
    };
    for (const Case &c : cases) {
        dev.requests.clear();
        EXPECT_EQ(run(std::string("interface xdsl g.inp ") + c.line), 0) << c.line;
        take();
        EXPECT_EQ(written(), c.writes) << c.line;
        EXPECT_EQ(key(c.key), c.stored) << c.line;
    }
}

TEST_F(Ginp, ChecksInOrderRefuseWithoutWriting)
{
    struct Case {
        const char *line, *message;
    } cases[] = {
        {"retran_mode 1 4 0", "Allowed retransmission mode for upstream is 0 - 3"},
        {"retran_mode 1 0 -1", "Allowed retransmission mode for downstream is 0 - 3"},
        {"freq_rein 1 0 2", "Allowed REIN frequency for downstream is 0 - 1"},
        {"inp_min_rein 1 0 14 8 0", "Allowed mininum downstream INP for REIN with 4.3125 kHz is 0 - 7"},
        {"inp_min_rein 1 0 14 0 0", "Allowed mininum upstream INP for REIN with 8.625 kHz is 0 - 13"},
        {"inp_min 1 0 0 0 128", "Allowed mininum downstream INP for SHINE with 8.625 kHz is 0 - 127"},
        {"delay 1 0 0 0 5", "Allowed maximum upstream INP delay is 1 - 63"},
        {"leftr 1 100 0", "Allowed upstream leftr is 0 - 99"},
        {"shine_ratio 1 0 101", "Allowed downstream SHINE ratio is 0 - 100"},
        {"max_ndr 1 12 16", "Allowed upstream NDR should be multiples of 8"},
        {"max_ndr 1 16 200008", "Allowed downstream NDR is 0 - 200000"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(std::string("interface xdsl g.inp ") + c.line), CLI_FAILED) << c.line;
        std::string out = take();
        EXPECT_EQ(out.substr(out.find('\n') + 1), std::string(c.message) + "\n") << c.line;
    }
    EXPECT_TRUE(written().empty());
    EXPECT_EQ(key("G_INP_RETRAN_MODE"), "<none>");
}

TEST_F(Ginp, EtrBoundsComeFromTheChip)
{
    dev.values["3.3.9"] = "000400";  // 1024 kbps upstream
    dev.values["3.3.8"] = "002000";
    EXPECT_EQ(run("interface xdsl g.inp etr 1 1032 1032 8 16"), CLI_FAILED);
    EXPECT_NE(take().find("Allowed minimum upstream ETR should be 0 - ndr(1024)\n"), std::string::npos);
    EXPECT_EQ(run("interface xdsl g.inp etr 1 8 12 8 16"), CLI_FAILED);
    EXPECT_NE(take().find("Allowed maximum upstream ETR should be multiples of 8\n"), std::string::npos);
    EXPECT_EQ(run("interface xdsl g.inp etr 1 8 1024 16 8192"), 0);
    take();
    EXPECT_EQ(key("G_INP_ETR"), "8@1024@16@8192");
    EXPECT_EQ(written(),
              (std::vector<std::string>{"3.3.5=000008", "3.3.7=000400", "3.3.4=000010", "3.3.6=002000"}));

    // An unread bound ends the command with that read's result: nothing written.
    dev.requests.clear();
    dev.failures["3.3.8"] = 104;
    EXPECT_EQ(run("interface xdsl g.inp etr 1 8 8 8 8"), 104);
    EXPECT_NE(take().find("Error getting MIB value."), std::string::npos);
    EXPECT_TRUE(written().empty());
}

TEST_F(Ginp, FailedWriteKeepsTheKeyAndIsTheResult)
{
    // The first write fails, the second succeeds: the result is the failure's.
    dev.failures["3.3.3"] = 104;
    EXPECT_EQ(run("interface xdsl g.inp retran_mode 1 1 1"), 104);
    EXPECT_EQ(take(), "portid=1, us=1, ds=1\n"
                      "Error setting MIB value.\n"
                      "OID: 3.3.3 - xdslRtxChConfUsRtxMode: 0x000001\n"
                      "MIB value has set.\n"
                      "OID: 3.3.2 - xdslRtxChConfDsRtxMode: 0x000001\n");
    EXPECT_EQ(key("G_INP_RETRAN_MODE"), "<none>");

    dev.failures.clear();
    dev.open_fails = true;
    EXPECT_EQ(run("interface xdsl g.inp leftr 1 1 1"), -1);
    std::string out = take();
    EXPECT_EQ(std::count(out.begin(), out.end(), 'E'), 2) << out;  // two "Error setting MIB value."
    EXPECT_EQ(key("G_INP_LEFTR"), "<none>");
}

TEST_F(Ginp, UsageAndPort)
{
    EXPECT_EQ(run("interface xdsl g.inp retran_mode 1 1"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage:cmd <portid> <us> <ds>\n"
                      "  portid: port id, from 1 to the number of port\n"
                      "  us: 0 - 3\n"
                      "  ds: 0 - 3\n"
                      "  0:disable 1:preferred 2:force 3:test\n");
    EXPECT_EQ(run("interface xdsl g.inp inp_min 1"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage:cmd <portid> <us> <us 8> <ds> <ds 8>\n"
                      "  portid: port id, from 1 to the number of port\n"
                      "  us  : 0 - 63 symbol with 4.3125 kHz\n"
                      "  us 8: 0 - 127 symbol with 8.625 kHz\n"
                      "  ds  : 0 - 63 symbol with 4.3125 kHz\n"
                      "  ds 8: 0 - 127 symbol with 8.625 kHz\n");
    EXPECT_EQ(run("interface xdsl g.inp etr"), CLI_USAGE);
    EXPECT_NE(take().find("  ds max: multiples of 8, from 0 - Ndr kbps\n"), std::string::npos);
    EXPECT_EQ(run("interface xdsl g.inp retran_mode 2 1 1"), CLI_FAILED);
    EXPECT_NE(take().find("Error Code = -5"), std::string::npos);
    EXPECT_TRUE(dev.requests.empty());
}

TEST_F(Ginp, StatusTable)
{
    dev.values["3.4.2"] = "000031";
    dev.values["3.4.3.1"] = "00abcd";
    dev.values["3.4.3.2"] = "000001";
    dev.failures["3.4.17.2"] = 100;
    cli_print_mask = CLI_MASK_SILENT;
    cli_silent_buffer_clear();
    EXPECT_EQ(run("show g.inp 1"), 0);
    const std::string record = cli_silent_buffer();
    cli_print_mask = CLI_MASK_CLEAN;
    EXPECT_EQ(run("interface xdsl g.inp table 1"), 0);
    std::string out = take();
    EXPECT_EQ(out.substr(0, out.find("ErrorFree")), "     Table Name         OT         RT\n"
                                                    "Unit                     0          0\n"
                                                    "RtxUsed                  3          1\n"
                                                    "Etr                   abcd          1\n"
                                                    "Eftr                     0          0\n"
                                                    "EftrMin                  0          0\n"
                                                    "ActInpShine              0          0\n"
                                                    "ActInpRein               0          0\n"
                                                    "ActDelayRtx              0          0\n"
                                                    "LeftrsHi                 0          0\n"
                                                    "LeftrsLo                 0          0\n");
    EXPECT_NE(out.find("\nActNdr                   0     ffffff\n"), std::string::npos) << out;
    // No record of its own: the rows themselves pass the silent mask.
    std::string joined = out;
    joined.erase(std::remove(joined.begin(), joined.end(), '\n'), joined.end());
    EXPECT_EQ(record, joined);
    EXPECT_EQ(run("show g.inp"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage:cmd <portid>\n");
}

}  // namespace
