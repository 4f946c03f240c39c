// Interoperability fix sets: update writes the files, apply sets the chip's
// fix words and limits, list shows them; names never leave the directory.
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gmock/gmock.h>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "iop_fixes.h"
#include "shell_fixture.h"
#include "vdsl.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;

class Iop : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        iop_dir_ = dir_ + "/iop/";
        mkdir(iop_dir_.c_str(), 0755);
        iop_config_dir = iop_dir_.c_str();
        take();
    }
    void TearDown() override
    {
        iop_config_dir = "/etc/config/iop/";
        ShellTest::TearDown();
    }
    std::string read(const std::string &path)
    {
        std::ifstream f(path, std::ios::binary);
        if (!f)
            return "<absent>";
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    void put(const std::string &name, const std::string &text) { std::ofstream(iop_dir_ + name) << text; }
    std::string key(const std::string &k)
    {
        char line[512];
        return cfgmgr_read(k.c_str(), line, sizeof line) == CFGMGR_READ_OK ? cfgmgr_value_trim(line)
                                                                           : "<absent>";
    }
    std::string value(const std::string &oid)
    {
        auto &v = fakedev::device().values;
        return v.count(oid) ? v[oid] : "<unset>";
    }
    // OIDs written, in order.
    std::vector<std::string> writes()
    {
        std::vector<std::string> out;
        for (const auto &r : fakedev::device().requests)
            if (r.number == VDSL_SET_DATA_LOGIC)
                out.push_back(reinterpret_cast<const char *>(r.block.data() + 1));
        return out;
    }

    std::string iop_dir_;
};

TEST_F(Iop, UpdateWritesOneLinePerIdInOrder)
{
    EXPECT_EQ(run("interface xdsl iop update 1 s 25 1 1000 3 1"), 0);
    EXPECT_EQ(read(iop_dir_ + "s.iop"), "3 1\n25 1 1000\n");
    EXPECT_TRUE(fakedev::device().requests.empty());  // nothing reaches the chip
    EXPECT_EQ(run("interface xdsl iop update 1 s 26 0 3 0"), 0);
    EXPECT_EQ(read(iop_dir_ + "s.iop"), "3 0\n25 1 1000\n26 0\n");
    // A later group for the same id replaces an earlier one.
    EXPECT_EQ(run("interface xdsl iop update 1 s.iop 1 1 1 0"), 0);
    EXPECT_EQ(read(iop_dir_ + "s.iop"), "1 0\n3 0\n25 1 1000\n26 0\n");
    EXPECT_EQ(key("PORT1_CURR_IOP_CONF"), "<absent>");
}

TEST_F(Iop, UpdateRefusesBadGroupsAndWritesNothing)
{
    struct {
        const char *line, *message;
    } cases[] = {{"interface xdsl iop update 1 s 5 1", "Contains invalid action ID.\n"},
                 {"interface xdsl iop update 1 s 97 1", "Contains invalid action ID.\n"},
                 {"interface xdsl iop update 1 s 3 1 x 1", "Contains invalid action ID.\n"},
                 {"interface xdsl iop update 1 s 25 1", "There's an action has no parameters.\n"},
                 {"interface xdsl iop update 1 s 3 1 3", "There's an action has no parameters.\n"}};
    for (const auto &c : cases) {
        EXPECT_EQ(run(c.line), CLI_USAGE) << c.line;
        std::string out = take();
        EXPECT_THAT(out, HasSubstr(c.message)) << c.line;
        EXPECT_THAT(out,
                    HasSubstr("\t25 | IOP_FIX_TOPLVL_LIMIT_US_TONE. <on/off> [<limit us tone number>]\n"));
    }
    EXPECT_EQ(run("interface xdsl iop update 1 s"), CLI_USAGE);
    EXPECT_EQ(read(iop_dir_ + "s.iop"), "<absent>");
    EXPECT_EQ(run("interface xdsl iop update 2 s 3 1"), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("Error Code = -5"));
    EXPECT_EQ(read(iop_dir_ + "s.iop"), "<absent>");
}

