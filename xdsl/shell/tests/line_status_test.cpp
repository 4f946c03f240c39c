// Line status displays through the executor, with a fake device: the
// human table in clean mode and the record through the silent buffer.
#include <cstdio>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "line_status.h"
#include "display_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class LineStatus : public shelltest::DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        store("V_DISABLE_P1", "#");
        take();
    }
    void showtime()
    {
        dev.state = VDSL_STATE_SHOWTIME;
        set("0.1.26", 0x30);
        set("0.3.2", 40000);
        set("0.3.2.3", 0x7FFFFF);
        set("0.2.4.10", 0xFFFFFE);
        set("2.1.1", 130000);
        set("2.1.117.1", 3600);
        set("0.1.31.1", 123);
        set("2.1.329", 6);
        set("2.1.330", 32);
        set("2.1.345", 33);
        set("2.1.346", 859);
        set("3.2.12", 7);
        set("3.2.42", 8);
    }
    static bool has_line(const std::string &out, const std::string &line)
    {
        return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
    }
    bool oid_read(const std::string &oid) const
    {
        for (const fakedev::Request &r : dev.requests)
            if (r.number == VDSL_GET_MIB && oid == reinterpret_cast<const char *>(r.block.data() + 1))
                return true;
        return false;
    }
};

TEST_F(LineStatus, ShowtimeBasicRowsProfileAndLinkTime)
{
    showtime();
    dev.failures["0.2.3.11"] = 100;
    EXPECT_EQ(run("show status 1"), CLI_DONE);
    std::string out = take();
    for (const char *line : {
             "Status (Basic) of Line 1: Showtime",
             "Profile: 12a",
             "                        |Value                    Description",
             "Actual Data Rate        |40000                    (US) Kb/s",
             "Actual Data Rate        |NA                       (DS) Kb/s",
             "SNR Margin              |-2                       (US) 0.1dB",
             "Singal Attenuation      |FAILED                   (DS) 0.1dB",
             "Electrical Length       |123                      0.1 dB",
             "Link Time               |3600                     second(s)",
             "Firmware Version        |01fbd0",
             "",
             "Band Plan:",
             "US0: 0006(   6) - 0020(  32)",
             "DS1: 0021(  33) - 035b( 859)",
             "US4: 0000(   0) - 0000(   0)",
             "Status (Advance) of Line 1:",
             "                         Upstream      Downstream    ",
             "SNR Margin              |0             --             (US0,--) 0.1 dB",
             "Showtime CV             |7             NA             ",
             "15M Elapsed time        |0             0              secs",
             "Total FEC               |0             0              ",
         })
        EXPECT_TRUE(has_line(out, line)) << "no line \"" << line << "\" in:\n" << out;
    EXPECT_FALSE(oid_read("3.2.42")) << "a far-end counter the office side does not keep was read";
}

TEST_F(LineStatus, RemoteSideShowsTheOtherFarEndColumn)
{
    showtime();
    set("2.1.5", 0x301);
    EXPECT_EQ(run("show status 1"), CLI_DONE);
    EXPECT_TRUE(has_line(take(), "Showtime CV             |NA            8              "));
    EXPECT_FALSE(oid_read("3.2.12"));
}

TEST_F(LineStatus, ProfileWordsAndLinkTimeVersions)
{
    struct Case {
        unsigned profile, version;
        const char *name, *link;
    } cases[] = {
        {0x30, 130000, "12a", "3600"}, {0, 130000, "8a", "3600"},          {0x80, 129999, "30a", "0"},
        {0x41, 0x800000, "8a", "0"},   {0xFFFFFF, 0x7FFFFF, "8a", "3600"},
    };
    for (const Case &c : cases) {
        showtime();
        set("0.1.26", c.profile);
        set("2.1.1", c.version);
        run("show status 1");
        std::string out = take();
        EXPECT_TRUE(has_line(out, std::string("Profile: ") + c.name)) << out;
        char link[80];
        std::snprintf(link, sizeof link, "%-24s|%-24s %s", "Link Time", c.link, "second(s)");
        EXPECT_TRUE(has_line(out, link)) << c.version << ":\n" << out;
    }
}

