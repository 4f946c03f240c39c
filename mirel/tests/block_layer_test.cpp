// Block-wise transfer between two endpoint records, datagram by datagram:
// splitting, selective acknowledgement, long requests and answers, losses,
// and what a peer may not make us hold.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../src/block_layer.h"
#include "endpoint_fixture.h"

using namespace mirel_test;

namespace {

constexpr int kChanged = COAP_CODE(2, 4);
constexpr int kContent = COAP_CODE(2, 5);

std::string body_of_size(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>('a' + (i * 7 + i / 1024) % 26);
    return s;
}

std::vector<std::string> answers;
int record(struct Mirel *, struct CoAPMessage *m)
{
    char code[48];
    CoAPMessage_GetCodeStr(m, code, sizeof code);
    answers.push_back(std::string(code) + " " + payload_of(m));
    return 0;
}

std::string last_body;
int served = 0;
size_t answer_size = 0;
int store(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    served++;
    last_body = payload_of(req);
    CoAPMessage_SetCode(resp, answer_size ? kContent : kChanged);
    std::string a = answer_size ? body_of_size(answer_size) : "stored " + std::to_string(last_body.size());
    CoAPMessage_SetPayload(resp, a.data(), a.size());
    return 0;
}

struct Blocks : BarePair {
    void SetUp() override
    {
        answers.clear();
        last_body.clear();
        served = 0;
        answer_size = 0;
        ASSERT_EQ(Mirel_AddRes(&b.ep, "/store", MIREL_POST | MIREL_GET, store), 0);
    }
    Msg make(int type, int code, const std::string &body)
    {
        Msg m(CoAPMessage(type, code, -1));
        CoAPMessage_SetUri(m.get(), "coap://192.0.2.2/store", 0);
        CoAPMessage_SetToken(m.get(), "tk", 2);
        if (!body.empty())
            CoAPMessage_SetPayload(m.get(), body.data(), body.size());
        CoAPMessage_SetHandler(m.get(), record);
        return m;
    }
    void post(const std::string &body, int type = COAP_TYPE_CON)
    {
        Msg m = make(type, COAP_CODE_POST, body);
        ASSERT_EQ(Mirel_Send(&a.ep, m.get()), 0);
    }
    int transfers(BareEndpoint &e) { return SlidingWindowPool_Count(e.ep.windows, -1); }
};

struct Seen {
    int type, code, id;
    bool has_block;
    struct CoAPMessage_Block block;
    uint32_t payload;
};
Seen look(const Bytes &w, uint32_t option)
{
    Msg m(CoAPMessage_FromBytes(w.data(), w.size()));
    Seen s{
        CoAPMessage_GetType(m.get()), CoAPMessage_GetCode(m.get()), CoAPMessage_GetId(m.get()), false, {}, 0};
    s.has_block = CoAPMessage_GetOptionBlock(m.get(), option, &s.block) == 0;
    CoAPMessage_GetPayload(m.get(), &s.payload, 0);
    return s;
}

TEST_F(Blocks, SplitOnlyPastOneBlock)
{
    struct Row {
        size_t size;
        std::vector<uint32_t> blocks;  // payload length of each datagram
    };
    for (Row r :
         {Row{1024, {1024}}, Row{1025, {1024, 1}}, Row{2048, {1024, 1024}}, Row{2049, {1024, 1024, 1}}}) {
        SCOPED_TRACE(r.size);
        BareEndpoint c;
        Msg m = make(COAP_TYPE_CON, COAP_CODE_POST, body_of_size(r.size));
        int id = CoAPMessage_GetId(m.get());
        Mirel_Send(&c.ep, m.get());
        auto wire = c.pump();
        ASSERT_EQ(wire.size(), r.blocks.size());
        for (size_t i = 0; i < wire.size(); i++) {
            Seen s = look(wire[i], COAP_OPTION_BLOCK1);
            EXPECT_EQ(s.payload, r.blocks[i]);
            EXPECT_EQ(s.has_block, r.blocks.size() > 1);
            if (s.has_block) {
                EXPECT_EQ(s.block.num, i);
                EXPECT_EQ(s.block.more, i + 1 < wire.size());
                EXPECT_EQ(s.block.szx, 6u);
            }
            if (i == 0)
                EXPECT_EQ(s.id, id) << "block 0 keeps the request's id";
        }
    }
}

TEST_F(Blocks, LongRequestWindowByWindow)
{
    const std::string body = body_of_size(100 * 1024);
    post(body);
    auto first = a.pump();
    ASSERT_EQ(first.size(), 70u) << "blocks 0 to 69 at once";
    EXPECT_EQ(look(first[69], COAP_OPTION_BLOCK1).block.num, 69u);
    // Each acknowledged lowest block lets exactly one more out.
    b.deliver(first[0], addr_a);
    auto ack0 = b.pump();
    ASSERT_EQ(ack0.size(), 1u);
    Seen s = look(ack0[0], COAP_OPTION_BLOCK1);
    EXPECT_EQ(s.code, mirel::kCodeContinue);
    EXPECT_EQ(s.block.num, 0u);
    a.deliver(ack0[0], addr_b);
    auto next = a.pump();
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(look(next[0], COAP_OPTION_BLOCK1).block.num, 70u);
    for (size_t i = 1; i < first.size(); i++)
        b.deliver(first[i], addr_a);
    b.deliver(next[0], addr_a);
    settle();
    EXPECT_EQ(served, 1);
    EXPECT_TRUE(last_body == body);
    EXPECT_EQ(answers, (std::vector<std::string>{"2.04 (Changed) stored 102400"}));
    EXPECT_EQ(transfers(a), 0);
    EXPECT_EQ(transfers(b), 0);
}

TEST_F(Blocks, LongAnswerAnnouncedThenBlocks)
{
    answer_size = 3000;
    Msg m = make(COAP_TYPE_CON, COAP_CODE_GET, "");
    Mirel_Send(&a.ep, m.get());
    b.deliver(a.pump()[0], addr_a);
    auto out = b.pump();
    ASSERT_EQ(out.size(), 4u) << "announcement and three blocks";
    Seen ann = look(out[0], COAP_OPTION_BLOCK2);
    EXPECT_EQ(ann.type, COAP_TYPE_ACK);
    EXPECT_EQ(ann.code, 0);
    EXPECT_FALSE(ann.has_block);
    std::vector<int> ack_codes;
    for (size_t i = 0; i < out.size(); i++) {
        a.deliver(out[i], addr_b);
        if (i == 0)
            continue;
        auto acks = a.pump();
        ASSERT_EQ(acks.size(), 1u);
        ack_codes.push_back(look(acks[0], COAP_OPTION_BLOCK2).code);
        b.deliver(acks[0], addr_a);
    }
    EXPECT_EQ(ack_codes, (std::vector<int>{mirel::kCodeContinue, mirel::kCodeContinue, 0}))
        << "the last block is acknowledged with code 0";
    EXPECT_TRUE(answers == std::vector<std::string>{"2.05 (Content) " + body_of_size(3000)});
    EXPECT_EQ(transfers(a), 0);
    EXPECT_EQ(transfers(b), 0);
}

TEST_F(Blocks, LongAnswerToLongRequest)
{
    answer_size = 5000;
    post(body_of_size(4000));
    settle();
    EXPECT_TRUE(last_body == body_of_size(4000));
    EXPECT_TRUE(answers == std::vector<std::string>{"2.05 (Content) " + body_of_size(5000)});
    EXPECT_EQ(transfers(a), 0);
    EXPECT_EQ(transfers(b), 0);
}

// Lost acknowledgements: a block received again is acknowledged again,
// and the transfer goes on; a response block that overtakes its lost
// announcement starts the transfer.
TEST_F(Blocks, LostAcknowledgementsAndAnnouncements)
{
    post(body_of_size(3000));
    auto blocks = a.pump();
    ASSERT_EQ(blocks.size(), 3u);
    b.deliver(blocks[0], addr_a);
    auto ack = b.pump();
    ASSERT_EQ(ack.size(), 1u);
    // The ACK is lost; a copy of block 0 comes under a new id (as a peer
    // would resend it): acknowledged again, not refused.
    Msg again(CoAPMessage_FromBytes(blocks[0].data(), blocks[0].size()));
    CoAPMessage_SetId(again.get(), CoAPMessage_GetId(again.get()) + 1000);
    EXPECT_EQ(b.deliver(encode(again.get()), addr_a), 1);
    auto ack2 = b.pump();
    ASSERT_EQ(ack2.size(), 1u);
    EXPECT_EQ(look(ack2[0], COAP_OPTION_BLOCK1).code, mirel::kCodeContinue);
    a.deliver(ack[0], addr_b);
    b.deliver(blocks[1], addr_a);
    b.deliver(blocks[2], addr_a);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"2.04 (Changed) stored 3000"}));

    answers.clear();
    answer_size = 2500;
    Msg get = make(COAP_TYPE_CON, COAP_CODE_GET, "");
    CoAPMessage_SetToken(get.get(), "t2", 2);
    Mirel_Send(&a.ep, get.get());
    b.deliver(a.pump()[0], addr_a);
    auto out = b.pump();
    ASSERT_EQ(out.size(), 4u);
    for (size_t i = 1; i < out.size(); i++)  // the announcement is lost
        a.deliver(out[i], addr_b);
    settle();
    EXPECT_TRUE(answers == std::vector<std::string>{"2.05 (Content) " + body_of_size(2500)});
    EXPECT_EQ(transfers(a), 0);
}

