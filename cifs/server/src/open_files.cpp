// Open names, files and searches of the server database. A name is one path
// with open handles and carries what all of them share (delete on close,
// changed); a file is one handle; a search one directory walk a client keeps.
#include "db_block.h"
#include "csfiles.h"
#include "csservices.h"
#include "csshares.h"
#include "cmipaddr.h"
#include "cmstring.h"
#include "syerror.h"

#include <cstring>

using cs::Database;

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
// Change notifications: action and filter of a removal and of a modification.
constexpr uint32_t kRemoved = 2, kRemovedFilter = 3, kModified = 3, kModifiedFilter = 16;

Database *block() { return cs::db(); }

CSFile *fileSlot(uint16_t fid)
{
    Database *d = block();
    if (!d || fid < CS_FID_BASE || fid >= CS_FID_BASE + CS_MAX_FILES)
        return nullptr;
    CSFile &f = d->files[fid - CS_FID_BASE];
    return f.fid == fid ? &f : nullptr;
}

CSName *nameSlot(uint16_t nid)
{
    Database *d = block();
    if (!d || nid >= CS_MAX_NAMES || d->names[nid].nid != nid)
        return nullptr;
    return &d->names[nid];
}

void freeFile(CSFile &f)
{
    std::memset(&f, 0, sizeof f);
    f.fid = CS_FREE_ID;
    f.tid = CS_FREE_ID;
    f.uid = CS_FREE_ID;
    f.fd = -1;
    f.sid = CS_FREE_ID;
    f.nid = CS_FREE_ID;
}

void freeSearch(CSSearch &s)
{
    std::memset(&s, 0, sizeof s);
    s.sid = CS_FREE_ID;
}

bool pathExists(const CMWchar *path, SYFileInformation &info)
{
    return syGetFileInformationByName(path, &info) == 0;
}

// The tree of a tid whatever connection is served.
const CSTree *anyTree(uint16_t tid)
{
    Database *d = block();
    if (!d || tid < CS_TID_BASE || tid >= CS_TID_BASE + CS_MAX_TREES)
        return nullptr;
    const CSTree &t = d->trees[tid - CS_TID_BASE];
    return t.tid == tid ? &t : nullptr;
}

const CSUser *anyUser(uint16_t uid)
{
    Database *d = block();
    if (!d || uid < CS_UID_BASE || uid >= CS_UID_BASE + CS_MAX_USERS)
        return nullptr;
    const CSUser &u = d->users[uid - CS_UID_BASE];
    return u.uid == uid ? &u : nullptr;
}

}  // namespace

namespace cs {

void initFileTables(Database &d)
{
    for (CSName &n : d.names) {
        std::memset(&n, 0, sizeof n);
        n.nid = CS_FREE_ID;
    }
    for (CSFile &f : d.files)
        freeFile(f);
    for (CSSearch &s : d.searches)
        freeSearch(s);
    d.filesCount = d.uniqueFilesCount = d.notifyCursor = 0;
}

}  // namespace cs

