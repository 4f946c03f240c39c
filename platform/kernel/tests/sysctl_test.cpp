// The integer handlers through a process's reads and writes.
#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int value, pair_values[2], lo = -5, hi = 5;
struct ctl_table table[] = {
    {"knob", &value, sizeof(int), 0644, nullptr, proc_dointvec_minmax, nullptr, &lo, &hi},
    {"pair", pair_values, sizeof pair_values, 0644, nullptr, proc_dointvec, nullptr, nullptr, nullptr},
    {"ro", &value, sizeof(int), 0444, nullptr, proc_dointvec, nullptr, nullptr, nullptr},
    {}};
const struct ctl_path path[] = {{"test"}, {"dir"}, {}};

class Sysctl : public ::testing::Test {
protected:
    void SetUp() override
    {
        value = 0;
        pair_values[0] = pair_values[1] = 0;
        header_ = register_sysctl_paths(path, table);
        ASSERT_NE(header_, nullptr);
    }
    void TearDown() override { unregister_sysctl_table(header_); }
    static long write(const char *file, const std::string &text)
    {
        long long pos = 0;
        return kstandin_sysctl_write(file, text.data(), text.size(), &pos);
    }
    static std::string read(const char *file, size_t len = 64)
    {
        std::string buf(len, '\0');
        long long pos = 0;
        long n = kstandin_sysctl_read(file, &buf[0], len, &pos);
        return n < 0 ? "error" : buf.substr(0, static_cast<size_t>(n));
    }
    struct ctl_table_header *header_ = nullptr;
};

TEST_F(Sysctl, WritesAreCheckedAgainstTheRange)
{
    struct Case {
        const char *text;
        long result;
        int after;
    } cases[] = {
        {"3", 1, 3},
        {"-5\n", 3, -5},
        {"  4  \n", 6, 4},
        {"0x2", 3, 2},
        {"6", -EINVAL, 2},
        {"-6", -EINVAL, 2},
        {"", 0, 2},
        {" ", -EINVAL, 2},
        {"a", -EINVAL, 2},
        {"3a", -EINVAL, 2},
        {"2147483648", -EINVAL, 2},
        {"1 2", 2, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(write("test/dir/knob", c.text), c.result);
        EXPECT_EQ(value, c.after);
    }
}

TEST_F(Sysctl, ReadsFromTheStartOnlyAndCutToTheBuffer)
{
    value = -42;
    EXPECT_EQ(read("test/dir/knob"), "-42\n");
    EXPECT_EQ(read("test/dir/knob", 2), "-4");
    char buf[8];
    long long pos = 1;
    EXPECT_EQ(kstandin_sysctl_read("test/dir/knob", buf, sizeof buf, &pos), 0);
    pair_values[0] = 7;
    pair_values[1] = -1;
    EXPECT_EQ(read("test/dir/pair"), "7\t-1\n");
    EXPECT_EQ(write("test/dir/pair", "1 2\n"), 4);
    EXPECT_EQ(read("test/dir/pair"), "1\t2\n");
}

TEST_F(Sysctl, UnknownReadOnlyAndDuplicateNames)
{
    EXPECT_EQ(write("test/dir/none", "1"), -ENOENT);
    EXPECT_EQ(write("test/dir/ro", "1"), -EACCES);
    EXPECT_EQ(read("test/dir/ro"), "0\n");
    EXPECT_EQ(register_sysctl_paths(path, table), nullptr);
    EXPECT_TRUE(kstandin_sysctl_exists("test/dir/knob"));
    EXPECT_FALSE(kstandin_sysctl_exists("test/knob"));
}

TEST_F(Sysctl, HandlerCopiesThroughUserMemoryOnly)
{
    // A buffer outside the caller's memory faults instead of being read.
    size_t len = 1;
    loff_t pos = 0;
    EXPECT_EQ(proc_dointvec_minmax(&table[0], 1, (void *)(KSTANDIN_USER_BASE + 4096), &len, &pos), -EFAULT);
}

}  // namespace
