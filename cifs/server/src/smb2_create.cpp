// SMB2 CREATE and CLOSE: the request around the common create processing,
// the create contexts, the batch oplock and the deferred answer of an open
// that waits on another client's oplock break.
#include "cssmb2.h"

#include "cmpath.h"
#include "cs2tables.h"
#include "cscreate.h"
#include "oplocks.h"
#include "cspaths.h"
#include "csservices.h"
#include "csshares.h"
#include "cstrans.h"
#include "udhooks.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kInvalidHandle = 0xC0000008u;
constexpr uint32_t kUnsuccessful = 0xC0000001u;
constexpr uint32_t kNameInvalid = 0xC0000033u;
constexpr uint32_t kNameNotFound = 0xC0000034u;
constexpr uint32_t kSharingViolation = 0xC0000043u;
constexpr uint32_t kNoMoreFiles = 0x8000001Au;
constexpr uint32_t kNotSupported = 0xC00000BBu;
constexpr uint32_t kMaxNameUnits = 512;
constexpr uint8_t kOplockBatch = 9;
// An oplock is granted only while the tables keep room for the opens it delays.
constexpr uint32_t kOplockTableLimit = 241;
// Owner, group and DACL.
constexpr uint32_t kSecurityInformation = 0x07;
constexpr uint32_t kCreateBody = 88;

CSShare *shareOf(const CSUser *user, const CSTree *tree)
{
    return user && tree ? static_cast<CSShare *>(csGetShareByUidTid(user->uid, uint16_t(tree->tid)))
                        : nullptr;
}

// The descriptor goes on a file this CREATE made or overwrote. The host may
// keep none: the empty descriptor then passes, as the set commands take it.
uint32_t applySecurityDescriptor(const CSCreateParameters &p, const CS2CreateContextState &state)
{
    if (p.disposition != CS_CREATE && p.disposition != CS_OVERWRITE)
        return 0;
    if (state.securityDescriptorLength == 0)
        return 0;
    if (udSetSecurityDescriptor(p.file->fd, kSecurityInformation, state.securityDescriptor,
                                state.securityDescriptorLength) == 0)
        return 0;
    uint32_t length = 0;
    const uint8_t *empty = csGetEmptySd(kSecurityInformation, &length);
    if (empty && state.securityDescriptorLength >= length &&
        std::memcmp(state.securityDescriptor, empty, length) == 0)
        return 0;
    return kNotSupported;
}

uint32_t applyAllocationSize(const CSCreateParameters &p, const CS2CreateContextState &state)
{
    SYFileInformation info = p.information;
    info.allocationSize = state.allocationSize;
    if (csSetFileInformation(p.file, p.path, &info) != 0)
        return csErrorGetLast();
    return 0;
}

// A refused apply step leaves no file that this CREATE made.
uint32_t refuseOpen(CSCreateParameters &p, uint32_t status)
{
    const bool created = p.action == CS_ACTION_CREATED;
    const bool directory = p.file->isDirectory != 0;
    csReleaseFile(p.file->fid);
    p.file = nullptr;
    if (created)
        directory ? syDeleteDirectory(p.path) : syDeleteFile(p.path);
    return status;
}

bool mayGrantOplock(const CSShare *share, const CSFile *file, const CMWchar *path)
{
    if (file->pipe || file->isPrintJob || file->isDirectory)
        return false;
    if (csGetFilesCount() >= kOplockTableLimit || csGetUniqueFilesCount() >= kOplockTableLimit)
        return false;
    SYFileInformation info;
    if (csGetFileInformationByName(share, path, &info) != 0)
        return false;
    return (info.attributes & SY_ATTR_READONLY) == 0;
}

}  // namespace

