// The access layer against the stand-in program.
#include "fw_test/matchers.h"
#include "cfgmgr_access.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cfgmgr_program.h"
#include "shell_fixture.h"

using fw_test::HasSubstr;

namespace {

using shelltest::take;

class CfgmgrAccessTest : public shelltest::ShellTest {};

TEST_F(CfgmgrAccessTest, WriteReadRemove)
{
    char buf[256];
    EXPECT_EQ(cfgmgr_read("CLI_HOSTNAME", buf, sizeof buf), CFGMGR_READ_ABSENT);
    EXPECT_EQ(cfgmgr_write("CLI_HOSTNAME", " router"), 0);
    ASSERT_EQ(cfgmgr_read("CLI_HOSTNAME", buf, sizeof buf), CFGMGR_READ_OK);
    EXPECT_STREQ(buf, " router\n");
    EXPECT_STREQ(cfgmgr_value_trim(buf), " router") << "leading blank kept";
    EXPECT_EQ(cfgmgr_remove("CLI_HOSTNAME"), 0);
    EXPECT_EQ(cfgmgr_read("CLI_HOSTNAME", buf, sizeof buf), CFGMGR_READ_ABSENT);
}

TEST_F(CfgmgrAccessTest, EmptyValueReadsAsANewline)
{
    char buf[64];
    EXPECT_EQ(cfgmgr_write("V_POWEROFF_P1", ""), 0);
    ASSERT_EQ(cfgmgr_read("V_POWEROFF_P1", buf, sizeof buf), CFGMGR_READ_OK);
    EXPECT_STREQ(cfgmgr_value_trim(buf), "\n");
}

TEST_F(CfgmgrAccessTest, ShellMetacharactersArriveAsOneArgument)
{
    const char *value = "a;touch "
                        "/tmp/druvel_injected $(id) `id` | x & y > z";
    EXPECT_EQ(cfgmgr_write("PROFILE_NAME", value), 0);
    EXPECT_EQ(argv_log(), std::string("\"-w\" \"PROFILE_NAME=") + value + "\"\n");
    char buf[256];
    ASSERT_EQ(cfgmgr_read("PROFILE_NAME", buf, sizeof buf), CFGMGR_READ_OK);
    EXPECT_EQ(std::string(buf), std::string(value) + "\n");
    struct stat st;
    EXPECT_NE(stat("/tmp/druvel_injected", &st), 0);
}

TEST_F(CfgmgrAccessTest, BadKeysAndValuesNeverReachTheProgram)
{
    char buf[64];
    for (const char *key : {"a;touch x", "", "A B", "K=V", "x,y", "../k"}) {
        EXPECT_EQ(cfgmgr_read(key, buf, sizeof buf), CFGMGR_READ_FAILED) << key;
        EXPECT_EQ(cfgmgr_write(key, "v"), -1) << key;
        EXPECT_EQ(cfgmgr_remove(key), -1) << key;
    }
    EXPECT_EQ(cfgmgr_write("K", "two\nlines"), -1);
    EXPECT_EQ(argv_log(), "");
    EXPECT_THAT(take(), HasSubstr("refused"));
}

TEST_F(CfgmgrAccessTest, LongLinesAreReportedNotCut)
{
    store("BIG", std::string(300, 'v'));
    char buf[256];
    EXPECT_EQ(cfgmgr_read("BIG", buf, sizeof buf), CFGMGR_READ_TOO_LONG);
    EXPECT_STREQ(buf, "");
    char big[4096];
    EXPECT_EQ(cfgmgr_read("BIG", big, sizeof big), CFGMGR_READ_OK);
    EXPECT_EQ(std::strlen(big), 301u);
}

TEST_F(CfgmgrAccessTest, ValueThatFillsTheBufferPassesOneMoreIsRefused)
{
    char buf[256];
    store("FULL", std::string(255, 'f'));
    EXPECT_EQ(cfgmgr_read("FULL", buf, sizeof buf), CFGMGR_READ_OK);
    EXPECT_EQ(std::string(buf), std::string(255, 'f'));
    store("OVER", std::string(256, 'o'));
    EXPECT_EQ(cfgmgr_read("OVER", buf, sizeof buf), CFGMGR_READ_TOO_LONG);
    EXPECT_STREQ(buf, "");
    // A shorter value keeps its newline: an empty value still reads as one.
    store("EMPTY", "");
    EXPECT_EQ(cfgmgr_read("EMPTY", buf, sizeof buf), CFGMGR_READ_OK);
    EXPECT_STREQ(buf, "\n");
}

TEST_F(CfgmgrAccessTest, SeveralKeysComeBackInOrder)
{
    store("VdslLineProfiles3", "p3@1");
    store("VdslLineProfiles7", "p7@2");
    const char *keys[] = {"VdslLineProfiles7", "VdslLineProfiles5", "VdslLineProfiles3"};
    std::vector<std::string> lines;
    int n = cfgmgr_read_many(
        keys, 3, 4095,
        [](void *ctx, size_t index, const char *line) {
            auto *v = static_cast<std::vector<std::string> *>(ctx);
            v->resize(index + 1);
            (*v)[index] = line;
        },
        &lines);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(lines, (std::vector<std::string>{"p7@2", "", "p3@1"}));
}

TEST_F(CfgmgrAccessTest, MissingProgramIsAFailedRead)
{
    static std::string missing;
    missing = dir_ + "/nothing-here";
    cli::set_cfgmgr_program(missing.c_str());
    char buf[64];
    EXPECT_EQ(cfgmgr_read("K", buf, sizeof buf), CFGMGR_READ_FAILED);
    EXPECT_NE(cfgmgr_write("K", "v"), 0);
}

// Where posix_spawn forks, a program that can't be started is only a child
// that exits 127: that is no answer, not an absent key.
TEST_F(CfgmgrAccessTest, ChildThatCouldNotStartTheProgramIsAFailedRead)
{
    static std::string failed;
    failed = dir_ + "/exec-failed";
    FILE *f = std::fopen(failed.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("#!/bin/sh\necho partial\nexit 127\n", f);
    std::fclose(f);
    ASSERT_EQ(chmod(failed.c_str(), 0755), 0);
    cli::set_cfgmgr_program(failed.c_str());
    char buf[64];
    EXPECT_EQ(cfgmgr_read("K", buf, sizeof buf), CFGMGR_READ_FAILED);
    const char *keys[] = {"A", "B"};
    EXPECT_EQ(cfgmgr_read_many(
                  keys, 2, 64, [](void *, size_t, const char *) {}, nullptr),
              -1);
    EXPECT_EQ(cfgmgr_write("K", "v"), -1);
    EXPECT_EQ(cfgmgr_remove("K"), -1);
}

TEST(CfgmgrValueTrim, Cases)
{
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"value\n", "value"}, {"  lead\n", "  lead"}, {"\n", "\n"},
        {"  \n", "  \n"},     {"v??\n", "v"},         {"a b \t\n", "a b"},
    };
    for (const auto &c : cases) {
        char buf[64];
        std::strcpy(buf, c.in);
        EXPECT_STREQ(cfgmgr_value_trim(buf), c.out) << c.in;
    }
}

}  // namespace
