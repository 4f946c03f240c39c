// The SMB1 commands that query and change files by name or handle:
// QUERY_INFORMATION(2), QUERY_INFORMATION_DISK, SET_INFORMATION(2), RENAME,
// DELETE, DELETE_DIRECTORY and CHECK_DIRECTORY.
#include "cscommands.h"
#include "cscreate.h"
#include "csinfo.h"
#include "cspaths.h"
#include "csservices.h"
#include "file_errors.h"
#include "smb1_block.h"
#include "cmstring.h"
#include "cmtime.h"
#include "csdispatch.h"

#include <cstring>

using cs::errDos;
using cs::errSrv;
using cs::Smb1Block;

namespace {

constexpr uint32_t kNotifyModified = 3, kFilterAttributesAndTimes = 0x7C, kFilterNames = 3;
constexpr uint32_t kNotifyRemovedDirectory = 0x1002;
constexpr uint8_t kBufferFormatAscii = 4;

uint32_t badBlock() { return csErrorReturn(0xC0000001u, errSrv(1)); }

void put16(uint8_t *&p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p += 2;
}
void put32(uint8_t *&p, uint32_t v)
{
    put16(p, uint16_t(v));
    put16(p, uint16_t(v >> 16));
}

uint32_t caseSensitiveOf(const CSUser *user) { return user ? user->compatibility[0] : 0; }

// What every command naming a file needs: its user, share and local path.
struct Named {
    CSUser *user = nullptr;
    CSShare *share = nullptr;
    CMWchar path[CM_PATH_BUFFER];
    uint32_t rootLength = 0;
};

uint32_t userAndShare(const Smb1Block &b, Named &n)
{
    n.user = csGetUserByUid(b.uid);
    if (!n.user)
        return csErrorReturn(0xC000000Du, errSrv(91));
    n.share = static_cast<CSShare *>(csGetShareByUidTid(b.uid, b.tid));
    if (!n.share)
        return csErrorReturn(0xC000000Du, errSrv(5));
    if (uint32_t refusal = cs::refuseWithoutFolder(n.share))
        return refusal;
    n.rootLength = cmWStrlen(n.share->path);
    return 0;
}

uint32_t namedPath(const Smb1Block &b, Named &n, bool wildcards = false)
{
    if (uint32_t status = userAndShare(b, n))
        return status;
    uint32_t at = 0;
    if (!cs::smb1Path(b, &at, kBufferFormatAscii, n.share, wildcards, n.path))
        return csErrorReturn(0xC0000033u, errDos(123));
    return 0;
}

// The request's block, or the status that refuses it: no room for an answer
// of room bytes, or not words words followed by either no bytes or (a name
// first) at least leastBytes.
uint32_t requestBlock(const uint8_t *params, uint8_t *response, const uint8_t *position, uint32_t room,
                      uint8_t words, uint16_t leastBytes, Smb1Block &b)
{
    if (uint32_t status = csDispatchCheckSpace(response, position, room))
        return status;
    b = cs::smb1Block(params, response);
    bool bytesFit =
        leastBytes == 0 ? b.byteCount == 0 : b.byteCount >= leastBytes && b.bytes[0] >= kBufferFormatAscii;
    if (b.wordCount != words || !bytesFit)
        return badBlock();
    return 0;
}

void putSmbTime(uint8_t *&p, const CMUint64 &ms)
{
    uint16_t time = 0, date = 0;
    cmCifsTimeToSmbTime(ms.low, ms.high, &time, &date);
    put16(p, date);
    put16(p, time);
}

CMUint64 msOfSmbTime(uint16_t time, uint16_t date)
{
    CMUint64 ms;
    cmTimeConvertSecToMSec(&ms, cmCifsSmbTimeToTime(time, date));
    return ms;
}

// A handle of the request's tree and user with its open name.
uint32_t openHandle(const Smb1Block &b, CSFile **file, CSName **name)
{
    *file = csGetFileByFid(b.word(0), b.tid, b.uid);
    if (!*file)
        return csErrorReturn(0xC0000008u, errDos(6));
    *name = csGetNameByNid((*file)->nid);
    return 0;
}

// The information of a handle whose name is not waiting to be deleted.
uint32_t handleInformation(CSFile *file, const CSName *name, SYFileInformation &info)
{
    if (!name || name->deleteOnClose)
        return csErrorReturn(0xC000000Fu, errDos(2));
    if (csGetFileInformation(file, name->path, &info) != 0)
        return csErrorGetLast();
    return 0;
}

}  // namespace

