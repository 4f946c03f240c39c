// Directory listings over a search: SMB2 QUERY_DIRECTORY behind its
// header, FIND_FIRST2 and FIND_NEXT2 behind their transaction, and the
// SMB1 commands FIND_CLOSE2 and SEARCH.
#include "cscommands.h"
#include "csfind.h"
#include "cspaths.h"
#include "file_errors.h"
#include "share_path.h"
#include "smb1_block.h"
#include "cmpath.h"
#include "cmstring.h"
#include "csdispatch.h"

#include <cstring>

using cs::errDos;
using cs::errSrv;

namespace {

constexpr uint8_t kRestartScans = 0x01, kReturnSingleEntry = 0x02, kReopen = 0x10;
constexpr uint16_t kCloseAfterRequest = 0x01, kCloseAtEnd = 0x02, kResumeKeys = 0x04, kContinue = 0x08;
constexpr uint32_t kSearchAnswerLimit = 65696;
constexpr uint16_t kVolume = 0x08;

uint32_t caseSensitiveOf(uint16_t uid)
{
    const CSUser *user = csGetUserByUid(uid);
    return user ? user->compatibility[0] : 0;
}

// A new walk of the search over path.
bool restart(CSSearch *search, const CMWchar *path)
{
    search->entryPending = 0;
    search->entryIndex = 0;
    search->started = 0;
    return csEnumerateSourceName(&search->enumeration, path, search->attributes) == 0;
}

// The search's walk from its first name again, over the same path.
bool rewind(CSSearch *search)
{
    CMWchar path[CS_ENUM_PATH_UNITS];
    csCancelEnumeration(&search->enumeration);
    cmWStrncpy(path, search->enumeration.path, CS_ENUM_PATH_UNITS - 1);
    path[CS_ENUM_PATH_UNITS - 1] = 0;
    return restart(search, path);
}

// Where a client resumes from a name of its own: the walk already stands
// right after it (the last name given), or starts again and passes every
// name up to it. A name no longer listed starts the listing from the top,
// so nothing is missed.
bool resumeAfter(CSSearch *search, const CMWchar *name)
{
    CSEnumeration *e = &search->enumeration;
    auto lastOf = [](const CMWchar *path) {
        const CMWchar *slash = cmWStrrchr(path, '/');
        return slash ? slash + 1 : path;
    };
    if (e->state && search->entryIndex && csFindNameHash(name) == search->lastNameHash)
        return true;
    if (!rewind(search))
        return false;
    while (const CMWchar *seen = csNextSourceName(e))
        if (cmWStricmp(lastOf(seen), name) == 0)
            return true;
    return rewind(search);
}

void fillResult(CSFindResult *result, const CSFindWalk &walk, uint16_t sid)
{
    result->sid = sid;
    result->count = uint16_t(walk.count);
    result->endOfSearch = walk.endOfSearch ? 1 : 0;
    result->lastNameOffset = uint16_t(walk.lastEntryOffset);
    result->length = walk.length;
}

// The walk of one FIND_FIRST2 or FIND_NEXT2 answer and the search's end.
uint32_t findAnswer(CSSearch *search, uint16_t searchCount, uint16_t level, uint16_t flags, uint32_t unicode,
                    uint8_t *data, uint32_t room, CSFindResult *result, bool first)
{
    CSFindWalk walk{};
    walk.search = search;
    walk.level = level;
    walk.unicode = unicode;
    walk.filter = 1;
    // A SearchCount of 0 asks for one entry, as clients expect; the walk
    // would take 0 as no limit at all.
    walk.maxEntries = searchCount ? searchCount : 1;
    walk.data = data;
    walk.room = room;
    uint16_t sid = search->sid;
    if (uint32_t status = csFindWalk(&walk)) {
        csReleaseSearch(sid);
        return status;
    }
    if (first && walk.count == 0) {
        csReleaseSearch(sid);
        return csErrorReturn(0xC000000Fu, errDos(2));
    }
    fillResult(result, walk, sid);
    if ((flags & kCloseAfterRequest) || ((flags & kCloseAtEnd) && walk.endOfSearch)) {
        csReleaseSearch(sid);
        result->lastNameOffset = 0;
    }
    return 0;
}

}  // namespace

