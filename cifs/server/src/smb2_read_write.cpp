// SMB2 READ, WRITE, FLUSH and LOCK on an open file or pipe. Plain reads
// leave their data to the dispatcher's sendfile behind the answer, plain
// writes have it moved from the socket into the file: neither copies the
// payload through the message buffer.
#include "cssmb2.h"

#include "csdcerpc.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "cspaths.h"
#include "dispatch_frame.h"
#include "syfiles.h"
#include "syprint.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kInvalidHandle = 0xC0000008u;
constexpr uint32_t kEndOfFile = 0xC0000011u;
constexpr uint32_t kInvalidPipeState = 0xC00000ADu;
constexpr uint32_t kAccessDenied = 0xC0000022u;
constexpr uint32_t kInvalidDeviceRequest = 0xC0000010u;
constexpr uint32_t kMaxRead = 0x10050;
constexpr uint32_t kReadFixed = 16;   // the READ answer before its data
constexpr uint32_t kWriteFixed = 48;  // the WRITE request's body before its data
constexpr uint32_t kLockElement = 24;

CSFile *fileOf(uint16_t fid, const CSTree *tree, const CSUser *user)
{
    cs2ParseFid(&fid);
    return tree && user ? csGetFileByFid(fid, tree->tid, user->uid) : nullptr;
}

// Files are read and written at the client's offset whatever moved the
// descriptor since (a truncation, an SMB1 command on the same handle).
uint32_t seekTo(const CSFile *file, const CMUint64 &offset)
{
    const int64_t at = sySeekFileStart(file->fd, offset.low, offset.high);
    const uint64_t want = uint64_t(offset.high) << 32 | offset.low;
    return at >= 0 && uint64_t(at) == want ? 0 : csErrorGetLast();
}

// A descriptor opened without the access a command needs: the transfer
// would fail half-way, after the answer has been promised.
bool opened(const CSFile *file, int mode)
{
    const int flags = fcntl(file->fd, F_GETFL);
    return flags >= 0 && ((flags & O_ACCMODE) == O_RDWR || (flags & O_ACCMODE) == mode);
}

// No byte of a file lies at or past 2^63.
bool outside(const CMUint64 &offset, uint32_t length)
{
    const uint64_t start = uint64_t(offset.high) << 32 | offset.low;
    return start > uint64_t(INT64_MAX) - length;
}

void markModified(const CSFile *file)
{
    if (CSName *name = csGetNameByNid(file->nid))
        name->changed = 1;
}

uint32_t writeReadBody(CMBufferWriter *writer, uint32_t count)
{
    cmBufferWriteUint16(writer, 17);
    cmBufferWriteByte(writer, CM_SMB2_HEADER_SIZE + kReadFixed);
    cmBufferWriteByte(writer, 0);
    cmBufferWriteUint32(writer, count);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint32(writer, 0);
    return 0;
}

// Where a WRITE's data lies in the message buffer, or null when it does not
// lie inside the message. A direct transfer that cannot carry the data (a
// pipe, padding before the data, a Length past the message) is turned back
// into a whole message first.
const uint8_t *bufferedData(const CMSmb2Header *request, const CMBufferReader *reader, uint16_t dataOffset,
                            uint32_t length)
{
    uint64_t inside = reader->length;
    if (csDispatchIsDtIn()) {
        const NSRecvContext *rest = cs::gFrame.savedReader;
        const uint8_t *position = cs::gFrame.savedPosition;
        const uint32_t unread = rest ? rest->remaining : 0;
        if (!position || position < request->_start || !csDispatchDtDiscard())
            return nullptr;
        inside = uint64_t(position - request->_start) + unread;
    }
    if (uint64_t(dataOffset) + length > inside)
        return nullptr;
    return request->_start + dataOffset;
}

