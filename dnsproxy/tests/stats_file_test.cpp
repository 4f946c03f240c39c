// The statistics file's exact text, and how it is written.
#include "fw_test/matchers.h"
#include "accounted_alloc.h"
#include "fw_test/log_capture.h"
#include "fw_test/temp_dir.h"
#include "stats_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using fw_test::HasSubstr;

namespace {

using fw_test::LogCapture;

zmo_ip_sockaddr_t addr(const char *text)
{
    zmo_ip_sockaddr_t sa{};
    sa.u.sa.sa_family = strchr(text, ':') ? AF_INET6 : AF_INET;
    zmo_ip_sockaddr_pton(text, &sa);
    return sa;
}

TEST(StatsFile, ExactTextAfterAReset)
{
    dnsr::UpstreamStats st({addr("192.0.2.1"), addr("2001:db8::53")});
    dnsr::ProcessCounters zero;
    EXPECT_EQ("# dnsrelayd statistics file\n"
              "\n"
              "Total incoming requests: 0\n"
              "Proxy requests sent:     0\n"
              "Cache hits ratio:        0.000 (0)\n"
              "Memory usage:            1.50K\n"
              "\n"
              "DNS Servers\n"
              "\n"
              "                      Ip  R.Sent  A.Rcvd  NX.Rcvd  Med.Resp  Avg.Resp  Rank  \n"
              "               192.0.2.1       0       0        0       0ms       0ms     1  \n"
              "            2001:db8::53       0       0        0       0ms       0ms     1  \n",
              dnsr::stats_text(zero, 1536, 0, st));
}

TEST(StatsFile, CountersRatioAndLimit)
{
    dnsr::UpstreamStats st({addr("192.0.2.1")});
    for (int i = 0; i < 3; i++)
        st.sent(addr("192.0.2.1"));
    st.answered(addr("192.0.2.1"), 0, 12);
    st.answered(addr("192.0.2.1"), 3, 30);
    dnsr::ProcessCounters c{8, 3, 2};
    std::string text = dnsr::stats_text(c, 2048, 65536, st);
    EXPECT_THAT(text,
                HasSubstr("Total incoming requests: 8\nProxy requests sent:     3\n"
                          "Cache hits ratio:        0.250 (2)\nMemory usage:            2.00K of 64.00K\n"));
    EXPECT_THAT(text,
                HasSubstr("               192.0.2.1       3       1        1      30ms      21ms     1  \n"));
}

TEST(StatsFile, WrittenWholeThroughARename)
{
    fw_test::TempDir dir("dnsrstat");
    std::string path = dir.file("stats");
    std::ofstream(path) << "old text that is much longer than the new statistics file will ever be, "
                        << std::string(4000, 'x');
    struct stat before;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    dnsr::UpstreamStats st({});
    ASSERT_TRUE(dnsr::stats_write_file(path, {}, 0, 0, st));
    std::stringstream got;
    got << std::ifstream(path).rdbuf();
    EXPECT_EQ(dnsr::stats_text({}, 0, 0, st), got.str());
    struct stat after;
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file took the name
    unlink(path.c_str());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // no temporary file left behind

    LogCapture log;
    EXPECT_FALSE(dnsr::stats_write_file("/nonexistent-dir/stats", {}, 0, 0, st));
    EXPECT_EQ((std::vector<std::string>{
                  "unable to write stats to /nonexistent-dir/stats because of No such file or directory"}),
              log.lines());
}

TEST(AccountedAlloc, CountsAndRefusesPastTheLimit)
{
    dnsr::Accountant acc;
    void *a = acc.alloc(100);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(100 + dnsr::Accountant::kHeader, acc.in_use());
    acc.set_limit(uint32_t(acc.in_use() + 50));
    EXPECT_TRUE(acc.would_pass(50));
    EXPECT_EQ(nullptr, acc.alloc(50));
    void *b = acc.alloc(50 - dnsr::Accountant::kHeader);
    EXPECT_NE(nullptr, b);
    acc.free(a);
    acc.free(b);
    EXPECT_EQ(0u, acc.in_use());
    dnsr::HashTable<uint32_t, int, dnsr::U32KeyTraits> *t =
        new dnsr::HashTable<uint32_t, int, dnsr::U32KeyTraits>(8, acc.allocator());
    acc.set_limit(0);
    t->insert(1, 1);
    EXPECT_GT(acc.in_use(), 0u);
    delete t;
    EXPECT_EQ(0u, acc.in_use());
}

}  // namespace
