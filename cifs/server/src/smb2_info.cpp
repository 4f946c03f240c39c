// SMB2 QUERY_INFO and SET_INFO: the file and file-system classes through the
// levels SMB1 shares (SMB2 classes as 1000 + class), the security
// descriptor of an open file through the host hooks.
#include "cssmb2.h"

#include "cmrpc.h"
#include "cmsd.h"
#include "cmstring.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csinfo.h"
#include "cspaths.h"
#include "csservices.h"
#include "csshares.h"
#include "udhooks.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kUnsuccessful = 0xC0000001u;
constexpr uint32_t kInvalidInfoClass = 0xC0000003u;
constexpr uint32_t kInfoLengthMismatch = 0xC0000004u;
constexpr uint32_t kNameNotFound = 0xC000000Fu;
constexpr uint32_t kBufferTooSmall = 0xC0000023u;
constexpr uint32_t kNotSupported = 0xC00000BBu;
constexpr uint32_t kFileClosed = 0xC0000128u;
constexpr uint32_t kBufferOverflow = 0x80000005u;
constexpr uint32_t kQueryFixed = 8;  // the answer's body before its data
constexpr uint32_t kSetFixed = 32;   // the SET_INFO body before its data
constexpr uint32_t kAllParts = CM_SD_OWNER | CM_SD_GROUP | CM_SD_DACL | CM_SD_SACL;
// The host hook writes a descriptor without a bound: it gets at least this.
constexpr uint32_t kHookDescriptorRoom = 0x10000;

enum InfoType : uint8_t { kFile = 1, kFileSystem = 2, kSecurity = 3 };

CSFile *fileOf(uint16_t fid, const CSTree *tree, const CSUser *user)
{
    cs2ParseFid(&fid);
    return tree && user ? csGetFileByFid(fid, tree->tid, user->uid) : nullptr;
}

uint32_t fsLevel(uint8_t infoClass) { return infoClass == 1 ? 0x102u : 0x100u | infoClass; }

// A descriptor packed from a record, at most room bytes: its length, 0 when it does not fit.
uint32_t packDescriptor(CMSdSecurityDescriptor &sd, uint32_t parts, uint8_t *out, uint32_t room)
{
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, out, 0);
    d.length = room;
    cmSdPackSecurityDescriptor(&d, &sd, parts);
    return cmRpcIsOverrun(&d) ? 0 : uint32_t(d.current - out);
}

// Security: the hook's descriptor, or "none" when the host keeps none.
uint32_t querySecurity(const CSFile *file, uint32_t parts, uint8_t *out, uint32_t room, uint32_t &length)
{
    int got = -1;
    if (room >= kHookDescriptorRoom && file->fd >= 0)
        got = udGetSecurityDescriptor(file->fd, parts, out);
    if (got >= 0) {
        length = uint32_t(got);
        return 0;
    }
    CMSdSecurityDescriptor none;
    if (cmSdGetNoneSecurityDescriptor(&none) != 1)
        return kUnsuccessful;
    length = packDescriptor(none, kAllParts, out, room);
    return length ? 0 : kBufferTooSmall;
}

// A descriptor that sets nothing: a self-relative header without owner,
// group or lists, as a client sends to leave a file as it is.
bool isEmptyDescriptor(const uint8_t *data, uint32_t length)
{
    constexpr uint32_t kHeader = 20;
    if (length < kHeader || data[0] != 1)
        return false;
    for (uint32_t at = 4; at < kHeader; ++at)
        if (data[at] != 0)
            return false;
    return true;
}

// Buffer too small: the needed length as the error body's data.
uint32_t needMore(CMSmb2Header *response, CMBufferWriter *writer, uint32_t needed)
{
    cmBufferWriteUint16(writer, 9);
    cmBufferWriteByte(writer, 0);
    cmBufferWriteByte(writer, 0);
    cmBufferWriteUint32(writer, 4);
    cmBufferWriteUint32(writer, needed);
    response->status = kBufferTooSmall;
    return CS2_STATUS_BODY_SET;
}

}  // namespace

