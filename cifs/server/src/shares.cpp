// The share table: "IPC$", the shares the host hooks configure and those
// added at run time. Changes hold the database mutex and then the dispatch
// mutex, so they fall between requests.
#include "db_block.h"
#include "csservices.h"
#include "csshares.h"
#include "cmmemory.h"
#include "cmstring.h"
#include "syerror.h"
#include "udhooks.h"

#include <cerrno>
#include <cstring>

using cs::Database;

namespace {

constexpr uint32_t kNoPrinter = 0xFFFFFFFFu;
// Shares read from the hooks besides "IPC$".
constexpr uint32_t kConfiguredShares = CS_MAX_SHARES - 1;

const CMWchar kEmpty[] = {0};

// Database mutex, then dispatch mutex; released the other way round.
class ShareLock {
public:
    explicit ShareLock(Database &d) : d_(d)
    {
        syMutexTake(&d_.mutex);
        if (d_.lock)
            d_.lock();
    }
    ~ShareLock()
    {
        if (d_.unlock)
            d_.unlock();
        syMutexGive(&d_.mutex);
    }
    ShareLock(const ShareLock &) = delete;
    ShareLock &operator=(const ShareLock &) = delete;

private:
    Database &d_;
};

int fail(int32_t code)
{
    sySetLastVxError(code);
    return -1;
}

int succeed()
{
    errno = 0;
    return 0;
}

Database *started()
{
    Database *d = cs::db();
    return d && d->started ? d : nullptr;
}

CSShare *findShare(Database &d, const CMWchar *name)
{
    for (CSShare &s : d.shares)
        if (!s.free && cmWStricmp(s.name, name) == 0)
            return &s;
    return nullptr;
}

bool hasUnit(const CMWchar *s, CMWchar c) { return cmWStrchr(s, c) != nullptr; }

// A narrow text widened unit for unit; null stays null.
struct Wide {
    explicit Wide(const char *text)
        : text(text ? cmMemoryCloneAStringNonDebug(text) : nullptr), ok(!text || this->text)
    {
    }
    ~Wide() { cmMemoryFreeNonDebug(text); }
    Wide(const Wide &) = delete;
    Wide &operator=(const Wide &) = delete;
    CMWchar *text;
    bool ok;
};

}  // namespace

namespace cs {

void initShares(Database &d)
{
    for (uint16_t i = 0; i < CS_MAX_SHARES; ++i) {
        std::memset(&d.shares[i], 0, sizeof d.shares[i]);
        d.shares[i].index = i;
        d.shares[i].free = 1;
    }
    d.adminShare = nullptr;
    d.sharesCount = 0;
}

}  // namespace cs

