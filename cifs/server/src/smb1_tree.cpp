// SMB1 TREE_CONNECT(_ANDX), TREE_DISCONNECT, LOGOFF_ANDX and ECHO: a
// logged-on user's trees, the end of a logon and the liveness answer.
#include "smb1_answer.h"

#include "cmsd.h"
#include "cmstring.h"
#include "cscommands.h"
#include "cspaths.h"
#include "csservices.h"
#include "csshares.h"
#include "udhooks.h"

#include <cstring>
#include <string_view>

using namespace cs::smb1;

namespace {

constexpr uint8_t kFlagDisconnect = 0x01;
constexpr uint8_t kFlagExtendedResponse = 0x08;
constexpr Error kNoShare{0xC00000CCu, 0x00430001u};     // ERRDOS/67
constexpr Error kDenied{0xC0000005u, 0x000C0001u};      // ERRDOS/12
constexpr Error kBadService{0xC00000CBu, 0x00420001u};  // ERRDOS/66
constexpr Error kAnonymous{0xC0000022u, 0x00050001u};   // ERRDOS/5
constexpr uint32_t kFsNameUnits = 64;

// The share of a \\server\share path: its last '\' component.
const CMWchar *shareOf(const CMWchar *path)
{
    const CMWchar *name = path;
    for (const CMWchar *p = path; *p; ++p)
        if (*p == '\\')
            name = p + 1;
    return name;
}

// Share access common to both tree connects: steps before the service.
uint32_t checkShare(const CSUser *user, const CMWchar *path, CSShare **found)
{
    CSShare *share = csGetShareByName(shareOf(path));
    if (!share)
        return kNoShare();
    if (!share->isHidden)
        csLoadShareSecurityDescriptor(share);
    else if (user->anonymous || !cmSdHasAccess(&user->token, &share->sd, 1))
        return kDenied();
    if (!csCheckShareMapping(share))
        return kNoShare();
    *found = share;
    return 0;
}

uint32_t checkEncryption(const CSUser *user, const CSShare *share)
{
    const CSSession *session = user->session;
    if (share->encryptionRequired && (!session || session->dialect < CS_DIALECT_SMB30))
        return csErrorReturn(0xC0000022u, 0);
    return 0;
}

uint32_t checkService(const CSShare *share, std::string_view service)
{
    const bool fits =
        service == "?????" || (service == "A:" && !share->isIpc) || (service == "IPC" && share->isIpc);
    return fits ? 0 : kBadService();
}

uint32_t newTree(const CSUser *user, CSShare *share, CSTree **tree)
{
    *tree = csGetNewTree(user);
    if (!*tree)
        return kGeneral();
    (*tree)->share = share;
    if (!share->isIpc)
        udServerShareConnect(share->name);
    return 0;
}

// requested is zero-terminated in the request.
const char *answeredService(const CSShare *share, std::string_view requested)
{
    if (requested != "?????")
        return requested.data();
    if (share->isIpc)
        return "IPC";
    return share->isPrinter ? "LPT1:" : "A:";
}

// An 8-bit service name up to its terminator inside the block.
bool readService(const uint8_t *p, const uint8_t *end, std::string_view *service)
{
    if (!p || p > end)
        return false;
    const void *zero = std::memchr(p, 0, size_t(end - p));
    if (!zero)
        return false;
    *service =
        std::string_view(reinterpret_cast<const char *>(p), size_t(static_cast<const uint8_t *>(zero) - p));
    return true;
}

bool treeChainable(uint8_t command)
{
    switch (command) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x09:
    case 0x0F:
    case 0x10:
    case 0x25:
    case 0x29:
    case 0x2D:
    case 0x82:
    case 0x83:
    case 0xC3:
    case kNoCommand:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" {

void csDoTreeDisconnect(CSTree *tree)
{
    if (!tree)
        return;
    const CSShare *share = static_cast<const CSShare *>(tree->share);
    if (share && !share->isIpc)
        udServerShareDisconnect(share->name);
    csReleaseTree(tree->tid, 1);
}

uint32_t csComTreeConnectAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 12))
        return status;
    CSUser *user = csGetUserByUid(headerUid());
    if (!user || !user->authenticated)
        return kNoUser();
    const Block block{params};
    if (block.words() != 4 || block.byteCount() < 4 || !treeChainable(block.andx()))
        return kGeneral();
    const uint16_t passwordLength = block.word(6);
    if (passwordLength > block.byteCount())
        return kInvalid();
    const bool wide = unicode();
    CMWchar path[CS_SHARE_NAME_MAX + 260];
    const uint8_t *after =
        readText(block.bytes() + passwordLength, block.bytesEnd(), wide, path, sizeof path / sizeof path[0]);
    std::string_view service;
    if (!after)
        return kNoShare();
    if (!readService(after, block.bytesEnd(), &service))
        return kInvalid();

    CSShare *share = nullptr;
    if (uint32_t status = checkShare(user, path, &share))
        return status;
    if (uint32_t status = checkEncryption(user, share))
        return status;
    const uint8_t flags = block.word(4) & 0xFF;
    if (flags & kFlagDisconnect)
        csDoTreeDisconnect(csGetTreeByTid(headerTid()));
    if (uint32_t status = checkService(share, service))
        return status;
    CSTree *tree = nullptr;
    if (uint32_t status = newTree(user, share, &tree))
        return status;

    const bool extended = flags & kFlagExtendedResponse;
    Reply r(response, *position);
    r.u8(extended ? 7 : 3);
    r.andx();
    r.u16(0);  // OptionalSupport
    if (extended) {
        r.u32(tree->maximalAccess);
        r.u32(tree->maximalAccess);
    }
    uint8_t *count = r.reserve(2);
    r.text(answeredService(share, service), false);
    CMWchar fileSystem[kFsNameUnits] = {};
    if (share->isIpc)
        cmAnsiToUnicode(fileSystem, "IPC");
    else
        udGetFileSystemName(share->name, share->path, fileSystem);
    fileSystem[kFsNameUnits - 1] = 0;
    r.wtext(fileSystem, wide);
    closeByteCount(r, count);
    if (r.overrun()) {
        csDoTreeDisconnect(tree);
        return kTooSmall();
    }
    setU16(response + 24, tree->tid);
    return r.finish(position);
}

