// The server service's view of its clients: sessions listed and deleted,
// the trees of a share, open files listed and closed.
#include "srvsvc.h"

#include "cmipaddr.h"
#include "cmmemory.h"
#include "cmresolver.h"
#include "cmstring.h"
#include "csfiles.h"
#include "csshares.h"

#include <string>
#include <vector>

using namespace srvsvc;

namespace {

constexpr int32_t kSessionRoom = 40;
constexpr int32_t kFileRoom = 24;
constexpr uint32_t kUserNameUnits = CS_USER_NAME_UNITS;

std::string dotted(uint32_t address)
{
    char text[20] = "";
    cmIpToAscii(text, &address);
    return text;
}

bool parseOptionalName(CMRpcPacketDescriptor *in, CMWchar *out, uint32_t units, bool *given)
{
    CMRpcUnicodeString text;
    *given = rpc::parseStringPointer(in, &text);
    out[0] = 0;
    return !*given || rpc::copyText(text, out, units);
}

const CMWchar *userName(uint16_t uid)
{
    static const CMWchar kNone[] = {0};
    const CSUser *u = userByUid(uid);
    return u ? u->name : kNone;
}

// The session and file enumerations' request: two optional strings (client
// or base path, then user) that do not narrow the list, and the level.
bool parseListRequest(CMRpcPacketDescriptor *in, uint32_t *level)
{
    skipServerName(in);
    CMRpcUnicodeString first, second;
    rpc::parseStringPointer(in, &first);
    rpc::parseStringPointer(in, &second);
    cmRpcParseUint32(in, level);
    return !cmRpcIsOverrun(in);
}

// The entries in the two passes deferred pointers need: each one's fixed
// part while the answer has room for one more, then the strings of those
// listed, in the same order. Returns how many were listed.
template <typename T, typename Fixed, typename Strings>
uint32_t listEntries(CMRpcPacketDescriptor *out, Container &c, int32_t room, const std::vector<const T *> &entries,
                     Fixed fixed, Strings strings)
{
    c.open();
    size_t listed = 0;
    for (; listed < entries.size() && cmRpcSpace(out) >= room; ++listed)
        fixed(entries[listed]);
    for (size_t i = 0; i < listed; ++i)
        strings(entries[i]);
    c.close(uint32_t(listed));
    return uint32_t(listed);
}

}  // namespace

namespace srvsvc {

// NetrSessionEnum
uint32_t netrSessionEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t level = 0;
    if (!parseListRequest(in, &level))
        return kOk;
    if (cmRpcSpace(out) < kSessionRoom)
        return kNoRoom;
    Container c(out, level);
    if (!isListAdministrator(in)) {
        c.empty();
        return kAccessDenied;
    }
    if (level != 0 && level != 1) {
        c.empty();
        return kInvalidLevel;
    }
    std::vector<const CSUser *> users;
    for (uint32_t i = 0; const CSUser *u = csGetUserByIndex(i); ++i)
        if (u->loggedOn)
            users.push_back(u);
    listEntries(
        out, c, kSessionRoom, users,
        [&](const CSUser *u) {
            rpc::packPointer(out);  // client name
            if (level == 0)
                return;
            rpc::packPointer(out);  // user name
            cmRpcPackUint32(out, csGetNumberOfUserFiles(u));
            cmRpcPackUint32(out, 0);  // time
            cmRpcPackUint32(out, 0);  // idle time
            cmRpcPackUint32(out, 0);  // flags
        },
        [&](const CSUser *u) {
            if (level == 0) {
                rpc::packText(out, "");
                return;
            }
            const CSSession *s = csGetSessionById(u->sessionId);
            rpc::packText(out, s ? dotted(s->clientIp).c_str() : "");
            rpc::packText(out, u->name);
        });
    return cmRpcIsOverrun(out) ? kNoRoom : kOk;
}

