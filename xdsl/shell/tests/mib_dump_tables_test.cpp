// "interface xdsl dump table": the groups' titles, rows and order.
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "mib_names.h"
#include "shell_fixture.h"
#include "vdsl.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

class DumpTables : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        auto &v = fakedev::device().values;
        v["2.1.1"] = "0a0b0c";
        v["2.1.2"] = "190410";
        v["2.1.3"] = "221100";
        v["2.1.5"] = "000000";
        take();
    }
};

TEST_F(DumpTables, SysOnAnOfficeSideUnit)
{
    fakedev::device().values["2.1.133"] = "000002";
    EXPECT_EQ(run("interface xdsl dump table sys 1"), 0);
    EXPECT_EQ(take(), "System table of line 1: (0a0b0c_190410_221100_OT)\n"
                      "xdslTwConfig                              |000000\n"
                      "xdslTwConfig2                             |000000\n"
                      "xdslTwConfig3                             |000000\n"
                      "xdslSorvaniUs0PsdLimit                    |000000\n"
                      "xdslGhsConfOtCarrierSet                   |000000\n"
                      "xdslGhsConfRtCarrierSet                   |000000\n"
                      "ModemErrOvrflow                           |000002\n\n");
    fakedev::device().values["2.1.5"] = "000001";
    EXPECT_EQ(run("interface xdsl dump table interface 1"), 0);
    EXPECT_EQ(lines_of(take()),
              (std::vector<std::string>{"Interface table of line 1: (0a0b0c_190410_221100_RT)",
                                        "CfgM2MiiCtlReg                            |000000",
                                        "CfgM2UtpCfgReg                            |000000",
                                        "CfgM2QosfrVd                              |000000",
                                        "CfgPll1Ctl                                |000000",
                                        "xdslCfgHwConfig                           |000000", ""}));
}

TEST_F(DumpTables, AllPrintsElevenGroupsInOrder)
{
    EXPECT_EQ(run("interface xdsl dump table all 1"), 0);
    std::vector<std::string> lines = lines_of(take());
    const std::vector<std::pair<std::string, size_t>> want = {
        {"System", 7},        {"Interface", 5},
        {"Band profile", 23}, {"Channel profile", 18},
        {"UPBO", 10},         {"DPBO", 8},
        {"SRA", 10},          {"VNS", 4},
        {"RFI", 1},           {"G.inp configuration", 26},
        {"G.inp status", 36}};
    size_t at = 0;
    for (const auto &w : want) {
        ASSERT_LT(at, lines.size());
        EXPECT_EQ(lines[at], w.first + " table of line 1: (0a0b0c_190410_221100_OT)");
        for (size_t i = 1; i <= w.second; i++) {
            ASSERT_LT(at + i, lines.size());
            // Every row is named from the MIB name table, not shown as an OID.
            EXPECT_EQ(lines[at + i].size(), 49u) << lines[at + i];
            EXPECT_NE(lines[at + i].find('|'), std::string::npos);
            EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(lines[at + i][0]))) << lines[at + i];
        }
        ASSERT_LT(at + w.second + 1, lines.size());
        EXPECT_EQ(lines[at + w.second + 1], "");
        at += w.second + 2;
    }
    EXPECT_EQ(at, lines.size());
}

TEST_F(DumpTables, NamesOfTheTableMatchTheGroups)
{
    struct {
        const char *oid, *name;
    } cases[] = {{"3.4.1.2", "xdslRtxChStatusRtUnit"},
                 {"3.3.27", "xdslRtxChConfUsLeftrThresh"},
                 {"0.11.2.4", "xdsl2LConfProfUpboPsdA3"},
                 {"0.11.3", "xdsl2LConfProfUpboPsdB0"},
                 {"0.9.37", "xdsl2LConfProfDpboEsEL"},
                 {"2.1.115", "xdslVdsl2ProfilesLimit30a"},
                 {"0.12.15", "xdsl2ChConfProfMinProtection8Us0"},
                 {"0.9.5", "xdsl2LConfProfRfiBands"}};
    for (const auto &c : cases) {
        ASSERT_NE(mib_name_of(c.oid), nullptr) << c.oid;
        EXPECT_STREQ(mib_name_of(c.oid), c.name) << c.oid;
    }
}

TEST_F(DumpTables, RefusalsAndFailedReads)
{
    EXPECT_EQ(run("interface xdsl dump table vns"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage: cmd <portid>\n");
    EXPECT_EQ(run("interface xdsl dump table vns 2"), CLI_FAILED);
    take();
    fakedev::device().failures["0.9.5"] = 118;
    EXPECT_EQ(run("interface xdsl dump table rfi 1"), 118);
    EXPECT_THAT(take(), HasSubstr("xdsl2LConfProfRfiBands                    |\n"));
    fakedev::device().state = VDSL_STATE_DISABLE;
    EXPECT_EQ(run("interface xdsl dump table rfi 1"), CLI_FAILED);
    EXPECT_EQ(take(), "\n");
}

}  // namespace
