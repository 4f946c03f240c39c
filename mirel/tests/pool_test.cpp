#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "coap_pool.h"
#include "test_util.h"

using namespace mirel_test;

namespace {

Msg message_to(const char *ip, int type, int id)
{
    Msg m(CoAPMessage(type, COAP_CODE_GET, id));
    struct sockaddr_storage a = v4(ip);
    CoAPMessage_SetSockAddr(m.get(), &a);
    return m;
}

struct PoolFree {
    void operator()(struct CoAPMessagePool *p) const { CoAPMessagePool_Free(p); }
};
using PoolPtr = std::unique_ptr<struct CoAPMessagePool, PoolFree>;

// A pool on a clock that the test moves by hand.
struct FakeTimeline : ::testing::Test {
    uint64_t now = 1000000;
    uint64_t start = now;
    PoolPtr pool{CoAPMessagePool()};

    void SetUp() override
    {
        CoAPMessagePool_SetClock(
            pool.get(), [](void *c) { return *static_cast<uint64_t *>(c); }, &now);
    }

    // Everything due at start + ms, as the sender thread would take it; the
    // Wake makes the last Next return instead of blocking.
    std::vector<int> sends_at(uint64_t ms)
    {
        now = start + ms;
        CoAPMessagePool_Wake(pool.get());
        std::vector<int> ids;
        while (struct CoAPMessage *m = CoAPMessagePool_Next(pool.get(), nullptr)) {
            ids.push_back(CoAPMessage_GetId(m));
            CoAPMessage_Decref(m);
        }
        return ids;
    }

    bool pending(int id)
    {
        Msg m(CoAPMessagePool_Get(pool.get(), static_cast<uint16_t>(id), nullptr, nullptr));
        return m != nullptr;
    }
};

using Ids = std::vector<int>;

TEST_F(FakeTimeline, UnicastConIsSentThreeTimesThreeSecondsApart)
{
    Msg con = message_to("192.0.2.1", COAP_TYPE_CON, 1);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), con.get(), 0), 0);
    struct Step {
        uint64_t ms;
        Ids sent;
        bool pending;
    } timeline[] = {
        {0, {1}, true},   {1, {}, true},     {2999, {}, true}, {3000, {1}, true},
        {5999, {}, true}, {6000, {1}, true}, {8999, {}, true}, {9000, {}, false},
    };
    for (const auto &s : timeline) {
        EXPECT_EQ(sends_at(s.ms), s.sent) << "at " << s.ms << " ms";
        EXPECT_EQ(pending(1), s.pending) << "at " << s.ms << " ms";
    }
}

TEST_F(FakeTimeline, MulticastConIsSentOnceAndKeptTwentyFiveSeconds)
{
    Msg con = message_to("224.0.0.187", COAP_TYPE_CON, 2);
    CoAPMessagePool_Add(pool.get(), con.get(), 0);
    EXPECT_EQ(sends_at(0), Ids{2});
    EXPECT_EQ(sends_at(3000), Ids{});
    EXPECT_EQ(sends_at(24999), Ids{});
    // Every member's answer finds it, whatever its address.
    struct sockaddr_storage member = v4("192.0.2.77");
    Msg found(CoAPMessagePool_Get(pool.get(), 2, &member, nullptr));
    EXPECT_TRUE(found);
    EXPECT_EQ(sends_at(25000), Ids{});
    EXPECT_FALSE(pending(2));
}

TEST_F(FakeTimeline, NothingOutlivesSixtySeconds)
{
    Msg con = message_to("224.0.0.187", COAP_TYPE_CON, 3);
    CoAPMessagePool_Add(pool.get(), con.get(), 0);
    // The sender was late: first transmission 40 s after the message was queued.
    EXPECT_EQ(sends_at(40000), Ids{3});
    EXPECT_TRUE(pending(3));
    EXPECT_EQ(sends_at(59999), Ids{});
    EXPECT_TRUE(pending(3));
    EXPECT_EQ(sends_at(60000), Ids{});
    EXPECT_FALSE(pending(3));

    Msg never = message_to("192.0.2.1", COAP_TYPE_CON, 4);
    start = now;
    CoAPMessagePool_Add(pool.get(), never.get(), 0);
    now = start + 60000;
    EXPECT_EQ(sends_at(60000), Ids{}) << "too old to be sent at all";
    EXPECT_FALSE(pending(4));
}