// Sealed: each block sealed on its own, acknowledgements in clear.
TEST_F(Blocks, SealedBothWays)
{
    const Bytes ka(32, 0x11), kb(32, 0x22);
    ASSERT_EQ(Mirel_SetPrivateKey(&a.ep, ka.data(), 32), 0);
    ASSERT_EQ(Mirel_SetPrivateKey(&b.ep, kb.data(), 32), 0);
    answer_size = 5000;
    Msg m = make(COAP_TYPE_CON, COAP_CODE_POST, body_of_size(4000));
    CoAPMessage_SetUri(m.get(), "coaps://192.0.2.2/store", 0);
    ASSERT_EQ(Mirel_Send(&a.ep, m.get()), 0);
    size_t sealed_blocks = 0, clear_acks = 0;
    settle([&](bool, const Bytes &w) {
        Msg d(CoAPMessage_FromBytes(w.data(), w.size()));
        struct CoAPMessage_Block blk;
        bool block = CoAPMessage_GetOptionBlock(d.get(), COAP_OPTION_BLOCK1, &blk) == 0 ||
                     CoAPMessage_GetOptionBlock(d.get(), COAP_OPTION_BLOCK2, &blk) == 0;
        bool sealed = CoAPMessage_GetOptionOpaque(d.get(), COAP_OPTION_COAPS_URI, nullptr);
        uint32_t n = 0;
        CoAPMessage_GetPayload(d.get(), &n, 0);
        if (block && n > 0) {
            EXPECT_TRUE(sealed);
            sealed_blocks++;
        }
        if (CoAPMessage_GetCode(d.get()) == mirel::kCodeContinue) {
            EXPECT_FALSE(sealed);
            clear_acks++;
        }
        return true;
    });
    EXPECT_TRUE(last_body == body_of_size(4000));
    EXPECT_TRUE(answers == std::vector<std::string>{"2.05 (Content) " + body_of_size(5000)});
    EXPECT_EQ(sealed_blocks, 4u + 5u);
    EXPECT_GE(clear_acks, 3u + 4u);
    EXPECT_EQ(transfers(a) + transfers(b), 0);
}

