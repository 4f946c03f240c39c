// The security layer between two endpoint records, datagram by datagram:
// handshake, sealed requests and answers, session errors, the deadline,
// crossing handshakes, and what the byte form leaves open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../src/layers.h"
#include "endpoint_fixture.h"

using namespace mirel_test;

namespace {

constexpr int kContent = COAP_CODE(2, 5);
constexpr int kChanged = COAP_CODE(2, 4);
constexpr int kUnauthorized = COAP_CODE(4, 1);

const Bytes kKeyA = hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const Bytes kKeyB = hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");

std::vector<std::string> answers;
int record(struct Mirel *, struct CoAPMessage *m)
{
    char code[48];
    CoAPMessage_GetCodeStr(m, code, sizeof code);
    answers.push_back(std::string(code) + " " + payload_of(m));
    return 0;
}

int served = 0;
int info(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    served++;
    mirel_test::Mem<char> q(CoAPMessage_GetUriQuery(req));
    std::string body = "info " + std::string(q ? q.get() : "") + payload_of(req);
    CoAPMessage_SetCode(resp, CoAPMessage_GetCode(req) == COAP_CODE_GET ? kContent : kChanged);
    CoAPMessage_SetPayload(resp, body.data(), body.size());
    return 0;
}

struct Pair : BarePair {
    void SetUp() override
    {
        answers.clear();
        served = 0;
        ASSERT_EQ(Mirel_SetPrivateKey(&a.ep, kKeyA.data(), 32), 0);
        ASSERT_EQ(Mirel_SetPrivateKey(&b.ep, kKeyB.data(), 32), 0);
        ASSERT_EQ(Mirel_AddRes(&b.ep, "/info", MIREL_GET | MIREL_POST, info), 0);
    }
    // A secure request from a to b, queued as the application does.
    uint16_t send_a(int code, const char *uri, const std::string &body = "")
    {
        Msg m(CoAPMessage(COAP_TYPE_CON, code, -1));
        EXPECT_EQ(CoAPMessage_SetUri(m.get(), uri, 0), 0);
        const uint8_t tok[4] = {0xa, 0xb, 0xc, static_cast<uint8_t>(code)};
        CoAPMessage_SetToken(m.get(), tok, sizeof tok);
        if (!body.empty())
            CoAPMessage_SetPayload(m.get(), body.data(), body.size());
        CoAPMessage_SetHandler(m.get(), record);
        EXPECT_EQ(Mirel_Send(&a.ep, m.get()), 0);
        return static_cast<uint16_t>(CoAPMessage_GetId(m.get()));
    }
    int state_of(BareEndpoint &e, const char *key)
    {
        std::lock_guard<std::mutex> lock(e.ep.sessions->mutex);
        mirel::Session *s = e.ep.sessions->find(key);
        return s ? s->state : -1;
    }
};

Msg decode(const Bytes &w) { return Msg(CoAPMessage_FromBytes(w.data(), w.size())); }

TEST_F(Pair, HandshakeThenSealedGetAndPost)
{
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?x=1");
    auto first = a.pump();
    ASSERT_EQ(first.size(), 1u) << "a handshake request and nothing else";
    Msg hs = decode(first[0]);
    EXPECT_EQ(CoAPMessage_GetType(hs.get()), COAP_TYPE_CON);
    EXPECT_EQ(CoAPMessage_GetCode(hs.get()), COAP_CODE_GET);
    uint32_t v = 0;
    EXPECT_EQ(CoAPMessage_GetOptionUint(hs.get(), COAP_OPTION_HANDSHAKE_TYPE, &v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(payload_of(hs.get()), std::string(reinterpret_cast<char *>(a.ep.public_key), 32));
    EXPECT_EQ(option_numbers(hs.get()), (std::vector<uint32_t>{COAP_OPTION_HANDSHAKE_TYPE}));

    b.deliver(first[0], addr_a);
    auto reply = b.pump();
    ASSERT_EQ(reply.size(), 1u);
    Msg ans = decode(reply[0]);
    EXPECT_EQ(CoAPMessage_GetType(ans.get()), COAP_TYPE_ACK);
    EXPECT_EQ(CoAPMessage_GetCode(ans.get()), kContent);
    EXPECT_EQ(CoAPMessage_GetId(ans.get()), CoAPMessage_GetId(hs.get()));
    EXPECT_EQ(state_of(b, "192.0.2.1:5683"), mirel::kSessionEstablished);

    a.deliver(reply[0], addr_b);
    EXPECT_EQ(state_of(a, "192.0.2.2:5683"), mirel::kSessionEstablished);
    auto sealed = a.pump();
    ASSERT_EQ(sealed.size(), 1u);
    Msg get = decode(sealed[0]);
    EXPECT_EQ(option_numbers(get.get()),
              (std::vector<uint32_t>{COAP_OPTION_URI_SCHEME, COAP_OPTION_COAPS_URI}))
        << "4005 in place of 11 and 15";
    uint32_t ulen = 0;
    CoAPMessage_GetOptionOpaque(get.get(), COAP_OPTION_COAPS_URI, &ulen);
    EXPECT_EQ(ulen, std::strlen("coaps://192.0.2.2/info?x=1") + 12);
    b.deliver(sealed[0], addr_a);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"2.05 (Content) info ?x=1"}));

