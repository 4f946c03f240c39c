// The daemon against bad input: every handler given malformed, truncated
// and looping messages keeps its tables and answers the next good message;
// the running daemon under a flood of junk on every port still answers and
// stops at once when asked.
#include "daemon_env.h"

#include "cmdns.h"
#include "nschannel.h"

#include <atomic>
#include <random>
#include <thread>

namespace ndtest {
namespace {

class Hostile : public DaemonTest {
protected:
    using Handler = int (*)(NDAdapter *);
    // A set-WINS request makes the loop pause a second (the releases go out
    // first): the tables below give the loopback handler only one of them.
    static bool setsWins(const Bytes &m) { return m.size() >= 4 && (m[2] & 0xF8) == 0x60; }
    void feed(Handler handler, NDAdapter *a, const Bytes &m)
    {
        if (handler == ndNameProcessInternalMessage && setsWins(m))
            return;
        arrive(a, m, ip("127.1.0.7"), htons(137));
        handler(a);
    }
};

// Names that are no names: a pointer to itself, a forward pointer, a label
// running past the end, a 0xC0 alone.
std::vector<Bytes> badNames()
{
    return {
        Bytes{0xC0, 12}, Bytes{0xC0, 40, 0, 0x20, 0, 1}, Bytes{0x20, 'A', 'B'}, Bytes{0xC0}, Bytes{0x3F, 'A'},
    };
}

TEST_F(Hostile, MalformedMessagesLeaveEveryHandlerStanding)
{
    NDAdapter *a = adapter(ip("127.1.0.1"));
    const Handler handlers[] = {ndNameProcessExternalMessage, ndNameProcessInternalMessage,
                                ndDatagramProcessExternalMessage, ndDatagramProcessInternalMessage,
                                ndLLMNRProcessExternalMessage};
    std::vector<Bytes> messages;
    for (uint16_t flags : {0x0000, 0x2910, 0x8500, 0xAD80, 0xAD00, 0xBC00, 0x3000, 0x6000}) {
        for (const Bytes &name : badNames()) {
            Bytes m = header(1, flags, 1, 1, 0, 1);
            m.insert(m.end(), name.begin(), name.end());
            messages.push_back(m);
        }
        // A whole answer, then every truncation of it
        Bytes good = response(1, flags, "WIDGET", 0x20, ND_TYPE_NB, 0, nb(0, "127.1.0.7"));
        for (size_t n = 0; n <= good.size(); ++n)
            messages.push_back(Bytes(good.begin(), good.begin() + n));
        Bytes huge = good;
        huge[good.size() - 8] = 0xFF;
        huge[good.size() - 7] = 0xFF;
        messages.push_back(huge);
    }
    // LLMNR: QDCOUNT far beyond the questions present
    Bytes many{0, 1, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 1, 'a', 0, 0, 1, 0, 1};
    messages.push_back(many);
    // Set-WINS text without its terminator, odd length
    Bytes wins = header(1, 0x6000, 1, 0, 0, 1);
    wins.insert(wins.end(), {'1', 0, '2', 0, '7'});
    messages.push_back(wins);
    for (const Bytes &m : messages)
        for (Handler h : handlers) {
            feed(h, a, m);
            feed(h, &requester, m);
        }
    arrive(&requester, wins, ip("127.0.0.1"), portOf(client));
    EXPECT_EQ(ndNameProcessInternalMessage(&requester), 0);
    for (int drained = 0; drained < 2000 && !receive(network, 1).empty(); ++drained) {
    }
    // Still answering: a node status request for "*"
    int peer = udp("127.1.0.7", 0);
    Bytes q = header(0x55, 0x0000, 1, 0, 0, 0);
    Bytes star(33, 'A');
    star[0] = 0x20;
    star[1] = 'C';
    star[2] = 'K';
    star.push_back(0);
    q.insert(q.end(), star.begin(), star.end());
    q.insert(q.end(), {0, 0x21, 0, 1});
    arrive(a, q, ip("127.1.0.7"), portOf(peer));
    ndNameProcessExternalMessage(a);
    Bytes status = receive(peer);
    close(peer);
    EXPECT_GT(status.size(), 12u);
}

TEST_F(Hostile, RandomBytesOnEveryHandler)
{
    NDAdapter *a = adapter(ip("127.1.0.1"));
    std::mt19937 random(7);
    const Handler handlers[] = {ndNameProcessExternalMessage, ndNameProcessInternalMessage,
                                ndDatagramProcessExternalMessage, ndDatagramProcessInternalMessage,
                                ndLLMNRProcessExternalMessage};
    for (int i = 0; i < 3000; ++i) {
        Bytes m(random() % 80);
        for (auto &b : m)
            b = static_cast<uint8_t>(random() % 4 == 0 ? 0xC0 : random());
        for (Handler h : handlers)
            feed(h, a, m);
    }
    while (!receive(network, 10).empty()) {
    }
    SUCCEED() << "no sanitizer report";
}

// The whole daemon, on the fixed ports of this namespace.
class Running : public nbtest::HookedTest {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace";
        nbtest::HookedTest::SetUp();
        if (IsSkipped())
            return;
        sem_init(&ready, 0, 0);
        thread = std::thread([this] { result = ndStart(&ready); });
        sem_wait(&ready);
    }
    void TearDown() override
    {
        if (thread.joinable()) {
            ndStop();
            thread.join();
        }
        sem_destroy(&ready);
        nbtest::HookedTest::TearDown();
    }
    static void sendTo(int s, const Bytes &m, uint16_t port)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = inet_addr("127.0.0.1");
        sendto(s, m.data(), m.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }
    sem_t ready;
    std::thread thread;
    int result = 0;
};

TEST_F(Running, AFloodOfJunkLeavesItAnsweringAndAStopEndsItAtOnce)
{
    int s = udp("127.0.0.1", 0);
    std::mt19937 random(11);
    for (int i = 0; i < 20000; ++i) {
        Bytes m(random() % 60);
        for (auto &b : m)
            b = static_cast<uint8_t>(random());
        if (m.size() >= 4 && (m[2] & 0xF8) == 0x60)
            m[2] = 0;  // no set-WINS pauses
        const uint16_t ports[] = {udGetPort(137), udGetPort(138), udGetPort(1026), udGetPort(1027), 5355};
        sendTo(s, m, ports[i % 5]);
    }
    ndNotifyConfigurationChange(nullptr);
    // A release of an unknown name is answered from the loopback channel.
    CMNetBiosNameInfo n = nbtest::name("NOBODY", 0x20);
    uint8_t buffer[ND_BUFFER_SIZE];
    int len = frameInternalNameReleaseRequest(buffer, &n);
    ASSERT_GT(len, 0);
    Bytes answer;
    for (int tries = 0; tries < 10 && answer.size() < 4; ++tries) {
        sendTo(s, Bytes(buffer, buffer + len), udGetPort(1026));
        answer = receive(s, 500);
        while (answer.size() >= 4 && be16(answer, 2) != 0xB003)
            answer = receive(s, 200);
    }
    close(s);
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(be16(answer, 2), 0xB003);
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + 250 * i));
        if (i < 2) {
            ndNotifyConfigurationChange(nullptr);
            continue;
        }
        auto asked = std::chrono::steady_clock::now();
        ndStop();
        thread.join();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(300))
            << "the stop wakes the select";
    }
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(testenv::exists(UD_NETBIOS_PID_FILE));
}

