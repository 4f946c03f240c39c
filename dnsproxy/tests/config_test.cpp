// The configuration language: good and bad lines with what they log, the
// profiles of the safety file, and the static records.
#include "config.h"
#include "fw_test/log_capture.h"
#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>
#include <fstream>

namespace {

using fw_test::LogCapture;

using dnsr::Config;

std::unique_ptr<Config> parse(const std::string &text)
{
    auto cfg = std::make_unique<Config>(false);
    dnsr::config_read_text(*cfg, text, "t.conf");
    dnsr::config_finish(*cfg);
    return cfg;
}

std::string addr_text(const zmo_ip_sockaddr_t &sa)
{
    char buf[ZMO_IP_ADDRSTRLEN];
    return std::string(zmo_ip_sockaddr_ntop(&sa, buf, sizeof buf)) + "#" +
           std::to_string(zmo_ip_sockaddr_port(&sa));
}

// The servers of a domain's list, newest first; "-" when the domain has none.
std::string servers_for(const Config &cfg, const char *domain)
{
    std::string key;
    dnsr::domain_key(domain, key);
    auto m = cfg.domains.lookup(key);
    if (!m.value)
        return "-";
    std::string out;
    for (uint16_t i : *m.value)
        out += (out.empty() ? "" : " ") + addr_text(cfg.pool[i]);
    return out;
}

TEST(ConfigScalars, GoodAndBadLines)
{
    struct Case {
        std::string line;
        std::function<bool(const dnsr::Settings &)> check;
        std::string message;  // what is logged, "" for nothing
    } cases[] = {
        {"timeout = 2500", [](auto &s) { return s.timeout == 2500; }, ""},
        {"timeout:2500", [](auto &s) { return s.timeout == 2500; }, ""},
        {"  timeout\t=\t2500  ", [](auto &s) { return s.timeout == 2500; }, ""},
        {"timeout 2500", [](auto &s) { return s.timeout == 3000; },
         "t.conf:1: timeout needs \"=\" or \":\" before its value, line skipped"},
        {"timeout = -5", [](auto &s) { return s.timeout == 3000; },
         "t.conf:1: bad time value \"-5\" for timeout, line skipped"},
        {"timeout = 12abc", [](auto &s) { return s.timeout == 3000; },
         "t.conf:1: bad time value \"12abc\" for timeout, line skipped"},
        {"timeout = 99999999999999999999", [](auto &s) { return s.timeout == 3000; },
         "t.conf:1: bad time value \"99999999999999999999\" for timeout, line skipped"},
        {"timeout = 1 2", [](auto &s) { return s.timeout == 3000; },
         "t.conf:1: timeout takes one value, line skipped"},
        {"proceed = 5", [](auto &s) { return s.proceed == 10; }, ""},
        {"proceed = 700", [](auto &s) { return s.proceed == 700; }, ""},
        {"bantime = 1", [](auto &s) { return s.bantime == 1; }, ""},
        {"ban_threshold = 7", [](auto &s) { return s.ban_threshold == 7; }, ""},
        {"max_ttl = 60000", [](auto &s) { return s.max_ttl == 60000; }, ""},
        {"static_ttl = 30", [](auto &s) { return s.static_ttl == 30; }, ""},
        {"max_mem = 2M", [](auto &s) { return s.max_mem == 2u * 1024 * 1024; }, ""},
        {"max_mem = 64K", [](auto &s) { return s.max_mem == 64u * 1024; }, ""},
        {"max_mem = 5000M", [](auto &s) { return s.max_mem == 0; },
         "t.conf:1: bad size \"5000M\" for max_mem, line skipped"},
        {"max_cache = 512", [](auto &s) { return s.max_cache == 512; }, ""},
        {"rpc_port = 5300", [](auto &s) { return s.rpc_port == 5300; }, ""},
        {"rpc_port = 70000", [](auto &s) { return s.rpc_port == 0; },
         "t.conf:1: bad port \"70000\" for rpc_port, line skipped"},
        {"rpc_ttl = 1000", [](auto &s) { return s.rpc_ttl == 1000; }, ""},
        {"rpc_wait = 50", [](auto &s) { return s.rpc_wait == 50; }, ""},
        {"debug = on", [](auto &s) { return s.debug; }, ""},
        {"debug = yes", [](auto &s) { return !s.debug; },
         "t.conf:1: bad boolean \"yes\" for debug, line skipped"},
        {"dns_udp_port = 5353", [](auto &s) { return s.dns_udp_port == 5353 && s.dns_tcp_port == 53; }, ""},
        {"dns_tcp_port = 0", [](auto &s) { return s.dns_tcp_port == 0; }, ""},
        {"rpc_only = true", [](auto &s) { return s.rpc_only && s.dns_udp_port == 0 && s.dns_tcp_port == 0; },
         ""},
        {"stat_file = /tmp/stats", [](auto &s) { return s.stat_file == "/tmp/stats"; }, ""},
        {"status_file: /tmp/s2", [](auto &s) { return s.stat_file == "/tmp/s2"; }, ""},
        {"stat_time = 0", [](auto &s) { return s.stat_time == 1; }, ""},
        {"rank_reset_time = 0", [](auto &s) { return s.rank_reset_time == 1; }, ""},
        {"rrs_reset_time = 0", [](auto &s) { return s.rrs_reset_time == 1; }, ""},
        {"rpc_ttl = 0", [](auto &s) { return s.rpc_ttl == 1; }, ""},
        {"# timeout = 1", [](auto &s) { return s.timeout == 3000; }, ""},
        {"", [](auto &s) { return s.timeout == 3000; }, ""},
        {"timeouts = 1", [](auto &s) { return s.timeout == 3000; },
         "t.conf:1: unknown keyword \"timeouts\", line skipped"},
        {"Timeout = 1", [](auto &s) { return s.timeout == 3000; },
         "t.conf:1: unknown keyword \"Timeout\", line skipped"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.line);
        LogCapture log;
        auto cfg = parse(c.line);
        EXPECT_TRUE(c.check(cfg->settings));
        EXPECT_EQ(c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message},
                  log.lines());
    }
}

