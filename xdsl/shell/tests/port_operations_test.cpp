// "portop" and "bdset": the port flags, port requests and the reset line.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <linux/sockios.h>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "shell_fixture.h"
#include "sleep_recorder.h"
#include "vdsl.h"
#include "vdsl_profiles.h"

namespace {

using shelltest::take;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class PortOps : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        free_vdsl_profiles_fun();
        shelltest::SleepRecorder::waits().clear();
        take();
    }
    void TearDown() override
    {
        free_vdsl_profiles_fun();
        ShellTest::TearDown();
    }
    std::string key(const std::string &k)
    {
        char line[256];
        return cfgmgr_read(k.c_str(), line, sizeof line) == CFGMGR_READ_OK ? line : "<absent>";
    }
    std::vector<unsigned long> requests()
    {
        std::vector<unsigned long> out;
        for (const auto &r : fakedev::device().requests)
            if (r.number != VDSL_PHY_STATUS)
                out.push_back(r.number);
        return out;
    }
    shelltest::SleepRecorder sleeps;
};

TEST_F(PortOps, EnableDisableAndLoopBack)
{
    EXPECT_EQ(run("util portop 1 1"), 0);
    EXPECT_EQ(key("V_DISABLE_P1"), "#\n");
    EXPECT_THAT(take(), HasSubstr("Enabling Port1..."));
    EXPECT_EQ(run("util portop 2 1-1"), 0);
    EXPECT_EQ(key("V_DISABLE_P1"), "\n");
    EXPECT_THAT(take(), HasSubstr("Disabling Port1..."));
    EXPECT_EQ(shelltest::SleepRecorder::waits(), std::vector<unsigned long>{1000000});
    EXPECT_EQ(run("util portop 10 1"), 0);
    EXPECT_EQ(run("util portop 11 1"), 0);
    EXPECT_THAT(take(), HasSubstr("Enabling Loop Back...\nDisabling Loop Back..."));
    EXPECT_THAT(requests(),
                ElementsAre(VDSL_CONNECT_PORT, VDSL_DISCONNECT_PORT, VDSL_LOOPBACK_ON, VDSL_LOOPBACK_OFF));
}

TEST_F(PortOps, PortListsAreCheckedBeforeAnything)
{
    struct Case {
        const char *line;
        int result;
        const char *message;
    } cases[] = {
        {"util portop 1 0", 100, "Port number process error!!"},
        {"util portop 1 x", 100, "Port number process error!!"},
        {"util portop 1 1-65", 100, "At most 64 ports in one list."},
        {"util portop 1 2", 100, "Invalid portid=1"},
        {"util portop 1", -111, "Usage: cmd <testid> <portid>, port id start from 1"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.line), c.result) << c.line;
        EXPECT_THAT(take(), HasSubstr(c.message)) << c.line;
    }
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(key("V_DISABLE_P1"), "<absent>");
    // A refused port in the middle ends the list after the ports before it.
    EXPECT_EQ(run("util portop 1 1,2"), 100);
    EXPECT_EQ(key("V_DISABLE_P1"), "#\n");
}

TEST_F(PortOps, PacingSignal)
{
    EXPECT_EQ(run("util portop 3 1"), 0);
    EXPECT_THAT(take(), HasSubstr("Pacing signal enabled."));
    fakedev::device().handler = [](unsigned long n, unsigned char *, std::size_t) {
        return n == VDSL_BUS_MARK_2 ? 100 : 0;
    };
    EXPECT_EQ(run("util portop 4 1"), 100);
    EXPECT_THAT(take(), HasSubstr("Can't disable pacing signal."));
}

TEST_F(PortOps, PowerOnFollowsThePortMode)
{
    EXPECT_EQ(run("util portop 5 1"), 0);
    EXPECT_EQ(key("V_POWEROFF_P1"), "#\n");
    EXPECT_EQ(take(), "Port0 Mode Missing!!\n\nPort0 Mode Missing!!\n\n");
    EXPECT_TRUE(requests().empty());
    store("PORT1_MODE", "CPE ");
    run("util portop 5 1");
    // The download (no package here) is tried, then the port enabled.
    EXPECT_THAT(take(), HasSubstr("Enabling Port1..."));
    EXPECT_EQ(key("V_DISABLE_P1"), "#\n");
    store("PORT1_MODE", "CO");
    store("port1_map_profile", "T@A");
    run("util portop 5 1");
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("T Line Template No Exist"));
    EXPECT_THAT(out, HasSubstr("A Alarm Template No Exist"));
    EXPECT_EQ(profile_store_state(), PROFILE_STORE_LOADED);
    EXPECT_EQ(requests().back(), static_cast<unsigned long>(VDSL_CONNECT_PORT));
    EXPECT_EQ(current_directory, cli_root_directory);
}

TEST_F(PortOps, PowerOffPulsesTheResetLine)
{
    store("EBM_BOOT_IF_P1", "lo");
    EXPECT_EQ(run("util portop 6 1"), 0);
    EXPECT_EQ(key("V_POWEROFF_P1"), "\n");
    EXPECT_THAT(take(), HasSubstr("Port 1 has reset."));
    EXPECT_EQ(fakedev::device().resets.size(), 3u);
}

TEST_F(PortOps, BoardSettings)
{
    store("EBM_BOOT_IF_P1", "lo");
    EXPECT_EQ(run("util bdset 3 1"), 0);
    EXPECT_THAT(take(), HasSubstr("test id=3,portid=0,count=0\nPort 1 always high."));
    EXPECT_EQ(run("util bdset 4"), 0);  // no port: the board's only one
    EXPECT_THAT(take(), HasSubstr("Port 1 always low."));
    EXPECT_EQ(run("util bdset 5 2"), 100);
    EXPECT_THAT(take(), HasSubstr("Invalid portid=1"));
    fakedev::device().handler = [](unsigned long n, unsigned char *b, std::size_t) {
        if (n == VDSL_AUTO_RESET && b[0] == 2)
            b[0] = 1;
        return 0;
    };
    EXPECT_EQ(run("util bdset 8 1"), 0);
    EXPECT_THAT(take(), HasSubstr("Queried auto reset is 1\n"));
    EXPECT_EQ(run("util bdset 6 1"), 0);
    EXPECT_THAT(take(), HasSubstr("Enabled auto reset."));
    fakedev::device().handler = [](unsigned long, unsigned char *, std::size_t) { return 100; };
    EXPECT_EQ(run("util bdset 7 1"), 100);
    EXPECT_THAT(take(), HasSubstr("Disable auto reset failed."));
    EXPECT_EQ(run("util bdset"), 0);
    EXPECT_THAT(take(), HasSubstr("  8: Query auto reset value"));
}

TEST_F(PortOps, RandomConnectTestSleepsTenSecondsACycle)
{
    EXPECT_EQ(run("util bdset 1 1 3"), 0);
    EXPECT_EQ(shelltest::SleepRecorder::waits(), std::vector<unsigned long>(3, 10000000));
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_EQ(cli_print_mask, CLI_MASK_CLEAN);
}

TEST_F(PortOps, CrcTestDispatchesLinesTheTreeDoesNotHave)
{
    EXPECT_EQ(run("util bdset 2 1 1"), CLI_NO_SUCH_COMMAND);
    std::vector<unsigned long> &w = shelltest::SleepRecorder::waits();
    EXPECT_EQ(w.size(), 901u);
    EXPECT_EQ(w.front(), 50000000ul);
    EXPECT_EQ(w.back(), 1000000ul);
}

}  // namespace
