// Answers to what a client asks about a file or a share's volume: the
// SMB1 query levels, the NT pass-through classes and the file-system levels.
#include "csinfo.h"
#include "cspaths.h"
#include "csservices.h"
#include "file_errors.h"
#include "share_volume.h"
#include "cmbuffer.h"
#include "cmpath.h"
#include "cmstring.h"
#include "cmtime.h"
#include "csdispatch.h"

#include <cstring>

using cs::errDos;
using cs::errSrv;

namespace {

constexpr uint32_t kUnknownLevel = 0xC00000BBu;

struct Name {
    CMWchar text[CS_NAME_PATH_UNITS + 1];
    uint32_t units;
};

// The share-relative name with '\' separators; withSeparator keeps the
// leading one. The share root is "\" in either form: its local path is the
// server's own business.
void relativeName(const CMWchar *path, uint32_t rootLength, bool withSeparator, Name &out)
{
    uint32_t n = cmWStrlen(path);
    const CMWchar *rest = rootLength <= n ? path + rootLength : path + n;
    if (*rest == '/' && !withSeparator)
        ++rest;
    if (*rest == 0 || (rest[0] == '/' && rest[1] == 0)) {
        out.text[0] = '\\';
        out.units = 1;
        out.text[1] = 0;
        return;
    }
    uint32_t i = 0;
    for (; rest[i] && i < CS_NAME_PATH_UNITS; ++i)
        out.text[i] = rest[i] == '/' ? CMWchar('\\') : rest[i];
    out.text[i] = 0;
    out.units = i;
}

void writeName(CMBufferWriter *w, const Name &name)
{
    for (uint32_t i = 0; i < name.units; ++i)
        cmBufferWriteUint16(w, name.text[i]);
}

void writeTimes(CMBufferWriter *w, const SYFileInformation &info, const CSName *name)
{
    uint8_t times[32];
    csWriteFileTimes(&info, name, times);
    cmBufferWriteBytes(w, times, sizeof times);
}

void writeSmbTime(CMBufferWriter *w, const CMUint64 &ms)
{
    uint16_t time = 0, date = 0;
    cmCifsTimeToSmbTime(ms.low, ms.high, &time, &date);
    cmBufferWriteUint16(w, date);
    cmBufferWriteUint16(w, time);
}

void writeStandard(CMBufferWriter *w, const SYFileInformation &info)
{
    cmBufferWriteUint64(w, &info.allocationSize);
    cmBufferWriteUint64(w, &info.endOfFile);
    cmBufferWriteUint32(w, info.isDirectory);
    cmBufferWriteByte(w, uint8_t(info.reserved));
    cmBufferWriteByte(w, (info.attributes & SY_ATTR_DIRECTORY) ? 1 : 0);
    cmBufferWriteUint16(w, 0);
}

bool isSmb1(const uint8_t *header)
{
    return header && header[0] == 0xFF && header[1] == 'S' && header[2] == 'M' && header[3] == 'B';
}

// Data bytes of a level before the name, and whether it has parameters.
struct Shape {
    uint32_t fixed;
    bool parameters;
    bool name;
};

bool shapeOf(uint32_t level, bool smb1, Shape &s)
{
    switch (level) {
    case 1:
        s = {22, false, false};
        return true;
    case 2:
        s = {26, false, false};
        return true;
    case 3:
    case 4:
        s = {6, false, false};  // two bytes of gap, then four zero bytes
        return true;
    case 6:
        s = {0, false, false};
        return true;
    case 0x101:
    case 1004:
        s = {40, true, false};
        return true;
    case 0x102:
    case 1005:
        s = {24, true, false};
        return true;
    case 0x103:
    case 1007:
        s = {4, true, false};
        return true;
    case 0x104:
    case 1009:
        s = {4, true, true};
        return true;
    case 0x105:
    case 0x106:
    case 1006:
        s = {8, true, false};
        return true;
    case 0x107:
        s = {72, true, true};
        return true;
    case 1018:
        s = {smb1 ? 72u : 100u, true, true};
        return true;
    case 0x108:
    case 1021:
        s = {4, true, true};
        return true;
    case 1034:
        s = {56, true, false};
        return true;
    default:
        return false;
    }
}

}  // namespace

uint32_t cs::shareVolume(const CSShare *share, SYVolumeInformation *volume)
{
    static const CMWchar kEmpty[1] = {0};
    CMWchar path[CM_PATH_BUFFER];
    if (!cmCifsNtohFilename(path, share->path, kEmpty, 1, 0))
        return csErrorReturn(0xC0000033u, errDos(123));
    return syGetVolumeInformation(path, volume) == 0 ? 0 : csErrorGetLast();
}

