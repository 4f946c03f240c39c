// SMB1 opens: NT_CREATE_ANDX on the common create processing, and OPEN_ANDX,
// OPEN, CREATE, CREATE_NEW, CREATE_DIRECTORY, OPEN_PRINT_FILE with their
// transaction forms TRANS2_OPEN2, TRANS2_CREATE_DIRECTORY and
// NT_TRANSACT_CREATE on its workers.
#include "smb1_answer.h"

#include "cmpath.h"
#include "cmstring.h"
#include "cmtime.h"
#include "cscommands.h"
#include "cscreate.h"
#include "cspaths.h"
#include "csservices.h"
#include "cstrans.h"
#include "cstrans2.h"
#include "syerror.h"

#include <cstring>
#include <initializer_list>

using namespace cs::smb1;

namespace {

constexpr Error kNoShare{0xC000000Du, 0x00050002u};      // ERRSRV/5
constexpr Error kBadName{0xC0000033u, 0x007B0001u};      // ERRDOS/123
constexpr Error kNoPath{0xC000003Au, 0x00030001u};       // ERRDOS/3
constexpr Error kExists{0xC0000035u, 0x00500001u};       // ERRDOS/80
constexpr Error kNoFile{0xC0000034u, 0x00020001u};       // ERRDOS/2
constexpr Error kIsDirectory{0xC00000BAu, 0x00050001u};  // ERRDOS/5
constexpr Error kDenied{0xC0000022u, 0x00050001u};       // ERRDOS/5
constexpr uint8_t kBufferFormatAscii = 0x04;
constexpr uint32_t kNotifyAdded = 1, kFilterDirectoryName = 2;
constexpr uint16_t kOpenResultFlag = 0x8000;
// Oplocks are granted while fewer than this many files and names are open.
constexpr uint32_t kOplockFiles = 241;
constexpr uint32_t kFlagsBatch = 0x04;
constexpr uint32_t kFlagsExtended = 0x10;
constexpr uint32_t kDeleteAccess = 0x00010000;

// Who asks and on which share: the header's user and tree.
struct Caller {
    CSUser *user = nullptr;
    CSShare *share = nullptr;
    uint16_t tid = 0, uid = 0;
    uint32_t pid = 0;
    bool wide = false;
};

uint32_t callerOf(Caller &c, bool shareFirst = false)
{
    c.tid = headerTid();
    c.uid = headerUid();
    c.pid = headerPid();
    c.wide = unicode();
    c.user = csGetUserByUid(c.uid);
    c.share = static_cast<CSShare *>(csGetShareByUidTid(c.uid, c.tid));
    if (shareFirst && !c.share)
        return csErrorReturn(0, kNoShare.dos);
    if (!c.user)
        return kNoUser();
    if (!c.share)
        return kNoShare();
    return 0;
}

uint32_t caseSensitive(const Caller &c) { return c.user ? c.user->compatibility[0] : 0; }
uint32_t rootLength(const Caller &c) { return cmWStrlen(c.share->path); }

// A name of the request up to its terminator or the end of its block (a
// name may run to the end), made a local path under the share.
bool localPath(const Caller &c, const uint8_t *p, const uint8_t *end, bool wide, CMWchar *path)
{
    CMWchar name[CM_PATH_BUFFER + 1];
    if (wide && (fromHeader(p) & 1))
        ++p;
    uint32_t n = 0;
    while (p + (wide ? 2 : 1) <= end) {
        const CMWchar ch = wide ? u16(p) : *p;
        p += wide ? 2 : 1;
        if (ch == 0)
            break;
        // Control characters name nothing a client may create.
        if (n >= CM_PATH_BUFFER || ch < 0x20)
            return false;
        name[n++] = ch;
    }
    name[n] = 0;
    if (wide)
        return cmCifsNtohFilename(path, c.share->path, name, 1, 0) != nullptr;
    char narrow[CM_PATH_BUFFER + 1];
    for (uint32_t i = 0; i <= n; ++i)
        narrow[i] = char(name[i]);
    return cmCifsNtohFilename(path, c.share->path, narrow, 0, 0) != nullptr;
}

// The request's name as a local path whose folder is in the share: what
// every named open checks before it looks at the name itself.
uint32_t folderPath(const Caller &c, const uint8_t *name, const uint8_t *end, CMWchar *path)
{
    if (!localPath(c, name, end, c.wide, path))
        return kBadName();
    return csCheckPath(c.share, path, rootLength(c), caseSensitive(c)) ? 0 : kNoPath();
}

// A core command's name: the buffer format 0x04 first; its folder checked
// unless the caller checks the whole path itself.
uint32_t coreName(const Caller &c, const Block &block, CMWchar *path, bool checkFolder = true)
{
    if (block.byteCount() < 2 || block.bytes()[0] != kBufferFormatAscii)
        return kGeneral();
    if (checkFolder)
        return folderPath(c, block.bytes() + 1, block.bytesEnd(), path);
    return localPath(c, block.bytes() + 1, block.bytesEnd(), c.wide, path) ? 0 : kBadName();
}

// The first steps of the core commands that name a file: room for the
// answer, the caller, the word count, then the name.
uint32_t coreStart(const Block &block, uint8_t *response, uint8_t *position, uint32_t room, uint8_t words, Caller &c,
                   CMWchar *path, bool checkFolder = true)
{
    if (uint32_t status = csDispatchCheckSpace(response, position, room))
        return status;
    if (uint32_t status = callerOf(c))
        return status;
    if (block.words() != words)
        return kGeneral();
    return coreName(c, block, path, checkFolder);
}

void own(CSFile *file, const Caller &c)
{
    file->tid = c.tid;
    file->uid = c.uid;
    file->pid = c.pid;
}

uint32_t release(CSFile *file, uint32_t status)
{
    csReleaseFile(file->fid);
    return status;
}

uint64_t value(const CMUint64 &v) { return uint64_t(v.high) << 32 | v.low; }

CMUint64 fromSeconds(uint32_t seconds)
{
    CMUint64 ms{};
    cmTimeConvertSecToMSec(&ms, seconds);
    return ms;
}

bool exists(const Caller &c, CMWchar *path) { return csCheckFile(c.share, path, caseSensitive(c)) != 0; }

// The four FILETIMEs of a create answer.
void fileTimes(Reply &r, const SYFileInformation &info, const CSFile *file)
{
    uint8_t times[32] = {};
    if (file && !file->pipe)
        csWriteFileTimes(&info, csGetNameByNid(file->nid), times);
    r.bytes(times, sizeof times);
}

// Open or create by a DOS open mode (OPEN_ANDX, TRANS2_OPEN2): the action,
// and the access granted.
struct DosOpen {
    CSFile *file = nullptr;
    uint16_t action = 0;
    uint16_t granted = 0;
};

// Truncation of an open without write access goes through a writing
// descriptor of its own, as the share's rights allow; the handle keeps the
// access it was granted.
uint32_t truncateOpened(const Caller &c, CMWchar *path, const DosOpen &o)
{
    const unsigned grant = o.granted & CS_MODE_ACCESS_MASK;
    if (grant == CS_MODE_WRITE || grant == CS_MODE_READ_WRITE)
        return syTruncateFile(o.file->fd, 0, 0) == 0 ? 0 : csErrorGetLast();
    if (uint32_t refusal = csCanWriteShare(c.tid))
        return refusal;
    const int fd = syOpenFileForWrite(path);
    if (fd < 0)
        return csErrorGetLast();
    const uint32_t status = syTruncateFile(fd, 0, 0) == 0 ? 0 : csErrorGetLast();
    syCloseFile(fd);
    return status;
}

uint32_t openByDosMode(const Caller &c, CMWchar *path, uint16_t accessMode, uint16_t openMode, DosOpen &out,
                       bool refuseDirectory)
{
    if (exists(c, path)) {
        if ((openMode & 3) == 0)
            return kExists();
        SYFileInformation info{};
        if (csGetFileInformationByName(c.share, path, &info) != 0)
            return csErrorGetLast();
        if (refuseDirectory && (info.attributes & SY_ATTR_DIRECTORY))
            return kIsDirectory();
        const bool truncate = openMode & 2;
        if (truncate && (info.attributes & SY_ATTR_READONLY))
            return kDenied();
        if (uint32_t status = csOpenFile(path, c.tid, accessMode, &out.granted, &out.file))
            return status;
        if (truncate) {
            if (uint32_t status = truncateOpened(c, path, out))
                return release(out.file, status);
            out.action = 3;
        } else {
            out.action = 1;
        }
        return 0;
    }
    if (!(openMode & 0x10))
        return kNoFile();
    if (uint32_t status = csCreateFile(0, path, c.tid, accessMode, &out.file))
        return status;
    out.granted = 2;
    out.action = 2;
    return 0;
}

bool ntCreateChainable(uint8_t command)
{
    return command == 0x0A || command == 0x27 || command == 0x2E || command == kNoCommand;
}

// The path below an open directory: its name, '/', and the name without
// the share path.
bool belowRoot(const Caller &c, uint32_t rootFid, CMWchar *path)
{
    CSFile *root = csGetFileByFid(uint16_t(rootFid), c.tid, c.uid);
    if (!root || !root->isDirectory)
        return false;
    const CMWchar *base = csGetFileName(root->fid);
    if (!base)
        return false;
    const CMWchar *relative = path + rootLength(c);
    while (*relative == '/')
        ++relative;
    CMWchar joined[CM_PATH_BUFFER + 1];
    const uint32_t a = cmWStrlen(base), b = cmWStrlen(relative);
    if (a + 1 + b > CM_PATH_BUFFER)
        return false;
    std::memcpy(joined, base, a * sizeof(CMWchar));
    joined[a] = '/';
    std::memcpy(joined + a + 1, relative, (b + 1) * sizeof(CMWchar));
    std::memcpy(path, joined, (a + b + 2) * sizeof(CMWchar));
    return true;
}

// After a sharing violation a record of no access is taken on the open
// name and let go at once, the way a close of it passes. A full table
// is logged; the client still learns of the violation, never a warning
// without an answer's body.
uint32_t afterSharingViolation(const Caller &c, const CMWchar *path, uint32_t status)
{
    CSName *name = csGetNameByName(path);
    if (!name)
        return 0xC0000001u;
    const CSTree *tree = csGetTreeByTid(c.tid);
    CSFile *file = tree ? csGetNewFile(tree, name, 0) : nullptr;
    if (!file) {
        logError("SMB1:No more file slots err 0x%x", unsigned(status));
        return status;
    }
    file->pipe = 0;
    file->isPrintJob = 0;
    csReleaseFile(file->fid);
    return status;
}

}  // namespace