TEST_F(FakeTimeline, EntriesGoOutInInsertionOrderWithTheirExtraBits)
{
    Msg a = message_to("192.0.2.1", COAP_TYPE_CON, 10);
    Msg b = message_to("192.0.2.2", COAP_TYPE_NON, 11);
    Msg c = message_to("192.0.2.3", COAP_TYPE_ACK, 12);
    CoAPMessagePool_Add(pool.get(), a.get(), 0);
    CoAPMessagePool_Add(pool.get(), b.get(), COAP_POOL_PASS_BLOCK);
    CoAPMessagePool_Add(pool.get(), c.get(), COAP_POOL_PASS_BLOCK | COAP_POOL_PASS_SEC);
    uint8_t extras[3] = {99, 99, 99};
    for (uint8_t &x : extras) {
        Msg m(CoAPMessagePool_Next(pool.get(), &x));
        ASSERT_TRUE(m);
    }
    EXPECT_EQ(extras[0], 0);
    EXPECT_EQ(extras[1], 1);
    EXPECT_EQ(extras[2], 3);
    uint8_t extra = 0;
    Msg got(CoAPMessagePool_Get(pool.get(), 12, nullptr, &extra));
    EXPECT_EQ(extra, 3);
}

TEST(Pool, LookupsMatchIdAndPeer)
{
    PoolPtr pool(CoAPMessagePool());
    // Our request to A, and our acknowledgement of B's request that happens
    // to carry the same id.
    Msg ours = message_to("192.0.2.1", COAP_TYPE_CON, 100);
    Msg ack = message_to("192.0.2.2", COAP_TYPE_ACK, 100);
    CoAPMessagePool_Add(pool.get(), ours.get(), 0);
    CoAPMessagePool_Add(pool.get(), ack.get(), 0);
    struct sockaddr_storage a = v4("192.0.2.1"), b = v4("192.0.2.2"), c = v4("192.0.2.3");
    struct sockaddr_storage a_other_port = v4("192.0.2.1", 5684);

    Msg for_a(CoAPMessagePool_Get(pool.get(), 100, &a, nullptr));
    Msg for_b(CoAPMessagePool_Get(pool.get(), 100, &b, nullptr));
    EXPECT_EQ(for_a.get(), ours.get());
    EXPECT_EQ(for_b.get(), ack.get());
    EXPECT_EQ(CoAPMessagePool_Get(pool.get(), 100, &c, nullptr), nullptr);
    EXPECT_EQ(CoAPMessagePool_Get(pool.get(), 100, &a_other_port, nullptr), nullptr);
    errno = 0;
    EXPECT_EQ(CoAPMessagePool_Remove(pool.get(), 100, &c), -1);
    EXPECT_EQ(errno, ENOENT);

    // Sending the acknowledgement removes exactly it: our request stays.
    ASSERT_EQ(CoAPMessagePool_RemoveMessage(pool.get(), ack.get()), 0);
    Msg still(CoAPMessagePool_Get(pool.get(), 100, nullptr, nullptr));
    EXPECT_EQ(still.get(), ours.get());
    errno = 0;
    EXPECT_EQ(CoAPMessagePool_RemoveMessage(pool.get(), ack.get()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(CoAPMessagePool_Get(pool.get(), 101, nullptr, nullptr), nullptr);
}

TEST(Pool, SameIdAndPeerLatestFirst)
{
    PoolPtr pool(CoAPMessagePool());
    Msg first = message_to("192.0.2.1", COAP_TYPE_CON, 7);
    Msg second = message_to("192.0.2.1", COAP_TYPE_CON, 7);
    CoAPMessagePool_Add(pool.get(), first.get(), 0);
    CoAPMessagePool_Add(pool.get(), second.get(), 0);
    Msg got(CoAPMessagePool_Get(pool.get(), 7, nullptr, nullptr));
    EXPECT_EQ(got.get(), second.get());
    ASSERT_EQ(CoAPMessagePool_Remove(pool.get(), 7, nullptr), 0);
    got.reset(CoAPMessagePool_Get(pool.get(), 7, nullptr, nullptr));
    EXPECT_EQ(got.get(), first.get());
    ASSERT_EQ(CoAPMessagePool_Remove(pool.get(), 7, nullptr), 0);
    EXPECT_EQ(CoAPMessagePool_Remove(pool.get(), 7, nullptr), -1);
}

// A holder may renumber a message it has queued (to send it again); the entry
// stays findable under the id it was added with and is dropped cleanly.
TEST(Pool, IdChangedAfterAddLeavesTheEntryConsistent)
{
    PoolPtr pool(CoAPMessagePool());
    Msg renumbered = message_to("192.0.2.1", COAP_TYPE_CON, 20);
    Msg other = message_to("192.0.2.1", COAP_TYPE_CON, 21);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), renumbered.get(), 0), 0);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), other.get(), 0), 0);
    CoAPMessage_SetId(renumbered.get(), 21);

    ASSERT_EQ(CoAPMessagePool_Remove(pool.get(), 20, nullptr), 0);
    // The lookups walk what is left; a stale index entry would be a freed node.
    EXPECT_EQ(CoAPMessagePool_Get(pool.get(), 20, nullptr, nullptr), nullptr);
    Msg got(CoAPMessagePool_Get(pool.get(), 21, nullptr, nullptr));
    EXPECT_EQ(got.get(), other.get());

    // Removing by the message itself finds it under its old id too.
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), renumbered.get(), 0), 0);
    CoAPMessage_SetId(renumbered.get(), 22);
    EXPECT_EQ(CoAPMessagePool_RemoveMessage(pool.get(), renumbered.get()), 0);
    EXPECT_EQ(CoAPMessagePool_Get(pool.get(), 22, nullptr, nullptr), nullptr);
    EXPECT_EQ(CoAPMessagePool_Remove(pool.get(), 21, nullptr), 0);
    EXPECT_EQ(CoAPMessagePool_Remove(pool.get(), 21, nullptr), -1);
}

