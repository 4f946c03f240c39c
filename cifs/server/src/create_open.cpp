// The three workers of the create processing: open an existing file,
// directory or pipe under the sharing rules, create a file or directory, and
// start a print job.
#include "cscreate.h"
#include "cspaths.h"
#include "csservices.h"
#include "file_errors.h"
#include "share_modes.h"
#include "cmsd.h"
#include "cmstring.h"
#include "syerror.h"

#include <cstring>

using cs::errDos;
using cs::errSrv;

namespace {

constexpr uint32_t kNotifyAdded = 1, kFilterFileName = 1, kFilterDirectoryName = 2;

bool isDot(const CMWchar *entry)
{
    return entry[0] == '.' && (entry[1] == 0 || (entry[1] == '.' && entry[2] == 0));
}

// The name's last dot begins ".EXE", ".DLL", ".SYM" or ".COM".
bool isExecutable(const CMWchar *path)
{
    const CMWchar *dot = cmWStrrchr(path, '.');
    if (!dot || cmWStrlen(dot) != 4)
        return false;
    char ending[5] = {};
    for (int i = 0; i < 4; ++i) {
        CMWchar c = dot[i];
        ending[i] = c >= 'a' && c <= 'z' ? char(c - 32) : c < 0x80 ? char(c) : '?';
    }
    return !std::strcmp(ending, ".EXE") || !std::strcmp(ending, ".DLL") || !std::strcmp(ending, ".SYM") ||
           !std::strcmp(ending, ".COM");
}

uint32_t caseSensitiveOf(uint16_t uid)
{
    const CSUser *user = csGetUserByUid(uid);
    return user ? user->compatibility[0] : 0;
}

// The system error of a failed step, taken before the release changes it.
uint32_t releaseWithLastError(CSFile *file)
{
    uint32_t status = csErrorGetLast();
    csReleaseFile(file->fid);
    return status;
}

int openByCode(const CMWchar *path, unsigned code)
{
    switch (code) {
    case CS_MODE_WRITE:
        return syOpenFileForWrite(path);
    case CS_MODE_READ_WRITE:
    case CS_MODE_FCB:
        return syOpenFileForReadWrite(path);
    default:
        return syOpenFileForRead(path);
    }
}

// Reads the information through the descriptor, sets ARCHIVE and writes it back.
int markArchive(const CMWchar *path, int fd)
{
    SYFileInformation info;
    if (syGetFileInformation(fd, path, &info) != 0)
        return -1;
    info.attributes |= SY_ATTR_ARCHIVE;
    return sySetFileInformation(path, fd, &info);
}

}  // namespace

