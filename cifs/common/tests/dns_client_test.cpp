// The DNS client through the resolver against a scripted server on loopback
// in a network namespace of its own: answers with another id or from
// another address are ignored, server lists, domains and the SRV lookup.
#include "ud_test_env.h"

#include "cmdns.h"
#include "cmmemory.h"
#include "cmnetbios.h"
#include "cmresolver.h"
#include "cmselfip.h"

#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testenv;

namespace {

using Bytes = std::vector<uint8_t>;

int boundSocket(const char *address, uint16_t port)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(address);
    a.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    timeval t{0, 200000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    return s;
}

// A question as the server sees it.
struct Question {
    uint16_t id = 0;
    std::string name;
    uint16_t type = 0;
    sockaddr_in from{};
};

// A scripted server: for each question it runs the test's script, which
// sends what it likes with the helpers below.
class ScriptedServer {
public:
    using Script = std::function<void(ScriptedServer &, const Question &)>;
    ScriptedServer(const char *address, Script script) : script_(std::move(script))
    {
        socket_ = boundSocket(address, 53);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedServer()
    {
        stop_ = true;
        thread_.join();
        close(socket_);
    }
    bool ok() const { return socket_ >= 0; }
    int socket() const { return socket_; }
    std::vector<Question> questions() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return questions_;
    }

    // An answer of A records (or a SRV / PTR target) to q, with id, from the socket given.
    void answer(const Question &q, uint16_t id, const std::vector<std::string> &data, int from = -1)
    {
        Bytes out(512, 0);
        CMBufferWriter w;
        cmBufferWriterInit(&w, out.data(), static_cast<uint32_t>(out.size()));
        cmBufferWriterSetByteOrder(&w, 0);
        CMDnsHeader h{id, 0x81, 0x80, 1, static_cast<uint16_t>(data.size()), 0, 0};
        nsWriteDnsHeader(&w, &h);
        nsDnsEncodeName(&w, q.name.c_str());
        cmBufferWriteUint16(&w, q.type);
        cmBufferWriteUint16(&w, 1);
        for (const auto &d : data) {
            if (q.type == CM_DNS_TYPE_A) {
                uint32_t ip = inet_addr(d.c_str());
                nsDnsWriteAnswer(&w, q.name.c_str(), CM_DNS_TYPE_A, &ip, 4);
            } else if (q.type == CM_DNS_TYPE_PTR) {
                nsDnsWriteAnswer(&w, q.name.c_str(), CM_DNS_TYPE_PTR, d.c_str(), 0);
            } else {
                nsDnsEncodeName(&w, q.name.c_str());
                cmBufferWriteUint16(&w, CM_DNS_TYPE_SRV);
                cmBufferWriteUint16(&w, 1);
                cmBufferWriteUint32(&w, 60);
                cmBufferWriteUint16(&w, static_cast<uint16_t>(6 + d.size() + 2));
                cmBufferWriteBytes(&w, "\0\0\0\0\x01\x85", 6);
                nsDnsEncodeName(&w, d.c_str());
            }
        }
        out.resize(cmBufferWriterGetDataCount(&w));
        sendto(from >= 0 ? from : socket_, out.data(), out.size(), 0,
               reinterpret_cast<const sockaddr *>(&q.from), sizeof q.from);
    }

private:
    void run()
    {
        while (!stop_) {
            uint8_t buf[600];
            Question q;
            socklen_t len = sizeof q.from;
            ssize_t n = recvfrom(socket_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&q.from), &len);
            if (n < CM_DNS_HEADER_SIZE)
                continue;
            CMBufferReader r;
            cmBufferReaderInit(&r, buf, static_cast<uint32_t>(n));
            cmBufferReaderSetByteOrder(&r, 0);
            CMDnsHeader h;
            nsReadDnsHeader(&r, &h);
            char name[CM_DNS_NAME_MAX + 1];
            nsDnsDecodeName(&r, name);
            cmBufferReadUint16(&r, &q.type);
            q.id = h.id;
            q.name = name;
            {
                std::lock_guard<std::mutex> hold(lock_);
                questions_.push_back(q);
            }
            script_(*this, q);
        }
    }

    Script script_;
    int socket_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<Question> questions_;
};

