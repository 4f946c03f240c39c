// SMB1 READ_ANDX, READ, WRITE_ANDX, WRITE, LOCKING_ANDX, SEEK and FLUSH:
// data to and from a file's descriptor, a named pipe or a print job.
#include "smb1_answer.h"

#include "cscommands.h"
#include "csfiles.h"
#include "csdcerpc.h"
#include "cspaths.h"
#include "csservices.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

using namespace cs::smb1;

namespace {

constexpr uint32_t kCapLargeRead = 0x4000;
constexpr uint32_t kCapLargeWrite = 0x8000;
// A read's data ends this many bytes after the response's header at most.
constexpr uint32_t kReadLimit = 65664;
constexpr uint32_t kDirectReadLimit = 0xFFFFFF;
constexpr Error kDenied{0xC0000022u, 0x00050001u};     // ERRDOS/5
constexpr Error kPipeEmpty{0xC00000ADu, 0x00E60001u};  // ERRDOS/230

uint32_t sessionCapabilities()
{
    const CSSession *session = csGetSessionBySocket();
    return session ? session->capabilities : 0;
}

CSFile *fileOf(uint16_t fid) { return csGetFileByFid(fid, headerTid(), headerUid()); }

// Puts the descriptor at offset unless it stands there already.
bool seekTo(CSFile *file, uint64_t offset)
{
    if (offset == file->position)
        return true;
    if (sySeekFileStart(file->fd, uint32_t(offset), uint32_t(offset >> 32)) != int64_t(offset))
        return false;
    file->position = offset;
    return true;
}

// The bytes of the file after offset (0 at or past its end).
uint64_t bytesLeft(CSFile *file, uint64_t offset)
{
    SYFileInformation info{};
    if (syGetFileInformation(file->fd, csGetFileName(file->fid), &info) != 0)
        return 0;
    const uint64_t end = uint64_t(info.endOfFile.high) << 32 | info.endOfFile.low;
    return end > offset ? end - offset : 0;
}

// The descriptor was opened for this direction: a direct transfer finds out
// only after the answer is on its way, when all it can do is drop the client.
bool readable(const CSFile *file)
{
    const int flags = fcntl(file->fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_WRONLY;
}

bool writable(const CSFile *file)
{
    const int flags = fcntl(file->fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

void markChanged(const CSFile *file)
{
    if (CSName *name = csGetNameByNid(file->nid))
        name->changed = 1;
}

// A print job's data: the count taken, or the answer comes later (with the
// count the caller set when it installed the late callbacks).
uint32_t writePrintData(CSFile *file, const uint8_t *data, uint32_t count, uint32_t *written)
{
    CSLateResponseContext *context = nullptr;
    const int result = syWritePrintData(file->printerHandle, uint32_t(file->fd), data, count, &context);
    if (result == 0 && context) {
        csDcerpcSaveResponseContext(0, nullptr, context);
        return CS_STATUS_LATE;
    }
    if (result < 1)
        return csErrorGetLast();
    *written = uint32_t(result);
    return 0;
}

// The answer of a pipe or printer write that comes later: the write's own
// words, built by the pipes' carriers, with the count the client wrote.
void installWriteAndXCallbacks(uint32_t count)
{
    csDispatchSetWriteCount(count);
    csDcerpcSetLateResponseCallbacks(csDispatchSaveWriteAndXResponseContext,
                                     csWriteAndXPipePrepareLateResponse, csWriteAndXPipeSendLateResponse);
}

void installWriteCallbacks(uint32_t count)
{
    csDispatchSetWriteCount(count);
    csDcerpcSetLateResponseCallbacks(csDispatchSaveWriteResponseContext, csWritePipePrepareLateResponse,
                                     csWritePipeSendLateResponse);
}

bool readAndXChainable(uint8_t c) { return c == 0x04 || c == kNoCommand; }

bool writeAndXChainable(uint8_t c)
{
    return c == 0x04 || c == 0x0A || c == 0x13 || c == 0x2E || c == 0x2F || c == kNoCommand;
}

bool lockingChainable(uint8_t c)
{
    switch (c) {
    case 0x04:
    case 0x05:
    case 0x0A:
    case 0x0B:
    case 0x24:
    case 0x2E:
    case 0x2F:
    case kNoCommand:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" {

uint32_t csComReadAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != 10 && block.words() != 12)
        return kGeneral();
    const uint32_t maxCountHigh = block.dword(14);
    if (!(sessionCapabilities() & kCapLargeRead) && maxCountHigh != 0)
        return kDenied();
    if (!readAndXChainable(block.andx()))
        return kGeneral();
    CSFile *file = fileOf(block.word(4));
    if (!file)
        return kBadFid();

    // The data starts at the first 4-byte boundary after the 27 fixed bytes.
    const uint32_t start = uint32_t(*position - response);
    const uint32_t pad = 4 - (start + 27) % 4;
    const uint32_t dataOffset = start + 27 + pad;
    if (dataOffset >= kReadLimit)
        return kTooSmall();
    const uint32_t room = kReadLimit - dataOffset;
    uint8_t *data = response + dataOffset;
    uint64_t count = block.word(10);
    bool direct = false;

    if (file->pipe) {
        count = csDcerpcRead(file, data, uint32_t(std::min<uint64_t>(count, room)), nullptr);
        if (count == 0)
            return kPipeEmpty();
    } else {
        if (file->isPrintJob || file->fd == -1 || !readable(file))
            return kDenied();
        if ((maxCountHigh & 0xFFFF) != 0xFFFF)
            count |= uint64_t(maxCountHigh & 0xFFFF) << 16;
        const uint64_t offset = uint64_t(block.words() == 12 ? block.dword(20) : 0) << 32 | block.dword(6);
        if (!seekTo(file, offset))
            return csErrorGetLast();
        direct = csDispatchIsDtOut() && count != 0 && csGetNameByNid(file->nid);
        if (direct) {
            // Straight from the descriptor after the answer: as much as the file
            // holds, and no more than a large read carries, so that one client
            // cannot hold the loop for gigabytes.
            count = std::min({count, bytesLeft(file, offset), uint64_t(kDirectReadLimit)});
            csDispatchDtSet(file->fd, uint32_t(count));
        } else {
            // Only what the message buffer holds, whatever MaxCountHigh said.
            count = std::min<uint64_t>(count, room);
            const int got = syReadFile(file->fd, data, uint32_t(count));
            if (got < 0)
                return csErrorGetLast();
            count = uint32_t(got);
        }
        file->position = offset + count;
    }

    Reply r(response, *position);
    r.u8(12);
    r.andx();
    r.u16(0xFFFF);  // Available
    r.u16(0);       // DataCompactionMode
    r.u16(0);
    r.u16(uint16_t(count));
    r.u16(uint16_t(dataOffset));
    r.u16(uint16_t(count >> 16));
    r.zeros(8);
    r.u16(uint16_t(pad + count));
    r.zeros(pad);
    if (!direct)
        cmBufferWriterSkip(r.w(), uint32_t(count));
    return r.finish(position);
}

uint32_t csComRead(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != 5 || block.byteCount() != 0)
        return kGeneral();
    CSFile *file = fileOf(block.word(0));
    if (!file)
        return kBadFid();
    // Word count, Count, reserved, ByteCount, buffer format and DataLength.
    constexpr uint32_t kFixed = 1 + 10 + 2 + 1 + 2;
    const uint32_t start = uint32_t(*position - response);
    if (start + kFixed >= CS_RESPONSE_LIMIT - 1)
        return kTooSmall();
    uint8_t *data = *position + kFixed;
    const uint32_t room = CS_RESPONSE_LIMIT - 1 - start - kFixed;
    uint32_t count = std::min<uint32_t>(block.word(2), room);
    if (file->pipe) {
        count = csDcerpcRead(file, data, count, nullptr);
        if (count == 0)
            return kPipeEmpty();
    } else {
        if (file->isPrintJob || file->fd == -1 || !readable(file))
            return kDenied();
        const uint32_t offset = block.dword(4);
        if (sySeekFileStart(file->fd, offset, 0) != int64_t(offset))
            return csErrorGetLast();
        const int got = syReadFile(file->fd, data, count);
        if (got < 0)
            return csErrorGetLast();
        count = uint32_t(got);
        file->position = uint64_t(offset) + count;
    }
    Reply r(response, *position);
    r.u8(5);
    r.u16(uint16_t(count));
    r.zeros(8);
    r.u16(uint16_t(count + 3));
    r.u8(0x01);
    r.u16(uint16_t(count));
    cmBufferWriterSkip(r.w(), count);
    return r.finish(position);
}

uint32_t csComWriteAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 15))
        return status;
    const Block block{params};
    if (block.words() != 12 && block.words() != 14)
        return kGeneral();
    if (!writeAndXChainable(block.andx()))
        return kGeneral();
    CSFile *file = fileOf(block.word(4));
    if (!file)
        return kBadFid();
    csDispatchSetWriteFile(file->fid, file);
    const uint16_t high = block.word(18);
    if (!(sessionCapabilities() & kCapLargeWrite) && high != 0)
        return kDenied();
    uint32_t count = uint32_t(high) << 16 | block.word(20);
    const uint32_t dataOffset = block.word(22);

