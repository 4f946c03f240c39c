// The server service's shares: information at levels 0, 1, 2, 501 and 502
// (fixed parts first, then the strings their pointers defer), enumeration,
// one share, and adding, refusing to change and removing shares.
#include "srvsvc.h"

#include "csauth.h"
#include "csfiles.h"
#include "csshares.h"
#include "cmstring.h"
#include "udhooks.h"

#include <array>
#include <cstring>
#include <cwctype>
#include <vector>

using namespace srvsvc;

namespace {

constexpr int32_t kShareFixedRoom = 40;
constexpr int32_t kEnumRoom = 24;
constexpr int32_t kGetInfoRoom = 8;
constexpr uint32_t kMaxUses = 50;
// The parameter a refused share addition names.
constexpr uint32_t kParmName = 1;
constexpr uint32_t kParmRemark = 4;
constexpr uint32_t kParmPath = 8;

bool knownLevel(uint32_t level)
{
    return level == 0 || level == 1 || level == 2 || level == 501 || level == 502;
}

uint32_t shareType(const CSShare *s)
{
    if (s->isIpc)
        return 0x80000003u;
    if (s->isPrinter)
        return 1;
    if (s->isHidden)
        return 0x80000000u;
    return 0;
}

// The path as a Windows client shows it: under a drive letter, '\'-separated.
std::vector<CMWchar> windowsPath(const CSShare *s)
{
    std::vector<CMWchar> out;
    if (s->isIpc) {
        out.push_back(0);
        return out;
    }
    const CMWchar *rest = s->path;
    if (!csHasAdminShare()) {
        out = {'C', ':'};
    } else if (s->isHidden) {
        out = {s->name[0], ':'};
        rest = nullptr;
    } else if (const CSShare *h = csGetHiddenShareByMap(s->path)) {
        out = {h->name[0], ':'};
        rest = s->path + cmWStrlen(h->path);
        // The hidden share's path may end in '/': keep one separator.
        if (*rest != '/' && rest != s->path && rest[-1] == '/')
            --rest;
    }
    for (; rest && *rest; ++rest)
        out.push_back(*rest == '/' ? CMWchar('\\') : *rest);
    out.push_back(0);
    return out;
}

// Whether the caller may see this share at this level: 0, or the status.
uint32_t mayList(const CMRpcPacketDescriptor *in, const CSShare *s, uint32_t level)
{
    if (!csAuthShareIsAccessible(caller(in), s->isPrinter))
        return kAccessDenied;
    if ((level == 2 || level == 502) && !isAdministrator(in))
        return kAccessDenied;
    return kOk;
}

// One share's fixed part; the length field of a 502 descriptor is kept to
// be filled with the strings.
void packFixed(CMRpcPacketDescriptor *out, const CSShare *s, uint32_t level, CMRpcPacketDescriptor *sdLength)
{
    rpc::packPointer(out);  // netname
    if (level == 0)
        return;
    cmRpcPackUint32(out, shareType(s));
    rpc::packPointer(out);  // remark
    if (level == 1)
        return;
    if (level == 501) {
        cmRpcPackUint32(out, 0);
        return;
    }
    cmRpcPackUint32(out, 0);  // permissions
    cmRpcPackUint32(out, kMaxUses);
    cmRpcPackUint32(out, csGetNumberOfShareUsers(s));
    rpc::packPointer(out);         // path
    rpc::packPointer(out, false);  // password
    if (level == 502) {
        cmRpcCloneDescriptor(out, sdLength);
        cmRpcPackUint32(out, 0);
        rpc::packPointer(out);
    }
}

void packStrings(CMRpcPacketDescriptor *out, const CMRpcPacketDescriptor *in, const CSShare *s,
                 uint32_t level, CMRpcPacketDescriptor *sdLength)
{
    rpc::packText(out, s->name);
    if (level == 0)
        return;
    rpc::packText(out, s->comment);
    if (level != 2 && level != 502)
        return;
    rpc::packText(out, windowsPath(s).data());
    if (level != 502)
        return;
    // The share's descriptor, then the caller's SID and the users' alias.
    CMRpcPacketDescriptor size;
    cmRpcCloneDescriptor(out, &size);
    cmRpcPackUint32(out, 0);
    const uint8_t *start = out->current;
    CMSdSecurityDescriptor sd = s->sd;
    cmSdPackSecurityDescriptor(out, &sd, CM_SD_OWNER | CM_SD_GROUP | CM_SD_DACL | CM_SD_SACL);
    if (const CMSdAccessToken *t = token(in)) {
        const int32_t rid = int32_t(t->ridCount ? t->rids[0] : 0);
        cmSdPackSidRid(out, &t->domain, uint32_t(rid < 0 ? -rid : rid));
    }
    cmSdPackSidRid(out, cmSdGetLocalDomainAlias(), CM_SD_RID_USERS);
    const uint32_t length = uint32_t(out->current - start);
    cmRpcPackUint32(&size, length);
    cmRpcPackUint32(sdLength, length);
    cmRpcAllignZero(out, 4);
}

// One share's information: 0, or the status that refused it.
uint32_t packShare(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out, const CSShare *s, uint32_t level)
{
    if (uint32_t refused = mayList(in, s, level))
        return refused;
    if (cmRpcSpace(out) < kShareFixedRoom)
        return kNoRoom;
    CMRpcPacketDescriptor sdLength;
    packFixed(out, s, level, &sdLength);
    packStrings(out, in, s, level, &sdLength);
    return cmRpcIsOverrun(out) ? kNoRoom : kOk;
}

// The share name argument, a reference to a conformant varying string.
bool parseName(CMRpcPacketDescriptor *in, CMWchar *name, uint32_t units)
{
    CMRpcUnicodeString text;
    cmRpcParseUnicode(in, &text, CM_RP_SIZE32 | CM_RP_FRAGMENT32);
    cmRpcAllign(in, 4);
    return !cmRpcIsOverrun(in) && rpc::copyText(text, name, units);
}

void packParmError(CMRpcPacketDescriptor *out, uint32_t parm)
{
    rpc::packPointer(out);
    cmRpcPackUint32(out, parm);
}

// A path a share may take: no climbing out, no control characters.
bool safePath(const std::vector<CMWchar> &path)
{
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] < 0x20)
            return false;
        if (i == path.size() || path[i] == '/') {
            if (i - start == 2 && path[start] == '.' && path[start + 1] == '.')
                return false;
            start = i + 1;
        }
    }
    return true;
}