extern "C" {

uint32_t csQueryDirectoryEntries(CSFile *file, uint16_t tid, uint16_t uid, uint8_t informationClass,
                                 uint8_t flags, const CMWchar *pattern, uint32_t patternUnits, uint8_t *out,
                                 uint32_t room, uint32_t *length)
{
    *length = 0;
    if (patternUnits == 0)
        return 0xC000000Du;
    if (uint32_t refusal = csCanReadShare(tid))
        return refusal;
    const CSShare *share = static_cast<const CSShare *>(csGetShareByUidTid(uid, tid));
    if (!share)
        return 0xC000000Du;
    if (!file)
        return 0xC0000128u;
    const CMWchar *directory = csGetFileName(file->fid);
    if (!file->isDirectory || !directory)
        return 0xC00000BBu;
    // The pattern under the handle's folder.
    CMWchar wire[CM_PATH_BUFFER + 1];
    uint32_t directoryUnits = cmWStrlen(directory);
    if (patternUnits >= CM_PATH_BUFFER)
        return 0xC0000033u;
    std::memcpy(wire, pattern, patternUnits * sizeof(CMWchar));
    wire[patternUnits] = 0;
    CMWchar path[CM_PATH_BUFFER];
    if (directoryUnits >= CM_PATH_BUFFER || !cmCifsNtohFilename(path, directory, wire, 1, 1))
        return 0xC0000033u;
    if (!csCheckPath(share, path, cmWStrlen(share->path), caseSensitiveOf(uid)))
        return 0xC000003Au;

    CSSearch *search = file->sid != CS_FREE_ID ? csGetSearchBySid(file->sid) : nullptr;
    bool fresh = false;
    if (!search) {
        const CSTree *tree = csGetTreeByTid(tid);
        search = tree ? csGetNewSearch(tree) : nullptr;
        if (!search)
            return 0xC0000001u;
        file->sid = search->sid;
        fresh = true;
    }
    if (fresh || (flags & (kRestartScans | kReopen))) {
        if (!restart(search, path)) {
            csReleaseSearch(search->sid);
            file->sid = CS_FREE_ID;
            return 0xC0000033u;
        }
    }
    bool continued = search->started != 0;
    CSFindWalk walk{};
    walk.search = search;
    walk.level = 1000u + informationClass;
    walk.unicode = 1;
    walk.single = (flags & kReturnSingleEntry) ? 1 : 0;
    walk.data = out;
    walk.room = room;
    uint32_t status = csFindWalk(&walk);
    auto drop = [&](uint32_t answer) {
        csReleaseSearch(search->sid);
        file->sid = CS_FREE_ID;
        return answer;
    };
    if (status)
        return drop(status);
    if (walk.count == 0)
        return drop(walk.endOfSearch ? (continued ? 0x80000006u : 0xC000000Fu) : 0xC0000023u);
    search->started = 1;
    *length = walk.length;
    return 0;
}

uint32_t csFindFirst(uint16_t tid, uint16_t uid, uint16_t attributes, uint16_t searchCount, uint16_t flags,
                     uint16_t level, const void *fileName, uint32_t unicode, uint8_t *data, uint32_t room,
                     CSFindResult *result)
{
    *result = CSFindResult{};
    if (uint32_t refusal = csCanReadShare(tid))
        return refusal;
    if (!csGetUserByUid(uid))
        return csErrorReturn(0xC000000Du, errSrv(91));
    const CSShare *share = static_cast<const CSShare *>(csGetShareByUidTid(uid, tid));
    if (!share)
        return csErrorReturn(0xC000000Du, errSrv(5));
    if (uint32_t refusal = cs::refuseWithoutFolder(share))
        return refusal;
    static const CMWchar kAll[] = {'*', 0};
    static const char kAllNarrow[] = "*";
    bool empty = !fileName || (unicode ? *static_cast<const CMWchar *>(fileName) == 0
                                       : *static_cast<const char *>(fileName) == 0);
    if (empty)
        fileName = unicode ? static_cast<const void *>(kAll) : static_cast<const void *>(kAllNarrow);
    CMWchar path[CM_PATH_BUFFER];
    if (!cs::shareLocalPath(path, share, fileName, unicode ? 1 : 0, 1))
        return csErrorReturn(0xC0000033u, errDos(123));
    if (!csCheckPath(share, path, cmWStrlen(share->path), caseSensitiveOf(uid)))
        return csErrorReturn(0xC000003Au, errDos(3));
    const CSTree *tree = csGetTreeByTid(tid);
    CSSearch *search = tree ? csGetNewSearch(tree) : nullptr;
    if (!search)
        return csErrorReturn(0xC0000001u, errSrv(1));
    search->attributes = attributes;
    search->resumeKeys = (flags & kResumeKeys) ? 1 : 0;
    if (!restart(search, path)) {
        csReleaseSearch(search->sid);
        return csErrorReturn(0xC0000033u, errDos(123));
    }
    return findAnswer(search, searchCount, level, flags, unicode, data, room, result, true);
}

uint32_t csFindNext(uint16_t tid, uint16_t uid, uint16_t sid, uint16_t searchCount, uint16_t level,
                    uint16_t flags, const CMWchar *resumeName, uint32_t unicode, uint8_t *data, uint32_t room,
                    CSFindResult *result)
{
    *result = CSFindResult{};
    if (!csGetUserByUid(uid))
        return csErrorReturn(0xC000000Du, errSrv(91));
    if (!csGetShareByUidTid(uid, tid))
        return csErrorReturn(0xC000000Du, errSrv(5));
    CSSearch *search = csGetSearchBySid(sid);
    if (!search || search->tid != tid)
        return csErrorReturn(0xC0000008u, errDos(6));
    if (flags & kResumeKeys)
        search->resumeKeys = 1;
    if (!(flags & kContinue) && resumeName && *resumeName && !resumeAfter(search, resumeName)) {
        csReleaseSearch(sid);
        return csErrorReturn(0xC0000033u, errDos(123));
    }
    return findAnswer(search, searchCount, level, flags, unicode, data, room, result, false);
}

uint32_t csComFindClose2(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 3))
        return status;
    cs::Smb1Block b = cs::smb1Block(params, response);
    if (b.wordCount != 1 || b.byteCount != 0)
        return csErrorReturn(0xC0000001u, errSrv(1));
    CSSearch *search = csGetSearchBySid(b.word(0));
    if (!search || search->tid != b.tid)
        return csErrorReturn(0xC0000008u, errDos(6));
    csReleaseSearch(search->sid);
    return cs::smb1EmptyAnswer(response, position);
}