extern "C" {

uint32_t csQueryFileInformationByName(CSFile *file, const CMWchar *path, uint32_t rootLength, uint32_t level,
                                      uint32_t unicode, uint32_t byteLimit, CSQueryContext *q)
{
    if (!q || !q->parameters || !path)
        return csErrorReturn(0xC000000Du, errSrv(91));
    bool smb1 = isSmb1(q->header);
    Shape shape;
    if (!shapeOf(level, smb1, shape))
        return csErrorReturn(kUnknownLevel, errSrv(0xFFFF));

    SYFileInformation info{};
    if (file && file->pipe) {
        csDcerpcGetPipeInformation(file, &info);
    } else if (syGetFileInformationByName(path, &info) != 0) {
        return csErrorGetLast();
    }
    if (info.attributes & SY_ATTR_DIRECTORY)
        info.endOfFile = CMUint64{0, 0};
    const CSName *openName = csGetNameByName(path);

    Name name{};
    bool separator = level == 0x104 || level == 1009;
    if (shape.name)
        relativeName(path, rootLength, separator, name);
    uint32_t terminator = (level == 0x108 || level == 1021) ? (unicode ? 2u : 1u) : 0u;
    uint64_t dataBytes = uint64_t(shape.fixed) + (shape.name ? 2ull * name.units : 0) + terminator;
    uint64_t total = (shape.parameters ? 2u : 0u) + 2u + dataBytes;
    if (total > byteLimit)
        return csErrorReturn(0xC0000001u, errSrv(1));

    CMBufferWriter w;
    cmBufferWriterInit(&w, q->parameters, byteLimit);
    if (shape.parameters)
        cmBufferWriteUint16(&w, 0);  // EA error offset
    cmBufferWriteByte(&w, 0x00);
    cmBufferWriteByte(&w, 0x01);
    q->parameterCount = shape.parameters ? 2 : 0;
    q->data = cmBufferWriterGetPosition(&w);
    uint32_t nameBytes = 2 * name.units;
    switch (level) {
    case 1:
    case 2:
        writeSmbTime(&w, info.creationTime);
        writeSmbTime(&w, info.lastAccessTime);
        writeSmbTime(&w, info.lastChangeTime);
        cmBufferWriteUint32(&w, cmU64toU32(info.endOfFile.low, info.endOfFile.high));
        cmBufferWriteUint32(&w, cmU64toU32(info.allocationSize.low, info.allocationSize.high));
        cmBufferWriteUint16(&w, uint16_t(info.attributes));
        if (level == 2)
            cmBufferWriteUint32(&w, 0);
        break;
    case 3:
    case 4:
        cmBufferWriteZeroes(&w, 2);
        q->data = cmBufferWriterGetPosition(&w);
        cmBufferWriteUint32(&w, 0);
        break;
    case 6:
        break;
    case 0x101:
    case 1004:
        writeTimes(&w, info, openName);
        cmBufferWriteUint32(&w, info.attributes);
        cmBufferWriteUint32(&w, 0);
        break;
    case 0x102:
    case 1005:
        writeStandard(&w, info);
        break;
    case 0x103:
    case 1007:
        cmBufferWriteUint32(&w, 0);
        break;
    case 0x104:
    case 1009:
        cmBufferWriteUint32(&w, nameBytes);
        writeName(&w, name);
        break;
    case 0x105:
        cmBufferWriteUint64(&w, &info.allocationSize);
        break;
    case 0x106:
        cmBufferWriteUint64(&w, &info.endOfFile);
        break;
    case 1006: {
        CMUint64 index{info.fileIdLow, info.fileIdHigh};
        cmBufferWriteUint64(&w, &index);
        break;
    }
    case 0x108:
    case 1021:
        cmBufferWriteUint32(&w, nameBytes);
        writeName(&w, name);
        cmBufferWriteZeroes(&w, terminator);
        break;
    case 1034:
        writeTimes(&w, info, openName);
        cmBufferWriteUint64(&w, &info.allocationSize);
        cmBufferWriteUint64(&w, &info.endOfFile);
        cmBufferWriteUint32(&w, info.attributes);
        cmBufferWriteUint32(&w, 0);
        break;
    default:  // 0x107 and 1018
        writeTimes(&w, info, openName);
        cmBufferWriteUint32(&w, info.attributes);
        cmBufferWriteUint32(&w, 0);
        if (level == 1018 && !smb1) {
            writeStandard(&w, info);
            CMUint64 index{info.fileIdLow, info.fileIdHigh};
            cmBufferWriteUint64(&w, &index);
            cmBufferWriteUint32(&w, 0);  // EA size
            cmBufferWriteUint32(&w, file ? convertVxAccessToNtAccess(file->access) : 0);
            CMUint64 position{0, 0};
            if (file && file->fd != -1) {
                int64_t at = sySeekFileCurrent(file->fd, 0, 0);
                if (at > 0)
                    position = CMUint64{uint32_t(at), uint32_t(uint64_t(at) >> 32)};
            }
            cmBufferWriteUint64(&w, &position);
            cmBufferWriteUint32(&w, 0);  // mode
            cmBufferWriteUint32(&w, 0);  // alignment
        } else {
            cmBufferWriteUint64(&w, &info.allocationSize);
            cmBufferWriteUint64(&w, &info.endOfFile);
            cmBufferWriteUint32(&w, info.isDirectory);
            cmBufferWriteByte(&w, uint8_t(info.reserved));
            cmBufferWriteByte(&w, (info.attributes & SY_ATTR_DIRECTORY) ? 1 : 0);
            cmBufferWriteUint16(&w, 0);
            cmBufferWriteUint32(&w, 0);  // EA size
        }
        cmBufferWriteUint32(&w, nameBytes);
        writeName(&w, name);
        break;
    }
    if (cmBufferWriterIsOverrun(&w))
        return csErrorReturn(0xC0000001u, errSrv(1));
    q->dataCount = uint32_t(cmBufferWriterGetPosition(&w) - q->data);
    return 0;
}

uint32_t csQueryFsInformation(const CSShare *share, uint32_t level, uint32_t unicode, CSQueryContext *q)
{
    if (!q || !q->parameters || !share)
        return csErrorReturn(0xC000000Du, errSrv(5));
    SYVolumeInformation volume;
    if (uint32_t status = cs::shareVolume(share, &volume))
        return status;

    uint32_t labelUnits = cmWStrlen(share->name);
    uint32_t labelBytes = unicode ? 2 * labelUnits : labelUnits;
    uint32_t need;
    switch (level) {
    case 1:
        need = 18;
        break;
    case 2:
        need = 5 + labelBytes;
        break;
    case 0x102:
        need = 18 + labelBytes;
        break;
    case 0x103:
        need = 24;
        break;
    case 0x104:
        need = 8;
        break;
    case 0x105:
        need = unicode ? 20 : 18;
        break;
    case 0x107:
        need = 32;
        break;
    default:
        return csErrorReturn(kUnknownLevel, errSrv(0xFFFF));
    }
    if (need > q->room)
        return csErrorReturn(0xC0000023u, errSrv(1));

    CMBufferWriter w;
    cmBufferWriterInit(&w, q->parameters, q->room);
    auto label = [&] {
        for (uint32_t i = 0; i < labelUnits; ++i) {
            if (unicode)
                cmBufferWriteUint16(&w, share->name[i]);
            else
                cmBufferWriteByte(&w, share->name[i] < 0x100 ? uint8_t(share->name[i]) : uint8_t('?'));
        }
    };
    switch (level) {
    case 1:
        cmBufferWriteUint32(&w, volume.fileSystemId);
        cmBufferWriteUint32(&w, volume.sectorsPerUnit);
        cmBufferWriteUint32(&w, volume.totalUnits.low);
        cmBufferWriteUint32(&w, volume.freeUnits.low);
        cmBufferWriteUint16(&w, uint16_t(volume.bytesPerSector));
        break;
    case 2:
        cmBufferWriteUint32(&w, volume.serialNumber);
        cmBufferWriteByte(&w, uint8_t(labelBytes));
        label();
        break;
    case 0x102: {
        CMUint64 ms, created{0, 0};
        cmTimeConvertSecToMSec(&ms, volume.creationTime);
        cmCifsTimeToUTC(ms.low, ms.high, &created.low, &created.high);
        cmBufferWriteUint64(&w, &created);
        cmBufferWriteUint32(&w, volume.serialNumber);
        cmBufferWriteUint32(&w, labelBytes);
        cmBufferWriteUint16(&w, 0);
        label();
        break;
    }
    case 0x103:
        cmBufferWriteUint64(&w, &volume.totalUnits);
        cmBufferWriteUint64(&w, &volume.freeUnits);
        cmBufferWriteUint32(&w, volume.sectorsPerUnit);
        cmBufferWriteUint32(&w, volume.bytesPerSector);
        break;
    case 0x104:
        cmBufferWriteUint32(&w, 7);
        cmBufferWriteUint32(&w, 0x20);
        break;
    case 0x105:
        cmBufferWriteUint32(&w, 3);
        cmBufferWriteUint32(&w, 512);
        cmBufferWriteUint32(&w, unicode ? 8 : 4);
        if (unicode) {
            static const char kName[] = "NTFS";
            for (int i = 0; i < 4; ++i)
                cmBufferWriteUint16(&w, uint16_t(kName[i]));
        } else {
            cmBufferWriteBytes(&w, "NTFS", 4);
            cmBufferWriteUint16(&w, 0);
        }
        break;
    default:  // 0x107
        cmBufferWriteUint64(&w, &volume.totalUnits);
        cmBufferWriteUint64(&w, &volume.freeUnits);
        cmBufferWriteUint64(&w, &volume.freeUnits);
        cmBufferWriteUint32(&w, volume.sectorsPerUnit);
        cmBufferWriteUint32(&w, volume.bytesPerSector);
        break;
    }
    if (cmBufferWriterIsOverrun(&w))
        return csErrorReturn(0xC0000023u, errSrv(1));
    q->parameterCount = 0;
    q->data = q->parameters;
    q->dataCount = uint32_t(cmBufferWriterGetPosition(&w) - q->parameters);
    return 0;
}

}  // extern "C"