extern "C" {

uint32_t csComNtCreateAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    const uint32_t flags = block.words() == 24 ? block.dword(7) : 0;
    const bool extended = flags & kFlagsExtended;
    if (uint32_t status = csDispatchCheckSpace(response, *position, extended ? 103 : 71))
        return status;
    if (block.words() != 24 || block.byteCount() == 0 || !ntCreateChainable(block.andx()))
        return kGeneral();
    Caller c;
    if (uint32_t status = callerOf(c, true))
        return status;
    // The name is copied out of the byte block; nothing past it is touched.
    CMWchar path[CM_PATH_BUFFER + 1];
    if (!localPath(c, block.bytes(), block.bytesEnd(), c.wide, path))
        return kBadName();
    if (const uint32_t rootFid = block.dword(11))
        if (!belowRoot(c, rootFid, path))
            return kBadFid();

    // Dispositions go from supersede (0) to overwrite-if (5).
    if (block.dword(35) > CS_OVERWRITE_IF)
        return kInvalid();
    // Delete access is a write to the share, whatever else is asked.
    if (block.dword(15) & kDeleteAccess)
        if (uint32_t refusal = csCanWriteShare(c.tid))
            return refusal;

    CSCreateParameters p{};
    p.tid = c.tid;
    p.pid = c.pid;
    p.uid = c.uid;
    p.user = c.user;
    p.share = c.share;
    p.attributes = uint16_t(block.dword(27));
    p.unicode = c.wide;
    p.createOptions = block.dword(39);
    p.disposition = block.dword(35);
    p.desiredAccess = block.dword(15);
    p.shareAccess = block.dword(31);
    p.path = path;
    if (uint32_t status = csCreateCommonProcessing(&p))
        return status == 0xC0000043u && csDispatchIsNtError() ? afterSharingViolation(c, path, status) : status;
    CSFile *file = p.file;

    // Every open of a held file breaks the holder, whatever it asks for
    // itself: the holder's cached writes must reach the file first. Batch
    // goes to a batch request only, while the tables have room and a break
    // can reach the holder.
    uint8_t oplock = 0;
    if (!file->pipe && !file->isDirectory) {
        const int wait = csBreakCheck(&p);
        if (wait == 1) {
            file->pendingBreak[0] = 0;
            return CS_STATUS_LATE;
        }
        if (wait == 0 && (flags & kFlagsBatch) && csGetFilesCount() < kOplockFiles &&
            csGetUniqueFilesCount() < kOplockFiles)
            oplock = 2;
    }
    file->oplockLevel = oplock;
    file->oplockState = 0;

    const CSTree *tree = csGetTreeByTid(c.tid);
    const uint32_t maximal = tree ? tree->maximalAccess : CS_MAXIMAL_ACCESS;
    Reply r(response, *position);
    r.u8(extended ? 42 : 34);
    r.andx();
    r.u8(oplock);
    r.u16(file->fid);
    r.u32(p.action);
    fileTimes(r, p.information, file);
    if (file->pipe) {
        r.u32(0x80);
        r.u64(0x10060);
        r.u64(0);
        r.u16(2);
        r.u16(0x05FF);
    } else {
        r.u32(p.information.attributes);
        r.u64(value(p.information.allocationSize));
        r.u64(value(p.information.endOfFile));
        r.u16(0);
        r.u16(7);
    }
    r.u8(file->isDirectory ? 1 : 0);
    if (extended) {
        r.zeros(16 + 8);
        r.u32(maximal);
        r.u32(maximal);
    }
    r.u16(0);
    if (r.overrun())
        return release(file, kTooSmall());
    return r.finish(position);
}

