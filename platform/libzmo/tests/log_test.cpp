#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fw_test/log_capture.h"
#include "zmo.h"

namespace {
struct Log : ::testing::Test {
    std::unique_ptr<fw_test::LogCapture> capture;
    void SetUp() override
    {
        ASSERT_TRUE(zmo_log_init("tester", nullptr, 0, 0));
        capture = std::make_unique<fw_test::LogCapture>();
    }
    void TearDown() override { capture.reset(); }
    const std::vector<fw_test::LogLine> &lines() const { return capture->entries(); }
};

TEST_F(Log, LevelsAndFormatting)
{
    zmo_log(ZMO_LOG_INFO, "%s %d started", "dnsrelayd", 1);
    zmo_log(ZMO_LOG_ERROR, "can not bind to IPv4 address, aborted");
    zmo_log(ZMO_LOG_SPOOLER, "%s: %s", "-", "job");
    ASSERT_EQ(lines().size(), 3u);
    EXPECT_EQ(lines()[0].level, ZMO_LOG_INFO);
    EXPECT_EQ(lines()[0].line, "dnsrelayd 1 started");
    EXPECT_EQ(lines()[0].ident, "tester");
    EXPECT_EQ(lines()[1].level, ZMO_LOG_ERROR);
    EXPECT_EQ(lines()[2].line, "-: job");
}

TEST_F(Log, DebugLinesFollowTheVerbosity)
{
    const struct {
        int level, verbosity;
        bool shown;
    } cases[] = {{0, 1, false}, {1, 1, true}, {1, 2, false}, {2, 2, true},
                 {3, 1, true},  {2, 0, true}, {0, 0, false}};
    for (const auto &c : cases) {
        capture->clear();
        zmo_log_set_debug(c.level);
        EXPECT_EQ(zmo_log_get_debug(), c.level);
        zmo_log_debug(c.verbosity, "v%d", c.verbosity);
        EXPECT_EQ(lines().size(), c.shown ? 1u : 0u) << "level " << c.level << " verbosity " << c.verbosity;
        if (c.shown) {
            EXPECT_EQ(lines()[0].level, ZMO_LOG_DEBUG);
        }
    }
}

TEST_F(Log, IdentFromArgvAndTag)
{
    char prog[] = "/usr/sbin/lldpsend";
    char *argv[] = {prog, nullptr};
    EXPECT_STREQ(zmo_log_get_ident(argv), "lldpsend");
    char *none[] = {nullptr};
    EXPECT_STREQ(zmo_log_get_ident(none), "zmo");
    ASSERT_TRUE(zmo_log_init(zmo_log_get_ident(argv), "eth0", 0, 0));
    zmo_log(ZMO_LOG_WARNING, "x");
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0].ident, "lldpsend[eth0]");
    EXPECT_FALSE(zmo_log_init("", nullptr, 0, 0));
}

TEST_F(Log, LongLinesAreCutNotOverrun)
{
    std::string big(10000, 'x');
    zmo_log(ZMO_LOG_ERROR, "%s", big.c_str());
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_GT(lines()[0].line.size(), 1023u);
    EXPECT_LT(lines()[0].line.size(), big.size());
}
}  // namespace