    // The payload lies in the message: in the buffer, or (direct transfer)
    // still unread on the connection, and then the whole count must be there.
    const bool direct = csDispatchIsDtIn() && !file->pipe && !file->isPrintJob;
    if (!direct && !csDispatchDtDiscard())
        return kInvalid();
    if (direct) {
        if (!cs::gFrame.savedReader || count > cs::gFrame.savedReader->remaining)
            return kInvalid();
    } else if (!inMessage(dataOffset, count)) {
        return kInvalid();
    }
    const uint8_t *data = requestHeader() + dataOffset;

    if (file->pipe) {
        installWriteAndXCallbacks(count);
        if (uint32_t status = csDcerpcWrite(file, data, count, 0))
            return status;
    } else if (file->isPrintJob) {
        installWriteAndXCallbacks(count);
        uint32_t written = 0;
        if (uint32_t status = writePrintData(file, data, count, &written))
            return status;
        count = written;
    } else {
        const uint64_t offset = uint64_t(block.words() == 14 ? block.dword(24) : 0) << 32 | block.dword(6);
        if (count != 0) {
            if (file->fd == -1 || !writable(file))
                return kDenied();
            if (!seekTo(file, offset))
                return csErrorGetLast();
            if (direct) {
                csDispatchDtSet(file->fd, count);
            } else {
                const int wrote = syWriteFile(file->fd, data, count);
                if (wrote < 0)
                    return csErrorGetLast();
                count = uint32_t(wrote);
            }
            markChanged(file);
            file->position = offset + count;
        } else if (uint32_t status = csTruncateFile(file, csGetFileName(file->fid), uint32_t(offset),
                                                    uint32_t(offset >> 32))) {
            return status;
        }
    }

