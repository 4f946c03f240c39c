// Names asked for by local processes: broadcast queries, waiters, the
// choice among several addresses, and the cache.
#include "daemon_env.h"

#include "nschannel.h"

#include <thread>

namespace ndtest {
namespace {

class Queries : public DaemonTest {
protected:
    // A local query for text<20> from the socket s.
    void ask(int s, uint16_t id = 0x0777)
    {
        CMNetBiosNameInfo n = nbtest::name("FILER", 0x20);
        uint8_t buffer[ND_BUFFER_SIZE];
        int len = frameInternalNameQueryRequest(buffer, &n);
        ASSERT_GT(len, 0);
        buffer[0] = static_cast<uint8_t>(id >> 8);
        buffer[1] = static_cast<uint8_t>(id);
        arrive(&requester, Bytes(buffer, buffer + len), ip("127.0.0.1"), portOf(s));
        ASSERT_EQ(ndNameProcessInternalMessage(&requester), 0);
    }
    uint16_t sentQueryId()
    {
        Bytes q = receive(network);
        EXPECT_GE(q.size(), 12u);
        if (q.size() < 12)
            return 0;
        EXPECT_EQ(be16(q, 2), 0x0010);
        return be16(q, 0);
    }
    void answerFromPeer(const Bytes &m)
    {
        NDAdapter *a = adapter(ip("127.1.0.1"));
        arrive(a, m, ip("127.1.0.7"), htons(137));
        ndNameProcessExternalMessage(a);
    }
    static Bytes lastFour(const Bytes &b) { return b.size() < 4 ? Bytes{} : Bytes(b.end() - 4, b.end()); }
};

TEST_F(Queries, TwoWaitersAreAnsweredByOneResponseAndTheResultIsCached)
{
    int second = udp("127.0.0.1", 0);
    ask(client, 0x0101);
    uint16_t id = sentQueryId();
    ask(second, 0x0202);
    EXPECT_TRUE(receive(network, 50).empty()) << "one query for both";
    answerFromPeer(response(id, 0x8500, "FILER", 0x20, ND_TYPE_NB, 300, nb(0, "127.1.0.7")));
    for (int s : {client, second}) {
        Bytes answer = receive(s);
        ASSERT_GE(answer.size(), 6u);
        EXPECT_EQ(be16(answer, 2), 0x8000);
        EXPECT_EQ(lastFour(answer), (Bytes{127, 1, 0, 7}));
    }
    EXPECT_TRUE(receive(second, 50).empty()) << "each answered once";
    close(second);
    // From the cache, without a query
    ask(client, 0x0303);
    Bytes cached = receive(client);
    ASSERT_GE(cached.size(), 4u);
    EXPECT_EQ(be16(cached, 0), 0x0303);
    EXPECT_TRUE(receive(network, 50).empty());
}

TEST_F(Queries, AStaleTransactionIdIsIgnored)
{
    ask(client);
    uint16_t id = sentQueryId();
    answerFromPeer(
        response(static_cast<uint16_t>(id + 1), 0x8500, "FILER", 0x20, ND_TYPE_NB, 0, nb(0, "127.1.0.7")));
    EXPECT_TRUE(receive(client, 50).empty());
    EXPECT_EQ(ndExternalNameState(nbtest::name("FILER", 0x20).name), 1);
}

struct Choice {
    const char *what;
    std::vector<const char *> addresses;
    Bytes wanted;  // empty: none chosen
};

TEST_F(Queries, OneOfSeveralAddressesIsChosen)
{
    // 127.1.0.x is the adapter's subnet; 127.5.0.1 takes a connection on
    // TCP 139 below, 127.6.0.1 does not.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(139);
    a.sin_addr.s_addr = ip("127.5.0.1");
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    const Choice cases[] = {
        {"the second in the subnet", {"127.9.0.1", "127.1.0.44"}, Bytes{127, 1, 0, 44}},
        {"the first that connects", {"127.6.0.1", "127.5.0.1"}, Bytes{127, 5, 0, 1}},
        {"none connects", {"127.6.0.1", "127.7.0.1"}, Bytes{}},
    };
    for (const auto &c : cases) {
        ndExternalNameStop();
        ASSERT_EQ(ndExternalNameInit(), 0);
        ask(client);
        uint16_t id = sentQueryId();
        Bytes rdata;
        for (const char *address : c.addresses) {
            Bytes one = nb(0, address);
            rdata.insert(rdata.end(), one.begin(), one.end());
        }
        auto started = std::chrono::steady_clock::now();
        answerFromPeer(response(id, 0x8500, "FILER", 0x20, ND_TYPE_NB, 0, rdata));
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::seconds(1)) << c.what << ": the connects share one short limit";
        EXPECT_EQ(lastFour(receive(client, c.wanted.empty() ? 50 : 300)), c.wanted) << c.what;
    }
    close(listener);
}

TEST_F(Queries, NoAnswerEndsNegativeAndIsCachedForThreeRuns)
{
    ask(client);
    sentQueryId();
    int runs = 0;
    Bytes answer;
    while (answer.empty() && runs < 10) {
        ndExternalNameTimeout(1);
        ++runs;
        answer = receive(client, 20);
    }
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(be16(answer, 2), 0x8003);
    EXPECT_EQ(runs, 6) << "three queries, each waiting two runs";
    while (!receive(network, 10).empty()) {
    }
    ask(client);
    EXPECT_EQ(be16(receive(client), 2), 0x8003);
    EXPECT_TRUE(receive(network, 50).empty());
    for (int i = 0; i < 3; ++i)
        ndExternalNameTimeout(1);
    ask(client);
    EXPECT_NE(sentQueryId(), 0) << "asked again once the negative result expired";
}

TEST_F(Queries, MalformedAnswersLeaveTheQueryWaiting)
{
    ask(client);
    uint16_t id = sentQueryId();
    Bytes good = response(id, 0x8500, "FILER", 0x20, ND_TYPE_NB, 0, nb(0, "127.1.0.7"));
    Bytes rdlength65535 = good;
    rdlength65535[good.size() - 8] = 0xFF;
    rdlength65535[good.size() - 7] = 0xFF;
    Bytes shortRdata = response(id, 0x8500, "FILER", 0x20, ND_TYPE_NB, 0, Bytes{0, 0, 127});
    for (const Bytes &m : {Bytes(good.begin(), good.end() - 3), rdlength65535, shortRdata,
                           Bytes(good.begin(), good.begin() + 20)}) {
        answerFromPeer(m);
        EXPECT_TRUE(receive(client, 20).empty());
    }
    answerFromPeer(good);
    EXPECT_EQ(lastFour(receive(client)), (Bytes{127, 1, 0, 7}));
}

}  // namespace
}  // namespace ndtest