TEST_F(LineStatus, StatesDisabledPortsAndFailures)
{
    struct Case {
        unsigned char state;
        const char *flag;
        bool state_fails;
        int rc;
        const char *line, *record;
    } cases[] = {
        {VDSL_STATE_IDLE, "#", false, 0, "Status (Basic) of Line 1: Idle", "Status=Idle|"},
        {VDSL_STATE_IDLE, "", false, 0, "Status (Basic) of Line 1: Disable", "Status=Disable|"},
        {VDSL_STATE_TRAINING, "#", false, 0, "Status (Basic) of Line 1: Training", "Status=Traning|"},
        {VDSL_STATE_HANDSHAKE, "yes", false, 0, "Status (Basic) of Line 1: Disable", "Status=Disable|"},
        {9, "#", false, 0, "Status (Basic) of Line 1: Unkown", "Status=Unkown|"},
        {VDSL_STATE_DISABLE, "#", false, 100, "Status of Line 1: Power Off", "Status=Power Off|"},
        {VDSL_STATE_ERROR, "#", false, 100, "Status of Line 1: Error", "Status=Error|"},
        {VDSL_STATE_IDLE, "#", true, 100, "Status of Line 1: Error", "Status=Error|"},
    };
    for (const Case &c : cases) {
        dev.state = c.state;
        dev.handler = nullptr;
        if (c.state_fails)
            dev.handler = [](unsigned long n, unsigned char *b, std::size_t size) {
                return n == VDSL_PHY_STATUS ? 100 : fakedev::builtin_answer(n, b, size);
            };
        store("V_DISABLE_P1", c.flag);
        take();
        EXPECT_EQ(run("show status 1"), c.rc) << c.line;
        std::string out = take();
        EXPECT_TRUE(has_line(out, c.line)) << out;
        if (c.rc == 0)
            EXPECT_TRUE(has_line(out, "Profile: NA")) << out;
        else
            EXPECT_FALSE(has_line(out, "Profile: NA")) << out;
        int rc;
        std::string record = silent("show status 1", &rc);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(record.rfind(c.record, 0), 0u) << record;
    }
}

TEST_F(LineStatus, RecordHoldsEveryFieldInOrder)
{
    showtime();
    std::string record = silent("show status 1");
    const std::string head =
        "Status=Showtime|Profile=12a|Actual Data Rate=40000 NA|SNR Margin=-2 0|"
        "Singal Attenuation=0 0|Line Attenuation=0 0|Electrical Length=123|Link Time=3600|"
        "Firmware Version=1fbd0|Actual delay=0 0|";
    EXPECT_EQ(record.substr(0, head.size()), head);
    EXPECT_NE(record.find("|SNR Margin 0=0 --|SNR Margin 1=0 0|"), std::string::npos) << record;
    EXPECT_NE(record.find("|Showtime CV=7 NA|"), std::string::npos) << record;
    EXPECT_EQ(record.substr(record.size() - 14), "Total FEC=0 0|");
    // The band plan goes straight out, never into the record.
    EXPECT_EQ(record.find("US0"), std::string::npos);
    EXPECT_NE(take().find("US0: 0006(   6) - 0020(  32)\n"), std::string::npos);
}