    Reply r(response, *position);
    r.u8(6);
    r.andx();
    r.u16(uint16_t(count));
    r.u16(0xFFFF);
    r.u16(uint16_t(count >> 16));
    r.u16(0);
    r.u16(0);
    return r.finish(position);
}

uint32_t csComWrite(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != 5 || block.byteCount() < 3 || block.bytes()[0] != 0x01)
        return kGeneral();
    CSFile *file = fileOf(block.word(0));
    if (!file)
        return kBadFid();
    const uint16_t length = u16(block.bytes() + 1);
    // DataLength must stay inside the byte block.
    if (length > block.byteCount() - 3u)
        return kInvalid();
    const uint8_t *data = block.bytes() + 3;
    csDispatchSetWriteFile(file->fid, file);
    uint32_t count = 0;
    if (file->pipe) {
        count = length;
        installWriteCallbacks(count);
        csDispatchDtDiscard();
        if (uint32_t status = csDcerpcWrite(file, data, count, 0))
            return status;
    } else if (file->isPrintJob) {
        installWriteCallbacks(length);
        csDispatchDtDiscard();
        if (uint32_t status = writePrintData(file, data, length, &count))
            return status;
    } else {
        if (uint32_t status = csDispatchCheckSpace(response, *position, 5))
            return status;
        const uint32_t offset = block.dword(4);
        if (block.word(2) != 0) {
            if (file->fd == -1 || !writable(file))
                return kDenied();
            if (sySeekFileStart(file->fd, offset, 0) != int64_t(offset))
                return csErrorGetLast();
            const int wrote = syWriteFile(file->fd, data, length);
            if (wrote < 0)
                return csErrorGetLast();
            count = uint32_t(wrote);
            markChanged(file);
        } else if (uint32_t status = csTruncateFile(file, csGetFileName(file->fid), offset, 0)) {
            return status;
        }
        file->position = uint64_t(offset) + count;
    }
    Reply r(response, *position);
    r.u8(1);
    r.u16(uint16_t(count));
    r.u16(0);
    return r.finish(position);
}

