// The create processing of NT_CREATE_ANDX and SMB2 CREATE: an NT create
// request (access, sharing, disposition, options, attributes) becomes an open
// file record with its create action and information.
#include "cscreate.h"
#include "cspaths.h"
#include "file_errors.h"
#include "cmstring.h"

using cs::errDos;
using cs::errSrv;

namespace {

constexpr uint32_t kDeleteOnClose = CS_DELETE_ON_CLOSE;

// Through the handle's descriptor when it has one (a directory has none).
int informationOf(const CSFile *file, const CSShare *share, const CMWchar *path, SYFileInformation *info)
{
    return file->fd != -1 || file->pipe ? csGetFileInformation(file, path, info)
                                        : csGetFileInformationByName(share, path, info);
}

// Overwrite: truncate to 0 through a writing descriptor, then open afresh.
uint32_t overwrite(CSCreateParameters *p, uint16_t mode, unsigned grant)
{
    CSFile *file = p->file;
    p->file = nullptr;
    if (grant == CS_MODE_READ || grant == CS_MODE_EXECUTE) {
        if (csCanWriteShare(p->tid)) {
            csReleaseFile(file->fid);
            return csErrorReturn(0xC0000022u, errDos(5));
        }
        csReleaseFile(file->fid);
        int fd = syOpenFileForWrite(p->path);
        if (fd < 0)
            return csErrorGetLast();
        int rc = syTruncateFile(fd, 0, 0);
        uint32_t status = rc != 0 ? csErrorGetLast() : 0;
        syCloseFile(fd);
        if (status)
            return status;
    } else {
        int rc = syTruncateFile(file->fd, 0, 0);
        uint32_t status = rc != 0 ? csErrorGetLast() : 0;
        csReleaseFile(file->fid);
        if (status)
            return status;
    }
    return csOpenFile(p->path, p->tid, mode, nullptr, &p->file);
}

uint32_t openExisting(CSCreateParameters *p, uint16_t mode, bool dir, const CSShare *share)
{
    if (p->disposition == CS_CREATE)
        return csErrorReturn(0xC0000035u, errDos(80));
    SYFileInformation info;
    if (csGetFileInformationByName(share, p->path, &info) != 0)
        return csErrorGetLast();
    bool isDirectory = (info.attributes & SY_ATTR_DIRECTORY) != 0;
    bool readOnly = (info.attributes & SY_ATTR_READONLY) != 0;
    if (isDirectory) {
        if (p->createOptions & CS_FILE_NON_DIRECTORY_FILE)
            return 0xC00000BAu;
        if (dir && p->disposition == CS_OVERWRITE)
            return csErrorReturn(0xC0000022u, errDos(87));
        if ((mode & CS_MODE_DELETE) && share && cmWStricmp(p->path, share->path) == 0)
            return csErrorReturn(0xC0000022u, errDos(87));
        // Delete on close would delete nothing of a full directory: say so now.
        if ((p->createOptions & kDeleteOnClose) && csDirectoryHasEntries(p->path) > 0)
            return csErrorReturn(0xC0000101u, errDos(145));
    } else if (dir) {
        return 0xC0000103u;
    }
    bool overwrites = p->disposition == CS_OVERWRITE || p->disposition == CS_OVERWRITE_IF;
    if ((p->createOptions & kDeleteOnClose) && readOnly)
        return csErrorReturn(0xC0000121u, errDos(5));
    // Overwriting a read-only file would lose its data.
    if (overwrites && readOnly)
        return csErrorReturn(0xC0000022u, errDos(5));

    uint16_t granted = 0;
    if (uint32_t status = csOpenFile(p->path, p->tid, mode, &granted, &p->file))
        return status;
    if (overwrites && !isDirectory) {
        if (uint32_t status = overwrite(p, mode, granted & CS_MODE_ACCESS_MASK))
            return status;
        p->action = CS_ACTION_OVERWRITTEN;
    } else {
        p->action = CS_ACTION_OPENED;
    }
    p->file->isDirectory = isDirectory ? 1 : 0;
    return 0;
}

}  // namespace

extern "C" {

uint32_t csCreateCommonProcessing(CSCreateParameters *p)
{
    if (!p || !p->path)
        return csErrorReturn(0xC000000Du, errSrv(91));
    p->file = nullptr;
    p->action = 0;
    CSShare *share = p->share;
    uint32_t caseSensitive = p->user ? p->user->compatibility[0] : 0;
    uint32_t rootLength = share ? cmWStrlen(share->path) : 0;
    if (!csCheckPath(share, p->path, rootLength, caseSensitive))
        return csErrorReturn(0xC000003Au, errDos(3));
    uint16_t mode = csAccessToOpenMode(p->desiredAccess, p->shareAccess);
    p->desiredAccess = mode;
    bool exists = csCheckFile(share, p->path, caseSensitive) != 0;
    // Deleting needs the right to write the share, whoever asks.
    if (p->createOptions & kDeleteOnClose)
        if (uint32_t refusal = csCanWriteShare(p->tid))
            return refusal;

    if (share && share->isPrinter) {
        if (csOpenPrintFileOnShare(p->path, share, p->tid, mode, &p->file, p->user))
            return csErrorReturn(0xC0000001u, errSrv(1));
        p->action = CS_ACTION_CREATED;
        p->information = SYFileInformation{};
    } else {
        bool dir = (p->createOptions & CS_FILE_DIRECTORY_FILE) != 0;
        if (!exists) {
            if (p->disposition == CS_OPEN)
                return csErrorReturn(0xC0000034u, errDos(2));
            if (p->disposition == CS_OVERWRITE)
                return csErrorReturn(0xC0000034u, dir ? errDos(87) : errDos(2));
            if (uint32_t status = csCreateFile(dir, p->path, p->tid, mode, &p->file))
                return status;
            p->action = CS_ACTION_CREATED;
            p->file->isDirectory = dir ? 1 : 0;
        } else if (uint32_t status = openExisting(p, mode, dir, share)) {
            return status;
        }

        CSFile *file = p->file;
        file->pid = p->pid;
        file->tid = p->tid;
        file->uid = p->uid;
        file->createOptions = p->createOptions;
        auto fail = [&](uint32_t status) {
            p->file = nullptr;
            csReleaseFile(file->fid);
            return status;
        };
        if (informationOf(file, share, p->path, &p->information) != 0)
            return fail(csErrorGetLast());
        if (p->action == CS_ACTION_CREATED || p->action == CS_ACTION_OVERWRITTEN) {
            p->information.attributes =
                csChangeFileAttributes(p->information.attributes, p->attributes | 0x20u);
            // The last write time stays as the file system has it.
            p->information.lastChangeTime = CMUint64{0, 0};
            if (!file->isDirectory) {
                if (csSetFileInformation(file, p->path, &p->information) != 0)
                    return fail(csErrorReturn(0xC0000022u, errDos(5)));
                if (informationOf(file, share, p->path, &p->information) != 0)
                    return fail(csErrorGetLast());
            }
        }
    }
    if (p->information.attributes & SY_ATTR_DIRECTORY) {
        p->file->isDirectory = 1;
        p->information.endOfFile = CMUint64{0, 0};
    }
    return 0;
}

}  // extern "C"