extern "C" {

int csDatabaseInitFileTables(void)
{
    if (Database *d = block()) {
        cs::initFileTables(*d);
        cs::initShares(*d);
    }
    return 0;
}

CSName *csGetNewName(const CMWchar *path, uint16_t uid)
{
    Database *d = block();
    if (!d || !path)
        return nullptr;
    uint32_t length = cmWStrlen(path);
    if (length >= CS_NAME_PATH_UNITS) {
        sySetLastVxError(CM_ERR_GENERAL);
        return nullptr;
    }
    for (uint16_t i = 0; i < CS_MAX_NAMES; ++i) {
        CSName &n = d->names[i];
        if (n.nid != CS_FREE_ID && n.first)
            continue;
        // A used name without handles is only left over: take it as it is.
        if (n.nid != CS_FREE_ID && d->uniqueFilesCount)
            --d->uniqueFilesCount;
        std::memset(&n, 0, sizeof n);
        n.nid = i;
        std::memcpy(n.path, path, (length + 1) * sizeof(CMWchar));
        n.uid = uid;
        ++d->uniqueFilesCount;
        return &n;
    }
    logError("No more name slots");
    return nullptr;
}

CSFile *csGetNewFile(const CSTree *tree, CSName *name, uint16_t access)
{
    Database *d = block();
    if (!d || !tree || !name || name->nid == CS_FREE_ID)
        return nullptr;
    for (uint32_t i = 0; i < CS_MAX_FILES; ++i) {
        CSFile &f = d->files[i];
        if (f.fid != CS_FREE_ID)
            continue;
        freeFile(f);
        f.fid = uint16_t(i + CS_FID_BASE);
        f.sessionId = tree->sessionId;
        f.tid = tree->tid;
        f.uid = tree->uid;
        f.nid = name->nid;
        f.access = access;
        f.printerHandle = kNone;
        for (uint32_t &c : f.pipeContexts)
            c = kNone;
        f.next = name->first;
        if (name->first)
            name->first->previous = &f;
        name->first = &f;
        ++d->filesCount;
        return &f;
    }
    logError("No more file slots");
    return nullptr;
}

CSSearch *csGetNewSearch(const CSTree *tree)
{
    Database *d = block();
    if (!d || !tree)
        return nullptr;
    for (uint16_t i = 0; i < CS_MAX_SEARCHES; ++i) {
        CSSearch &s = d->searches[i];
        if (s.sid != CS_FREE_ID)
            continue;
        freeSearch(s);
        s.sessionId = tree->sessionId;
        s.sid = i;
        s.tid = tree->tid;
        return &s;
    }
    logError("No more search slots");
    return nullptr;
}

void csReleaseName(uint16_t nid)
{
    CSName *n = nameSlot(nid);
    if (!n)
        return;
    if (n->deleteOnClose) {
        SYFileInformation info;
        if (pathExists(n->path, info))
            info.isDirectory ? syDeleteDirectory(n->path) : syDeleteFile(n->path);
        csNotifyImmediatelly(n->path, kRemoved, kRemovedFilter);
    } else if (n->changed) {
        csNotifyImmediatelly(n->path, kModified, kModifiedFilter);
    }
    n->nid = CS_FREE_ID;
    n->first = nullptr;
    if (block()->uniqueFilesCount)
        --block()->uniqueFilesCount;
}

void csReleaseFile(uint16_t fid)
{
    CSFile *f = fileSlot(fid);
    if (!f)
        return;
    // Opens waiting on this file's oplock are answered before it goes.
    csOplockFileReleased(f);
    csNotifyFileReleased(f);
    if (f->isPrintJob) {
        syEndPrintJob(f->printerHandle, uint32_t(f->fd));
    } else {
        if (f->directory)
            syCloseDirectory(f->directory);
        if (f->fd != -1)
            syCloseFile(f->fd);
        if (f->pipe)
            csDcerpcClosePipe(f);
    }
    CSName *n = nameSlot(f->nid);
    if (n) {
        if (n->deleteOnClose)
            csNotifyImmediatelly(n->path, kRemoved, kRemovedFilter);
        if (f->previous)
            f->previous->next = f->next;
        if (f->next)
            f->next->previous = f->previous;
        if (n->first == f)
            n->first = f->next;
        if (!n->first)
            csReleaseName(n->nid);
    }
    uint16_t sid = f->sid;
    f->fd = -1;
    f->directory = nullptr;
    f->previous = f->next = nullptr;
    f->fid = CS_FREE_ID;
    f->releaseWord = 0;
    if (sid != CS_FREE_ID)
        csReleaseSearch(sid);
    if (block()->filesCount)
        --block()->filesCount;
}

void csReleaseSearch(uint16_t sid)
{
    Database *d = block();
    if (!d || sid >= CS_MAX_SEARCHES || d->searches[sid].sid != sid)
        return;
    csCancelEnumeration(&d->searches[sid].enumeration);
    d->searches[sid].sid = CS_FREE_ID;
}

void csReleaseTreeFiles(uint16_t tid, int)
{
    Database *d = block();
    if (!d)
        return;
    for (CSFile &f : d->files)
        if (f.fid != CS_FREE_ID && f.tid == tid)
            csReleaseFile(f.fid);
}

void csReleaseTreeSearches(uint16_t tid, int)
{
    Database *d = block();
    if (!d)
        return;
    for (CSSearch &s : d->searches)
        if (s.sid != CS_FREE_ID && s.tid == tid)
            csReleaseSearch(s.sid);
}

CSFile *csGetFileByFid(uint16_t fid, uint16_t tid, uint16_t uid)
{
    CSFile *f = fileSlot(fid);
    if (!f || !cs::ofCurrentConnection(f->sessionId) || f->tid != tid || f->uid != uid)
        return nullptr;
    return f;
}

CSFile *csGetFileByJustFid(uint16_t fid) { return fileSlot(fid); }

CSFile *csGetFileByContext(uint16_t pid, uint16_t mid, uint16_t tid, uint16_t uid)
{
    Database *d = block();
    if (!d)
        return nullptr;
    for (CSFile &f : d->files)
        if (f.fid != CS_FREE_ID && f.notify[2] && f.notifyContext.pid == pid && f.notifyContext.mid == mid &&
            f.tid == tid && f.uid == uid)
            return &f;
    return nullptr;
}

CSFile *cs2GetFileByContext(uint32_t asyncLow, uint32_t asyncHigh, uint16_t uid)
{
    Database *d = block();
    if (!d)
        return nullptr;
    for (CSFile &f : d->files)
        if (f.fid != CS_FREE_ID && f.notify[2] && f.asyncIdLow == asyncLow && f.asyncIdHigh == asyncHigh &&
            f.uid == uid)
            return &f;
    return nullptr;
}

const CMWchar *csGetFileName(uint16_t fid)
{
    CSFile *f = fileSlot(fid);
    CSName *n = f ? nameSlot(f->nid) : nullptr;
    return n ? n->path : nullptr;
}

CSName *csGetNameByNid(uint16_t nid) { return nameSlot(nid); }

CSName *csGetNameByName(const CMWchar *path)
{
    Database *d = block();
    if (!d || !path)
        return nullptr;
    for (CSName &n : d->names)
        if (n.nid != CS_FREE_ID && n.first && cmWStrcmp(n.path, path) == 0)
            return &n;
    return nullptr;
}

int csFileMarkedForDeletion(const CMWchar *path)
{
    CSName *n = csGetNameByName(path);
    return n && n->deleteOnClose ? 1 : 0;
}

uint16_t csGetNextFileOpen(uint16_t fid)
{
    Database *d = block();
    if (!d)
        return CS_FREE_ID;
    uint32_t from = (fid == CS_FREE_ID || fid < CS_FID_BASE) ? 0 : uint32_t(fid - CS_FID_BASE);
    for (uint32_t i = from; i < CS_MAX_FILES; ++i)
        if (d->files[i].fid != CS_FREE_ID)
            return d->files[i].fid;
    return CS_FREE_ID;
}

CSFile *csGetNextFileByName(uint16_t fid)
{
    CSFile *f = fileSlot(fid);
    return f ? f->next : nullptr;
}

CSFile *csGetNextFileByPid(uint32_t pid, uint16_t fid)
{
    Database *d = block();
    if (!d)
        return nullptr;
    uint32_t from = 0;
    if (fid != CS_FREE_ID) {
        if (fid < CS_FID_BASE)
            return nullptr;
        from = uint32_t(fid - CS_FID_BASE) + 1;
    }
    for (uint32_t i = from; i < CS_MAX_FILES; ++i)
        if (d->files[i].fid != CS_FREE_ID && d->files[i].pid == pid)
            return &d->files[i];
    return nullptr;
}

CSFile *csGetFileByIndex(uint32_t index)
{
    Database *d = block();
    if (!d)
        return nullptr;
    for (CSFile &f : d->files)
        if (f.fid != CS_FREE_ID && index-- == 0)
            return &f;
    return nullptr;
}

uint32_t csGetNumberOfUserFiles(const CSUser *user)
{
    Database *d = block();
    if (!d || !user)
        return 0;
    uint32_t n = 0;
    for (const CSName &name : d->names)
        n += name.nid != CS_FREE_ID && name.first && name.first->uid == user->uid;
    return n;
}

uint32_t csGetNumberOfShareFiles(const void *share)
{
    Database *d = block();
    if (!d)
        return 0;
    uint32_t n = 0;
    for (const CSName &name : d->names) {
        if (name.nid == CS_FREE_ID || !name.first)
            continue;
        const CSTree *t = anyTree(name.first->tid);
        n += t && t->share == share;
    }
    return n;
}

CSSearch *csGetSearchBySid(uint16_t sid)
{
    Database *d = block();
    if (!d || sid >= CS_MAX_SEARCHES || d->searches[sid].sid != sid ||
        !cs::ofCurrentConnection(d->searches[sid].sessionId))
        return nullptr;
    return &d->searches[sid];
}

void csStartNotifyRequestSearch(void)
{
    if (Database *d = block())
        d->notifyCursor = 0;
}

CSFile *csEnumerateNotifyRequest(void)
{
    Database *d = block();
    if (!d)
        return nullptr;
    while (d->notifyCursor < CS_MAX_FILES) {
        CSFile &f = d->files[d->notifyCursor++];
        if (f.fid != CS_FREE_ID && f.notify[2])
            return &f;
    }
    return nullptr;
}

int vxEnumerateOpenFilesW(uint32_t index, VXOpenFileInfoW *record)
{
    CSFile *f = csGetFileByIndex(index);
    if (!f || !record)
        return 0;
    std::memset(record, 0, sizeof *record);
    if (const CMWchar *path = csGetFileName(f->fid))
        cmWStrncpy(record->path, path, sizeof record->path / sizeof(CMWchar) - 1);
    if (const CSUser *u = anyUser(f->uid))
        cmWStrncpy(record->user, u->name, sizeof record->user / sizeof(CMWchar) - 1);
    if (const CSSession *s = csGetSessionById(f->sessionId)) {
        char text[16];
        cmIpToAscii(text, &s->clientIp);
        cmAnsiToUnicodeN(record->address, text, sizeof text);
    }
    record->isDirectory = f->isDirectory;
    return 1;
}

int vxEnumerateOpenFilesA(uint32_t index, VXOpenFileInfoA *record)
{
    VXOpenFileInfoW *wide = static_cast<VXOpenFileInfoW *>(cmMemoryAllocNonDebug(sizeof(VXOpenFileInfoW)));
    if (!wide || !record) {
        cmMemoryFreeNonDebug(wide);
        return 0;
    }
    int found = vxEnumerateOpenFilesW(index, wide);
    if (found) {
        cmUnicodeToAnsiN(record->path, wide->path, 2 * (sizeof record->path - 1));
        cmUnicodeToAnsiN(record->user, wide->user, 2 * (sizeof record->user - 1));
        cmUnicodeToAnsiN(record->address, wide->address, 2 * (sizeof record->address - 1));
        record->isDirectory = wide->isDirectory;
    }
    cmMemoryFreeNonDebug(wide);
    return found;
}

}  // extern "C"