uint32_t csComLockingAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != 8 || !lockingChainable(block.andx()))
        return kGeneral();
    if (uint32_t status = csDispatchCheckSpace(response, *position, 7))
        return status;
    CSFile *file = fileOf(block.word(4));
    if (!file)
        return kBadFid();
    Reply r(response, *position);
    r.u8(2);
    r.andx();
    r.u16(0);
    const bool ranges = block.word(12) != 0 || block.word(14) != 0;
    if (ranges) {
        // Ranges are acknowledged, not kept.
        if (file->fd == -1)
            return csErrorGetLast();
    } else if (file->oplockLevel && file->oplockState) {
        // The holder's acknowledgment: the opens waiting on it are answered.
        if (uint32_t status = r.finish(position))
            return status;
        csBreakComplete(file, response, requestHeader()[9]);
        file->oplockLevel = 0;
        file->oplockState = 0;
        return CS_STATUS_LATE;
    }
    return r.finish(position);
}

uint32_t csComSeek(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != 4)
        return kGeneral();
    CSFile *file = fileOf(block.word(0));
    if (!file)
        return kBadFid();
    const uint32_t offset = block.dword(4);
    int64_t now = -1;
    switch (block.word(2)) {
    case 0:
        now = sySeekFileStart(file->fd, offset, 0);
        break;
    case 1:
        now = sySeekFileCurrent(file->fd, offset, 0);
        break;
    case 2:
        now = sySeekFileEnd(file->fd, offset, 0);
        break;
    default:
        return kGeneral();
    }
    if (now < 0)
        return csErrorGetLast();
    // The descriptor moved: the record follows it, so that a read at the old
    // place seeks back instead of reading here.
    file->position = uint64_t(now);
    Reply r(response, *position);
    r.u8(2);
    r.u32(uint32_t(now));
    r.u16(0);
    return r.finish(position);
}

uint32_t csComFlush(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != 1 || block.byteCount() != 0)
        return kGeneral();
    if (uint32_t status = csDispatchCheckSpace(response, *position, 3))
        return status;
    auto sync = [](const CSFile *file) {
        return file->fd == -1 || file->pipe || file->isPrintJob || fsync(file->fd) == 0;
    };
    const uint16_t fid = block.word(0);
    if (fid == 0xFFFF) {
        const uint32_t pid = headerPid();
        bool any = false, failed = false;
        for (CSFile *file = csGetNextFileByPid(pid, CS_FREE_ID); file;
             file = csGetNextFileByPid(pid, file->fid)) {
            if (!csGetFileByFid(file->fid, file->tid, file->uid))
                continue;
            any = true;
            if (!sync(file))
                failed = true;
        }
        if (!any)
            return kBadFid();
        if (failed)
            return csErrorGetLast();
    } else {
        CSFile *file = fileOf(fid);
        if (!file)
            return kBadFid();
        if (!sync(file))
            return csErrorGetLast();
    }
    Reply r(response, *position);
    r.zeros(3);
    return r.finish(position);
}

}  // extern "C"