uint32_t csComOpenAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 33))
        return status;
    const Block block{params};
    if (block.words() != 15 || block.byteCount() == 0 || !ntCreateChainable(block.andx()))
        return kGeneral();
    Caller c;
    if (uint32_t status = callerOf(c))
        return status;
    CMWchar path[CM_PATH_BUFFER + 1];
    if (uint32_t status = folderPath(c, block.bytes(), block.bytesEnd(), path))
        return status;
    const uint16_t flags = block.word(4), accessMode = block.word(6), searchAttributes = block.word(8);
    const uint16_t fileAttributes = block.word(10), openMode = block.word(16);
    const uint32_t creationTime = block.dword(12);

    DosOpen o;
    SYFileInformation info{};
    if (c.share->isPrinter) {
        if (csOpenPrintFileOnShare(path, c.share, c.tid, accessMode, &o.file, c.user))
            return kGeneral();
        o.action = 2;
    } else {
        if (uint32_t status = openByDosMode(c, path, accessMode, openMode, o, true))
            return status;
        if (o.action == 2) {
            // The new file's attributes, written by name.
            SYFileInformation created{};
            if (syGetFileInformationByName(path, &created) != 0)
                return release(o.file, kNoFile());
            created.attributes = fileAttributes | 0x20u;
            if (sySetFileInformation(path, -1, &created) != 0)
                return release(o.file, kNoFile());
        }
        if (c.user->compatibility[1])
            o.action |= kOpenResultFlag;
        if (csGetFileInformation(o.file, path, &info) != 0)
            return release(o.file, csErrorGetLast());
        if (!csMatchFileAttributes(searchAttributes, info.attributes))
            return release(o.file, kNoFile());
        // A created file takes the client's creation time, when it gave one.
        if ((o.action & 3) == 2 && creationTime != 0 && creationTime != 0xFFFFFFFFu) {
            const CMUint64 t = fromSeconds(creationTime);
            info.creationTime = info.lastWriteTime = info.lastAccessTime = t;
            info.lastChangeTime = CMUint64{0, 0};
            if (csSetFileInformation(o.file, path, &info) != 0)
                return release(o.file, kDenied());
            if (csGetFileInformation(o.file, path, &info) != 0)
                return release(o.file, csErrorGetLast());
        }
    }
    own(o.file, c);

    Reply r(response, *position);
    r.u8(15);
    r.andx();
    r.u16(o.file->fid);
    if (flags & 0x01) {
        r.u16(uint16_t(info.attributes & 0x3F));
        r.u32(cmTimeConvertMSecToSec(&info.lastChangeTime));
    } else {
        r.zeros(6);
    }
    r.u32(info.endOfFile.low);
    r.u16(o.file->isPrintJob ? 0 : o.granted);
    r.u16(0);
    r.u16(0);
    r.u16(o.action);
    r.zeros(6);
    r.u16(0);
    if (r.overrun())
        return release(o.file, kTooSmall());
    return r.finish(position);
}

