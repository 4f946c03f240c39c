// Applying templates to the port: write order, read-modify-write bits,
// reconnection and the stored port map.
#include <algorithm>
#include <string>

#include <gmock/gmock.h>

#include "cli_print.h"
#include "profile_fixture.h"
#include "vdsl.h"
#include "vdsl_profiles.h"

namespace {

using shelltest::take;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

class Apply : public proftest::ProfileTest {
protected:
    void SetUp() override
    {
        ProfileTest::SetUp();
        for (const char *line :
             {"profiles line-template new T", "profiles line-profile new L", "profiles chan-profile new C",
              "profiles line-template set line-profile T L", "profiles line-template set chan-profile T C",
              "profiles alarm-template new A"})
            ASSERT_EQ(run(line), 0) << line;
        take();
        writes();
    }
    static std::vector<std::string> oids(const proftest::Writes &w)
    {
        std::vector<std::string> out;
        for (const auto &p : w)
            out.push_back(p.first);
        return out;
    }
    static std::string value_of(const proftest::Writes &w, const std::string &oid)
    {
        for (const auto &p : w)
            if (p.first == oid)
                return p.second;
        return "<none>";
    }
};

TEST_F(Apply, LineTemplateOnAnEnabledPortWritesInTableOrderAndReconnects)
{
    store("V_DISABLE_P1", "#");
    dev.values["2.1.9"] = "000100";
    dev.values["0.10.12"] = "123456";
    ASSERT_EQ(run("profiles port set line-template 1 T"), 0);
    proftest::Writes w = writes();
    std::vector<std::string> o = oids(w);
    // Sub-profiles first (system profiles' own entries), then the mask.
    std::vector<std::string> head(o.begin(), o.begin() + 12);
    EXPECT_THAT(head, ElementsAre("0.9.1", "0.10.4", "0.10.5", "0.10.2", "0.10.3", "0.9.35", "0.9.27",
                                  "0.10.14", "0.10.15", "0.9.5", "0.9.36", "0.9.35"));
    auto at = [&](const char *oid) { return std::find(o.begin(), o.end(), oid) - o.begin(); };
    EXPECT_EQ(at("3.1.39"), at("0.9.6") + 1);
    EXPECT_EQ(value_of(w, "3.1.39"), "0");
    EXPECT_LT(at("0.9.16"), at("2.1.9"));
    EXPECT_LT(at("2.1.9"), at("0.10.12"));
    EXPECT_EQ(value_of(w, "0.10.12"), "123400");
    EXPECT_EQ(std::count(o.begin(), o.end(), "2.1.9"), 3);
    // led off clears 0x100; both bit swaps on.
    EXPECT_EQ(dev.values["2.1.9"], "600000");
    EXPECT_EQ(value_of(w, "0.9.57"), "000000");
    EXPECT_EQ(o[o.size() - 11], "1.1.5");  // IOT_0 last of the line profile
    EXPECT_EQ(o.back(), "0.12.15");        // the channel profile's last slot
    EXPECT_EQ(
        std::count_if(o.begin(), o.end(), [](const std::string &s) { return s.rfind("0.12.", 0) == 0; }), 10);
    EXPECT_THAT(port_ops(), ElementsAre(1, 0));
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("Port1 Enabled..."));
    EXPECT_EQ(stored("port1_map_profile"), "T@");
}

TEST_F(Apply, ReconnectFlagZeroLeavesThePortAlone)
{
    store("V_DISABLE_P1", "#");
    ASSERT_EQ(run("profiles port set line-template 1 T 0"), 0);
    EXPECT_TRUE(port_ops().empty());
    EXPECT_THAT(take(), ::testing::Not(HasSubstr("Enabled...")));
}

TEST_F(Apply, DisabledPortStaysDown)
{
    ASSERT_EQ(run("profiles port set alarm-template 1 A"), 0);
    EXPECT_THAT(port_ops(), ElementsAre(1));
    EXPECT_THAT(take(), HasSubstr("Port1 Not Enabled..."));
    EXPECT_EQ(stored("port1_map_profile"), "@A");
}

TEST_F(Apply, RefusalsTouchNothing)
{
    for (const char *line : {"profiles port set line-template 2 T", "profiles port set line-template 0 T"}) {
        EXPECT_EQ(run(line), -111);
        EXPECT_THAT(take(), HasSubstr("Over MAX_PORTS"));
    }
    EXPECT_EQ(run("profiles port set line-template 1 nope"), -111);
    EXPECT_THAT(take(), HasSubstr("nope Line Template No Exist"));
    EXPECT_EQ(run("profiles port set line-template 1"), -111);
    EXPECT_THAT(take(),
                HasSubstr("Usage: cmd <port> <Vdsl Config Line Template Name>\nxDSL Line Template:\nT"));
    EXPECT_TRUE(port_ops().empty());
    EXPECT_TRUE(writes().empty());
}