class DnsClientTest : public HookTest {
protected:
    void SetUp() override
    {
        if (!enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace of its own";
        HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(cmSelfipStart(), 1);
        ASSERT_EQ(cmResolverStart(), 1);
        cmResolverCacheSet(0);
        ASSERT_EQ(nsDnsInit(), 0);
        ASSERT_EQ(cmDnsSetDomainA("corp.lan"), 0);
        cmDnsSetServersA("127.0.0.1");
    }
    void TearDown() override
    {
        nsDnsExit();
        cmResolverShutdown();
        cmSelfipShutdown();
        HookTest::TearDown();
    }
    static std::vector<uint32_t> lookup(const char *name)
    {
        std::vector<uint16_t> w = W(name);
        int count = 0;
        uint32_t *ips = cmResolverGetHostIps(w.data(), &count);
        std::vector<uint32_t> out(ips, ips + (ips != nullptr ? count : 0));
        cmMemoryFreeNonDebug(ips);
        return out;
    }
};

TEST_F(DnsClientTest, OnlyTheServersOwnAnswerCounts)
{
    int elsewhere = boundSocket("127.0.0.2", 53);
    ASSERT_GE(elsewhere, 0);
    ScriptedServer server("127.0.0.1", [&](ScriptedServer &s, const Question &q) {
        if (q.type != CM_DNS_TYPE_A) {
            s.answer(q, q.id, {});
            return;
        }
        s.answer(q, static_cast<uint16_t>(q.id + 100), {"10.6.6.6"});
        s.answer(q, q.id, {"10.7.7.7"}, elsewhere);
        s.answer(q, q.id, {"10.0.0.42"});
    });
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(lookup("nas"), (std::vector<uint32_t>{inet_addr("10.0.0.42")}));
    auto questions = server.questions();
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0].name, "nas.corp.lan") << "a single label gets the domain";
    EXPECT_EQ(questions[0].type, CM_DNS_TYPE_A);
    EXPECT_EQ(questions[1].type, CM_DNS_TYPE_AAAA);
    EXPECT_EQ(questions[1].id, questions[0].id + 1);
    close(elsewhere);
}

TEST_F(DnsClientTest, SpoofedAnswersAloneResolveNothing)
{
    ScriptedServer server("127.0.0.1", [&](ScriptedServer &s, const Question &q) {
        s.answer(q, static_cast<uint16_t>(q.id ^ 0x5555), {"10.6.6.6"});
    });
    ASSERT_TRUE(server.ok());
    EXPECT_TRUE(lookup("nas.corp.lan").empty());
}

TEST_F(DnsClientTest, FloodOfForgedAndMalformedAnswers)
{
    ScriptedServer server("127.0.0.1", [&](ScriptedServer &s, const Question &q) {
        if (q.type != CM_DNS_TYPE_A) {
            s.answer(q, q.id, {});
            return;
        }
        uint8_t junk[40];
        // Few enough that the socket buffer keeps the real answer behind them.
        for (int i = 0; i < 60; ++i) {
            for (size_t j = 0; j < sizeof junk; ++j)
                junk[j] = static_cast<uint8_t>(i * 31 + j * 7);
            sendto(s.socket(), junk, static_cast<size_t>(i % sizeof junk), 0,
                   reinterpret_cast<const sockaddr *>(&q.from), sizeof q.from);
            s.answer(q, static_cast<uint16_t>(q.id + 2 + i), {"10.6.6.6"});
        }
        s.answer(q, q.id, {"10.0.0.43"});
    });
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(lookup("big.corp.lan"), (std::vector<uint32_t>{inet_addr("10.0.0.43")}));
}