uint32_t csComOpen(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Caller c;
    const Block block{params};
    CMWchar path[CM_PATH_BUFFER + 1];
    if (uint32_t status = coreStart(block, response, *position, 17, 2, c, path, false))
        return status;
    if (!csCheckPathAndFile(c.share, path, rootLength(c), caseSensitive(c)))
        return kNoFile();
    SYFileInformation info{};
    if (csGetFileInformationByName(c.share, path, &info) != 0)
        return csErrorGetLast();
    if (info.attributes & SY_ATTR_DIRECTORY)
        return kIsDirectory();
    CSFile *file = nullptr;
    uint16_t granted = 0;
    if (uint32_t status = csOpenFile(path, c.tid, block.word(0), &granted, &file))
        return status;
    if (csGetFileInformation(file, path, &info) != 0)
        return release(file, csErrorGetLast());
    own(file, c);
    uint16_t time = 0, date = 0;
    cmCifsTimeToSmbTime(info.lastChangeTime.low, info.lastChangeTime.high, &time, &date);
    Reply r(response, *position);
    r.u8(7);
    r.u16(file->fid);
    r.u16(uint16_t(info.attributes));
    r.u16(time);
    r.u16(date);
    r.u32(info.endOfFile.low);
    r.u16(granted);
    r.u16(0);
    if (r.overrun())
        return release(file, kTooSmall());
    return r.finish(position);
}

