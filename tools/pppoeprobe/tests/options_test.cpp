// The probe's options and their checks.
#include "options.h"

#include <gtest/gtest.h>

#include "fw_test/memory_file.h"

#include <vector>

using namespace pppoe;

namespace {

struct Outcome {
    int status;
    std::string out, err;
    Settings settings;
};

Outcome run(std::vector<std::string> args)
{
    args.insert(args.begin(), "pppoeprobe");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    fw_test::MemoryFile out, err;
    Outcome r;
    r.status = parse_options(static_cast<int>(args.size()), argv.data(), "pppoeprobe", &r.settings, out.get(),
                             err.get());
    r.out = out.text();
    r.err = err.text();
    return r;
}

TEST(Options, Refusals)
{
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-w", "0", "-I", "eth0"}, "A wait time value should be between 1 and 10 sec.\n"},
        {{"-w", "11", "-I", "eth0"}, "A wait time value should be between 1 and 10 sec.\n"},
        {{"-w", "5", "-r", "6", "-I", "eth0"}, "A request period is too short (833 ms. < 1 sec.).\n"},
        {{"-r", "0", "-I", "eth0"}, "A request count value should be at least 1.\n"},
        {{"-w", "x"}, "Invalid wait time value: \"x\".\n"},
        {{"-w", "-1"}, "Invalid wait time value: \"-1\".\n"},
        {{"-r", "2x"}, "Invalid request count value: \"2x\".\n"},
        {{"-w"}, "A wait time value required for a '-w' option.\n"},
        {{"-r"}, "A request count value required for a '-r' option.\n"},
        {{"-I"}, "An interface name required for a '-I' option.\n"},
        {{"-f"}, "A script name required for a '-f' option.\n"},
        {{"-q"}, "Unknown option 'q'.\n"},
        {{"-I", "eth0", "one", "two"}, "Too many arguments.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Options, NoArgumentsPrintsTheUsage)
{
    Outcome r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: pppoeprobe\n"
                     "\t[-w wait-time]   wait time for offer packets (in seconds),\n"
                     "\t[-r retry-count] a request count until wait-time exceeds,\n"
                     "\t[-I iface-name]  an Ethernet interface name to use,\n"
                     "\t[-f script]      feedback script\n");
}

TEST(Options, Accepted)
{
    Outcome r = run({"-w", "3", "-r", "3", "-I", "eth1", "-f", "/bin/true", "ignored"});
    EXPECT_EQ(r.status, -1) << r.err;
    EXPECT_EQ(r.settings.wait_s, 3u);
    EXPECT_EQ(r.settings.requests, 3u);
    EXPECT_EQ(r.settings.period_ms(), 1000u);
    EXPECT_EQ(r.settings.ifname, "eth1");
    EXPECT_EQ(r.settings.script, "/bin/true");
    Outcome d = run({"-I", "eth1"});
    EXPECT_EQ(d.status, -1);
    EXPECT_EQ(d.settings.wait_s, 5u);
    EXPECT_EQ(d.settings.requests, 2u);
    EXPECT_EQ(d.settings.period_ms(), 2500u);
    EXPECT_EQ(run({"-w", "10", "-r", "10"}).status, -1) << "the interface is checked later";
}

}  // namespace
