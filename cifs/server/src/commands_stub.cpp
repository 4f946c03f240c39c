// Least versions of what the dispatcher calls of its neighbours: the SMB1
// commands and the SMB2 dispatcher. Each one's own part replaces it.
#include "cscommands.h"
#include "csdispatch.h"
#include "csserver.h"

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
// The pipes (RPC) are not linked in yet: nothing to start.
__attribute__((weak)) int csDcerpcInit(void) { return 0; }
__attribute__((weak)) void csDcerpcStop(void) {}

}  // extern "C"

// Least versions of the path checks, share rights, file information and
// oplock breaks that the SMB1 commands call; their own parts replace them.
#include "csservices.h"
#include "csshares.h"
#include "cmstring.h"

#include <cstring>

extern "C" {

__attribute__((weak)) uint32_t csSmb2OnSmb1Negotiate(uint8_t **, uint32_t)
{
    return csErrorReturn(0xC00000BBu, 0xFFFF0002u);
}

__attribute__((weak)) int csCheckShareMapping(const CSShare *s)
{
    if (!s)
        return 0;
    if (s->isIpc || s->isPrinter)
        return 1;
    static const CMWchar root[] = {'/', 0};
    SYFileInformation info{};
    return syGetFileInformationByName(s->path[0] ? s->path : root, &info) == 0 ? 1 : 0;
}

static uint32_t shareRight(uint16_t tid, uint32_t mask)
{
    CSTree *tree = csGetTreeByTid(tid);
    if (!tree)
        return csErrorReturn(0, 0x00050002u);
    const CSShare *share = static_cast<const CSShare *>(tree->share);
    const CSUser *user = csGetUserByUid(tree->uid);
    if (!share || !user || !cmSdHasAccess(&user->token, &share->sd, mask))
        return csErrorReturn(0xC0000005u, 0x000C0001u);
    return 0;
}

__attribute__((weak)) uint32_t csCanReadShare(uint16_t tid) { return shareRight(tid, 1); }
__attribute__((weak)) uint32_t csCanWriteShare(uint16_t tid) { return shareRight(tid, 2); }

__attribute__((weak)) int csGetFileInformation(const CSFile *file, const CMWchar *path, SYFileInformation *info)
{
    if (file && file->fd != -1 && !file->isPrintJob)
        return syGetFileInformation(file->fd, path, info) == 0 ? 0 : -1;
    std::memset(info, 0, sizeof *info);
    return file && file->pipe ? 0 : -1;
}

__attribute__((weak)) int csSetFileInformation(const CSFile *file, const CMWchar *path, const SYFileInformation *info)
{
    if (file && file->fd != -1 && !file->isPrintJob)
        return sySetFileInformation(path, file->fd, info) == 0 ? 0 : -1;
    return file && file->pipe ? 0 : -1;
}

__attribute__((weak)) uint32_t csTruncateFile(CSFile *file, const CMWchar *path, uint32_t low, uint32_t high)
{
    if (!file) {
        if (!path)
            return csErrorReturn(0xC000000Du, 0x005B0002u);
        int fd = syOpenFileForReadWrite(path);
        if (fd == -1)
            return csErrorReturn(0xC000000Du, 0x005B0002u);
        int result = syTruncateFile(fd, low, high);
        syCloseFile(fd);
        return result == 0 ? 0 : csErrorGetLast();
    }
    if (syTruncateFile(file->fd, low, high) != 0)
        return csErrorGetLast();
    sySeekFileStart(file->fd, 0, 0);
    return 0;
}

// No open waits on a break until the oplocks are linked in.
__attribute__((weak)) int csBreakComplete(CSFile *, uint8_t *, uint32_t) { return 1; }

}  // extern "C"

// Least versions of the transactions' handlers: each answers "not
// supported" until its own part is linked in.
#include "cstransaction.h"

extern "C" {

#define CS_TRANSACTION_STUB(type, name)                                                                      \
    __attribute__((weak)) uint32_t name(type *) { return csErrorReturn(0xC00000BBu, 0xFFFF0002u); }
CS_TRANSACTION_STUB(CSTransactionContext, csRapApiEntry)
CS_TRANSACTION_STUB(CSTransactionContext, csMailslotBrowse)
CS_TRANSACTION_STUB(CSTransactionContext, csNamedPipeEntry)
CS_TRANSACTION_STUB(CSTransactionContext, csNtTransactionCreate)
CS_TRANSACTION_STUB(CSTransactionContext, csNtTransactionNotifyChange)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2Open)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2CreateDirectory)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2QueryFileInformation)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2QueryPathInformation)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2QueryFsInformation)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2SetFileInformation)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2SetPathInformation)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2FindFirst)
CS_TRANSACTION_STUB(CSTrans2Request, csTrans2FindNext)
#undef CS_TRANSACTION_STUB

}  // extern "C"
