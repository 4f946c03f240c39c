// The round-trip estimate of a peer and the retransmission timer of blocks
// it drives in the pool, on a clock the tests move by hand: the fixed timer
// until a measurement, bounds, backoff, Karn's rule, resends of overtaken
// blocks, and plain messages left on the fixed schedule. Also the sender's
// wake-ups held through a burst.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "../src/message_internal.h"
#include "../src/pool_internal.h"
#include "../src/rtt_estimator.h"
#include "test_util.h"

using namespace mirel_test;
using mirel::RttEstimator;

namespace {

TEST(RttEstimator, MeasurementsWithinFloorAndCeiling)
{
    struct Case {
        const char *name;
        std::vector<uint64_t> samples;
        uint64_t rto;
    } cases[] = {
        {"none: the fixed timer", {}, 3000},
        {"one of 20 ms: 20 + 4 x 10", {20}, 60},
        {"20 ms, then 40: srtt 22.5, rttvar 12.5", {20, 40}, 73},
        {"steady 20 ms: the variation fades", std::vector<uint64_t>(40, 20), 21},
        {"0 ms: the floor", {0, 0, 0}, RttEstimator::kMinMs},
        {"10 s: the ceiling", {10000}, RttEstimator::kMaxMs},
    };
    for (const Case &c : cases) {
        RttEstimator e;
        for (uint64_t s : c.samples)
            e.sample(s);
        EXPECT_EQ(e.rto(), c.rto) << c.name;
        EXPECT_EQ(e.measured(), !c.samples.empty()) << c.name;
    }
}

TEST(RttEstimator, EachRetransmissionWaitsTwiceAsLongUpToTheCeiling)
{
    RttEstimator e;
    e.sample(20);
    const uint64_t want[] = {60, 120, 240, 480, 960, 1920, 3000, 3000};
    for (unsigned sends = 1; sends <= 8; sends++)
        EXPECT_EQ(e.interval(sends), want[sends - 1]) << "after transmission " << sends;
    RttEstimator fresh;
    EXPECT_EQ(fresh.interval(1), 3000u);
    EXPECT_EQ(fresh.interval(2), 3000u);
}

TEST(RttEstimator, TimeoutsBackOffOncePerRoundUntilAMeasurement)
{
    RttEstimator e;
    e.sample(20);
    ASSERT_EQ(e.rto(), 60u);
    e.timeout(100, 160);
    EXPECT_EQ(e.rto(), 120u);
    e.timeout(110, 170);  // sent before the doubling: the same round
    EXPECT_EQ(e.rto(), 120u);
    e.timeout(160, 280);  // sent after it: the path is still silent
    EXPECT_EQ(e.rto(), 240u);
    for (int i = 0; i < 20; i++)
        e.timeout(1000 + 10000 * i, 10000 + 10000 * i);
    EXPECT_EQ(e.rto(), RttEstimator::kMaxMs);
    e.sample(20);
    EXPECT_LT(e.rto(), 120u) << "a measurement ends the backoff";
}

struct PoolFree {
    void operator()(struct CoAPMessagePool *p) const { CoAPMessagePool_Free(p); }
};
using PoolPtr = std::unique_ptr<struct CoAPMessagePool, PoolFree>;

// Blocks of one transfer to one peer through a pool on a hand-moved clock.
struct BlockTimers : ::testing::Test {
    uint64_t now = 1000000;
    const uint64_t start = now;
    PoolPtr pool{CoAPMessagePool()};
    const struct sockaddr_storage peer = v4("192.0.2.1");
    std::vector<Msg> blocks;

    void SetUp() override
    {
        CoAPMessagePool_SetClock(
            pool.get(), [](void *c) { return *static_cast<uint64_t *>(c); }, &now);
    }
    // A confirmable block (or a plain CON with the same token) with id `id`.
    struct CoAPMessage *add(int id, bool block = true)
    {
        Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE(2, 5), id));
        CoAPMessage_SetSockAddr(m.get(), &peer);
        CoAPMessage_SetToken(m.get(), "tk", 2);
        m->rtt_timed = block;
        EXPECT_EQ(CoAPMessagePool_Add(pool.get(), m.get(), 0), 0);
        blocks.push_back(std::move(m));
        return blocks.back().get();
    }
    struct CoAPMessage *msg(int id)
    {
        for (Msg &m : blocks)
            if (CoAPMessage_GetId(m.get()) == id)
                return m.get();
        return nullptr;
    }
    // Ids the sender thread takes at start + ms.
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
    void ack_at(uint64_t ms, int id)
    {
        now = start + ms;
        EXPECT_EQ(mirel::pool_acknowledged(pool.get(), msg(id), true), 0) << id;
    }
    bool pending(int id)
    {
        Msg m(CoAPMessagePool_Get(pool.get(), static_cast<uint16_t>(id), nullptr, nullptr));
        return m != nullptr;
    }
    uint64_t rto() { return mirel::pool_peer_rto(pool.get(), peer); }
};

