// SMB1 CLOSE, CLOSE_PRINT_FILE and PROCESS_EXIT: the end of one handle, of
// one print job and of every handle a client process opened.
#include "smb1_answer.h"

#include "cmtime.h"
#include "cscommands.h"
#include "csfiles.h"
#include "cspaths.h"
#include "csservices.h"

using namespace cs::smb1;

namespace {

uint32_t emptyAnswer(uint8_t *response, uint8_t **position)
{
    Reply r(response, *position);
    r.zeros(3);
    return r.finish(position);
}

// The print job ends here, once: the release must not end it again.
bool endPrintJob(CSFile *file)
{
    const int ended = syEndPrintJob(file->printerHandle, uint32_t(file->fd));
    file->isPrintJob = 0;
    file->fd = -1;
    return ended == 0;
}

uint32_t applyLastWrite(CSFile *file, uint32_t seconds)
{
    const CMWchar *path = csGetFileName(file->fid);
    SYFileInformation info{};
    if (csGetFileInformation(file, path, &info) != 0)
        return csErrorGetLast();
    CMUint64 time{};
    cmTimeConvertSecToMSec(&time, seconds);
    info.lastChangeTime = time;
    info.lastWriteTime = time;
    return csSetFileInformation(file, path, &info) == 0 ? 0 : csErrorGetLast();
}

}  // namespace

extern "C" {

uint32_t csComClose(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 3))
        return status;
    const Block block{params};
    if (block.words() != 3 || block.byteCount() != 0)
        return kGeneral();
    CSFile *file = csGetFileByFid(block.word(0), headerTid(), headerUid());
    if (!file)
        return kBadFid();
    const uint16_t fid = file->fid;
    CSName *name = csGetNameByNid(file->nid);
    if (!name)
        return kGeneral();
    uint32_t status = 0;
    if (file->isPrintJob) {
        if (!endPrintJob(file))
            status = kGeneral();
    } else if (!file->isDirectory) {
        const uint32_t seconds = block.dword(2);
        if (seconds != 0 && seconds != 0xFFFFFFFFu)
            status = applyLastWrite(file, seconds);
    }
    // Deleting takes write rights on the share, as every other delete does.
    if (status == 0 && (file->createOptions & CS_DELETE_ON_CLOSE)) {
        status = csCanWriteShare(file->tid);
        if (status == 0)
            name->deleteOnClose = 1;
    }
    if (status != 0) {
        csReleaseFile(fid);
        return status;
    }
    status = emptyAnswer(response, position);
    if (status == 0 && file->oplockLevel && file->oplockState) {
        csBreakComplete(file, response, 0);
        status = CS_STATUS_LATE;
    }
    csReleaseFile(fid);
    return status;
}

uint32_t csComClosePrintFile(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 3))
        return status;
    const Block block{params};
    if (block.words() != 1 || block.byteCount() != 0)
        return kGeneral();
    CSFile *file = csGetFileByFid(block.word(0), headerTid(), headerUid());
    if (!file)
        return csErrorReturn(0xC000000Fu, 0x00060001u);
    csReleaseFile(file->fid);
    return emptyAnswer(response, position);
}

uint32_t csComProcessExit(const uint8_t *, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 3))
        return status;
    const uint32_t pid = headerPid();
    if (!csGetUserByUid(headerUid()))
        return kNoUser();
    // Another client's process may carry the same pid: only this
    // connection's handles go.
    for (CSFile *file = csGetNextFileByPid(pid, CS_FREE_ID); file;) {
        const uint16_t fid = file->fid;
        if (csGetFileByFid(fid, file->tid, file->uid))
            csReleaseFile(fid);
        file = csGetNextFileByPid(pid, fid);
    }
    return emptyAnswer(response, position);
}

}  // extern "C"
