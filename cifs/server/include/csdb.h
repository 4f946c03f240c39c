/* The server database: one block of fixed tables with an id rule each.
 * This header holds the block, its sessions, users and trees. Lookups by
 * id find only records of the connection being served. */
#ifndef CSDB_H
#define CSDB_H

#include "amspnego.h"
#include "cmmemory.h"
#include "cmsd.h"
#include "cmtypes.h"

#define CS_MAX_SESSIONS 50
#define CS_MAX_USERS 50
#define CS_MAX_TREES 50
#define CS_FREE_ID 0xFFFF
#define CS_UID_BASE 500
#define CS_TID_BASE 10
/* SMB2 SessionId = uid + CS_SMB2_SESSION_BASE. */
#define CS_SMB2_SESSION_BASE 1001
/* Idle time after which a user's slot may be taken by a new SMB2/3 logon. */
#define CS_USER_EXPIRY_SECONDS 14401
#define CS_USER_NAME_UNITS 257
#define CS_CREDENTIALS_SIZE 48
#define CS_MAXIMAL_ACCESS 0x001F01FFu

/* Dialects as the negotiate commands store them. */
#define CS_DIALECT_SMB1 1
#define CS_DIALECT_SMB202 2
#define CS_DIALECT_SMB21 4
#define CS_DIALECT_SMB30 6
#define CS_DIALECT_SMB311 8

/* The NetBIOS socket slot of a connection, as the socket layer hands it out. */
typedef void *CSSocketSlot;

typedef struct CSSession {
    CSSocketSlot socket;
    uint32_t id;       /* slot index; CS_FREE_ID when free */
    uint32_t clientIp; /* network order */
    uint32_t dialect;
    /* Message signing. */
    uint32_t signingActive;
    uint32_t waitingForFirstKey;
    uint32_t expectedSequence;
    uint32_t responseSequence;
    uint8_t signingKey[16];
    /* Logon exchange. */
    uint8_t challenge[8];
    uint8_t nonceArea[16]; /* server challenge, client challenge */
    AMMechanismContext mechanism;
    /* SMB2/SMB3: credits, the MessageId window, the 3.1.1 connection hash,
     * the cipher, and what the client's NEGOTIATE said (validate negotiate). */
    uint32_t creditPool;
    uint32_t creditsGranted;
    uint64_t midLow; /* lowest MessageId not yet used */
    uint64_t midEnd; /* one past the highest MessageId granted */
    uint64_t midUsed[4]; /* MessageIds above midLow already used */
    uint32_t negotiateHashPending;
    uint8_t preauthHash[64];
    uint32_t useGcm;
    uint32_t negotiated; /* an SMB2 NEGOTIATE chose a dialect */
    uint32_t clientCapabilities;
    uint16_t clientSecurityMode;
    uint16_t clientDialectCount;
    uint8_t clientGuid[16];
    uint16_t clientDialects[32];
    /* SMB1: the capabilities both sides offered (large reads and writes). */
    uint32_t capabilities;
} CSSession;

typedef struct CSUser {
    uint32_t sessionId;
    uint16_t uid; /* slot index + 500; CS_FREE_ID when free */
    CSSession *session;
    uint32_t compatibility[2];
    uint32_t anonymous;
    uint32_t printerOwner;
    CMWchar name[CS_USER_NAME_UNITS];
    uint8_t credentials[CS_CREDENTIALS_SIZE];
    uint32_t credentialsLength;
    uint32_t domainUser;
    CMSdAccessToken token;
    uint32_t loggedOn;
    uint32_t ntStatusMode;
    uint32_t authenticated;
    uint32_t guest;
    uint32_t rid;
    uint32_t renewalTime; /* wall-clock seconds */
    /* Logon state. */
    uint32_t extendedSecurity;
    uint32_t encryptionRequired;
    uint8_t sessionKey[16];
    uint8_t smb3SigningKey[16];
    CMBlob macResponse; /* kept client response: second part of the SMB1 MAC key */
    /* SMB3: the 3.1.1 session hash while the logon runs, the keys, and
     * the transform nonces (the last received, and the sending counter). */
    uint32_t preauthInProgress;
    uint8_t preauthHash[64];
    uint8_t encryptionKey[16]; /* server to client */
    uint8_t decryptionKey[16]; /* client to server */
    uint8_t applicationKey[16];
    uint8_t nonce[12];
    uint64_t nonceCounter;
    uint8_t nonceSalt[4];
    /* A logon again on a live session keeps its keys: the session key the
     * client signs with is kept aside while the legs run. */
    uint32_t reauthenticating;
    uint8_t keptSessionKey[16];
} CSUser;

