// What a descriptor grants a token, inheritance and the exclusive descriptor.
#include "cmsd.h"
#include "sd_bytes.h"

#include <algorithm>

using namespace sd;

namespace {

bool isEveryone(const AceView &a) { return a.size >= 20 && std::memcmp(a.sid, kEveryoneSid, 12) == 0; }
bool isBuiltin(const AceView &a) { return a.size >= 20 && std::memcmp(a.sid, kBuiltinPrefix, 12) == 0; }

// The ACE SID's first sub-authorities are the token domain's.
bool leadingMatch(const AceView &a, const CMSdDomainSid &domain)
{
    uint32_t n = std::min<uint32_t>(domain.count, CM_SD_MAX_SUBAUTHORITIES);
    if (a.sidCount <= n)
        return false;
    for (uint32_t i = 0; i < n; ++i)
        if (a.sub(i) != domain.subauthorities[i])
            return false;
    return true;
}

bool sameSubauthorities(const CMSdDomainSid &a, const CMSdDomainSid &b)
{
    if (a.count != b.count)
        return false;
    for (uint32_t i = 0; i < std::min<uint32_t>(a.count, CM_SD_MAX_SUBAUTHORITIES); ++i)
        if (a.subauthorities[i] != b.subauthorities[i])
            return false;
    return true;
}

bool tokenMatches(const AceView &a, const CMSdAccessToken *token)
{
    if (!token || token->ridCount == 0)
        return false;
    bool domainOk = isBuiltin(a) ? sameSubauthorities(token->domain, *cmSdGetComputerSid()) ||
                                       leadingMatch(a, token->domain)
                                 : leadingMatch(a, token->domain);
    if (!domainOk)
        return false;
    uint32_t rid = a.rid();
    uint32_t n = std::min<uint32_t>(token->ridCount, CM_SD_MAX_RIDS);
    for (uint32_t i = 0; i < n; ++i)
        if (token->rids[i] == rid)
            return true;
    return false;
}

bool hasRid(const CMSdAccessToken *token, uint32_t rid)
{
    if (!token)
        return false;
    for (uint32_t i = 0; i < std::min<uint32_t>(token->ridCount, CM_SD_MAX_RIDS); ++i)
        if (token->rids[i] == rid)
            return true;
    return false;
}

// Walks the DACL of a valid descriptor; visit returns false to stop.
template <typename Visit> void walkDacl(const CMSdSecurityDescriptor &sd, Visit visit)
{
    uint32_t dacl = u32(sd.data + kDacl);
    uint32_t count = u32(sd.data + dacl + 4);
    uint32_t pos = dacl + 8;
    for (uint32_t i = 0; i < count && pos + 8 <= CM_SD_MAX_SIZE; ++i) {
        AceView a = viewAce(sd.data, pos);
        if (a.size < CM_SD_MIN_ACE_SIZE || !visit(a))
            return;
        pos += a.size;
    }
}

bool loadBlob(const CMBlob *blob, CMSdSecurityDescriptor &sd)
{
    if (!blob || !blob->data || blob->len > CM_SD_MAX_SIZE || blob->len < kHeader)
        return false;
    std::memset(sd.data, 0, sizeof sd.data);
    std::memcpy(sd.data, blob->data, blob->len);
    sd.length = blob->len;
    return cmSdIsValid(&sd) != 0;
}

void putDomainRid(CMRpcPacketDescriptor *w, const CMSdDomainSid &domain, uint32_t rid, uint32_t forceCount)
{
    CMSdDomainSid sid = domain;
    if (forceCount) {
        for (uint32_t i = sid.count; i < forceCount && i < CM_SD_MAX_SUBAUTHORITIES; ++i)
            sid.subauthorities[i] = 0;
        sid.count = uint8_t(forceCount);
    }
    cmSdPackSidRid(w, &sid, rid);
}

}  // namespace