    // POST: the payload is 12 bytes longer on the wire.
    send_a(COAP_CODE_POST, "coaps://192.0.2.2/info", "hello");
    auto post = a.pump();
    ASSERT_EQ(post.size(), 1u);
    Msg p = decode(post[0]);
    uint32_t plen = 0;
    CoAPMessage_GetPayload(p.get(), &plen, 0);
    EXPECT_EQ(plen, 5u + 12u);
    b.deliver(post[0], addr_a);
    auto back = b.pump();
    ASSERT_EQ(back.size(), 1u);
    Msg r = decode(back[0]);
    EXPECT_NE(CoAPMessage_GetOptionOpaque(r.get(), COAP_OPTION_COAPS_URI, nullptr), nullptr)
        << "the answer is sealed too";
    a.deliver(back[0], addr_b);
    EXPECT_EQ(answers.back(), "2.04 (Changed) info hello");
    EXPECT_EQ(served, 2);
}

// A sealed request that does not open is answered 4.01 with 4003; the
// requester's handler gets the 4.01 and its session goes.
TEST_F(Pair, TamperedOrUnsealedAnswered4003)
{
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info");
    settle();
    ASSERT_EQ(answers.size(), 1u);

    struct Case {
        const char *name;
        void (*spoil)(struct CoAPMessage *);
    };
    const Case cases[] = {
        {"flipped payload bit",
         [](struct CoAPMessage *m) {
             uint32_t n = 0;
             auto *p = static_cast<uint8_t *>(CoAPMessage_GetPayload(m, &n, 0));
             p[0] ^= 1;
         }},
        {"flipped URI bit",
         [](struct CoAPMessage *m) {
             uint32_t n = 0;
             Bytes u;
             const uint8_t *o = CoAPMessage_GetOptionOpaque(m, COAP_OPTION_COAPS_URI, &n);
             u.assign(o, o + n);
             u[n - 1] ^= 0x80;
             CoAPMessage_RemoveOptions(m, COAP_OPTION_COAPS_URI);
             CoAPMessage_AddOptionOpaque(m, COAP_OPTION_COAPS_URI, u.data(), u.size());
         }},
        {"no 4005, URI in clear",
         [](struct CoAPMessage *m) {
             CoAPMessage_RemoveOptions(m, COAP_OPTION_COAPS_URI);
             CoAPMessage_SetUriPath(m, "/info");
         }},
        {"payload of 12 bytes", [](struct CoAPMessage *m) { CoAPMessage_SetPayload(m, "123456789012", 12); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        served = 0;
        send_a(COAP_CODE_POST, "coaps://192.0.2.2/info", "secret");
        auto wire = a.pump();
        ASSERT_EQ(wire.size(), 1u);
        Msg m = decode(wire[0]);
        c.spoil(m.get());
        // As the receiver thread does: the id is remembered first.
        b.ep.dups.check(addr_a, static_cast<uint16_t>(CoAPMessage_GetId(m.get())), nullptr);
        b.deliver(encode(m.get()), addr_a);
        EXPECT_EQ(b.ep.dups.check(addr_a, static_cast<uint16_t>(CoAPMessage_GetId(m.get())), nullptr),
                  mirel::DuplicateMemory::Seen::New)
            << "a message that does not open spends no id";
        EXPECT_EQ(served, 0);
        auto reply = b.pump();
        ASSERT_EQ(reply.size(), 1u);
        Msg err = decode(reply[0]);
        EXPECT_EQ(CoAPMessage_GetCode(err.get()), kUnauthorized);
        uint32_t v = 0;
        EXPECT_EQ(CoAPMessage_GetOptionUint(err.get(), COAP_OPTION_SESSION_EXPIRED, &v), 0);
        EXPECT_EQ(v, 1u);
        EXPECT_EQ(CoAPMessage_GetId(err.get()), CoAPMessage_GetId(m.get()));
        a.deliver(reply[0], addr_b);
        EXPECT_EQ(answers.back(), "4.01 (Unauthorized) ");
        EXPECT_EQ(state_of(a, "192.0.2.2:5683"), -1) << "session gone";
        // The next secure request starts a new handshake and gets through.
        send_a(COAP_CODE_GET, "coaps://192.0.2.2/info");
        settle();
        EXPECT_EQ(answers.back(), "2.05 (Content) info ");
    }
}

TEST_F(Pair, UnknownSessionAnswered4001ThenNewHandshake)
{
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info");
    settle();
    // b forgets everything (a restart): a's next sealed request meets 4001.
    {
        std::lock_guard<std::mutex> lock(b.ep.sessions->mutex);
        b.ep.sessions->erase("192.0.2.1:5683");
    }
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?again");
    auto wire = a.pump();
    ASSERT_EQ(wire.size(), 1u);
    b.deliver(wire[0], addr_a);
    auto reply = b.pump();
    ASSERT_EQ(reply.size(), 1u);
    Msg err = decode(reply[0]);
    EXPECT_EQ(CoAPMessage_GetCode(err.get()), kUnauthorized);
    uint32_t v = 0;
    EXPECT_EQ(CoAPMessage_GetOptionUint(err.get(), COAP_OPTION_SESSION_NOT_FOUND, &v), 0);
    a.deliver(reply[0], addr_b);
    EXPECT_EQ(answers.back(), "4.01 (Unauthorized) ");
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?third");
    auto hs = a.pump();
    ASSERT_EQ(hs.size(), 1u);
    uint32_t t = 0;
    Msg h = decode(hs[0]);
    EXPECT_EQ(CoAPMessage_GetOptionUint(h.get(), COAP_OPTION_HANDSHAKE_TYPE, &t), 0);
    b.deliver(hs[0], addr_a);
    settle();
    EXPECT_EQ(answers.back(), "2.05 (Content) info ?third");

    // A sealed answer from a peer without session is dropped unanswered.
    BareEndpoint c;
    c.deliver(reply[0], addr_a);
    Msg sealed_ack(CoAPMessage(COAP_TYPE_ACK, kContent, 5));
    CoAPMessage_SetSecure(sealed_ack.get(), 1);
    EXPECT_EQ(c.deliver(encode(sealed_ack.get()), addr_a), LAYER_STOP);
    EXPECT_TRUE(c.pump().empty());
}

// Only the answer to our own handshake request sets the keys.
TEST_F(Pair, HandshakeAnswersThatAreNotOursAreDropped)
{
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info");
    auto hs = a.pump();
    b.deliver(hs[0], addr_a);
    auto reply = b.pump();
    Msg good = decode(reply[0]);
    struct Row {
        const char *name;
        int id_delta;
        bool change_token;
        size_t key_len;
    };
    for (Row r :
         {Row{"31-byte key", 0, false, 31}, Row{"other id", 1, false, 32}, Row{"other token", 0, true, 32}}) {
        SCOPED_TRACE(r.name);
        Msg bad(CoAPMessage_Clone(good.get(), 1));
        CoAPMessage_SetId(bad.get(), CoAPMessage_GetId(good.get()) + r.id_delta);
        if (r.change_token)
            CoAPMessage_SetToken(bad.get(), "zz", 2);
        Bytes key(r.key_len, 0x42);
        CoAPMessage_SetPayload(bad.get(), key.data(), key.size());
        EXPECT_EQ(a.deliver(encode(bad.get()), addr_b), LAYER_STOP);
        EXPECT_EQ(state_of(a, "192.0.2.2:5683"), mirel::kSessionHandshakeSent);
    }
    EXPECT_EQ(a.deliver(reply[0], addr_b), LAYER_STOP) << "taken, then matched by the res layer";
    EXPECT_EQ(state_of(a, "192.0.2.2:5683"), mirel::kSessionEstablished);
    // Established: a later answer, even a well-formed one, changes nothing.
    EXPECT_EQ(a.deliver(reply[0], addr_b), LAYER_STOP);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"2.05 (Content) info "}));
}