TEST_F(Apply, ReadModifyWriteBitsAndAFailedRead)
{
    ASSERT_EQ(run("profiles line-profile set bitSwapDs L off"), 0);
    ASSERT_EQ(run("profiles line-profile set us0disable L disable"), 0);
    ASSERT_EQ(run("profiles line-profile set raModeUs L 3"), 0);
    ASSERT_EQ(run("profiles line-profile set bandConfig L 2"), 0);
    dev.values["2.1.9"] = "ffffff";
    dev.values["0.10.12"] = "abcd00";
    profiles_apply_port(0, "L", PROFILE_LINE);
    proftest::Writes w = writes();
    EXPECT_EQ(dev.values["2.1.9"], "bffeff");
    EXPECT_EQ(value_of(w, "0.10.12"), "abcdff");
    EXPECT_EQ(value_of(w, "3.1.39"), "1");
    EXPECT_EQ(value_of(w, "0.9.57"), "000208");
    // Reads that fail: nothing written to those entries, the walk goes on.
    dev.failures["2.1.9"] = 100;
    dev.failures["0.10.12"] = 100;
    take();
    profiles_apply_port(0, "L", PROFILE_LINE);
    w = writes();
    std::vector<std::string> o = oids(w);
    EXPECT_EQ(std::count(o.begin(), o.end(), "2.1.9"), 0);
    EXPECT_EQ(std::count(o.begin(), o.end(), "0.10.12"), 0);
    EXPECT_EQ(o.back(), "1.1.5");
    std::string out = take();
    size_t errors = 0;
    for (size_t at = out.find("Error setting MIB value."); at != std::string::npos;
         at = out.find("Error setting MIB value.", at + 1))
        errors++;
    EXPECT_EQ(errors, 4u);
}

TEST_F(Apply, SubProfilesNamingUserProfilesAndIot)
{
    ASSERT_EQ(run("profiles pre-define psd-new P"), 0);
    ASSERT_EQ(run("profiles pre-define psd-set-ds P 1 100 -50"), 0);
    ASSERT_EQ(run("profiles line-profile set PSD L P"), 0);
    ASSERT_EQ(run("profiles line-profile set IOT L 5"), 0);
    profiles_apply_port(0, "L", PROFILE_LINE);
    proftest::Writes w = writes();
    EXPECT_EQ(value_of(w, "0.10.14").substr(0, 6), "640064");
    EXPECT_EQ(value_of(w, "1.1.5"), "000005");
    ASSERT_EQ(run("profiles line-profile set IOT L 7"), 0);
    profiles_apply_port(0, "L", PROFILE_LINE);
    EXPECT_EQ(value_of(writes(), "1.1.5"), "000000");
    EXPECT_EQ(profiles_apply_port(0, "zz", PROFILE_CHANNEL), -111);
    EXPECT_THAT(take(), HasSubstr("zz Profile No Exist"));
}

TEST_F(Apply, ActiveReappliesBothTemplatesWhenThePortUsesTheProfile)
{
    port_map_set("T", "A");
    ASSERT_EQ(run("profiles port set active 3 C"), 0);
    EXPECT_THAT(take(), HasSubstr("Active xDSL Port 1"));
    EXPECT_THAT(port_ops(), ElementsAre(1, 0));
    EXPECT_EQ(stored("port1_map_profile"), "T@A");
    ASSERT_EQ(run("profiles chan-profile new other"), 0);
    writes();
    take();
    ASSERT_EQ(run("profiles port set active 3 other"), 0);
    EXPECT_EQ(take(), "");
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(run("profiles port set active 11 other"), -111);
    EXPECT_THAT(take(), HasSubstr("Usage: cmd <options> <Profile Name>\noptions range:1-10\n1:LineTemplate"));
}

TEST_F(Apply, LineAlarmTemplateConnectsWhateverTheFlagHolds)
{
    ASSERT_EQ(run("profiles port set line-alarm-template 1 T A"), 0);
    EXPECT_THAT(port_ops(), ElementsAre(1, 0));
    EXPECT_EQ(stored("port1_map_profile"), "T@A");
    take();
    EXPECT_EQ(run("profiles port set line-alarm-template 1 T"), -111);
    std::string out = take();
    EXPECT_THAT(
        out, HasSubstr("Usage: cmd <port> <LineTemplate Name> <AlarmTemplate Name>\nxDSL Line Template:\nT\n"
                       "xDSL Alarm Template:\nA\n"));
    EXPECT_EQ(run("profiles port set line-alarm-template 2 T A"), -111);
    EXPECT_THAT(take(), HasSubstr("Over MAX_PORTS"));
    // A missing alarm template is reported; the line template is still mapped.
    ASSERT_EQ(run("profiles port set line-alarm-template 1 T gone"), 0);
    EXPECT_THAT(take(), HasSubstr("gone Alarm Template No Exist"));
    EXPECT_EQ(stored("port1_map_profile"), "T@A");
}

TEST_F(Apply, InitProfile)
{
    store("V_POWEROFF_P1", "");
    store("V_DISABLE_P1", "#");
    ASSERT_EQ(run("profiles port initprofile"), 0);
    EXPECT_THAT(take(), HasSubstr("V_POWEROFF_P1 ,not Init"));
    EXPECT_TRUE(writes().empty());
    EXPECT_THAT(port_ops(), ElementsAre(1, 0));
    store("V_POWEROFF_P1", "#");
    port_map_set("gone", "A");
    ASSERT_EQ(run("profiles line-template new DEFVAL"), 0);
    take();
    ASSERT_EQ(run("profiles port initprofile"), 0);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("Init Port1 LineTemplate(gone), AlarmTemplate(A)"));
    EXPECT_THAT(out, HasSubstr("gone Line Template not exist, Use Default"));
    EXPECT_EQ(stored("port1_map_profile"), "DEFVAL@A");
}

}  // namespace