// The final answer comes while an earlier block's acknowledgement is
// lost: the answer with its payload is the request's, and the earlier
// block is not sent again.
TEST_F(Blocks, FinalAnswerBeforeALostAcknowledgement)
{
    post(body_of_size(3000));
    auto blocks = a.pump();
    ASSERT_EQ(blocks.size(), 3u);
    b.deliver(blocks[0], addr_a);
    b.pump();  // block 0's acknowledgement is lost
    b.deliver(blocks[1], addr_a);
    a.deliver(b.pump().at(0), addr_b);
    b.deliver(blocks[2], addr_a);
    auto fin = b.pump();
    ASSERT_EQ(fin.size(), 1u);
    EXPECT_EQ(look(fin[0], COAP_OPTION_BLOCK1).code, kChanged);
    a.deliver(fin[0], addr_b);
    EXPECT_EQ(answers, (std::vector<std::string>{"2.04 (Changed) stored 3000"}));
    EXPECT_EQ(transfers(a), 0);
    EXPECT_EQ(CoAPMessagePool_GetByToken(a.ep.pool, reinterpret_cast<const uint8_t *>("tk"), 2, nullptr),
              nullptr)
        << "nothing of the request left to retransmit";
}

// A block lost with all its retransmissions would hold its window for
// good: a window standing still 1 s sends its lowest block again, 10 s
// every unacknowledged block.
TEST_F(Blocks, StalledWindowSendsAgain)
{
    post(body_of_size(4000));
    auto blocks = a.pump();
    ASSERT_EQ(blocks.size(), 4u);
    b.deliver(blocks[0], addr_a);
    b.deliver(blocks[3], addr_a);  // blocks 1 and 2 are lost, every time
    for (const Bytes &w : b.pump())
        a.deliver(w, addr_b);
    const uint64_t t0 = 1000000;
    auto resent = [&](uint64_t at) {
        mirel::block_sweep(&a.ep, t0 + at);
        std::vector<uint32_t> nums;
        for (const Bytes &w : a.pump())
            nums.push_back(look(w, COAP_OPTION_BLOCK1).block.num);
        return nums;
    };
    EXPECT_EQ(resent(0), std::vector<uint32_t>{});
    EXPECT_EQ(resent(999), std::vector<uint32_t>{});
    EXPECT_EQ(resent(1000), std::vector<uint32_t>{1}) << "the lowest, at 1 s";
    EXPECT_EQ(resent(1999), std::vector<uint32_t>{});
    EXPECT_EQ(resent(2000), std::vector<uint32_t>{1});
    EXPECT_EQ(resent(10000), (std::vector<uint32_t>{1, 2})) << "the whole window, at 10 s";
    for (const Bytes &w : blocks)
        b.deliver(w, addr_a);
    mirel::block_sweep(&a.ep, t0 + 11000);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"2.04 (Changed) stored 4000"}));
    EXPECT_EQ(transfers(a), 0);
}

