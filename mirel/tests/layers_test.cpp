// The layer runner, the request layer and the response layer, driven on an
// endpoint record without threads.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "../src/layers.h"
#include "endpoint_fixture.h"

using namespace mirel_test;

namespace {

constexpr int kContent = COAP_CODE(2, 5);
constexpr int kNotFound = COAP_CODE(4, 4);
constexpr int kNotAllowed = COAP_CODE(4, 5);

int calls_echo = 0;
int echo(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    calls_echo++;
    uint32_t len = 0;
    const void *p = CoAPMessage_GetPayload(req, &len, 0);
    CoAPMessage_SetCode(resp, kContent);
    if (p)
        CoAPMessage_SetPayload(resp, p, len);
    return 0;
}
int root(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *resp)
{
    CoAPMessage_SetCode(resp, kContent);
    CoAPMessage_SetPayload(resp, "root", 4);
    return 0;
}
int silent(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *) { return 1; }

struct ReqCase {
    const char *name;
    int type;
    int code;
    const char *path;  // null: no Uri-Path
    int want_type;     // -1: nothing is sent
    int want_code;
    const char *want_payload;
};

// What one request on its own gets back from the request layer.
TEST(ReqLayer, AnswersByPathAndMethod)
{
    const ReqCase cases[] = {
        {"ping", COAP_TYPE_CON, COAP_CODE_EMPTY, nullptr, COAP_TYPE_RST, 0, ""},
        {"unknown path", COAP_TYPE_CON, COAP_CODE_GET, "/nothing", COAP_TYPE_ACK, kNotFound, ""},
        {"method outside the mask", COAP_TYPE_CON, COAP_CODE_POST, "/get-only", COAP_TYPE_ACK, kNotAllowed,
         ""},
        {"no Uri-Path is /", COAP_TYPE_CON, COAP_CODE_GET, nullptr, COAP_TYPE_ACK, kContent, "root"},
        {"handler declines", COAP_TYPE_CON, COAP_CODE_GET, "/silent", -1, 0, ""},
        {"NON request gets an ACK", COAP_TYPE_NON, COAP_CODE_POST, "/echo", COAP_TYPE_ACK, kContent, "body"},
        {"DELETE dispatched", COAP_TYPE_CON, COAP_CODE_DELETE, "/echo", COAP_TYPE_ACK, kContent, "body"},
    };
    for (const ReqCase &c : cases) {
        SCOPED_TRACE(c.name);
        BareEndpoint b;
        ASSERT_EQ(Mirel_AddRes(&b.ep, "/", MIREL_GET, root), 0);
        ASSERT_EQ(Mirel_AddRes(&b.ep, "/get-only", MIREL_GET, echo), 0);
        ASSERT_EQ(Mirel_AddRes(&b.ep, "/silent", MIREL_GET, silent), 0);
        ASSERT_EQ(Mirel_AddRes(&b.ep, "/echo", MIREL_POST | MIREL_DELETE, echo), 0);
        Msg req = request(c.type, c.code, 0x1234, c.path, {1, 2, 3});
        if (c.code != COAP_CODE_EMPTY)
            CoAPMessage_SetPayload(req.get(), "body", 4);
        struct sockaddr_storage from = v4("192.0.2.9", 40000);
        CoAPMessage_SetSockAddr(req.get(), &from);
        struct Err err;
        EXPECT_EQ(ReqLayer_OnReceive(&b.ep, req.get(), 0, &err), LAYER_STOP);

        Msg sent = b.next_sent();
        if (c.want_type < 0) {
            EXPECT_FALSE(sent);
            continue;
        }
        ASSERT_TRUE(sent);
        EXPECT_EQ(CoAPMessage_GetType(sent.get()), c.want_type);
        EXPECT_EQ(CoAPMessage_GetCode(sent.get()), c.want_code);
        EXPECT_EQ(CoAPMessage_GetId(sent.get()), 0x1234);
        EXPECT_EQ(token_of(sent.get()), (Bytes{1, 2, 3}));
        struct sockaddr_storage to {};
        ASSERT_EQ(CoAPMessage_GetSockAddr(sent.get(), &to), 0);
        EXPECT_EQ(std::memcmp(&to, &from, sizeof(struct sockaddr_in)), 0);
        EXPECT_EQ(payload_of(sent.get()), c.want_payload);
        EXPECT_FALSE(b.next_sent()) << "one answer only";
    }
}

TEST(ReqLayer, ResponsesTakeSchemeBlock1AndWindowOptions)
{
    BareEndpoint b;
    ASSERT_EQ(Mirel_AddRes(&b.ep, "/echo", MIREL_POST, echo), 0);
    Msg req = request(COAP_TYPE_CON, COAP_CODE_POST, 9, "/echo");
    struct CoAPMessage_Block blk {
        3, 6, 0
    };
    CoAPMessage_AddOptionUint(req.get(), COAP_OPTION_URI_SCHEME, 1);
    CoAPMessage_AddOptionBlock(req.get(), COAP_OPTION_BLOCK1, &blk);
    CoAPMessage_AddOptionUint(req.get(), COAP_OPTION_SR_WINDOW_SIZE, 70);
    CoAPMessage_AddOptionUint(req.get(), COAP_OPTION_CONTENT_FORMAT, 50);
    struct Err err;
    ASSERT_EQ(ReqLayer_OnReceive(&b.ep, req.get(), 0, &err), LAYER_STOP);
    Msg sent = b.next_sent();
    ASSERT_TRUE(sent);
    // Copied in this order; Content-Format stays behind.
    EXPECT_EQ(option_numbers(sent.get()), (std::vector<uint32_t>{COAP_OPTION_URI_SCHEME, COAP_OPTION_BLOCK1,
                                                                 COAP_OPTION_SR_WINDOW_SIZE}));
    uint32_t window = 0;
    EXPECT_EQ(CoAPMessage_GetOptionUint(sent.get(), COAP_OPTION_SR_WINDOW_SIZE, &window), 0);
    EXPECT_EQ(window, 70u);
}

TEST(ReqLayer, ResponsesAndEmptyNonPassOn)
{
    BareEndpoint b;
    struct Err err;
    Msg ack(CoAPMessage(COAP_TYPE_ACK, kContent, 5));
    EXPECT_EQ(ReqLayer_OnReceive(&b.ep, ack.get(), 0, &err), LAYER_CONTINUE);
    Msg non(CoAPMessage(COAP_TYPE_NON, COAP_CODE_EMPTY, 6));
    EXPECT_EQ(ReqLayer_OnReceive(&b.ep, non.get(), 0, &err), LAYER_CONTINUE);
    EXPECT_FALSE(b.next_sent());
}

TEST(ReqLayer, UnknownResourceLogsItsCode)
{
    LogCapture log;
    zmo_log_set_debug(1);
    BareEndpoint b;
    Msg req = request(COAP_TYPE_CON, COAP_CODE_PUT, 1, "/a/b");
    struct Err err;
    ReqLayer_OnReceive(&b.ep, req.get(), 0, &err);
    EXPECT_TRUE(log.contains("ReqLayer_OnReceive: resource \"/a/b\" with code 0.03 (Put) doesn't exist"))
        << testing::PrintToString(log.lines());
}

// The stack's debug lines for a request: every row up to the request layer
// enters and reports; the response layer never sees a request.
TEST(LayerStack, RunnerLinesAtDebugLevelThree)
{
    LogCapture log;
    zmo_log_set_debug(3);
    BareEndpoint b;
    ASSERT_EQ(Mirel_AddRes(&b.ep, "/x", MIREL_GET, root), 0);
    Msg req = request(COAP_TYPE_CON, COAP_CODE_GET, 77, "/x");
    struct Err err;
    EXPECT_EQ(LayerStack_OnReceive(&b.ep, req.get(), 0, &err), LAYER_STOP);
    std::vector<std::string> runner;
    for (const std::string &l : log.lines())
        if (l.find("RL#") != std::string::npos)
            runner.push_back(l);
    EXPECT_EQ(runner, (std::vector<std::string>{"[77] RL#0 \"log\": enter", "[77] RL#0 \"log\": continue",
                                                "[77] RL#1 \"sec\": enter", "[77] RL#1 \"sec\": continue",
                                                "[77] RL#2 \"log\": enter", "[77] RL#2 \"log\": continue",
                                                "[77] RL#3 \"bl1\": enter", "[77] RL#3 \"bl1\": continue",
                                                "[77] RL#4 \"bl2\": enter", "[77] RL#4 \"bl2\": continue",
                                                "[77] RL#5 \"req\": enter", "[77] RL#5 \"req\": stop"}));

    log.clear();
    Msg answer = b.next_sent();
    ASSERT_TRUE(answer);
    EXPECT_EQ(LayerStack_OnSend(&b.ep, answer.get(), 0, &err), LAYER_CONTINUE);
    std::vector<std::string> send;
    for (const std::string &l : log.lines())
        if (l.find("SL#") != std::string::npos)
            send.push_back(l);
    EXPECT_EQ(send, (std::vector<std::string>{"[77] SL#0 \"bl1\": enter", "[77] SL#0 \"bl1\": continue",
                                              "[77] SL#1 \"bl2\": enter", "[77] SL#1 \"bl2\": continue",
                                              "[77] SL#2 \"log\": enter", "[77] SL#2 \"log\": continue",
                                              "[77] SL#3 \"sec\": enter", "[77] SL#3 \"sec\": continue"}));
}

TEST(LayerStack, NullArgumentsAreErrors)
{
    BareEndpoint b;
    Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 1));
    struct Err err;
    EXPECT_EQ(LayerStack_OnReceive(nullptr, m.get(), 0, &err), LAYER_ERROR);
    EXPECT_EQ(LayerStack_OnReceive(&b.ep, nullptr, 0, &err), LAYER_ERROR);
    EXPECT_EQ(LayerStack_OnSend(nullptr, m.get(), 0, &err), LAYER_ERROR);
    EXPECT_EQ(LayerStack_OnSend(&b.ep, nullptr, 0, &err), LAYER_ERROR);
}

