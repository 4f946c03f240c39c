// Single-ended line test: the status polls, the dumps, the parser run with
// its exact arguments and the results it leaves.
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "selt.h"
#include "shell_fixture.h"
#include "sleep_recorder.h"
#include "vdsl.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kStatus = "65535.65535.65535";

class Selt : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        shelltest::SleepRecorder::waits().clear();
        // Each read of the status entry takes the next answer; the last stays.
        fakedev::device().handler = [this](unsigned long number, unsigned char *b, std::size_t size) {
            if (number == VDSL_GET_MIB && kStatus == reinterpret_cast<const char *>(b + 1) &&
                !status_.empty()) {
                std::string text = status_.front();
                if (status_.size() > 1)
                    status_.pop_front();
                std::memset(b, 0, size);
                b[1] = static_cast<unsigned char>(text.size() / 6);
                std::memcpy(b + 2, text.c_str(), text.size() + 1);
                return 0;
            }
            return fakedev::builtin_answer(number, b, size);
        };
        for (const char *k :
             {"CALIBRATE_OPEN", "CALIBRATE_CLOSED", "SELT_DATA", "XFR_DATA", "SELTMIB_RAW", "SELT_LOG"})
            store(k, dir_ + "/" + k);
        // A parser in a path no shell could take as one word: it logs its
        // arguments one a line and writes the raw file.
        parser_ = write_file(
            "sel t;x",
            "#!/bin/sh\n{ echo \"$0\"; for a in \"$@\"; do echo \"$a\"; done; } > \"$(dirname \"$0\")/argv\"\n"
            "echo seltTestParaLoopLength=321 > \"$(dirname \"$0\")/SELTMIB_RAW\"\n");
        chmod(parser_.c_str(), 0755);
        store("SELT_PARSER", parser_);
        take();
    }
    std::string read(const std::string &path)
    {
        std::ifstream f(path);
        if (!f)
            return "<absent>";
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    std::string path(const char *key) { return dir_ + "/" + key; }

    std::deque<std::string> status_;
    std::string parser_;
    shelltest::SleepRecorder sleeps_;
};

TEST_F(Selt, TestDumpsThreeRangesAndRunsTheParserWithItsArguments)
{
    status_ = {"800000", "000010", "000002", "000000000020", "000000000001", "000030", "000001"};
    fakedev::device().words[static_cast<unsigned long>(VDSL_MEM_Y) << 24 | 0x30] = 0x123456;
    write_file("CALIBRATE_OPEN", "#X:0000\n");
    write_file("CALIBRATE_CLOSED", "#X:0000\n");
    write_file("SELT_DATA", "old\n");
    EXPECT_EQ(run("util selt selt-test 1 1"), 0);
    EXPECT_EQ(read(path("SELT_DATA")), "#X:0010\n000000\n000000\n#X:0020\n000000\n#Y:0030\n123456\n");
    EXPECT_EQ(read(dir_ + "/argv"), parser_ + "\n-o\n" + path("CALIBRATE_OPEN") + "\n-c\n" +
                                        path("CALIBRATE_CLOSED") + "\n-i\n" + path("SELT_DATA") + "\n-x\n" +
                                        path("XFR_DATA") + "\n-r\n" + path("SELTMIB_RAW") + "\n-l\n" +
                                        path("SELT_LOG") + "\n");
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("disconnect...\nMIB value has set.\nMIB value has set.\nset selt mode...\n"));
    EXPECT_THAT(out, HasSubstr("start address = 0x000020, length = 1\n"));
    EXPECT_THAT(out, HasSubstr("\ngenerate raw file end.\nset selt status = 0...\nMIB value has set.\n"));
    EXPECT_EQ(fakedev::device().values[kStatus], "0");
    EXPECT_EQ(fakedev::device().values["2.1.7"], "e");

    EXPECT_EQ(run("util selt show 1 seltTestParaLoopLength"), 0);
    EXPECT_THAT(take(), HasSubstr("Value = 321"));
}

