// Directory entries in the information levels of the finds and of
// QUERY_DIRECTORY, the 43-byte SEARCH entries, and the walk that fills an
// answer from a search.
#include "csfind.h"
#include "cspaths.h"
#include "file_errors.h"
#include "cmbuffer.h"
#include "cmstring.h"
#include "cmtime.h"
#include "csdispatch.h"

#include <cstring>

using cs::errSrv;

namespace {

enum class Form { Standard, Directory, Full, Names, Both, IdFull, IdBoth };

bool formOf(uint32_t level, Form &form)
{
    switch (level) {
    case 1:
    case 2:
    case 3:
        form = Form::Standard;
        return true;
    case 0x101:
    case 1001:
        form = Form::Directory;
        return true;
    case 0x102:
    case 1002:
        form = Form::Full;
        return true;
    case 0x103:
    case 1012:
        form = Form::Names;
        return true;
    case 0x104:
    case 1003:
        form = Form::Both;
        return true;
    case 0x105:
    case 1038:
        form = Form::IdFull;
        return true;
    case 0x106:
    case 1037:
        form = Form::IdBoth;
        return true;
    default:
        return false;
    }
}

uint32_t fixedOf(Form form)
{
    switch (form) {
    case Form::Directory:
        return 64;
    case Form::Full:
        return 68;
    case Form::Names:
        return 12;
    case Form::Both:
        return 94;
    case Form::IdFull:
        return 80;
    default:  // IdBoth
        return 104;
    }
}

const CMWchar *lastComponent(const CMWchar *path)
{
    const CMWchar *slash = cmWStrrchr(path, '/');
    return slash ? slash + 1 : path;
}

uint8_t narrow(CMWchar c) { return c < 0x100 ? uint8_t(c) : uint8_t('?'); }

void writeName(CMBufferWriter *w, const CMWchar *name, uint32_t units, bool unicode)
{
    for (uint32_t i = 0; i < units; ++i) {
        if (unicode)
            cmBufferWriteUint16(w, name[i]);
        else
            cmBufferWriteByte(w, narrow(name[i]));
    }
    if (!unicode)
        cmBufferWriteByte(w, 0);
}

void writeSmbTime(CMBufferWriter *w, const CMUint64 &ms)
{
    uint16_t time = 0, date = 0;
    cmCifsTimeToSmbTime(ms.low, ms.high, &time, &date);
    cmBufferWriteUint16(w, date);
    cmBufferWriteUint16(w, time);
}

uint32_t roundUp8(uint32_t n) { return (n + 7u) & ~7u; }

}  // namespace