TEST_F(DnsClientTest, ReverseAndServiceLookups)
{
    ScriptedServer server("127.0.0.1", [&](ScriptedServer &s, const Question &q) {
        if (q.type == CM_DNS_TYPE_PTR && q.name == "9.0.0.10.in-addr.arpa")
            s.answer(q, q.id, {"printer.corp.lan"});
        else if (q.type == CM_DNS_TYPE_SRV && q.name == "_ldap._tcp.dc._msdcs.corp.lan")
            s.answer(q, q.id, {"dc1.corp.lan", "dc2.corp.lan"});
        else if (q.type == CM_DNS_TYPE_SRV)
            s.answer(q, q.id, {"ldap.corp.lan"});
        else
            s.answer(q, q.id, {});
    });
    ASSERT_TRUE(server.ok());
    uint32_t ip = inet_addr("10.0.0.9");
    CMWchar *name = cmResolverGetHostName(&ip);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(A(name), "printer.corp.lan");
    cmMemoryFreeNonDebug(name);

    int count = 0;
    CMWchar *dcs = cmResolverGetDCName(W("corp.lan").data(), &count);
    ASSERT_NE(dcs, nullptr);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(A(dcs), "dc1.corp.lan");
    EXPECT_EQ(A(dcs + 13), "dc2.corp.lan");
    cmMemoryFreeNonDebug(dcs);

    char result[CM_DNS_NAME_MAX + 1];
    EXPECT_EQ(nsDnsGetHostNameByService("_ldap", result), 0);
    EXPECT_STREQ(result, "ldap.corp.lan");
    EXPECT_EQ(server.questions().back().name, "_ldap.corp.lan") << "a single label gets the domain";
    EXPECT_EQ(nsDnsGetHostNameByService("\\\\10.0.0.1", result), -1);
}

TEST_F(DnsClientTest, TargetAddressesNeedAnOwnAddress)
{
    ASSERT_EQ(sethostname("nas", 3), 0);
    ASSERT_EQ(cmNetBiosInit(), 0);
    EXPECT_EQ(nsDnsSetTargetAddresses(), 0);
    ASSERT_EQ(std::system("ip link set lo down"), 0);
    EXPECT_EQ(nsDnsSetTargetAddresses(), -1);
    ASSERT_EQ(sethostname("", 0), 0);
    ASSERT_EQ(cmNetBiosInit(), 0);
    EXPECT_EQ(nsDnsSetTargetAddresses(), 0) << "no NetBIOS name: nothing to announce";
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    EXPECT_EQ(nsDnsClearTargetAddress(), 0);
    cmNetBiosExit();
}

TEST_F(DnsClientTest, ServerListsAndDomains)
{
    ScriptedServer one("127.0.0.1", [](ScriptedServer &s, const Question &q) {
        s.answer(q, q.id,
                 q.type == CM_DNS_TYPE_A ? std::vector<std::string>{"10.0.0.1"} : std::vector<std::string>{});
    });
    ScriptedServer two("127.0.0.2", [](ScriptedServer &s, const Question &q) {
        s.answer(q, q.id,
                 q.type == CM_DNS_TYPE_A ? std::vector<std::string>{"10.0.0.2"} : std::vector<std::string>{});
    });
    ASSERT_TRUE(one.ok() && two.ok());
    cmDnsSetServersA("127.0.0.1;127.000.000.002;bogus;127.0.0.2");
    std::vector<uint32_t> both = lookup("a.lan");
    std::sort(both.begin(), both.end());  // in the order the two answers came
    EXPECT_EQ(both, (std::vector<uint32_t>{inet_addr("10.0.0.1"), inet_addr("10.0.0.2")}));
    EXPECT_EQ(two.questions().size(), 2u) << "the 16-character entry was left out, the other asked once";
    cmDnsSetServersA(nullptr);
    EXPECT_TRUE(lookup("b.lan").empty());
    cmDnsSetServersA("127.0.0.2");
    EXPECT_EQ(lookup("c.lan"), (std::vector<uint32_t>{inet_addr("10.0.0.2")}));
    EXPECT_EQ(one.questions().size(), 2u);

    EXPECT_EQ(cmDnsSetDomainA(""), -1);
    EXPECT_EQ(cmDnsSetDomainA(nullptr), -1);
    EXPECT_EQ(cmDnsSetDomainA(std::string(258, 'x').c_str()), -1);
    EXPECT_EQ(cmDnsSetDomainW(nullptr), -1);
    lookup("d");
    EXPECT_EQ(two.questions().back().name, "d.corp.lan") << "the old domain stays";
    EXPECT_EQ(cmDnsSetDomainW(W("home.arpa").data()), 0);
    lookup("e");
    EXPECT_EQ(two.questions().back().name, "e.home.arpa");
}

}  // namespace
