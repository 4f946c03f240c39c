// lldpsend's options.
#include "options.h"

#include <gtest/gtest.h>

#include "fw_test/log_capture.h"

#include <cstring>

using namespace lldp;

namespace {

struct Parsed {
    bool ok;
    SendSettings s;
    std::vector<std::string> log;
};

Parsed parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "lldpsend");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    Parsed p;
    fw_test::LogCapture log;
    p.ok = parse_send_options(static_cast<int>(args.size()), argv.data(), &p.s);
    for (const fw_test::LogLine &e : log.entries())
        p.log.push_back(std::to_string(e.level) + " " + e.line);
    return p;
}

TEST(SendOptions, AllSettings)
{
    Parsed p = parse({"-u", "lldp", "-S", "private",     "-m",  "client", "-M", "02:aa:bb:cc:dd:ee",
                      "-I", "eth1", "-p", "uplink",      "-x",  "-7",     "-n", "gw",
                      "-D", "desc", "-A", "192.168.1.1", "-P",  "8080",   "-b", "-w",
                      "-V", "4.1",  "-d", "-c",          "cid", "-C",     "ctl"});
    ASSERT_TRUE(p.ok);
    const Announcement &a = p.s.announce;
    EXPECT_EQ(p.s.user, "lldp");
    EXPECT_TRUE(p.s.debug);
    EXPECT_TRUE(a.private_scope);
    EXPECT_EQ(a.mode, "client");
    EXPECT_EQ(a.chassis.bytes[1], 0xaa);
    EXPECT_EQ(a.port_id, "eth1");
    EXPECT_EQ(a.port_description, "uplink");
    EXPECT_EQ(a.ifindex, -7);
    EXPECT_EQ(a.system_name, "gw");
    EXPECT_EQ(a.system_description, "desc");
    ASSERT_TRUE(a.has_address);
    EXPECT_EQ(std::memcmp(a.address, "\xC0\xA8\x01\x01", 4), 0);
    EXPECT_EQ(a.http_port, 8080);
    EXPECT_TRUE(a.bridge && a.wlan_ap);
    EXPECT_EQ(a.firmware, "4.1");
    EXPECT_EQ(a.client_id, "cid");
    EXPECT_EQ(a.controller_client_id, "ctl");
}

TEST(SendOptions, Defaults)
{
    Parsed p = parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.s.user, "nobody");
    EXPECT_FALSE(p.s.announce.private_scope);
    EXPECT_EQ(p.s.announce.mode, "router");
    EXPECT_FALSE(p.s.announce.has_address);
    EXPECT_FALSE(parse({"-S", "Private"}).s.announce.private_scope) << "only \"private\" is private";
}

TEST(SendOptions, Refusals)
{
    struct Case {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"-M", "02:aa:bb:cc:dd"}, "2 invalid mac value: \"02:aa:bb:cc:dd\""},
        {{"-x", "3x"}, "2 invalid interface_idx value: \"3x\""},
        {{"-x", "4294967296"}, "2 invalid interface_idx value: \"4294967296\""},
        {{"-P", "65536"}, "2 invalid port value: \"65536\""},
        {{"-A", "192.168.1"}, "2 invalid IPv4 address value: \"192.168.1\""},
        {{"-A", "::1"}, "2 invalid IPv4 address value: \"::1\""},
        {{"-z"}, "2 unknown option \"z\""},
    };
    for (const Case &c : cases) {
        Parsed p = parse(c.args);
        EXPECT_FALSE(p.ok) << c.line;
        EXPECT_EQ(p.log, std::vector<std::string>{c.line});
    }
}

}  // namespace
