// TRANSACTION2 subcommands of files, finds and volumes: their parameter
// blocks read within their counts, their answers written within the room.
#include "cstrans2.h"
#include "csfind.h"
#include "csinfo.h"
#include "cspaths.h"
#include "file_errors.h"
#include "share_path.h"
#include "cmpath.h"
#include "cmstring.h"
#include "csdispatch.h"

#include <cstring>

using cs::errDos;
using cs::errSrv;

namespace {

constexpr uint32_t kBadParameters = 0xC000000Du;

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

struct Caller {
    uint16_t tid, uid;
    bool unicode;
    CSUser *user;
    CSShare *share;
};

Caller callerOf(const CSTrans2Request *r)
{
    Caller c{};
    c.tid = le16(r->header + 24);
    c.uid = le16(r->header + 28);
    c.unicode = (le16(r->header + 10) & 0x8000) != 0;
    c.user = csGetUserByUid(c.uid);
    c.share = static_cast<CSShare *>(csGetShareByUidTid(c.uid, c.tid));
    return c;
}

uint32_t userAndShare(const Caller &c)
{
    if (!c.user)
        return csErrorReturn(0xC000000Du, errSrv(91));
    if (!c.share)
        return csErrorReturn(0xC000000Du, errSrv(5));
    return 0;
}

// The caller of a query, or the status that refuses it: no right to read the
// share, no user or tree, or fewer parameter bytes than least.
uint32_t queryingCaller(const CSTrans2Request *r, uint32_t least, Caller &c)
{
    c = callerOf(r);
    if (uint32_t refusal = csCanReadShare(c.tid))
        return refusal;
    if (uint32_t status = userAndShare(c))
        return status;
    if (r->parameterCount < least)
        return csErrorReturn(kBadParameters, errDos(87));
    return 0;
}

// The name of the parameter block from at to its end or terminator, as a
// local path under the share.
bool nameAt(const CSTrans2Request *r, uint32_t at, const Caller &c, bool wildcards, CMWchar *path)
{
    CMWchar wide[CM_PATH_BUFFER + 1];
    char narrow[CM_PATH_BUFFER + 1];
    uint32_t n = 0;
    const uint8_t *p = r->parameters;
    uint32_t end = r->parameterCount;
    if (c.unicode) {
        for (uint32_t i = at; i + 1 < end; i += 2) {
            CMWchar ch = CMWchar(le16(p + i));
            if (!ch)
                break;
            if (n >= CM_PATH_BUFFER)
                return false;
            wide[n++] = ch;
        }
        wide[n] = 0;
    } else {
        for (uint32_t i = at; i < end && p[i]; ++i) {
            if (n >= CM_PATH_BUFFER)
                return false;
            narrow[n++] = char(p[i]);
        }
        narrow[n] = 0;
    }
    const void *name = c.unicode ? static_cast<const void *>(wide) : static_cast<const void *>(narrow);
    return cs::shareLocalPath(path, c.share, name, c.unicode ? 1 : 0, wildcards ? 1 : 0) != nullptr;
}

// Copies the name out as the finds take it: wire text with a terminator.
bool wireName(const CSTrans2Request *r, uint32_t at, bool unicode, CMWchar *wide, char *narrow)
{
    uint32_t n = 0;
    const uint8_t *p = r->parameters;
    for (uint32_t i = at; unicode ? i + 1 < r->parameterCount : i < r->parameterCount; i += unicode ? 2 : 1) {
        CMWchar ch = unicode ? CMWchar(le16(p + i)) : CMWchar(p[i]);
        if (!ch)
            break;
        if (n >= CM_PATH_BUFFER)
            return false;
        if (unicode)
            wide[n] = ch;
        else
            narrow[n] = char(ch);
        ++n;
    }
    wide[unicode ? n : 0] = 0;
    narrow[unicode ? 0 : n] = 0;
    return true;
}

void answerQuery(CSTrans2Request *r, const CSQueryContext &q)
{
    r->outParameterCount = q.parameterCount;
    r->outData = q.data;
    r->outDataCount = q.dataCount;
}

CSQueryContext queryOf(CSTrans2Request *r)
{
    CSQueryContext q{};
    q.header = r->header;
    q.parameters = r->outParameters;
    q.room = r->room;
    return q;
}

// Set answers: the EA error offset for the NT levels, no data.
uint32_t answerSet(CSTrans2Request *r, uint32_t level, bool always)
{
    bool parameters = always || level >= 0x101;
    if (parameters && r->room < 2)
        return csErrorReturn(0xC0000023u, errSrv(1));
    if (parameters)
        put16(r->outParameters, 0);
    r->outParameterCount = parameters ? 2 : 0;
    uint32_t at = r->outParameterCount;
    at += at & 1;
    r->outData = r->outParameters + (at <= r->room ? at : r->room);
    r->outDataCount = 0;
    return 0;
}

// Entries start 4-aligned behind the answer's parameters.
uint32_t findData(CSTrans2Request *r, uint32_t parameterBytes, uint8_t **data, uint32_t *room)
{
    uint32_t start = (parameterBytes + 3u) & ~3u;
    if (start > r->room)
        return csErrorReturn(0xC0000023u, errSrv(1));
    *data = r->outParameters + start;
    *room = r->room - start;
    if (*room > r->maxDataCount)
        *room = r->maxDataCount;
    return 0;
}

}  // namespace