TEST(ConfigScalars, DefaultsAndRpcOnlyOff)
{
    auto cfg = parse("rpc_only = true\nrpc_only = false\ndns_udp_port = 0\n");
    const auto &s = cfg->settings;
    EXPECT_EQ(53, s.dns_tcp_port);  // false gives 53 back to the ports that were 0
    EXPECT_EQ(0, s.dns_udp_port);   // a later line still wins
    auto d = parse("");
    EXPECT_EQ(3000, d->settings.timeout);
    EXPECT_EQ(500, d->settings.proceed);
    EXPECT_EQ(5000, d->settings.stat_time);
    EXPECT_EQ(3600000, d->settings.max_ttl);
    EXPECT_EQ(600, d->settings.static_ttl);
    EXPECT_EQ(8192u, d->settings.max_cache);
    EXPECT_EQ(300, d->settings.rpc_wait);
    EXPECT_EQ(30000, d->settings.rpc_ttl);
    EXPECT_TRUE(d->settings.stat_file.empty());
}

TEST(ConfigServers, DomainListsNewestFirstAndDefaults)
{
    LogCapture log;
    auto cfg = parse("dns_server = 192.0.2.1 corp.example\n"
                     "dns_server = 192.0.2.2:5353 Corp.Example.\n"
                     "dns_server = 2001:db8::1 \n"
                     "dns_server = [2001:db8::2]:54\n"
                     "dns_server = 2001:db8::3:99 v6.test\n"
                     "dns_server = 192.0.2.9 .\n");
    EXPECT_EQ((std::vector<std::string>{}), log.lines());
    EXPECT_EQ("192.0.2.2#5353 192.0.2.1#53", servers_for(*cfg, "www.corp.example"));
    EXPECT_EQ("192.0.2.9#53 2001:db8::2#54 2001:db8::1#53", servers_for(*cfg, "evilcorp.example"));
    EXPECT_EQ("2001:db8::3:99#53", servers_for(*cfg, "v6.test"));
    EXPECT_EQ(6u, dnsr::config_servers(*cfg).size());
}