// CREATE (0x03) and CREATE_NEW (0x0F).
uint32_t csComCreate(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Caller c;
    const Block block{params};
    CMWchar path[CM_PATH_BUFFER + 1];
    if (uint32_t status = coreStart(block, response, *position, 5, 3, c, path))
        return status;
    const bool present = exists(c, path);
    if (requestHeader()[4] == 0x0F && present)
        return kExists();
    CSFile *file = nullptr;
    constexpr uint16_t kReadWriteDenyAll = 0x12;
    if (c.share->isPrinter) {
        if (csOpenPrintFileOnShare(path, c.share, c.tid, kReadWriteDenyAll, &file, c.user))
            return kGeneral();
    } else {
        // An existing file is opened as it is, not emptied.
        const uint32_t status = present ? csOpenFile(path, c.tid, kReadWriteDenyAll, nullptr, &file)
                                        : csCreateFile(0, path, c.tid, kReadWriteDenyAll, &file);
        if (status)
            return status;
        SYFileInformation info{};
        if (csGetFileInformation(file, path, &info) != 0)
            return release(file, csErrorGetLast());
        info.attributes = block.word(0) | 0x20u;
        info.lastChangeTime = CMUint64{0, 0};
        if (csSetFileInformation(file, path, &info) != 0)
            return release(file, kDenied());
    }
    own(file, c);
    Reply r(response, *position);
    r.u8(1);
    r.u16(file->fid);
    r.u16(0);
    if (r.overrun())
        return release(file, kTooSmall());
    return r.finish(position);
}

uint32_t csComCreateNew(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    return csComCreate(params, response, position);
}

uint32_t csComCreateDirectory(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    Caller c;
    const Block block{params};
    CMWchar path[CM_PATH_BUFFER + 1];
    if (uint32_t status = coreStart(block, response, *position, 3, 0, c, path))
        return status;
    if (exists(c, path))
        return csErrorReturn(0xC0000035u, 0x00B70001u);
    // Making a folder is writing the share.
    if (uint32_t refusal = csCanWriteShare(c.tid))
        return refusal;
    if (syCreateDirectory(path) != 0)
        return csErrorGetLast();
    csNotifyImmediatelly(path, kNotifyAdded, kFilterDirectoryName);
    Reply r(response, *position);
    r.zeros(3);
    return r.finish(position);
}