extern "C" {

int csDirectoryHasEntries(const CMWchar *path)
{
    SYDirectory dir = nullptr;
    const CMWchar *entry = nullptr;
    if (syFirstDirectoryFile(path, &dir, &entry) != 0 && !dir)
        return -1;
    int found = 0;
    while (entry && !found) {
        found = !isDot(entry);
        if (!found && syNextDirectoryFile(dir, &entry) != 0)
            entry = nullptr;
    }
    syCloseDirectory(dir);
    return found;
}

uint32_t csOpenFile(CMWchar *path, uint16_t tid, uint16_t mode, uint16_t *grantedMode, CSFile **out)
{
    if (out)
        *out = nullptr;
    const CSTree *tree = csGetTreeByTid(tid);
    if (!tree || !path || !out)
        return csErrorReturn(0xC0000001u, errSrv(1));
    // Raw DOS modes may name sharing or access the table has no row for.
    if (!csOpenModeIsValid(mode))
        return csErrorReturn(0xC000000Du, errDos(12));
    if (csFileMarkedForDeletion(path))
        return csErrorReturn(0xC0000056u, errDos(12));
    // Opens on the IPC share are pipes: its paths name no file to try.
    const CSShare *openedOn = static_cast<const CSShare *>(tree->share);
    const bool pipes = openedOn && openedOn->isIpc;
    if ((mode & CS_MODE_DELETE) && !pipes && !csCanDeleteFile(path))
        return csErrorReturn(0xC0000022u, errDos(5));

    CSName *name = csGetNameByName(path);
    bool fresh = name == nullptr;
    if (fresh)
        name = csGetNewName(path, tree->uid);
    if (!name)
        return csErrorReturn(0xC000011Fu, errDos(4));
    auto refuse = [&](uint32_t status) {
        if (fresh)
            csReleaseName(name->nid);
        return status;
    };

    SYFileInformation info{};
    bool isDirectory = false, readOnly = false;
    if (syGetFileInformationByName(path, &info) == 0) {
        isDirectory = (info.attributes & SY_ATTR_DIRECTORY) != 0;
        readOnly = (info.attributes & SY_ATTR_READONLY) != 0;
    }

    // Every open of a pipe is an instance of its own: no sharing between them.
    const CSFile *other = pipes ? nullptr : name->first;
    unsigned code = mode & CS_MODE_ACCESS_MASK;
    unsigned grant;
    if (code == CS_MODE_NO_DATA && (!(mode & CS_MODE_DELETE) || !other)) {
        // Attributes only: a read open that takes no part in sharing.
        mode = uint16_t(mode & ~CS_MODE_ACCESS_MASK);
        grant = CS_MODE_READ;
    } else {
        bool executable = isExecutable(path);
        if (code == CS_MODE_EXECUTE && readOnly && !executable)
            return refuse(csErrorReturn(0xC0000022u, errDos(5)));
        if (!other) {
            if (readOnly && (code == CS_MODE_WRITE || code == CS_MODE_READ_WRITE || code == CS_MODE_FCB))
                return refuse(csErrorReturn(0xC0000022u, errDos(5)));
            grant = code == CS_MODE_FCB ? CS_MODE_READ_WRITE : code;
        } else {
            if ((mode & CS_MODE_DELETE) && !(other->access & CS_MODE_SHARE_DELETE))
                return refuse(csErrorReturn(0xC0000043u, errDos(5)));
            uint8_t byte = cs::shareModeGrant(other->access, mode, name->uid == tree->uid, executable);
            if ((other->access & CS_MODE_DELETE) && byte != cs::kShareViolation)
                mode |= CS_MODE_DELETE;
            if (code == CS_MODE_NO_DATA) {
                // Delete access without data: only the share-delete test applies,
                // and no data access comes with it.
                grant = CS_MODE_NO_DATA;
            } else if (byte == cs::kShareViolation) {
                // Delete access does not lift the data sharing of the others.
                return refuse(csErrorReturn(0xC0000043u, errDos(32)));
            } else {
                grant = byte;
            }
        }
    }

    if (grantedMode)
        *grantedMode = uint16_t(grant | (mode & CS_MODE_DELETE));
    CSFile *file = csGetNewFile(tree, name, mode);
    if (!file)
        return refuse(csErrorReturn(0xC000011Fu, errDos(4)));

    if (pipes) {
        // SMB1 opens "\srvsvc", SMB2 "srvsvc": the name follows any separators.
        const CMWchar *pipeName = path;
        while (*pipeName == '/' || *pipeName == '\\')
            ++pipeName;
        if (!csDcerpcOpenPipe(pipeName, file)) {
            csReleaseFile(file->fid);
            return csErrorReturn(0xC0000034u, errDos(2));
        }
        *out = file;
        return 0;
    }

    bool writes = grant == CS_MODE_WRITE || grant == CS_MODE_READ_WRITE || grant == CS_MODE_FCB;
    if (uint32_t refusal = writes ? csCanWriteShare(tid) : csCanReadShare(tid)) {
        csReleaseFile(file->fid);
        return refusal;
    }
    int fd = isDirectory ? syOpenFileForRead(path) : openByCode(path, grant);
    if (fd < 0)
        return releaseWithLastError(file);
    file->fd = fd;
    if (!isDirectory && (writes || grant == CS_MODE_EXECUTE) && markArchive(path, fd) != 0)
        return releaseWithLastError(file);
    file->isDirectory = 0;
    *out = file;
    return 0;
}

uint32_t csCreateFile(uint32_t isDirectory, CMWchar *path, uint16_t tid, uint16_t mode, CSFile **out)
{
    if (out)
        *out = nullptr;
    if (!path || !out)
        return csErrorReturn(0xC0000001u, errSrv(1));
    if (!csOpenModeIsValid(mode))
        return csErrorReturn(0xC000000Du, errDos(12));
    unsigned code = mode & CS_MODE_ACCESS_MASK;
    uint16_t recordMode = mode;
    if (code == CS_MODE_NO_DATA) {
        recordMode = uint16_t(mode & 0xFF00u);
        code = CS_MODE_READ;
    }
    if (uint32_t refusal = csCanWriteShare(tid))
        return refusal;
    const CSTree *tree = csGetTreeByTid(tid);
    if (!tree)
        return csErrorReturn(0xC0000001u, errSrv(1));
    if (!csGetUserByUid(tree->uid))
        return csErrorReturn(0xC000000Du, errSrv(91));
    if (csGetNameByName(path))
        return csErrorReturn(0xC0000035u, errDos(80));

    CSName *name = csGetNewName(path, tree->uid);
    CSFile *file = name ? csGetNewFile(tree, name, recordMode) : nullptr;
    if (!file) {
        if (name)
            csReleaseName(name->nid);
        return csErrorReturn(0xC000011Fu, errDos(4));
    }
    file->createOptions = 0;
    const CSShare *share = static_cast<const CSShare *>(tree->share);

    if (isDirectory) {
        if (csCheckFile(share, path, caseSensitiveOf(tree->uid))) {
            csReleaseFile(file->fid);
            return csErrorReturn(0xC0000022u, errDos(5));
        }
        if (syCreateDirectory(path) != 0)
            return releaseWithLastError(file);
        file->directory = syOpenDirectory(path);
        if (!file->directory) {
            uint32_t status = releaseWithLastError(file);
            syDeleteDirectory(path);
            return status;
        }
        file->isDirectory = 1;
        csNotifyImmediatelly(path, kNotifyAdded, kFilterDirectoryName);
        *out = file;
        return 0;
    }

    SYFileInformation before;
    bool existed = syGetFileInformationByName(path, &before) == 0;
    int created = syCreateFile(path, 0, 0, 0);
    if (created < 0)
        return releaseWithLastError(file);
    syCloseFile(created);
    int fd = openByCode(path, code);
    if (fd >= 0)
        file->fd = fd;
    if (fd < 0 || markArchive(path, fd) != 0) {
        // A create that fails leaves no file behind, and takes none that was there.
        uint32_t status = releaseWithLastError(file);
        if (!existed)
            syDeleteFile(path);
        return status;
    }
    csNotifyImmediatelly(path, kNotifyAdded, kFilterFileName);
    *out = file;
    return 0;
}

uint32_t csOpenPrintFile(const CMWchar *documentName, CSShare *share, uint16_t tid, uint16_t mode,
                         CSFile **out, CSUser *user)
{
    if (out)
        *out = nullptr;
    const CSTree *tree = csGetTreeByTid(tid);
    if (!tree || !share || !documentName || !out)
        return csErrorReturn(0xC0000001u, errSrv(1));
    CSName *name = csGetNewName(documentName, tree->uid);
    CSFile *file = name ? csGetNewFile(tree, name, mode) : nullptr;
    if (!file) {
        if (name)
            csReleaseName(name->nid);
        return csErrorReturn(0xC000011Fu, errDos(4));
    }
    uint32_t printer = syGetPrinterHandle(share->path, share->name, share->debugLevel);
    if (printer == 0xFFFFFFFFu) {
        csReleaseFile(file->fid);
        return csErrorReturn(0xC0000034u, errDos(2));
    }
    CMSdSecurityDescriptor sd{};
    if (user)
        cmSdGetDefaultSecurityDescriptorByToken(&user->token, &sd);
    else
        cmSdGetDefaultSecurityDescriptor(&sd);
    uint32_t job = syStartPrintJob(printer, documentName, documentName, 0, sd.data, sd.length, user);
    if (job == 0xFFFFFFFFu) {
        csReleaseFile(file->fid);
        return csErrorReturn(0xC0000001u, errSrv(1));
    }
    // Only a started job is ended at release.
    file->isPrintJob = 1;
    file->printerHandle = printer;
    file->fd = int32_t(job);
    *out = file;
    return 0;
}

uint32_t csOpenPrintFileOnShare(const CMWchar *name, CSShare *share, uint16_t tid, uint16_t mode,
                                CSFile **out, CSUser *user)
{
    if (!share || !share->isPrinter) {
        if (out)
            *out = nullptr;
        return csErrorReturn(0xC0000001u, errSrv(1));
    }
    return csOpenPrintFile(name, share, tid, mode, out, user);
}

}  // extern "C"