extern "C" {

uint32_t csFillFindEntry(const CMWchar *fullName, const SYFileInformation *info, uint8_t **position,
                         uint32_t level, uint32_t entryIndex, uint32_t unicode, const uint8_t *dataStart,
                         uint32_t *room, uint32_t resumeKeys, uint8_t **lastEntry)
{
    Form form;
    if (!formOf(level, form))
        return csErrorReturn(0xC0000001u, errSrv(1));
    const CMWchar *name = lastComponent(fullName);
    uint32_t units = cmWStrlen(name);
    uint32_t nameBytes = unicode ? 2 * units : units + 1;
    bool directory = (info->attributes & SY_ATTR_DIRECTORY) != 0;
    CMUint64 endOfFile = directory ? CMUint64{0, 0} : info->endOfFile;
    CMUint64 allocation = directory ? CMUint64{0, 0} : info->allocationSize;

    if (form == Form::Standard) {
        // Clients read a UTF-16 name of the EA-size levels right after its
        // length byte; only the standard level aligns it to 2.
        bool pad = unicode && level == 1;
        uint32_t fixed = (level == 1 ? 23 : 27) + (pad ? 1 : 0) + (resumeKeys ? 4 : 0);
        // The length is a byte. A UTF-16 name is terminated too, the
        // terminator left out of the length: a zero unit in the standard
        // level, a single zero byte in the EA-size levels, which is what
        // clients step over to reach the next entry.
        if (nameBytes > 0xFF)
            return CS_ENTRY_SKIP;
        uint32_t terminator = unicode ? (level == 1 ? 2 : 1) : 0;
        uint32_t size = fixed + nameBytes + terminator;
        if (size > *room)
            return CS_ENTRY_NO_ROOM;
        CMBufferWriter w;
        cmBufferWriterInit(&w, *position, *room);
        if (resumeKeys)
            cmBufferWriteUint32(&w, entryIndex);
        writeSmbTime(&w, info->creationTime);
        writeSmbTime(&w, info->lastAccessTime);
        writeSmbTime(&w, info->lastChangeTime);
        cmBufferWriteUint32(&w, cmU64toU32(endOfFile.low, endOfFile.high));
        cmBufferWriteUint32(&w, cmU64toU32(allocation.low, allocation.high));
        cmBufferWriteUint16(&w, uint16_t(info->attributes));
        if (level != 1)
            cmBufferWriteUint32(&w, 0);  // EA size
        cmBufferWriteByte(&w, uint8_t(nameBytes));
        if (pad)
            cmBufferWriteByte(&w, 0);
        writeName(&w, name, units, unicode);
        cmBufferWriteZeroes(&w, terminator);
        *lastEntry = *position;
        *room -= size;
        *position += size;
        return 0;
    }

    uint32_t fixed = fixedOf(form);
    uint32_t size = fixed + nameBytes;
    uint32_t misaligned = uint32_t(*position - dataStart) & 7u;
    uint32_t pad = misaligned ? 8 - misaligned : 0;
    if (uint64_t(pad) + size > *room)
        return CS_ENTRY_NO_ROOM;
    std::memset(*position, 0, pad);
    uint8_t *entry = *position + pad;
    CMBufferWriter w;
    cmBufferWriterInit(&w, entry, size);
    cmBufferWriteUint32(&w, roundUp8(size));  // NextEntryOffset
    cmBufferWriteUint32(&w, 0);               // FileIndex
    if (form != Form::Names) {
        uint8_t times[32];
        csWriteFileTimes(info, nullptr, times);
        cmBufferWriteBytes(&w, times, sizeof times);
        cmBufferWriteUint64(&w, &endOfFile);
        cmBufferWriteUint64(&w, &allocation);
        cmBufferWriteUint32(&w, info->attributes);
    }
    cmBufferWriteUint32(&w, unicode ? 2 * units : units);
    if (form != Form::Names && form != Form::Directory)
        cmBufferWriteUint32(&w, 0);  // EA size
    if (form == Form::Both || form == Form::IdBoth) {
        cmBufferWriteByte(&w, 0);     // short name length
        cmBufferWriteByte(&w, 0);     // reserved
        cmBufferWriteZeroes(&w, 24);  // short name
    }
    if (form == Form::IdFull)
        cmBufferWriteUint32(&w, 0);
    if (form == Form::IdBoth)
        cmBufferWriteUint16(&w, 0);
    if (form == Form::IdFull || form == Form::IdBoth) {
        CMUint64 id{info->fileIdLow, info->fileIdHigh};
        cmBufferWriteUint64(&w, &id);
    }
    writeName(&w, name, units, unicode);
    *lastEntry = entry;
    *room -= pad + size;
    *position = entry + size;
    return 0;
}

void csFillSearchEntry(const CMWchar *fullName, uint8_t *entry)
{
    std::memset(entry, 0, CS_SEARCH_ENTRY_SIZE);
    entry[0] = 8;
    SYFileInformation info{};
    if (syGetFileInformationByName(fullName, &info) != 0)
        info = SYFileInformation{};
    bool directory = (info.attributes & SY_ATTR_DIRECTORY) != 0;
    CMBufferWriter w;
    cmBufferWriterInit(&w, entry + 21, CS_SEARCH_ENTRY_SIZE - 21);
    cmBufferWriteByte(&w, uint8_t(info.attributes));
    uint16_t time = 0, date = 0;
    cmCifsTimeToSmbTime(info.lastChangeTime.low, info.lastChangeTime.high, &time, &date);
    cmBufferWriteUint16(&w, time);
    cmBufferWriteUint16(&w, date);
    cmBufferWriteUint32(&w, directory ? 0 : cmU64toU32(info.endOfFile.low, info.endOfFile.high));
    // 8.3 name: twelve characters, blank-filled, then the terminator.
    const CMWchar *name = lastComponent(fullName);
    uint8_t *out = entry + 30;
    std::memset(out, ' ', 12);
    for (uint32_t i = 0; i < 12 && name[i]; ++i)
        out[i] = narrow(name[i]);
    out[12] = 0;
}

uint32_t csFindNameHash(const CMWchar *name)
{
    uint32_t hash = 2166136261u;
    for (const CMWchar *p = lastComponent(name); *p; ++p) {
        CMWchar upper = *p;
        cmWToupper(&upper, *p);
        hash = (hash ^ upper) * 16777619u;
    }
    return hash;
}

uint32_t csFindWalk(CSFindWalk *walk)
{
    CSSearch *search = walk->search;
    CSEnumeration *e = &search->enumeration;
    walk->count = walk->length = walk->lastEntryOffset = walk->endOfSearch = 0;
    uint8_t *position = walk->data, *last = nullptr;
    uint32_t room = walk->room;
    for (;;) {
        if (walk->maxEntries && walk->count >= walk->maxEntries)
            break;
        const CMWchar *name;
        if (search->entryPending) {
            search->entryPending = 0;
            name = e->isWild ? e->result : e->path;
        } else {
            name = csNextSourceName(e);
        }
        if (!name) {
            walk->endOfSearch = 1;
            break;
        }
        SYFileInformation info;
        if (syGetFileInformationByName(name, &info) != 0)
            info = SYFileInformation{};
        if (walk->filter &&
            (!csMatchFileAttributes(search->attributes, info.attributes) ||
             ((info.attributes & SY_ATTR_DIRECTORY) && !(search->attributes & SY_ATTR_DIRECTORY))))
            continue;
        uint32_t status = csFillFindEntry(name, &info, &position, walk->level, search->entryIndex + 1,
                                          walk->unicode, walk->data, &room, search->resumeKeys, &last);
        if (status == CS_ENTRY_SKIP)
            continue;
        if (status == CS_ENTRY_NO_ROOM) {
            // The name comes first in the next answer; a non-wild walk ended
            // with it, so it is kept from being taken for the end.
            search->entryPending = 1;
            if (!e->isWild)
                e->state = 0;
            break;
        }
        if (status)
            return status;
        ++search->entryIndex;
        search->lastNameHash = csFindNameHash(name);
        ++walk->count;
        if (walk->single)
            break;
    }
    if (last) {
        Form form;
        if (formOf(walk->level, form) && form != Form::Standard)
            std::memset(last, 0, 4);  // the last entry links nowhere
        walk->lastEntryOffset = uint32_t(last - walk->data);
    }
    walk->length = uint32_t(position - walk->data);
    return 0;
}

}  // extern "C"
