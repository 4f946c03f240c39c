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

}  // namespace

namespace srvsvc {

// NetrSessionEnum
uint32_t netrSessionEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    CMRpcUnicodeString client, user;
    rpc::parseStringPointer(in, &client);
    rpc::parseStringPointer(in, &user);
    uint32_t level = 0;
    cmRpcParseUint32(in, &level);
    if (cmRpcIsOverrun(in))
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
    c.open();
    // Fixed parts, then the strings in the same order.
    std::vector<const CSUser *> users;
    for (uint32_t i = 0; const CSUser *u = csGetUserByIndex(i); ++i) {
        if (!u->loggedOn)
            continue;
        if (cmRpcSpace(out) < kSessionRoom)
            break;
        users.push_back(u);
        rpc::packPointer(out);  // client name
        if (level == 1) {
            rpc::packPointer(out);  // user name
            cmRpcPackUint32(out, csGetNumberOfUserFiles(u));
            cmRpcPackUint32(out, 0);  // time
            cmRpcPackUint32(out, 0);  // idle time
            cmRpcPackUint32(out, 0);  // flags
        }
    }
    for (const CSUser *u : users) {
        if (level == 0) {
            rpc::packText(out, "");
            continue;
        }
        const CSSession *s = csGetSessionById(u->sessionId);
        rpc::packText(out, s ? dotted(s->clientIp).c_str() : "");
        rpc::packText(out, u->name);
    }
    c.close(uint32_t(users.size()));
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
    c.open();
    std::vector<const CSTree *> trees;
    for (const CSTree *t = csGetNextTreeByShare(share, CS_FREE_ID); t;
         t = csGetNextTreeByShare(share, t->tid)) {
        if (cmRpcSpace(out) < kSessionRoom)
            break;
        trees.push_back(t);
        cmRpcPackUint32(out, t->tid);
        cmRpcPackUint32(out, 0);  // type
        cmRpcPackUint32(out, 1);  // opens
        cmRpcPackUint32(out, 1);  // users
        cmRpcPackUint32(out, 0);  // time
        rpc::packPointer(out);
        rpc::packPointer(out);
    }
    const std::string host = rpc::hostName();
    for (const CSTree *t : trees) {
        rpc::packText(out, userName(t->uid));
        rpc::packText(out, host.c_str());
    }
    c.close(uint32_t(trees.size()));
    return cmRpcIsOverrun(out) ? kNoRoom : kOk;
}

// NetrFileEnum: open files, level 3.
uint32_t netrFileEnum(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    skipServerName(in);
    CMRpcUnicodeString base, user;
    rpc::parseStringPointer(in, &base);
    rpc::parseStringPointer(in, &user);
    uint32_t level = 0;
    cmRpcParseUint32(in, &level);
    if (cmRpcIsOverrun(in))
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
    c.open();
    std::vector<const CSFile *> files;
    for (uint32_t i = 0; const CSFile *f = csGetFileByIndex(i); ++i) {
        if (cmRpcSpace(out) < kFileRoom)
            break;
        files.push_back(f);
        cmRpcPackUint32(out, f->fid);
        const uint32_t mode = f->access & 3u;
        cmRpcPackUint32(out, mode >= 2 ? 3 : mode + 1);
        cmRpcPackUint32(out, 0);  // locks
        rpc::packPointer(out);
        rpc::packPointer(out);
    }
    for (const CSFile *f : files) {
        const CSName *n = csGetNameByNid(f->nid);
        static const CMWchar kNone[] = {0};
        rpc::packText(out, n ? n->path : kNone);
        rpc::packText(out, userName(f->uid));
    }
    c.close(uint32_t(files.size()));
    if (cmRpcIsOverrun(out))
        return kNoRoom;
    return files.empty() ? kCannotRemove : kOk;
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
