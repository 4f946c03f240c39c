// Counter displays through the executor, with a fake device.
#include <cstdio>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "display_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class Counters : public shelltest::DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        dev.state = VDSL_STATE_SHOWTIME;
    }
};

TEST_F(Counters, LineCountersElapsedTimesAndRecord)
{
    set("0.16.4.1", 899);
    set("0.16.4.2", 60);
    set("0.16.12.1", 86399);
    set("0.16.12.2", 3661);
    set("0.16.5.1", 3);
    set("0.16.5.2", 4);
    set("0.16.17.2", 9);
    EXPECT_EQ(run("show pm-line-curr 1"), CLI_DONE);
    std::string out = take();
    const std::string want = "Portdisabled\n\n"
                             "Current line counters of Line 1:\n"
                             "                     Central Office          Remote site             \n"
                             "15M Elapsed time    |14 mins 59 secs         1 mins 0 secs           \n"
                             "15M FECS            |3                       4                       \n"
                             "15M ES              |0                       0                       \n"
                             "15M SES             |0                       0                       \n"
                             "15M LOSS            |0                       0                       \n"
                             "15M UAS             |0                       0                       \n"
                             "1Day Elapsed time   |23 hours 59 mins 59 secs1 hours 1 mins 1 secs   \n"
                             "1Day FECS           |0                       0                       \n"
                             "1Day ES             |0                       0                       \n"
                             "1Day SES            |0                       0                       \n"
                             "1Day LOSS           |0                       0                       \n"
                             "1Day UAS            |0                       9                       \n";
    EXPECT_EQ(out, want);
    EXPECT_EQ(
        silent("interface xdsl show pm-line-curr 1"),
        "15M Elapsed time=899 60|15M FECS=3 4|15M ES=0 0|15M SES=0 0|15M LOSS=0 0|15M UAS=0 0|"
        "|1Day Elapsed time=86399 3661|1Day FECS=0 0|1Day ES=0 0|1Day SES=0 0|1Day LOSS=0 0|1Day UAS=0 9|");
}

TEST_F(Counters, FailedRemoteReadEndsTheTableOnly)
{
    dev.failures["0.16.7.2"] = 100;
    EXPECT_EQ(silent("show pm-line-curr 1"),
              "15M Elapsed time=0 0|15M FECS=0 0|15M ES=0 0||1Day Elapsed time=0 0|1Day FECS=0 0|1Day ES=0 0|"
              "1Day SES=0 0|1Day LOSS=0 0|1Day UAS=0 0|");
}

TEST_F(Counters, PowerOffUsageAndPort)
{
    struct Case {
        const char *line;
        int rc;
        const char *says;
    } cases[] = {
        {"show pm-line-curr 1", 100, "Error getting curent line counter."},
        {"show pm-ch-curr 1", 100, "Error getting current channel counter."},
        {"show threshold 1", 100, nullptr},
        {"show threshold", -111, "Usage: cmd <portid>"},
        {"show pm-ch-curr x", -111, "Usage: cmd <portid>"},
        {"show pm-line-curr 3", 100, "Error Code = -5"},
    };
    dev.state = VDSL_STATE_DISABLE;
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.line), c.rc) << c.line;
        std::string out = take();
        if (c.says)
            EXPECT_NE(out.find(c.says), std::string::npos) << out;
        else
            EXPECT_EQ(out, "");
    }
}

TEST_F(Counters, Thresholds)
{
    set("0.14.2", 10);
    set("0.14.7", 11);
    set("0.15.5", 0xFFFFFF);
    dev.failures["0.14.3"] = 100;
    EXPECT_EQ(run("show threshold 1"), CLI_DONE);
    EXPECT_EQ(take(), "Line 1 Threshold (15min error seconds):\n"
                      "     Central Office Remote site   \n"
                      "FECS|10             11            \n"
                      "ES  |0              0             \n"
                      "SES |0              0             \n"
                      "LOSS|0              0             \n"
                      "UAS |0              0             \n"
                      "CV  |0              0             \n"
                      "FEC |0              -1            \n");
    EXPECT_EQ(silent("show threshold 1"),
              "15MinFECS=10 11|15MinES=0 0|15MinSES=0 0|15MinLOSS=0 0|15MinUAS=0 0|"
              "15MinCV=0 0|15MinFEC=0 -1");
}

TEST_F(Counters, ChannelCountersBothChannels)
{
    set("0.22.1.1", 1);
    set("0.22.1.3", 2);
    set("0.22.4.1", 899);
    set("0.22.9.3", 86399);
    set("0.22.5.1", 5);
    set("0.22.11.3", 7);
    EXPECT_EQ(run("show pm-ch-curr 1"), CLI_DONE);
    std::string out = take();
    EXPECT_EQ(out, "Current channel counters of Line 1:\n"
                   "\nUpstream:\n"
                   "15M Elapsed time    |14 mins 59 secs         \n"
                   "15M CV              |5                       \n"
                   "15M FEC             |0                       \n"
                   "1Day Elapsed time   |0 hours 0 mins 0 secs   \n"
                   "1Day CV             |0                       \n"
                   "1Day FEC            |0                       \n"
                   "\nDownstream:\n"
                   "15M Elapsed time    |0 mins 0 secs           \n"
                   "15M CV              |0                       \n"
                   "15M FEC             |0                       \n"
                   "1Day Elapsed time   |23 hours 59 mins 59 secs\n"
                   "1Day CV             |0                       \n"
                   "1Day FEC            |7                       \n");
    std::string record = silent("show pm-ch-curr 1");
    EXPECT_EQ(
        record,
        "Upstream:15M Elapsed time=899|15M CV=5|15M FEC=0|1Day Elapsed time=0|1Day CV=0|1Day FEC=0;"
        "Downstream:15M Elapsed time=0|15M CV=0|15M FEC=0|1Day Elapsed time=86399|1Day CV=0|1Day FEC=7");
}

TEST_F(Counters, SilentDirectionWordGivesUpAfterThreeTries)
{
    dev.failures["0.22.1.1"] = 100;
    set("0.22.1.3", 2);
    EXPECT_EQ(run("show pm-ch-curr 1"), CLI_DONE);
    std::string out = take();
    EXPECT_NE(out.find("Error getting MIB value.\n"), std::string::npos);
    EXPECT_EQ(out.find("Upstream:"), std::string::npos);
    EXPECT_NE(out.find("Downstream:"), std::string::npos);
    int tries = 0;
    for (const fakedev::Request &r : dev.requests)
        tries += std::string(reinterpret_cast<const char *>(r.block.data() + 1)) == "0.22.1.1";
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(silent("show pm-ch-curr 1").rfind("Error getting MIB value.;Downstream:", 0), 0u);
}

}  // namespace