typedef struct CSTree {
    uint32_t sessionId;
    uint16_t uid;
    uint16_t tid; /* slot index + 10; CS_FREE_ID when free */
    void *share;
    uint32_t maximalAccess;
} CSTree;

typedef void (*CSLockFunction)(void);

/* Block. */
VX_API int csInitDatabase(CSLockFunction lock, CSLockFunction unlock);
VX_API void csCloseDatabase(void);
VX_API const uint8_t *cs2GetServerUuid(void);
VX_API CMUint64 cs2GetServerStartTime(void);
VX_API void csSetServerEncryption(uint32_t flag);
VX_API uint32_t csIsServerEncrypted(void);
VX_API int csHasAdminShare(void);
/* Message-signing policy words: enabled 1 and required 0 at creation. */
VX_API void csSetMessageSigningEnabled(uint32_t flag);
VX_API void csSetMessageSigningRequired(uint32_t flag);
VX_API uint32_t csIsMessageSigningEnabled(void);
VX_API uint32_t csIsMessageSigningRequired(void);
/* 0 disabled, 1 enabled, 2 required; other values change nothing. */
VX_API void csSetMessageSigningPolicy(uint32_t policy);
VX_API uint32_t csGetUsersCount(void);
VX_API uint32_t csGetSessionsCount(void);
VX_API uint32_t csGetSharesCount(void);
VX_API uint32_t csGetFilesCount(void);
VX_API uint32_t csGetUniqueFilesCount(void);
/* Closing a connection is the server loop's: it installs how (closing the
 * socket and freeing its client slot). Null uninstalls. */
VX_API void csDatabaseSetCloseHook(void (*closeConnection)(CSSocketSlot socket));

/* Sessions. */
VX_API CSSession *csGetNewSession(void);
VX_API CSSession *csGetSessionById(uint32_t id);
VX_API CSSession *csGetSessionBySocket(void);
VX_API CSSession *csGetSessionBySpecificSocket(CSSocketSlot socket);
VX_API int csSessionExists(void);
VX_API CSSession *csGetSessionByIp(uint32_t address);
VX_API void csReleaseSessions(CSSocketSlot socket, int flag);

/* Users. */
VX_API CSUser *csGetNewUser(CSSession *session);
VX_API CSUser *csGetUserByUid(uint16_t uid);
VX_API CSUser *csGetUserBySession(const CSSession *session);
VX_API CSUser *csGetUserByIndex(uint32_t index);
VX_API CSUser *csGetUserByNameAndSession(const CMWchar *name, uint32_t sessionId);
VX_API CSUser *csGetUserByNameAndCredentials(const CMWchar *name, const uint8_t *credentials,
                                             uint32_t length);
VX_API uint32_t csGetUserRid(const CSUser *user);
VX_API void csRenewUserTimeStamp(CSUser *user);
VX_API int csUserHasExpired(uint16_t uid);
VX_API CSUser *csGetExpiredUser(void);
VX_API void csReleaseUser(uint16_t uid, int flag);
VX_API void csReleaseUserAndDisconnect(uint16_t uid, int flag);
VX_API void csDisconnectAllAnonymousUsers(void);
VX_API int vxCleanUserServerConnectionsW(const CMWchar *name, uint32_t domainUser);
VX_API int vxCleanUserServerConnectionsA(const char *name, uint32_t domainUser);

/* Trees. */
VX_API CSTree *csGetNewTree(const CSUser *user);
VX_API CSTree *csGetTreeByTid(uint16_t tid);
VX_API void *csGetShareByUidTid(uint16_t uid, uint16_t tid);
VX_API CSTree *csGetNextTreeByShare(const void *share, uint16_t tid);
VX_API uint32_t csGetNumberOfShareUsers(const void *share);
VX_API void csReleaseTree(uint16_t tid, int flag);

/* The other tables' parts of the block's set-up and of a tree's release
 * (names, files, searches, shares), and the printer pipe's part of a user's
 * release (its open printers closed, their documents cancelled). */
VX_API int csDatabaseInitFileTables(void);
VX_API int csDatabaseLoadShares(void);
VX_API void csReleaseTreeFiles(uint16_t tid, int flag);
VX_API void csReleaseTreeSearches(uint16_t tid, int flag);
VX_API void csRpcSpoolssCleanupUser(uint16_t uid);

#endif