bool inside(const std::vector<CMWchar> &path, const CMWchar *root)
{
    const size_t n = cmWStrlen(root);
    if (n == 0 || path.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::towlower(path[i]) != std::towlower(root[i]))
            return false;
    return path.size() == n || root[n - 1] == '/' || path[n] == '/';
}

// A new share's path on the host: a drive letter stands for its hidden
// share, '\' becomes '/'; the result must lie inside a disk share the
// server already has, so that nothing else of the router can be shared.
bool hostPath(const CMWchar *given, std::vector<CMWchar> &out)
{
    out.clear();
    const CMWchar *rest = given;
    if (given[0] && given[1] == ':') {
        if (csHasAdminShare()) {
            const CMWchar hidden[] = {given[0], '$', 0};
            const CSShare *h = csGetShareByName(hidden);
            if (!h || !h->isHidden)
                return false;
            for (const CMWchar *p = h->path; *p; ++p)
                out.push_back(*p);
        }
        rest = given + 2;
        if (!out.empty() && out.back() == '/' && (*rest == '\\' || *rest == '/'))
            ++rest;
    }
    for (; *rest; ++rest)
        out.push_back(*rest == '\\' ? CMWchar('/') : *rest);
    if (out.empty() || !safePath(out))
        return false;
    for (uint32_t i = 0; const CSShare *s = csGetShareByIndex(i); ++i)
        if (!s->isIpc && !s->isPrinter && inside(out, s->path))
            return true;
    return false;
}

}  // namespace