TEST_F(Pair, HandshakeDeadlineDropsTheQueue)
{
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?1");
    ASSERT_EQ(a.pump().size(), 1u);
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?2");
    EXPECT_TRUE(a.pump().empty()) << "waits for the session";
    {
        std::lock_guard<std::mutex> lock(a.ep.sessions->mutex);
        mirel::Session *s = a.ep.sessions->find("192.0.2.2:5683");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->queue.size(), 2u);
        zmo_time_get_monotonic_plus_msec(&s->deadline, -1000);  // 11 s went by
    }
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?3");
    EXPECT_TRUE(a.pump().empty());
    EXPECT_EQ(state_of(a, "192.0.2.2:5683"), -1) << "session and its three messages gone";
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?4");
    auto hs = a.pump();
    ASSERT_EQ(hs.size(), 1u) << "a new handshake";
    b.deliver(hs[0], addr_a);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"2.05 (Content) info ?4"}));
}

// Both sides start a handshake at once: one of them answers, takes its
// waiting request along, and every request gets through.
TEST_F(Pair, CrossingHandshakesRecover)
{
    ASSERT_EQ(Mirel_AddRes(&a.ep, "/info", MIREL_GET | MIREL_POST, info), 0);
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info?from-a");
    Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, -1));
    CoAPMessage_SetUri(m.get(), "coaps://192.0.2.1/info?from-b", 0);
    CoAPMessage_SetToken(m.get(), "bb", 2);
    CoAPMessage_SetHandler(m.get(), record);
    ASSERT_EQ(Mirel_Send(&b.ep, m.get()), 0);
    auto hs_a = a.pump();
    auto hs_b = b.pump();
    ASSERT_EQ(hs_a.size(), 1u);
    ASSERT_EQ(hs_b.size(), 1u);
    b.deliver(hs_a[0], addr_a);
    a.deliver(hs_b[0], addr_b);
    settle();
    std::sort(answers.begin(), answers.end());
    EXPECT_EQ(answers,
              (std::vector<std::string>{"2.05 (Content) info ?from-a", "2.05 (Content) info ?from-b"}));
    EXPECT_EQ(served, 2);
}

