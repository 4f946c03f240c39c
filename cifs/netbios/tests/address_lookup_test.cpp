// Address to name by node status: the answer's walk (counts that run past
// the answer, the first active <20> name) and nsGetHostName against a
// scripted responder on UDP 137.
#include "layer_env.h"

#include "cmmemory.h"
#include "cmresolver.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace nbtest;

namespace {

struct Listed {
    std::string name16;
    uint16_t flags;
};

// A node status answer to transaction id; count may disagree with names.
Bytes statusAnswer(uint16_t id, uint16_t flags, const std::vector<Listed> &names, int count = -1,
                   uint16_t type = 0x21)
{
    Bytes a;
    fakend::put16(a, id);
    fakend::put16(a, flags);
    for (uint16_t c : {0, 1, 0, 0})
        fakend::put16(a, c);
    Bytes star = fakend::encodeName(std::string("*") + std::string(15, '\0'));
    a.insert(a.end(), star.begin(), star.end());
    fakend::put16(a, type);
    fakend::put16(a, 1);
    a.insert(a.end(), {0, 0, 0, 0});
    fakend::put16(a, static_cast<uint16_t>(1 + 18 * names.size() + 46));
    a.push_back(static_cast<uint8_t>(count >= 0 ? count : static_cast<int>(names.size())));
    for (const auto &n : names) {
        a.insert(a.end(), n.name16.begin(), n.name16.end());
        fakend::put16(a, n.flags);
    }
    a.insert(a.end(), 46, 0);
    return a;
}

TEST(NodeStatus, Answers)
{
    const std::string server = n16("fileserver", 0x20);
    const std::string ws = n16("fileserver", 0x00);
    auto cut = [](Bytes b, size_t n) {
        b.resize(n);
        return b;
    };
    const struct {
        const char *what;
        Bytes message;
        int result;
        std::string name;
    } cases[] = {
        {"third name is the one",
         statusAnswer(1, 0x8400, {{ws, 0x0400}, {n16("workgroup", 0x1E), 0x8400}, {server, 0x0400}}), 0,
         server},
        {"active <20>", statusAnswer(1, 0x8400, {{ws, 0x0400}, {server, 0x0400}}), 0, server},
        {"inactive <20> skipped", statusAnswer(1, 0x8400, {{server, 0x0000}, {n16("other", 0x20), 0x0400}}),
         0, n16("other", 0x20)},
        {"no <20>", statusAnswer(1, 0x8400, {{ws, 0x0400}}), -1, ""},
        {"count past the answer", statusAnswer(1, 0x8400, {{ws, 0x0400}}, 200), -1, ""},
        {"count zero", statusAnswer(1, 0x8400, {{server, 0x0400}}, 0), -1, ""},
        {"rcode", statusAnswer(1, 0x8403, {{server, 0x0400}}), -1, ""},
        {"type NB", statusAnswer(1, 0x8400, {{server, 0x0400}}, -1, 0x20), -1, ""},
        {"a request", statusAnswer(1, 0x0000, {{server, 0x0400}}), -1, ""},
        {"cut in the names", cut(statusAnswer(1, 0x8400, {{server, 0x0400}}), 12 + 34 + 10 + 1 + 10), -1, ""},
        {"header only", Bytes{0, 1, 0x84, 0}, -1, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        char name17[17] = {};
        EXPECT_EQ(nsParseNodeStatus(c.message.data(), static_cast<uint32_t>(c.message.size()), name17),
                  c.result);
        if (c.result == 0) {
            EXPECT_EQ(std::string(name17, 16), c.name);
        }
    }
}

// A responder on 127.0.0.1:137 that answers each status request with its script.
class HostName : public LayerTest {
protected:
    void respond(std::vector<std::function<std::vector<std::pair<int, Bytes>>(uint16_t id)>> script)
    {
        s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(137);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        responder = std::thread([this, script] {
            for (const auto &step : script) {
                pollfd p{s, POLLIN, 0};
                if (poll(&p, 1, 5000) != 1)
                    return;
                uint8_t req[600];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t n = recvfrom(s, req, sizeof req, 0, reinterpret_cast<sockaddr *>(&from), &len);
                if (n < 12)
                    return;
                requests.push_back(Bytes(req, req + n));
                uint16_t id = static_cast<uint16_t>(req[0] << 8 | req[1]);
                for (const auto &[delay, b] : step(id)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                    sendto(s, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&from), len);
                }
            }
        });
    }
    void TearDown() override
    {
        if (responder.joinable())
            responder.join();
        if (s >= 0)
            close(s);
        LayerTest::TearDown();
    }
    int s = -1;
    std::thread responder;
    std::vector<Bytes> requests;
    const std::string server = n16("fileserver", 0x20);
};

TEST_F(HostName, AnswerAfterNoiseAndWack)
{
    respond({[&](uint16_t id) {
        // A stale answer, then a WACK of 4 s, the answer after 3 s.
        Bytes wack = statusAnswer(id, 0xBC00, {});
        wack[12 + 34 + 4 + 3] = 4;  // TTL
        return std::vector<std::pair<int, Bytes>>{
            {0, statusAnswer(static_cast<uint16_t>(id + 1), 0x8400, {{n16("wrong", 0x20), 0x0400}})},
            {0, wack},
            {3000, statusAnswer(id, 0x8400, {{server, 0x0400}})}};
    }});
    uint32_t ip = inet_addr("127.0.0.1");
    char name16[16];
    // The stale answer is none; the WACK stretches the wait of the first attempt.
    ASSERT_EQ(nsGetHostName(&ip, name16), 0);
    EXPECT_EQ(std::string(name16, 16), server);
    ASSERT_EQ(requests.size(), 1u);
    // The question: "*" and fifteen zero bytes, NBSTAT, IN.
    Bytes q(requests[0].begin() + 2, requests[0].end());
    Bytes want{0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    Bytes star = fakend::encodeName(std::string("*") + std::string(15, '\0'));
    want.insert(want.end(), star.begin(), star.end());
    want.insert(want.end(), {0, 0x21, 0, 1});
    EXPECT_EQ(q, want);
}

TEST_F(HostName, RefusedOrSilent)
{
    respond({[&](uint16_t id) {
        return std::vector<std::pair<int, Bytes>>{{0, statusAnswer(id, 0x8403, {})}};
    }});
    uint32_t ip = inet_addr("127.0.0.1");
    char name16[16];
    errno = 0;
    EXPECT_EQ(nsGetHostName(&ip, name16), -1);
    EXPECT_EQ(errno, NS_ERR_REFUSED);
    responder.join();
    close(s);
    s = -1;
    errno = 0;
    EXPECT_EQ(nsGetHostName(&ip, name16), -1);
    EXPECT_EQ(errno, NS_ERR_NO_ANSWER);
}

TEST_F(HostName, ThroughTheResolver)
{
    respond({[&](uint16_t id) {
        return std::vector<std::pair<int, Bytes>>{{0, statusAnswer(id, 0x8400, {{server, 0x0400}})}};
    }});
    uint32_t ip = inet_addr("127.0.0.1");
    CMWchar *got = cmResolverGetHostName(&ip);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(testenv::A(got), "FILESERVER");
    cmMemoryFreeNonDebug(got);
}

}  // namespace

namespace {

// With a WINS server configured the resolver asks it first, by unicast.
class Wins : public HostName {
protected:
    void SetUp() override
    {
        cmConfig = "WINS=127.0.0.1\n";
        HostName::SetUp();
    }
};

TEST_F(Wins, NameQueryGoesToTheServer)
{
    EXPECT_EQ(cmNetBiosGetNumWinsServers(), 1u);
    EXPECT_EQ(cmNetBiosGetWins(0), inet_addr("127.0.0.1"));
    respond({[&](uint16_t) {
        Bytes q = requests.back();
        // A positive answer under the question's name: NB flags, 10.9.8.7.
        Bytes a(q.begin(), q.begin() + 2);
        a.insert(a.end(), {0x85, 0x00, 0, 0, 0, 1, 0, 0, 0, 0});
        size_t n = fakend::nameLength(q, 12);
        a.insert(a.end(), q.begin() + 12, q.begin() + 12 + static_cast<long>(n));
        a.insert(a.end(), {0, 0x20, 0, 1, 0, 0, 0, 0, 0, 6, 0x60, 0, 10, 9, 8, 7});
        return std::vector<std::pair<int, Bytes>>{{0, a}};
    }});
    auto w = testenv::W("files");
    int count = 0;
    uint32_t *ips = cmResolverGetHostIps(w.data(), &count);
    ASSERT_NE(ips, nullptr);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(ips[0], inet_addr("10.9.8.7"));
    cmMemoryFreeNonDebug(ips);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0][2], 0x01);  // flags 0x0100: a query, recursion desired
    EXPECT_EQ(requests[0][3], 0x00);
    EXPECT_EQ(fakend::decodeName(requests[0], 12), n16("files", 0x20));
    // The daemon was not asked: WINS answered at the higher priority.
    for (auto &s : daemon.seenOn(1026))
        EXPECT_NE(fakend::decodeName(s.bytes, 12), n16("files", 0x20));
}

}  // namespace