namespace srvsvc {

// NetrShareEnum and NetrShareEnumSticky
uint32_t netrShareEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    uint32_t level = 0;
    cmRpcParseUint32(in, &level);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (cmRpcSpace(out) < kEnumRoom)
        return kNoRoom;
    Container c(out, level);
    if (!knownLevel(level)) {
        c.empty();
        return kInvalidLevel;
    }
    // Which shares are listed is decided once, for both passes.
    std::array<const CSShare *, CS_MAX_SHARES> listed{};
    uint32_t count = 0, failure = kOk;
    for (uint32_t i = 0; const CSShare *s = csGetShareByIndex(i); ++i) {
        uint32_t refused = mayList(in, s, level);
        if (refused)
            failure = refused;
        else if (count < listed.size())
            listed[count++] = s;
    }
    if (count == 0) {
        c.empty();
        return failure;
    }
    c.open();
    std::array<CMRpcPacketDescriptor, CS_MAX_SHARES> sdLengths{};
    for (uint32_t i = 0; i < count; ++i) {
        if (cmRpcSpace(out) < kShareFixedRoom)
            return kNoRoom;
        packFixed(out, listed[i], level, &sdLengths[i]);
    }
    for (uint32_t i = 0; i < count; ++i)
        packStrings(out, in, listed[i], level, &sdLengths[i]);
    c.close(count);
    return cmRpcIsOverrun(out) ? kNoRoom : kOk;
}

// NetrShareGetInfo
uint32_t netrShareGetInfo(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    CMWchar name[CS_SHARE_NAME_MAX + 2];
    const bool named = parseName(in, name, CS_SHARE_NAME_MAX + 2);
    uint32_t level = 0;
    cmRpcParseUint32(in, &level);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (cmRpcSpace(out) < kGetInfoRoom)
        return kNoRoom;
    cmRpcPackUint32(out, level);
    CSShare *s = named ? csGetShareByName(name) : nullptr;
    if (!s) {
        rpc::packPointer(out, false);
        return kNetNameNotFound;
    }
    if (!knownLevel(level)) {
        rpc::packPointer(out, false);
        return kInvalidLevel;
    }
    if (uint32_t refused = mayList(in, s, level)) {
        rpc::packPointer(out, false);
        return refused;
    }
    rpc::packPointer(out);
    return packShare(in, out, s, level);
}

// NetrShareSetInfo: nothing is ever changed.
uint32_t netrShareSetInfo(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    CMWchar name[CS_SHARE_NAME_MAX + 2];
    const bool named = parseName(in, name, CS_SHARE_NAME_MAX + 2);
    if (cmRpcIsOverrun(in))
        return kOk;
    packParmError(out, 0);
    return named && csGetShareByName(name) ? kAccessDenied : kNetNameNotFound;
}