TEST_F(Selt, TestWithoutTheClosedCalibrationRunsNoParser)
{
    status_ = {"800000", "000010", "000001", "000000000020", "000000000001", "000030", "000001"};
    write_file("CALIBRATE_OPEN", "#X:0000\n");
    EXPECT_EQ(run("util selt selt-test 1 0"), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("start generate raw file...\nerror: no calibrate.closed.txt file\n"));
    EXPECT_THAT(read(path("SELT_DATA")), HasSubstr("#Y:0030\n"));
    EXPECT_EQ(read(dir_ + "/argv"), "<absent>");
}

TEST_F(Selt, NotDoneAfterTenPolls)
{
    status_ = {"000000"};
    EXPECT_EQ(run("util selt calibrate 1 1"), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("check selt status...\nerror: selt status was not DONE\n"));
    // Two host commands, then nine waits between ten polls, a second each.
    EXPECT_EQ(shelltest::SleepRecorder::waits(), std::vector<unsigned long>(11, 1000000));
    EXPECT_EQ(fakedev::device().values["2.1.7"], "d");
}

TEST_F(Selt, CalibrateDumpsItsModesFile)
{
    status_ = {"800000", "000040", "000002"};
    EXPECT_EQ(run("util selt calibrate 1 2"), 0);
    EXPECT_EQ(read(path("CALIBRATE_CLOSED")), "#X:0040\n000000\n000000\n");
    EXPECT_EQ(read(path("CALIBRATE_OPEN")), "<absent>");
    status_ = {"800000", "000040", "000002"};
    EXPECT_EQ(run("util selt calibrate 1 3"), 0);
    EXPECT_EQ(read(path("CALIBRATE_OPEN")), "<absent>");
    EXPECT_EQ(run("util selt calibrate 1"), CLI_USAGE);
}

TEST_F(Selt, PathsOver63CharactersAreRefused)
{
    store("SELT_DATA", "/tmp/" + std::string(60, 'd'));
    status_ = {"800000"};
    EXPECT_EQ(run("util selt selt-test 1 0"), CLI_FAILED);
    EXPECT_THAT(take(), HasSubstr("error: SELT_DATA is longer than 63 characters."));
    EXPECT_EQ(run("util selt show 1 seltTestParaLoopLength"), CLI_FAILED);
    // An empty value keeps the default.
    store("SELT_DATA", "");
    EXPECT_EQ(selt_files_init(), 0);
    EXPECT_STREQ(selt_file(SELT_DATA), "/tmp/seltDate.txt");
}

TEST_F(Selt, ShowAnswers)
{
    write_file("SELTMIB_RAW", "seltTestParaLoopLength=1200\nseltTestParaUpShnCap=77\n");
    status_ = {"800018"};
    struct {
        const char *name;
        int rc;
        const char *want;
    } cases[] = {{"seltTestParaUpShnCap", 0, "Value = 77"},
                 {"seltTestParaLoopTermin", 100, "No seltTestParaLoopTermin value."},
                 {"seltTestParaQlnGroupSize", 0, "Value = 1\n\n"},
                 {"seltTestParaUerStatus", 0, "Value = 2\n\n"},
                 {"seltTestParaQlnStatus", 0, "Value = 1\n\n"},
                 {"somethingElse", 100, "No this MIB name.\n"}};
    for (const auto &c : cases) {
        EXPECT_EQ(run(std::string("util selt show 1 ") + c.name), c.rc) << c.name;
        EXPECT_THAT(take(), HasSubstr(c.want)) << c.name;
    }
    std::remove(path("SELTMIB_RAW").c_str());
    EXPECT_EQ(run("util selt show 1 seltTestParaUpShnCap"), CLI_FAILED);
    EXPECT_EQ(take(), "Fail to open raw file.\n");
}

}  // namespace
