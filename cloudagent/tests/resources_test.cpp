#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "agent.h"
#include "cloud.h"
#include "coap_uri.h"
#include "fake_scgi.h"
#include "fw_test/log_capture.h"
#include "resources.h"
#include "tokens.h"

namespace {

struct MsgFree {
    void operator()(struct CoAPMessage *m) const { CoAPMessage_Decref(m); }
};
using Msg = std::unique_ptr<struct CoAPMessage, MsgFree>;

const char kToken[] = "11111111-2222-4333-8444-555555555555";

struct Exchange {
    int rc;
    int code;
    std::string payload;
    long format = -1;  // -1: none
};

Exchange call(Mirel_ResHandler h, int method, const char *query, const std::string &body = "",
              int format = -1)
{
    Msg req(CoAPMessage(COAP_TYPE_CON, method, 7));
    if (query) {
        EXPECT_EQ(CoAPMessage_SetUriQuery(req.get(), query), 0) << query;
    }
    if (!body.empty())
        CoAPMessage_SetPayload(req.get(), body.data(), body.size());
    if (format >= 0)
        CoAPMessage_AddOptionUint(req.get(), COAP_OPTION_CONTENT_FORMAT, static_cast<uint32_t>(format));
    Msg resp(CoAPMessage(COAP_TYPE_ACK, 0, 7));
    Exchange e;
    e.rc = h(nullptr, req.get(), resp.get());
    e.code = CoAPMessage_GetCode(resp.get());
    uint32_t len = 0;
    const char *p = static_cast<const char *>(CoAPMessage_GetPayload(resp.get(), &len, 0));
    e.payload = p ? std::string(p, len) : "";
    uint32_t f;
    if (CoAPMessage_GetOptionUint(resp.get(), COAP_OPTION_CONTENT_FORMAT, &f) == 0)
        e.format = f;
    return e;
}

struct ResourcesTest : ::testing::Test {
    void SetUp() override
    {
        zmo_time_t later;
        zmo_time_get_monotonic_plus_msec(&later, 60000);
        ASSERT_EQ(token_add_text(kToken, &later), 0);
    }
    void TearDown() override { token_clear(); }
};

TEST(StatusToCode, Table)
{
    struct Case {
        int status, code;
    } cases[] = {
        {205, 0x45}, {204, 0x44}, {404, 0x84}, {401, 0x81}, {500, 0xA0}, {431, COAP_CODE(4, 31)},
        {299, 0x40}, {531, 0xBF}, {532, 0xA0}, {600, 0xA0}, {199, 0xA0}, {0, 0xA0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(status_to_code(c.status), c.code);
    }
}

TEST_F(ResourcesTest, CiForwardsMethodUriAndBody)
{
    FakeScgi core;
    core.reply = [](const ScgiRequest &) { return std::string("Status: 200 OK\r\n\r\n{\"a\":1}"); };
    Exchange get = call(ci_handler, COAP_CODE_GET,
                        "?req=%2Frci%2Fshow%2Fsystem%3Fx%3D1&t=11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(get.code, COAP_CODE(2, 5));
    EXPECT_EQ(get.format, 50);
    EXPECT_EQ(get.payload, "{\"a\":1}");
    call(ci_handler, COAP_CODE_POST, "?t=11111111-2222-4333-8444-555555555555&req=/rci/x", "{\"b\":2}");
    call(ci_handler, COAP_CODE_DELETE, "?t=11111111-2222-4333-8444-555555555555&req=/rci/y");
    auto reqs = core.requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].get("REQUEST_METHOD"), "GET");
    EXPECT_EQ(reqs[0].get("REQUEST_URI"), "/rci/show/system?x=1");
    EXPECT_EQ(reqs[0].get("HTTP_CONTENT_TYPE"), "<none>");
    EXPECT_EQ(reqs[1].get("REQUEST_METHOD"), "POST");
    EXPECT_EQ(reqs[1].get("HTTP_CONTENT_TYPE"), "application/json");
    EXPECT_EQ(reqs[1].body, "{\"b\":2}");
    EXPECT_EQ(reqs[2].get("REQUEST_METHOD"), "DELETE");
}

TEST_F(ResourcesTest, CiAnswers)
{
    FakeScgi core;
    std::string reply;
    core.reply = [&](const ScgiRequest &) { return reply; };
    struct Case {
        const char *reply;
        int code;
        const char *payload;
        long format;
    } cases[] = {
        {"Status: 404 Not Found\r\n\r\nbody dropped", COAP_CODE(4, 4), "Not Found", -1},
        {"Status: 204 No Content\r\n\r\n", COAP_CODE(2, 4), "", -1},
        {"Status: 201 Created\r\n\r\nmade", COAP_CODE(2, 1), "made", -1},
        {"Status: 599 Odd\r\n\r\n", COAP_CODE(5, 0), "Odd", -1},
        {"Status: 200 OK\r\n", COAP_CODE(5, 0), "0x4", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply);
        reply = c.reply;
        Exchange e = call(ci_handler, COAP_CODE_GET, "?req=/rci/x&t=11111111-2222-4333-8444-555555555555");
        EXPECT_EQ(e.rc, 0);
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.payload, c.payload);
        EXPECT_EQ(e.format, c.format);
    }
}