extern "C" {

uint32_t csSmb2OnQueryInfo(CMSmb2Header *request, CMSmb2Header *response, CMBufferReader *reader, CSSession *,
                           CSUser *user, CSTree *tree, CMBufferWriter *writer)
{
    uint8_t type = 0, infoClass = 0;
    uint16_t inputOffset = 0, fid = 0;
    uint32_t outputLength = 0, inputLength = 0, additional = 0;
    cmBufferReadByte(reader, &type);
    cmBufferReadByte(reader, &infoClass);
    cmBufferReadUint32(reader, &outputLength);
    cmBufferReadUint16(reader, &inputOffset);
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint32(reader, &inputLength);
    cmBufferReadUint32(reader, &additional);
    cmBufferReaderSkip(reader, 4);
    cmBufferReadUint16(reader, &fid);
    if (cmBufferReaderIsOverrun(reader) || !tree || !user)
        return kInvalidParameter;
    if (uint32_t refusal = csCanReadShare(tree->tid))
        return refusal;
    const CSShare *share = static_cast<const CSShare *>(csGetShareByUidTid(user->uid, tree->tid));
    if (!share)
        return kInvalidParameter;
    CSFile *file = fileOf(fid, tree, user);

    const uint32_t room = cmBufferWriterGetRemaining(writer);
    if (room < kQueryFixed)
        return kBufferTooSmall;
    uint8_t *const body = cmBufferWriterGetPosition(writer);
    uint8_t *const data = body + kQueryFixed;
    const uint32_t dataRoom = room - kQueryFixed;
    uint32_t produced = 0;
    uint32_t status = 0;
    switch (type) {
    case kFileSystem: {
        if (outputLength == 0)
            return kInfoLengthMismatch;
        CSQueryContext q{};
        q.header = request->_start;
        q.parameters = data;
        q.room = dataRoom;
        status = csQueryFsInformation(share, fsLevel(infoClass), 1, &q);
        produced = q.dataCount;
        if (status == 0 && q.data != data)
            std::memmove(data, q.data, produced);
        break;
    }
    case kSecurity: {
        if (!file)
            return kFileClosed;
        if (outputLength == 0)
            return kInfoLengthMismatch;
        status = querySecurity(file, additional, data, dataRoom, produced);
        if (status == 0 && produced > outputLength)
            return needMore(response, writer, produced);
        break;
    }
    case kFile: {
        if (outputLength == 0)
            return kInfoLengthMismatch;
        if (!file)
            return kFileClosed;
        const CSName *name = csGetNameByNid(file->nid);
        if (!name || name->deleteOnClose)
            return kNameNotFound;
        const CMWchar *path = csGetFileName(file->fid);
        if (!path)
            return kUnsuccessful;
        // The query puts two pad bytes before an SMB2 class's data.
        if (dataRoom < 2)
            return kBufferTooSmall;
        CSQueryContext q{};
        q.header = request->_start;
        q.parameters = data - 2;
        q.room = dataRoom + 2;
        status = csQueryFileInformationByName(file, path, cmWStrlen(share->path), 1000u + infoClass, 1,
                                              dataRoom + 2, &q);
        produced = q.dataCount;
        if (status == 0 && q.data != data)
            std::memmove(data, q.data, produced);
        break;
    }
    default:
        return kNotSupported;
    }
    if (status != 0)
        return status;
    if (produced > outputLength)
        return kBufferOverflow;
    cmBufferWriteUint16(writer, 9);
    cmBufferWriteUint16(writer, produced ? CM_SMB2_HEADER_SIZE + kQueryFixed : 0);
    cmBufferWriteUint32(writer, produced);
    cmBufferWriterSkip(writer, produced);
    return 0;
}

uint32_t csSmb2OnSetInfo(CMSmb2Header *request, CMSmb2Header *, CMBufferReader *reader, CSSession *,
                         CSUser *user, CSTree *tree, CMBufferWriter *writer)
{
    uint8_t type = 0, infoClass = 0;
    uint16_t bufferOffset = 0, fid = 0;
    uint32_t bufferLength = 0, additional = 0;
    cmBufferReadByte(reader, &type);
    cmBufferReadByte(reader, &infoClass);
    cmBufferReadUint32(reader, &bufferLength);
    cmBufferReadUint16(reader, &bufferOffset);
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint32(reader, &additional);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    // The data lies inside the message, behind the fixed part.
    if (cmBufferReaderIsOverrun(reader) || !tree || !user ||
        bufferLength > cmBufferReaderGetRemaining(reader))
        return kInvalidParameter;
    const uint8_t *data = request->_start + CM_SMB2_HEADER_SIZE + kSetFixed;
    if (uint32_t refusal = csCanWriteShare(tree->tid))
        return refusal;
    CSFile *file = fileOf(fid, tree, user);
    if (!file)
        return kFileClosed;
    CMWchar *path = const_cast<CMWchar *>(csGetFileName(file->fid));
    if (!path)
        return kUnsuccessful;

    switch (type) {
    case kFileSystem:
        return kInvalidInfoClass;
    case kSecurity:
        if (udSetSecurityDescriptor(file->fd, additional, data, bufferLength) < 0 &&
            !isEmptyDescriptor(data, bufferLength))
            return kNotSupported;
        csNotifyImmediatelly(path, 3, 0x100);
        break;
    case kFile: {
        CSSetRequest set{};
        set.uid = user->uid;
        set.tid = tree->tid;
        set.path = path;
        set.level = 1000u + infoClass;
        set.data = data;
        set.dataLength = bufferLength;
        if (uint32_t status = csSetFileInformationByName(file, &set))
            return status;
        break;
    }
    default:
        return kNotSupported;
    }
    cmBufferWriteUint16(writer, 2);
    return 0;
}

}  // extern "C"
