// "util dumpsoc": the sections in order in the dump file, memory dumps when
// the chip reports an overflow, standard output back on every path, and
// the interoperability words of the dump.
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "output_sink.h"
#include "shell_fixture.h"
#include "sleep_recorder.h"
#include "soc_dump.h"
#include "vdsl.h"
#include "vdsl_request.h"

namespace {

using shelltest::SleepRecorder;
using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;

// Standard output of the test process into a file while the shell runs
// with no capture, as the real program writes.
class Terminal {
public:
    explicit Terminal(const std::string &path) : path_(path)
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        close(fd);
        sink_ = cli::set_output_sink(nullptr);
    }
    ~Terminal() { restore(); }
    // True when standard output is still the terminal file.
    bool still_ours() const
    {
        struct stat a, b;
        return fstat(STDOUT_FILENO, &a) == 0 && stat(path_.c_str(), &b) == 0 && a.st_ino == b.st_ino &&
               a.st_dev == b.st_dev;
    }
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
        cli::set_output_sink(sink_);
    }

private:
    std::string path_;
    int saved_ = -1;
    cli::OutputSink sink_ = nullptr;
};

class SocDump : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        SleepRecorder::waits().clear();
        vdsl_memdump_dir = dir_.c_str();
        for (unsigned a = 0; a < 2048; a++)
            dev.words[0x4c00 + a] = 0x100000 + a;
        // The error buffer overflows once, at the third reading.
        dev.handler = [this](unsigned long number, unsigned char *b, std::size_t size) {
            const std::string oid = reinterpret_cast<const char *>(b + 1);
            if (number == VDSL_GET_MIB && oid == "2.1.133")
                dev.values[oid] = ++overflow_reads == 3 ? "000002" : "000000";
            return fakedev::builtin_answer(number, b, size);
        };
    }
    void TearDown() override
    {
        vdsl_memdump_dir = "/tmp";
        ShellTest::TearDown();
    }
    std::string read(const std::string &path) const
    {
        std::FILE *f = std::fopen(path.c_str(), "r");
        if (!f)
            return "<missing>";
        std::string text;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            text.append(buf, n);
        std::fclose(f);
        return text;
    }
    // Runs the dump with standard output on a terminal file; its result.
    int dump(const std::string &line, std::string *terminal, bool *restored)
    {
        int rc;
        {
            Terminal t(dir_ + "/terminal");
            rc = run(line);
            *restored = t.still_ours();
        }
        *terminal = read(dir_ + "/terminal");
        return rc;
    }
    static size_t count(const std::string &text, const std::string &what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }

    fakedev::Device &dev = fakedev::device();
    SleepRecorder sleeps;
    int overflow_reads = 0;
};

TEST_F(SocDump, SectionsInOrder)
{
    std::string terminal;
    bool restored = false;
    EXPECT_EQ(dump("util dumpsoc 1", &terminal, &restored), 0);
    EXPECT_TRUE(restored) << "standard output is the terminal's again";
    EXPECT_EQ(terminal, "dumpsoc...\nplease wait for a while...\n\nDump soc successfully.\n");

    const std::string text = read(dir_ + "/dumpsoc.txt");
    const char *sections[] = {"#1 dump tables for config\n",
                              "#1-1 disconnect vdsl :\n",
                              "\n#1-2 dump tables for config :\n",
                              "Additional Mibs :\n",
                              "\nFailureReason :\n",
                              "\n#2 check ModemErrBuf\n",
                              "#2-1 clear ModemErrBuf :\n",
                              "\n#2-2 connect vdsl :\n",
                              "\n#2-3 check ModemErrBuff 60 times, once per second\n\n",
                              "\n#3 dump soc :\n",
                              "\n#3-1 disconnect vdsl :\n",
                              "\n#3-2 set CfgDisableRecovery = 0000fd...\n",
                              "\n#3-3 connect vdsl :\n",
                              "\n#3-4 dump loop, 90 second\n\n",
                              "\n#3-5 dump soc, need ~15 sec\n",
                              "004c00,100000\n",
                              "004fff,1003ff\n",
                              "\n#3-6 clean CfgDisableRecovery as 000000\n",
                              "\nset CfgDisableRecovery = 000000\n",
                              "\n#4 print information\n\n",
                              "\nxdslGhsOtVendorId(MIB2 value):\n",
                              "xdsl2LInvVersionNumber0 : 000000\n",
                              "xdsl2LineStatusActProfile : 0\n",
                              "\nfirmware version :\n",
                              "xDSLFirmwareVersion=000000\n",
                              "\n#5 print showtime information\n\n",
                              "#5-1 wait for showtime\n",
                              "\n#5-2 print scstatus\n",
                              "Hlog :\n",
                              "QLN :\n",
                              "SNR :\n",
                              "Bitsalloc :\n",
                              "Gainalloc :\n",
                              "Status :\n",
                              "\n#5-3 G.inp config and status :\n",
                              "wait for 30 sec to check again\n",
                              "\n#5-2 print scstatus\n"};
    size_t at = 0;
    for (const char *s : sections) {
        size_t next = text.find(s, at);
        ASSERT_NE(next, std::string::npos) << "no \"" << s << "\" after byte " << at;
        at = next + 1;
    }
    EXPECT_EQ(count(text, "ModemErrOvrflow : "), 90u) << "one a pass of the dump loop";
    EXPECT_EQ(count(text, "ModemErrBuf : 000000\n"), 60u + 90u) << "the error-buffer and the showtime passes";
    EXPECT_EQ(dev.values["2.1.140"], "000000") << "recovery is back on";

    const std::string mem = read(dir_ + "/dumpsoc.mem.1.txt");
    EXPECT_EQ(count(mem, "\n"), 2048u);
    EXPECT_EQ(mem.substr(0, 14), "100000\n100001\n");
    // A pass, a sleep: nothing slept for real.
    EXPECT_GE(std::count(SleepRecorder::waits().begin(), SleepRecorder::waits().end(), 1000000ul),
              60 + 90 + 90 + 30);
}

