// Sessions, users and trees of the server database: the id rules over full
// tables, lookups confined to the connection being served, expiry and
// reuse of idle SMB2 users, and what releasing an owner releases.
#include "csdb.h"
#include "csdispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> gEvents;

}  // namespace

// The other tables of the block and the printer pipes record what they were asked.
extern "C" void csReleaseTreeFiles(uint16_t tid, int flag)
{
    gEvents.push_back("files " + std::to_string(tid) + " " + std::to_string(flag));
}
extern "C" void csReleaseTreeSearches(uint16_t tid, int flag)
{
    gEvents.push_back("searches " + std::to_string(tid) + " " + std::to_string(flag));
}
extern "C" void csRpcSpoolssCleanupUser(uint16_t uid) { gEvents.push_back("spoolss " + std::to_string(uid)); }

namespace {

std::vector<CSSocketSlot> gClosed;
void closeConnection(CSSocketSlot socket) { gClosed.push_back(socket); }

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gEvents.clear();
        gClosed.clear();
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        csDatabaseSetCloseHook(closeConnection);
        serve(&a);
    }
    void TearDown() override
    {
        csDatabaseSetCloseHook(nullptr);
        csCloseDatabase();
        csDispatchSetSocket(nullptr);
        csDispatchSetSocketIp(nullptr);
    }
    void serve(int *connection)
    {
        csDispatchSetSocket(connection);
        csDispatchSetSocketIp(&address);
    }
    CSSession *session(uint32_t dialect)
    {
        CSSession *s = csGetNewSession();
        if (s)
            s->dialect = dialect;
        return s;
    }
    int a = 0, b = 0;
    uint32_t address = 0x0101A8C0;
};

TEST_F(DatabaseTest, FiftyOfEachWithTheirIds)
{
    std::vector<CSSession *> sessions;
    for (uint32_t i = 0; i < CS_MAX_SESSIONS; ++i) {
        CSSession *s = session(CS_DIALECT_SMB311);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->id, i);
        EXPECT_EQ(s->clientIp, address);
        EXPECT_EQ(s->signingActive, 0u);
        EXPECT_EQ(s->waitingForFirstKey, 1u);
        sessions.push_back(s);
    }
    EXPECT_EQ(csGetNewSession(), nullptr);
    EXPECT_EQ(csGetSessionsCount(), 50u);
    for (uint32_t i = 0; i < CS_MAX_USERS; ++i) {
        CSUser *u = csGetNewUser(sessions[i]);
        ASSERT_NE(u, nullptr);
        EXPECT_EQ(u->uid, 500 + i);
        EXPECT_EQ(u->uid + CS_SMB2_SESSION_BASE, 1501 + i);
        EXPECT_EQ(u->rid, 0xFFFFu);
        EXPECT_EQ(csGetUserByUid(u->uid), u);
        EXPECT_EQ(csGetUserBySession(sessions[i]), u);
        CSTree *t = csGetNewTree(u);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->tid, 10 + i);
        EXPECT_EQ(t->maximalAccess, 0x001F01FFu);
        EXPECT_EQ(csGetTreeByTid(t->tid), t);
    }
    EXPECT_EQ(csGetUsersCount(), 50u);
    EXPECT_EQ(csGetNewTree(csGetUserByUid(500)), nullptr);
    // Out of range and free ids are not found.
    for (uint16_t uid : {0, 499, 550, 0xFFFF})
        EXPECT_EQ(csGetUserByUid(uid), nullptr) << uid;
    for (uint16_t tid : {0, 9, 60, 0xFFFF})
        EXPECT_EQ(csGetTreeByTid(tid), nullptr) << tid;
    EXPECT_EQ(csGetSessionById(50), nullptr);
    EXPECT_EQ(csGetSessionById(7), sessions[7]);
    EXPECT_EQ(csGetUserByIndex(49)->uid, 549);
    EXPECT_EQ(csGetUserByIndex(50), nullptr);
}