using Ids = std::vector<int>;

// Before any measurement a block waits the fixed 3 s; an answer to a block
// sent twice measures nothing (Karn); one sent once sets the timer.
TEST_F(BlockTimers, FixedTimerUntilAnAnswerToASingleTransmission)
{
    add(1);
    EXPECT_EQ(sends_at(0), Ids{1});
    EXPECT_EQ(rto(), 3000u);
    EXPECT_EQ(sends_at(2999), Ids{});
    EXPECT_EQ(sends_at(3000), Ids{1});
    ack_at(3020, 1);
    EXPECT_EQ(rto(), 3000u) << "sent twice: either copy may have been answered";
    add(2);
    EXPECT_EQ(sends_at(3020), Ids{2});
    ack_at(3040, 2);
    EXPECT_EQ(rto(), 60u);
    EXPECT_FALSE(pending(1));
    EXPECT_FALSE(pending(2));
}

// Measured at 20 ms: a lost block goes again after 60 ms, then after waits
// that double up to 3 s, and is given up when the fixed schedule gives a
// message up, 9 s after its first transmission.
TEST_F(BlockTimers, LostBlockBacksOffAndIsGivenUpAtTheFixedTime)
{
    add(1);
    sends_at(0);
    ack_at(20, 1);
    ASSERT_EQ(rto(), 60u);
    add(2);
    struct Step {
        uint64_t ms;
        Ids sent;
        bool pending;
    } timeline[] = {
        {100, {2}, true},  {159, {}, true},  {160, {2}, true},  {279, {}, true},   {280, {2}, true},
        {519, {}, true},   {520, {2}, true}, {1000, {2}, true}, {1960, {2}, true}, {3880, {2}, true},
        {6880, {2}, true}, {9099, {}, true}, {9100, {}, false},
    };
    for (const Step &s : timeline) {
        EXPECT_EQ(sends_at(s.ms), s.sent) << "at " << s.ms << " ms";
        EXPECT_EQ(pending(2), s.pending) << "at " << s.ms << " ms";
    }
}

// Three blocks sent after a lost one are acknowledged: it goes again at
// once, long before its timer; acknowledgements of blocks sent before its
// retransmission count no more against it.
TEST_F(BlockTimers, OvertakenBlockGoesAgainAtOnce)
{
    add(1);
    sends_at(0);
    ack_at(20, 1);  // the timer is 60 ms now
    for (int id = 10; id <= 15; id++)
        add(id);
    EXPECT_EQ(sends_at(100), (Ids{10, 11, 12, 13, 14, 15}));
    ack_at(105, 11);
    ack_at(105, 12);
    EXPECT_EQ(sends_at(105), Ids{});
    ack_at(106, 13);
    EXPECT_EQ(sends_at(106), Ids{10}) << "overtaken three times";
    ack_at(107, 14);
    ack_at(107, 15);
    EXPECT_EQ(sends_at(107), Ids{}) << "14 and 15 left before 10 went again";
    EXPECT_TRUE(pending(10));
}

// A plain confirmable message to the same peer keeps the fixed schedule
// whatever the blocks measured, and is not overtaken by them.
TEST_F(BlockTimers, PlainMessagesKeepTheFixedSchedule)
{
    add(1);
    sends_at(0);
    ack_at(20, 1);
    ASSERT_EQ(rto(), 60u);
    add(5, false);
    for (int id = 6; id <= 9; id++)
        add(id);
    EXPECT_EQ(sends_at(100), (Ids{5, 6, 7, 8, 9}));
    for (int id = 6; id <= 9; id++)
        ack_at(110, id);
    EXPECT_EQ(sends_at(110), Ids{});
    EXPECT_EQ(sends_at(3099), Ids{});
    EXPECT_EQ(sends_at(3100), Ids{5});
}

}  // namespace

namespace {

// The receiver thread holds the sender's wake-ups while a burst of
// datagrams is handled: Add then queues without a signal, and releasing
// gives the one signal that was held back.
TEST(PoolSignals, HeldWhileABurstIsHandled)
{
    PoolPtr pool{CoAPMessagePool()};
    std::atomic<bool> got{false};
    std::thread sender([&] {
        while (!got.load()) {
            Msg m(CoAPMessagePool_Next(pool.get(), nullptr));
            if (m)
                got = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the sender waits by now
    mirel::pool_hold_signals(pool.get(), true);
    Msg m(CoAPMessage(COAP_TYPE_NON, COAP_CODE(2, 5), 7));
    struct sockaddr_storage peer = v4("192.0.2.1");
    CoAPMessage_SetSockAddr(m.get(), &peer);
    ASSERT_EQ(CoAPMessagePool_Add(pool.get(), m.get(), 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(got.load()) << "woken while held";
    mirel::pool_hold_signals(pool.get(), false);
    for (int i = 0; i < 200 && !got.load(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(got.load()) << "not woken when released";
    got = true;
    CoAPMessagePool_Wake(pool.get());
    sender.join();
}

}  // namespace
