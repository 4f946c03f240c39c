// The loopback channels: each request byte for byte, the checks of the
// daemon's answers, and the client calls against the scripted daemon.
#include "layer_env.h"

#include "cmmemory.h"
#include "cmresolver.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

using namespace nbtest;

namespace {

std::string be32(uint32_t v)
{
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
}
std::string le32(uint32_t v)
{
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::string framed(int (*frame)(uint8_t *, const CMNetBiosNameInfo *), const CMNetBiosNameInfo &n)
{
    Bytes b(NS_DATAGRAM_BUFFER_SIZE, 0xEE);
    int len = frame(b.data(), &n);
    EXPECT_GT(len, 4);
    return len > 4 ? std::string(b.begin() + 2, b.begin() + len) : std::string();  // past the id
}

class ChannelFrames : public HookedTest {};

TEST_F(ChannelFrames, NameRequestsByteForByte)
{
    // No WINS server: b-node, so the NB flags are 0x0000 or 0x8000.
    const std::string pid = be32(static_cast<uint32_t>(getpid()));
    const std::string counts1 = std::string("\x00\x01\x00\x00\x00\x00\x00\x01", 8);
    const std::string additional = std::string("\xC0\x0C\x00\x20\x00\x01\x00\x00\x00\x02\x06\x00", 12);
    const struct {
        const char *what;
        int (*frame)(uint8_t *, const CMNetBiosNameInfo *);
        uint32_t group;
        std::string want;
    } cases[] = {
        {"registration", frameInternalNameRegistrationRequest, 0,
         std::string("\x29\x00", 2) + counts1 + encodedFred(0x20) + std::string("\x00\x20\x00\x01", 4) +
             additional + std::string("\x00\x00", 2) + pid},
        {"group registration", frameInternalNameRegistrationRequest, 1,
         std::string("\x29\x00", 2) + counts1 + encodedFred(0x20) + std::string("\x00\x20\x00\x01", 4) +
             additional + std::string("\x80\x00", 2) + pid},
        {"release", frameInternalNameReleaseRequest, 0,
         std::string("\x30\x00", 2) + counts1 + encodedFred(0x20) + std::string("\x00\x20\x00\x01", 4) +
             additional + std::string("\x00\x00", 2) + pid},
        {"query", frameInternalNameQueryRequest, 0,
         std::string("\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10) + encodedFred(0x20) +
             std::string("\x00\x20\x00\x01", 4)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(framed(c.frame, name("fred", 0x20, c.group)), c.want);
    }
}

TEST_F(ChannelFrames, FreshTransactionIds)
{
    Bytes a(NS_DATAGRAM_BUFFER_SIZE), b(NS_DATAGRAM_BUFFER_SIZE);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    frameInternalNameQueryRequest(a.data(), &fred);
    frameInternalNameQueryRequest(b.data(), &fred);
    EXPECT_EQ(((b[0] << 8) | b[1]) - ((a[0] << 8) | a[1]), 1);
}

TEST_F(ChannelFrames, SetWinsLengthIsTwiceCharactersPlusSeven)
{
    for (std::string list : {"", "10.0.0.1", "10.0.0.1;10.0.0.2"}) {
        SCOPED_TRACE(list);
        auto w = testenv::W(list);
        Bytes b(NS_DATAGRAM_BUFFER_SIZE, 0xEE);
        int n = frameInternalSetWinsRequest(b.data(), static_cast<uint32_t>(b.size()), w.data());
        ASSERT_EQ(n, static_cast<int>(2 * (list.size() + 7)));
        EXPECT_EQ(std::string(b.begin() + 2, b.begin() + 12),
                  std::string("\x60\x00\x00\x01\x00\x00\x00\x00\x00\x01", 10));
        for (size_t i = 0; i < list.size(); ++i)
            EXPECT_EQ(b[12 + 2 * i] | (b[13 + 2 * i] << 8), list[i]);
        EXPECT_EQ(b[n - 2] | b[n - 1], 0);
    }
    // A list longer than the datagram is refused, not cut.
    auto longList = testenv::W(std::string(800, '1'));
    Bytes b(NS_DATAGRAM_BUFFER_SIZE);
    EXPECT_EQ(frameInternalSetWinsRequest(b.data(), static_cast<uint32_t>(b.size()), longList.data()), -1);
}

TEST_F(ChannelFrames, ListenAndCancelListen)
{
    NSSocket slot{};
    slot.type = NS_SOCKET_DATAGRAM;
    slot.name = name("fred", 0x20);
    slot.ip = inet_addr("127.0.0.1");
    slot.port = htons(40000);
    const std::string pid = le32(static_cast<uint32_t>(getpid()));
    const std::string dd =
        std::string("\x20") + "FEEBFCFBFFEFEOEJFI" + "CAEOECFECAEEEE" + std::string("\0", 1);
    ASSERT_EQ(fakend::encodeName(fakend::kDistributor), text_bytes(dd));
    struct Case {
        const char *what;
        int (*frame)(uint8_t *, const NSSocket *);
        uint32_t type;
        std::string data;
    } cases[] = {
        {"listen datagram", frameInternalListenRequest, NS_SOCKET_DATAGRAM,
         std::string("\x01\x00\x11\x00\x01\x00\x9C\x40", 8) + "*123456789012345" + std::string("\0", 1) +
             pid},
        {"listen stream", frameInternalListenRequest, NS_SOCKET_STREAM,
         std::string("\x01\x00\x11\x00\x03\x00\x9C\x40", 8) + "*123456789012345" + std::string("\0", 1) +
             pid},
        {"cancel datagram", frameInternalCancelListen, NS_SOCKET_DATAGRAM,
         std::string("\x01\x00\x19\x00\x05\x00", 6) + pid},
        {"cancel stream", frameInternalCancelListen, NS_SOCKET_STREAM,
         std::string("\x01\x00\x19\x00\x06\x00", 6) + pid},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        slot.type = c.type;
        Bytes b(NS_DATAGRAM_BUFFER_SIZE, 0xEE);
        int n = c.frame(b.data(), &slot);
        ASSERT_EQ(n, static_cast<int>(14 + 68 + c.data.size()));
        EXPECT_EQ(b[0], 0x10);
        EXPECT_EQ(b[1], 0x02);  // b-node, first fragment
        const std::string header = std::string("\x7F\x00\x00\x01\x9C\x40\x00", 7) +
                                   static_cast<char>(n - 14) + std::string("\0\0", 2);
        EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 14), header);
        EXPECT_EQ(std::string(b.begin() + 14, b.begin() + 48), encodedFred(0x20));
        EXPECT_EQ(std::string(b.begin() + 48, b.begin() + 82), dd);
        EXPECT_EQ(std::string(b.begin() + 82, b.begin() + n), c.data);
    }
}

// Answers as the daemon sends them, and what is made of each.
TEST(ChannelAnswers, ChecksAndRdata)
{
    auto answer = [](uint16_t flags, const std::string &rdata) {
        Bytes req = text_bytes(std::string("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12) +
                               encodedFred(0x20) + std::string("\x00\x20\x00\x01", 4));
        return fakend::nameAnswer(req, flags, text_bytes(rdata));
    };
    const std::string six("\x80\x00\x0A\x01\x02\x03", 6);
    auto cut = [](Bytes b, size_t n) {
        b.resize(b.size() - n);
        return b;
    };
    const struct {
        const char *what;
        Bytes message;
        int result;
        int error;
    } cases[] = {
        {"registered", answer(0xA800, six), 0, 0},
        {"released", answer(0xB000, six), 0, 0},
        {"query answered", answer(0x8000, six), 0, 0},
        {"refused", answer(0xA803, six), -1, NS_ERR_REFUSED},
        {"unknown name", answer(0xB003, six), -1, NS_ERR_REFUSED},
        {"not a response", answer(0x2900, six), -1, NS_ERR_INVALID},
        {"wack", answer(0xB800, six), -1, NS_ERR_NO_ANSWER},
        {"other opcode", answer(0xC000, six), -1, NS_ERR_INVALID},
        {"short header", Bytes{0x12, 0x34, 0x80}, -1, NS_ERR_INVALID},
        {"rdata cut", answer(0x8000, six.substr(0, 4)), -1, NS_ERR_BAD_NAME},
        {"rdata missing", cut(answer(0x8000, six), 6), -1, NS_ERR_BAD_NAME},
        {"name cut", cut(answer(0x8000, six), 30 + 18), -1, NS_ERR_BAD_NAME},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t out[6] = {};
        errno = 0;
        EXPECT_EQ(nsParseResponseFromND(c.message.data(), static_cast<uint32_t>(c.message.size()), out),
                  c.result);
        if (c.result != 0) {
            EXPECT_EQ(errno, c.error);
        } else if (std::string(c.what) == "query answered") {
            EXPECT_EQ(std::string(out, out + 6), six);
        }
    }
}

// Against the scripted daemon.
class Channel : public LayerTest {
protected:
    void prepare() override
    {
        daemon.refused.insert(n16("taken", 0x20));
        daemon.queryAnswers[n16("printer", 0x20)] = text_bytes(std::string("\x00\x00\x0A\x00\x00\x07", 6));
        daemon.queryAnswers[n16("staff", 0x20)] = text_bytes(std::string("\x80\x00\x0A\x00\x00\x08", 6));
    }
};

TEST_F(Channel, RegisterReleaseAndQuery)
{
    CMNetBiosNameInfo fred = name("fred", 0x20);
    EXPECT_EQ(nsRegisterName(&fred), 0);
    EXPECT_TRUE(daemon.holds(n16("fred", 0x20)));
    EXPECT_EQ(nsReleaseName(&fred), 0);
    EXPECT_FALSE(daemon.holds(n16("fred", 0x20)));
    // The daemon does not know it any more: 0xB003.
    errno = 0;
    EXPECT_EQ(nsReleaseName(&fred), -1);
    EXPECT_EQ(errno, NS_ERR_RELEASE);

    uint32_t ip = 0;
    CMNetBiosNameInfo printer = name("printer", 0x20);
    ASSERT_EQ(nsGetHostByName(&ip, &printer), 0);
    EXPECT_EQ(ip, inet_addr("10.0.0.7"));
    EXPECT_EQ(printer.isGroup, 0u);
    CMNetBiosNameInfo staff = name("staff", 0x20);
    ASSERT_EQ(nsGetHostByName(&ip, &staff), 0);
    EXPECT_EQ(ip, inet_addr("10.0.0.8"));
    EXPECT_EQ(staff.isGroup, 1u);
    CMNetBiosNameInfo nobody = name("nobody", 0x20);
    EXPECT_EQ(nsGetHostByName(&ip, &nobody), -1);
}

TEST_F(Channel, RefusedNameIsAskedTwiceAndTheSocketStaysBound)
{
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    ASSERT_NE(slot, nullptr);
    CMNetBiosNameInfo taken = name("taken", 0x20);
    errno = 0;
    EXPECT_EQ(nsBindNetBios(slot, &taken, 1), -1);
    EXPECT_EQ(errno, NS_ERR_REFUSED);
    auto seen = daemon.seenOn(1026);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].bytes, seen[1].bytes);  // the same request again
    // Still bound to its port: bind fails on a bound socket.
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ASSERT_EQ(getsockname(nsGetSySocket(slot), reinterpret_cast<sockaddr *>(&a), &len), 0);
    EXPECT_EQ(a.sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_NE(a.sin_port, 0);
    nsClose(slot);
}

TEST_F(Channel, StarNamesNeverReachTheDaemon)
{
    CMNetBiosNameInfo star = name("*", 0x00);
    uint32_t ip = 0;
    errno = 0;
    EXPECT_EQ(nsRegisterName(&star), -1);
    EXPECT_EQ(errno, NS_ERR_BAD_NAME);
    EXPECT_EQ(nsGetHostByName(&ip, &star), -1);
    EXPECT_TRUE(daemon.seen().empty());
}

TEST_F(Channel, ListenGrantedOrRefused)
{
    // A held name: 7; the peer name becomes the listening mark.
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    ASSERT_NE(slot, nullptr);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    ASSERT_EQ(nsBindNetBios(slot, &fred, 1), 0);
    ASSERT_EQ(nsListen(slot, 3), 0);
    EXPECT_EQ(std::string(slot->peerName.name, 16), NS_LISTEN_PEER);
    nsClose(slot);

    // A name the daemon does not hold: 0xA4.
    Bytes b(NS_DATAGRAM_BUFFER_SIZE);
    NSSocket other{};
    other.type = NS_SOCKET_DATAGRAM;
    other.name = name("stranger", 0x20);
    int n = frameInternalListenRequest(b.data(), &other);
    ASSERT_GT(n, 0);
    errno = 0;
    EXPECT_EQ(nsProceedRequestToDD(b.data(), static_cast<uint32_t>(n), &other.name), -1);
    EXPECT_EQ(errno, NS_ERR_REFUSED);
}

TEST_F(Channel, NoDaemonAnswerIsNoAnswer)
{
    daemon.silent = true;
    CMNetBiosNameInfo fred = name("fred", 0x20);
    errno = 0;
    EXPECT_EQ(nsRegisterName(&fred), -1);
    EXPECT_EQ(errno, NS_ERR_NO_ANSWER);
    EXPECT_EQ(daemon.seenOn(1026).size(), 1u);  // a time-out is not tried again
    NSSocket slot{};
    slot.type = NS_SOCKET_DATAGRAM;
    slot.name = fred;
    Bytes b(NS_DATAGRAM_BUFFER_SIZE);
    int n = frameInternalListenRequest(b.data(), &slot);
    errno = 0;
    EXPECT_EQ(nsProceedRequestToDD(b.data(), static_cast<uint32_t>(n), &fred), -1);
    EXPECT_EQ(errno, NS_ERR_NO_ANSWER);
    EXPECT_EQ(daemon.seenOn(1027).size(), 2u);
}

TEST_F(Channel, SetWinsDoesNotWaitForAnAnswer)
{
    nsChannelSetWait(0);  // the full 102 s, were it to wait
    auto start = std::chrono::steady_clock::now();
    cmNetBiosSetWinsA("10.0.0.1;nonsense;10.0.0.2");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(cmNetBiosGetNumWinsServers(), 2u);
    EXPECT_EQ(cmNetBiosGetWins(0), inet_addr("10.0.0.1"));
    EXPECT_EQ(cmNetBiosGetWins(1), inet_addr("10.0.0.2"));
    EXPECT_EQ(cmNetBiosGetWins(2), 0u);
    ASSERT_TRUE(daemon.waitFor(1026, 1));
    auto seen = daemon.seenOn(1026);
    EXPECT_EQ(seen[0].bytes.size(), 2u * (std::string("10.0.0.1;nonsense;10.0.0.2").size() + 7));
    cmNetBiosSetWinsA("");
    EXPECT_EQ(cmNetBiosGetNumWinsServers(), 0u);
}

TEST_F(Channel, ThirdRequesterWaitsForAPooledSocket)
{
    daemon.holdNames = 2;
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (const char *n : {"one", "two", "three"}) {
        threads.emplace_back([n, &done] {
            CMNetBiosNameInfo r = name(n, 0x20);
            nsChannelSetWait(5);
            EXPECT_EQ(nsRegisterName(&r), 0);
            ++done;
        });
    }
    ASSERT_TRUE(daemon.waitFor(1026, 2));
    // Two requests held by the daemon: the third is not even sent.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(daemon.seenOn(1026).size(), 2u);
    EXPECT_EQ(done.load(), 0);
    daemon.releaseHeld(1);
    EXPECT_TRUE(daemon.waitFor(1026, 3));
    daemon.releaseHeld(1);
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(done.load(), 3);
}

TEST_F(Channel, GroupDatagramLeavesThroughTheDaemon)
{
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    ASSERT_NE(slot, nullptr);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    ASSERT_EQ(nsBindNetBios(slot, &fred, 1), 0);
    CMNetBiosNameInfo group = name("workgroup", 0x1D, 1);
    const std::string data = "hello group";
    EXPECT_EQ(nsSendToName(slot, data.data(), static_cast<uint32_t>(data.size()), &group),
              static_cast<int>(data.size()));
    ASSERT_TRUE(daemon.waitFor(1027, 1));
    Bytes got = daemon.seenOn(1027)[0].bytes;
    ASSERT_EQ(got.size(), 14 + 68 + data.size());
    EXPECT_EQ(got[0], 0x11);
    EXPECT_EQ(fakend::decodeName(got, 14), n16("fred", 0x20));
    EXPECT_EQ(fakend::decodeName(got, 48), n16("workgroup", 0x1D));
    EXPECT_EQ(std::string(got.begin() + 82, got.end()), data);
    // Too big for the 1500-byte datagram: refused, nothing sent.
    Bytes big(1500 - 82 + 1, 'x');
    errno = 0;
    EXPECT_EQ(nsSendToName(slot, big.data(), static_cast<uint32_t>(big.size()), &group), -1);
    EXPECT_EQ(errno, NS_ERR_DATAGRAM);
    Bytes fits(1500 - 82, 'x');
    EXPECT_EQ(nsSendToName(slot, fits.data(), static_cast<uint32_t>(fits.size()), &group),
              static_cast<int>(fits.size()));
    EXPECT_TRUE(daemon.waitFor(1027, 2));
    EXPECT_EQ(daemon.seenOn(1027).size(), 2u);
    nsClose(slot);
}

}  // namespace

namespace {

TEST_F(Channel, ResolverAsksTheDaemonByBroadcastMethod)
{
    auto w = testenv::W("printer");
    int count = 0;
    uint32_t *ips = cmResolverGetHostIps(w.data(), &count);
    ASSERT_NE(ips, nullptr);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(ips[0], inet_addr("10.0.0.7"));
    cmMemoryFreeNonDebug(ips);
    // The question went to the daemon's name channel, suffix <20>.
    bool asked = false;
    for (auto &s : daemon.seenOn(1026))
        asked = asked || fakend::decodeName(s.bytes, 12) == n16("printer", 0x20);
    EXPECT_TRUE(asked);
}

}  // namespace

namespace {

TEST_F(Channel, GroupDatagramsFromTwoThreadsStayWhole)
{
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    CMNetBiosNameInfo fred = name("fred", 0x20);
    ASSERT_EQ(nsBindNetBios(slot, &fred, 1), 0);
    CMNetBiosNameInfo group = name("workgroup", 0x1D, 1);
    auto sender = [&](char fill, size_t size) {
        std::string data(size, fill);
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(nsSendToName(slot, data.data(), static_cast<uint32_t>(size), &group),
                      static_cast<int>(size));
    };
    std::thread a(sender, 'a', 300), b(sender, 'b', 120);
    a.join();
    b.join();
    daemon.waitFor(1027, 200);
    size_t seen = 0;
    for (auto &s : daemon.seenOn(1027)) {
        if (s.bytes[0] != 0x11)
            continue;
        ++seen;
        std::string data(s.bytes.begin() + 82, s.bytes.end());
        EXPECT_TRUE(data == std::string(300, 'a') || data == std::string(120, 'b'));
        EXPECT_EQ((s.bytes[10] << 8 | s.bytes[11]) + 14u, s.bytes.size());
    }
    EXPECT_EQ(seen, 200u);
    nsClose(slot);
}

}  // namespace
