// The server database's block: sessions, users and trees in fixed tables.
// A record's id follows from its slot; a free record carries 0xFFFF.
#include "db_block.h"
#include "csdb.h"
#include "csdispatch.h"
#include "cmcrypt.h"
#include "cmstring.h"
#include "cmtime.h"
#include "syerror.h"
#include "sythread.h"

#include <cstring>
#include <ctime>
#include <new>

namespace {

using cs::Database;

Database *gDb;
void (*gCloseConnection)(CSSocketSlot);

uint32_t now() { return uint32_t(std::time(nullptr)); }

bool ownedByCurrentConnection(uint32_t sessionId)
{
    if (!gDb || sessionId >= CS_MAX_SESSIONS)
        return false;
    const CSSession &s = gDb->sessions[sessionId];
    return s.id == sessionId && s.socket == csDispatchGetSocket();
}

void clearUser(CSUser &u)
{
    if (u.macResponse.data)
        cmMemoryFreeNonDebug(u.macResponse.data);
    std::memset(&u, 0, sizeof u);
    u.uid = CS_FREE_ID;
}

void takeUserSlot(CSUser &u, uint32_t index, CSSession *session)
{
    clearUser(u);
    u.sessionId = session->id;
    u.session = session;
    u.uid = uint16_t(index + CS_UID_BASE);
    u.renewalTime = now();
    u.rid = CS_FREE_ID;
    ++gDb->usersCount;
}

int userIndex(uint16_t uid)
{
    if (!gDb || uid < CS_UID_BASE || uid >= CS_UID_BASE + CS_MAX_USERS)
        return -1;
    int i = uid - CS_UID_BASE;
    return gDb->users[i].uid == uid ? i : -1;
}

void freeSession(CSSession &s)
{
    std::memset(&s, 0, sizeof s);
    s.id = CS_FREE_ID;
}

}  // namespace

namespace cs {

Database *db() { return gDb; }
bool ofCurrentConnection(uint32_t sessionId) { return ownedByCurrentConnection(sessionId); }

}  // namespace cs