// The server's answer is lost and a block goes again under a fresh id: the
// server, done with the body, acknowledges it with 2.31. That is no answer;
// the answer replayed for the block's first copy is.
TEST_F(Blocks, ContinueIsNoFinalAnswer)
{
    post(body_of_size(3000));
    auto blocks = a.pump();
    ASSERT_EQ(blocks.size(), 3u);
    b.deliver(blocks[0], addr_a);
    b.deliver(blocks[2], addr_a);
    for (const Bytes &w : b.pump())
        a.deliver(w, addr_b);  // 2.31 for blocks 0 and 2
    b.deliver(blocks[1], addr_a);
    auto fin = b.pump();
    ASSERT_EQ(fin.size(), 1u);  // the answer, lost on its way
    Msg copy(CoAPMessage_FromBytes(blocks[1].data(), blocks[1].size()));
    Msg pending(CoAPMessagePool_Get(a.ep.pool, static_cast<uint16_t>(CoAPMessage_GetId(copy.get())), nullptr,
                                    nullptr));
    ASSERT_TRUE(pending);
    // The client's fresh copy of block 1 (as the window's resend makes it).
    Msg fresh(CoAPMessage_Clone(pending.get(), 1));
    CoAPMessage_SetId(fresh.get(), CoAPMessage_GetId(copy.get()) + 7);
    ASSERT_EQ(Mirel_Send(&a.ep, fresh.get()), 0);
    for (const Bytes &w : a.pump())
        b.deliver(w, addr_a);
    auto cont = b.pump();
    ASSERT_EQ(cont.size(), 1u);
    EXPECT_EQ(look(cont[0], COAP_OPTION_BLOCK1).code, mirel::kCodeContinue);
    a.deliver(cont[0], addr_b);
    EXPECT_TRUE(answers.empty()) << "2.31 reached the handler";
    a.deliver(fin[0], addr_b);  // replayed for the first copy
    EXPECT_EQ(answers, (std::vector<std::string>{"2.04 (Changed) stored 3000"}));
    EXPECT_EQ(transfers(a), 0);
}

// A lost block goes again as soon as three blocks sent after it are
// acknowledged, not after the pool's 3 s: the pool sends the same message
// again, so an answer to either copy takes it.
TEST_F(Blocks, LostBlockSentAgainAfterThreeLaterAcknowledgements)
{
    post(body_of_size(5000));
    auto blocks = a.pump();
    ASSERT_EQ(blocks.size(), 5u);
    for (size_t i = 1; i <= 3; i++) {  // block 0 is lost
        b.deliver(blocks[i], addr_a);
        auto ack = b.pump();
        ASSERT_EQ(ack.size(), 1u);
        a.deliver(ack[0], addr_b);
        auto out = a.pump();
        if (i < 3) {
            EXPECT_TRUE(out.empty()) << i;
            continue;
        }
        ASSERT_EQ(out.size(), 1u);
        Seen s = look(out[0], COAP_OPTION_BLOCK1);
        EXPECT_EQ(s.block.num, 0u);
        EXPECT_EQ(s.id, look(blocks[0], COAP_OPTION_BLOCK1).id);
        b.deliver(out[0], addr_a);
    }
    b.deliver(blocks[4], addr_a);
    settle();
    EXPECT_EQ(answers, (std::vector<std::string>{"2.04 (Changed) stored 5000"}));
}

