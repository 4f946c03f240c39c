// The agent state, tokens and peers under the three threads that share them:
// the main thread (SIGHUP, the sweep), the worker (addresses, flags, peer
// list) and the receiver thread (the handlers). Meant for ThreadSanitizer as
// much as for the results checked here.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "agent.h"
#include "cloud.h"
#include "coap_uri.h"
#include "fake_scgi.h"
#include "fw_test/temp_dir.h"
#include "resources.h"
#include "tokens.h"

namespace {

struct MsgFree {
    void operator()(struct CoAPMessage *m) const { CoAPMessage_Decref(m); }
};
using Msg = std::unique_ptr<struct CoAPMessage, MsgFree>;

int code_of(Mirel_ResHandler h, const char *query, std::string *payload = nullptr)
{
    Msg req(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 1));
    if (query)
        CoAPMessage_SetUriQuery(req.get(), query);
    Msg resp(CoAPMessage(COAP_TYPE_ACK, 0, 1));
    if (h(nullptr, req.get(), resp.get()) != 0)
        return -1;
    if (payload) {
        uint32_t len = 0;
        const char *p = static_cast<const char *>(CoAPMessage_GetPayload(resp.get(), &len, 0));
        payload->assign(p ? p : "", p ? len : 0);
    }
    return CoAPMessage_GetCode(resp.get());
}

TEST(Concurrency, ThreadsShareTheStateSafely)
{
    FakeScgi core;
    core.reply = [](const ScgiRequest &) { return std::string("Status: 200 OK\r\n\r\n{}"); };
    fw_test::TempDir dir;
    std::ofstream(dir.file("a.json")) << "{\"http_port\": 8080, \"subscription\": {\"stats\": true}}";
    std::ofstream(dir.file("b.json")) << "{\"http_port\": 9090, \"subscription\": {\"system\": true}}";
    // The port is one of the two files' from the start.
    ASSERT_EQ(ConfigurationRead(dir.file("a.json").c_str()), 0);
    char token[37];
    ASSERT_EQ(token_add(token), 0);
    const std::string with_token = std::string("?req=/rci/x&t=") + token;
    const std::string dis_query = std::string("?t=") + token;

    std::atomic<bool> stop{false};
    // Wrong results by kind: master text, /info, /zmo/dis, /zmo/ci, tokens.
    std::atomic<int> bad_master{0}, bad_info{0}, bad_dis{0}, bad_ci{0}, bad_token{0};
    std::vector<std::thread> threads;
    // Main thread: SIGHUP and the sweep.
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            ConfigurationRead(dir.file(i % 2 ? "a.json" : "b.json").c_str());
            token_sweep();
        }
    });
    // Worker: addresses, flags, peers.
    threads.emplace_back([&] {
        zmo_ip_sockaddr_t a, b;
        address_parse("10.0.0.1:5683", &a);
        address_parse("10.0.0.2:5684", &b);
        for (int i = 0; !stop; ++i) {
            agent_master_set(i % 2 ? &a : &b);
            agent_data_set(i % 2 ? &b : &a);
            agent_flag_set(AGENT_MASTER_KNOWN, i % 3 != 0);
            agent_flag_set(AGENT_ALIVE, i % 2);
            peers_clear();
            char text[32];
            if (agent_master_text(text, sizeof text) && std::string(text) != "10.0.0.1:5683" &&
                std::string(text) != "10.0.0.2:5684")
                ++bad_master;
        }
    });
    // Receiver thread: answers and handlers.
    threads.emplace_back([&] {
        const std::string info = "{\"cid\":\"c\",\"http_port\":80,\"type\":\"router\",\"name\":\"n\"}";
        while (!stop) {
            peer_add_info(info.data(), info.size(), "10.0.0.9");
            std::string payload;
            if (code_of(info_handler, nullptr, &payload) != COAP_CODE(2, 5) ||
                (payload.find("\"http_port\":8080") == std::string::npos &&
                 payload.find("\"http_port\":9090") == std::string::npos))
                ++bad_info;
            if (code_of(dis_handler, dis_query.c_str()) != COAP_CODE(2, 5))
                ++bad_dis;
            if (code_of(ci_handler, with_token.c_str()) != COAP_CODE(2, 5))
                ++bad_ci;
            code_of(uhp_handler, "?cid=11111111-2222-4333-8444-555555555555");
            char t[37];
            if (token_add(t) == 0 && token_find(t) != 1)
                ++bad_token;
            token_remove(t);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(bad_master, 0);
    EXPECT_EQ(bad_info, 0);
    EXPECT_EQ(bad_dis, 0);
    EXPECT_EQ(bad_ci, 0);
    EXPECT_EQ(bad_token, 0);
    token_clear();
    peers_clear();
}

}  // namespace