// Response layer: which answers reach the pending request's handler.
std::vector<int> handled;
int on_answer(struct Mirel *, struct CoAPMessage *answer)
{
    handled.push_back(CoAPMessage_GetCode(answer));
    return 0;
}

struct AnswerCase {
    const char *name;
    const char *to;  // where the request went
    int type;        // of the answer
    int code;
    int id_offset;     // answer id - request id
    const char *from;  // where the answer comes from
    Bytes token;
    bool reaches;  // the handler runs
    bool stays;    // the request stays pending
};

TEST(ResLayer, MatchesByIdPeerAndToken)
{
    const Bytes tok{0xa1, 0xb2, 0xc3, 0xd4};
    const AnswerCase cases[] = {
        {"piggybacked answer", "192.0.2.1", COAP_TYPE_ACK, kContent, 0, "192.0.2.1", tok, true, false},
        {"other token", "192.0.2.1", COAP_TYPE_ACK, kContent, 0, "192.0.2.1", {0xa1}, false, true},
        {"no token", "192.0.2.1", COAP_TYPE_ACK, kContent, 0, "192.0.2.1", {}, false, true},
        {"other peer", "192.0.2.1", COAP_TYPE_ACK, kContent, 0, "192.0.2.66", tok, false, true},
        {"other id", "192.0.2.1", COAP_TYPE_ACK, kContent, 1, "192.0.2.1", tok, false, true},
        {"empty ACK by id and peer", "192.0.2.1", COAP_TYPE_ACK, 0, 0, "192.0.2.1", {}, true, false},
        {"empty ACK from another peer", "192.0.2.1", COAP_TYPE_ACK, 0, 0, "192.0.2.66", {}, false, true},
        {"RST by id and peer", "192.0.2.1", COAP_TYPE_RST, 0, 0, "192.0.2.1", {}, true, false},
        {"CON is no answer", "192.0.2.1", COAP_TYPE_CON, kContent, 0, "192.0.2.1", tok, false, true},
        {"multicast: any peer with the token", "224.0.0.187", COAP_TYPE_ACK, kContent, 0, "192.0.2.7", tok,
         true, true},
        {"multicast: other token",
         "224.0.0.187",
         COAP_TYPE_ACK,
         kContent,
         0,
         "192.0.2.7",
         {0x01},
         false,
         true},
        {"multicast: empty ACK needs the token too",
         "224.0.0.187",
         COAP_TYPE_ACK,
         0,
         0,
         "192.0.2.7",
         {},
         false,
         true},
    };
    for (const AnswerCase &c : cases) {
        SCOPED_TRACE(c.name);
        handled.clear();
        BareEndpoint b;
        Msg req = request(COAP_TYPE_CON, COAP_CODE_GET, 0x4000, "/x", tok);
        struct sockaddr_storage to = v4(c.to);
        CoAPMessage_SetSockAddr(req.get(), &to);
        CoAPMessage_SetHandler(req.get(), on_answer);
        ASSERT_EQ(Mirel_Send(&b.ep, req.get()), 0);

        Msg ans(CoAPMessage(c.type, c.code, 0x4000 + c.id_offset));
        if (!c.token.empty())
            CoAPMessage_SetToken(ans.get(), c.token.data(), c.token.size());
        struct sockaddr_storage from = v4(c.from);
        CoAPMessage_SetSockAddr(ans.get(), &from);
        struct Err err;
        int want = c.type == COAP_TYPE_CON ? LAYER_CONTINUE : LAYER_STOP;
        EXPECT_EQ(ResLayer_OnReceive(&b.ep, ans.get(), 0, &err), want);
        EXPECT_EQ(handled.size(), c.reaches ? 1u : 0u);
        Msg still(CoAPMessagePool_Get(b.ep.pool, 0x4000, nullptr, nullptr));
        EXPECT_EQ(static_cast<bool>(still), c.stays);
    }
}