// NetrShareAdd: a disk share, by an administrator of the user list.
uint32_t netrShareAdd(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    uint32_t level = 0, levelSwitch = 0, info = 0;
    cmRpcParseUint32(in, &level);
    cmRpcParseUint32(in, &levelSwitch);
    cmRpcParseUint32(in, &info);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (!isListAdministrator(in)) {
        packParmError(out, 0);
        return kAccessDenied;
    }
    if ((level != 2 && level != 502) || info == 0) {
        packParmError(out, 0);
        return kInvalidLevel;
    }
    // SHARE_INFO_2 (and 502): the fixed part, then what its pointers defer.
    uint32_t namePtr = 0, type = 0, remarkPtr = 0, pathPtr = 0, passwordPtr = 0, sdPtr = 0, skip = 0;
    cmRpcParseUint32(in, &namePtr);
    cmRpcParseUint32(in, &type);
    cmRpcParseUint32(in, &remarkPtr);
    cmRpcParseUint32(in, &skip);  // permissions
    cmRpcParseUint32(in, &skip);  // max uses
    cmRpcParseUint32(in, &skip);  // current uses
    cmRpcParseUint32(in, &pathPtr);
    cmRpcParseUint32(in, &passwordPtr);
    if (level == 502) {
        cmRpcParseUint32(in, &skip);  // descriptor length
        cmRpcParseUint32(in, &sdPtr);
    }
    CMRpcUnicodeString name{}, remark{}, path{}, password{};
    const uint32_t flags = CM_RP_SIZE32 | CM_RP_FRAGMENT32;
    if (namePtr)
        cmRpcParseUnicode(in, &name, flags), cmRpcAllign(in, 4);
    if (remarkPtr)
        cmRpcParseUnicode(in, &remark, flags), cmRpcAllign(in, 4);
    if (pathPtr)
        cmRpcParseUnicode(in, &path, flags), cmRpcAllign(in, 4);
    if (passwordPtr)
        cmRpcParseUnicode(in, &password, flags), cmRpcAllign(in, 4);
    CMSdSecurityDescriptor sd{};
    bool withSd = false;
    if (sdPtr) {
        uint32_t size = 0;
        cmRpcParseUint32(in, &size);
        CMRpcPacketDescriptor bytes;
        cmRpcCloneDescriptor(in, &bytes);
        cmRpcParseSkip(in, size);
        bytes.length = uint32_t(in->current - in->origin);
        withSd = !cmRpcIsOverrun(in) && cmSdParseSecurityDescriptor(&bytes, &sd) == 1;
    }
    if (cmRpcIsOverrun(in))
        return kOk;

    CMWchar shareName[CS_SHARE_NAME_MAX + 1], comment[CS_SHARE_COMMENT_MAX + 1], given[CS_SHARE_PATH_MAX + 1];
    if (!namePtr || !rpc::copyText(name, shareName, CS_SHARE_NAME_MAX + 1) || !shareName[0]) {
        packParmError(out, kParmName);
        return kInvalidParameter;
    }
    if (!rpc::copyText(remark, comment, CS_SHARE_COMMENT_MAX + 1)) {
        packParmError(out, kParmRemark);
        return kInvalidParameter;
    }
    if (csGetShareByName(shareName)) {
        packParmError(out, 0);
        return kDuplicateShare;
    }
    std::vector<CMWchar> hostDir;
    if (!pathPtr || !rpc::copyText(path, given, CS_SHARE_PATH_MAX + 1) || !hostPath(given, hostDir) ||
        hostDir.size() > CS_SHARE_PATH_MAX) {
        packParmError(out, kParmPath);
        return kInvalidParameter;
    }
    hostDir.push_back(0);
    if (sdPtr && !withSd) {
        packParmError(out, 0);
        return kInvalidParameter;
    }
    // The hooks first: a name or remark they refuse leaves nothing behind.
    if (!udSaveShareInformation(nullptr, shareName, hostDir.data(), comment)) {
        packParmError(out, kParmName);
        return kInvalidParameter;
    }
    if (vxAddShareW(shareName, hostDir.data(), nullptr, -1, comment) != 0) {
        udRemoveShare(shareName);
        packParmError(out, 0);
        return kNoMemory;
    }
    if (withSd) {
        CSShare *s = csGetShareByName(shareName);
        if (!s || (s->sd = sd, !csSetShareSecurityDescriptor(s))) {
            vxRemoveShareW(shareName);
            udRemoveShare(shareName);
            packParmError(out, 0);
            return kAccessDenied;
        }
    }
    packParmError(out, 0);
    return kOk;
}

// NetrShareDel
uint32_t netrShareDel(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    skipServerName(in);
    CMWchar name[CS_SHARE_NAME_MAX + 2];
    const bool named = parseName(in, name, CS_SHARE_NAME_MAX + 2);
    uint32_t reserved = 0;
    cmRpcParseUint32(in, &reserved);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (!isListAdministrator(in))
        return kAccessDenied;
    if (!named || !csGetShareByName(name) || vxRemoveShareW(name) != 0 || !udRemoveShare(name))
        return kCannotRemove;
    return kOk;
}

}  // namespace srvsvc
