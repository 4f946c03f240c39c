// Ranking of upstream servers, the request's server heap and the generator.
#include "fw_test/log_capture.h"
#include "mt19937.h"
#include "upstream_rank.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using fw_test::LogCapture;

zmo_ip_sockaddr_t server(int n)
{
    zmo_ip_sockaddr_t sa{};
    sa.u.sa.sa_family = AF_INET;
    zmo_ip_sockaddr_pton(("192.0.2." + std::to_string(n)).c_str(), &sa);
    zmo_ip_sockaddr_set_port(&sa, 53);
    return sa;
}

// Each server answers every request after ms_of[i] milliseconds.
void traffic(dnsr::UpstreamStats &st, std::vector<int64_t> ms_of, int rounds)
{
    for (int r = 0; r < rounds; r++)
        for (size_t i = 0; i < ms_of.size(); i++) {
            st.sent(server(int(i) + 1));
            if (ms_of[i] >= 0)
                st.answered(server(int(i) + 1), 0, ms_of[i]);
        }
}

std::vector<uint32_t> ranks(dnsr::UpstreamStats &st)
{
    std::vector<uint32_t> r;
    st.visit([&](dnsr::ServerStats &s) { r.push_back(s.rank); });
    return r;
}

TEST(UpstreamRank, FastestQuarterTenSlowestFour)
{
    dnsr::UpstreamStats st({server(1), server(2), server(3), server(4)});
    dnsr::Mt19937 rng;
    traffic(st, {10, 20, 30, 40}, 16);
    st.compute_ranks(rng);
    EXPECT_EQ((std::vector<uint32_t>{10, 8, 6, 4}), ranks(st));
    // Medians and averages show what was measured.
    st.visit([](dnsr::ServerStats &s) { EXPECT_EQ(s.median, s.average); });
}

TEST(UpstreamRank, SilentServerFallsToZeroAndComesBackWithTolerance20)
{
    dnsr::UpstreamStats st({server(1), server(2)});
    dnsr::Mt19937 rng;
    traffic(st, {5, -1}, 9);
    st.compute_ranks(rng);
    EXPECT_NE(0u, ranks(st)[1]);  // 9 requests, no answer: 10 per answer not yet passed
    traffic(st, {5, -1}, 1);
    st.compute_ranks(rng);
    EXPECT_EQ(0u, ranks(st)[1]);
    EXPECT_EQ(4u, ranks(st)[0]);  // the only median is the largest one: slowest quarter

    // Still tried, but last.
    dnsr::ServerHeap heap(4);
    heap.push(ranks(st)[1], 2);
    heap.push(ranks(st)[0], 1);
    uint16_t id;
    ASSERT_TRUE(heap.pop(id));
    EXPECT_EQ(1, id);

    st.revive_failed();
    dnsr::ServerStats *s = st.find(server(2));
    EXPECT_EQ(1u, s->rank);
    EXPECT_EQ(20u, s->tolerance);
    EXPECT_EQ(10u, st.find(server(1))->tolerance);
}

TEST(UpstreamRank, SingleFastServerAndNoSamples)
{
    dnsr::UpstreamStats st({server(1)});
    dnsr::Mt19937 rng;
    st.compute_ranks(rng);
    EXPECT_EQ(1u, ranks(st)[0]);  // no samples anywhere: ranks stay
    traffic(st, {3}, 4);
    st.compute_ranks(rng);
    EXPECT_EQ(4u, ranks(st)[0]);  // 2 + 2 with a median of at most 3 ms
}

TEST(UpstreamRank, DuplicateAnswersDoNotWrap)
{
    dnsr::UpstreamStats st({server(1), server(2)});
    dnsr::Mt19937 rng;
    traffic(st, {10, 40}, 4);
    for (int i = 0; i < 10; i++)
        st.answered(server(1), 0, 10);  // more answers than requests
    st.compute_ranks(rng);
    EXPECT_EQ(10u, ranks(st)[0]);
}