TEST_F(Blocks, NonBlocksStartNoTransfer)
{
    post(body_of_size(1500), COAP_TYPE_NON);
    auto wire = a.pump();
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(look(wire[0], COAP_OPTION_BLOCK1).type, COAP_TYPE_NON);
    for (const Bytes &w : wire)
        EXPECT_EQ(b.deliver(w, addr_a), 1);
    EXPECT_EQ(transfers(b), 0);
    EXPECT_EQ(served, 0);
}

// A peer's window of 2^32-1 is held to 256; blocks past the body cap are
// refused with 4.13 and the transfer dropped; blocks past the last one are
// not stored.
TEST_F(Blocks, PeerCannotMakeUsHoldMore)
{
    auto block = [](uint32_t num, bool more, uint32_t window, uint16_t id) {
        Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_POST, id));
        CoAPMessage_SetUri(m.get(), "coap://192.0.2.2/store", 0);
        CoAPMessage_SetToken(m.get(), "zz", 2);
        struct CoAPMessage_Block b {
            num, 6, more
        };
        CoAPMessage_AddOptionBlock(m.get(), COAP_OPTION_BLOCK1, &b);
        CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_SR_WINDOW_SIZE, window);
        std::string data(1024, 'x');
        CoAPMessage_SetPayload(m.get(), data.data(), data.size());
        return encode(m.get());
    };
    // After block 0 the window, clamped to 256, covers blocks 1 to 256:
    // block 257 is refused and not acknowledged.
    b.deliver(block(0, true, 0xffffffffu, 1), addr_a);
    EXPECT_EQ(b.pump().size(), 1u);
    EXPECT_EQ(b.deliver(block(257, true, 0xffffffffu, 2), addr_a), 2);
    EXPECT_TRUE(b.pump().empty());
    EXPECT_EQ(b.deliver(block(256, true, 0xffffffffu, 3), addr_a), 1);
    EXPECT_EQ(b.pump().size(), 1u);

    // Endless blocks: acknowledged up to the cap, then 4.13 and gone.
    uint16_t id = 100;
    int refused = 0;
    for (uint32_t n = 1; n < 1100 && refused == 0; n++) {
        b.deliver(block(n, true, 256, id++), addr_a);
        for (const Bytes &w : b.pump())
            if (look(w, COAP_OPTION_BLOCK1).code == mirel::kCodeTooLarge)
                refused = static_cast<int>(n);
    }
    EXPECT_EQ(refused, 1024) << "block 1024 would pass 1 MiB";
    EXPECT_EQ(transfers(b), 0);
    EXPECT_EQ(served, 0);
}

// Peers that start transfers and never finish them: the table holds at most
// kMaxTransfers, one address (whatever its ports) at most half of them, and
// what finds no room is refused with 5.03 at once.
TEST_F(Blocks, LiveTransfersAreCapped)
{
    struct Case {
        const char *name;
        // The i-th sender.
        struct sockaddr_storage (*from)(int i);
        int admitted;
    };
    const Case cases[] = {
        {"one address and port", [](int) { return v4("192.0.2.1"); }, mirel::kMaxTransfersPerAddress},
        {"one address, many ports", [](int i) { return v4("192.0.2.1", static_cast<uint16_t>(6000 + i)); },
         mirel::kMaxTransfersPerAddress},
        {"many addresses",
         [](int i) {
             return v4(("192.0.2." + std::to_string(10 + i)).c_str(), static_cast<uint16_t>(6000 + i));
         },
         mirel::kMaxTransfers},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BareEndpoint e;
        ASSERT_EQ(Mirel_AddRes(&e.ep, "/store", MIREL_POST | MIREL_GET, store), 0);
        std::vector<int> codes, want;
        for (int i = 0; i < mirel::kMaxTransfers + 3; i++) {
            Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_POST, 500 + i));
            CoAPMessage_SetUri(m.get(), "coap://192.0.2.2/store", 0);
            uint8_t tok[2] = {9, static_cast<uint8_t>(i)};
            CoAPMessage_SetToken(m.get(), tok, 2);
            struct CoAPMessage_Block blk {
                0, 6, 1
            };
            CoAPMessage_AddOptionBlock(m.get(), COAP_OPTION_BLOCK1, &blk);
            CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_SR_WINDOW_SIZE, 70);
            CoAPMessage_SetPayload(m.get(), std::string(1024, 'y').data(), 1024);
            e.deliver(encode(m.get()), c.from(i));
            auto out = e.pump();
            ASSERT_EQ(out.size(), 1u);
            codes.push_back(look(out[0], COAP_OPTION_BLOCK1).code);
            want.push_back(i < c.admitted ? mirel::kCodeContinue : COAP_CODE(5, 3));
        }
        EXPECT_EQ(codes, want);
        EXPECT_EQ(transfers(e), c.admitted);
        static uint64_t now = 0;
        now = TimeMono_Ms() + 61000;
        SlidingWindowPool_SetClock(
            e.ep.windows, [](void *) { return now; }, nullptr);
        EXPECT_EQ(SlidingWindowPool_Expire(e.ep.windows, 60000), c.admitted);
    }
}

