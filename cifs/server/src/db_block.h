// Internal: the server database's one block, shared by its tables' sources.
#pragma once
#include "csdb.h"
#include "csfiles.h"
#include "csshares.h"
#include "sythread.h"

namespace cs {

struct Database {
    CSSession sessions[CS_MAX_SESSIONS];
    CSUser users[CS_MAX_USERS];
    CSTree trees[CS_MAX_TREES];
    CSName names[CS_MAX_NAMES];
    CSFile files[CS_MAX_FILES];
    CSSearch searches[CS_MAX_SEARCHES];
    CSShare shares[CS_MAX_SHARES];
    CSShare *adminShare;
    uint32_t started;
    SYMutex mutex;
    uint32_t sharesCount, usersCount, filesCount, uniqueFilesCount, notifyCursor;
    uint8_t cleared[16];
    uint8_t serverGuid[16];
    CMUint64 startTime;
    uint32_t encryptionRequired;
    uint32_t signingEnabled, signingRequired;
    CSLockFunction lock, unlock;
};

// Null while no database exists.
Database *db();

// The session's socket is the connection being served.
bool ofCurrentConnection(uint32_t sessionId);

// Sets up the name, file and search tables, and the shares.
void initFileTables(Database &d);
void initShares(Database &d);

}  // namespace cs