extern "C" {

uint32_t csTrans2QueryFileInformation(CSTrans2Request *r)
{
    Caller c{};
    if (uint32_t status = queryingCaller(r, 4, c))
        return status;
    CSFile *file = csGetFileByFid(le16(r->parameters), c.tid, c.uid);
    if (!file)
        return csErrorReturn(0xC0000008u, errDos(6));
    CSName *name = csGetNameByNid(file->nid);
    if (!name || name->deleteOnClose)
        return csErrorReturn(0xC000000Fu, errDos(2));
    const CMWchar *path = csGetFileName(file->fid);
    if (!path)
        return csErrorReturn(0xC0000001u, errSrv(1));
    CSQueryContext q = queryOf(r);
    uint32_t status = csQueryFileInformationByName(file, path, cmWStrlen(c.share->path),
                                                   le16(r->parameters + 2), c.unicode, r->room, &q);
    if (status == 0)
        answerQuery(r, q);
    return status;
}

uint32_t csTrans2QueryPathInformation(CSTrans2Request *r)
{
    Caller c{};
    if (uint32_t status = queryingCaller(r, 6, c))
        return status;
    if (uint32_t refusal = cs::refuseWithoutFolder(c.share))
        return refusal;
    CMWchar path[CM_PATH_BUFFER];
    if (!nameAt(r, 6, c, false, path))
        return csErrorReturn(0xC0000033u, errDos(123));
    uint32_t rootLength = cmWStrlen(c.share->path);
    if (!csCheckPathAndFile(c.share, path, rootLength, c.user->compatibility[0]))
        return csErrorReturn(0xC0000034u, errDos(2));
    if (csFileMarkedForDeletion(path))
        return csErrorReturn(0xC0000056u, errDos(12));
    CSQueryContext q = queryOf(r);
    uint32_t status =
        csQueryFileInformationByName(nullptr, path, rootLength, le16(r->parameters), c.unicode, r->room, &q);
    if (status == 0)
        answerQuery(r, q);
    return status;
}

uint32_t csTrans2QueryFsInformation(CSTrans2Request *r)
{
    Caller c{};
    if (uint32_t status = queryingCaller(r, 2, c))
        return status;
    CSQueryContext q = queryOf(r);
    uint32_t status = csQueryFsInformation(c.share, le16(r->parameters), c.unicode, &q);
    if (status == 0)
        answerQuery(r, q);
    return status;
}

uint32_t csTrans2SetFileInformation(CSTrans2Request *r)
{
    Caller c = callerOf(r);
    if (r->parameterCount < 4)
        return csErrorReturn(kBadParameters, errDos(87));
    CSFile *file = csGetFileByFid(le16(r->parameters), c.tid, c.uid);
    if (!file)
        return csErrorReturn(0xC0000008u, errDos(6));
    const CMWchar *name = csGetFileName(file->fid);
    if (!name)
        return csErrorReturn(0xC0000001u, errSrv(1));
    if (uint32_t refusal = csCanWriteShare(c.tid))
        return refusal;
    CMWchar path[CS_NAME_PATH_UNITS];
    cmWStrncpy(path, name, CS_NAME_PATH_UNITS - 1);
    path[CS_NAME_PATH_UNITS - 1] = 0;
    uint32_t level = le16(r->parameters + 2);
    CSSetRequest set{c.uid, c.tid, path, level, r->data, r->dataCount};
    if (uint32_t status = csSetFileInformationByName(file, &set))
        return status;
    return answerSet(r, level, false);
}

uint32_t csTrans2SetPathInformation(CSTrans2Request *r)
{
    Caller c = callerOf(r);
    if (uint32_t status = userAndShare(c))
        return status;
    if (uint32_t refusal = cs::refuseWithoutFolder(c.share))
        return refusal;
    if (r->parameterCount < 6)
        return csErrorReturn(kBadParameters, errDos(87));
    CMWchar path[CM_PATH_BUFFER];
    if (!nameAt(r, 6, c, false, path))
        return csErrorReturn(0xC0000033u, errDos(123));
    // Confined like every other name: "..\.." must not reach above the share.
    if (!csCheckPathAndFile(c.share, path, cmWStrlen(c.share->path), c.user->compatibility[0]))
        return csErrorReturn(0xC0000034u, errDos(2));
    if (uint32_t refusal = csCanWriteShare(c.tid))
        return refusal;
    if (csFileMarkedForDeletion(path))
        return csErrorReturn(0xC000000Fu, errDos(2));
    uint32_t level = le16(r->parameters);
    CSSetRequest set{c.uid, c.tid, path, level, r->data, r->dataCount};
    if (uint32_t status = csSetFileInformationByName(nullptr, &set))
        return status;
    return answerSet(r, level, true);
}

uint32_t csTrans2FindFirst(CSTrans2Request *r)
{
    Caller c = callerOf(r);
    if (r->parameterCount < 12)
        return csErrorReturn(kBadParameters, errDos(87));
    const uint8_t *p = r->parameters;
    CMWchar wide[CM_PATH_BUFFER + 1];
    char narrow[CM_PATH_BUFFER + 1];
    if (!wireName(r, 12, c.unicode, wide, narrow))
        return csErrorReturn(0xC0000033u, errDos(123));
    uint8_t *data;
    uint32_t room;
    if (uint32_t status = findData(r, 10, &data, &room))
        return status;
    CSFindResult result;
    const void *name = c.unicode ? static_cast<const void *>(wide) : static_cast<const void *>(narrow);
    uint32_t status = csFindFirst(c.tid, c.uid, le16(p), le16(p + 2), le16(p + 4), le16(p + 6), name,
                                  c.unicode, data, room, &result);
    if (status)
        return status;
    uint8_t *out = r->outParameters;
    put16(out, result.sid);
    put16(out + 2, result.count);
    put16(out + 4, result.endOfSearch);
    put16(out + 6, 0);
    put16(out + 8, result.lastNameOffset);
    r->outParameterCount = 10;
    r->outData = data;
    r->outDataCount = result.length;
    return 0;
}

uint32_t csTrans2FindNext(CSTrans2Request *r)
{
    Caller c = callerOf(r);
    if (r->parameterCount < 12)
        return csErrorReturn(kBadParameters, errDos(87));
    const uint8_t *p = r->parameters;
    uint8_t *data;
    uint32_t room;
    if (uint32_t status = findData(r, 8, &data, &room))
        return status;
    CSFindResult result;
    // The name to resume after, widened one character to one when 8-bit.
    CMWchar wide[CM_PATH_BUFFER + 1];
    char narrow[CM_PATH_BUFFER + 1];
    if (!wireName(r, 12, c.unicode, wide, narrow))
        return csErrorReturn(0xC0000033u, errDos(123));
    if (!c.unicode) {
        uint32_t i = 0;
        for (; narrow[i]; ++i)
            wide[i] = uint8_t(narrow[i]);
        wide[i] = 0;
    }
    uint32_t status = csFindNext(c.tid, c.uid, le16(p), le16(p + 2), le16(p + 4), le16(p + 10), wide,
                                 c.unicode, data, room, &result);
    if (status)
        return status;
    uint8_t *out = r->outParameters;
    put16(out, result.count);
    put16(out + 2, result.endOfSearch);
    put16(out + 4, 0);
    put16(out + 6, result.lastNameOffset);
    r->outParameterCount = 8;
    r->outData = data;
    r->outDataCount = result.length;
    return 0;
}

}  // extern "C"