TEST(ConfigServers, BadServerLines)
{
    struct Case {
        const char *line;
        std::string message;
    } cases[] = {
        {"dns_server = 192.0.2.300 x", "t.conf:1: bad server address \"192.0.2.300\", line skipped"},
        {"dns_server = 192.0.2.1:0 x", "t.conf:1: bad server address \"192.0.2.1:0\", line skipped"},
        {"dns_server = 192.0.2.1:65536 x", "t.conf:1: bad server address \"192.0.2.1:65536\", line skipped"},
        {"dns_server = [2001:db8::1 x", "t.conf:1: bad server address \"[2001:db8::1\", line skipped"},
        {"dns_server =", "t.conf:1: dns_server takes ADDR[:PORT] and a domain, line skipped"},
        {"dns_server = 192.0.2.1 a b", "t.conf:1: dns_server takes ADDR[:PORT] and a domain, line skipped"},
        {"set_port = 192.0.2.1 x", "t.conf:1: bad port \"x\", line skipped"},
        {"set_port = 192.0.2.1 0", ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.line);
        LogCapture log;
        auto cfg = parse(c.line);
        EXPECT_TRUE(cfg->pool.empty());
        EXPECT_EQ(c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message},
                  log.lines());
    }
    LogCapture log;
    auto cfg = parse("dns_server = 192.0.2.1 " + std::string(255, 'a') + "\n");
    EXPECT_EQ((std::vector<std::string>{"wrong domain size"}), log.lines());
    EXPECT_TRUE(cfg->pool.empty());
}

TEST(ConfigServers, The257thServerIsRefused)
{
    std::string text;
    for (int i = 0; i < 257; i++)
        text += "dns_server = 10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + " d" +
                std::to_string(i) + ".test\n";
    LogCapture log;
    auto cfg = parse(text + "profile-set-server 1 192.0.2.1:53\n");
    EXPECT_EQ(256u, cfg->pool.size());
    EXPECT_EQ((std::vector<std::string>{"DNS pool exhausted", "Can't add 192.0.2.1:53: DNS pool exhausted"}),
              log.lines());
    EXPECT_EQ("-", servers_for(*cfg, "d256.test"));
    EXPECT_EQ(0, cfg->profile_max);
}

TEST(ConfigServers, SetPortKeysOnTheAddress)
{
    auto cfg = parse("set_port = 192.0.2.1 5353\nset_port = 2001:db8::1 54\n");
    zmo_ip_sockaddr_t sa;
    ASSERT_TRUE(dnsr::parse_server_address("192.0.2.1:53", 53, sa));
    EXPECT_EQ(5353, *cfg->port_options.find(sa.u.storage));
    ASSERT_TRUE(dnsr::parse_server_address("2001:db8::1", 53, sa));
    EXPECT_EQ(54, *cfg->port_options.find(sa.u.storage));
}

// The lines the AdGuard DNS plug-in writes into the safety file.
const char kSafetyFile[] = "profile 1 safe-access\n"
                           "profile 2 safe-access\n"
                           "profile-set-server 1 94.140.14.14:53\n"
                           "profile-set-server 1 94.140.15.15:53\n"
                           "profile-set-server 2 94.140.14.15:5353\n"
                           "profile-set-server 2 94.140.15.16:5353\n"
                           "set-profile 00:11:22:33:44:55 2\n"
                           "set-profile AA:BB:CC:DD:EE:FF 0\n"
                           "set-profile mac_default 1\n";