uint32_t csComOpenPrintFile(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 5))
        return status;
    const Block block{params};
    if (block.words() != 2 || block.byteCount() < 2 || block.bytes()[0] != kBufferFormatAscii)
        return kGeneral();
    Caller c;
    if (uint32_t status = callerOf(c))
        return status;
    CMWchar name[32];
    cmAnsiToUnicode(name, "[Name Not Available]");
    CSFile *file = nullptr;
    if (csOpenPrintFileOnShare(name, c.share, c.tid, 2, &file, c.user))
        return kGeneral();
    own(file, c);
    Reply r(response, *position);
    r.u8(1);
    r.u16(file->fid);
    r.u16(0);
    if (r.overrun())
        return release(file, kTooSmall());
    return r.finish(position);
}

uint32_t csTrans2Open(CSTrans2Request *request)
{
    constexpr uint32_t kAnswer = 30, kNameAt = 28;
    if (request->room < kAnswer + 2)
        return kGeneral();
    if (request->parameterCount < kNameAt)
        return kInvalid();
    Caller c;
    if (uint32_t status = callerOf(c))
        return status;
    const uint8_t *in = request->parameters;
    CMWchar path[CM_PATH_BUFFER + 1];
    if (uint32_t status = folderPath(c, in + kNameAt, in + request->parameterCount, path))
        return status;
    const uint16_t flags = u16(in), accessMode = u16(in + 2), openMode = u16(in + 12);
    DosOpen o;
    if (uint32_t status = openByDosMode(c, path, accessMode, openMode, o, false))
        return status;
    own(o.file, c);
    SYFileInformation info{};
    if (csGetFileInformationByName(c.share, path, &info) != 0)
        return release(o.file, csErrorGetLast());
    info.lastChangeTime = CMUint64{0, 0};
    if (csSetFileInformation(o.file, path, &info) != 0)
        return release(o.file, kDenied());

    uint8_t *out = request->outParameters;
    std::memset(out, 0, kAnswer);
    setU16(out, o.file->fid);
    if (flags & 1) {
        setU16(out + 2, uint16_t(info.attributes));
        uint16_t time = 0, date = 0;
        cmCifsTimeToSmbTime(info.creationTime.low, info.creationTime.high, &time, &date);
        setU16(out + 4, time);
        setU16(out + 6, date);
        setU32(out + 8, info.endOfFile.low);
    }
    setU16(out + 12, o.granted);
    setU16(out + 18, o.action);
    request->outParameterCount = kAnswer;
    uint8_t *data = out + kAnswer;
    data += (data - request->header) & 1;
    request->outData = data;
    request->outDataCount = 0;
    return 0;
}

uint32_t csTrans2CreateDirectory(CSTrans2Request *request)
{
    constexpr uint32_t kNameAt = 4;
    if (request->room < 4)
        return kGeneral();
    if (request->parameterCount < kNameAt)
        return kInvalid();
    Caller c;
    if (uint32_t status = callerOf(c))
        return status;
    CMWchar path[CM_PATH_BUFFER + 1];
    const uint8_t *in = request->parameters;
    if (uint32_t status = folderPath(c, in + kNameAt, in + request->parameterCount, path))
        return status;
    if (exists(c, path))
        return kDenied();
    if (uint32_t refusal = csCanWriteShare(c.tid))
        return refusal;
    if (syCreateDirectory(path) != 0)
        return csErrorGetLast();
    csNotifyImmediatelly(path, kNotifyAdded, kFilterDirectoryName);
    setU16(request->outParameters, 0);
    request->outParameterCount = 2;
    uint8_t *data = request->outParameters + 2;
    data += (data - request->header) & 1;
    request->outData = data;
    request->outDataCount = 0;
    return 0;
}