TEST_F(ResourcesTest, CiRefusalsReachNoCore)
{
    FakeScgi core;
    struct Case {
        const char *query;
        int code;
        const char *payload;
    } cases[] = {
        {nullptr, COAP_CODE(4, 0), "0x1"},
        {"?req=/rci/x", COAP_CODE(4, 0), ""},
        {"?t=11111111-2222-4333-8444-555555555555", COAP_CODE(4, 0), ""},
        {"?req=/rci/x&t=", COAP_CODE(4, 0), ""},
        {"?req=/rci/x&t=21111111-2222-4333-8444-555555555555", COAP_CODE(4, 1), ""},
        {"?req=/rci/x&t=bad", COAP_CODE(4, 1), ""},
        {"?req=rci/x&t=11111111-2222-4333-8444-555555555555", COAP_CODE(4, 0), ""},
        {"?req=/rci/x%00SCGI&t=11111111-2222-4333-8444-555555555555", COAP_CODE(4, 0), ""},
        {"?req=/rci/x%0D%0AREQUEST_METHOD&t=11111111-2222-4333-8444-555555555555", COAP_CODE(4, 0), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query ? c.query : "(none)");
        Msg req(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 7));
        // Options as a peer puts them on the wire, one "key=value" each.
        if (c.query) {
            std::string q = c.query + 1;
            size_t at = 0;
            while (at <= q.size()) {
                size_t amp = q.find('&', at);
                std::string seg = q.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
                std::string raw;
                for (size_t i = 0; i < seg.size(); ++i) {
                    if (seg[i] == '%' && i + 2 < seg.size() + 0 && std::isxdigit(seg[i + 1]) &&
                        std::isxdigit(seg[i + 2])) {
                        raw.push_back(static_cast<char>(std::stoi(seg.substr(i + 1, 2), nullptr, 16)));
                        i += 2;
                    } else {
                        raw.push_back(seg[i]);
                    }
                }
                CoAPMessage_AddOptionOpaque(req.get(), COAP_OPTION_URI_QUERY, raw.data(), raw.size());
                if (amp == std::string::npos)
                    break;
                at = amp + 1;
            }
        }
        Msg resp(CoAPMessage(COAP_TYPE_ACK, 0, 7));
        EXPECT_EQ(ci_handler(nullptr, req.get(), resp.get()), 0);
        EXPECT_EQ(CoAPMessage_GetCode(resp.get()), c.code);
        uint32_t len = 0;
        const char *p = static_cast<const char *>(CoAPMessage_GetPayload(resp.get(), &len, 0));
        EXPECT_EQ(p ? std::string(p, len) : "", c.payload);
    }
    EXPECT_TRUE(core.requests().empty());
}

TEST_F(ResourcesTest, AnUnknownTokenIsLoggedOnOneLine)
{
    fw_test::LogCapture log(1);
    Exchange e = call(ci_handler, COAP_CODE_GET, "?req=/rci/x&t=x%0Acloudagent%3A%20forged");
    EXPECT_EQ(e.code, COAP_CODE(4, 1));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "Attemp to execute command with unknown token \"x_cloudagent: forged\"");
}

