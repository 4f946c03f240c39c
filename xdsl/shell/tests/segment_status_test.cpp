// "scstatussegment" on the terminal and in silent mode (lock file, data
// files, pages) and "delt" through its attempts, with the waits recorded.
#include <algorithm>
#include <deque>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "segment_status.h"
#include "tone_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::SleepRecorder;
using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class SegmentStatus : public shelltest::ToneTest {
protected:
    void SetUp() override
    {
        ToneTest::SetUp();
        bands({{5, 64}}, {{65, 2000}});
        word("0.6.4", 0, 0x000000);
        byte("0.6.6", 0, 80);
        vdsl_memdump_dir = dir_.c_str();
    }
    void TearDown() override
    {
        vdsl_memdump_dir = "/tmp";
        cli_silent_mode = 0;
        ToneTest::TearDown();
    }
    void silent()
    {
        cli_silent_mode = 1;
        cli_print_mask = CLI_MASK_SILENT;
    }
    // What silent mode collected since the last call.
    std::string collected()
    {
        std::string text = cli_silent_buffer();
        cli_silent_buffer_clear();
        return text;
    }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    void write(const std::string &name, const std::string &text) const
    {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    size_t segment_reads() const
    {
        return static_cast<size_t>(std::count_if(dev.requests.begin(), dev.requests.end(),
                                                 [](const auto &r) { return r.number == VDSL_MIB2_INFO; }));
    }
};

TEST_F(SegmentStatus, SegmentNamesIgnoreCase)
{
    for (const char *name : {"hlinear", "HLOG", "qln", "Snr", "bitsalloc", "GAINALLOC"})
        EXPECT_EQ(is_segment_name(name), 0) << name;
    for (const char *name : {"", "hlo", "hlogs", "bits", "../hlog"})
        EXPECT_EQ(is_segment_name(name), 1) << name;
}

TEST_F(SegmentStatus, WrongArgumentsGiveTheUsage)
{
    const std::string usage = "Usage: cmd <portid> <hlinear/hlog/qln/snr/bitsalloc/gainalloc>\n";
    for (const char *line : {"", "1", "x hlog", "1 hlogx", "1 hlog update", "1 hlog get 1",
                             "1 snrsnrsnrsnrsnrsnrsnrsnrsnrsnrsnr"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(run(std::string("show scstatussegment ") + line), CLI_USAGE);
        EXPECT_EQ(take(), usage);
    }
    EXPECT_EQ(segment_reads(), 0u);
}

TEST_F(SegmentStatus, CapitalNameShowsTheTable)
{
    EXPECT_EQ(run("interface xdsl show table scstatussegment 1 HLOG"), CLI_DONE);
    EXPECT_EQ(take(), "SCStatusSegmentLog of Line 1:\n"
                      "      Tone No.         dB\n"
                      "US:     1-   8|       6.0\n");
}

TEST_F(SegmentStatus, PortAndShowtimeChecksComeFirst)
{
    EXPECT_EQ(run("show scstatussegment 2 hlog"), CLI_FAILED);
    EXPECT_EQ(take(), "Invalid portid=1\n\nError Code = -5\n");
    dev.state = VDSL_STATE_TRAINING;
    EXPECT_EQ(run("show scstatussegment 1 hlog"), CLI_FAILED);
    EXPECT_EQ(take(), "Port 1 not ShowTime\n");
    EXPECT_EQ(segment_reads(), 0u);
}

TEST_F(SegmentStatus, SilentUsageIsARecord)
{
    silent();
    EXPECT_EQ(run("show scstatussegment 1 hlog upd"), CLI_USAGE);
    EXPECT_EQ(collected(),
              "Usage: cmd <portid> <hlinear/hlog/qln/snr/bitsalloc/gainalloc> <update/get <idx>/size>");
    EXPECT_EQ(run("show scstatussegment 1 dsl"), CLI_USAGE);
    EXPECT_EQ(collected(), "Usage: cmd <portid> <hlinear/hlog/qln/snr/bitsalloc/gainalloc>");
}

TEST_F(SegmentStatus, SilentTwoFieldsWriteTheDataFile)
{
    silent();
    EXPECT_EQ(run("show scstatussegment 1 snr"), CLI_DONE);
    EXPECT_EQ(collected(), "snr Success");
    EXPECT_EQ(read(path("snr")),
              "SCStatusSegmentSnr of Line 1:      Tone No.         dBUS:     1-   8|       8.0");
    EXPECT_FALSE(exists(path("snr.mut"))) << "the lock is gone";

    dev.failures["mem"] = 104;
    EXPECT_EQ(run("show scstatussegment 1 snr"), CLI_DONE);
    EXPECT_EQ(collected(), "Output File Fail");
    EXPECT_FALSE(exists(path("snr"))) << "a failed export leaves no data file";
    EXPECT_FALSE(exists(path("snr.mut")));
}

TEST_F(SegmentStatus, PagesBeforeAnyUpdate)
{
    silent();
    EXPECT_EQ(run("show scstatussegment 1 snr size"), CLI_DONE);
    EXPECT_EQ(collected(), "0");
    EXPECT_EQ(run("show scstatussegment 1 snr get 1"), CLI_DONE);
    EXPECT_EQ(collected(), "Index is out of range");
}

TEST_F(SegmentStatus, TwelveThousandBytesAreThreePages)
{
    silent();
    std::string data;
    for (int i = 0; i < 12000; i++)
        data.push_back(static_cast<char>('a' + i % 26));
    write("scstatus_qln", data);
    EXPECT_EQ(run("show scstatussegment 1 qln SIZE"), CLI_DONE);
    EXPECT_EQ(collected(), "3");
    EXPECT_EQ(run("show scstatussegment 1 qln get 1"), CLI_DONE);
    EXPECT_EQ(collected(), data.substr(0, 5000));
    EXPECT_EQ(run("show scstatussegment 1 qln get 3"), CLI_DONE);
    EXPECT_EQ(collected(), data.substr(10000));
    EXPECT_EQ(run("show scstatussegment 1 qln get 4"), CLI_DONE);
    EXPECT_EQ(collected(), "Index is out of range");
    EXPECT_EQ(run("show scstatussegment 1 qln get"), CLI_DONE);
    EXPECT_EQ(collected(), "Index is out of range");
}

TEST_F(SegmentStatus, ReadErrorDropsThePageCollectedSoFar)
{
    silent();
    // A folder in the data file's place opens, but every read of it fails.
    ASSERT_EQ(mkdir(path("scstatus_snr").c_str(), 0700), 0);
    cli_print(CLI_LEVEL_RECORD, "%s", "earlier text|");
    EXPECT_EQ(run("show scstatussegment 1 snr get 1"), CLI_DONE);
    EXPECT_EQ(collected(), "File I/O Error");
    EXPECT_FALSE(exists(path("snr.mut")));
}

TEST_F(SegmentStatus, UpdateWritesThePagedFileUnderTheLock)
{
    silent();
    bool locked_during_export = false;
    auto serve = dev.handler;
    dev.handler = [&](unsigned long number, unsigned char *b, std::size_t size) {
        struct stat st;
        if (number == VDSL_MIB2_INFO && stat(path("hlog.mut").c_str(), &st) == 0)
            locked_during_export = (st.st_mode & 0777) == 0400;
        return serve(number, b, size);
    };
    EXPECT_EQ(run("show scstatussegment 1 hlog update"), CLI_DONE);
    EXPECT_EQ(collected(), "") << "no message on success";
    EXPECT_TRUE(locked_during_export) << "the lock file exists, mode 0400, while the export runs";
    EXPECT_FALSE(exists(path("hlog.mut")));
    EXPECT_EQ(read(path("scstatus_hlog")),
              "SCStatusSegmentLog of Line 1:      Tone No.         dBUS:     1-   8|       6.0");

    dev.failures["mem"] = 104;
    EXPECT_EQ(run("show scstatussegment 1 hlog update"), CLI_DONE);
    EXPECT_EQ(collected(), "Update failed");
    EXPECT_FALSE(exists(path("scstatus_hlog")));
}

TEST_F(SegmentStatus, HeldLockAnswersBusyAndChangesNothing)
{
    silent();
    write("scstatus_snr", "old data");
    write("snr.mut", "");
    for (const char *line : {"show scstatussegment 1 snr", "show scstatussegment 1 snr update",
                             "show scstatussegment 1 snr size", "show scstatussegment 1 snr get 1"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(run(line), CLI_DONE);
        EXPECT_EQ(collected(), "Busy");
    }
    EXPECT_EQ(read(path("scstatus_snr")), "old data");
    EXPECT_FALSE(exists(path("snr")));
    EXPECT_TRUE(exists(path("snr.mut"))) << "another request's lock is not ours to remove";
    EXPECT_EQ(segment_reads(), 0u);
}

TEST_F(SegmentStatus, LockThatCannotBeCreatedIsAnError)
{
    silent();
    vdsl_memdump_dir = "/nonexistent-dir";
    EXPECT_EQ(run("show scstatussegment 1 snr"), CLI_DONE);
    EXPECT_EQ(collected(), "mutfile File I/O Error");
    EXPECT_EQ(run("show scstatussegment 1 snr size"), CLI_DONE);
    EXPECT_EQ(collected(), "File I/O Error");
}

class Delt : public SegmentStatus {
protected:
    void SetUp() override
    {
        SegmentStatus::SetUp();
        auto serve = dev.handler;
        dev.handler = [this, serve](unsigned long number, unsigned char *b, std::size_t size) {
            const std::string oid = reinterpret_cast<const char *>(b + 1);
            if (number == VDSL_GET_MIB && oid == "0.1.6") {
                state_reads++;
                if (!states.empty()) {
                    dev.values["0.1.6"] = states.front();
                    if (states.size() > 1)
                        states.pop_front();
                }
            }
            if (number == VDSL_SET_DATA_LOGIC && oid == "0.1.5")
                flags.push_back(reinterpret_cast<const char *>(b + 2 + oid.size()));
            // Clearing the reason starts an attempt: the chip walks its states anew.
            if (number == VDSL_SET_DATA_LOGIC && oid == "0.1.6")
                states = attempt;
            return serve(number, b, size);
        };
        SleepRecorder::waits().clear();
    }
    // The states that the reads of one attempt see; the last one stays.
    std::deque<std::string> attempt, states;
    std::vector<std::string> flags;
    int state_reads = 0;
};

TEST_F(Delt, DoneShowsTheFreshResults)
{
    attempt = {"000000", "000003", "000000", "000002"};
    EXPECT_EQ(run("show delt 1"), CLI_DONE);
    std::string out = take();
    EXPECT_THAT(out, StartsWith("DELT for port 1, waiting for progress...\n"
                                "DELT for port 1, started, may take a few minutes...\n"
                                "DELT done\n"
                                "SCStatusSegmentLog of Line 1:\n"));
    EXPECT_THAT(out, HasSubstr("SCStatusSegmentQln of Line 1:"));
    EXPECT_THAT(out, HasSubstr("SCStatusSegmentSnr of Line 1:"));
    EXPECT_FALSE(dev.values.count("2.1.124")) << "the diagnostic's segments are read as they are";
    EXPECT_EQ(dev.values["2.1.116"], "009c40");
    EXPECT_EQ(flags, std::vector<std::string>{"1"});
    EXPECT_EQ(SleepRecorder::waits(), (std::vector<unsigned long>{1000000, 1000000, 5000000, 1000000}));
    EXPECT_EQ(dev.numbers().back(), VDSL_CONNECT_PORT) << "the line is retrained";
}

TEST_F(Delt, ThreeFailuresThenRetrain)
{
    attempt = {"000003", "000007"};
    EXPECT_EQ(run("show delt 1"), CLI_DONE);
    std::string out = take();
    size_t failed = 0;
    for (size_t at = out.find("DELT failed"); at != std::string::npos; at = out.find("DELT failed", at + 1))
        failed++;
    EXPECT_EQ(failed, 3u);
    EXPECT_EQ(flags, (std::vector<std::string>{"1", "1", "1"})) << "the flag is not written back";
    EXPECT_EQ(dev.numbers().back(), VDSL_CONNECT_PORT);
}

TEST_F(Delt, ThreeHandshakeTimeoutsWriteTheFlagBack)
{
    attempt = {"000000"};
    EXPECT_EQ(run("show delt 1"), CLI_DONE);
    std::string out = take();
    std::string attempt = "DELT for port 1, waiting for progress...\nDELT handshake timeout\n";
    EXPECT_EQ(out, attempt + attempt + attempt);
    EXPECT_EQ(state_reads, 3 * 27);
    EXPECT_EQ(flags, (std::vector<std::string>{"1", "1", "1", "0"}));
    // Each attempt: a second after the disconnect, 26 between 27 reads; then the retrain's.
    EXPECT_EQ(SleepRecorder::waits().size(), 3u * 27 + 1);
    EXPECT_EQ(dev.numbers().back(), VDSL_CONNECT_PORT);
}

TEST_F(Delt, TimeoutAfterSixtyTwoReads)
{
    attempt = {"000003", "000001"};
    EXPECT_EQ(run("show delt 1"), CLI_DONE);
    EXPECT_THAT(take(), HasSubstr("DELT timeout\n"));
    EXPECT_EQ(state_reads, 3 * (1 + 62));
    EXPECT_EQ(flags.back(), "1") << "only a handshake timeout writes the flag back";
}

TEST_F(Delt, FailedStepsEndWithTheirMessage)
{
    struct Case {
        const char *oid;
        const char *message;
    } cases[] = {{"2.1.116", "set delt count down failed\n"},
                 {"0.1.5", "set delt flag failed\n"},
                 {"0.1.6", "clean reason failed\n"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.oid);
        dev.failures.clear();
        dev.failures[c.oid] = 100;
        EXPECT_EQ(run("show delt 1"), CLI_FAILED);
        EXPECT_EQ(take(), c.message);
    }
}

TEST_F(Delt, ArgumentsPortAndState)
{
    EXPECT_EQ(run("show delt"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage: cmd <portid>\n");
    EXPECT_EQ(run("show delt 2"), CLI_FAILED);
    EXPECT_EQ(take(), "Invalid portid=1\n\nError Code = -5\n");
    dev.state = VDSL_STATE_IDLE;
    EXPECT_EQ(run("interface xdsl show delt 1"), CLI_FAILED);
    EXPECT_EQ(take(), "Port 1 not ShowTime\n");
    EXPECT_TRUE(flags.empty()) << "nothing is written";
}

}  // namespace