// Clients that ask for long answers and never acknowledge a block: once
// there is no transfer slot for another long answer, the request is answered
// 5.03 with Max-Age in the answer's place (nothing else goes out), and a
// client at another address still gets its long answer.
TEST_F(Blocks, LongAnswerWithoutASlotIsRefusedAtOnce)
{
    answer_size = 3000;
    auto get = [](int i) {
        Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 700 + i));
        CoAPMessage_SetUri(m.get(), "coap://192.0.2.2/store", 0);
        uint8_t tok[2] = {7, static_cast<uint8_t>(i)};
        CoAPMessage_SetToken(m.get(), tok, 2);
        return encode(m.get());
    };
    struct Answer {
        int type, code, id;
        bool announced;
        uint32_t max_age;
        bool operator==(const Answer &o) const
        {
            return type == o.type && code == o.code && id == o.id && announced == o.announced &&
                   max_age == o.max_age;
        }
    };
    auto answer_of = [](const std::vector<Bytes> &out) {
        Msg m(CoAPMessage_FromBytes(out.at(0).data(), out.at(0).size()));
        Answer a{CoAPMessage_GetType(m.get()), CoAPMessage_GetCode(m.get()), CoAPMessage_GetId(m.get()),
                 CoAPMessage_GetOptionUint(m.get(), COAP_OPTION_SR_WINDOW_SIZE, nullptr) == 0 ||
                     CoAPMessage_GetCode(m.get()) == 0,
                 0};
        CoAPMessage_GetOptionUint(m.get(), COAP_OPTION_MAX_AGE, &a.max_age);
        return a;
    };
    // One silent client fills its share, one port after another.
    for (int i = 0; i < mirel::kMaxTransfersPerAddress + 2; i++) {
        b.deliver(get(i), v4("192.0.2.1", static_cast<uint16_t>(6000 + i)));
        auto out = b.pump();
        ASSERT_FALSE(out.empty());
        if (i < mirel::kMaxTransfersPerAddress) {
            EXPECT_EQ(out.size(), 4u) << "announcement and three blocks";
            EXPECT_TRUE(answer_of(out) == (Answer{COAP_TYPE_ACK, 0, 700 + i, true, 0}));
        } else {
            EXPECT_EQ(out.size(), 1u) << "the refusal only";
            EXPECT_TRUE(answer_of(out) == (Answer{COAP_TYPE_ACK, mirel::kCodeUnavailable, 700 + i, false,
                                                  mirel::kBusyMaxAgeS}));
        }
    }
    EXPECT_EQ(transfers(b), mirel::kMaxTransfersPerAddress);
    // Other addresses take the rest of the table, then are refused too.
    int announced = 0, refused = 0;
    for (int i = 0; i < mirel::kMaxTransfers; i++) {
        b.deliver(get(50 + i), v4(("192.0.2." + std::to_string(100 + i)).c_str()));
        Answer a = answer_of(b.pump());
        (a.code == mirel::kCodeUnavailable ? refused : announced)++;
    }
    EXPECT_EQ(announced, mirel::kMaxTransfers - mirel::kMaxTransfersPerAddress);
    EXPECT_EQ(refused, mirel::kMaxTransfersPerAddress);
    EXPECT_EQ(transfers(b), mirel::kMaxTransfers);
    EXPECT_EQ(served, mirel::kMaxTransfersPerAddress + 2 + mirel::kMaxTransfers);
}

}  // namespace
