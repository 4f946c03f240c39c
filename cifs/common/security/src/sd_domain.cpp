// The local domain: the computer SID, well-known accounts, and the prepared
// descriptors that shares, files and account objects start from.
#include "cmsd.h"
#include "cmstring.h"
#include "sd_bytes.h"
#include "udhooks.h"

#include <algorithm>
#include <initializer_list>

using namespace sd;

namespace {

struct SdContext {
    uint32_t aliasBuilt;
    uint32_t domainSet;
    uint32_t computerSidBuilt;
    CMSdDomainSid computerSid;
    CMSdDomainSid alias;
    CMSdDomainSid domainSid;
    char nameBuffer[256];
};

SdContext *gContext;
// Before cmSdInit (or after an allocation failure) the getters still answer.
SdContext gFallback;

SdContext &ctx() { return gContext ? *gContext : gFallback; }

struct Account {
    uint32_t rid;
    uint32_t type;
    const char *name;
    const char *description;
};

const Account kAccounts[] = {
    {544, 4, "Administrators", "Administrators have complete and unrestricted access to the computer/domain"},
    {545, 4, "Users", "Ordinary users"},
    {546, 4, "Guests", "Local or domain guests"},
    {512, 2, "Administrators", "Local or domain administrators"},
    {513, 2, "None", "Local or domain users"},
    {514, 2, "Guests", "Local or domain guests"},
};

void buildComputerSid(SdContext &c)
{
    char id[UD_COMPUTER_ID_SIZE];
    udGetComputerId(id);
    CMSdDomainSid &s = c.computerSid;
    std::memset(&s, 0, sizeof s);
    s.revision = 1;
    s.count = 4;
    s.authority[5] = 5;
    s.subauthorities[0] = 21;
    for (int i = 0; i < 3; ++i)
        s.subauthorities[1 + i] = u32(reinterpret_cast<const uint8_t *>(id) + 4 * i);
    c.computerSidBuilt = 1;
}

// One ACE of a prepared descriptor: flags, mask and a wire-form SID.
struct AceTemplate {
    uint8_t flags;
    uint32_t mask;
    const uint8_t *sid;
    uint32_t sidSize;
};

struct Prepared {
    uint16_t control;
    const uint8_t *owner;
    uint32_t ownerSize;
    const uint8_t *group;
    uint32_t groupSize;
    bool dacl;
    std::initializer_list<AceTemplate> aces;
};

constexpr AceTemplate kAdminsFull{0x03, CM_SD_FULL_CONTROL, kAdministratorsSid, 16};
constexpr AceTemplate kEveryoneFullInheritOnly{0x0B, CM_SD_FULL_CONTROL, kEveryoneSid, 12};
constexpr AceTemplate kSystemFull{0x03, CM_SD_FULL_CONTROL, kSystemSid, 12};
constexpr AceTemplate kUsersFull{0x03, CM_SD_FULL_CONTROL, kUsersSid, 16};

// Writes the wire form (owner, group, DACL from offset 20) and parses it,
// so every prepared descriptor passes through the one parser.
int prepare(const Prepared &p, CMSdSecurityDescriptor *sd)
{
    uint8_t wire[CM_SD_MAX_SIZE] = {};
    CMRpcPacketDescriptor w = recordAt(wire, 0);
    cmRpcPackByte(&w, 1);
    cmRpcPackByte(&w, 0);
    cmRpcPackUint16(&w, p.control);
    cmRpcPackZeroes(&w, 16);
    if (p.owner) {
        setU32(wire + kOwner, uint32_t(w.current - wire));
        cmRpcPackBytes(&w, p.owner, p.ownerSize);
    }
    if (p.group) {
        setU32(wire + kGroup, uint32_t(w.current - wire));
        cmRpcPackBytes(&w, p.group, p.groupSize);
    }
    if (p.dacl) {
        uint8_t *acl = w.current;
        setU32(wire + kDacl, uint32_t(acl - wire));
        cmRpcPackZeroes(&w, 8);
        for (const AceTemplate &a : p.aces) {
            cmRpcPackByte(&w, CM_SD_ACE_ALLOWED);
            cmRpcPackByte(&w, a.flags);
            cmRpcPackUint16(&w, uint16_t(8 + a.sidSize));
            cmRpcPackUint32(&w, a.mask);
            cmRpcPackBytes(&w, a.sid, a.sidSize);
        }
        acl[0] = 2;
        setU16(acl + 2, uint16_t(w.current - acl));
        setU32(acl + 4, uint32_t(p.aces.size()));
    }
    CMRpcPacketDescriptor r;
    cmRpcSetDescriptor(&r, wire, 0);
    r.length = uint32_t(w.current - wire);
    return cmSdParseSecurityDescriptor(&r, sd);
}

const Prepared kDefault{
    0x8404, nullptr, 0, nullptr, 0, true, {kAdminsFull, kEveryoneFullInheritOnly, kSystemFull, kUsersFull}};

}  // namespace