extern "C" {

uint32_t csComQueryInformation(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 23, 0, 2, b))
        return status;
    if (uint32_t refusal = csCanReadShare(b.tid))
        return refusal;
    Named n;
    if (uint32_t status = namedPath(b, n))
        return status;
    if (!csCheckPathAndFile(n.share, n.path, n.rootLength, caseSensitiveOf(n.user)))
        return csErrorReturn(0xC0000034u, errDos(2));
    if (csFileMarkedForDeletion(n.path))
        return csErrorReturn(0xC0000056u, errDos(12));
    SYFileInformation info;
    if (csGetFileInformationByName(n.share, n.path, &info) != 0)
        return csErrorGetLast();
    bool directory = (info.attributes & SY_ATTR_DIRECTORY) != 0;
    uint8_t *p = *position;
    *p++ = 10;
    put16(p, uint16_t(info.attributes & 0x3F));
    put32(p, cmTimeConvertMSecToSec(&info.lastChangeTime));
    put32(p, directory ? 0 : cmU64toU32(info.endOfFile.low, info.endOfFile.high));
    std::memset(p, 0, 10 + 2);
    *position = p + 12;
    return 0;
}

uint32_t csComQueryInformation2(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 25, 1, 0, b))
        return status;
    if (uint32_t refusal = csCanReadShare(b.tid))
        return refusal;
    CSFile *file;
    CSName *name;
    if (uint32_t status = openHandle(b, &file, &name))
        return status;
    SYFileInformation info;
    if (uint32_t status = handleInformation(file, name, info))
        return status;
    bool directory = (info.attributes & SY_ATTR_DIRECTORY) != 0;
    uint8_t *p = *position;
    *p++ = 11;
    putSmbTime(p, info.creationTime);
    putSmbTime(p, info.lastAccessTime);
    putSmbTime(p, info.lastChangeTime);
    put32(p, directory ? 0 : cmU64toU32(info.endOfFile.low, info.endOfFile.high));
    put32(p, directory ? 0 : cmU64toU32(info.allocationSize.low, info.allocationSize.high));
    put16(p, uint16_t(info.attributes & 0x3F));
    put16(p, 0);
    *position = p;
    return 0;
}

uint32_t csComQueryInformationDisk(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 13, 0, 0, b))
        return status;
    if (uint32_t refusal = csCanReadShare(b.tid))
        return refusal;
    Named n;
    if (uint32_t status = userAndShare(b, n))
        return status;
    static const CMWchar kRoot[] = {'/', 0};
    if (!cmCifsNtohFilename(n.path, n.share->path, kRoot, 1, 0))
        return csErrorReturn(0xC0000033u, errDos(123));
    SYVolumeInformation volume;
    if (syGetVolumeInformation(n.path, &volume) != 0)
        return csErrorGetLast();
    // Sixteen-bit counts: fewer, larger units for a large volume.
    uint32_t total = volume.totalUnits.low, free = volume.freeUnits.low;
    uint64_t sectors = volume.sectorsPerUnit;
    if (volume.totalUnits.high || volume.freeUnits.high) {
        total = free = 0xFFFFFFFFu;
    }
    unsigned shift = 0;
    while ((total >> shift) >= 0x10000u)
        ++shift;
    auto clamp = [](uint64_t v) { return uint16_t(v > 0xFFFF ? 0xFFFF : v); };
    uint8_t *p = *position;
    *p++ = 5;
    put16(p, clamp(total >> shift));
    put16(p, clamp(sectors << shift));
    put16(p, clamp(volume.bytesPerSector));
    put16(p, clamp(free >> shift));
    put16(p, 0);
    put16(p, 0);
    *position = p;
    return 0;
}

uint32_t csComSetInformation(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 3, 8, 2, b))
        return status;
    Named n;
    if (uint32_t status = namedPath(b, n))
        return status;
    if (uint32_t refusal = csCanWriteShare(b.tid))
        return refusal;
    if (!csCheckPathAndFile(n.share, n.path, n.rootLength, caseSensitiveOf(n.user)))
        return csErrorReturn(0xC000003Au, errDos(3));
    if (csFileMarkedForDeletion(n.path))
        return csErrorReturn(0xC0000056u, errDos(12));
    SYFileInformation info;
    if (syGetFileInformationByName(n.path, &info) != 0)
        return csErrorGetLast();
    uint16_t attributes = b.word(0);
    uint32_t seconds = b.dword(1);
    if (attributes != 0xFFFF) {
        uint32_t directory = info.attributes & SY_ATTR_DIRECTORY;
        uint32_t wanted = attributes & ~uint32_t(SY_ATTR_DIRECTORY);
        if (directory)
            wanted &= ~uint32_t(SY_ATTR_READONLY);
        // The folder stays a folder, a file a file.
        info.attributes = wanted | directory;
    }
    if (seconds)
        cmTimeConvertSecToMSec(&info.lastChangeTime, seconds);
    if (sySetFileInformation(n.path, -1, &info) != 0)
        return csErrorGetLast();
    csNotifyImmediatelly(n.path, kNotifyModified, kFilterAttributesAndTimes);
    return cs::smb1EmptyAnswer(response, position);
}

