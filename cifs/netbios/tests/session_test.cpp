// Sessions: frames, the session request on accepted connections, connects
// with retargets, and whole messages read in parts.
#include "layer_env.h"

#include "csbrowse.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace nbtest;

namespace {

TEST(SessionFrames, Bytes)
{
    uint8_t b[8] = {};
    EXPECT_EQ(framePositiveSessionResponse(b), 4u);
    EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x82, 0, 0, 0}));
    EXPECT_EQ(frameNegativeSessionResponse(b), 5u);
    EXPECT_EQ(Bytes(b, b + 5), (Bytes{0x83, 0, 0, 1, 0x82}));

    Bytes big(NS_MESSAGE_BUFFER_SIZE + 16, 0);
    Bytes payload(70000, 'p');
    const struct {
        uint32_t length;
        Bytes header;
        uint32_t total;
    } cases[] = {
        {5, {0, 0, 0, 5}, 9},
        {0x1234, {0, 0, 0x12, 0x34}, 0x1238},
        {0x10001, {0, 1, 0, 1}, 0x10005},
        // At most 65696 bytes of payload fit behind the header.
        {70000, {0, 1, 0, 0xA0}, 65700},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(frameSessionMessage(big.data(), payload.data(), c.length), c.total);
        EXPECT_EQ(Bytes(big.begin(), big.begin() + 4), c.header);
    }

    // The direct-TCP header carries 24 bits of length.
    EXPECT_EQ(nsPrepareNBBuffer(big.data(), 0x020304, 0x020304), 0x020308u);
    EXPECT_EQ(Bytes(big.begin(), big.begin() + 4), (Bytes{0, 2, 3, 4}));
    errno = 0;
    EXPECT_EQ(nsPrepareNBBuffer(big.data(), 0, 10), 0u);
    EXPECT_EQ(errno, NS_ERR_INVALID);
}

TEST(SessionFrames, SessionRequestCarriesBothNames)
{
    NSSocket slot{};
    slot.name = name("fred", 0x00);
    CMNetBiosNameInfo called = name("fred", 0x20);
    uint8_t b[4 + 2 * CM_NB_ENCODED_NAME_MAX];
    ASSERT_EQ(frameInternalSessionRequest(b, &called, &slot), 72);
    EXPECT_EQ(std::string(b, b + 4), std::string("\x81\x00\x00\x44", 4));
    EXPECT_EQ(std::string(b + 4, b + 38), encodedFred(0x20));
    EXPECT_EQ(std::string(b + 38, b + 72), encodedFred(0x00));
}

