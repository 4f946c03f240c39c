#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "agent.h"
#include "fw_test/matchers.h"
#include "fw_test/memory_file.h"
#include "fw_test/temp_dir.h"
#include "process.h"

using fw_test::HasSubstr;
using fw_test::StartsWith;

namespace {

const std::string kKey(64, 'a');
const std::string kCid = "0123abcd-0000-4000-8000-00000000beef";

struct Parsed {
    int status;
    std::string out, err;
    agent_options o;
};

Parsed parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "/usr/sbin/cloudagent");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    fw_test::MemoryFile out, err;
    Parsed r;
    r.status = options_parse(static_cast<int>(args.size()), argv.data(), &r.o, out.get(), err.get());
    r.out = out.text();
    r.err = err.text();
    return r;
}

struct OptionsTest : ::testing::Test {
    void SetUp() override
    {
        std::snprintf(g_agent.name, sizeof g_agent.name, "%s", AGENT_DEFAULT_NAME);
        g_agent.type = AGENT_TYPE_ROUTER;
        g_agent.cid[0] = '\0';
    }
};

TEST_F(OptionsTest, Table)
{
    struct Case {
        std::vector<std::string> args;
        int status;       // -1: goes on
        const char *out;  // start of standard output
        const char *err;  // start of standard error
    } cases[] = {
        {{}, 0, "Usage: cloudagent: [OPTION]... <ADDRESS>\n", ""},
        {{"-h"}, 0, "Usage: cloudagent: [OPTION]... <ADDRESS>\n", ""},
        {{"-f", "10.0.0.1"}, -1, "", ""},
        {{"-f"}, 1, "", "Usage: cloudagent: "},
        {{"-f", "10.0.0.1", "10.0.0.2"}, 1, "", "Usage: cloudagent: "},
        {{"-x", "10.0.0.1"}, 1, "", "Usage: cloudagent: "},
        {{"-c"}, 1, "", "Usage: cloudagent: "},
        {{"10.0.0.300"}, 1, "", "Invalid address.\n"},
        {{"-c", "not-a-cid", "10.0.0.1"}, 1, "", "Invalid CID.\n"},
        {{"-c", "0123abcd00000-4000-8000-00000000beef", "10.0.0.1"}, 1, "", "Invalid CID.\n"},
        {{"-c", kCid, "10.0.0.1"}, -1, "", ""},
        {{"-k", std::string(63, 'a'), "10.0.0.1"}, 1, "", "Too short key.\n"},
        {{"-k", std::string(65, 'a'), "10.0.0.1"}, 1, "", "Too short key.\n"},
        {{"-k", std::string(64, 'g'), "10.0.0.1"}, 1, "", "Invalid key.\n"},
        {{"-k", kKey, "10.0.0.1"}, -1, "", ""},
        {{"-t", "ap", "10.0.0.1"}, -1, "", ""},
        {{"-t", "", "10.0.0.1"}, 1, "", "Unknown mode.\n"},
        {{"-t", "switch", "10.0.0.1"}, 1, "", "Unknown mode.\n"},
        {{"-C", "/nonexistent/cloud.json", "10.0.0.1"}, 1, "", "ConfigurationRead: "},
    };
    for (const Case &c : cases) {
        std::string line;
        for (auto &a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        Parsed r = parse(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_THAT(r.out, StartsWith(c.out));
        EXPECT_THAT(r.err, StartsWith(c.err));
        if (!*c.out) {
            EXPECT_EQ(r.out, "");
        }
        if (!*c.err) {
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST_F(OptionsTest, UsageNamesTheDefaults)
{
    Parsed r = parse({"-h"});
    EXPECT_THAT(r.out, HasSubstr("-n <name> - set name (default is \"" AGENT_DEFAULT_NAME "\")"));
    EXPECT_THAT(r.out, HasSubstr("-t <type> - set type (default is \"router\")"));
    EXPECT_THAT(r.out, HasSubstr("$ cloudagent -fd -n Orvale 192.168.1.1\n"));
}

TEST_F(OptionsTest, ValuesReachTheState)
{
    Parsed r = parse({"-f", "-l", "-c", kCid, "-t", "ap", "-n", std::string(60, 'N'), "-k",
                      "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "192.168.1.1"});
    ASSERT_EQ(r.status, -1);
    EXPECT_TRUE(r.o.foreground);
    EXPECT_TRUE(r.o.console);
    EXPECT_TRUE(r.o.has_cid);
    EXPECT_STREQ(g_agent.cid, kCid.c_str());
    EXPECT_EQ(g_agent.type, AGENT_TYPE_AP);
    EXPECT_EQ(std::string(g_agent.name), std::string(49, 'N'));
    ASSERT_TRUE(r.o.has_key);
    EXPECT_EQ(r.o.key[0], 0);
    EXPECT_EQ(r.o.key[31], 0x1f);
    EXPECT_EQ(r.o.address, htonl(0xc0a80101));
}

TEST_F(OptionsTest, ConfigurationIsReadAtOnce)
{
    fw_test::TempDir dir;
    std::ofstream(dir.file("c.json")) << "{\"http_port\": 8080}";
    Parsed r = parse({"-C", dir.file("c.json"), "10.0.0.1"});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(agent_http_port(), 8080);
    std::ofstream(dir.file("c.json")) << "{}";
    EXPECT_EQ(ConfigurationRead(dir.file("c.json").c_str()), 0);
}

}  // namespace
