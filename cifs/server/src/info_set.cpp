// Changes a client asks of a file by level: times and attributes, size,
// allocation, delete on close, and the rename class.
#include "csinfo.h"
#include "cscreate.h"
#include "cspaths.h"
#include "csservices.h"
#include "file_errors.h"
#include "share_path.h"
#include "rename.h"
#include "share_volume.h"
#include "cmpath.h"
#include "cmstring.h"
#include "cmtime.h"
#include "csdispatch.h"

#include <cstring>
#include <vector>

using cs::errDos;
using cs::errHrd;
using cs::errSrv;

namespace {

constexpr uint32_t kNotifyModified = 3, kFilterAttributesAndTimes = 0x7C;
constexpr uint32_t kBadData = 0xC000000Du;

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
CMUint64 le64(const uint8_t *p) { return CMUint64{le32(p), le32(p + 4)}; }

// A folder marked read-only would refuse its own files (clients set the bit
// on folders they customise): the bit is kept for files only.
uint32_t mergedAttributes(uint32_t old, uint32_t requested)
{
    uint32_t merged = csChangeFileAttributes(old, requested);
    return (merged & SY_ATTR_DIRECTORY) ? merged & ~uint32_t(SY_ATTR_READONLY) : merged;
}

CMUint64 msOfSmbTime(uint16_t time, uint16_t date)
{
    CMUint64 ms;
    cmTimeConvertSecToMSec(&ms, cmCifsSmbTimeToTime(time, date));
    return ms;
}

// Bytes the level's data must hold.
bool dataSize(uint32_t level, uint32_t &size)
{
    switch (level) {
    case 1:
    case 2:
        size = 22;
        return true;
    case 0x101:
    case 1004:
        size = 36;
        return true;
    case 0x102:
    case 1013:
        size = 1;
        return true;
    case 0x103:
    case 1019:
    case 0x104:
    case 1020:
        size = 8;
        return true;
    case 1010:
        size = 12;
        return true;
    default:
        return false;
    }
}

uint32_t setStandard(CSFile *file, const CSSetRequest *r, SYFileInformation &info)
{
    const uint8_t *d = r->data;
    uint16_t cDate = le16(d), cTime = le16(d + 2), aDate = le16(d + 4), aTime = le16(d + 6);
    uint16_t wDate = le16(d + 8), wTime = le16(d + 10);
    auto given = [](uint16_t date, uint16_t time) {
        return date != 0 && date != 0xFFFF && time != 0 && time != 0xFFFF;
    };
    if (given(cDate, cTime))
        info.creationTime = msOfSmbTime(cTime, cDate);
    if (given(aDate, aTime))
        info.lastAccessTime = msOfSmbTime(aTime, aDate);
    if (wDate != 0xFFFF && wTime != 0xFFFF)
        info.lastChangeTime = msOfSmbTime(wTime, wDate);
    uint32_t size = le32(d + 12), allocation = le32(d + 16);
    uint16_t attributes = le16(d + 20);
    if (size)
        if (uint32_t status = csTruncateFile(file, r->path, size, 0))
            return status;
    if (allocation)
        info.allocationSize = CMUint64{allocation, 0};
    if (attributes)
        info.attributes = mergedAttributes(info.attributes, attributes);
    return 0;
}

void setBasic(const CSSetRequest *r, SYFileInformation &info, CSName *name)
{
    // Wire order: creation, last access, last write, change; the record's
    // last write is its fourth time and its change time its second.
    CMUint64 *times[4] = {&info.creationTime, &info.lastAccessTime, &info.lastChangeTime,
                          &info.lastWriteTime};
    for (int i = 0; i < 4; ++i) {
        CMUint64 t = le64(r->data + 8 * i);
        if ((t.low == 0 && t.high == 0) || (t.low == 0xFFFFFFFFu && t.high == 0xFFFFFFFFu))
            continue;
        cmCifsUTCToTime(times[i], t.low, t.high);
        if (name) {
            std::memcpy(name->createState + 8 * i, r->data + 8 * i, 8);
            // A written file has changed then too.
            if (i == 2)
                std::memcpy(name->createState + 24, r->data + 16, 8);
        }
    }
    uint32_t attributes = le32(r->data + 32);
    if (attributes)
        info.attributes = mergedAttributes(info.attributes, attributes);
}

uint32_t setDisposition(CSFile *file, const CSSetRequest *r, const SYFileInformation &info, CSName *name)
{
    if (!file)
        return csErrorReturn(0xC000000Du, errSrv(5));
    if (!name)
        return csErrorReturn(0xC0000001u, errSrv(1));
    if (!name->first || !(name->first->access & CS_MODE_DELETE))
        return csErrorReturn(0xC0000022u, errDos(5));
    if (info.attributes & SY_ATTR_READONLY)
        return csErrorReturn(0xC0000121u, errDos(5));
    bool pending = r->data[0] != 0;
    if (!pending) {
        file->createOptions &= ~CS_DELETE_ON_CLOSE;
    } else {
        // Deleting needs the right to write the share, whatever the open.
        if (uint32_t refusal = csCanWriteShare(r->tid))
            return refusal;
        if ((info.attributes & SY_ATTR_DIRECTORY) && csDirectoryHasEntries(r->path) != 0)
            return csErrorReturn(0xC0000101u, errDos(145));
        file->createOptions |= CS_DELETE_ON_CLOSE;
    }
    name->deleteOnClose = pending ? 1 : 0;
    return 0;
}

uint32_t setAllocation(CSFile *file, const CSSetRequest *r)
{
    CMUint64 size = le64(r->data);
    if (size.low == 0 && size.high == 0)
        return csTruncateFile(file, r->path, 0, 0);
    const CSShare *share = static_cast<const CSShare *>(csGetShareByUidTid(r->uid, r->tid));
    if (!share)
        return csErrorReturn(0xC000000Du, errSrv(5));
    SYVolumeInformation volume;
    if (uint32_t status = cs::shareVolume(share, &volume))
        return status;
    CMUint64 unitBytes, low, high;
    cmU64MultU32U32(&unitBytes, volume.sectorsPerUnit, volume.bytesPerSector);
    cmU128MultU64U64(&low, &high, &volume.freeUnits, &unitBytes);
    bool above = (high.low | high.high) == 0 && cmU64Cmp(&size, &low) > 0;
    return above ? csErrorReturn(0xC000007Fu, errHrd(39)) : 0;
}

uint32_t setRename(CSFile *file, const CSSetRequest *r, const SYFileInformation &info, CSName *name)
{
    const CSUser *user = csGetUserByUid(r->uid);
    const CSShare *share = static_cast<const CSShare *>(csGetShareByUidTid(r->uid, r->tid));
    if (!user || !user->session || !share)
        return csErrorReturn(0xC0000033u, errDos(123));
    bool smb1 = user->session->dialect == CS_DIALECT_SMB1;
    uint32_t lengthAt = smb1 ? 8 : 16, nameAt = smb1 ? 12 : 20;
    if (r->dataLength < nameAt)
        return kBadData;
    bool replace = r->data[0] != 0;
    uint32_t length = le32(r->data + lengthAt);
    if (length == 0)
        return csErrorReturn(0xC0000033u, errDos(123));
    if (length > r->dataLength - nameAt)
        return kBadData;
    std::vector<CMWchar> wire;
    CMWchar target[CM_PATH_BUFFER];
    try {
        wire.resize(length / 2 + 1, 0);
    } catch (const std::bad_alloc &) {
        return csErrorReturn(0xC0000017u, errDos(8));
    }
    std::memcpy(wire.data(), r->data + nameAt, (length / 2) * 2);
    // An SMB1 client renames within the file's own folder when it gives a
    // bare name; only a name with a path is taken from the share's root.
    const CMWchar *slash = cmWStrrchr(r->path, '/');
    bool bare = smb1 && slash && !cmWStrchr(wire.data(), '\\') && !cmWStrchr(wire.data(), '/');
    if (bare) {
        static const CMWchar kDot[] = {'.', 0}, kDotDot[] = {'.', '.', 0};
        if (cmWStrcmp(wire.data(), kDot) == 0 || cmWStrcmp(wire.data(), kDotDot) == 0)
            return csErrorReturn(0xC0000033u, errDos(123));
        CMWchar folder[CM_PATH_BUFFER];
        const size_t units = size_t(slash - r->path);
        if (units >= CM_PATH_BUFFER)
            return csErrorReturn(0xC0000033u, errDos(123));
        std::memcpy(folder, r->path, units * sizeof(CMWchar));
        folder[units] = 0;
        if (!cmCifsNtohFilename(target, folder, wire.data(), 1, 0))
            return csErrorReturn(0xC0000033u, errDos(123));
    } else if (!cs::shareLocalPath(target, share, wire.data(), 1, 0)) {
        return csErrorReturn(0xC0000033u, errDos(123));
    }
    uint32_t status = cs::renameFile(user, share, 1, info.attributes, r->path, target, replace);
    if (status)
        return status;
    // A name that is open follows its file; one that is not has nothing to follow.
    if (name && name->first)
        cmWStrncpy(name->path, target, CS_NAME_PATH_UNITS - 1);
    (void)file;
    return 0;
}

}  // namespace