TEST(ConfigProfiles, SafetyFileLines)
{
    LogCapture log;
    auto cfg = parse(kSafetyFile);
    EXPECT_EQ((std::vector<std::string>{}), log.lines());
    EXPECT_EQ(2, cfg->profile_max);
    EXPECT_EQ(1, cfg->mac_default);
    for (int n : {1, 2})
        EXPECT_EQ(uint32_t(dnsr::kProfileSafeAccess | dnsr::kProfileHasServers), cfg->profiles[n].flags) << n;
    ASSERT_EQ(2u, cfg->profiles[2].servers.size());
    EXPECT_EQ("94.140.15.16#5353", addr_text(cfg->pool[cfg->profiles[2].servers[0]]));
    EXPECT_EQ("94.140.14.15#5353", addr_text(cfg->pool[cfg->profiles[2].servers[1]]));
    dnsr::MacKey mac{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
    EXPECT_EQ(2, *cfg->groups.find(mac));
    dnsr::MacKey upper{{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}};
    EXPECT_EQ(0, *cfg->groups.find(upper));
    EXPECT_EQ(4u, dnsr::config_servers(*cfg).size());
    EXPECT_EQ(0, cfg->profiles[0].flags);
}

TEST(ConfigProfiles, DirectiveMessages)
{
    struct Case {
        std::string text;
        std::vector<std::string> messages;
        std::function<bool(const Config &)> check;
    } cases[] = {
        {"profile 5 safe-access\nprofile 3 direct-access\n",
         {"profile 3 is already defined"},
         // profile 5 keeps counting: a lower line does not hide it
         [](const Config &c) {
             return c.profile_max == 5 && c.profiles[5].flags == 1 && c.profiles[3].flags == 0;
         }},
        {"profile 256 safe-access",
         {"profile num exceeds maximum (255)"},
         [](const Config &c) { return c.profile_max == 0; }},
        {"profile 1 some-access",
         {"t.conf:1: \"some-access\" is neither safe-access nor direct-access, line skipped"},
         [](const Config &c) { return c.profile_max == 0; }},
        {"profile-set-access 300 direct-access",
         {"max. profiles num exhausted: 300"},
         [](const Config &) { return true; }},
        {"profile-set-server 256 192.0.2.1",
         {"max. profiles num exhausted: 256"},
         [](const Config &c) { return c.pool.empty(); }},
        {"profile-set-option 999 7",
         {"max. profiles num exhausted: 999"},
         [](const Config &) { return true; }},
        {"set-profile 00:11:22:33:44:55 256",
         {"Profile number is too large: 256"},
         [](const Config &c) { return c.groups.size() == 0; }},
        {"set-profile-ip 192.0.2.7 300",
         {"Profile number is too large: 300"},
         [](const Config &) { return true; }},
        {"set-profile 00:11:22:33:44 1",
         {"t.conf:1: bad MAC address \"00:11:22:33:44\", line skipped"},
         [](const Config &c) { return c.groups.size() == 0; }},
        {"set-profile-ip 192.0.2.7 4",
         {},
         [](const Config &c) {
             zmo_ip_sockaddr_t sa;
             dnsr::parse_server_address("192.0.2.7", 0, sa);
             const int *n = const_cast<Config &>(c).groups_ip.find(sa.u.storage);
             return n && *n == 4 && c.profile_max == 4;
         }},
        {"profile 1 safe-access\nprofile-set-access 1 direct-access\nprofile-set-option 1 0x10\n",
         {},
         [](const Config &c) { return c.profiles[1].flags == 5 && c.profiles[1].option == 16; }},
        {"safe_option mac_default 77\nsafe_server mac_default 192.0.2.5\n",
         {},
         [](const Config &c) {
             return c.profiles[0].option == 77 && c.profiles[0].flags == 7 &&
                    c.profiles[0].servers.size() == 1 && c.profile_max == 0;
         }},
        {"profile 3 direct-access\nsafe_server 02:00:00:00:00:01 192.0.2.5:54\nsafe_option 02:00:00:00:00:01 9\n",
         {},
         [](const Config &c) {
             dnsr::MacKey m{{2, 0, 0, 0, 0, 1}};
             const int *n = const_cast<Config &>(c).groups.find(m);
             return n && *n == 4 && c.profile_max == 4 && c.profiles[4].flags == 7 &&
                    c.profiles[4].option == 9;
         }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture log;
        auto cfg = parse(c.text);
        EXPECT_EQ(c.messages, log.lines());
        EXPECT_TRUE(c.check(*cfg));
    }
}

TEST(ConfigProfiles, NewProfilesForMacsStopAt255)
{
    LogCapture log;
    auto cfg = parse("profile 255 direct-access\nsafe_option 02:00:00:00:00:01 1\n");
    EXPECT_EQ((std::vector<std::string>{"Can't add new profile --- out of memory"}), log.lines());
    EXPECT_EQ(0u, cfg->groups.size());
}

struct StaticCase {
    const char *name;
    const char *v4;  // "-" when no record answers
};

void expect_statics(const Config &cfg, std::initializer_list<StaticCase> cases)
{
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        const dnsr::StaticRecord *r = dnsr::config_static_lookup(cfg, c.name);
        if (std::string(c.v4) == "-") {
            EXPECT_EQ(nullptr, r);
            continue;
        }
        ASSERT_NE(nullptr, r);
        ASSERT_TRUE(r->has_v4);
        char buf[INET_ADDRSTRLEN];
        EXPECT_STREQ(c.v4, inet_ntop(AF_INET, &r->v4, buf, sizeof buf));
    }
}

TEST(ConfigStatics, ExactWildcardAndExcluded)
{
    LogCapture log;
    auto cfg = parse("static_a = *.b.x 10.0.0.1\n"
                     "static_a = host.lan 10.0.0.2\n"
                     "static_a = *.x 10.0.0.3\n"
                     "static_aaaa = host.lan 2001:db8::2\n"
                     "static_a = HOST.lan 10.0.0.4\n"
                     "static_a = *.corp 10.0.0.5\n"
                     "exclude-static *.corp\n"
                     "exclude-static skip.b.x\n"
                     "static_a = bad.lan 300.1.1.1\n"
                     "static_aaaa = bad.lan 10.0.0.1\n");
    EXPECT_EQ((std::vector<std::string>{"t.conf:9: bad IPv4 address \"300.1.1.1\", line skipped",
                                        "t.conf:10: bad IPv6 address \"10.0.0.1\", line skipped"}),
              log.lines());
    expect_statics(*cfg, {
                             {"b.x", "10.0.0.1"},
                             {"a.b.x", "10.0.0.1"},
                             {"ab.x", "10.0.0.3"},  // *.b.x covers only names below b.x
                             {"host.lan", "10.0.0.4"},
                             {"www.host.lan", "-"},  // exact records answer only their own name
                             {"corp", "10.0.0.5"},   // "*." in exclude-static keeps the domain itself
                             {"a.corp", "-"},
                             {"skip.b.x", "-"},
                             {"a.skip.b.x", "-"},
                             {"noskip.b.x", "10.0.0.1"},
                             {"bad.lan", "-"},
                         });
    const dnsr::StaticRecord *r = dnsr::config_static_lookup(*cfg, "host.lan.");
    ASSERT_NE(nullptr, r);
    EXPECT_TRUE(r->has_v6);
    EXPECT_EQ(dnsr::kStaticExact, r->kind);
}

TEST(ConfigLoad, BuiltInLocalhostAndBothFiles)
{
    fw_test::TempDir tmp("dnsrcfg");
    const std::string dir = tmp.path();
    std::string main_file = dir + "/main.conf", safe_file = dir + "/safe.conf";
    std::ofstream(main_file) << "timeout = 1000\nstatic_a = localhost 127.0.0.9\ndns_server = 192.0.2.1\n";
    std::ofstream(safe_file) << kSafetyFile;
    {
        LogCapture log;
        auto cfg = dnsr::config_load(main_file.c_str(), safe_file.c_str(), true);
        ASSERT_NE(nullptr, cfg);
        EXPECT_TRUE(log.lines().empty());
        EXPECT_TRUE(cfg->settings.debug);
        EXPECT_EQ(1000, cfg->settings.timeout);
        EXPECT_EQ(2, cfg->profile_max);
        const dnsr::StaticRecord *lh = dnsr::config_static_lookup(*cfg, "localhost");
        ASSERT_NE(nullptr, lh);
        char buf[INET6_ADDRSTRLEN];
        EXPECT_STREQ("127.0.0.9", inet_ntop(AF_INET, &lh->v4, buf, sizeof buf));  // the file's line wins
        EXPECT_STREQ("::1", inet_ntop(AF_INET6, &lh->v6, buf, sizeof buf));       // the other family stays
        EXPECT_EQ(5u, dnsr::config_servers(*cfg).size());
    }
    {
        // A missing safety file is silent; a missing main file is not, and
        // the proxy runs on defaults.
        LogCapture log;
        auto cfg = dnsr::config_load((std::string(dir) + "/none.conf").c_str(),
                                     (std::string(dir) + "/nosafe").c_str(), false);
        ASSERT_NE(nullptr, cfg);
        EXPECT_EQ((std::vector<std::string>{"Can't open config file: " + std::string(dir) + "/none.conf"}),
                  log.lines());
        EXPECT_EQ(3000, cfg->settings.timeout);
    }
}

}  // namespace