// What the byte form leaves open, shown so nobody takes it for more: the
// URI and the payload of one message share a nonce, an answer keeps the
// peer's id whatever we sealed under it, and static key pairs give two
// peers the same keys in every session. Our own CON and NON never repeat
// an id within a session.
TEST_F(Pair, NonceReuseThatTheFormatLeaves)
{
    send_a(COAP_CODE_GET, "coaps://192.0.2.2/info");
    settle();

    // Same nonce for URI and payload: their ciphertexts differ as their
    // plaintexts do (the keystream cancels).
    const std::string body = "coaps://192.0.2.2/info";
    send_a(COAP_CODE_POST, "coaps://192.0.2.2/info", body);
    auto wire = a.pump();
    ASSERT_EQ(wire.size(), 1u);
    Msg p = decode(wire[0]);
    uint32_t plen = 0, ulen = 0;
    auto *pc = static_cast<const uint8_t *>(CoAPMessage_GetPayload(p.get(), &plen, 0));
    const uint8_t *uc = CoAPMessage_GetOptionOpaque(p.get(), COAP_OPTION_COAPS_URI, &ulen);
    ASSERT_EQ(plen, ulen);
    EXPECT_EQ(std::memcmp(pc, uc, body.size()), 0) << "same plaintext, same ciphertext";
    b.deliver(wire[0], addr_a);
    b.pump();

    // Our own requests with one id: the second is moved to a fresh one.
    std::vector<int> ids;
    for (int i = 0; i < 2; i++) {
        Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 0x7777));
        CoAPMessage_SetUri(m.get(), "coaps://192.0.2.2/info", 0);
        Mirel_Send(&a.ep, m.get());
        auto w = a.pump();
        ASSERT_EQ(w.size(), 1u);
        ids.push_back(CoAPMessage_GetId(decode(w[0]).get()));
    }
    EXPECT_EQ(ids[0], 0x7777);
    EXPECT_NE(ids[1], 0x7777);

    // An answer keeps the peer's id, though we sealed our own CON under it.
    Msg req(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 0x7777));
    CoAPMessage_SetUri(req.get(), "coaps://192.0.2.1/info", 0);
    ASSERT_EQ(Mirel_AddRes(&a.ep, "/info", MIREL_GET, info), 0);
    Mirel_Send(&b.ep, req.get());
    auto w = b.pump();
    ASSERT_EQ(w.size(), 1u);
    a.deliver(w[0], addr_b);
    auto ack = a.pump();
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(CoAPMessage_GetId(decode(ack[0]).get()), 0x7777) << "nonce of a's CON 0x7777 again";

    // Static keys: a second session derives the very same keys.
    mirel::Session s1, s2;
    ASSERT_EQ(s1.derive(kKeyA.data(), b.ep.public_key, true), 0);
    ASSERT_EQ(s2.derive(kKeyA.data(), b.ep.public_key, true), 0);
    uint8_t c1[32], c2[32];
    size_t n1 = sizeof c1, n2 = sizeof c2;
    ASSERT_EQ(Aead_Seal(s1.aead, reinterpret_cast<const uint8_t *>("same"), 4, 9, nullptr, 0, c1, &n1), 0);
    ASSERT_EQ(Aead_Seal(s2.aead, reinterpret_cast<const uint8_t *>("same"), 4, 9, nullptr, 0, c2, &n2), 0);
    EXPECT_EQ(Bytes(c1, c1 + n1), Bytes(c2, c2 + n2));
}