extern "C" {

int csDatabaseLoadShares(void)
{
    vxAddShareA("IPC$", "", "", -1, "IPC Service");
    CMWchar name[UD_SHARE_NAME_SIZE], path[UD_SHARE_PATH_SIZE], comment[UD_SHARE_COMMENT_SIZE];
    int isPrinter = 0;
    // The hook's walk is drained to its end: while it runs, the hooks refuse
    // every write to the shares file.
    uint32_t added = 0;
    while (udGetNextShare(name, path, &isPrinter, comment)) {
        if (added < kConfiguredShares) {
            vxAddShareW(name, path, kEmpty, -1, comment);
            ++added;
        }
    }
    return 0;
}

int vxAddShareW(const CMWchar *name, const CMWchar *path, const CMWchar *statusPath, int16_t debugLevel,
                const CMWchar *comment)
{
    Database *d = started();
    if (!d)
        return fail(CM_ERR_DB_NOT_STARTED);
    path = path ? path : kEmpty;
    statusPath = statusPath ? statusPath : kEmpty;
    comment = comment ? comment : kEmpty;
    if (!name || !*name || cmWStrlen(name) > CS_SHARE_NAME_MAX || cmWStrlen(path) > CS_SHARE_PATH_MAX ||
        cmWStrlen(statusPath) > CS_SHARE_PATH_MAX || cmWStrlen(comment) > CS_SHARE_COMMENT_MAX)
        return fail(CM_ERR_GENERAL);
    ShareLock lock(*d);
    if (findShare(*d, name))
        return fail(CM_ERR_EXISTS);
    CSShare *share = nullptr;
    for (CSShare &s : d->shares)
        if (s.free) {
            share = &s;
            break;
        }
    if (!share)
        return fail(CM_ERR_NO_ROOM);
    CSShare record;
    std::memset(&record, 0, sizeof record);
    record.index = share->index;
    cmWStrcpy(record.name, name);
    cmWStrcpy(record.path, path);
    cmWStrcpy(record.statusPath, statusPath);
    cmWStrcpy(record.comment, comment);
    record.debugLevel = debugLevel;
    static const CMWchar kIpc[] = {'I', 'P', 'C', '$', 0};
    record.isIpc = cmWStrcmp(name, kIpc) == 0;
    record.isPrinter = debugLevel >= 0;
    record.isHidden = hasUnit(name, '$') && !record.isIpc && !record.isPrinter;
    if (record.isHidden)
        cmSdGetAdminonlyShareSecurityDescriptor(&record.sd);
    else
        csLoadShareSecurityDescriptor(&record);
    if (record.isPrinter) {
        uint32_t handle = syGetPrinterHandle(record.path, record.name, debugLevel);
        if (handle == kNoPrinter)
            return fail(CM_ERR_NO_ROOM);
        static CMSdSecurityDescriptor printerSd;
        if (cmSdGetDefaultSecurityDescriptor(&printerSd))
            syPrinterSetSecurityDescriptor(handle, printerSd.data, printerSd.length);
    }
    *share = record;
    share->free = 0;
    if (share->isHidden)
        d->adminShare = share;
    ++d->sharesCount;
    return succeed();
}

int vxAddShareA(const char *name, const char *path, const char *statusPath, int16_t debugLevel,
                const char *comment)
{
    if (!name)
        return fail(CM_ERR_GENERAL);
    Wide n(name), p(path), s(statusPath), c(comment);
    if (!n.ok || !p.ok || !s.ok || !c.ok)
        return fail(CM_ERR_NOMEM);
    return vxAddShareW(n.text, p.text, s.text, debugLevel, c.text);
}

int vxRemoveShareW(const CMWchar *name)
{
    Database *d = started();
    if (!d)
        return fail(CM_ERR_DB_NOT_STARTED);
    if (!name)
        return fail(CM_ERR_GENERAL);
    ShareLock lock(*d);
    CSShare *share = findShare(*d, name);
    if (!share || share == d->adminShare)
        return fail(CM_ERR_GENERAL);
    if (share->isPrinter && share->statusPath[0])
        syDeleteFile(share->statusPath);
    share->free = 1;
    // Every tree on the share goes at once, with its files and searches.
    for (CSTree &t : d->trees)
        if (t.tid != CS_FREE_ID && t.share == share)
            csReleaseTree(t.tid, 0);
    --d->sharesCount;
    return succeed();
}

int vxRemoveShareA(const char *name)
{
    Wide n(name);
    if (!n.ok)
        return fail(CM_ERR_NOMEM);
    return vxRemoveShareW(n.text);
}

int vxSetShareEncryptionW(const CMWchar *name, uint32_t flag)
{
    Database *d = started();
    if (!d)
        return fail(CM_ERR_DB_NOT_STARTED);
    ShareLock lock(*d);
    if (!name) {
        csSetServerEncryption(flag);
        return succeed();
    }
    CSShare *share = findShare(*d, name);
    if (!share)
        return fail(CM_ERR_GENERAL);
    share->encryptionRequired = flag;
    return succeed();
}

int vxSetShareEncryptionA(const char *name, uint32_t flag)
{
    Wide n(name);
    if (!n.ok)
        return fail(CM_ERR_NOMEM);
    return vxSetShareEncryptionW(n.text, flag);
}

CSShare *csGetShareByName(const CMWchar *name)
{
    Database *d = cs::db();
    return d && name ? findShare(*d, name) : nullptr;
}

CSShare *csGetShareByIndex(uint32_t index)
{
    Database *d = cs::db();
    if (!d)
        return nullptr;
    for (CSShare &s : d->shares)
        if (!s.free && index-- == 0)
            return &s;
    return nullptr;
}

CSShare *csGetHiddenShareByMap(const CMWchar *path)
{
    Database *d = cs::db();
    if (!d || !path)
        return nullptr;
    for (CSShare &s : d->shares)
        if (!s.free && s.isHidden && cmWStrincmp(s.path, path, cmWStrlen(s.path)) == 0)
            return &s;
    return nullptr;
}

void csLoadShareSecurityDescriptor(CSShare *share)
{
    if (!share)
        return;
    uint32_t length = udLoadShareSecurityDescriptor(share->name, share->sd.data, sizeof share->sd.data);
    share->sd.length = length <= sizeof share->sd.data ? length : 0;
    if (share->sd.length == 0 || !cmSdIsValid(&share->sd))
        cmSdGetShareSecurityDescriptor(&share->sd);
}

int csSetShareSecurityDescriptor(CSShare *share)
{
    if (share)
        udSaveShareSecurityDescriptor(share->name, share->sd.data, share->sd.length);
    return 1;
}

void vxUpdatePrinterStatuses(void)
{
    Database *d = cs::db();
    if (!d)
        return;
    for (CSShare &s : d->shares)
        if (!s.free && s.isPrinter)
            syUpdatePrinterStatus(s.path, s.name, s.statusPath, s.debugLevel);
}

void vxRemovePrinterStatuses(void)
{
    Database *d = cs::db();
    if (!d)
        return;
    for (CSShare &s : d->shares)
        if (!s.free && s.isPrinter && s.statusPath[0])
            syDeleteFile(s.statusPath);
}

void csDisconnectAllPrinters(const CMWchar *userName)
{
    Database *d = cs::db();
    if (!d || !userName)
        return;
    for (CSUser &u : d->users)
        if (u.uid != CS_FREE_ID && cmWStrcmp(u.name, userName) == 0)
            csRpcSpoolssCleanupUser(u.uid);
}

}  // extern "C"