extern "C" {

void cs2WriteCreateBody(CMBufferWriter *writer, const CS2CreateAnswer *answer)
{
    uint8_t *start = cmBufferWriterGetPosition(writer);
    cmBufferWriteUint16(writer, 89);
    cmBufferWriteByte(writer, answer->oplockLevel);
    cmBufferWriteByte(writer, 0);
    cmBufferWriteUint32(writer, answer->action);
    uint8_t times[32];
    csWriteFileTimes(&answer->information, csGetNameByNid(answer->nid), times);
    cmBufferWriteBytes(writer, times, sizeof times);
    cmBufferWriteUint64(writer, &answer->information.allocationSize);
    cmBufferWriteUint64(writer, &answer->information.endOfFile);
    cmBufferWriteUint32(writer, answer->information.attributes);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint16(writer, answer->fid);
    cmBufferWriteZeroes(writer, 14);
    CMBufferWriter offsetField, lengthField;
    cmBufferWriterCloneAndSkip(writer, &offsetField, 4);
    cmBufferWriterCloneAndSkip(writer, &lengthField, 4);
    CMBufferWriter contexts;
    cmBufferWriterClone(writer, &contexts, 0);
    const uint32_t length = cs2PackCreateContexts(&contexts, &answer->contexts);
    if (length) {
        cmBufferWriteUint32(&offsetField,
                            CM_SMB2_HEADER_SIZE + uint32_t(cmBufferWriterGetPosition(writer) - start));
        cmBufferWriteUint32(&lengthField, length);
        cmBufferWriterSkip(writer, length);
    } else {
        cmBufferWriteUint32(&offsetField, 0);
        cmBufferWriteUint32(&lengthField, 0);
    }
}

uint32_t csSmb2OnCreate(CMSmb2Header *request, CMSmb2Header *response, CMBufferReader *reader, CSSession *,
                        CSUser *user, CSTree *tree, CMBufferWriter *writer)
{
    uint8_t requestedOplock = 0;
    uint32_t desiredAccess = 0, attributes = 0, shareAccess = 0, disposition = 0, options = 0;
    uint16_t nameOffset = 0, nameLength = 0;
    uint32_t contextsOffset = 0, contextsLength = 0;
    cmBufferReaderSkip(reader, 1);
    cmBufferReadByte(reader, &requestedOplock);
    cmBufferReaderSkip(reader, 4 + 16);
    cmBufferReadUint32(reader, &desiredAccess);
    cmBufferReadUint32(reader, &attributes);
    cmBufferReadUint32(reader, &shareAccess);
    cmBufferReadUint32(reader, &disposition);
    cmBufferReadUint32(reader, &options);
    cmBufferReadUint16(reader, &nameOffset);
    cmBufferReadUint16(reader, &nameLength);
    cmBufferReadUint32(reader, &contextsOffset);
    cmBufferReadUint32(reader, &contextsLength);
    if (cmBufferReaderIsOverrun(reader))
        return kInvalidParameter;
    if (nameLength / 2u > kMaxNameUnits)
        return kNameInvalid;
    // Overwrite-if (5) is the last disposition: a larger one asks for
    // nothing the common processing knows.
    if (disposition > 5)
        return kInvalidParameter;
    // The name lies inside this element of the message.
    const uint8_t *message = request->_start;
    const uint32_t elementLength = reader->length;
    if (nameLength && (nameOffset < CM_SMB2_HEADER_SIZE || nameOffset > elementLength ||
                       nameLength > elementLength - nameOffset))
        return kInvalidParameter;

    CS2CreateContextState state{};
    int allAccepted = 1;
    if (uint32_t status = cs2ParseCreateContexts(message, elementLength, contextsOffset, contextsLength,
                                                 &state, &allAccepted))
        return status;
    // A durable reconnect names a handle this server never kept.
    if (!allAccepted)
        return (state.bits & CS2_CONTEXT_DHNC) ? kNameNotFound : kInvalidParameter;

    CSShare *share = shareOf(user, tree);
    if (!share)
        return kInvalidParameter;
    std::array<CMWchar, kMaxNameUnits + 1> name{};
    for (uint32_t i = 0; i < nameLength / 2u; ++i)
        name[i] = CMWchar(message[nameOffset + 2 * i] | message[nameOffset + 2 * i + 1] << 8);
    // SMB2 names a pipe without the leading backslash SMB1 gives it.
    if (share->isIpc && name[0] != '\\' && name[0] != '/' && nameLength / 2u < kMaxNameUnits) {
        std::copy_backward(name.begin(), name.end() - 1, name.end());
        name[0] = '\\';
    }
    if (share->isPrinter) {
        static const char kPrinterName[] = "[Name Not Available]";
        for (uint32_t i = 0; i < sizeof kPrinterName; ++i)
            name[i] = CMWchar(kPrinterName[i]);
    }
    std::array<CMWchar, CM_PATH_BUFFER> path{};
    if (!cmCifsNtohFilename(path.data(), share->path, name.data(), 1, 0))
        return kNameInvalid;

    CSCreateParameters p{};
    p.tid = uint16_t(tree->tid);
    p.pid = request->pid;
    p.uid = user->uid;
    p.user = user;
    p.share = share;
    p.attributes = uint16_t(attributes);
    p.unicode = 1;
    p.createOptions = options;
    p.disposition = disposition;
    p.desiredAccess = desiredAccess;
    p.shareAccess = shareAccess;
    p.path = path.data();

    CS2CreateAnswer answer{};
    answer.contexts = state;
    // Positions into the request do not outlive it.
    answer.contexts.securityDescriptor = nullptr;
    answer.contexts.reconnect = nullptr;

    uint32_t status = csCreateCommonProcessing(&p);
    if (status == kSharingViolation) {
        // The sharing conflict may be a batch holder's: wait for its break.
        CSName *held = csGetNameByName(p.path);
        if (!held)
            return kUnsuccessful;
        CSFile *provisional = csGetNewFile(tree, held, 0);
        if (!provisional)
            return kNoMoreFiles;
        provisional->tid = p.tid;
        provisional->uid = p.uid;
        p.file = provisional;
        answer.fid = provisional->fid;
        answer.nid = provisional->nid;
        if (cs2BreakCheck(&p, &answer, kSharingViolation) == 1)
            return cs2DeferCreate(request, response, provisional);
        p.file = nullptr;
        csReleaseFile(provisional->fid);
        return kSharingViolation;
    }
    if (status)
        return status;

    CSFile *file = p.file;
    if ((state.bits & CS2_CONTEXT_SECD))
        if (uint32_t refusal = applySecurityDescriptor(p, state))
            return refuseOpen(p, refusal);
    if ((state.bits & CS2_CONTEXT_ALSI) && !file->pipe && !file->isPrintJob && !file->isDirectory)
        if (uint32_t refusal = applyAllocationSize(p, state))
            return refuseOpen(p, refusal);

    const bool disk = !file->pipe && !file->isPrintJob;
    answer.fid = file->fid;
    answer.nid = file->nid;
    answer.action = p.action;
    answer.information = p.information;
    if (disk) {
        // Every open of a held file breaks the holder, whatever it asks for
        // itself: the holder's cached writes must reach the file first.
        const int wait = cs2BreakCheck(&p, &answer, 0);
        if (wait == 1)
            return cs2DeferCreate(request, response, file);
        // Batch is the one level granted, and only to whoever asked for it.
        const bool grant =
            wait == 0 && requestedOplock == kOplockBatch && mayGrantOplock(share, file, p.path);
        answer.oplockLevel = grant ? kOplockBatch : 0;
        cs2SetOplockOwner(file, user, tree, share, grant ? kOplockBatch : 0);
    }
    uint16_t fid = file->fid;
    cs2ParseFid(&fid);
    cs2WriteCreateBody(writer, &answer);
    return 0;
}

uint32_t csSmb2OnClose(CMSmb2Header *, CMSmb2Header *, CMBufferReader *reader, CSSession *, CSUser *user,
                       CSTree *tree, CMBufferWriter *writer)
{
    uint16_t flags = 0, fid = 0;
    cmBufferReadUint16(reader, &flags);
    cmBufferReaderSkip(reader, 4);
    cmBufferReadUint16(reader, &fid);
    cmBufferReaderSkip(reader, 14);
    if (cmBufferReaderIsOverrun(reader))
        return kInvalidParameter;
    cs2ParseFid(&fid);
    CSShare *share = shareOf(user, tree);
    if (!share)
        return kInvalidParameter;
    CSFile *file = csGetFileByFid(fid, uint16_t(tree->tid), user->uid);
    if (!file)
        return kInvalidHandle;
    CSName *name = csGetNameByNid(file->nid);
    if (!name)
        return kUnsuccessful;

    SYFileInformation info{};
    if (!file->isPrintJob) {
        if (file->createOptions & CS_DELETE_ON_CLOSE) {
            // Deleting takes the right to write the share; without it the file stays.
            if (uint32_t refusal = csCanWriteShare(file->tid)) {
                csReleaseFile(fid);
                return refusal;
            }
            name->deleteOnClose = 1;
        }
        if (!file->pipe && syGetFileInformationByName(name->path, &info) != 0) {
            uint32_t status = csErrorGetLast();
            csReleaseFile(fid);
            return status ? status : kUnsuccessful;
        }
    }
    cmBufferWriteUint16(writer, 60);
    cmBufferWriteUint16(writer, 0);
    cmBufferWriteUint32(writer, 0);
    if (flags & 0x0001) {
        uint8_t times[32];
        csWriteFileTimes(&info, name, times);
        cmBufferWriteBytes(writer, times, sizeof times);
        cmBufferWriteUint64(writer, &info.allocationSize);
        cmBufferWriteUint64(writer, &info.endOfFile);
        cmBufferWriteUint32(writer, info.attributes);
    } else {
        cmBufferWriteZeroes(writer, 52);
    }
    // A holder that closes instead of acknowledging lets its waiters go.
    const bool breaking = file->oplockLevel && file->oplockState;
    if (breaking)
        cs2HolderGone(file);
    csReleaseFile(fid);
    return 0;
}

}  // extern "C"
