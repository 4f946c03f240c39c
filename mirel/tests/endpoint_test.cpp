// The live endpoint on loopback: resources and the core listing, keys,
// sending once or until answered, duplicates, long datagrams, the stop.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "endpoint_fixture.h"
#include "mirel_crypto.h"

using namespace mirel_test;

namespace {

constexpr int kContent = COAP_CODE(2, 5);
constexpr int kWait = 2000;  // ms for an answer that is due
constexpr int kQuiet = 400;  // ms of silence that counts as "nothing sent"

std::atomic<int> runs_a{0}, runs_b{0};
int handler_a(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *resp)
{
    runs_a++;
    CoAPMessage_SetCode(resp, kContent);
    CoAPMessage_SetPayload(resp, "a", 1);
    return 0;
}
int handler_b(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *resp)
{
    runs_b++;
    CoAPMessage_SetCode(resp, kContent);
    CoAPMessage_SetPayload(resp, "b", 1);
    return 0;
}
int no_answer(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *)
{
    runs_a++;
    return 1;
}

struct LiveEndpoint : ::testing::Test {
    Endpoint ep = loopback_endpoint();
    Peer peer;
    uint16_t id = 0x2000;

    void SetUp() override
    {
        ASSERT_TRUE(ep);
        runs_a = runs_b = 0;
    }
    Msg ask(int code, const char *path, int type = COAP_TYPE_CON)
    {
        Msg req = request(type, code, ++id, path);
        peer.send(endpoint_port(ep.get()), req.get());
        return peer.recv_msg(kWait);
    }
};

TEST_F(LiveEndpoint, CoreListsLaterResourcesFirst)
{
    Msg bare = ask(COAP_CODE_GET, "/.well-known/core");
    ASSERT_TRUE(bare);
    EXPECT_EQ(CoAPMessage_GetCode(bare.get()), kContent);
    uint32_t format = 0;
    EXPECT_EQ(CoAPMessage_GetOptionUint(bare.get(), COAP_OPTION_CONTENT_FORMAT, &format), 0);
    EXPECT_EQ(format, 40u);
    EXPECT_EQ(payload_of(bare.get()), "");

    ASSERT_EQ(Mirel_AddRes(ep.get(), "/first", MIREL_GET, handler_a), 0);
    ASSERT_EQ(Mirel_AddRes(ep.get(), "/zmo/second", MIREL_POST, handler_b), 0);
    Msg listed = ask(COAP_CODE_GET, "/.well-known/core");
    ASSERT_TRUE(listed);
    EXPECT_EQ(payload_of(listed.get()), "</zmo/second>,</first>");

    Msg post = ask(COAP_CODE_POST, "/.well-known/core");
    ASSERT_TRUE(post);
    EXPECT_EQ(CoAPMessage_GetCode(post.get()), COAP_CODE(4, 5));
}

TEST_F(LiveEndpoint, GetResErrors)
{
    ASSERT_EQ(Mirel_AddRes(ep.get(), "/r", MIREL_GET | MIREL_DELETE, handler_a), 0);
    struct Row {
        const char *path;
        int method;
        int want_errno;  // 0: found
    };
    const Row rows[] = {
        {"/r", 0, EINVAL},
        {"/r", 5, EINVAL},
        {"/r", COAP_CODE_POST, ENOKEY},
        {"/r", COAP_CODE_PUT, ENOKEY},
        {"/nope", COAP_CODE_GET, ENOENT},
        {"/r/", COAP_CODE_GET, ENOENT},
        {"/r", COAP_CODE_GET, 0},
        {"/r", COAP_CODE_DELETE, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.path) + " " + std::to_string(r.method));
        Mirel_ResHandler h = handler_b;
        errno = 0;
        int rc = Mirel_GetRes(ep.get(), r.path, r.method, &h);
        if (r.want_errno == 0) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(h, handler_a);
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(errno, r.want_errno);
            EXPECT_EQ(h, nullptr) << "the out handler is cleared first";
        }
    }
    Mirel_ResHandler h;
    errno = 0;
    EXPECT_EQ(Mirel_GetRes(nullptr, "/r", 1, &h), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Mirel_GetRes(ep.get(), nullptr, 1, &h), -1);
    EXPECT_EQ(Mirel_GetRes(ep.get(), "/r", 1, nullptr), -1);
    EXPECT_EQ(Mirel_AddRes(ep.get(), nullptr, 2, handler_a), -1);
    EXPECT_EQ(Mirel_AddRes(ep.get(), "/x", 0, handler_a), -1);
    EXPECT_EQ(Mirel_AddRes(ep.get(), "/x", 2, nullptr), -1);
    EXPECT_EQ(Mirel_AddRes(nullptr, "/x", 2, handler_a), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Mirel_RemRes(ep.get(), "/x"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Mirel_RemRes(ep.get(), nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(LiveEndpoint, LaterResourceOnOnePathAnswersUntilRemoved)
{
    ASSERT_EQ(Mirel_AddRes(ep.get(), "/same", MIREL_GET, handler_a), 0);
    ASSERT_EQ(Mirel_AddRes(ep.get(), "/same", MIREL_GET, handler_b), 0);
    Msg r1 = ask(COAP_CODE_GET, "/same");
    ASSERT_TRUE(r1);
    EXPECT_EQ(payload_of(r1.get()), "b");
    ASSERT_EQ(Mirel_RemRes(ep.get(), "/same"), 0);
    Msg r2 = ask(COAP_CODE_GET, "/same");
    ASSERT_TRUE(r2);
    EXPECT_EQ(payload_of(r2.get()), "a");
    ASSERT_EQ(Mirel_RemRes(ep.get(), "/same"), 0);
    Msg r3 = ask(COAP_CODE_GET, "/same");
    ASSERT_TRUE(r3);
    EXPECT_EQ(CoAPMessage_GetCode(r3.get()), COAP_CODE(4, 4));
}

TEST_F(LiveEndpoint, PrivateKeyOfThirtyTwoBytesOnly)
{
    // RFC 7748, 6.1: Alice's key pair.
    const Bytes priv = hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Bytes pub = hex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    const uint8_t zero[MIREL_KEY_SIZE] = {};
    EXPECT_EQ(std::memcmp(ep->public_key, zero, sizeof zero), 0) << "zero until set";
    ASSERT_EQ(Mirel_SetPrivateKey(ep.get(), priv.data(), priv.size()), 0);
    EXPECT_EQ(Bytes(ep->public_key, ep->public_key + 32), pub);
    EXPECT_EQ(Bytes(ep->private_key, ep->private_key + 32), priv);

    const Bytes other(33, 0x42);
    for (size_t len : {size_t{0}, size_t{31}, size_t{33}}) {
        errno = 0;
        EXPECT_EQ(Mirel_SetPrivateKey(ep.get(), other.data(), len), -1) << len;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(Mirel_SetPrivateKey(ep.get(), nullptr, 32), -1);
    EXPECT_EQ(Mirel_SetPrivateKey(nullptr, other.data(), 32), -1);
    EXPECT_EQ(Bytes(ep->public_key, ep->public_key + 32), pub) << "old keys kept";
    EXPECT_EQ(Bytes(ep->private_key, ep->private_key + 32), priv);
}

// NON, ACK and RST leave once and are gone; a CON stays for its answer.
TEST_F(LiveEndpoint, SendOnceOrUntilAnswered)
{
    struct Row {
        int type;
        int code;
        bool stays;
    };
    const Row rows[] = {{COAP_TYPE_NON, COAP_CODE_GET, false},
                        {COAP_TYPE_ACK, kContent, false},
                        {COAP_TYPE_RST, 0, false},
                        {COAP_TYPE_CON, COAP_CODE_GET, true}};
    struct sockaddr_storage to = peer.address();
    for (const Row &r : rows) {
        SCOPED_TRACE(r.type);
        Msg m = request(r.type, r.code, ++id, "/x");
        CoAPMessage_SetSockAddr(m.get(), &to);
        ASSERT_EQ(Mirel_Send(ep.get(), m.get()), 0);
        Msg got = peer.recv_msg(kWait);
        ASSERT_TRUE(got);
        EXPECT_EQ(CoAPMessage_GetId(got.get()), id);
        EXPECT_FALSE(peer.recv(kQuiet)) << "sent once";
        Msg pending(CoAPMessagePool_Get(ep->pool, id, &to, nullptr));
        EXPECT_EQ(static_cast<bool>(pending), r.stays);
    }
    // The CON's answer takes it out of the pool.
    Msg ack(CoAPMessage(COAP_TYPE_ACK, 0, id));
    peer.send(endpoint_port(ep.get()), ack.get());
    for (int i = 0; i < 100; i++) {
        Msg pending(CoAPMessagePool_Get(ep->pool, id, &to, nullptr));
        if (!pending)
            break;
        usleep(10000);
    }
    Msg pending(CoAPMessagePool_Get(ep->pool, id, &to, nullptr));
    EXPECT_FALSE(pending);
    EXPECT_EQ(Mirel_Send(ep.get(), nullptr), -1);
    EXPECT_EQ(Mirel_Send(nullptr, pending.get()), -1);
}

std::atomic<int> answers{0};
int count_answer(struct Mirel *, struct CoAPMessage *)
{
    answers++;
    return 0;
}

// On the pool's clock: sends at 0, 3 and 6 s, gone at 9 s, no handler.
TEST_F(LiveEndpoint, UnansweredConRetransmittedAtThePoolsTimes)
{
    static std::atomic<uint64_t> now{5000000};
    CoAPMessagePool_SetClock(
        ep->pool, [](void *) -> uint64_t { return now.load(); }, nullptr);
    answers = 0;
    struct sockaddr_storage to = peer.address();
    Msg m = request(COAP_TYPE_CON, COAP_CODE_GET, ++id, "/x");
    CoAPMessage_SetSockAddr(m.get(), &to);
    CoAPMessage_SetHandler(m.get(), count_answer);
    ASSERT_EQ(Mirel_Send(ep.get(), m.get()), 0);
    ASSERT_TRUE(peer.recv(kWait));
    const uint64_t start = now.load();
    struct Step {
        uint64_t at;
        bool sent;
    };
    for (Step s :
         {Step{2999, false}, Step{3000, true}, Step{5999, false}, Step{6000, true}, Step{9000, false}}) {
        SCOPED_TRACE(s.at);
        now = start + s.at;
        CoAPMessagePool_Wake(ep->pool);
        EXPECT_EQ(static_cast<bool>(peer.recv(s.sent ? kWait : kQuiet)), s.sent);
    }
    Msg pending(CoAPMessagePool_Get(ep->pool, id, nullptr, nullptr));
    EXPECT_FALSE(pending);
    EXPECT_EQ(answers.load(), 0);
}

// A retransmitted CON gets the same answer bytes again without a second
// run of its handler; a NON twice runs once and is answered once.
TEST_F(LiveEndpoint, DuplicatesRunNoHandlerTwice)
{
    ASSERT_EQ(Mirel_AddRes(ep.get(), "/cmd", MIREL_POST, handler_a), 0);
    Msg con = request(COAP_TYPE_CON, COAP_CODE_POST, 0x3333, "/cmd");
    peer.send(endpoint_port(ep.get()), con.get());
    auto first = peer.recv(kWait);
    ASSERT_TRUE(first);
    peer.send(endpoint_port(ep.get()), con.get());
    auto again = peer.recv(kWait);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *first);
    EXPECT_EQ(runs_a.load(), 1);

    // The same id with other bytes: a peer that restarted, not a copy.
    Msg renewed = request(COAP_TYPE_CON, COAP_CODE_POST, 0x3333, "/cmd", {0x55});
    peer.send(endpoint_port(ep.get()), renewed.get());
    ASSERT_TRUE(peer.recv(kWait));
    EXPECT_EQ(runs_a.load(), 2);
    runs_a = 1;

    // The same id from another peer is another request.
    Peer other;
    other.send(endpoint_port(ep.get()), con.get());
    ASSERT_TRUE(other.recv(kWait));
    EXPECT_EQ(runs_a.load(), 2);

    Msg non = request(COAP_TYPE_NON, COAP_CODE_POST, 0x3334, "/cmd");
    peer.send(endpoint_port(ep.get()), non.get());
    ASSERT_TRUE(peer.recv(kWait));
    peer.send(endpoint_port(ep.get()), non.get());
    EXPECT_FALSE(peer.recv(kQuiet));
    EXPECT_EQ(runs_a.load(), 3);

    // A handler that sends nothing: its request's copies get nothing either.
    ASSERT_EQ(Mirel_AddRes(ep.get(), "/quiet", MIREL_POST, no_answer), 0);
    Msg q = request(COAP_TYPE_CON, COAP_CODE_POST, 0x3335, "/quiet");
    peer.send(endpoint_port(ep.get()), q.get());
    peer.send(endpoint_port(ep.get()), q.get());
    EXPECT_FALSE(peer.recv(kQuiet));
    EXPECT_EQ(runs_a.load(), 4);
}

TEST_F(LiveEndpoint, PingAnsweredByReset)
{
    Msg ping = request(COAP_TYPE_CON, COAP_CODE_EMPTY, 0x1234, nullptr, {9, 8});
    peer.send(endpoint_port(ep.get()), ping.get());
    Msg rst = peer.recv_msg(kWait);
    ASSERT_TRUE(rst);
    EXPECT_EQ(CoAPMessage_GetType(rst.get()), COAP_TYPE_RST);
    EXPECT_EQ(CoAPMessage_GetCode(rst.get()), 0);
    EXPECT_EQ(CoAPMessage_GetId(rst.get()), 0x1234);
    EXPECT_EQ(token_of(rst.get()), (Bytes{9, 8}));
    EXPECT_FALSE(peer.recv(kQuiet));
}

// The receive buffer is 1500 bytes: a longer datagram is dropped whole
// rather than read cut; one of exactly 1500 bytes is served.
TEST_F(LiveEndpoint, DatagramsOverFifteenHundredBytesAreDropped)
{
    LogCapture log;
    zmo_log_set_debug(1);
    ASSERT_EQ(Mirel_AddRes(ep.get(), "/cmd", MIREL_POST, handler_a), 0);
    for (size_t total : {size_t{1500}, size_t{1501}, size_t{4000}}) {
        SCOPED_TRACE(total);
        Msg req = request(COAP_TYPE_CON, COAP_CODE_POST, ++id, "/cmd");
        Bytes head = encode(req.get());
        Bytes body(total - head.size() - 1, 'x');
        CoAPMessage_SetPayload(req.get(), body.data(), body.size());
        Bytes wire = encode(req.get());
        ASSERT_EQ(wire.size(), total);
        peer.send(endpoint_port(ep.get()), wire);
        EXPECT_EQ(static_cast<bool>(peer.recv(total > 1500 ? kQuiet : kWait)), total <= 1500);
    }
    EXPECT_EQ(runs_a.load(), 1);
    EXPECT_TRUE(log.contains("datagram of 1501 bytes from 127.0.0.1 dropped"));
    // Garbage is dropped too, and the endpoint still serves.
    peer.send(endpoint_port(ep.get()), Bytes{0xff, 0x00});
    peer.send(endpoint_port(ep.get()), Bytes{});
    Msg ok = ask(COAP_CODE_POST, "/cmd");
    EXPECT_TRUE(ok);
}

TEST(Endpoint, FreeReturnsPromptly)
{
    Endpoint ep = loopback_endpoint();
    ASSERT_TRUE(ep);
    usleep(50000);  // the receiver waits in its receive by now
    auto t0 = std::chrono::steady_clock::now();
    ep.reset();
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 300) << "within the receive time-out";
    Mirel_Free(nullptr);
}

// What is queued when the application stops goes out first.
TEST(Endpoint, FreeSendsWhatIsQueued)
{
    Peer peer;
    Endpoint ep = loopback_endpoint();
    ASSERT_TRUE(ep);
    struct sockaddr_storage to = peer.address();
    for (int i = 0; i < 20; i++) {
        Msg ack(CoAPMessage(COAP_TYPE_ACK, 0, 100 + i));
        CoAPMessage_SetSockAddr(ack.get(), &to);
        ASSERT_EQ(Mirel_Send(ep.get(), ack.get()), 0);
    }
    ep.reset();
    int got = 0;
    while (peer.recv(200))
        got++;
    EXPECT_EQ(got, 20);
}

TEST(Endpoint, ConstructionFailureIsLoggedAndUndone)
{
    LogCapture log;
    // No interface has this address: the group cannot be joined.
    Endpoint bad(Mirel(0, htonl(0xC0000201)));
    EXPECT_FALSE(bad);
    EXPECT_TRUE(log.contains("Mirel (setsockopt IP_ADD_MEMBERSHIP): "))
        << testing::PrintToString(log.lines());
}

}  // namespace
