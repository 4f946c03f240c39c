// The duplicate memory on its own: what counts as seen, what is answered
// again, and how its bounds drop the oldest first.
#include <gtest/gtest.h>

#include "../src/duplicate_memory.h"
#include "test_util.h"

using namespace mirel_test;
using mirel::DuplicateMemory;

namespace {

struct Clocked {
    uint64_t now = 1000;
    DuplicateMemory mem;
    explicit Clocked(const DuplicateMemory::Limits &l = {}) : mem(l)
    {
        mem.set_clock([](void *c) { return *static_cast<uint64_t *>(c); }, &now);
    }
    bool dup(const struct sockaddr_storage &p, uint16_t id, Bytes *answer = nullptr)
    {
        return mem.check(p, id, answer) == DuplicateMemory::Seen::Duplicate;
    }
};

const struct sockaddr_storage a = v4("192.0.2.1", 5683);
const struct sockaddr_storage a_other_port = v4("192.0.2.1", 5684);
const struct sockaddr_storage b = v4("192.0.2.2", 5683);

TEST(DuplicateMemory, SameIdFromSamePeerOnly)
{
    Clocked c;
    EXPECT_FALSE(c.dup(a, 7));
    EXPECT_TRUE(c.dup(a, 7));
    EXPECT_FALSE(c.dup(a, 8));
    EXPECT_FALSE(c.dup(a_other_port, 7));
    EXPECT_FALSE(c.dup(b, 7));
    EXPECT_EQ(c.mem.size(), 4u);
}

TEST(DuplicateMemory, AnswerGivenBackOnceRecorded)
{
    Clocked c;
    Bytes answer{1};
    EXPECT_FALSE(c.dup(a, 7, &answer));
    EXPECT_TRUE(answer.empty());
    EXPECT_TRUE(c.dup(a, 7, &answer));
    EXPECT_TRUE(answer.empty()) << "nothing while the answer is queued";
    const uint8_t ack[] = {0x60, 0x45, 0x00, 0x07};
    c.mem.record_answer(a, 7, ack, sizeof ack);
    c.mem.record_answer(b, 7, ack, 2);  // not remembered: ignored
    EXPECT_TRUE(c.dup(a, 7, &answer));
    EXPECT_EQ(answer, Bytes(ack, ack + 4));
    EXPECT_FALSE(c.dup(b, 7, &answer));
    EXPECT_TRUE(answer.empty());
}

// A retransmission is the same datagram; another one under a remembered id
// (a peer restarted on its port, a forger) is new and takes the id over.
TEST(DuplicateMemory, OtherDatagramUnderAnIdIsNew)
{
    Clocked c;
    Bytes answer;
    EXPECT_EQ(c.mem.check(a, 7, &answer, 111), DuplicateMemory::Seen::New);
    const uint8_t ack[] = {0x60, 0x45, 0x00, 0x07};
    c.mem.record_answer(a, 7, ack, sizeof ack);
    EXPECT_EQ(c.mem.check(a, 7, &answer, 111), DuplicateMemory::Seen::Duplicate);
    EXPECT_EQ(answer.size(), 4u);
    EXPECT_EQ(c.mem.check(a, 7, &answer, 222), DuplicateMemory::Seen::New);
    EXPECT_EQ(c.mem.check(a, 7, &answer, 222), DuplicateMemory::Seen::Duplicate);
    EXPECT_TRUE(answer.empty()) << "the old answer went with the old message";
    EXPECT_NE(DuplicateMemory::fingerprint(ack, 4), DuplicateMemory::fingerprint(ack, 3));
}

TEST(DuplicateMemory, ForgottenIdIsNewAgain)
{
    Clocked c;
    EXPECT_FALSE(c.dup(a, 7));
    c.mem.forget(a, 7);
    EXPECT_FALSE(c.dup(a, 7));
    EXPECT_TRUE(c.dup(a, 7));
}

TEST(DuplicateMemory, IdsLastSixtySeconds)
{
    Clocked c;
    EXPECT_FALSE(c.dup(a, 7));
    c.now += 59999;
    EXPECT_TRUE(c.dup(a, 7));
    c.now += 1;
    EXPECT_FALSE(c.dup(a, 7)) << "60 s after it came";
    EXPECT_EQ(c.mem.size(), 1u);
}

TEST(DuplicateMemory, BoundsDropTheOldestFirst)
{
    DuplicateMemory::Limits l;
    l.per_peer = 3;
    l.entries = 5;
    l.answer_bytes = 10;
    Clocked c(l);
    for (uint16_t id = 1; id <= 4; id++)
        EXPECT_FALSE(c.dup(a, id));
    EXPECT_FALSE(c.dup(a, 1)) << "the peer's oldest went for its fourth";
    EXPECT_TRUE(c.dup(a, 4));

    // Another peer's flood takes the global room, oldest first, and never
    // more than its own share.
    Clocked g(l);
    EXPECT_FALSE(g.dup(b, 100));
    EXPECT_FALSE(g.dup(b, 101));
    for (uint16_t id = 1; id <= 20; id++)
        g.dup(a, id);
    EXPECT_TRUE(g.dup(b, 100));
    EXPECT_TRUE(g.dup(b, 101));
    EXPECT_EQ(g.mem.size(), 5u);

    // Stored answers stay within their byte budget: older answers go.
    Clocked s(l);
    const uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    s.dup(b, 1);
    s.mem.record_answer(b, 1, six, 6);
    s.dup(b, 2);
    s.mem.record_answer(b, 2, six, 6);
    Bytes answer;
    EXPECT_FALSE(s.dup(b, 1, &answer)) << "dropped for the newer answer";
    EXPECT_TRUE(s.dup(b, 2, &answer));
    EXPECT_EQ(answer.size(), 6u);
    const Bytes big(11, 0);
    s.mem.record_answer(b, 2, big.data(), big.size());
    EXPECT_TRUE(s.dup(b, 2, &answer));
    EXPECT_EQ(answer.size(), 6u) << "an answer over the whole budget is not kept";
}

}  // namespace