TEST_F(Running, ARegistrationCompletesUnderASteadyFlood)
{
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        int s = udp("127.0.0.1", 0);
        const Bytes junk{0xde, 0xad, 0xbe, 0xef};
        while (flooding)
            sendTo(s, junk, udGetPort(137));
        close(s);
    });
    int s = udp("127.0.0.1", 0);
    CMNetBiosNameInfo n = nbtest::name("WIDGET", 0x20);
    uint8_t buffer[ND_BUFFER_SIZE];
    int len = frameInternalNameRegistrationRequest(buffer, &n);
    ASSERT_GT(len, 0);
    sendTo(s, Bytes(buffer, buffer + len), udGetPort(1026));
    Bytes answer = receive(s, 6000);
    flooding = false;
    flood.join();
    close(s);
    ASSERT_GE(answer.size(), 4u) << "the name timers run while messages keep coming";
    EXPECT_EQ(be16(answer, 2), 0xA800);
}

TEST_F(Running, ASecondDaemonCannotStartAndSaysSoOnce)
{
    sem_t second;
    sem_init(&second, 0, 0);
    int r = 0;
    std::thread t([&] { r = ndStart(&second); });
    sem_wait(&second);
    t.join();
    EXPECT_EQ(r, -1);
    int value = -1;
    sem_getvalue(&second, &value);
    EXPECT_EQ(value, 0) << "posted exactly once";
    sem_destroy(&second);
}

}  // namespace
}  // namespace ndtest