TEST_F(SocDump, DisabledPortPassesOnlyShowTheModemStatus)
{
    dev.state = VDSL_STATE_DISABLE;
    std::string terminal;
    bool restored = false;
    EXPECT_EQ(dump("util dumpsoc 1", &terminal, &restored), 100) << "the showtime wait's last pass";
    EXPECT_TRUE(restored);
    const std::string text = read(dir_ + "/dumpsoc.txt");
    EXPECT_EQ(count(text, "ModemErrBuf : "), 0u);
    EXPECT_EQ(count(text, "ModemErrOvrflow"), 0u);
    EXPECT_EQ(count(text, "ModemStatus : 000000\n\n"), 60u + 90u + 90u);
    EXPECT_THAT(text, HasSubstr("\n#4 print information\n\n\nfirmware version :\n"));
}

TEST_F(SocDump, MemoryFilesNumberOnInOneProcess)
{
    dev.state = VDSL_STATE_SHOWTIME;
    dev.handler = nullptr;  // in showtime every pass of the loop dumps
    std::string terminal;
    bool restored = false;
    // Files of earlier runs in this process keep their numbers.
    struct stat st;
    int before = 0;
    while (stat((dir_ + "/dumpsoc.mem." + std::to_string(before + 1) + ".txt").c_str(), &st) == 0)
        before++;
    dump("util dumpsoc 1", &terminal, &restored);
    const std::string text = read(dir_ + "/dumpsoc.txt");
    EXPECT_EQ(count(text, "#3-5 dump soc"), 90u);
    EXPECT_EQ(count(text, "#5-1 wait for showtime\nModemStatus : 000000\n\n#5-2"), 1u)
        << "showtime ends the wait at once";
    int files = 0;
    for (int n = 1; n <= 200; n++)
        if (stat((dir_ + "/dumpsoc.mem." + std::to_string(n) + ".txt").c_str(), &st) == 0)
            files++;
    EXPECT_EQ(files, before + 90);
}

TEST_F(SocDump, DumpFileThatCannotBeOpenedLeavesOutputAlone)
{
    vdsl_memdump_dir = "/nonexistent-dir";
    std::string terminal;
    bool restored = false;
    EXPECT_EQ(dump("util dumpsoc 1", &terminal, &restored), 1);
    EXPECT_TRUE(restored);
    EXPECT_EQ(terminal, "dumpsoc...\nplease wait for a while...\nfopen failed\n");
    EXPECT_TRUE(dev.requests.empty()) << "nothing of the dump ran";
}

TEST_F(SocDump, ArgumentsAndPort)
{
    EXPECT_EQ(run("util dumpsoc"), CLI_DONE);
    EXPECT_EQ(take(), "Usage:cmd <portid>\n");
    EXPECT_EQ(run("util dumpsoc 2"), CLI_FAILED);
    EXPECT_EQ(take(), "Invalid portid=1\n\nError Code = -5\n");
}

TEST_F(SocDump, AdditionalMibsInTheirOrder)
{
    dev.values["2.1.439"] = "00002a";
    show_iop_additional_mibs(0);
    std::string out = take();
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(out.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 49u);
    EXPECT_EQ(lines[0], "Additional Mibs :");
    EXPECT_EQ(lines[1], "SV_MIB_xdslCfgIopFixSorv0                 |000000");
    EXPECT_EQ(lines[39], "SV_MIB_xdslIopStatus3                     |000000");
    EXPECT_EQ(lines[40], "SV_MIB_xdslCfgIopFixTopLvlCtrl0           |000000");
    EXPECT_EQ(lines[44], "SV_MIB_xdslSecondCnt                      |00002a");
    EXPECT_EQ(lines[48], "SV_MIB_xdslCfgIopFixTopLvlMaxDsRate       |000000");
}

}  // namespace
