// Least versions of what the dispatcher calls of its neighbours: the SMB1
// commands, the SMB2 dispatcher, the path checks. Each one's own part replaces it.
#include "cscommands.h"
#include "csdispatch.h"
#include "csserver.h"
#include "cs2tables.h"
#include "cspaths.h"
#include "cmsd.h"
#include "cmstring.h"
#include "cmtime.h"

#include <cstring>

extern "C" {

#define CS_DEFINE_COMMAND(code, name, flags)                                                                 \
    __attribute__((weak)) uint32_t name(const uint8_t *, uint8_t *, uint8_t **)                              \
    {                                                                                                        \
        return csErrorReturn(0xC00000BBu, 0xFFFF0002u);                                                      \
    }
CS_COMMANDS(CS_DEFINE_COMMAND)
#undef CS_DEFINE_COMMAND

// Without the SMB2 core an SMB2 client is dropped.
__attribute__((weak)) int csSmb2DispatchRequest(NSRecvContext *, uint8_t *, uint32_t) { return 0; }
__attribute__((weak)) int cs2DispatchInit(void) { return 0; }
__attribute__((weak)) void cs2DispatchExit(void) {}
__attribute__((weak)) void cs2DispatchSaveResponseContext(CSLateResponseContext *context, const uint8_t *)
{
    context->isSmb2 = 1;
}
__attribute__((weak)) void cs2DispatchPrepareLateResponse(CSLateResponseContext *context)
{
    context->response = nullptr;
    context->remaining = 0;
}
__attribute__((weak)) int cs2DispatchSendLateResponse(CSLateResponseContext *, uint32_t) { return 0; }
__attribute__((weak)) const uint8_t *cs2DispatchCurrentHeader(void) { return nullptr; }

}  // extern "C"

extern "C" {

__attribute__((weak)) int cs2NotifyInit(void) { return 0; }
__attribute__((weak)) void cs2NotifyExit(void) {}

}  // extern "C"

// Least versions of the path checks and share rights until their part is
// linked in: paths are taken case-sensitively and checked for climbing
// above the share root; rights come from the share's descriptor.
namespace {

const CSShare *treeShare(uint16_t tid, const CSTree **tree)
{
    *tree = csGetTreeByTid(tid);
    return *tree ? static_cast<const CSShare *>((*tree)->share) : nullptr;
}

uint32_t shareRight(uint16_t tid, uint32_t mask)
{
    const CSTree *tree;
    const CSShare *share = treeShare(tid, &tree);
    if (!tree)
        return csErrorReturn(0xC0000001u, 0x00050002u);
    const CSUser *user = csGetUserByUid(tree->uid);
    if (!share || !user)
        return csErrorReturn(0xC0000005u, 0x000C0001u);
    if (share->isIpc || share->sd.length == 0)
        return 0;
    return cmSdHasAccess(&user->token, &share->sd, mask) ? 0 : csErrorReturn(0xC0000005u, 0x000C0001u);
}

bool special(const CSShare *share) { return share && (share->isIpc || share->isPrinter); }

void putFileTime(uint8_t *out, const CMUint64 &ms)
{
    uint32_t low, high;
    cmCifsTimeToUTC(ms.low, ms.high, &low, &high);
    for (int i = 0; i < 4; ++i) {
        out[i] = uint8_t(low >> (8 * i));
        out[4 + i] = uint8_t(high >> (8 * i));
    }
}

}  // namespace

