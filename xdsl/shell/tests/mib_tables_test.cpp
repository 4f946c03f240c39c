// MIB table displays and the line's PSD, with a fake device.
#include <cstdio>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "display_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class MibTables : public shelltest::DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        dev.state = VDSL_STATE_SHOWTIME;
    }
    // The tables are also written as in the program's silent mode.
    std::string silent(const std::string &line)
    {
        cli_silent_mode = 1;
        std::string out = DisplayTest::silent(line);
        cli_silent_mode = 0;
        return out;
    }
    static std::string bp(unsigned tone, unsigned word)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06x%06x", tone, word);
        return text;
    }
};

TEST_F(MibTables, PmLineInitCurrTable)
{
    set("0.17.3.1", 120);
    set("0.17.12.1", 0x7FFFFE);
    dev.failures["0.17.9.1"] = 100;
    EXPECT_EQ(run("show pmlineinitcurr 1"), CLI_DONE);
    std::string out = take();
    EXPECT_EQ(out.substr(0, out.find('\n', out.find('\n') + 1) + 1),
              "xdsl2PMLineInitCurrTable of Line 1:\n"
              "                                           Value                    Description\n");
    EXPECT_NE(out.find("\n15M elapsed seconds                       |120                      (seconds)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n1Day count of failed full initializations |NA                       \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("1Day invalid intervals"), std::string::npos);  // its read failed
    EXPECT_EQ(silent("interface xdsl show table pmlineinitcurr 1"),
              "15M valid intervals=0|15M invalid intervals=0|15M elapsed seconds=120|"
              "15M count of full initializations=0|15M count of failed full initializations=0|"
              "1Day valid intervals=0|1Day elapsed seconds=0|1Day count of full initializations=0|"
              "1Day count of failed full initializations=NA|");
}

TEST_F(MibTables, LineBandHasElevenBlocks)
{
    for (int i = 1; i <= 11; i++)
        set("0.2.1." + std::to_string(i), static_cast<unsigned>(i));
    EXPECT_EQ(run("show lineband 1"), CLI_DONE);
    std::string out = take();
    int blocks = 0;
    for (size_t at = 0; (at = out.find("SNR Margin              |0                        (0.1 dB)\n\n",
                                       at)) != std::string::npos;
         at++)
        blocks++;
    EXPECT_EQ(blocks, 11) << out;
    EXPECT_NE(out.find("Band ID                 |11                       us(1),ds(2)"), std::string::npos);
    std::string record = silent("show lineband 1");
    EXPECT_EQ(record.rfind("Band ID=1|Line Attenuation=0|Signal Attenuation=0|SNR Margin=0|Band ID=2|", 0),
              0u);
    EXPECT_EQ(std::count(record.begin(), record.end(), '|'), 44);
}

TEST_F(MibTables, ScStatusAndLineTables)
{
    set("0.4.1.2", 2);
    EXPECT_EQ(run("interface xdsl show table scstatus 1"), CLI_DONE);
    std::string out = take();
    EXPECT_NE(
        out.find(
            "\nDirection                               |2                        upstream(1),downstream(2)\n"),
        std::string::npos)
        << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 2 * 11);
    std::string record = silent("show scstatus 1");
    EXPECT_EQ(record.rfind("Direction=0|Scale factor to H(f) linear value=0|", 0), 0u) << record;
    EXPECT_NE(record.find("Row Status=0|Direction=2|"), std::string::npos) << record;
    EXPECT_EQ(std::count(record.begin(), record.end(), '|'), 20);

    set("0.1.26.1", 0x10);
    EXPECT_EQ(run("show line 1"), CLI_DONE);
    out = take();
    EXPECT_NE(out.find("\nProfile                 |16                       8a(0),8b(1)"), std::string::npos)
        << out;
    EXPECT_EQ(silent("show line 1").find("Profile=16|"),
              5 * 0 + std::string("4-No power management=0|Attainable Rate Ds=0|"
                                  "Attainable Rate Us=0|ATP Ds=0|ATP Us=0|")
                          .size());
}

TEST_F(MibTables, ChannelStatusRecordSeparatesChannels)
{
    set("0.22.1.1", 1);
    set("0.22.1.3", 2);
    set("0.3.2.1", 1000);
    set("0.3.2.3", 3000);
    EXPECT_EQ(run("show channelstatus 1"), CLI_DONE);
    std::string out = take();
    EXPECT_EQ(out.rfind("xdsl2ChannelStatusTable of Line 1:\n\nUpstream:\n"
                        "                                         Value      Description\n"
                        "Actual Data Rate                        |1000       (kbps)\n",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find("\n\nDownstream:\n"), std::string::npos);
    std::string record = silent("show channelstatus 1");
    EXPECT_EQ(record.rfind("Upstream:Actual Data Rate=1000|", 0), 0u) << record;
    EXPECT_NE(record.find("Status of PTM Data Path=0;Downstream:Actual Data Rate=3000|"), std::string::npos)
        << record;
    EXPECT_EQ(record.back(), '|');

    // A direction word that never answers: three tries, then the channel goes.
    dev.failures["0.22.1.1"] = 100;
    run("show channelstatus 1");
    out = take();
    EXPECT_NE(out.find("Error getting MIB value.\n"), std::string::npos);
    EXPECT_EQ(out.find("Upstream:"), std::string::npos);
}

TEST_F(MibTables, TableDirectoryAndItsWords)
{
    EXPECT_EQ(run("interface xdsl show table"), CLI_DONE);
    EXPECT_STREQ(cli_prompt(), "router (interface xdsl show table)>");
    set("0.2.1.1", 1);
    EXPECT_EQ(run("lineband 1"), CLI_DONE);
    EXPECT_NE(take().find("Band ID                 |1 "), std::string::npos);
}

TEST_F(MibTables, PowerOffMessagesAndUsage)
{
    dev.state = VDSL_STATE_DISABLE;
    struct Case {
        const char *line;
        int rc;
        const char *says;
    } cases[] = {
        {"show pmlineinitcurr 1", 100, "Error getting pmlineinitcurr table.\n"},
        {"show scstatus 1", 100, "Error getting scstatus table.\n"},
        {"show lineband 1", 100, "Error getting line band table.\n"},
        {"show channelstatus 1", 100, "Error getting channel status table.\n"},
        {"show line 1", 100, "Error getting line table.\n"},
        {"show line 1 psd", 100, "Error getting line table.\n"},
        {"show line 1 pds", -111, "Usage: cmd <portid> [psd]\n"},
        {"show line", -111, "Usage: cmd <portid> [psd]\n"},
        {"show lineband", -111, "Usage: cmd <portid>\n"},
        {"show invent 1", 0, "Error getting inventory value.\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.line), c.rc) << c.line;
        EXPECT_EQ(take(), c.says) << c.line;
    }
}

TEST_F(MibTables, LinePsdExpandsBreakpoints)
{
    dev.values["3.1.45"] = "0c8000";  // the first band ends at tone 200
    dev.values["0.1.35"] = bp(100, 500) + bp(104, 540) + bp(198, 500) + bp(200, 500) + bp(205, 500);
    dev.values["0.1.34"] = "c69a53000000";
    EXPECT_EQ(run("show line 1 psd"), CLI_DONE);
    std::string out = take();
    EXPECT_EQ(out.rfind("Psd level (dBm/Hz) Us : Tone No.|PSD level\n"
                        " 100|-90.0   101|-89.0   102|-88.0   103|-87.0   104|-86.0   105|-86.0 ",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find(" 200|-90.0   201|-100.0  202|-100.0  203|-100.0 \n 204|-100.0 \n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Psd level (dBm/Hz) Ds : Tone No.|PSD level\nNA\n"), std::string::npos) << out;

    EXPECT_EQ(silent("show line 1 psd"),
              "Psd Level Us:100=-90.0|104=-86.0|198=-90.0|200=-90.0|205=-90.0|Psd Level Ds:NA");
    dev.values["0.1.35"] = "c69a53";
    EXPECT_EQ(silent("show line 1 psd"), "Psd Level Us:NA|Psd Level Ds:NA");
}

TEST_F(MibTables, LinePsdSkipsAnUnreadableDirection)
{
    dev.failures["0.1.35"] = 100;
    dev.values["0.1.34"] = bp(10, 500) + bp(12, 500);
    EXPECT_EQ(run("show line 1 psd"), CLI_DONE);
    EXPECT_EQ(take(), "Psd level (dBm/Hz) Ds : Tone No.|PSD level\n  10|-90.0    11|-90.0  \n");
}

}  // namespace