uint32_t csComSearch(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    cs::Smb1Block b = cs::smb1Block(params, response);
    if (b.wordCount != 2 || b.byteCount < 5 || b.bytes[0] != 4)
        return csErrorReturn(0xC0000001u, errSrv(1));
    if (!csGetUserByUid(b.uid))
        return csErrorReturn(0xC000000Du, errSrv(91));
    CSShare *share = static_cast<CSShare *>(csGetShareByUidTid(b.uid, b.tid));
    if (!share)
        return csErrorReturn(0xC000000Du, errSrv(5));
    if (uint32_t refusal = cs::refuseWithoutFolder(share))
        return refusal;
    uint16_t maxCount = b.word(0), attributes = b.word(1);

    uint32_t at = 0;
    CMWchar path[CM_PATH_BUFFER];
    // The pattern comes in the request's text form; only the answer is 8-bit.
    bool named = cs::smb1Path(b, &at, 4, share, true, path);
    // BufferFormat 5, ResumeKeyLength and the key follow the name.
    uint16_t keyLength = 0;
    const uint8_t *key = nullptr;
    if (at + 3 <= b.byteCount && b.bytes[at] == 5) {
        keyLength = uint16_t(b.bytes[at + 1] | b.bytes[at + 2] << 8);
        if (keyLength && (keyLength < 21 || at + 3u + keyLength > b.byteCount))
            return csErrorReturn(0xC000000Du, errDos(87));
        key = b.bytes + at + 3;
    }

    // WordCount, Count, ByteCount, BufferFormat and DataLength, then the
    // entries; the ByteCount bounds them too.
    uint8_t *start = *position;
    if (uint32_t status = csDispatchCheckSpace(response, start, 8))
        return status;
    uint32_t used = uint32_t(start - response) + 8;
    uint32_t room = used < kSearchAnswerLimit ? kSearchAnswerLimit - used : 0;
    uint32_t limit = room / CS_SEARCH_ENTRY_SIZE;
    if (limit > (0xFFFFu - 3) / CS_SEARCH_ENTRY_SIZE)
        limit = (0xFFFFu - 3) / CS_SEARCH_ENTRY_SIZE;
    if (maxCount < limit)
        limit = maxCount;
    uint8_t *entries = start + 8;
    uint32_t count = 0;

    response[11] = uint8_t(response[11] & 0x7F);  // answered in 8-bit text
    if (attributes & kVolume) {
        if (limit == 0)
            return csErrorReturn(0xC0000023u, errSrv(1));
        csFillSearchEntry(share->path, entries);
        count = 1;
    } else {
        CSSearch *search;
        if (keyLength) {
            search = csGetSearchBySid(uint16_t(key[12] | key[13] << 8));
            if (!search || search->tid != b.tid)
                return csErrorReturn(0xC0000008u, errDos(6));
        } else {
            if (!named)
                return csErrorReturn(0xC0000033u, errDos(123));
            if (!csCheckPath(share, path, cmWStrlen(share->path), caseSensitiveOf(b.uid)))
                return csErrorReturn(0xC000003Au, errDos(3));
            const CSTree *tree = csGetTreeByTid(b.tid);
            search = tree ? csGetNewSearch(tree) : nullptr;
            if (!search)
                return csErrorReturn(0xC0000001u, errSrv(1));
            search->attributes = attributes;
            if (!restart(search, path)) {
                csReleaseSearch(search->sid);
                return csErrorReturn(0xC0000033u, errDos(123));
            }
        }
        // A name SEARCH lists: not one ending in '.', and one the attributes let through.
        auto listed = [attributes](const CMWchar *name, SYFileInformation &info) {
            uint32_t units = cmWStrlen(name);
            if (units && name[units - 1] == '.')
                return false;
            if (syGetFileInformationByName(name, &info) != 0)
                info = SYFileInformation{};
            return csMatchFileAttributes(attributes, info.attributes) &&
                   (!(info.attributes & SY_ATTR_DIRECTORY) || (attributes & SY_ATTR_DIRECTORY));
        };
        // A resume key of an earlier entry than the last one given: the walk
        // starts again and passes the entries up to that one.
        if (keyLength) {
            const uint16_t after = uint16_t(key[14] | key[15] << 8);
            if (after != search->entryIndex) {
                if (!rewind(search)) {
                    csReleaseSearch(search->sid);
                    return csErrorReturn(0xC0000033u, errDos(123));
                }
                SYFileInformation info;
                while (search->entryIndex < after) {
                    const CMWchar *name = csNextSourceName(&search->enumeration);
                    if (!name)
                        break;
                    if (listed(name, info))
                        ++search->entryIndex;
                }
            }
        }
        // The pattern as the resume key shows it: 11 blank-padded characters.
        uint8_t pattern[11];
        std::memset(pattern, ' ', sizeof pattern);
        const CMWchar *p = search->enumeration.pattern;
        for (uint32_t i = 0; p && i < sizeof pattern && p[i]; ++i)
            pattern[i] = p[i] < 0x100 ? uint8_t(p[i]) : uint8_t('?');
        bool ended = false;
        while (count < limit) {
            const CMWchar *name = csNextSourceName(&search->enumeration);
            if (!name) {
                ended = true;
                break;
            }
            SYFileInformation info;
            if (!listed(name, info))
                continue;
            uint8_t *entry = entries + count * CS_SEARCH_ENTRY_SIZE;
            csFillSearchEntry(name, entry);
            std::memcpy(entry + 1, pattern, sizeof pattern);
            ++search->entryIndex;
            entry[12] = uint8_t(search->sid);
            entry[13] = uint8_t(search->sid >> 8);
            entry[14] = uint8_t(search->entryIndex);
            entry[15] = uint8_t(search->entryIndex >> 8);
            ++count;
        }
        // A search cut by its count stays for the resume key that continues it.
        if (ended)
            csReleaseSearch(search->sid);
        // Only a fresh search that matches nothing is an error: a client
        // reading a folder to its end stops at a continuation of Count 0.
        if (count == 0 && !keyLength)
            return csErrorReturn(0x80000006u, errDos(18));
    }
    uint32_t dataLength = count * CS_SEARCH_ENTRY_SIZE;
    start[0] = 1;
    start[1] = uint8_t(count);
    start[2] = uint8_t(count >> 8);
    start[3] = uint8_t((dataLength + 3) & 0xFF);
    start[4] = uint8_t((dataLength + 3) >> 8);
    start[5] = 5;
    start[6] = uint8_t(dataLength);
    start[7] = uint8_t(dataLength >> 8);
    *position = entries + dataLength;
    return 0;
}

}  // extern "C"
