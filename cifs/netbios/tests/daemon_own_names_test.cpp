// Own names: broadcast and WINS registration, answers to the local
// requester, defence, challenge, release, node status, and the timers.
#include "daemon_env.h"

#include "nschannel.h"

namespace ndtest {
namespace {

class OwnNames : public DaemonTest {
protected:
    // The client's registration request for text<suffix>, as the layer frames it.
    void registerName(const char *text, uint8_t suffix, uint32_t group = 0)
    {
        CMNetBiosNameInfo n = nbtest::name(text, suffix, group);
        uint8_t buffer[ND_BUFFER_SIZE];
        int len = frameInternalNameRegistrationRequest(buffer, &n);
        ASSERT_GT(len, 0);
        fromClient(Bytes(buffer, buffer + len));
        ASSERT_EQ(ndNameProcessInternalMessage(&requester), 0);
    }
    void releaseName(const char *text, uint8_t suffix)
    {
        CMNetBiosNameInfo n = nbtest::name(text, suffix);
        uint8_t buffer[ND_BUFFER_SIZE];
        int len = frameInternalNameReleaseRequest(buffer, &n);
        ASSERT_GT(len, 0);
        fromClient(Bytes(buffer, buffer + len));
        ASSERT_EQ(ndNameProcessInternalMessage(&requester), 0);
    }
    int state(const char *text, uint8_t suffix, uint32_t ordinal = 0)
    {
        return ndInternalNameState(nbtest::name(text, suffix).name, ordinal);
    }
    // A message from a peer on UDP 137 of the first adapter.
    void fromPeer(const Bytes &m, const char *peer = "127.1.0.7")
    {
        NDAdapter *a = adapter(ip("127.1.0.1"));
        ASSERT_NE(a, nullptr);
        arrive(a, m, ip(peer), htons(137));
        ndNameProcessExternalMessage(a);
    }
};

TEST_F(OwnNames, BroadcastRegistrationClaimsAfterTwoRequestsAndTwoRuns)
{
    registerName("WIDGET", 0x20);
    Bytes first = receive(network);
    ASSERT_GE(first.size(), 12u);
    EXPECT_EQ(be16(first, 2), 0x2810);
    EXPECT_EQ(state("WIDGET", 0x20), 5);
    EXPECT_EQ(ndInternalNameTimeout(1), 1u);
    Bytes second = receive(network);
    ASSERT_GE(second.size(), 12u);
    EXPECT_EQ(be16(second, 2), 0x2810);
    EXPECT_TRUE(receive(client, 50).empty()) << "no answer before the claim";
    ndInternalNameTimeout(1);
    Bytes answer = receive(client);
    ASSERT_GE(answer.size(), 12u);
    EXPECT_EQ(be16(answer, 2), 0xA800);
    // rdata: 00 00 and the adapter's address
    Bytes tail(answer.end() - 4, answer.end());
    EXPECT_EQ(tail, (Bytes{127, 1, 0, 1}));
    EXPECT_EQ(state("WIDGET", 0x20), 1);
    EXPECT_EQ(ndInternalNameCount(nbtest::name("WIDGET", 0x20).name), 1u);
}

TEST_F(OwnNames, DefenderRefusesAndTheRequesterHearsIt)
{
    registerName("WIDGET", 0x20);
    Bytes request = receive(network);
    ASSERT_GE(request.size(), 2u);
    fromPeer(response(be16(request, 0), 0xA805, "WIDGET", 0x20, ND_TYPE_NB, 0, nb(0, "127.1.0.7")));
    Bytes answer = receive(client);
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(be16(answer, 2), 0xA803);
    EXPECT_EQ(state("WIDGET", 0x20), 7);
    // A second request is answered at once from the state.
    registerName("WIDGET", 0x20);
    answer = receive(client);
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(be16(answer, 2), 0xA803);
}

TEST_F(OwnNames, LocalOnlySuffixesAreAnsweredAtOnceAndNeverSent)
{
    for (uint8_t suffix : {uint8_t{0x01}, uint8_t{0xFF}}) {
        registerName("LOCALONLY", suffix);
        Bytes answer = receive(client);
        ASSERT_GE(answer.size(), 4u) << int(suffix);
        EXPECT_EQ(be16(answer, 2), 0xA800);
        EXPECT_TRUE(receive(network, 50).empty());
        // Not defended either
        Bytes req = header(9, 0x2910, 1, 0, 0, 1);
        fromPeer(req);
        EXPECT_TRUE(receive(network, 50).empty());
    }
}

TEST_F(OwnNames, ARegistrationOfAnOwnUniqueNameIsRefusedWith0xA807)
{
    registerName("WIDGET", 0x20);
    receive(network);
    ndInternalNameTimeout(1);
    receive(network);
    ndInternalNameTimeout(1);
    receive(client);
    // Another node registers WIDGET<20>: request with the name and NB record.
    uint8_t buffer[ND_BUFFER_SIZE];
    CMNetBiosNameInfo n = nbtest::name("WIDGET", 0x20);
    uint32_t other = ip("127.1.0.7");
    int len = ndGenerateNameWhateverRequest(buffer, sizeof buffer, &n, &other, 1, 0);
    ASSERT_GT(len, 0);
    buffer[0] = 0x12;
    buffer[1] = 0x34;
    buffer[2] = 0x29;
    buffer[3] = 0x10;
    sockaddr_in from{};
    int peer = udp("127.1.0.7", 0);
    NDAdapter *a = adapter(ip("127.1.0.1"));
    arrive(a, Bytes(buffer, buffer + len), other, portOf(peer));
    ndNameProcessExternalMessage(a);
    Bytes refusal = receive(peer, 300, &from);
    close(peer);
    ASSERT_GE(refusal.size(), 4u);
    EXPECT_EQ(be16(refusal, 0), 0x1234);
    EXPECT_EQ(be16(refusal, 2), 0xA807);
}

TEST_F(OwnNames, NodeStatusListsRegisteredNamesWithTheAdapterMac)
{
    registerName("WIDGET", 0x20);
    registerName("TEAM", 0x1E, 1);
    for (int i = 0; i < 2; ++i)
        ndInternalNameTimeout(1);
    while (!receive(network, 20).empty()) {
    }
    int peer = udp("127.1.0.7", 0);
    Bytes q = header(0x55, 0x0000, 1, 0, 0, 0);
    Bytes star = encoded("*", 0x00);
    star[1] = 'C';
    star[2] = 'K';  // "*" then zeros: CKAAAA...
    for (size_t i = 3; i < 33; ++i)
        star[i] = 'A';
    q.insert(q.end(), star.begin(), star.end());
    q.insert(q.end(), {0, 0x21, 0, 1});
    NDAdapter *a = adapter(ip("127.1.0.1"));
    arrive(a, q, ip("127.1.0.7"), portOf(peer));
    ndNameProcessExternalMessage(a);
    Bytes status = receive(peer);
    close(peer);
    ASSERT_GT(status.size(), 12u + 34 + 10 + 1);
    size_t at = 12 + star.size() + 10;
    ASSERT_EQ(status[at], 2) << "both names listed";
    EXPECT_EQ(std::string(status.begin() + at + 1, status.begin() + at + 17), nbtest::n16("WIDGET", 0x20));
    EXPECT_EQ(be16(status, at + 17) & 0x8000, 0);
    EXPECT_EQ(be16(status, at + 18 + 17) & 0x8000, 0x8000) << "the group name";
}

TEST_F(OwnNames, ANameHeldTwiceIsReleasedOnTheWireOnlyByTheLast)
{
    registerName("WIDGET", 0x20);
    for (int i = 0; i < 2; ++i)
        ndInternalNameTimeout(1);
    receive(client);
    registerName("WIDGET", 0x20);
    receive(client);
    while (!receive(network, 20).empty()) {
    }
    EXPECT_EQ(ndInternalNameCount(nbtest::name("WIDGET", 0x20).name), 2u);
    releaseName("WIDGET", 0x20);
    EXPECT_EQ(be16(receive(client), 2), 0xB000);
    EXPECT_TRUE(receive(network, 50).empty());
    releaseName("WIDGET", 0x20);
    Bytes release = receive(network);
    ASSERT_GE(release.size(), 4u);
    EXPECT_EQ(be16(release, 2), 0x3010);
    EXPECT_EQ(ndInternalNameFind(nbtest::name("WIDGET", 0x20).name), -1);
}

TEST_F(OwnNames, ReleasingAnUnknownNameIsAnsweredNegatively)
{
    releaseName("NOBODY", 0x20);
    EXPECT_EQ(be16(receive(client), 2), 0xB003);
}

class WinsNames : public OwnNames {
protected:
    void SetUp() override
    {
        wins = "127.2.0.9";
        OwnNames::SetUp();
    }
    uint16_t startRegistration()
    {
        registerName("WIDGET", 0x20);
        Bytes request = receive(network);
        EXPECT_GE(request.size(), 4u);
        if (request.size() < 4)
            return 0;
        EXPECT_EQ(be16(request, 2), 0x2800);
        EXPECT_EQ(state("WIDGET", 0x20), 4);
        return be16(request, 0);
    }
};

TEST_F(WinsNames, AWackOfTtlZeroDoesNotStallTheRegistration)
{
    uint16_t id = startRegistration();
    fromPeer(response(id, 0xBC00, "WIDGET", 0x20, ND_TYPE_NB, 0, Bytes{0, 0}), "127.2.0.9");
    // Silent server: the record falls back to broadcast after its retries.
    for (int i = 0; i < 12 && state("WIDGET", 0x20) == 4; ++i)
        ndInternalNameTimeout(1);
    EXPECT_EQ(state("WIDGET", 0x20), 5);
}

TEST_F(WinsNames, TtlZeroRegistersWithoutRefresh)
{
    uint16_t id = startRegistration();
    fromPeer(response(id, 0xAD80, "WIDGET", 0x20, ND_TYPE_NB, 0, nb(0x4000, "127.1.0.1")), "127.2.0.9");
    EXPECT_EQ(be16(receive(client), 2), 0xA800);
    EXPECT_EQ(state("WIDGET", 0x20), 2);
    for (int i = 0; i < 5; ++i)
        ndInternalNameTimeout(1000);
    EXPECT_TRUE(receive(network, 50).empty()) << "no refresh for TTL 0";
}

TEST_F(WinsNames, ARefreshIsSentWhenARunPassesMoreSecondsThanRemain)
{
    uint16_t id = startRegistration();
    fromPeer(response(id, 0xAD80, "WIDGET", 0x20, ND_TYPE_NB, 5, nb(0x4000, "127.1.0.1")), "127.2.0.9");
    receive(client);
    ndInternalNameTimeout(10);  // the timer stood at 4
    Bytes refresh = receive(network);
    ASSERT_GE(refresh.size(), 4u);
    EXPECT_EQ(be16(refresh, 2), 0x4000);
}

TEST_F(WinsNames, AClaimAfterAChallengeEndsRegistered)
{
    uint16_t id = startRegistration();
    // Positive answer without RA: ask the owner named in it.
    int owner = udp("127.3.0.5", udGetPort(137));
    ASSERT_GE(owner, 0);
    fromPeer(response(id, 0xAD00, "WIDGET", 0x20, ND_TYPE_NB, 60, nb(0, "127.3.0.5")), "127.2.0.9");
    Bytes query = receive(owner);
    close(owner);
    ASSERT_GE(query.size(), 4u);
    EXPECT_EQ(state("WIDGET", 0x20), 9);
    // The owner no longer holds it: claim with a refresh.
    fromPeer(response(be16(query, 0), 0x8503, "WIDGET", 0x20, ND_TYPE_NB, 0, Bytes{}), "127.3.0.5");
    EXPECT_EQ(state("WIDGET", 0x20), 10);
    Bytes refresh = receive(network);
    ASSERT_GE(refresh.size(), 4u);
    EXPECT_EQ(be16(refresh, 2), 0x4000);
    fromPeer(response(be16(refresh, 0), 0xAD80, "WIDGET", 0x20, ND_TYPE_NB, 60, nb(0x4000, "127.1.0.1")),
             "127.2.0.9");
    EXPECT_EQ(be16(receive(client), 2), 0xA800);
    EXPECT_EQ(state("WIDGET", 0x20), 2);
    // Its retries running out later no longer turn it to lost.
    for (int i = 0; i < 10; ++i)
        ndInternalNameTimeout(1);
    EXPECT_EQ(state("WIDGET", 0x20), 2);
    EXPECT_TRUE(receive(client, 50).empty());
}

}  // namespace
}  // namespace ndtest

namespace ndtest {
namespace {

TEST_F(OwnNames, BroadcastRegistrationsAreNeverMultiHomed)
{
    load({{ip("127.1.0.1"), ip("127.1.0.255"), ip("255.255.255.0")},
          {ip("127.4.0.1"), ip("127.4.0.255"), ip("255.255.255.0")}});
    registerName("WIDGET", 0x20);
    for (int i = 0; i < 2; ++i) {
        Bytes request = receive(network);
        ASSERT_GE(request.size(), 4u);
        EXPECT_EQ(be16(request, 2), 0x2810) << "nodes drop broadcast multi-homed registrations undefended";
    }
}

}  // namespace
}  // namespace ndtest