int tcpConnect(uint16_t port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

std::string sessionRequest(const std::string &called16, const std::string &calling16)
{
    Bytes a = fakend::encodeName(called16), b = fakend::encodeName(calling16);
    std::string body = std::string(a.begin(), a.end()) + std::string(b.begin(), b.end());
    return std::string("\x81\x00", 2) + static_cast<char>(body.size() >> 8) + static_cast<char>(body.size()) +
           body;
}

// What came back before the server closed (up to 16 bytes).
Bytes drain(int s)
{
    Bytes out(16);
    timeval tv{3, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ssize_t n = recv(s, out.data(), out.size(), 0);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

// A session-service listener under NAS<20> on port 139.
class Sessions : public LayerTest {
protected:
    void SetUp() override
    {
        LayerTest::SetUp();
        if (IsSkipped())
            return;
        listener = csPrepareSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
        ASSERT_NE(listener, nullptr);
    }
    void TearDown() override
    {
        if (listener != nullptr)
            nsClose(listener);
        LayerTest::TearDown();
    }
    // Accepts one client that sends what; the accepted slot after
    // nsPostAccept (null when refused) and what the client got back.
    NSSocket *post(const std::string &what, Bytes *answer, int *client)
    {
        *client = tcpConnect(139);
        EXPECT_GE(*client, 0);
        if (!what.empty()) {
            EXPECT_EQ(send(*client, what.data(), what.size(), 0), static_cast<ssize_t>(what.size()));
        }
        uint32_t peer = 0;
        NSSocket *slot = nsAccept(listener, &peer);
        EXPECT_NE(slot, nullptr);
        EXPECT_EQ(peer, inet_addr("127.0.0.1"));
        int r = nsPostAccept(&slot);
        EXPECT_EQ(r == 0, slot != nullptr);
        *answer = drain(*client);
        return slot;
    }
    NSSocket *listener = nullptr;
};

TEST_F(Sessions, CalledNames)
{
    const std::string calling = n16("client", 0x00);
    const struct {
        const char *what;
        std::string called;
        bool accepted;
    } cases[] = {
        {"own name", n16("nas", 0x20), true},
        {"*SMBSERVER", std::string("*SMBSERVER      ", 15) + '\x20', true},
        {"address text", std::string("127.0.0.1      ", 15) + '\x20', true},
        {"another name", n16("other", 0x20), false},
        {"own name, other suffix", n16("nas", 0x00), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes answer;
        int client = -1;
        NSSocket *slot = post(sessionRequest(c.called, calling), &answer, &client);
        if (c.accepted) {
            EXPECT_EQ(answer, (Bytes{0x82, 0, 0, 0}));
            ASSERT_NE(slot, nullptr);
            EXPECT_EQ(std::string(slot->peerName.name, 16), calling);
            nsClose(slot);
        } else {
            EXPECT_EQ(answer, (Bytes{0x83, 0, 0, 1, 0x82}));
            EXPECT_EQ(slot, nullptr);
        }
        close(client);
    }
}

TEST_F(Sessions, BadRequestsCloseWithoutAnAnswer)
{
    const std::string good = sessionRequest(n16("nas", 0x20), n16("client", 0x00));
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"one byte", "\x81"},
        {"header only", std::string("\x81\x00\x00\x44", 4)},
        {"called name cut", good.substr(0, 20)},
        {"calling name cut", good.substr(0, 50)},
        {"not a request", std::string("\x00") + good.substr(1)},
        {"silent for two seconds", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes answer;
        int client = -1;
        EXPECT_EQ(post(c.bytes, &answer, &client), nullptr);
        EXPECT_TRUE(answer.empty());
        close(client);
    }
}

// An accepted session and its client end.
class Messages : public Sessions {
protected:
    void SetUp() override
    {
        Sessions::SetUp();
        if (IsSkipped())
            return;
        Bytes answer;
        slot = post(sessionRequest(n16("nas", 0x20), n16("client", 0x00)), &answer, &client);
        ASSERT_NE(slot, nullptr);
    }
    void TearDown() override
    {
        if (slot != nullptr)
            nsClose(slot);
        if (client >= 0)
            close(client);
        Sessions::TearDown();
    }
    void sendSlowly(const std::string &bytes, size_t piece)
    {
        for (size_t i = 0; i < bytes.size(); i += piece) {
            std::string part = bytes.substr(i, piece);
            ASSERT_EQ(send(client, part.data(), part.size(), 0), static_cast<ssize_t>(part.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    NSSocket *slot = nullptr;
    int client = -1;
};

TEST_F(Messages, WholeMessageFromSplitWrites)
{
    std::string payload(3000, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    std::string framed = std::string("\x00\x00\x0B\xB8", 4) + payload;
    std::thread writer([&] { sendSlowly(framed, 701); });
    NSRecvContext ctx{};
    ASSERT_EQ(nsStartRecvIntoBuffer(slot, &ctx), 3000);
    uint8_t *buffer = nsGetBuffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(nsRecvIntoBuffer(&ctx, buffer, NS_MESSAGE_BUFFER_SIZE), 3000);
    EXPECT_EQ(std::string(buffer, buffer + 3000), payload);
    EXPECT_EQ(nsRecvIntoBuffer(&ctx, buffer, NS_MESSAGE_BUFFER_SIZE), 0);
    nsPutBuffer(buffer);
    writer.join();
}

TEST_F(Messages, KeepAliveThenLongMessageInPartsAndTheRestDropped)
{
    std::string framed = std::string("\x85\x00\x00\x00", 4) + std::string("\x00\x00\x01\x00", 4) +
                         std::string(256, 'a') + std::string("\x00\x00\x00\x02", 4) + "zz";
    ASSERT_EQ(send(client, framed.data(), framed.size(), 0), static_cast<ssize_t>(framed.size()));
    NSRecvContext ctx{};
    EXPECT_EQ(nsStartRecvIntoBuffer(slot, &ctx), 0);
    ASSERT_EQ(nsStartRecvIntoBuffer(slot, &ctx), 256);
    uint8_t part[100];
    EXPECT_EQ(nsRecvIntoBuffer(&ctx, part, sizeof part), 100);
    EXPECT_EQ(ctx.remaining, 156u);
    EXPECT_EQ(nsEndRecvIntoBuffer(&ctx), 0);
    // The next message starts clean.
    ASSERT_EQ(nsStartRecvIntoBuffer(slot, &ctx), 2);
    EXPECT_EQ(nsRecvIntoBuffer(&ctx, part, sizeof part), 2);
    EXPECT_EQ(std::string(part, part + 2), "zz");
}

TEST_F(Messages, BadHeadersAndClosedPeers)
{
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"zero length", std::string("\x00\x00\x00\x00", 4)},
        {"other type", std::string("\x81\x00\x00\x04", 4)},
        {"closed inside the header", std::string("\x00\x00", 2)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes answer;
        int peer = -1;
        NSSocket *s = post(sessionRequest(n16("nas", 0x20), n16("client", 0x00)), &answer, &peer);
        ASSERT_NE(s, nullptr);
        send(peer, c.bytes.data(), c.bytes.size(), 0);
        shutdown(peer, SHUT_WR);
        NSRecvContext ctx{};
        EXPECT_EQ(nsStartRecvIntoBuffer(s, &ctx), -1);
        nsClose(s);
        close(peer);
    }
}

TEST_F(Messages, RecvReadsThePayloadOnceAndFailsOnClose)
{
    // Longer than the buffer: the first 8 bytes, the rest dropped.
    std::string framed =
        std::string("\x00\x00\x00\x0C", 4) + "abcdefghijkl" + std::string("\x00\x00\x00\x03", 4) + "xyz";
    ASSERT_EQ(send(client, framed.data(), framed.size(), 0), static_cast<ssize_t>(framed.size()));
    uint8_t b[8];
    EXPECT_EQ(nsRecv(slot, b, sizeof b), 8);
    EXPECT_EQ(std::string(b, b + 8), "abcdefgh");
    EXPECT_EQ(nsRecv(slot, b, sizeof b), 3);
    EXPECT_EQ(std::string(b, b + 3), "xyz");
    // A header and then the close: -1, not the buffer's size.
    std::string header("\x00\x00\x00\x10", 4);
    send(client, header.data(), header.size(), 0);
    shutdown(client, SHUT_WR);
    EXPECT_EQ(nsRecv(slot, b, sizeof b), -1);
}

TEST_F(Messages, SendFromBufferSendsAllAndReleases)
{
    static int released = 0;
    uint8_t *buffer = nsGetBuffer();
    ASSERT_NE(buffer, nullptr);
    std::memcpy(buffer + 4, "reply", 5);
    uint32_t framed = nsPrepareNBBuffer(buffer, 5, 5);
    EXPECT_EQ(nsSendFromBuffer(slot, buffer, framed, framed,
                               [](uint8_t *b) {
                                   ++released;
                                   nsPutBuffer(b);
                               }),
              9);
    EXPECT_EQ(released, 1);
    Bytes got = drain(client);
    EXPECT_EQ(std::string(got.begin(), got.end()), std::string("\x00\x00\x00\x05reply", 9));
    // Nothing to send: the buffer still goes back.
    buffer = nsGetBuffer();
    errno = 0;
    EXPECT_EQ(nsSendFromBuffer(slot, buffer, 0, 0,
                               [](uint8_t *b) {
                                   ++released;
                                   nsPutBuffer(b);
                               }),
              -1);
    EXPECT_EQ(errno, NS_ERR_INVALID);
    EXPECT_EQ(released, 2);
}

// A scripted session server on 139: answers each session request with the
// next of its answers.
class Connects : public LayerTest {
protected:
    void serve(uint16_t port, std::vector<Bytes> answers)
    {
        int l = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        ASSERT_EQ(listen(l, 4), 0);
        servers.emplace_back([l, answers] {
            int c = accept(l, nullptr, nullptr);
            for (const Bytes &answer : answers) {
                uint8_t req[300];
                if (recv(c, req, sizeof req, 0) <= 0 || req[0] != 0x81)
                    break;
                if (!answer.empty())
                    send(c, answer.data(), answer.size(), 0);
            }
            uint8_t rest[16];
            while (recv(c, rest, sizeof rest, 0) > 0) {
            }
            close(c);
            close(l);
        });
    }
    void TearDown() override
    {
        for (auto &t : servers)
            t.join();
        LayerTest::TearDown();
    }
    std::vector<std::thread> servers;
};

TEST_F(Connects, PositiveNegativeSilentAndRetargeted)
{
    const Bytes positive{0x82, 0, 0, 0};
    const struct {
        const char *what;
        std::vector<Bytes> answers;
        int result;
        int error;
    } cases[] = {
        {"positive", {positive}, 0, 0},
        {"negative", {{0x83, 0, 0, 1, 0x82}}, -1, NS_ERR_REFUSED},
        {"unknown, then positive", {{0x99, 0, 0, 0}, positive}, 0, 0},
        {"silent twice", {{}, {}}, -1, NS_ERR_NO_ANSWER},
        {"retarget cut short", {{0x84, 0, 0, 6, 127, 0}, positive}, 0, 0},
    };
    CMNetBiosNameInfo called = name("server", 0x20);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        serve(139, c.answers);
        NSSocket *slot = nsSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
        ASSERT_NE(slot, nullptr);
        uint32_t ip = inet_addr("127.0.0.1");
        errno = 0;
        EXPECT_EQ(nsConnect(slot, &ip, &called), c.result);
        if (c.result != 0) {
            EXPECT_EQ(errno, c.error);
        }
        EXPECT_EQ(std::string(slot->peerName.name, 16), n16("server", 0x20));
        EXPECT_EQ(slot->peerPort, 139u);
        nsClose(slot);
        servers.back().join();
        servers.pop_back();
    }
}

TEST_F(Connects, RetargetsAtMostTwice)
{
    // 139 sends us to 1139, which sends us to 2139, which accepts.
    serve(139, {{0x84, 0, 0, 6, 127, 0, 0, 1, 0x04, 0x73}});
    serve(1139, {{0x84, 0, 0, 6, 127, 0, 0, 1, 0x08, 0x5B}});
    int third = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(2139);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(third, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(third, 4), 0);
    CMNetBiosNameInfo called = name("server", 0x20);
    NSSocket *slot = nsSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
    uint32_t ip = inet_addr("127.0.0.1");
    EXPECT_EQ(nsConnect(slot, &ip, &called), -1);
    nsClose(slot);
    // The third hop is never tried.
    EXPECT_LT(accept(third, nullptr, nullptr), 0);
    close(third);
    for (auto &t : servers)
        t.join();
    servers.clear();

    serve(139, {{0x84, 0, 0, 6, 127, 0, 0, 1, 0x04, 0x73}});
    serve(1139, {{0x82, 0, 0, 0}});
    slot = nsSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
    ip = inet_addr("127.0.0.1");
    EXPECT_EQ(nsConnect(slot, &ip, &called), 0);
    EXPECT_EQ(ip, inet_addr("127.0.0.1"));
    nsClose(slot);
}

TEST_F(Connects, StarNamesAndUnknownTransports)
{
    CMNetBiosNameInfo star = name("*", 0x00);
    NSSocket *slot = nsSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
    uint32_t ip = inet_addr("127.0.0.1");
    errno = 0;
    EXPECT_EQ(nsConnect(slot, &ip, &star), -1);
    EXPECT_EQ(errno, NS_ERR_BAD_NAME);
    nsClose(slot);
    slot = nsSocket(NS_SOCKET_STREAM, 7);
    errno = 0;
    EXPECT_EQ(nsConnect(slot, &ip, &star), -1);
    EXPECT_EQ(errno, NS_ERR_INVALID);
    nsClose(slot);
}

}  // namespace

namespace {

TEST_F(Messages, RpcFragmentLengthFromItsHeader)
{
    // A DCE/RPC header: version 5.0, bind, flags, data representation, frag length 24.
    std::string fragment("\x05\x00\x0B\x03\x10\x00\x00\x00\x18\x00", 10);
    fragment += std::string(14, 'r');
    ASSERT_EQ(send(client, fragment.data(), fragment.size(), 0), static_cast<ssize_t>(fragment.size()));
    NSRecvContext ctx{};
    uint8_t header[10];
    ASSERT_EQ(nsStartRecvIntoRpcBuffer(slot, &ctx, header), 24);
    uint8_t rest[32];
    EXPECT_EQ(nsRecvIntoBuffer(&ctx, rest, 14), 14);
    EXPECT_EQ(ctx.remaining, 10u);
    // Length zero: refused.
    std::string zero("\x05\x00\x0B\x03\x10\x00\x00\x00\x00\x00", 10);
    send(client, zero.data(), zero.size(), 0);
    EXPECT_EQ(nsStartRecvIntoRpcBuffer(slot, &ctx, header), -1);
}

}  // namespace