TEST_F(DatabaseTest, IdsOfOtherConnectionsAreNotFound)
{
    CSSession *mine = session(CS_DIALECT_SMB202);
    CSUser *u = csGetNewUser(mine);
    CSTree *t = csGetNewTree(u);
    int marker = 1;
    t->share = &marker;
    serve(&b);
    EXPECT_EQ(csGetSessionBySocket(), nullptr);
    EXPECT_FALSE(csSessionExists());
    EXPECT_EQ(csGetUserByUid(500), nullptr);
    EXPECT_EQ(csGetTreeByTid(10), nullptr);
    EXPECT_EQ(csGetShareByUidTid(500, 10), nullptr);
    CSSession *theirs = session(CS_DIALECT_SMB202);
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(theirs->id, 1u);
    CSUser *v = csGetNewUser(theirs);
    EXPECT_EQ(v->uid, 501);
    EXPECT_EQ(csGetUserByUid(501), v);
    serve(&a);
    EXPECT_EQ(csGetSessionBySocket(), mine);
    EXPECT_EQ(csGetSessionBySpecificSocket(&b), theirs);
    EXPECT_EQ(csGetUserByUid(501), nullptr);
    EXPECT_EQ(csGetShareByUidTid(500, 10), &marker);
    EXPECT_EQ(csGetShareByUidTid(501, 10), nullptr);
    EXPECT_EQ(csGetSessionByIp(address), mine);
}

TEST_F(DatabaseTest, IdleSmb2UsersGiveWayWhenTheTableIsFull)
{
    CSSession *smb2 = session(CS_DIALECT_SMB30);
    CSSession *smb1 = session(CS_DIALECT_SMB1);
    std::vector<CSUser *> users;
    for (int i = 0; i < CS_MAX_USERS; ++i)
        users.push_back(csGetNewUser(smb2));
    CSTree *t = csGetNewTree(users[7]);
    struct Case {
        const char *what;
        uint32_t idle;
        CSSession *session;
        bool taken;
    } const cases[] = {
        {"SMB1 never takes a slot", 20000, smb1, false},
        {"SMB2 after 14400 s", 14400, smb2, false},
        {"SMB2 after 14401 s", 14401, smb2, true},
    };
    for (const Case &c : cases) {
        users[7]->renewalTime -= c.idle;
        EXPECT_EQ(csUserHasExpired(users[7]->uid), c.idle >= 14401) << c.what;
        CSUser *u = csGetNewUser(c.session);
        EXPECT_EQ(u != nullptr, c.taken) << c.what;
        if (u) {
            EXPECT_EQ(u, users[7]) << c.what;
            EXPECT_EQ(u->uid, 507) << c.what;
            EXPECT_EQ(u->sessionId, smb2->id) << c.what;
            EXPECT_EQ(csUserHasExpired(507), 0) << c.what;
            EXPECT_EQ(csGetTreeByTid(t->tid), nullptr) << c.what << ": the idle user's trees went with it";
        }
        users[7]->renewalTime += c.taken ? 0 : c.idle;
    }
    EXPECT_EQ(csGetUsersCount(), 50u);
    EXPECT_EQ(csUserHasExpired(600), 0);
    csRenewUserTimeStamp(nullptr);
}

TEST_F(DatabaseTest, ReleasingCascades)
{
    CSSession *s = session(CS_DIALECT_SMB202);
    CSUser *u = csGetNewUser(s);
    CSUser *other = csGetNewUser(s);
    int share = 0;
    for (int i = 0; i < 3; ++i)
        csGetNewTree(u)->share = &share;
    csGetNewTree(other)->share = &share;
    EXPECT_EQ(csGetNumberOfShareUsers(&share), 2u);
    EXPECT_EQ(csGetNextTreeByShare(&share, 0xFFFF)->tid, 10);
    EXPECT_EQ(csGetNextTreeByShare(&share, 12)->tid, 13);
    EXPECT_EQ(csGetNextTreeByShare(&share, 13), nullptr);
    csReleaseUser(u->uid, 1);
    const std::vector<std::string> expected = {"spoolss 500",   "files 10 1", "searches 10 1", "files 11 1",
                                               "searches 11 1", "files 12 1", "searches 12 1"};
    EXPECT_EQ(gEvents, expected);
    EXPECT_EQ(csGetUsersCount(), 1u);
    EXPECT_EQ(csGetNumberOfShareUsers(&share), 1u);
    EXPECT_EQ(csGetTreeByTid(10), nullptr);
    // Releasing the connection's sessions releases the rest.
    gEvents.clear();
    csReleaseSessions(&a, 1);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"spoolss 501", "files 13 1", "searches 13 1"}));
    EXPECT_EQ(csGetSessionsCount(), 0u);
    EXPECT_EQ(csGetUsersCount(), 0u);
    // Nothing for free or out-of-range ids.
    gEvents.clear();
    csReleaseUser(500, 0);
    csReleaseUser(0xFFFF, 0);
    csReleaseTree(10, 0);
    csReleaseTree(70, 0);
    EXPECT_TRUE(gEvents.empty());
}