extern "C" {

int cmSdInit(void)
{
    if (!gContext) {
        gContext = static_cast<SdContext *>(cmMemoryAllocNonDebug(sizeof(SdContext)));
        if (!gContext)
            return -1;
    }
    std::memset(gContext, 0, sizeof *gContext);
    buildComputerSid(*gContext);
    return 0;
}

void cmSdExit(void)
{
    if (gContext)
        cmMemoryFreeNonDebug(gContext);
    gContext = nullptr;
    std::memset(&gFallback, 0, sizeof gFallback);
}

const CMSdDomainSid *cmSdGetComputerSid(void)
{
    SdContext &c = ctx();
    if (!c.computerSidBuilt)
        buildComputerSid(c);
    return &c.computerSid;
}

int cmSdIsComputerSid(const CMSdDomainSid *sid)
{
    const CMSdDomainSid *own = cmSdGetComputerSid();
    if (sid->count != own->count)
        return 0;
    for (uint32_t i = 0; i < std::min<uint32_t>(own->count, CM_SD_MAX_SUBAUTHORITIES); ++i)
        if (sid->subauthorities[i] != own->subauthorities[i])
            return 0;
    return 1;
}

int cmSdCheckAlias(const CMSdDomainSid *sid, uint32_t *alias)
{
    const CMSdDomainSid *own = cmSdGetComputerSid();
    if (sid->count != own->count + 1 || sid->count > CM_SD_MAX_SUBAUTHORITIES)
        return 0;
    for (uint32_t i = 0; i < own->count; ++i)
        if (sid->subauthorities[i] != own->subauthorities[i])
            return 0;
    switch (sid->subauthorities[own->count]) {
    case 500:
    case 501:
    case 514:
    case 546:
        *alias = CM_SD_RID_GUESTS;
        break;
    case 512:
    case 544:
        *alias = CM_SD_RID_ADMINISTRATORS;
        break;
    default:
        *alias = CM_SD_RID_USERS;
    }
    return 1;
}

const CMSdDomainSid *cmSdGetDomainSid(void)
{
    SdContext &c = ctx();
    return c.domainSet ? &c.domainSid : cmSdGetComputerSid();
}

int cmSdIsDomainSidSet(void) { return int(ctx().domainSet); }

const CMSdDomainSid *cmSdSetDomainSid(const CMSdDomainSid *sid)
{
    SdContext &c = ctx();
    if (!c.domainSet) {
        c.domainSid = *sid;
        c.domainSet = 1;
    }
    return &c.domainSid;
}

const CMSdDomainSid *cmSdGetLocalDomainAlias(void)
{
    SdContext &c = ctx();
    if (!c.aliasBuilt) {
        std::memset(&c.alias, 0, sizeof c.alias);
        c.alias.revision = 1;
        c.alias.count = 1;
        c.alias.authority[5] = 5;
        c.alias.subauthorities[0] = 32;
        c.aliasBuilt = 1;
    }
    return &c.alias;
}

int cmSdLookupName(const CMWchar *name, uint32_t *rid)
{
    SdContext &c = ctx();
    uint32_t units = 0;
    while (name[units] && units < sizeof c.nameBuffer - 1)
        ++units;
    if (name[units] == 0) {
        cmUnicodeToAnsiN(c.nameBuffer, name, 2 * units);
        c.nameBuffer[units] = 0;
        for (const Account &a : kAccounts) {
            if (std::strcmp(a.name, c.nameBuffer) == 0) {
                *rid = a.rid;
                return 1;
            }
        }
    }
    int32_t r = 0;
    int found = udGetUserRidByName(name, &r);
    if (found)
        *rid = uint32_t(r);
    return found;
}

int cmSdLookupRid(uint32_t rid, CMWchar *name, CMWchar *description)
{
    for (const Account &a : kAccounts) {
        if (a.rid == rid) {
            cmAnsiToUnicode(name, a.name);
            cmAnsiToUnicode(description, a.description);
            return 1;
        }
    }
    return udGetUserNameByRid(int32_t(rid), name, description);
}

int cmSdIsAdministrator(const CMSdAccessToken *token)
{
    if (token->ridCount >= 1 && int32_t(token->rids[0]) < 0)
        return 1;
    if (token->ridCount < 2)
        return 0;
    for (uint32_t i = 1; i < std::min<uint32_t>(token->ridCount, CM_SD_MAX_RIDS); ++i)
        if (token->rids[i] == 500 || token->rids[i] == 512 || token->rids[i] == 544)
            return 1;
    return 0;
}

int cmSdGetDefaultSecurityDescriptor(CMSdSecurityDescriptor *sd) { return prepare(kDefault, sd); }

int cmSdGetOwnerAndDaclSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8000, kAdministratorsSid, 16, nullptr, 0, true, {kAdminsFull}}, sd);
}

int cmSdGetGroupAndDaclSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8000, nullptr, 0, kUsersSid, 16, true, {kAdminsFull}}, sd);
}

int cmSdGetShareSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8004,
                    kAdministratorsSid,
                    16,
                    kUsersSid,
                    16,
                    true,
                    {{0x03, CM_SD_CHANGE, kEveryoneSid, 12},
                     kAdminsFull,
                     {0x03, CM_SD_CHANGE, kUsersSid, 16},
                     kSystemFull}},
                   sd);
}

int cmSdGetEmptyShareSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8004, nullptr, 0, nullptr, 0, true, {}}, sd);
}

int cmSdGetNoneSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8004, kEveryoneSid, 12, kEveryoneSid, 12, false, {}}, sd);
}

int cmSdGetOwnerSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8000, kAdministratorsSid, 16, nullptr, 0, false, {}}, sd);
}

int cmSdGetGroupSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8000, nullptr, 0, kUsersSid, 16, false, {}}, sd);
}

int cmSdGetOwnerAndGroupSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8000, kAdministratorsSid, 16, kUsersSid, 16, false, {}}, sd);
}

int cmSdGetOwnerAndGroupAndDaclSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8000,
                    kAdministratorsSid,
                    16,
                    kUsersSid,
                    16,
                    true,
                    {kAdminsFull, kEveryoneFullInheritOnly, kSystemFull, kUsersFull}},
                   sd);
}

int cmSdGetReadonlyShareSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8004, nullptr, 0, nullptr, 0, true, {{0x03, CM_SD_READ, kEveryoneSid, 12}}}, sd);
}

int cmSdGetAdminonlyShareSecurityDescriptor(CMSdSecurityDescriptor *sd)
{
    return prepare({0x8104, nullptr, 0, nullptr, 0, true, {kAdminsFull}}, sd);
}

int cmSdGetDefaultSecurityDescriptorByToken(const CMSdAccessToken *token, CMSdSecurityDescriptor *sd)
{
    prepare(kDefault, sd);
    uint32_t dacl = u32(sd->data + kDacl);
    uint32_t domainCount = std::min<uint32_t>(token->domain.count, CM_SD_MAX_SUBAUTHORITIES - 1);
    uint16_t aceSize = uint16_t(16 + 4 * (domainCount + 1));
    CMRpcPacketDescriptor w = recordAt(sd->data, sd->length);
    cmRpcPackByte(&w, CM_SD_ACE_ALLOWED);
    cmRpcPackByte(&w, 0x03);
    cmRpcPackUint16(&w, aceSize);
    cmRpcPackUint32(&w, CM_SD_FULL_CONTROL);
    CMSdDomainSid domain = token->domain;
    domain.count = uint8_t(domainCount);
    cmSdPackSidRid(&w, &domain, token->ridCount ? token->rids[0] : 0);
    setU32(sd->data + dacl + 4, u32(sd->data + dacl + 4) + 1);
    setU16(sd->data + dacl + 2, uint16_t(u16(sd->data + dacl + 2) + aceSize));
    sd->length += aceSize;
    return 1;
}

int cmSdGetLocalSecurityDescriptorForUser(uint32_t rid, CMSdSecurityDescriptor *sd)
{
    std::memset(sd->data, 0, sizeof sd->data);
    CMRpcPacketDescriptor w = recordAt(sd->data, 0);
    cmRpcPackByte(&w, 1);
    cmRpcPackByte(&w, 0);
    cmRpcPackUint16(&w, 0x8004);
    cmRpcPackZeroes(&w, 12);
    cmRpcPackUint32(&w, kHeader);
    cmRpcPackByte(&w, 2);
    cmRpcPackByte(&w, 0);
    cmRpcPackUint16(&w, 112);
    cmRpcPackUint32(&w, 4);
    struct {
        uint32_t mask;
        const uint8_t *sid;
        uint32_t size;
    } const aces[] = {{0x0002035B, kEveryoneSid, 12},
                      {0x000F07FF, kAdministratorsSid, 16},
                      {0x000F07FF, kAccountOperatorsSid, 16}};
    for (const auto &a : aces) {
        cmRpcPackByte(&w, CM_SD_ACE_ALLOWED);
        cmRpcPackByte(&w, 0);
        cmRpcPackUint16(&w, uint16_t(8 + a.size));
        cmRpcPackUint32(&w, a.mask);
        cmRpcPackBytes(&w, a.sid, a.size);
    }
    cmRpcPackByte(&w, CM_SD_ACE_ALLOWED);
    cmRpcPackByte(&w, 0);
    cmRpcPackUint16(&w, 36);
    cmRpcPackUint32(&w, 0x00020044);
    cmSdPackSidRid(&w, cmSdGetComputerSid(), rid);
    sd->length = uint32_t(w.current - sd->data);
    return 1;
}

}  // extern "C"