uint32_t csNtTransactionCreate(CSTransaction *t)
{
    constexpr uint32_t kNameAt = 56, kAnswer = 69;
    if (t->parameterCount < kNameAt)
        return kInvalid();
    Caller c;
    if (uint32_t status = callerOf(c))
        return status;
    const uint8_t *in = t->parameters;
    const uint32_t nameLength = u32(in + 44);
    if (nameLength > t->parameterCount - kNameAt)
        return kInvalid();
    CMWchar path[CM_PATH_BUFFER + 1];
    if (!localPath(c, in + kNameAt, in + kNameAt + nameLength, c.wide, path))
        return kBadName();
    if (const uint32_t rootFid = u32(in + 4))
        if (!belowRoot(c, rootFid, path))
            return kBadFid();
    if (!csCheckPath(c.share, path, rootLength(c), caseSensitive(c)))
        return kNoPath();
    const uint32_t access = u32(in + 8), extAttributes = u32(in + 20), shareAccess = u32(in + 24);
    const uint32_t disposition = u32(in + 28), options = u32(in + 32);
    if (disposition > CS_OVERWRITE_IF)
        return kInvalid();
    const uint16_t mode = csAccessToOpenMode(access, shareAccess);
    if (access & kDeleteAccess)
        if (uint32_t refusal = csCanWriteShare(c.tid))
            return refusal;

    CSFile *file = nullptr;
    uint32_t action = 0;
    SYFileInformation info{};
    if (c.share->isPrinter) {
        if (csOpenPrintFileOnShare(path, c.share, c.tid, mode, &file, c.user))
            return kGeneral();
        action = 2;
    } else if (exists(c, path)) {
        if (disposition == CS_CREATE)
            return kExists();
        if (csGetFileInformationByName(c.share, path, &info) != 0)
            return csErrorGetLast();
        if (!csMatchFileAttributes(extAttributes, info.attributes))
            return kNoFile();
        if (uint32_t status = csOpenFile(path, c.tid, mode, nullptr, &file))
            return status;
        action = 1;
    } else {
        if (disposition == CS_OPEN || disposition == CS_OVERWRITE)
            return kNoFile();
        if (uint32_t status = csCreateFile(options & CS_FILE_DIRECTORY_FILE, path, c.tid, mode, &file))
            return status;
        if (csGetFileInformationByName(c.share, path, &info) != 0)
            return release(file, csErrorGetLast());
        info.attributes = csChangeFileAttributes(info.attributes, extAttributes);
        info.lastChangeTime = CMUint64{0, 0};
        if (!file->isDirectory && csSetFileInformation(file, path, &info) != 0)
            return release(file, kDenied());
        if (csGetFileInformationByName(c.share, path, &info) != 0)
            return release(file, csErrorGetLast());
        action = 2;
    }
    own(file, c);
    const bool directory = info.attributes & SY_ATTR_DIRECTORY;
    const uint64_t size = directory ? 0 : value(info.endOfFile);

    uint8_t *limit = t->response + CS_TRANS_RESPONSE_SIZE;
    if (!t->parametersOut || t->parametersOut > limit || uint32_t(limit - t->parametersOut) < kAnswer)
        return release(file, kTooSmall());
    CMBufferWriter w;
    cmBufferWriterInit(&w, t->parametersOut, kAnswer);
    cmBufferWriteByte(&w, 0);  // OplockLevel
    cmBufferWriteByte(&w, 0);
    cmBufferWriteUint16(&w, file->fid);
    cmBufferWriteUint32(&w, action);
    cmBufferWriteUint32(&w, 0);  // EaErrorOffset
    uint32_t low = 0, high = 0;
    for (const CMUint64 *time :
         {&info.creationTime, &info.lastAccessTime, &info.lastChangeTime, &info.lastWriteTime}) {
        cmCifsTimeToUTC(time->low, time->high, &low, &high);
        cmBufferWriteUint32(&w, low);
        cmBufferWriteUint32(&w, high);
    }
    cmBufferWriteUint32(&w, info.attributes);
    for (int i = 0; i < 2; ++i) {
        cmBufferWriteUint32(&w, uint32_t(size));
        cmBufferWriteUint32(&w, uint32_t(size >> 32));
    }
    cmBufferWriteUint16(&w, 0);  // FileType
    cmBufferWriteUint16(&w, 7);  // DeviceState
    cmBufferWriteByte(&w, directory ? 1 : 0);
    t->parameterCountOut = kAnswer;
    t->dataOut = nullptr;
    t->dataCountOut = 0;
    return 0;
}

}  // extern "C"