TEST_F(Iop, NamesStayInsideTheDirectory)
{
    const std::string outside = dir_ + "/escaped.iop";
    for (const std::string &name :
         std::vector<std::string>{"../escaped", "a/../../escaped", "/tmp/x", iop_dir_ + "../escaped"}) {
        EXPECT_EQ(run("interface xdsl iop update 1 " + name + " 3 1"), CLI_FAILED) << name;
        EXPECT_EQ(run("interface xdsl iop apply 1 " + name), CLI_FAILED) << name;
        EXPECT_EQ(run("interface xdsl iop list 1 " + name), CLI_FAILED) << name;
    }
    EXPECT_EQ(read(outside), "<absent>");
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(key("PORT1_CURR_IOP_CONF"), "<absent>");
    char path[64];
    EXPECT_EQ(iop_resolve_path("name-that-is-far-too-long-for-the-buffer", 1, path, sizeof path), -1);
}

TEST_F(Iop, ApplyClearsThenRunsEveryLine)
{
    put("s.iop", "3 1\n25 1 1000\n");
    fakedev::device().values["2.1.440"] = "000100";
    EXPECT_EQ(run("interface xdsl iop apply 1 s"), 0);
    std::vector<std::string> want = {"2.1.440", "2.1.441", "2.1.444", "2.1.445", "2.1.446",
                                     "2.1.447", "2.1.440", "2.1.441", "2.1.444"};
    EXPECT_EQ(writes(), want);
    EXPECT_EQ(value("2.1.440"), "000004");
    EXPECT_EQ(value("2.1.441"), "000001");
    EXPECT_EQ(value("2.1.444"), "0003e8");
    EXPECT_EQ(value("2.1.445"), "000000");
    EXPECT_EQ(key("PORT1_CURR_IOP_CONF"), iop_dir_ + "s.iop");
    // "curr" is the set applied last.
    fakedev::device().requests.clear();
    EXPECT_EQ(run("interface xdsl iop apply 1 curr"), 0);
    EXPECT_EQ(writes().size(), want.size());
}

TEST_F(Iop, ApplyOfAnOffLimitLeavesTheLimit)
{
    EXPECT_EQ(run("interface xdsl iop update 1 d 26 0"), 0);
    EXPECT_EQ(read(iop_dir_ + "d.iop"), "26 0\n");
    fakedev::device().values["2.1.441"] = "000003";
    EXPECT_EQ(run("interface xdsl iop apply 1 d"), 0);
    EXPECT_EQ(value("2.1.441"), "000000");
    EXPECT_EQ(value("2.1.445"), "000000");
}

TEST_F(Iop, ApplyReportsABadLineAndGoesOn)
{
    put("b.iop", "1 2\n" + std::string(120, '9') + "\n5 1\n\n2 1\n");
    EXPECT_EQ(run("interface xdsl iop apply 1 b"), 0);
    std::string out = take();
    EXPECT_THAT(out,
                HasSubstr("IOP_FIX_TOPLVL_GHS_CS_RR_MODE: <on/off>\non=1, off=0\nIOP configure failed.\n"));
    // The long line and the id without an action fail alone.
    size_t failures = 0;
    for (size_t at = out.find("IOP configure failed."); at != std::string::npos;
         at = out.find("IOP configure failed.", at + 1))
        failures++;
    EXPECT_EQ(failures, 3u);
    EXPECT_EQ(value("2.1.440"), "000002");
    EXPECT_EQ(key("PORT1_CURR_IOP_CONF"), iop_dir_ + "b.iop");
}

TEST_F(Iop, AFailedControlWordReadIsAFailure)
{
    put("r.iop", "1 1\n");
    fakedev::device().failures["2.1.440"] = 118;
    EXPECT_EQ(iop_fix_ghs_cs_rr_mode(0, "1"), 100);
    EXPECT_EQ(run("interface xdsl iop apply 1 r"), 0);
    EXPECT_THAT(take(), HasSubstr("IOP configure failed."));
}

