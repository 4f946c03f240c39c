// Timers, socket slots and the command line of the event loop.
#include "fw_test/log_capture.h"
#include "server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

using fw_test::LogCapture;

std::vector<uint64_t> g_ran;

void record(dnsr::Server &, uint64_t arg) { g_ran.push_back(arg); }
void readd_zero(dnsr::Server &s, uint64_t arg)
{
    g_ran.push_back(arg);
    s.timers.add(0, readd_zero, arg + 1);
}

struct EventLoop : ::testing::Test {
    dnsr::Server server{dnsr::Options{}};
    void SetUp() override { g_ran.clear(); }
};

TEST_F(EventLoop, ImmediateTimersRunNewestFirstAndOnlyOncePerRound)
{
    server.timers.add(0, record, 1);
    server.timers.add(0, record, 2);
    server.timers.add(0, readd_zero, 10);
    EXPECT_EQ(0, server.timers.poll_timeout());
    server.timers.run_immediate(server);
    EXPECT_EQ((std::vector<uint64_t>{10, 2, 1}), g_ran);
    // The timer that re-added itself waits for the next round.
    EXPECT_EQ(1u, server.timers.pending());
    EXPECT_EQ(0, server.timers.poll_timeout());
    server.timers.run_immediate(server);
    EXPECT_EQ((std::vector<uint64_t>{10, 2, 1, 11}), g_ran);
}

TEST_F(EventLoop, DueTimersRunAndTheWaitShrinks)
{
    EXPECT_EQ(10000, server.timers.poll_timeout());
    server.timers.add(30, record, 1);
    server.timers.add(5000, record, 2);
    EXPECT_EQ(30, server.timers.poll_timeout());
    server.timers.run_due(server);
    EXPECT_TRUE(g_ran.empty());
    EXPECT_LE(server.timers.poll_timeout(), 30);
    usleep(40 * 1000);
    server.timers.run_due(server);
    EXPECT_EQ((std::vector<uint64_t>{1}), g_ran);
    EXPECT_GT(server.timers.poll_timeout(), 4000);
    EXPECT_LE(server.timers.poll_timeout(), 5000);
    EXPECT_EQ(1u, server.timers.pending());
}

TEST_F(EventLoop, TimersComeFromTheAccountedAllocator)
{
    server.timers.add(100, record, 1);
    EXPECT_GT(server.acc.in_use(), 0u);
    server.acc.set_limit(uint32_t(server.acc.in_use()));
    LogCapture log;
    server.timers.add(100, record, 2);
    EXPECT_EQ((std::vector<std::string>{"can't allocate a timer: out of memory"}), log.lines());
    EXPECT_EQ(1u, server.timers.pending());
}

std::vector<int> g_read, g_written;
void on_read(dnsr::Server &s, int index)
{
    char buf[16];
    (void)!read(s.slots.at(index).fd, buf, sizeof buf);
    g_read.push_back(index);
}
void on_write_then_close(dnsr::Server &s, int index)
{
    g_written.push_back(index);
    s.slots.close(index);
}
void close_next(dnsr::Server &s, int index)
{
    g_read.push_back(index);
    s.slots.close(index + 1);
}

TEST_F(EventLoop, DescriptorZeroIsPolledLikeAnyOther)
{
    int saved = dup(0);
    int p[2];
    ASSERT_EQ(0, pipe(p));
    ASSERT_EQ(0, dup2(p[0], 0));
    close(p[0]);
    g_read.clear();
    server.slots.set_fd(0, 0);
    server.slots.set_handlers(0, on_read, nullptr);
    ASSERT_EQ(1, write(p[1], "x", 1));
    EXPECT_EQ(1, server.slots.poll_and_dispatch(server, 1000, nullptr));
    EXPECT_EQ((std::vector<int>{0}), g_read);
    server.slots.close(0);  // closes our pipe's end on descriptor 0
    dup2(saved, 0);
    close(saved);
    close(p[1]);
}