TEST(UpstreamRank, ToleranceDoublingSaturates)
{
    dnsr::UpstreamStats st({server(1)});
    dnsr::ServerStats *s = st.find(server(1));
    s->tolerance = 0x90000000u;
    s->rank = 0;
    st.revive_if_all_failed();
    EXPECT_EQ(0xffffffffu, s->tolerance);
    EXPECT_EQ(1u, s->rank);
    s->rank = 5;
    st.revive_if_all_failed();  // someone has a rank: nothing happens
    EXPECT_EQ(5u, s->rank);
    st.reset_ranks();
    EXPECT_EQ(1u, s->rank);
}

TEST(UpstreamRank, RingKeepsTheLastSixteenInOrder)
{
    dnsr::UpstreamStats st({server(1)});
    dnsr::Mt19937 rng;
    for (int i = 0; i < 16; i++)
        st.answered(server(1), 0, 1000);
    st.compute_ranks(rng);  // summarizing must not reorder the ring
    for (int i = 0; i < 16; i++)
        st.answered(server(1), 0, 10);
    dnsr::ServerStats *s = st.find(server(1));
    dnsr::stats_summarize(*s);
    EXPECT_EQ(10u, s->median);
    EXPECT_EQ(10u, s->average);
    st.answered(server(1), 3, 10);
    EXPECT_EQ(1u, s->nxdomain);
    EXPECT_EQ(32u, s->answered);
    EXPECT_EQ(33u, s->samples);
}

TEST(UpstreamRank, InactivateLogsAndUnknownServersAreIgnored)
{
    LogCapture log;
    dnsr::UpstreamStats st({server(1), server(1)});
    EXPECT_EQ(1u, st.size());
    st.inactivate(server(1));
    st.inactivate(server(9));
    st.sent(server(9));
    EXPECT_TRUE(st.find(server(1))->inactive);
    EXPECT_EQ(nullptr, st.find(server(9)));
    EXPECT_EQ((std::vector<std::string>{"DNS server 192.0.2.1 inactivated"}), log.lines());
}

TEST(ServerHeap, RankFirstThenPushOrder)
{
    dnsr::ServerHeap heap(8);
    struct {
        uint32_t rank;
        uint16_t id;
    } pushes[] = {{1, 10}, {0, 11}, {99, 12}, {1, 13}, {10, 14}, {0, 15}, {99, 16}};
    for (auto &p : pushes)
        ASSERT_TRUE(heap.push(p.rank, p.id));
    std::vector<uint16_t> order;
    uint16_t id;
    while (heap.pop(id))
        order.push_back(id);
    EXPECT_EQ((std::vector<uint16_t>{12, 16, 14, 10, 13, 11, 15}), order);
    dnsr::ServerHeap small(1);
    EXPECT_TRUE(small.push(1, 1));
    EXPECT_FALSE(small.push(1, 2));
}

TEST(ServerHeap, AFullHeapKeepsTheBestServers)
{
    // Three places, five servers: the two worst are dropped whatever the
    // order they came in, and the kept ones still come out best first.
    dnsr::ServerHeap heap(3);
    EXPECT_TRUE(heap.push(1, 1));
    EXPECT_TRUE(heap.push(0, 2));
    EXPECT_TRUE(heap.push(5, 3));
    EXPECT_TRUE(heap.push(9, 4));   // takes the rank-0 server's place
    EXPECT_FALSE(heap.push(1, 5));  // no better than the worst kept (rank 1, pushed earlier)
    std::vector<uint16_t> order;
    uint16_t id;
    while (heap.pop(id))
        order.push_back(id);
    EXPECT_EQ((std::vector<uint16_t>{4, 3, 1}), order);
}

TEST(Mt19937, MatchesThePublishedSequence)
{
    // Reference output of the authors' init_by_array({0x123, 0x234, 0x345, 0x456}).
    const uint32_t key[] = {0x123, 0x234, 0x345, 0x456};
    dnsr::Mt19937 mt;
    mt.seed_by_array(key, 4);
    const uint32_t expected[] = {1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u};
    for (uint32_t e : expected)
        EXPECT_EQ(e, mt.next());
    for (int i = 5; i < 999; i++)
        mt.next();
    // The thousandth output of the same reference run.
    EXPECT_EQ(3460025646u, mt.next());
}

}  // namespace
