#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "agent.h"
#include "fw_test/temp_dir.h"

namespace {

std::string md5_of(const std::string &s)
{
    zmo_md5_t ctx;
    zmo_md5_init(&ctx);
    zmo_md5_update(&ctx, s.data(), s.size());
    char out[33];
    return zmo_md5_text_digest(&ctx, out);
}

TEST(ConfigurationRead, Table)
{
    struct Case {
        const char *json;
        unsigned port;
        int debug;
        bool stats, system, event;
        std::string digest_of;  // empty: no digest
    } cases[] = {
        {"{}", 80, 0, false, false, false, ""},
        {"{\"http_port\": 8080, \"debug_level\": 3}", 8080, 3, false, false, false, ""},
        {"{\"http_port\": 70000, \"debug_level\": 7}", 80, 0, false, false, false, ""},
        {"{\"http_port\": \"81\", \"debug_level\": -1}", 80, 0, false, false, false, ""},
        {"{\"subscription\": {\"event\": [\"ConfigurationSaved\"]}}", 80, 0, false, false, true,
         "ConfigurationSaved"},
        {"{\"subscription\": {\"stats\": true, \"system\": true}}", 80, 0, true, true, false, "statssystem"},
        {"{\"subscription\": {\"stats\": true, \"system\": 1, \"event\": [\"x\", \"ConfigurationSaved\"]}}",
         80, 0, true, false, true, "statsConfigurationSaved"},
        {"{\"subscription\": {\"stats\": false, \"event\": \"ConfigurationSaved\"}}", 80, 0, false, false,
         false, ""},
        {"{\"subscription\": [1]}", 80, 0, false, false, false, ""},
    };
    fw_test::TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.json);
        std::ofstream(dir.file("c.json"), std::ios::trunc) << c.json;
        ASSERT_EQ(ConfigurationRead(dir.file("c.json").c_str()), 0);
        EXPECT_EQ(agent_http_port(), c.port);
        EXPECT_EQ(zmo_log_get_debug(), c.debug);
        EXPECT_EQ(agent_flag(AGENT_STATS_SUBSCRIBED), c.stats);
        EXPECT_EQ(agent_flag(AGENT_SYSTEM_SUBSCRIBED), c.system);
        EXPECT_EQ(agent_flag(AGENT_EVENT_SUBSCRIBED), c.event);
        char digest[33];
        agent_digest(digest);
        EXPECT_EQ(digest, c.digest_of.empty() ? std::string() : md5_of(c.digest_of));
    }
    zmo_log_set_debug(0);
}

TEST(ConfigurationRead, FailuresKeepTheSettings)
{
    fw_test::TempDir dir;
    std::ofstream(dir.file("good.json")) << "{\"http_port\": 9000}";
    ASSERT_EQ(ConfigurationRead(dir.file("good.json").c_str()), 0);
    std::ofstream(dir.file("bad.json")) << "{\"http_port\": 1";
    std::ofstream(dir.file("array.json")) << "[1, 2]";
    std::ofstream(dir.file("zero.json")) << std::string("{\"http_port\": 1}\0{", 19);
    for (const char *name : {"bad.json", "array.json", "zero.json", "missing.json"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ConfigurationRead(dir.file(name).c_str()), -1);
        EXPECT_EQ(agent_http_port(), 9000);
    }
    errno = 0;
    EXPECT_EQ(ConfigurationRead(nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(AgentText, ClientIdAndAddressChecks)
{
    EXPECT_EQ(cid_parse("0123abcd-0000-4000-8000-00000000beef"), 0);
    EXPECT_EQ(cid_parse("0123ABCD-0000-4000-8000-00000000BEEF"), 0);
    EXPECT_EQ(cid_parse("0123abcd-0000-4000-8000-00000000bee"), -1);
    EXPECT_EQ(cid_parse("0123abcd-0000-4000-8000-00000000beefa"), -1);
    EXPECT_EQ(cid_parse("0123abcd-0000-4000-8000-00000000bee&"), -1);
    EXPECT_EQ(cid_parse("0123abcd-0000-4000-8000-0000%000beef"), -1);
    EXPECT_EQ(cid_parse(nullptr), -1);

    struct Case {
        const char *text;
        bool ok;
    } cases[] = {
        {"10.0.0.1:5683", true},   {"10.0.0.1:65535", true}, {"10.0.0.1:65536", false},
        {"10.0.0.1", false},       {"10.0.0.1:", false},     {"10.0.0.1:5683\r\n", false},
        {"10.0.0.1:5683x", false}, {":5683", false},         {"host:5683", false},
        {"10.0.0.1:-1", false},    {"10.0.0.1:+1", false},   {"1.2.3.4.5:1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        zmo_ip_sockaddr_t sa;
        EXPECT_EQ(address_parse(c.text, &sa) == 0, c.ok);
        if (c.ok) {
            char back[32];
            EXPECT_STREQ(address_format(&sa, back, sizeof back), c.text);
        }
    }
}

TEST(AgentText, TypeTable)
{
    EXPECT_EQ(agent_type_parse("router"), 0);
    EXPECT_EQ(agent_type_parse("client"), 1);
    EXPECT_EQ(agent_type_parse("repeater"), 2);
    EXPECT_EQ(agent_type_parse("ap"), 3);
    EXPECT_EQ(agent_type_parse("AP"), -1);
    EXPECT_EQ(agent_type_text(4), nullptr);
}

}  // namespace