TEST_F(EventLoop, HandlersMayCloseSlotsAndSlotsAreReused)
{
    g_read.clear();
    g_written.clear();
    int a[2], b[2];
    ASSERT_EQ(0, pipe(a));
    ASSERT_EQ(0, pipe(b));
    int first = server.slots.take_connection_slot();
    int second = server.slots.take_connection_slot();
    EXPECT_EQ(dnsr::kFirstConnectionSlot, first);
    EXPECT_EQ(first + 1, second);
    server.slots.set_fd(first, a[0]);
    server.slots.set_handlers(first, close_next, nullptr);
    server.slots.set_fd(second, b[0]);
    server.slots.set_handlers(second, on_read, nullptr);
    ASSERT_EQ(1, write(a[1], "x", 1));
    ASSERT_EQ(1, write(b[1], "x", 1));
    server.slots.poll_and_dispatch(server, 1000, nullptr);
    EXPECT_EQ((std::vector<int>{first}), g_read);            // the second was closed before its turn
    server.slots.close(second);                              // closing twice frees it once
    EXPECT_EQ(second, server.slots.take_connection_slot());  // freed index first
    EXPECT_NE(second, server.slots.take_connection_slot());
    int w = server.slots.take_connection_slot();
    server.slots.set_fd(w, a[1]);
    server.slots.set_handlers(w, nullptr, on_write_then_close);
    server.slots.poll_and_dispatch(server, 1000, nullptr);
    EXPECT_EQ((std::vector<int>{w}), g_written);
    EXPECT_EQ(-1, server.slots.at(w).fd);
    server.slots.close(first);
    close(b[1]);

    LogCapture log;
    EXPECT_FALSE(server.slots.set_handlers(256, on_read, nullptr));
    EXPECT_EQ((std::vector<std::string>{"socket descriptor index out of bound"}), log.lines());
}

TEST_F(EventLoop, ConnectionSlotsRunOut)
{
    LogCapture log;
    int n = 0;
    while (server.slots.take_connection_slot() >= 0)
        n++;
    EXPECT_EQ(256 - dnsr::kFirstConnectionSlot, n);
    EXPECT_EQ((std::vector<std::string>{"out of socket file descriptors"}), log.lines());
}

TEST(Options, UsageWithoutMainFileAndVerbosity)
{
    struct Case {
        std::vector<const char *> args;
        const char *verbose;  // DNSRELAYD_DEBUG_VERBOSE, nullptr unset
        bool ok;
        bool debug;
        int verbosity;
    } cases[] = {
        {{"dnsrelayd"}, nullptr, false, false, 0},
        {{"dnsrelayd", "-d", "-s", "safe"}, nullptr, false, true, 0},
        {{"dnsrelayd", "-c", "main", "-s", "safe", "-p", "pid", "-d"}, "2", true, true, 2},
        {{"dnsrelayd", "-x", "-c", "main"}, "1yes", true, false, 1},
        {{"dnsrelayd", "-c", "main"}, "3", true, false, 0},
    };
    for (auto &c : cases) {
        if (c.verbose)
            setenv("DNSRELAYD_DEBUG_VERBOSE", c.verbose, 1);
        else
            unsetenv("DNSRELAYD_DEBUG_VERBOSE");
        std::vector<char *> argv;
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        dnsr::Options o;
        testing::internal::CaptureStderr();
        bool ok = dnsr::parse_options(int(c.args.size()), argv.data(), o);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.ok, ok);
        EXPECT_EQ(c.debug, o.debug);
        EXPECT_EQ(c.verbosity, o.verbosity);
        if (!ok) {
            EXPECT_EQ("dnsrelayd 1.3.0b22\nUsage: dnsrelayd -c main_config -s safe_config [-d]\n"
                      "\t -c main_config     - main configuration file,\n"
                      "\t -s safe_config     - safety configuration file,\n"
                      "\t -d                 - debug mode (optional).\n",
                      err);
        } else {
            EXPECT_STREQ("main", o.main_file);
            EXPECT_TRUE(err.empty());
        }
    }
    unsetenv("DNSRELAYD_DEBUG_VERBOSE");
}

TEST(Options, RandomSeedDiffersBetweenRuns)
{
    dnsr::Mt19937 a, b;
    ASSERT_TRUE(dnsr::seed_random(a));
    ASSERT_TRUE(dnsr::seed_random(b));
    EXPECT_NE(a.next(), b.next());
}

}  // namespace