TEST(Pool, ReferencesAndArguments)
{
    PoolPtr pool(CoAPMessagePool());
    struct CoAPMessage *m = CoAPMessage(COAP_TYPE_CON, 1, 5);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), m, 0), 0);
    CoAPMessage_Decref(m);  // the pool's reference keeps it alive
    Msg got(CoAPMessagePool_Get(pool.get(), 5, nullptr, nullptr));
    ASSERT_TRUE(got);
    EXPECT_EQ(CoAPMessagePool_Clear(pool.get()), 0);
    EXPECT_EQ(CoAPMessage_GetId(got.get()), 5) << "a handed-out message outlives its entry";

    errno = 0;
    EXPECT_EQ(CoAPMessagePool_Add(nullptr, got.get(), 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(CoAPMessagePool_Add(pool.get(), nullptr, 0), -1);
    EXPECT_EQ(CoAPMessagePool_Remove(nullptr, 1, nullptr), -1);
    EXPECT_EQ(CoAPMessagePool_Clear(nullptr), -1);
    EXPECT_EQ(CoAPMessagePool_Get(nullptr, 1, nullptr, nullptr), nullptr);
    CoAPMessagePool_Free(nullptr);

    // Free drops what is still pending (ASan would report a leak otherwise).
    struct CoAPMessagePool *p = CoAPMessagePool();
    Msg left = message_to("192.0.2.1", COAP_TYPE_CON, 6);
    CoAPMessagePool_Add(p, left.get(), 0);
    CoAPMessagePool_Free(p);
}

TEST(Pool, NextBlocksUntilAddOrWake)
{
    PoolPtr pool(CoAPMessagePool());
    std::atomic<bool> returned{false};
    struct CoAPMessage *got = nullptr;
    std::thread sender([&] {
        got = CoAPMessagePool_Next(pool.get(), nullptr);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    Msg m = message_to("192.0.2.1", COAP_TYPE_NON, 9);
    CoAPMessagePool_Add(pool.get(), m.get(), 0);
    sender.join();
    ASSERT_EQ(got, m.get());
    CoAPMessage_Decref(got);

    // Shutdown: a Wake returns a sender blocked on an empty pool, and one
    // that comes to Next just after the Wake does not block either.
    CoAPMessagePool_Clear(pool.get());
    std::thread waiting([&] { EXPECT_EQ(CoAPMessagePool_Next(pool.get(), nullptr), nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CoAPMessagePool_Wake(pool.get());
    waiting.join();
    CoAPMessagePool_Wake(pool.get());
    EXPECT_EQ(CoAPMessagePool_Next(pool.get(), nullptr), nullptr);
}

double thread_cpu_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The sender sleeps until the retransmission falls due, without spinning and
// without holding the pool while it sleeps.
TEST(Pool, WaitsForTheDueTimeWithoutSpinning)
{
    PoolPtr pool(CoAPMessagePool());
    static std::atomic<uint64_t> offset{0};
    offset = 0;
    CoAPMessagePool_SetClock(
        pool.get(), [](void *) { return TimeMono_Ms() + offset.load(); }, nullptr);
    // Fifty unanswered requests wait for their retransmission.
    std::vector<Msg> msgs;
    for (int id = 0; id < 50; id++) {
        msgs.push_back(message_to("192.0.2.1", COAP_TYPE_CON, id));
        CoAPMessagePool_Add(pool.get(), msgs.back().get(), 0);
        Msg first(CoAPMessagePool_Next(pool.get(), nullptr));
        ASSERT_TRUE(first);
    }
    // Skip ahead so that the first one is due in about 150 ms of real time.
    offset = COAP_POOL_RETRANSMIT_MS - 150;

    std::atomic<bool> done{false};
    std::thread receiver([&] {
        // Meanwhile the receiver thread looks answers up without delay.
        while (!done) {
            auto t0 = std::chrono::steady_clock::now();
            Msg m(CoAPMessagePool_Get(pool.get(), 49, nullptr, nullptr));
            EXPECT_TRUE(m);
            EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    auto t0 = std::chrono::steady_clock::now();
    double cpu0 = thread_cpu_ms();
    struct CoAPMessage *m = nullptr;
    while (!(m = CoAPMessagePool_Next(pool.get(), nullptr))) {
    }
    double cpu = thread_cpu_ms() - cpu0;
    auto waited = std::chrono::steady_clock::now() - t0;
    done = true;
    receiver.join();
    EXPECT_EQ(CoAPMessage_GetId(m), 0);
    CoAPMessage_Decref(m);
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
    EXPECT_LT(cpu, 40.0) << "the sender spun instead of sleeping";
}

}  // namespace

namespace {

TEST(Pool, UnsentEntries)
{
    PoolPtr pool(CoAPMessagePool());
    EXPECT_EQ(CoAPMessagePool_Unsent(pool.get()), 0);
    Msg a = message_to("192.0.2.1", COAP_TYPE_CON, 1);
    Msg b = message_to("192.0.2.1", COAP_TYPE_ACK, 2);
    CoAPMessagePool_Add(pool.get(), a.get(), 0);
    CoAPMessagePool_Add(pool.get(), b.get(), 0);
    EXPECT_EQ(CoAPMessagePool_Unsent(pool.get()), 2);
    Msg first(CoAPMessagePool_Next(pool.get(), nullptr));
    EXPECT_EQ(CoAPMessagePool_Unsent(pool.get()), 1);
    EXPECT_EQ(CoAPMessagePool_Unsent(nullptr), -1);
}

TEST(Pool, SetExtraOfOneEntry)
{
    PoolPtr pool(CoAPMessagePool());
    Msg a = message_to("192.0.2.1", COAP_TYPE_CON, 1);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), a.get(), 0), 0);
    EXPECT_EQ(CoAPMessagePool_SetExtra(pool.get(), a.get(), 3), 0);
    uint8_t extra = 0;
    Msg got(CoAPMessagePool_Get(pool.get(), 1, nullptr, &extra));
    EXPECT_EQ(extra, 3);
    Msg other = message_to("192.0.2.1", COAP_TYPE_CON, 1);
    errno = 0;
    EXPECT_EQ(CoAPMessagePool_SetExtra(pool.get(), other.get(), 3), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Pool, GetByTokenFindsPendingConfirmables)
{
    PoolPtr pool(CoAPMessagePool());
    Msg a = message_to("192.0.2.1", COAP_TYPE_CON, 1);
    CoAPMessage_SetToken(a.get(), "tok", 3);
    Msg n = message_to("192.0.2.1", COAP_TYPE_NON, 2);
    CoAPMessage_SetToken(n.get(), "non", 3);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), a.get(), 0), 0);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), n.get(), 0), 0);
    struct sockaddr_storage p1 = v4("192.0.2.1"), p2 = v4("192.0.2.2");
    const uint8_t tok[] = {'t', 'o', 'k'}, non[] = {'n', 'o', 'n'};
    Msg found(CoAPMessagePool_GetByToken(pool.get(), tok, 3, &p1));
    ASSERT_TRUE(found);
    EXPECT_EQ(CoAPMessage_GetId(found.get()), 1);
    EXPECT_FALSE(Msg(CoAPMessagePool_GetByToken(pool.get(), tok, 3, &p2))) << "other peer";
    EXPECT_FALSE(Msg(CoAPMessagePool_GetByToken(pool.get(), tok, 2, &p1))) << "shorter token";
    EXPECT_FALSE(Msg(CoAPMessagePool_GetByToken(pool.get(), non, 3, &p1))) << "not confirmable";
    EXPECT_TRUE(Msg(CoAPMessagePool_GetByToken(pool.get(), tok, 3, nullptr))) << "any peer";

    Msg b = message_to("192.0.2.1", COAP_TYPE_CON, 3);
    CoAPMessage_SetToken(b.get(), "tok", 3);
    Msg c = message_to("192.0.2.2", COAP_TYPE_CON, 4);
    CoAPMessage_SetToken(c.get(), "tok", 3);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), b.get(), 0), 0);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), c.get(), 0), 0);
    EXPECT_EQ(CoAPMessagePool_RemoveByToken(pool.get(), tok, 3, &p1, b.get()), 1);
    EXPECT_TRUE(Msg(CoAPMessagePool_Get(pool.get(), 3, &p1, nullptr))) << "kept";
    EXPECT_FALSE(Msg(CoAPMessagePool_Get(pool.get(), 1, &p1, nullptr)));
    EXPECT_TRUE(Msg(CoAPMessagePool_Get(pool.get(), 4, &p2, nullptr))) << "other peer's";
    EXPECT_TRUE(Msg(CoAPMessagePool_Get(pool.get(), 2, &p1, nullptr))) << "NON stays";
}

}  // namespace