// A long session never runs out of ids: the record of sealed ids starts
// over before the id space is used up.
TEST(SecSession, SealedIdsStartOverBeforeTheSpaceIsFull)
{
    mirel::Session s;
    for (uint32_t i = 0; i < 65536 - 1024; i++)
        s.mark_sealed(static_cast<uint16_t>(i));
    EXPECT_TRUE(s.id_sealed(100));
    EXPECT_FALSE(s.id_sealed(65000));
    s.mark_sealed(65000);
    EXPECT_TRUE(s.id_sealed(65000));
    EXPECT_FALSE(s.id_sealed(100)) << "a new cycle";
}

TEST_F(Pair, MirrorImageKeys)
{
    mirel::Session init, resp;
    ASSERT_EQ(init.derive(kKeyA.data(), b.ep.public_key, true), 0);
    ASSERT_EQ(resp.derive(kKeyB.data(), a.ep.public_key, false), 0);
    uint8_t sealed[40], opened[40];
    size_t n = sizeof sealed, m = sizeof opened;
    const uint8_t text[] = "either way";
    ASSERT_EQ(Aead_Seal(init.aead, text, sizeof text, 3, nullptr, 0, sealed, &n), 0);
    EXPECT_EQ(Aead_Open(resp.aead, sealed, n, 3, nullptr, 0, opened, &m), 0);
    n = sizeof sealed;
    m = sizeof opened;
    ASSERT_EQ(Aead_Seal(resp.aead, text, sizeof text, 3, nullptr, 0, sealed, &n), 0);
    EXPECT_EQ(Aead_Open(init.aead, sealed, n, 3, nullptr, 0, opened, &m), 0);
    EXPECT_NE(Aead_Open(resp.aead, sealed, n, 3, nullptr, 0, opened, &m), 0)
        << "a side cannot open what it sealed itself";
}

}  // namespace
