// SMB2 NEGOTIATE on a fresh connection: the dialect, the 3.1.1 contexts,
// the answer's fields and preauth hash, the SMB1 hand-over, and validate
// negotiate against what the client sent.
#include "smb2_fixture.h"

#include <algorithm>

using namespace smb2_test;

namespace {

struct Context {
    uint16_t type;
    Bytes data;
    uint16_t claimed = 0;  // DataLength when not the data's own
};

Bytes preauth(std::vector<uint16_t> algorithms = {1})
{
    Bytes d;
    put_le16(d, uint16_t(algorithms.size()));
    put_le16(d, 32);
    for (uint16_t a : algorithms)
        put_le16(d, a);
    d.resize(d.size() + 32, 0xAB);
    return d;
}

Bytes ciphers(std::vector<uint16_t> list)
{
    Bytes d;
    put_le16(d, uint16_t(list.size()));
    for (uint16_t c : list)
        put_le16(d, c);
    return d;
}

const uint8_t kGuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// A NEGOTIATE body; contexts go 8-aligned behind the dialects.
Bytes negotiateBody(const std::vector<uint16_t> &dialects, const std::vector<Context> &contexts = {},
                    uint32_t contextOffset = 0, uint16_t claimedCount = 0xFFFF)
{
    Bytes b;
    put_le16(b, 36);
    put_le16(b, claimedCount != 0xFFFF ? claimedCount : uint16_t(dialects.size()));
    put_le16(b, 1);  // signing enabled
    put_le16(b, 0);
    put_le32(b, 0x7F);
    b.insert(b.end(), kGuid, kGuid + 16);
    const size_t offsetAt = b.size();
    put_le32(b, 0);
    put_le16(b, uint16_t(contexts.size()));
    put_le16(b, 0);
    for (uint16_t d : dialects)
        put_le16(b, d);
    if (!contexts.empty()) {
        b.resize(((64 + b.size() + 7) & ~size_t(7)) - 64, 0);
        uint32_t offset = contextOffset ? contextOffset : uint32_t(64 + b.size());
        std::memcpy(&b[offsetAt], &offset, 4);
        for (size_t i = 0; i < contexts.size(); ++i) {
            const Context &c = contexts[i];
            put_le16(b, c.type);
            put_le16(b, c.claimed ? c.claimed : uint16_t(c.data.size()));
            put_le32(b, 0);
            b.insert(b.end(), c.data.begin(), c.data.end());
            if (i + 1 < contexts.size())
                b.resize(((64 + b.size() + 7) & ~size_t(7)) - 64, 0);
        }
    }
    return b;
}

Bytes negotiateRequest(const Bytes &body, uint64_t mid = 0)
{
    Element e;
    e.command = 0;
    e.mid = mid;
    e.body = body;
    return compound({e});
}

struct NegotiateAnswer {
    uint32_t status = 0xFFFFFFFF;
    uint16_t dialect = 0, contexts = 0, cipher = 0, hash = 0;
    uint32_t capabilities = 0, maxRead = 0;
    uint16_t credits = 0;
};

NegotiateAnswer parse(const Bytes &a)
{
    NegotiateAnswer n;
    if (a.size() < 64 + 9)
        return n;
    n.status = get_le32(&a[8]);
    n.credits = get_le16(&a[14]);
    if (n.status != 0 || a.size() < 64 + 64)
        return n;
    n.dialect = get_le16(&a[68]);
    n.contexts = get_le16(&a[70]);
    n.capabilities = get_le32(&a[88]);
    n.maxRead = get_le32(&a[96]);
    size_t at = get_le32(&a[124]);
    for (uint16_t i = 0; i < n.contexts && at + 8 <= a.size(); ++i) {
        uint16_t type = get_le16(&a[at]), length = get_le16(&a[at + 2]);
        if (type == 1 && at + 14 <= a.size())
            n.hash = get_le16(&a[at + 12]);
        if (type == 2 && at + 12 <= a.size())
            n.cipher = get_le16(&a[at + 10]);
        at = (at + 8 + length + 7) & ~size_t(7);
    }
    return n;
}

class NegotiateTest : public Smb2Test {
protected:
    NegotiateAnswer negotiate(const Bytes &body)
    {
        reconnect();
        return parse(exchange(negotiateRequest(body)));
    }
};

TEST_F(NegotiateTest, TheLastRecognisedDialectWins)
{
    const Context both{2, ciphers({1, 2})};
    struct Case {
        const char *what;
        std::vector<uint16_t> dialects;
        uint16_t dialect;
        uint32_t capabilities, maxRead;
    } cases[] = {
        {"3.1.1 then 2.0.2", {0x0311, 0x0202}, 0x0202, 0, 0x10050},
        {"2.0.2 then an unknown one", {0x0202, 0x0302}, 0x0202, 0, 0x10050},
        {"2.1", {0x0210}, 0x0210, 0, 0x10050},
        {"3.0 announces encryption", {0x0202, 0x0300}, 0x0300, 0x40, 0x1001C},
        {"nothing known", {0x0302, 0x0100}, 0xFFFF, 0, 0x10050},
        {"an empty list", {}, 0xFFFF, 0, 0x10050},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NegotiateAnswer n = negotiate(negotiateBody(c.dialects));
        EXPECT_EQ(n.status, 0u);
        EXPECT_EQ(n.dialect, c.dialect);
        EXPECT_EQ(n.capabilities, c.capabilities);
        EXPECT_EQ(n.maxRead, c.maxRead);
        EXPECT_EQ(n.contexts, 0u);
        EXPECT_EQ(n.credits, 1u);
    }
}

TEST_F(NegotiateTest, The311ContextsPickHashAndCipher)
{
    struct Case {
        const char *what;
        std::vector<Context> contexts;
        uint32_t status;
        uint16_t count, hash, cipher;
    } cases[] = {
        {"GCM before CCM", {{1, preauth()}, {2, ciphers({1, 2})}}, 0, 2, 1, 2},
        {"CCM only", {{1, preauth()}, {2, ciphers({1})}}, 0, 2, 1, 1},
        {"no known cipher", {{1, preauth()}, {2, ciphers({7})}}, 0, 1, 1, 0},
        {"no SHA-512", {{1, preauth({2})}}, 0, 1, 0xFFFF, 0},
        {"unknown contexts pass", {{5, {1, 2, 3}}, {1, preauth()}}, 0, 1, 1, 0},
        {"no preauth context", {{2, ciphers({2})}}, 0xC000000Du, 0, 0, 0},
        {"two preauth contexts", {{1, preauth()}, {1, preauth()}}, 0xC000000Du, 0, 0, 0},
        {"data past the message", {{1, preauth(), 400}}, 0xC000000Du, 0, 0, 0},
        {"algorithms past the data", {{1, preauth(), 3}}, 0xC000000Du, 0, 0, 0},
        {"no contexts at all", {}, 0xC000000Du, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NegotiateAnswer n = negotiate(negotiateBody({0x0202, 0x0311}, c.contexts));
        EXPECT_EQ(n.status, c.status);
        if (c.status != 0)
            continue;
        EXPECT_EQ(n.dialect, 0x0311u);
        EXPECT_EQ(n.capabilities, 0u);
        EXPECT_EQ(n.contexts, c.count);
        EXPECT_EQ(n.hash, c.hash);
        EXPECT_EQ(n.cipher, c.cipher);
        CSSession *s = csGetSessionBySocket();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->useGcm, c.cipher == 2 ? 1u : 0u);
    }
}

TEST_F(NegotiateTest, CountsAndOffsetsStayInsideTheMessage)
{
    const std::vector<Context> good = {{1, preauth()}};
    struct Case {
        const char *what;
        Bytes body;
    } cases[] = {
        {"dialect count past the message", negotiateBody({0x0202}, {}, 0, 200)},
        {"context offset past the message", negotiateBody({0x0311}, good, 4000)},
        {"context offset inside the header", negotiateBody({0x0311}, good, 0xFFFFFFF0u)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(negotiate(c.body).status, 0xC000000Du);
    }
}

TEST_F(NegotiateTest, The311ExchangeIsFoldedIntoTheConnectionHash)
{
    reconnect();
    Bytes request = negotiateRequest(negotiateBody({0x0311}, {{1, preauth()}, {2, ciphers({2})}}));
    Bytes response = exchange(request);
    ASSERT_EQ(parse(response).dialect, 0x0311u);
    uint8_t expected[64] = {};
    cmSmb311CalcMessagesHash(request.data(), uint32_t(request.size()), expected, nullptr);
    cmSmb311CalcMessagesHash(response.data(), uint32_t(response.size()), expected, nullptr);
    CSSession *s = csGetSessionBySocket();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::memcmp(s->preauthHash, expected, 64), 0);
    EXPECT_EQ(s->negotiateHashPending, 0u);
    EXPECT_EQ(s->creditPool, uint32_t(CS2_CREDIT_POOL));
}

TEST_F(NegotiateTest, ASecondNegotiateEndsTheConnection)
{
    reconnect();
    ASSERT_EQ(parse(exchange(negotiateRequest(negotiateBody({0x0210})))).dialect, 0x0210u);
    send(negotiateRequest(negotiateBody({0x0210}), 1));
    EXPECT_EQ(serve(), -1);
    EXPECT_TRUE(answer().empty());
}

TEST_F(NegotiateTest, AnSmb1NegotiateHandsOver)
{
    for (int wildcard : {1, 0}) {
        SCOPED_TRACE(wildcard);
        reconnect();
        Bytes buffer(4096, 0xEE);
        uint8_t *position = buffer.data() + 32;
        ASSERT_EQ(csSmb2OnSmb1Negotiate(&position, wildcard), 0u);
        Bytes answer(buffer.data(), position);
        ASSERT_GE(answer.size(), 128u);
        EXPECT_EQ(answer[0], 0xFE);
        EXPECT_EQ(get_le16(&answer[14]), 1u);
        EXPECT_EQ(get_le32(&answer[16]) & 1, 1u);
        EXPECT_EQ(get_le16(&answer[68]), wildcard ? 0x02FFu : 0x0202u);
        EXPECT_EQ(get_le16(&answer[70]), 0u);
        // The client goes on at MessageId 1; 2.0.2 chosen the SMB1 way is
        // what an SMB2 NEGOTIATE without a known dialect answers.
        NegotiateAnswer n = parse(exchange(negotiateRequest(negotiateBody({0x0302}), 1)));
        EXPECT_EQ(n.dialect, wildcard ? 0xFFFFu : 0x0202u);
    }
}

class ValidateTest : public NegotiateTest {
protected:
    // IOCTL validate negotiate with the client's view.
    Bytes validate(uint64_t mid, uint64_t sid, std::vector<uint16_t> dialects, uint32_t capabilities = 0x7F)
    {
        Bytes input;
        put_le32(input, capabilities);
        input.insert(input.end(), kGuid, kGuid + 16);
        put_le16(input, 1);
        put_le16(input, uint16_t(dialects.size()));
        for (uint16_t d : dialects)
            put_le16(input, d);
        Bytes body;
        put_le16(body, 57);
        put_le16(body, 0);
        put_le32(body, 0x00140204);
        body.resize(body.size() + 16, 0xFF);
        put_le32(body, 64 + 56);
        put_le32(body, uint32_t(input.size()));
        put_le32(body, 0);
        put_le32(body, 0);
        put_le32(body, 0);
        put_le32(body, 24);
        put_le32(body, 1);
        put_le32(body, 0);
        body.insert(body.end(), input.begin(), input.end());
        Element e;
        e.command = 11;
        e.mid = mid;
        e.sid = sid;
        e.tid = tree ? tree->tid : 0;
        e.body = body;
        return compound({e});
    }
    // A 3.0 negotiate, then a logged-on user with a tree.
    void start(std::vector<uint16_t> dialects)
    {
        reconnect();
        std::vector<Context> contexts;
        if (std::find(dialects.begin(), dialects.end(), 0x0311) != dialects.end())
            contexts.push_back({1, preauth()});
        ASSERT_EQ(parse(exchange(negotiateRequest(negotiateBody(dialects, contexts)))).status, 0u);
        session = csGetSessionBySocket();
        session->midEnd = 100;
        const uint32_t dialect = session->dialect;
        ASSERT_NE(logon(dialect), nullptr);
        tree = csGetNewTree(user);
        ASSERT_NE(tree, nullptr);
        tree->share = csGetShareByName(testenv::W("IPC$").data());
    }
    CSTree *tree = nullptr;
};

TEST_F(ValidateTest, TheSameViewIsConfirmed)
{
    for (auto dialects :
         {std::vector<uint16_t>{0x0202, 0x0210, 0x0300}, std::vector<uint16_t>{0x0202, 0x0311}}) {
        start(dialects);
        const uint16_t chosen = dialects.back();
        Bytes a = exchange(validate(1, sid(user), dialects));
        ASSERT_EQ(answerAt(a, 0).status, 0u);
        ASSERT_EQ(a.size(), 64u + 48u + 24u);
        EXPECT_EQ(get_le32(&a[64 + 4]), 0x00140204u);
        EXPECT_EQ(get_le32(&a[64 + 32]), 64u + 48u);
        EXPECT_EQ(get_le32(&a[64 + 36]), 24u);
        const uint8_t *out = &a[64 + 48];
        EXPECT_EQ(get_le32(out), 0x40u);
        EXPECT_EQ(get_le16(out + 20), 1u);
        EXPECT_EQ(get_le16(out + 22), chosen);
    }
}

TEST_F(ValidateTest, AChangedViewEndsTheConnection)
{
    const std::vector<uint16_t> sent = {0x0202, 0x0210, 0x0300};
    struct Case {
        const char *what;
        std::vector<uint16_t> dialects;
        uint32_t capabilities;
    } cases[] = {
        {"a dialect taken out", {0x0202, 0x0300}, 0x7F},
        {"another order", {0x0210, 0x0202, 0x0300}, 0x7F},
        {"other capabilities", sent, 0x01},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        start(sent);
        send(validate(1, sid(user), c.dialects, c.capabilities));
        EXPECT_EQ(serve(), -1);
        EXPECT_TRUE(answer().empty());
    }
}

TEST_F(ValidateTest, ControlsWithoutAnswerOrFile)
{
    start({0x0300});
    const struct {
        uint32_t code, status;
    } cases[] = {
        {0x00099999, 0xC0000225u},  // unknown
        {0x00060194, 0xC0000225u},  // DFS referrals: no handler
        {0x0011C017, 0xC0000008u},  // pipe transceive on a file that is not open
        {0x000900C0, 0xC0000008u},  // object id, the same
    };
    uint64_t mid = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        Bytes m = validate(mid++, sid(user), {0x0300});
        for (int i = 0; i < 4; ++i)
            m[64 + 4 + i] = uint8_t(c.code >> (8 * i));
        EXPECT_EQ(answerAt(exchange(m), 0).status, c.status);
    }
    // Input that lies past the request.
    Bytes m = validate(mid++, sid(user), {0x0300});
    m[64 + 24] = 0xF0;
    EXPECT_EQ(answerAt(exchange(m), 0).status, 0xC000000Du);
}

}  // namespace