extern "C" {

__attribute__((weak)) int csCheckPath(const CSShare *share, CMWchar *path, uint32_t rootLength, uint32_t)
{
    if (!path)
        return 0;
    if (share && (share->isIpc || share->isPrinter))
        return 1;
    uint32_t n = cmWStrlen(path);
    const CMWchar *last = cmWStrrchr(path, '/');
    if (!last || uint32_t(last - path) < rootLength)
        return 1;
    int depth = 0;
    for (uint32_t i = rootLength; i < uint32_t(last - path); ++i) {
        if (path[i] != '/')
            continue;
        uint32_t j = i + 1;
        while (j < n && path[j] != '/')
            ++j;
        uint32_t len = j - i - 1;
        if (len == 2 && path[i + 1] == '.' && path[i + 2] == '.')
            --depth;
        else if (!(len == 1 && path[i + 1] == '.'))
            ++depth;
        if (depth < 0)
            return 0;
    }
    CMWchar *cut = path + (last - path);
    *cut = 0;
    SYDirectory dir = syOpenDirectory(path);
    *cut = '/';
    if (!dir)
        return 0;
    syCloseDirectory(dir);
    return 1;
}

__attribute__((weak)) int csCheckFile(const CSShare *share, CMWchar *path, uint32_t)
{
    if (special(share))
        return 1;
    SYFileInformation info;
    return path && syGetFileInformationByName(path, &info) == 0 ? 1 : 0;
}

__attribute__((weak)) int csCheckPathAndFile(const CSShare *share, CMWchar *path, uint32_t rootLength,
                                             uint32_t caseSensitive)
{
    return csCheckPath(share, path, rootLength, caseSensitive) && csCheckFile(share, path, caseSensitive);
}

__attribute__((weak)) uint32_t csCanReadShare(uint16_t tid) { return shareRight(tid, 1); }
__attribute__((weak)) uint32_t csCanWriteShare(uint16_t tid) { return shareRight(tid, 2); }

__attribute__((weak)) int csCanDeleteFile(const CMWchar *path)
{
    SYFileInformation info;
    return syGetFileInformationByName(path, &info) == 0 && sySetFileInformation(path, -1, &info) == 0;
}

__attribute__((weak)) uint32_t csChangeFileAttributes(uint32_t old, uint32_t requested)
{
    return requested == 0 ? old : (old & 0xD8u) | (requested & ~0xD8u);
}

// Search attributes include: a hidden, system or folder entry is listed
// only when its bit is asked for; a volume search matches no file.
__attribute__((weak)) int csMatchFileAttributes(uint32_t requested, uint32_t attributes)
{
    if (requested & 0x08u)
        return 0;
    return (attributes & 0x16u & ~requested) == 0 ? 1 : 0;
}

__attribute__((weak)) void csResetFileTimes(CSName *name)
{
    if (name)
        std::memset(name->createState, 0, 32);
}

__attribute__((weak)) void csWriteFileTimes(const SYFileInformation *info, const CSName *name, uint8_t *out)
{
    const CMUint64 *times[4] = {&info->creationTime, &info->lastAccessTime, &info->lastChangeTime,
                                &info->lastWriteTime};
    for (int i = 0; i < 4; ++i) {
        const uint8_t *pinned = name ? name->createState + 8 * i : nullptr;
        bool isPinned = false;
        for (int b = 0; pinned && b < 8; ++b)
            isPinned |= pinned[b] != 0;
        if (isPinned)
            std::memcpy(out + 8 * i, pinned, 8);
        else
            putFileTime(out + 8 * i, *times[i]);
    }
}

__attribute__((weak)) int csGetFileInformationByName(const CSShare *share, const CMWchar *path,
                                                     SYFileInformation *info)
{
    if (special(share)) {
        *info = SYFileInformation{};
        return 0;
    }
    return syGetFileInformationByName(path, info);
}

__attribute__((weak)) int csGetFileInformation(const CSFile *file, const CMWchar *path,
                                               SYFileInformation *info)
{
    if (file && file->fd != -1)
        return syGetFileInformation(file->fd, path, info);
    *info = SYFileInformation{};
    return file && file->pipe ? 0 : -1;
}

__attribute__((weak)) int csSetFileInformation(const CSFile *file, const CMWchar *path,
                                               const SYFileInformation *info)
{
    if (file && file->fd != -1)
        return sySetFileInformation(path, file->fd, info);
    return file && file->pipe ? 0 : -1;
}

__attribute__((weak)) uint32_t csTruncateFile(CSFile *file, const CMWchar *path, uint32_t low, uint32_t high)
{
    if (!file) {
        if (!path)
            return csErrorReturn(0xC000000Du, 0x005B0002u);
        int fd = syOpenFileForReadWrite(path);
        if (fd < 0)
            return csErrorReturn(0xC000000Du, 0x005B0002u);
        int rc = syTruncateFile(fd, low, high);
        uint32_t status = rc != 0 ? csErrorGetLast() : 0;
        syCloseFile(fd);
        return status;
    }
    if (syTruncateFile(file->fd, low, high) != 0)
        return csErrorGetLast();
    sySeekFileStart(file->fd, 0, 0);
    return 0;
}

}  // extern "C"

extern "C" {

// The pipe and negotiate controls come with the SMB2 ioctl command.
__attribute__((weak)) uint32_t cs2FsctlPipeTransceive(CS2IoctlContext *) { return 0xC00000BBu; }
__attribute__((weak)) uint32_t cs2FsctlValidateNegotiate(CS2IoctlContext *) { return 0xC00000BBu; }

}  // extern "C"