TEST_F(Iop, HandlerArguments)
{
    struct {
        int (*handler)(int, const char *);
        const char *param;
        int rc;
    } cases[] = {{iop_fix_30a_switch_17a, "1", 0},         {iop_fix_30a_switch_17a, "x", 100},
                 {iop_fix_reduce_quiet1, "-1", 100},       {iop_fix_limit_ds_rate, "1", 100},
                 {iop_fix_limit_ds_rate, "1 -5", 100},     {iop_fix_limit_ds_rate, "1 16777216", 100},
                 {iop_fix_limit_us_rate, "1 16777215", 0}, {iop_fix_limit_ds_tone, "0", 0},
                 {iop_fix_limit_ds_tone, "2 4", 100}};
    for (const auto &c : cases)
        EXPECT_EQ(c.handler(0, c.param), c.rc) << c.param;
    EXPECT_EQ(value("2.1.440"), "000008");
    EXPECT_EQ(value("2.1.446"), "ffffff");
    EXPECT_THAT(take(), HasSubstr("IOP_FIX_TOPLVL_30A_SWITCH_17A: <on/off>\non=1; off=0\n"));
}

TEST_F(Iop, ApplyOfAMissingFileClearsAndRecordsIt)
{
    EXPECT_EQ(run("interface xdsl iop apply 1 gone"), 0);
    EXPECT_EQ(take(), "File open failed\n");
    EXPECT_EQ(writes().size(), 6u);
    EXPECT_EQ(key("PORT1_CURR_IOP_CONF"), iop_dir_ + "gone.iop");
}

TEST_F(Iop, ListMarksTheAppliedSet)
{
    put("alpha.iop", "3 1\n");
    put("beta.iop", "25 1 1000\n");
    mkdir((iop_dir_ + "sub").c_str(), 0755);
    EXPECT_EQ(run("interface xdsl iop apply 1 beta"), 0);
    take();
    EXPECT_EQ(run("interface xdsl iop list 1"), 0);
    EXPECT_EQ(take(), " current | config name\n" + std::string(41, '=') + "\n    " + " " +
                          "    | alpha\n    *    | beta\n");
    EXPECT_EQ(run("interface xdsl iop list 1 alpha"), 0);
    EXPECT_EQ(take(), "3 1\n");
    EXPECT_EQ(run("interface xdsl iop list 1 curr"), 0);
    EXPECT_EQ(take(), "25 1 1000\n");
    EXPECT_EQ(run("interface xdsl iop list 1 nothing"), CLI_FAILED);
    EXPECT_EQ(take(), "nothing not found.\n");
    EXPECT_EQ(run("interface xdsl iop list"), CLI_USAGE);
    EXPECT_EQ(run("interface xdsl iop list 2"), CLI_FAILED);
}

TEST_F(Iop, FileLines)
{
    int id = 0;
    char param[IOP_PARAM_MAX + 1];
    EXPECT_EQ(iop_parse_line("25 1 1000\n", 10, &id, param), 0);
    EXPECT_EQ(id, 25);
    EXPECT_STREQ(param, "1 1000");
    EXPECT_EQ(iop_parse_line("3", 1, &id, param), 0);
    EXPECT_STREQ(param, "");
    EXPECT_EQ(iop_parse_line("3 1\r\n", 5, &id, param), 0);
    EXPECT_STREQ(param, "1");
    std::string long_param = "3 " + std::string(IOP_PARAM_MAX + 1, '1');
    EXPECT_EQ(iop_parse_line(long_param.data(), long_param.size(), &id, param), -1);
    for (const char *bad : {"", "x 1", "0 1", "97 1", "5 1", "-3 1"})
        EXPECT_EQ(iop_parse_line(bad, std::strlen(bad), &id, param), -1) << bad;
}

}  // namespace