// The data of a WRITE that a pipe or printer may answer later, with that
// later answer's callbacks installed; null when the data lies outside.
const uint8_t *lateWriteData(const CMSmb2Header *request, const CMBufferReader *reader, uint16_t dataOffset,
                             uint32_t length, CSFile *file, CSLateSend send)
{
    const uint8_t *data = bufferedData(request, reader, dataOffset, length);
    if (!data)
        return nullptr;
    csDispatchSetWriteFile(file->fid, file);
    csDispatchSetWriteCount(length);
    csDcerpcSetLateResponseCallbacks(cs2PipeWriteSaveLateResponse, cs2PipeWritePrepareLateResponse, send);
    return data;
}

}  // namespace

extern "C" {

uint32_t csSmb2OnRead(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *user,
                      CSTree *tree, CMBufferWriter *writer)
{
    uint32_t length = 0, minimum = 0;
    CMUint64 offset{};
    uint16_t fid = 0;
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint32(reader, &length);
    cmBufferReadUint64(reader, &offset);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    cmBufferReadUint32(reader, &minimum);
    if (cmBufferReaderIsOverrun(reader) || length > kMaxRead)
        return kInvalidParameter;
    CSFile *file = fileOf(fid, tree, user);
    if (!file)
        return kInvalidHandle;
    // The data goes behind the fixed part, as far as the buffer reaches
    // (a transform header and earlier answers of a compound take their share).
    const uint32_t room = cmBufferWriterGetRemaining(writer);
    if (room < kReadFixed)
        return 0xC0000023u;
    uint8_t *data = cmBufferWriterGetPosition(writer) + kReadFixed;
    const uint32_t fits = std::min(length, room - kReadFixed);

    if (file->pipe) {
        const uint32_t count = csDcerpcRead(file, data, fits, nullptr);
        if (count == 0)
            return kInvalidPipeState;
        writeReadBody(writer, count);
        cmBufferWriterSkip(writer, count);
        return 0;
    }
    if (file->isDirectory)
        return kInvalidDeviceRequest;
    if (file->fd < 0 || file->isPrintJob || outside(offset, length))
        return kInvalidParameter;
    if (!opened(file, O_RDONLY))
        return kAccessDenied;
    const uint64_t start = uint64_t(offset.high) << 32 | offset.low;
    // Past the end is the end of file, also where the descriptor cannot seek.
    SYFileInformation info;
    const bool known = length != 0 && csGetFileInformation(file, csGetFileName(file->fid), &info) == 0;
    const uint64_t end = known ? uint64_t(info.endOfFile.high) << 32 | info.endOfFile.low : 0;
    if (known && start >= end)
        return kEndOfFile;
    if (uint32_t status = seekTo(file, offset))
        return status;
    if (known && csDispatchIsDtOut()) {
        const uint32_t count = uint32_t(std::min<uint64_t>(length, end - start));
        csDispatchDtSet(file->fd, count);
        return writeReadBody(writer, count);
    }

    const int count = syReadFile(file->fd, data, fits);
    if (count < 0)
        return csErrorGetLast();
    if (count == 0 && length != 0)
        return kEndOfFile;
    writeReadBody(writer, uint32_t(count));
    cmBufferWriterSkip(writer, uint32_t(count));
    return 0;
}

uint32_t csSmb2OnWrite(CMSmb2Header *request, CMSmb2Header *, CMBufferReader *reader, CSSession *,
                       CSUser *user, CSTree *tree, CMBufferWriter *writer)
{
    uint16_t dataOffset = 0, fid = 0;
    uint32_t length = 0, channel = 0;
    CMUint64 offset{};
    cmBufferReadUint16(reader, &dataOffset);
    cmBufferReadUint32(reader, &length);
    cmBufferReadUint64(reader, &offset);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    cmBufferReadUint32(reader, &channel);
    if (cmBufferReaderIsOverrun(reader))
        return kInvalidParameter;
    CSFile *file = fileOf(fid, tree, user);
    if (!file)
        return kInvalidHandle;

    if (file->pipe) {
        // A pipe that answers later answers this WRITE then.
        const uint8_t *data =
            lateWriteData(request, reader, dataOffset, length, file, cs2PipeWriteSendLateResponse);
        if (!data)
            return kInvalidParameter;
        if (uint32_t status = csDcerpcWrite(file, data, length, 0))
            return status;
    } else if (file->isPrintJob) {
        // A printer that is not ready holds the data and answers later, with
        // the count asked for.
        const uint8_t *data =
            lateWriteData(request, reader, dataOffset, length, file, cs2PrintWriteSendLateResponse);
        if (!data)
            return kInvalidParameter;
        CSLateResponseContext *late = nullptr;
        const int32_t taken = syWritePrintData(file->printerHandle, uint32_t(file->fd), data, length, &late);
        if (taken == 0 && late) {
            csDcerpcSaveResponseContext(0, nullptr, late);
            return CS2_STATUS_LATE;
        }
        if (taken < 1)
            return csErrorGetLast();
        length = uint32_t(taken);
    } else if (file->isDirectory) {
        return kInvalidDeviceRequest;
    } else if (file->fd < 0 || outside(offset, length)) {
        return kInvalidParameter;
    } else if (!opened(file, O_WRONLY)) {
        return kAccessDenied;
    } else if (length == 0) {
        // A zero write sets the file's length.
        if (uint32_t status = csTruncateFile(file, csGetFileName(file->fid), offset.low, offset.high))
            return status;
    } else {
        const bool direct = csDispatchIsDtIn() && dataOffset == CM_SMB2_HEADER_SIZE + kWriteFixed &&
                            cs::gFrame.savedReader && length <= cs::gFrame.savedReader->remaining;
        const uint8_t *data = direct ? nullptr : bufferedData(request, reader, dataOffset, length);
        if (!direct && !data)
            return kInvalidParameter;
        if (uint32_t status = seekTo(file, offset))
            return status;
        if (direct) {
            csDispatchDtSet(file->fd, length);
        } else {
            const int written = syWriteFile(file->fd, data, length);
            if (written < 0)
                return csErrorGetLast();
            length = uint32_t(written);
        }
        markModified(file);
    }

    cmBufferWriteUint16(writer, 17);
    cmBufferWriteUint16(writer, 0);
    cmBufferWriteUint32(writer, length);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint16(writer, 0);
    cmBufferWriteUint16(writer, 0);
    return 0;
}

uint32_t csSmb2OnFlush(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *user,
                       CSTree *tree, CMBufferWriter *writer)
{
    uint16_t fid = 0;
    cmBufferReaderSkip(reader, 6);
    cmBufferReadUint16(reader, &fid);
    if (cmBufferReaderIsOverrun(reader))
        return kInvalidParameter;
    CSFile *file = fileOf(fid, tree, user);
    if (!file)
        return kInvalidHandle;
    if (file->fd >= 0 && !file->isPrintJob && !file->pipe && !file->isDirectory && fsync(file->fd) != 0)
        return csErrorGetLast();
    cmBufferWriteUint16(writer, 4);
    cmBufferWriteUint16(writer, 0);
    return 0;
}

// Byte ranges are not locked: every lock is granted and nothing is held.
uint32_t csSmb2OnLock(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *user,
                      CSTree *tree, CMBufferWriter *writer)
{
    uint16_t count = 0, fid = 0;
    cmBufferReadUint16(reader, &count);
    cmBufferReaderSkip(reader, 4);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    if (cmBufferReaderIsOverrun(reader) ||
        uint64_t(count) * kLockElement > cmBufferReaderGetRemaining(reader))
        return kInvalidParameter;
    CSFile *file = fileOf(fid, tree, user);
    if (!file)
        return kInvalidHandle;
    if (!file->pipe && !file->isDirectory && (file->fd < 0 || fcntl(file->fd, F_GETFD) < 0))
        return kInvalidHandle;
    cmBufferWriteUint16(writer, 4);
    cmBufferWriteUint16(writer, 0);
    return 0;
}

}  // extern "C"