extern "C" {

int csInitDatabase(CSLockFunction lock, CSLockFunction unlock)
{
    csCloseDatabase();
    gDb = new (std::nothrow) Database();
    if (!gDb) {
        sySetLastVxError(CM_ERR_NOMEM);
        return -1;
    }
    cmGetCurrentTime(&gDb->startTime);
    if (syMutexCreate(&gDb->mutex) != 0) {
        delete gDb;
        gDb = nullptr;
        return -1;
    }
    syMutexTake(&gDb->mutex);
    gDb->started = 1;
    gDb->lock = lock;
    gDb->unlock = unlock;
    for (CSSession &s : gDb->sessions)
        freeSession(s);
    for (CSUser &u : gDb->users)
        u.uid = CS_FREE_ID;
    for (CSTree &t : gDb->trees)
        t.tid = CS_FREE_ID;
    csDatabaseInitFileTables();
    syMutexGive(&gDb->mutex);
    csDatabaseLoadShares();
    gDb->signingEnabled = 1;
    gDb->signingRequired = 0;
    return 0;
}

void csCloseDatabase(void)
{
    if (!gDb)
        return;
    for (CSUser &u : gDb->users)
        clearUser(u);
    syMutexDelete(&gDb->mutex);
    delete gDb;
    gDb = nullptr;
}

const uint8_t *cs2GetServerUuid(void) { return gDb ? gDb->serverGuid : nullptr; }

CMUint64 cs2GetServerStartTime(void) { return gDb ? gDb->startTime : CMUint64{0, 0}; }

void csSetServerEncryption(uint32_t flag)
{
    if (gDb)
        gDb->encryptionRequired = flag;
}

uint32_t csIsServerEncrypted(void) { return gDb ? gDb->encryptionRequired : 0; }

void csSetMessageSigningEnabled(uint32_t flag)
{
    if (gDb)
        gDb->signingEnabled = flag;
}

void csSetMessageSigningRequired(uint32_t flag)
{
    if (gDb)
        gDb->signingRequired = flag;
}

uint32_t csIsMessageSigningEnabled(void) { return gDb ? gDb->signingEnabled : 0; }
uint32_t csIsMessageSigningRequired(void) { return gDb ? gDb->signingRequired : 0; }

void csSetMessageSigningPolicy(uint32_t policy)
{
    if (policy > 2)
        return;
    csSetMessageSigningEnabled(policy >= 1);
    csSetMessageSigningRequired(policy == 2);
}

int csHasAdminShare(void) { return gDb && gDb->adminShare ? 1 : 0; }

uint32_t csGetUsersCount(void) { return gDb ? gDb->usersCount : 0; }

uint32_t csGetSessionsCount(void)
{
    uint32_t n = 0;
    if (gDb)
        for (const CSSession &s : gDb->sessions)
            n += s.id != CS_FREE_ID;
    return n;
}

uint32_t csGetSharesCount(void) { return gDb ? gDb->sharesCount : 0; }
uint32_t csGetFilesCount(void) { return gDb ? gDb->filesCount : 0; }
uint32_t csGetUniqueFilesCount(void) { return gDb ? gDb->uniqueFilesCount : 0; }

void csDatabaseSetCloseHook(void (*closeConnection)(CSSocketSlot socket))
{
    gCloseConnection = closeConnection;
}

CSSession *csGetNewSession(void)
{
    if (!gDb)
        return nullptr;
    for (uint32_t i = 0; i < CS_MAX_SESSIONS; ++i) {
        CSSession &s = gDb->sessions[i];
        if (s.id != CS_FREE_ID)
            continue;
        freeSession(s);
        s.socket = csDispatchGetSocket();
        s.id = i;
        const uint32_t *ip = csDispatchGetSocketIp();
        s.clientIp = ip ? *ip : 0;
        s.waitingForFirstKey = 1;
        // A challenge exists from the start, so a logon never answers with an unset one.
        cmCreateRandomByteSequence(s.challenge, sizeof s.challenge);
        return &s;
    }
    logError("No more session slots");
    return nullptr;
}

CSSession *csGetSessionById(uint32_t id)
{
    if (!gDb || id >= CS_MAX_SESSIONS || gDb->sessions[id].id != id)
        return nullptr;
    return &gDb->sessions[id];
}

CSSession *csGetSessionBySpecificSocket(CSSocketSlot socket)
{
    if (!gDb)
        return nullptr;
    for (CSSession &s : gDb->sessions)
        if (s.id != CS_FREE_ID && s.socket == socket)
            return &s;
    return nullptr;
}

CSSession *csGetSessionBySocket(void) { return csGetSessionBySpecificSocket(csDispatchGetSocket()); }

int csSessionExists(void) { return csGetSessionBySocket() != nullptr; }

CSSession *csGetSessionByIp(uint32_t address)
{
    if (!gDb)
        return nullptr;
    for (CSSession &s : gDb->sessions)
        if (s.id != CS_FREE_ID && s.clientIp == address)
            return &s;
    return nullptr;
}

void csReleaseSessions(CSSocketSlot socket, int flag)
{
    if (!gDb)
        return;
    for (CSSession &s : gDb->sessions) {
        if (s.id == CS_FREE_ID || s.socket != socket)
            continue;
        for (CSUser &u : gDb->users)
            if (u.uid != CS_FREE_ID && u.sessionId == s.id)
                csReleaseUser(u.uid, flag);
        freeSession(s);
    }
}

CSUser *csGetNewUser(CSSession *session)
{
    if (!gDb || !session)
        return nullptr;
    for (uint32_t i = 0; i < CS_MAX_USERS; ++i) {
        CSUser &u = gDb->users[i];
        if (u.uid == CS_FREE_ID) {
            takeUserSlot(u, i, session);
            return &u;
        }
    }
    logError("No more user slots");
    if (session->dialect == CS_DIALECT_SMB1)
        return nullptr;
    CSUser *expired = csGetExpiredUser();
    if (!expired)
        return nullptr;
    uint16_t uid = expired->uid;
    csReleaseUser(uid, 0);
    takeUserSlot(*expired, uint32_t(uid - CS_UID_BASE), session);
    return expired;
}

CSUser *csGetUserByUid(uint16_t uid)
{
    int i = userIndex(uid);
    if (i < 0 || !ownedByCurrentConnection(gDb->users[i].sessionId))
        return nullptr;
    return &gDb->users[i];
}

CSUser *csGetUserBySession(const CSSession *session)
{
    if (!gDb || !session)
        return nullptr;
    for (CSUser &u : gDb->users)
        if (u.uid != CS_FREE_ID && u.sessionId == session->id)
            return &u;
    return nullptr;
}

CSUser *csGetUserByIndex(uint32_t index)
{
    if (!gDb)
        return nullptr;
    for (CSUser &u : gDb->users)
        if (u.uid != CS_FREE_ID && index-- == 0)
            return &u;
    return nullptr;
}

CSUser *csGetUserByNameAndSession(const CMWchar *name, uint32_t sessionId)
{
    if (!gDb || !name)
        return nullptr;
    for (CSUser &u : gDb->users)
        if (u.uid != CS_FREE_ID && u.sessionId == sessionId && cmWStrcmp(u.name, name) == 0)
            return &u;
    return nullptr;
}

CSUser *csGetUserByNameAndCredentials(const CMWchar *name, const uint8_t *credentials, uint32_t length)
{
    if (!gDb || !name || length > CS_CREDENTIALS_SIZE)
        return nullptr;
    for (CSUser &u : gDb->users) {
        if (u.uid == CS_FREE_ID || !ownedByCurrentConnection(u.sessionId) || cmWStrcmp(u.name, name) != 0)
            continue;
        if (length == 0 || (credentials && std::memcmp(u.credentials, credentials, length) == 0))
            return &u;
    }
    return nullptr;
}

uint32_t csGetUserRid(const CSUser *user) { return user ? user->rid : CS_FREE_ID; }

void csRenewUserTimeStamp(CSUser *user)
{
    if (user && user->uid != CS_FREE_ID)
        user->renewalTime = now();
}

int csUserHasExpired(uint16_t uid)
{
    int i = userIndex(uid);
    if (i < 0)
        return 0;
    return now() - gDb->users[i].renewalTime >= CS_USER_EXPIRY_SECONDS;
}

CSUser *csGetExpiredUser(void)
{
    if (!gDb)
        return nullptr;
    for (CSUser &u : gDb->users)
        if (u.uid != CS_FREE_ID && csUserHasExpired(u.uid))
            return &u;
    return nullptr;
}

void csReleaseUser(uint16_t uid, int flag)
{
    int i = userIndex(uid);
    if (i < 0)
        return;
    csRpcSpoolssCleanupUser(uid);
    for (CSTree &t : gDb->trees)
        if (t.tid != CS_FREE_ID && t.uid == uid)
            csReleaseTree(t.tid, flag);
    clearUser(gDb->users[i]);
    --gDb->usersCount;
}

void csReleaseUserAndDisconnect(uint16_t uid, int flag)
{
    int i = userIndex(uid);
    if (i < 0)
        return;
    uint32_t sessionId = gDb->users[i].sessionId;
    csReleaseUser(uid, flag);
    CSSession *session = csGetSessionById(sessionId);
    if (!session || csGetUserBySession(session))
        return;
    CSSocketSlot socket = session->socket;
    freeSession(*session);
    // The server loop closes the socket and frees the client slot that names it.
    if (gCloseConnection)
        gCloseConnection(socket);
}

void csDisconnectAllAnonymousUsers(void)
{
    if (!gDb)
        return;
    for (CSUser &u : gDb->users)
        if (u.uid != CS_FREE_ID && (u.anonymous || u.guest))
            csReleaseUserAndDisconnect(u.uid, 0);
}

int vxCleanUserServerConnectionsW(const CMWchar *name, uint32_t domainUser)
{
    if (!gDb || !name)
        return -1;
    int released = 0;
    for (CSUser &u : gDb->users) {
        if (u.uid != CS_FREE_ID && !u.anonymous && u.domainUser == domainUser &&
            cmWStrcmp(u.name, name) == 0) {
            csReleaseUserAndDisconnect(u.uid, 0);
            ++released;
        }
    }
    return released ? 0 : -1;
}

int vxCleanUserServerConnectionsA(const char *name, uint32_t domainUser)
{
    if (!name)
        return -1;
    CMWchar *wide = cmMemoryCloneAStringNonDebug(name);
    if (!wide)
        return -1;
    int result = vxCleanUserServerConnectionsW(wide, domainUser);
    cmMemoryFreeNonDebug(wide);
    return result;
}

CSTree *csGetNewTree(const CSUser *user)
{
    if (!gDb || !user)
        return nullptr;
    for (uint32_t i = 0; i < CS_MAX_TREES; ++i) {
        CSTree &t = gDb->trees[i];
        if (t.tid != CS_FREE_ID)
            continue;
        t = CSTree{user->sessionId, user->uid, uint16_t(i + CS_TID_BASE), nullptr, CS_MAXIMAL_ACCESS};
        return &t;
    }
    logError("No more tree slots");
    return nullptr;
}

CSTree *csGetTreeByTid(uint16_t tid)
{
    if (!gDb || tid < CS_TID_BASE || tid >= CS_TID_BASE + CS_MAX_TREES)
        return nullptr;
    CSTree &t = gDb->trees[tid - CS_TID_BASE];
    if (t.tid != tid || !ownedByCurrentConnection(t.sessionId))
        return nullptr;
    return &t;
}

void *csGetShareByUidTid(uint16_t uid, uint16_t tid)
{
    CSTree *t = csGetTreeByTid(tid);
    return t && t->uid == uid ? t->share : nullptr;
}

CSTree *csGetNextTreeByShare(const void *share, uint16_t tid)
{
    if (!gDb)
        return nullptr;
    uint32_t from = tid == CS_FREE_ID ? 0 : uint32_t(tid - CS_TID_BASE + 1);
    for (uint32_t i = from; i < CS_MAX_TREES; ++i) {
        CSTree &t = gDb->trees[i];
        if (t.tid != CS_FREE_ID && t.share == share)
            return &t;
    }
    return nullptr;
}

uint32_t csGetNumberOfShareUsers(const void *share)
{
    if (!gDb)
        return 0;
    uint32_t n = 0;
    for (uint32_t i = 0; i < CS_MAX_TREES; ++i) {
        const CSTree &t = gDb->trees[i];
        if (t.tid == CS_FREE_ID || t.share != share)
            continue;
        bool seen = false;
        for (uint32_t k = 0; k < i && !seen; ++k)
            seen =
                gDb->trees[k].tid != CS_FREE_ID && gDb->trees[k].share == share && gDb->trees[k].uid == t.uid;
        n += !seen;
    }
    return n;
}

void csReleaseTree(uint16_t tid, int flag)
{
    if (!gDb || tid < CS_TID_BASE || tid >= CS_TID_BASE + CS_MAX_TREES)
        return;
    CSTree &t = gDb->trees[tid - CS_TID_BASE];
    if (t.tid != tid)
        return;
    csReleaseTreeFiles(tid, flag);
    csReleaseTreeSearches(tid, flag);
    t.tid = CS_FREE_ID;
}

}  // extern "C"