namespace {

// Domain controllers by broadcast: the daemon gives CORP<1B>'s address, its
// node status gives the controller's name.
class Controllers : public HostName {
protected:
    void prepare() override
    {
        daemon.queryAnswers[n16("corp", 0x1B)] = text_bytes(std::string("\x00\x00\x7F\x00\x00\x01", 6));
        daemon.queryAnswers[n16("dc1", 0x20)] = text_bytes(std::string("\x00\x00\x7F\x00\x00\x01", 6));
    }
};

TEST_F(Controllers, ByBroadcastThenNodeStatus)
{
    respond({[&](uint16_t id) {
        return std::vector<std::pair<int, Bytes>>{
            {0, statusAnswer(id, 0x8400, {{n16("dc1", 0x20), 0x0400}})}};
    }});
    // Controller lookups belong to the full start.
    ASSERT_EQ(nsExit(0, 4), 0);
    ASSERT_EQ(nsInit(0, 2), 0);
    char dc[CM_DC_NAME_MAX + 1] = {};
    EXPECT_EQ(cmGetDCNameByDomain("CORP", dc), 0);
    EXPECT_STREQ(dc, "DC1");
    ASSERT_EQ(nsExit(0, 2), 0);
    ASSERT_EQ(nsInit(0, 4), 0);
}

}  // namespace
