#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "fw_test/matchers.h"
#include "fw_test/temp_dir.h"
#include "zmo.h"

using fw_test::HasSubstr;
using fw_test::Not;

namespace {
struct Feedback : ::testing::Test {
    fw_test::TempDir tmp{"zmo-feedback"};
    std::string dir = tmp.path();

    std::string script(const std::string &name, const std::string &body)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
        return path;
    }
    std::string read(const std::string &name)
    {
        std::ifstream in(dir + "/" + name);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(Feedback, ScriptGetsArgvStdinAndEnvironment)
{
    std::string s = script("fb", "echo \"$0\" \"$@\" > \"$OUT/argv\"\ncat > \"$OUT/stdin\"\n"
                                 "env | grep -E '^(PPPOE|INJECTED|HOME)' | sort > \"$OUT/env\"\n");
    setenv("OUT", dir.c_str(), 1);
    setenv("PPPOE_INTERFACE", "stale", 1);  // a key of the text replaces the inherited one
    const char *words[] = {s.c_str(), "lldp", nullptr};
    ASSERT_TRUE(zmo_feedback(5000, 0, words, "PPPOE_INTERFACE=%s\nPPPOE_AC%lu_NAME=%s\n", "eth0", 0UL,
                             "evil\nINJECTED=1\r\x7f"));
    unsetenv("PPPOE_INTERFACE");
    EXPECT_EQ(read("argv"), s + " lldp\n");
    EXPECT_EQ(read("stdin"), "PPPOE_INTERFACE=eth0\nPPPOE_AC0_NAME=evil_INJECTED=1__\n");
    std::string env = read("env");
    EXPECT_THAT(env, HasSubstr("PPPOE_AC0_NAME=evil_INJECTED=1__\n")) << env;
    EXPECT_THAT(env, HasSubstr("PPPOE_INTERFACE=eth0\n")) << env;
    EXPECT_THAT(env, Not(HasSubstr("INJECTED=1\n"))) << env;
    EXPECT_THAT(env, Not(HasSubstr("stale"))) << env;
}

TEST_F(Feedback, WholeTextKeepsItsLinesButNotControlBytesInValues)
{
    std::string s = script("fb", "env | grep '^K' | sort > \"$OUT/env\"\n");
    setenv("OUT", dir.c_str(), 1);
    const char *words[] = {s.c_str(), nullptr};
    ASSERT_TRUE(zmo_feedback(5000, 0, words, "%s", "K1=a\nK2=b\tc\n9BAD=x\nnot a line\n=empty\nK3=\n"));
    EXPECT_EQ(read("env"), "K1=a\nK2=b_c\nK3=\n");
}

// Lines of the text become variables, but none that the loader or the shell
// act on: those stay as inherited and the script still reads them on stdin.
TEST_F(Feedback, TextCannotSetVariablesThatSteerTheScript)
{
    std::string s =
        script("fb", "echo \"${LD_PRELOAD-unset}|${BASH_ENV-unset}|${ENV-unset}|$K\" > \"$OUT/env\"\n"
                     "cat > \"$OUT/stdin\"\n");
    setenv("OUT", dir.c_str(), 1);
    const char *words[] = {s.c_str(), nullptr};
    const char *lines[] = {"PATH=/nonexistent",
                           "LD_PRELOAD=/nonexistent/x.so",
                           "LD_LIBRARY_PATH=/nonexistent",
                           "IFS=/",
                           "BASH_ENV=/nonexistent/rc",
                           "ENV=/nonexistent/rc",
                           "K=kept"};
    std::string text;
    for (const char *l : lines)
        text += std::string(l) + "\n";
    ASSERT_TRUE(zmo_feedback(5000, 0, words, "%s", text.c_str()));
    EXPECT_EQ(read("env"), "unset|unset|unset|kept\n");
    EXPECT_EQ(read("stdin"), text);
}

TEST_F(Feedback, ScriptInheritsNoDescriptorOfTheCaller)
{
    std::string s = script("fb", "ls /proc/$$/fd > \"$OUT/fds\"\n");
    setenv("OUT", dir.c_str(), 1);
    // A descriptor without close-on-exec, as a daemon's socket may be.
    int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dup2(fd, 77), 77);
    close(fd);
    const char *words[] = {s.c_str(), nullptr};
    bool ok = zmo_feedback(5000, 0, words, "A=%d\n", 1);
    close(77);
    ASSERT_TRUE(ok);
    std::string fds = read("fds");
    EXPECT_FALSE(fds.empty());
    EXPECT_THAT("\n" + fds, Not(HasSubstr("\n77\n"))) << fds;
}

TEST_F(Feedback, TimeOutKillsTheScriptAndWhatItStarted)
{
    std::string s = script("slow", "sleep 30 &\necho $! > \"$OUT/child\"\nwait\n");
    setenv("OUT", dir.c_str(), 1);
    const char *words[] = {s.c_str(), nullptr};
    auto start = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_FALSE(zmo_feedback(300, 0, words, "A=%d\n", 1));
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    pid_t child = std::stoi(read("child"));
    // The grandchild was killed with the group: gone or a zombie awaiting its reaper.
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string pid, comm, state;
        if (!(stat >> pid >> comm >> state) || state == "Z")
            return;
        usleep(10000);
    }
    kill(child, SIGKILL);
    FAIL() << "the script's child survived the time-out";
}