TEST_F(ResourcesTest, LogoutAndDiscoveredPeers)
{
    Exchange e = call(logout_handler, COAP_CODE_POST, "?x=1");
    EXPECT_EQ(e.code, COAP_CODE(4, 0));
    EXPECT_EQ(e.payload, "Token should not be empty");
    EXPECT_EQ(call(dis_handler, COAP_CODE_GET, "?t=21111111-2222-4333-8444-555555555555").code,
              COAP_CODE(4, 1));

    peers_clear();
    const std::string good = "{\"cid\":\"c1\",\"http_port\":80,\"type\":\"router\",\"name\":\"A \\\"q\\\"\"}";
    const std::string bad = "{\"cid\":\"c2\",\"http_port\":70000,\"type\":\"ap\",\"name\":\"B\"}";
    ASSERT_EQ(peer_add_info(good.data(), good.size(), "10.0.0.2"), 0);
    EXPECT_EQ(peer_add_info(bad.data(), bad.size(), "10.0.0.3"), -1);
    e = call(dis_handler, COAP_CODE_GET, "?t=11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(e.code, COAP_CODE(2, 5));
    EXPECT_EQ(e.format, 50);
    EXPECT_EQ(e.payload,
              "{\"c1\":{\"name\":\"A \\\"q\\\"\",\"type\":\"router\",\"port\":80,\"ip\":\"10.0.0.2\"}}");

    e = call(logout_handler, COAP_CODE_POST, "?t=11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(e.code, COAP_CODE(2, 4));
    e = call(logout_handler, COAP_CODE_POST, "?t=11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(e.code, COAP_CODE(4, 1));
    EXPECT_EQ(call(dis_handler, COAP_CODE_GET, "?t=11111111-2222-4333-8444-555555555555").code,
              COAP_CODE(4, 1));
}

TEST_F(ResourcesTest, PeerListIsCapped)
{
    peers_clear();
    const std::string info = "{\"cid\":\"c\",\"http_port\":80,\"type\":\"router\",\"name\":\"n\"}";
    for (int i = 0; i < PEER_LIST_MAX; ++i)
        ASSERT_EQ(peer_add_info(info.data(), info.size(), "10.0.0.9"), 0);
    EXPECT_EQ(peer_add_info(info.data(), info.size(), "10.0.0.9"), -1);
    peers_clear();
}

TEST_F(ResourcesTest, InfoIsJsonWhateverTheName)
{
    std::snprintf(g_agent.name, sizeof g_agent.name, "%s", "a\"b\\c\nd");
    std::snprintf(g_agent.cid, sizeof g_agent.cid, "%s", kToken);
    Exchange e = call(info_handler, COAP_CODE_GET, nullptr);
    EXPECT_EQ(e.code, COAP_CODE(2, 5));
    EXPECT_EQ(e.format, 0);
    zmo_pool_t *pool = zmo_pool_new();
    zmo_json_value_t *root = nullptr;
    ASSERT_EQ(zmo_json_object_parse(pool, e.payload.c_str(), &root), 0) << e.payload;
    EXPECT_STREQ(zmo_json_value_get_string(zmo_json_object_get(root, "name")), "a\"b\\c\nd");
    EXPECT_STREQ(zmo_json_value_get_string(zmo_json_object_get(root, "version")), AGENT_VERSION);
    EXPECT_STREQ(zmo_json_value_get_string(zmo_json_object_get(root, "type")), "router");
    zmo_pool_free(pool);
    std::snprintf(g_agent.name, sizeof g_agent.name, "%s", AGENT_DEFAULT_NAME);
}

TEST_F(ResourcesTest, PlainResources)
{
    Exchange e = call(register_handler, COAP_CODE_POST, nullptr);
    EXPECT_EQ(e.code, COAP_CODE(2, 5));
    EXPECT_EQ(e.payload, "register");
    e = call(mirror_handler, COAP_CODE_POST, nullptr);
    EXPECT_EQ(e.code, COAP_CODE(2, 5));
    EXPECT_EQ(e.payload, "");
    EXPECT_EQ(e.format, -1);
    e = call(mirror_handler, COAP_CODE_POST, nullptr, "echo me", 50);
    EXPECT_EQ(e.payload, "echo me");
    EXPECT_EQ(e.format, 50);
}

TEST_F(ResourcesTest, UhpNeedsTheMasterAndAClientId)
{
    agent_flag_set(AGENT_MASTER_KNOWN, 0);
    EXPECT_EQ(call(uhp_handler, COAP_CODE_POST, "?cid=11111111-2222-4333-8444-555555555555").code,
              COAP_CODE(5, 0));
    zmo_ip_sockaddr_t m;
    ASSERT_EQ(address_parse("127.0.0.1:5999", &m), 0);
    agent_master_set(&m);
    agent_flag_set(AGENT_MASTER_KNOWN, 1);
    EXPECT_EQ(call(uhp_handler, COAP_CODE_POST, nullptr).code, COAP_CODE(4, 0));
    EXPECT_EQ(call(uhp_handler, COAP_CODE_POST, "?cid=").code, COAP_CODE(4, 0));
    // Text that would add keys to the master's URI never goes out.
    EXPECT_EQ(call(uhp_handler, COAP_CODE_POST, "?cid=x%26peer_cid%3Ddata").code, COAP_CODE(4, 0));
    agent_flag_set(AGENT_MASTER_KNOWN, 0);
}

TEST_F(ResourcesTest, LoginWithoutBothKeys)
{
    Exchange e = call(login_handler, COAP_CODE_POST, "?login=admin");
    EXPECT_EQ(e.code, COAP_CODE(4, 0));
    EXPECT_EQ(e.payload, "Login and password should not be empty");
    EXPECT_EQ(e.format, 0);
    e = call(login_handler, COAP_CODE_POST, nullptr);
    EXPECT_EQ(e.code, COAP_CODE(4, 0));
}

}  // namespace