TEST_F(LineStatus, ScriptModeShowsOnlyTheBandPlan)
{
    showtime();
    cli_print_mask = 0;
    EXPECT_EQ(run("show status 1"), CLI_DONE);
    std::string out = take();
    EXPECT_EQ(out.rfind("US0: 0006(   6) - 0020(  32)\nDS1: ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 9);
}

TEST_F(LineStatus, PortAndUsage)
{
    EXPECT_EQ(run("show status"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage: cmd <portid>\n");
    EXPECT_EQ(run("interface xdsl show status 2"), CLI_FAILED);
    EXPECT_NE(take().find("Error Code = -5"), std::string::npos);
    EXPECT_TRUE(dev.requests.empty());
}

TEST_F(LineStatus, DisplaysAnswerAlikeOnBothPaths)
{
    showtime();
    const std::pair<const char *, const char *> paths[] = {
        {"show status 1", "interface xdsl show status 1"},
        {"show summary", "interface xdsl show summary"},
        {"show pm-line-curr 1", "interface xdsl show pm-line-curr 1"},
        {"show pm-ch-curr 1", "interface xdsl show pm-ch-curr 1"},
        {"show threshold 1", "interface xdsl show threshold 1"},
        {"show invent 1", "interface xdsl show invent 1"},
        {"show line 1", "interface xdsl show table line 1"},
        {"show line 1 psd", "interface xdsl show table line 1 psd"},
        {"show lineband 1", "interface xdsl show table lineband 1"},
        {"show channelstatus 1", "interface xdsl show table channelstatus 1"},
        {"show scstatus 1", "interface xdsl show table scstatus 1"},
        {"show pmlineinitcurr 1", "interface xdsl show table pmlineinitcurr 1"},
        {"show g.inp 1", "interface xdsl g.inp table 1"},
    };
    for (const auto &p : paths) {
        EXPECT_EQ(run(p.first), CLI_DONE) << p.first;
        const std::string root = take();
        const std::string root_record = silent(p.first);
        take();  // what goes straight out in silent mode
        EXPECT_EQ(run(p.second), CLI_DONE) << p.second;
        EXPECT_EQ(take(), root) << p.second;
        EXPECT_EQ(silent(p.second), root_record) << p.second;
        take();
        EXPECT_EQ(root.find("not available"), std::string::npos) << root;
        cmd_home(nullptr, nullptr);
    }
}

TEST_F(LineStatus, Summary)
{
    showtime();
    set("0.3.5", 20);
    set("0.3.5.3", 30);
    set("0.3.4", 4);
    set("0.3.4.3", 8);
    set("2.1.117", 61);
    set("3.1.12", 1000);
    set("3.1.11", 2000);
    EXPECT_EQ(run("show summary"), CLI_DONE);
    EXPECT_EQ(
        take(),
        "Port|Link time Rate US/DS     Status      INP US/DS    Delay US/DS    CRC US/DS    TxPkts/RxPkts\n"
        "1   |       61   40000/8388607Showtime        20/30          4/8           7/8     1000/2000\n");
    EXPECT_EQ(silent("show summary"),
              "Port=1|Link time=61|Rate US/DS=40000/8388607|Status=Showtime|INP US/DS=20/30|"
              "Delay US/DS=4/8|CRC US/DS=7/8|TxPkts=1000|RxPkts=2000|");
    // Unsigned here: a version word with bit 23 set counts as new firmware.
    set("2.1.1", 0x800000);
    EXPECT_NE(silent("interface xdsl show summary").find("Link time=61|"), std::string::npos);

    store("V_DISABLE_P1", "");
    EXPECT_NE(silent("show summary").find("|Status=Disable|"), std::string::npos);
    dev.state = VDSL_STATE_DISABLE;
    EXPECT_EQ(silent("show summary"), "Port=1|Link time=0|Rate US/DS=0/0|Status=Power Off|INP US/DS=0/0|"
                                      "Delay US/DS=0/0|CRC US/DS=0/0|TxPkts=0|RxPkts=0|");
    dev.state = VDSL_STATE_ERROR;
    EXPECT_NE(silent("show summary").find("Status=Error|"), std::string::npos);
}

TEST_F(LineStatus, PhystatusByMode)
{
    dev.state = VDSL_STATE_SHOWTIME;
    struct Case {
        uint32_t mask;
        const char *out, *record;
    } cases[] = {
        {CLI_MASK_ONE_SHOT, "", ""},
        {CLI_MASK_INTERACTIVE, "OPSTATE is SHOWTIME\n", ""},
        {CLI_MASK_CLEAN, "OPSTATE is SHOWTIME\n", ""},  // the clean mask holds 0x400
        {CLI_MASK_SILENT, "", "5"},
    };
    for (const Case &c : cases) {
        cli_print_mask = c.mask;
        cli_silent_buffer_clear();
        EXPECT_EQ(run("util phystatus 0x1"), 0);
        EXPECT_EQ(take(), c.out) << std::hex << c.mask;
        EXPECT_STREQ(cli_silent_buffer(), c.record);
        EXPECT_EQ(cli_print_mask, c.mask);
    }
    cli_print_mask = CLI_MASK_INTERACTIVE;
    dev.state = 0;
    run("util phystatus 1");
    EXPECT_EQ(take(), "OPSTATE is OTHER(Impossible!!)\n");
    dev.handler = [](unsigned long, unsigned char *, std::size_t) { return -25; };
    EXPECT_EQ(run("util phystatus 1"), -25);
    EXPECT_EQ(take(), "OPSTATE is OTHER(Impossible!!)\n");
    cli_print_mask = CLI_MASK_CLEAN;
    EXPECT_EQ(run("util phystatus"), 0);
    EXPECT_EQ(take(), "Usage:cmd <portid>\n");
}

TEST_F(LineStatus, FailureReasonHeadingRunsFromTheRoot)
{
    run("interface xdsl");
    take();
    int rc = print_failure_reason(0);
    EXPECT_EQ(rc, CLI_NO_SUCH_COMMAND);
    EXPECT_EQ(take().rfind("\nFailureReason :\n", 0), 0u);
}

}  // namespace