uint32_t csComTreeConnect(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 7))
        return status;
    CSUser *user = csGetUserByUid(headerUid());
    if (!user || !user->authenticated)
        return kNoUser();
    const Block block{params};
    if (block.words() != 0 || block.byteCount() < 4 || block.bytes()[0] != 0x04)
        return kGeneral();
    const uint8_t *end = block.bytesEnd();
    CMWchar path[CS_SHARE_NAME_MAX + 260];
    const uint8_t *p = readText(block.bytes() + 1, end, unicode(), path, sizeof path / sizeof path[0]);
    if (!p)
        return kGeneral();
    std::string_view password, service;
    if (p >= end || *p != 0x04 || !readService(p + 1, end, &password))
        return kGeneral();
    p += 1 + password.size() + 1;
    if (p >= end || *p != 0x04 || !readService(p + 1, end, &service))
        return kGeneral();

    CSShare *share = nullptr;
    if (uint32_t status = checkShare(user, path, &share))
        return status;
    if (user->anonymous && !share->isIpc)
        return kAnonymous();
    if (uint32_t status = checkEncryption(user, share))
        return status;
    if (uint32_t status = checkService(share, service))
        return status;
    CSTree *tree = nullptr;
    if (uint32_t status = newTree(user, share, &tree))
        return status;
    Reply r(response, *position);
    r.u8(2);
    r.u16(0xFFFF);
    r.u16(tree->tid);
    r.u16(0);
    if (r.overrun()) {
        csDoTreeDisconnect(tree);
        return kTooSmall();
    }
    setU16(response + 24, tree->tid);
    return r.finish(position);
}

uint32_t csComTreeDisconnect(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (uint32_t status = csDispatchCheckSpace(response, *position, 3))
        return status;
    const Block block{params};
    if (block.words() != 0 || block.byteCount() != 0)
        return kGeneral();
    csDoTreeDisconnect(csGetTreeByTid(headerTid()));
    Reply r(response, *position);
    r.zeros(3);
    return r.finish(position);
}

uint32_t csComLogoffAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    if (block.words() != 2)
        return kMalformed();
    if (uint32_t status = csDispatchCheckSpace(response, *position, 7))
        return status;
    const uint16_t uid = headerUid();
    if (!csGetUserByUid(uid))
        return kNoUser();
    if (block.andx() != 0x73 && block.andx() != kNoCommand)
        return kGeneral();
    Reply r(response, *position);
    r.u8(2);
    r.andx();
    r.u16(0);
    uint32_t status = r.finish(position);
    if (status == 0)
        csReleaseUser(uid, 1);
    return status;
}

uint32_t csComEcho(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    if (!csGetSessionBySocket())
        return CS_STATUS_LATE;
    const Block block{params};
    if (block.words() != 1)
        return csErrorReturn(0, 0x00010002u);
    if (block.word(0) == 0)
        return CS_STATUS_LATE;
    if (uint32_t status = csDispatchCheckSpace(response, *position, block.byteCount() + 5u))
        return status;
    Reply r(response, *position);
    r.u8(1);
    r.u16(1);
    r.u16(block.byteCount());
    r.bytes(block.bytes(), block.byteCount());
    return r.finish(position);
}

}  // extern "C"