TEST(ResLayer, HandlerRunsOnceAndOurQueuedAnswersAreNotMatched)
{
    handled.clear();
    BareEndpoint b;
    Msg req = request(COAP_TYPE_CON, COAP_CODE_GET, 0x10, "/x");
    struct sockaddr_storage to = v4("192.0.2.1");
    CoAPMessage_SetSockAddr(req.get(), &to);
    CoAPMessage_SetHandler(req.get(), on_answer);
    ASSERT_EQ(Mirel_Send(&b.ep, req.get()), 0);
    Msg ack(CoAPMessage(COAP_TYPE_ACK, 0, 0x10));
    CoAPMessage_SetSockAddr(ack.get(), &to);
    struct Err err;
    ResLayer_OnReceive(&b.ep, ack.get(), 0, &err);
    ResLayer_OnReceive(&b.ep, ack.get(), 0, &err);
    EXPECT_EQ(handled.size(), 1u);

    // Our own ACK to the peer's request 0x11, still queued: an ACK from the
    // peer with that id must not take it out of the queue.
    Msg our_ack(CoAPMessage(COAP_TYPE_ACK, kContent, 0x11));
    CoAPMessage_SetSockAddr(our_ack.get(), &to);
    ASSERT_EQ(Mirel_Send(&b.ep, our_ack.get()), 0);
    Msg forged(CoAPMessage(COAP_TYPE_ACK, 0, 0x11));
    CoAPMessage_SetSockAddr(forged.get(), &to);
    EXPECT_EQ(ResLayer_OnReceive(&b.ep, forged.get(), 0, &err), LAYER_STOP);
    Msg queued(CoAPMessagePool_Get(b.ep.pool, 0x11, &to, nullptr));
    EXPECT_TRUE(queued);
}

}  // namespace