// NetrSessionDel: by client, by user name, or both.
uint32_t netrSessionDel(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    skipServerName(in);
    CMWchar client[256], name[kUserNameUnits];
    bool byClient = false, byName = false;
    const bool clientFits = parseOptionalName(in, client, 256, &byClient);
    const bool nameFits = parseOptionalName(in, name, kUserNameUnits, &byName);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (!isListAdministrator(in))
        return kAccessDenied;
    if (!clientFits || !nameFits)
        return kClientNameNotFound;
    uint32_t address = 0;
    if (byClient) {
        const CMWchar *c = client;
        if (c[0] == '\\' && c[1] == '\\')
            c += 2;
        char text[256];
        cmUnicodeToAnsiN(text, c, sizeof text - 1);
        text[sizeof text - 1] = 0;
        if (cmAsciiToIp(text, &address) != 0) {
            int count = 0;
            uint32_t *ips = cmResolverGetHostIps(c, &count);
            if (!ips || count <= 0) {
                cmMemoryFreeNonDebug(ips);
                return kNotFound;
            }
            address = ips[0];
            cmMemoryFreeNonDebug(ips);
        }
        if (!csGetSessionByIp(address))
            return kClientNameNotFound;
    }
    // Collected first: a release changes the table being walked.
    std::vector<uint16_t> matched;
    for (uint32_t i = 0; const CSUser *u = csGetUserByIndex(i); ++i) {
        const CSSession *s = csGetSessionById(u->sessionId);
        if (byClient && (!s || s->clientIp != address))
            continue;
        if (byName && cmWStricmp(u->name, name) != 0)
            continue;
        matched.push_back(u->uid);
    }
    if (matched.empty())
        return kClientNameNotFound;
    const CSUser *self = caller(in);
    for (uint16_t uid : matched) {
        // The caller's own session carries this very call: it goes once
        // the answer is out.
        if (self && uid == self->uid)
            csDcerpcDeferUserRelease(uid);
        else
            csReleaseUserAndDisconnect(uid, 0);
    }
    return kOk;
}

// NetrConnectionEnum: the trees of one share.
uint32_t netrConnectionEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    CMWchar qualifier[CS_SHARE_NAME_MAX + 2];
    bool given = false;
    const bool fits = parseOptionalName(in, qualifier, CS_SHARE_NAME_MAX + 2, &given);
    uint32_t level = 0;
    cmRpcParseUint32(in, &level);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (cmRpcSpace(out) < kSessionRoom)
        return kNoRoom;
    Container c(out, level);
    const CSShare *share = given && fits ? csGetShareByName(qualifier) : nullptr;
    if (!share) {
        c.empty();
        return kNetNameNotFound;
    }
    if (level != 1) {
        c.empty();
        return kInvalidLevel;
    }
    std::vector<const CSTree *> trees;
    for (const CSTree *t = csGetNextTreeByShare(share, CS_FREE_ID); t; t = csGetNextTreeByShare(share, t->tid))
        trees.push_back(t);
    const std::string host = rpc::hostName();
    listEntries(
        out, c, kSessionRoom, trees,
        [&](const CSTree *t) {
            cmRpcPackUint32(out, t->tid);
            cmRpcPackUint32(out, 0);  // type
            cmRpcPackUint32(out, 1);  // opens
            cmRpcPackUint32(out, 1);  // users
            cmRpcPackUint32(out, 0);  // time
            rpc::packPointer(out);    // user name
            rpc::packPointer(out);    // net name
        },
        [&](const CSTree *t) {
            rpc::packText(out, userName(t->uid));
            rpc::packText(out, host.c_str());
        });
    return cmRpcIsOverrun(out) ? kNoRoom : kOk;
}

// NetrFileEnum: open files, level 3.
uint32_t netrFileEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t level = 0;
    if (!parseListRequest(in, &level))
        return kOk;
    if (cmRpcSpace(out) < kFileRoom)
        return kNoRoom;
    Container c(out, level);
    if (level != 3) {
        c.empty();
        return kInvalidLevel;
    }
    if (!isListAdministrator(in)) {
        c.empty();
        return kAccessDenied;
    }
    std::vector<const CSFile *> files;
    for (uint32_t i = 0; const CSFile *f = csGetFileByIndex(i); ++i)
        files.push_back(f);
    const uint32_t listed = listEntries(
        out, c, kFileRoom, files,
        [&](const CSFile *f) {
            cmRpcPackUint32(out, f->fid);
            const uint32_t mode = f->access & 3u;
            cmRpcPackUint32(out, mode >= 2 ? 3 : mode + 1);
            cmRpcPackUint32(out, 0);  // locks
            rpc::packPointer(out);    // path name
            rpc::packPointer(out);    // user name
        },
        [&](const CSFile *f) {
            const CSName *n = csGetNameByNid(f->nid);
            static const CMWchar kNone[] = {0};
            rpc::packText(out, n ? n->path : kNone);
            rpc::packText(out, userName(f->uid));
        });
    if (cmRpcIsOverrun(out))
        return kNoRoom;
    return listed == 0 ? kCannotRemove : kOk;
}

// NetrFileClose
uint32_t netrFileClose(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    skipServerName(in);
    uint32_t id = 0;
    cmRpcParseUint32(in, &id);
    if (cmRpcIsOverrun(in))
        return kOk;
    if (!isListAdministrator(in))
        return kAccessDenied;
    if (id > 0xFFFF)
        return kOk;
    // The pipe that carries this call closes once the answer is out.
    const CSFile *self = csDcerpcCurrentPipe();
    if (self && self->fid == id)
        csDcerpcDeferFileRelease(uint16_t(id));
    else
        csReleaseFile(uint16_t(id));
    return kOk;
}

}  // namespace srvsvc