TEST_F(DatabaseTest, DisconnectClosesTheConnectionOnceItsLastUserGoes)
{
    CSSession *s = session(CS_DIALECT_SMB202);
    CSUser *first = csGetNewUser(s);
    CSUser *second = csGetNewUser(s);
    const CMWchar alice[] = {'a', 'l', 'i', 'c', 'e', 0};
    std::copy(alice, alice + 6, first->name);
    std::copy(alice, alice + 6, second->name);
    serve(&b);
    CSUser *elsewhere = csGetNewUser(session(CS_DIALECT_SMB202));
    elsewhere->anonymous = 1;
    std::copy(alice, alice + 6, elsewhere->name);
    EXPECT_EQ(vxCleanUserServerConnectionsA("alice", 0), 0);
    EXPECT_EQ(gClosed, std::vector<CSSocketSlot>{&a});
    EXPECT_EQ(csGetSessionBySpecificSocket(&a), nullptr);
    EXPECT_EQ(csGetUsersCount(), 1u) << "the anonymous logon stays";
    EXPECT_EQ(vxCleanUserServerConnectionsA("alice", 0), -1);
    EXPECT_EQ(vxCleanUserServerConnectionsA("bob", 0), -1);
    csDisconnectAllAnonymousUsers();
    EXPECT_EQ(gClosed, (std::vector<CSSocketSlot>{&a, &b}));
    EXPECT_EQ(csGetUsersCount(), 0u);
    EXPECT_EQ(csGetSessionsCount(), 0u);
}

TEST_F(DatabaseTest, NamesAndCredentials)
{
    CSSession *s = session(CS_DIALECT_SMB1);
    CSUser *u = csGetNewUser(s);
    const CMWchar bob[] = {'b', 'o', 'b', 0}, Bob[] = {'B', 'o', 'b', 0};
    std::copy(bob, bob + 4, u->name);
    u->credentials[0] = 0x42;
    const uint8_t good[] = {0x42}, bad[] = {0x43};
    EXPECT_EQ(csGetUserByNameAndSession(bob, s->id), u);
    EXPECT_EQ(csGetUserByNameAndSession(Bob, s->id), nullptr);
    EXPECT_EQ(csGetUserByNameAndCredentials(bob, good, 1), u);
    EXPECT_EQ(csGetUserByNameAndCredentials(bob, bad, 1), nullptr);
    EXPECT_EQ(csGetUserByNameAndCredentials(bob, nullptr, 0), u);
    serve(&b);
    EXPECT_EQ(csGetUserByNameAndCredentials(bob, good, 1), nullptr);
}

TEST_F(DatabaseTest, PolicyWords)
{
    EXPECT_EQ(csIsMessageSigningEnabled(), 1u);
    EXPECT_EQ(csIsMessageSigningRequired(), 0u);
    csSetMessageSigningPolicy(2);
    EXPECT_EQ(csIsMessageSigningRequired(), 1u);
    csSetMessageSigningPolicy(3);
    EXPECT_EQ(csIsMessageSigningEnabled(), 1u);
    EXPECT_EQ(csIsMessageSigningRequired(), 1u);
    csSetMessageSigningPolicy(0);
    EXPECT_EQ(csIsMessageSigningEnabled(), 0u);
    EXPECT_EQ(csIsMessageSigningRequired(), 0u);
    EXPECT_EQ(csIsServerEncrypted(), 0u);
    csSetServerEncryption(1);
    EXPECT_EQ(csIsServerEncrypted(), 1u);
    EXPECT_NE(cs2GetServerUuid(), nullptr);
    EXPECT_NE(cs2GetServerStartTime().high, 0u);
    EXPECT_FALSE(csHasAdminShare());
}

TEST(ErrorReturn, PicksThePairByTheClientsMode)
{
    struct Case {
        uint32_t mode, nt, dos, result, modeAfter;
    } const cases[] = {
        {0, 0xC000006D, 0, 0xC000006D, 1},
        {1, 0, 0x50001, 0x50001, 0},
        {1, 0xC000006D, 0x50001, 0xC000006D, 1},
        {0, 0xC000006D, 0x50001, 0x50001, 0},
    };
    for (const Case &c : cases) {
        csDispatchSetNtError(c.mode);
        EXPECT_EQ(csErrorReturn(c.nt, c.dos), c.result);
        EXPECT_EQ(csDispatchIsNtError(), c.modeAfter);
    }
}

}  // namespace