uint32_t csComSetInformation2(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 3, 7, 0, b))
        return status;
    CSFile *file;
    CSName *name;
    if (uint32_t status = openHandle(b, &file, &name))
        return status;
    if (!csGetFileName(file->fid))
        return csErrorReturn(0xC0000001u, errSrv(1));
    if (uint32_t refusal = csCanWriteShare(b.tid))
        return refusal;
    SYFileInformation info;
    if (uint32_t status = handleInformation(file, name, info))
        return status;
    info.creationTime = msOfSmbTime(b.word(2), b.word(1));
    info.lastAccessTime = msOfSmbTime(b.word(4), b.word(3));
    info.lastChangeTime = msOfSmbTime(b.word(6), b.word(5));
    if (sySetFileInformation(name->path, -1, &info) != 0)
        return csErrorGetLast();
    return cs::smb1EmptyAnswer(response, position);
}

uint32_t csComRename(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 3, 1, 4, b))
        return status;
    Named from, to;
    if (uint32_t status = userAndShare(b, from))
        return status;
    uint32_t at = 0;
    if (!cs::smb1Path(b, &at, kBufferFormatAscii, from.share, true, from.path) ||
        !cs::smb1Path(b, &at, kBufferFormatAscii, from.share, true, to.path))
        return csErrorReturn(0xC0000033u, errDos(123));
    if (uint32_t refusal = csCanWriteShare(b.tid))
        return refusal;
    if (uint32_t status = csRenameFile(from.user, from.share, b.unicode, b.word(0), from.path, to.path))
        return status;
    return cs::smb1EmptyAnswer(response, position);
}

uint32_t csComDelete(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 3, 1, 2, b))
        return status;
    Named n;
    if (uint32_t status = namedPath(b, n, true))
        return status;
    if (uint32_t refusal = csCanWriteShare(b.tid))
        return refusal;
    if (!csCheckPath(n.share, n.path, n.rootLength, caseSensitiveOf(n.user)))
        return csErrorReturn(0xC000003Au, errDos(3));
    if (uint32_t status = csDeleteMatchingFiles(n.share, n.path, b.word(0)))
        return status;
    return cs::smb1EmptyAnswer(response, position);
}

uint32_t csComDeleteDirectory(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 3, 0, 2, b))
        return status;
    Named n;
    if (uint32_t status = namedPath(b, n))
        return status;
    uint32_t length = cmWStrlen(n.path);
    while (length > 1 && n.path[length - 1] == '/')
        --length;
    if (length <= n.rootLength)
        return csErrorReturn(0xC0000101u, errDos(16));
    if (uint32_t refusal = csCanWriteShare(b.tid))
        return refusal;
    uint32_t caseSensitive = caseSensitiveOf(n.user);
    if (!csCheckPath(n.share, n.path, n.rootLength, caseSensitive))
        return csErrorReturn(0xC000003Au, errDos(3));
    if (!csCheckFile(n.share, n.path, caseSensitive))
        return csErrorReturn(0xC000000Fu, errDos(2));
    SYFileInformation info;
    if (syGetFileInformationByName(n.path, &info) != 0)
        return csErrorGetLast();
    if (!(info.attributes & SY_ATTR_DIRECTORY))
        return csErrorReturn(0xC000003Au, errDos(5));
    if (CSName *open = csGetNameByName(n.path)) {
        // Marked only while open: a full folder would be kept at the close
        // after success was answered, so it is refused now.
        if (csDirectoryHasEntries(n.path) != 0)
            return csErrorReturn(0xC0000101u, errDos(145));
        open->deleteOnClose = 1;
    } else if (syDeleteDirectory(n.path) != 0) {
        uint32_t mapped = csErrorGetLast();
        if (csDispatchIsNtError())
            return mapped == 0xC0000101u ? mapped : 0xC0000121u;
        return mapped;
    }
    csNotifyImmediatelly(n.path, kNotifyRemovedDirectory, kFilterNames);
    return cs::smb1EmptyAnswer(response, position);
}

uint32_t csComCheckDirectory(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Smb1Block b{};
    if (uint32_t status = requestBlock(params, response, *position, 3, 0, 2, b))
        return status;
    if (uint32_t refusal = csCanReadShare(b.tid))
        return refusal;
    Named n;
    if (uint32_t status = userAndShare(b, n))
        return status;
    uint32_t at = 0;
    uint32_t caseSensitive = caseSensitiveOf(n.user);
    if (!cs::smb1Path(b, &at, kBufferFormatAscii, n.share, false, n.path) ||
        !csCheckPath(n.share, n.path, n.rootLength, caseSensitive))
        return csErrorReturn(0xC000003Au, errDos(3));
    if (!csCheckFile(n.share, n.path, caseSensitive))
        return csErrorReturn(0xC000000Fu, errDos(2));
    SYFileInformation info;
    if (syGetFileInformationByName(n.path, &info) != 0)
        return csErrorGetLast();
    if (!(info.attributes & SY_ATTR_DIRECTORY))
        return csErrorReturn(0xC0000033u, errDos(3));
    return cs::smb1EmptyAnswer(response, position);
}

}  // extern "C"