extern "C" {

uint32_t csSetFileInformationByName(CSFile *file, const CSSetRequest *r)
{
    if (!r || !r->path)
        return csErrorReturn(kBadData, errSrv(91));
    uint32_t need = 0;
    if (!dataSize(r->level, need))
        return csErrorReturn(0xC00000BBu, errSrv(0xFFFF));
    if (!r->data || r->dataLength < need)
        return csErrorReturn(kBadData, errDos(87));
    // A pipe's name is no file: setting it would reach whatever file of the
    // host bears that name.
    if (file && file->pipe)
        return csErrorReturn(0xC00000BBu, errSrv(0xFFFF));
    SYFileInformation info;
    if (syGetFileInformationByName(r->path, &info) != 0)
        return csErrorGetLast();
    const SYFileInformation before = info;
    CSName *name = csGetNameByName(r->path);
    uint32_t status = 0;
    switch (r->level) {
    case 1:
    case 2:
        status = setStandard(file, r, info);
        break;
    case 0x101:
    case 1004:
        setBasic(r, info, name);
        break;
    case 0x102:
    case 1013:
        return setDisposition(file, r, info, name);
    case 0x103:
    case 1019:
        status = setAllocation(file, r);
        break;
    case 0x104:
    case 1020: {
        CMUint64 size = le64(r->data);
        status = csTruncateFile(file, r->path, size.low, size.high);
        break;
    }
    default:  // 1010
        return setRename(file, r, info, name);
    }
    if (status)
        return status;
    if (std::memcmp(&before, &info, sizeof info) == 0)
        return 0;
    if (sySetFileInformation(r->path, -1, &info) != 0)
        return csErrorGetLast();
    csNotifyImmediatelly(r->path, kNotifyModified, kFilterAttributesAndTimes);
    return 0;
}

}  // extern "C"