extern "C" {

int cmSdHasAccess(const CMSdAccessToken *token, const CMSdSecurityDescriptor *sd, uint32_t desired)
{
    if ((desired & (CM_SD_WRITE_DAC | CM_SD_WRITE_OWNER | CM_SD_SYNCHRONIZE)) &&
        hasRid(token, CM_SD_RID_ADMINISTRATORS))
        return 1;
    if (!sd)
        return 0;
    uint32_t dacl = u32(sd->data + kDacl);
    if (dacl < 1 || dacl > kMaxDaclOffset)
        return 0;
    uint32_t end = dacl + u16(sd->data + dacl + 2);
    if (end > CM_SD_MAX_SIZE)
        return 0;
    CMSdSecurityDescriptor cut = *sd;
    cut.length = end;
    if (!cmSdIsValid(&cut) || u32(sd->data + dacl + 4) == 0)
        return 0;
    int result = 0;
    walkDacl(cut, [&](const AceView &a) {
        bool holds = (a.mask & desired) == desired;
        if (isEveryone(a)) {
            if (holds) {
                if (a.type == CM_SD_ACE_DENIED)
                    return false;
                result = 1;
            }
        } else if (holds && a.type == CM_SD_ACE_ALLOWED && tokenMatches(a, token)) {
            result = 1;
        }
        return true;
    });
    return result;
}

uint32_t cmSdGetAccess(const CMBlob *blob, const CMSdAccessToken *token)
{
    CMSdSecurityDescriptor sd;
    if (!loadBlob(blob, sd))
        return 0xFFFFFFFFu;
    uint32_t granted = 0;
    walkDacl(sd, [&](const AceView &a) {
        if (isEveryone(a) || tokenMatches(a, token)) {
            if (a.type == CM_SD_ACE_ALLOWED)
                granted |= a.mask;
            else if (a.type == CM_SD_ACE_DENIED)
                granted &= ~a.mask;
        }
        return true;
    });
    uint32_t owner = u32(sd.data + kOwner);
    if (owner && token && token->ridCount && fits(owner, 8)) {
        uint32_t count = std::min<uint32_t>(sd.data[owner + 1], CM_SD_MAX_SUBAUTHORITIES);
        uint32_t last = owner + 8 + 4 * (count ? count - 1 : 0);
        if (count && fits(last, 4) && u32(sd.data + last) == token->rids[0])
            granted |= CM_SD_READ_CONTROL | CM_SD_WRITE_DAC;
    }
    return granted;
}

uint32_t cmSdInherit(const CMBlob *parentBlob, CMBlob *child, const CMSdAccessToken *token)
{
    CMSdSecurityDescriptor parent;
    if (!child || !child->data || !loadBlob(parentBlob, parent))
        return 0;
    CMRpcPacketDescriptor w;
    cmRpcSetDescriptor(&w, child->data, 0);
    w.length = std::min<uint32_t>(child->len, CM_SD_MAX_SIZE);
    uint8_t *out = child->data;
    uint32_t dacl = u32(parent.data + kDacl);
    cmRpcPackBytes(&w, parent.data, kHeader);
    cmRpcPackZeroes(&w, dacl - kHeader);
    // The DACL: inheritable ACEs only; its size is what it now holds.
    cmRpcPackByte(&w, 2);
    cmRpcPackByte(&w, 0);
    cmRpcPackUint16(&w, 0);
    cmRpcPackUint32(&w, 0);
    uint32_t copied = 0;
    walkDacl(parent, [&](const AceView &a) {
        if (!(a.flags & (CM_SD_OBJECT_INHERIT | CM_SD_CONTAINER_INHERIT)))
            return true;
        uint8_t *at = w.current;
        cmRpcPackBytes(&w, a.p, a.size);
        if (!w.overrun && (a.flags & CM_SD_NO_PROPAGATE))
            at[1] = uint8_t(a.flags & ~(CM_SD_OBJECT_INHERIT | CM_SD_CONTAINER_INHERIT));
        ++copied;
        return !w.overrun;
    });
    if (w.overrun)
        return 0;
    setU16(out + dacl + 2, uint16_t(w.current - (out + dacl)));
    setU32(out + dacl + 4, copied);
    // The SACL is not carried; owner and group follow the DACL.
    setU32(out + kSacl, 0);
    setU32(out + kOwner, 0);
    setU32(out + kGroup, 0);
    uint32_t parentOwner = u32(parent.data + kOwner), parentGroup = u32(parent.data + kGroup);
    if (token) {
        setU32(out + kOwner, uint32_t(w.current - out));
        putDomainRid(&w, token->domain, token->ridCount ? token->rids[0] : 0, 0);
        setU32(out + kGroup, uint32_t(w.current - out));
        putDomainRid(&w, token->domain, CM_SD_RID_DOMAIN_USERS, 0);
    } else if (parentOwner) {
        for (auto [header, offset] : {std::pair{kOwner, parentOwner}, std::pair{kGroup, parentGroup}}) {
            if (!offset)
                continue;
            CMRpcPacketDescriptor r = recordAt(parent.data, offset);
            CMSdDomainSid sid;
            cmSdParseSid(&r, &sid);
            if (r.overrun)
                continue;
            setU32(out + header, uint32_t(w.current - out));
            cmSdPackSid(&w, &sid);
        }
    }
    if (w.overrun)
        return 0;
    child->len = uint32_t(w.current - out);
    return child->len;
}

int cmSdCreateExclusiveSecurityDescriptor(const CMSdAccessToken *token, CMSdSecurityDescriptor *sd)
{
    std::memset(sd->data, 0, sizeof sd->data);
    CMRpcPacketDescriptor w = recordAt(sd->data, 0);
    uint32_t rid = token->ridCount ? token->rids[0] : 0;
    cmRpcPackByte(&w, 1);
    cmRpcPackByte(&w, 0);
    cmRpcPackUint16(&w, 0x8004);
    cmRpcPackUint32(&w, 88);
    cmRpcPackUint32(&w, 0);
    cmRpcPackUint32(&w, 0);
    cmRpcPackUint32(&w, kHeader);
    // DACL: Administrators and the user, full control, inherited by all.
    cmRpcPackByte(&w, 2);
    cmRpcPackByte(&w, 0);
    cmRpcPackUint16(&w, 68);
    cmRpcPackUint32(&w, 2);
    cmRpcPackBytes(&w, "\x00\x03\x18\x00", 4);
    cmRpcPackUint32(&w, CM_SD_FULL_CONTROL);
    cmRpcPackBytes(&w, kAdministratorsSid, 16);
    cmRpcPackBytes(&w, "\x00\x03\x24\x00", 4);
    cmRpcPackUint32(&w, CM_SD_FULL_CONTROL);
    putDomainRid(&w, token->domain, rid, 4);
    // Owner at 88, group right after it.
    putDomainRid(&w, token->domain, rid, 4);
    setU32(sd->data + kGroup, uint32_t(w.current - sd->data));
    putDomainRid(&w, token->domain, CM_SD_RID_DOMAIN_USERS, 4);
    sd->length = uint32_t(w.current - sd->data);
    return 1;
}

int cmSdIsExclusiveSecurityDescriptor(const CMSdAccessToken *token, const CMSdSecurityDescriptor *sd)
{
    uint32_t dacl = u32(sd->data + kDacl);
    if (dacl < 1 || dacl > kMaxDaclOffset || !token)
        return 0;
    uint32_t rid = token->ridCount ? token->rids[0] : 0xFFFFFFFFu;
    uint32_t owner = u32(sd->data + kOwner);
    if (owner) {
        if (!fits(owner, 8))
            return 0;
        uint32_t count = std::min<uint32_t>(sd->data[owner + 1], CM_SD_MAX_SUBAUTHORITIES);
        uint32_t last = owner + 8 + 4 * (count ? count - 1 : 0);
        if (!count || !fits(last, 4) || u32(sd->data + last) != rid)
            return 0;
    }
    uint32_t count = u32(sd->data + dacl + 4);
    if (count == 0)
        return 0;
    const uint32_t domainCount = std::min<uint32_t>(token->domain.count, CM_SD_MAX_SUBAUTHORITIES);
    uint32_t pos = dacl + 8;
    for (uint32_t i = 0; i < count; ++i) {
        if (!fits(pos, 16))
            return 0;
        AceView a = viewAce(sd->data, pos);
        uint32_t need = CM_SD_DELETE | CM_SD_WRITE_DAC | CM_SD_WRITE_OWNER | CM_SD_SYNCHRONIZE;
        if (a.type != CM_SD_ACE_ALLOWED || (a.mask & need) != need || a.sid[0] != 1)
            return 0;
        if (a.size == 24) {
            if (a.sid[1] != 2 || a.sidCount != 2 || a.sub(0) != 32 || a.sub(1) != CM_SD_RID_ADMINISTRATORS)
                return 0;
        } else if (a.size == 36) {
            if (a.sid[1] != domainCount + 1 || a.sidCount != domainCount + 1)
                return 0;
            for (uint32_t k = 0; k < domainCount; ++k)
                if (a.sub(k) != token->domain.subauthorities[k])
                    return 0;
            if (a.rid() != rid)
                return 0;
        } else {
            return 0;
        }
        pos += a.size;
    }
    return 1;
}

}  // extern "C"