TEST_F(Feedback, NonZeroExitFails)
{
    std::string s = script("fail", "cat >/dev/null\nexit 3\n");
    const char *words[] = {s.c_str(), nullptr};
    errno = 0;
    EXPECT_FALSE(zmo_feedback(5000, 0, words, "A=1\n"));
    EXPECT_EQ(errno, EIO);
}

TEST_F(Feedback, ScriptThatIgnoresALargeInputStillSucceeds)
{
    std::string s = script("deaf", "exit 0\n");
    const char *words[] = {s.c_str(), nullptr};
    std::string big(1 << 20, 'x');
    EXPECT_TRUE(zmo_feedback(5000, 0, words, "%s", big.c_str()));
}

TEST_F(Feedback, ValueTooLongForTheEnvironmentStaysOnStdinOnly)
{
    std::string s = script("fb", "echo \"${#BIG}/${SMALL}\" > \"$OUT/env\"\nwc -c > \"$OUT/size\"\n");
    setenv("OUT", dir.c_str(), 1);
    const char *words[] = {s.c_str(), nullptr};
    std::string big(256 * 1024, 'x');
    ASSERT_TRUE(zmo_feedback(5000, 0, words, "BIG=%s\nSMALL=%s\n", big.c_str(), "ok"));
    EXPECT_EQ(read("env"), "0/ok\n");
    EXPECT_EQ(std::stoul(read("size")), big.size() + 14);
}

TEST_F(Feedback, PlainFileIsReplacedThroughRename)
{
    std::string path = dir + "/vessik.fb";
    std::ofstream(path) << "old content that is longer";
    const char *words[] = {path.c_str(), "lldp", nullptr};
    ASSERT_TRUE(zmo_feedback(15000, 0, words, "%s=%s\n%s=%u", "mac", "00:11:22:33:44:55", "ip", 7u));
    EXPECT_EQ(read("vessik.fb"), "mac=00:11:22:33:44:55\nip=7");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // Nothing but the file itself is left in the folder.
    DIR *d = opendir(dir.c_str());
    int entries = 0;
    while (struct dirent *e = readdir(d))
        entries += e->d_name[0] != '.';
    closedir(d);
    EXPECT_EQ(entries, 1);
}

TEST_F(Feedback, RefusesBadCalls)
{
    std::string path = dir + "/f";
    const char *words[] = {path.c_str(), nullptr};
    const char *empty[] = {nullptr};
    errno = 0;
    EXPECT_FALSE(zmo_feedback(1000, 0, empty, "x"));
    EXPECT_EQ(errno, EINVAL);
    int n = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    EXPECT_FALSE(zmo_feedback(1000, 0, words, "%n", &n));
#pragma GCC diagnostic pop
    EXPECT_EQ(errno, EINVAL);
    const char *missing[] = {"/nonexistent-dir/x/y", nullptr};
    EXPECT_FALSE(zmo_feedback(1000, 0, missing, "x"));
}

TEST_F(Feedback, FormatsEveryConversionLikePrintf)
{
    std::string path = dir + "/f";
    const char *words[] = {path.c_str(), nullptr};
    ASSERT_TRUE(zmo_feedback(1000, 0, words, "%5d|%-3s|%.2f|%x|%c|%lld|%zu|%*d|%.*s|%%|%hhu", -42, "ab",
                             3.14159, 255u, 'z', -1234567890123LL, static_cast<size_t>(9), 4, 7, 2, "abcdef",
                             static_cast<unsigned char>(200)));
    char expected[200];
    snprintf(expected, sizeof expected, "%5d|%-3s|%.2f|%x|%c|%lld|%zu|%*d|%.*s|%%|%hhu", -42, "ab", 3.14159,
             255u, 'z', -1234567890123LL, static_cast<size_t>(9), 4, 7, 2, "abcdef",
             static_cast<unsigned char>(200));
    EXPECT_EQ(read("f"), expected);
}
}  // namespace
