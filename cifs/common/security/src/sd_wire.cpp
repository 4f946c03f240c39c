// Security descriptors and SIDs between the wire and the 512-byte record.
#include "cmsd.h"
#include "sd_bytes.h"

#include <algorithm>

namespace sd {

const uint8_t kEveryoneSid[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const uint8_t kBuiltinPrefix[12] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0};
const uint8_t kAdministratorsSid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const uint8_t kUsersSid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
const uint8_t kSystemSid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const uint8_t kAccountOperatorsSid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x24, 2, 0, 0};

}  // namespace sd

using namespace sd;

namespace {

void parsePart(CMRpcPacketDescriptor *wire, CMRpcPacketDescriptor *record, bool isSid)
{
    if (isSid) {
        CMSdDomainSid sid;
        cmSdParseSid(wire, &sid);
        cmSdPackSid(record, &sid);
    } else {
        cmSdParseAcl(wire, record);
    }
}

}  // namespace

extern "C" {

void cmSdParseSid(CMRpcPacketDescriptor *d, CMSdDomainSid *sid)
{
    std::memset(sid, 0, sizeof *sid);
    cmRpcParseByte(d, &sid->revision);
    uint8_t count = 0;
    cmRpcParseByte(d, &count);
    // Only six fit the record. Reading six of a longer SID would leave the
    // cursor inside it and everything after it misread: refuse it instead.
    if (count > CM_SD_MAX_SUBAUTHORITIES) {
        d->overrun = 1;
        d->current = d->origin + d->length;
        return;
    }
    sid->count = count;
    cmRpcParseBytes(d, sid->authority, 6);
    for (uint32_t i = 0; i < sid->count; ++i)
        cmRpcParseUint32(d, &sid->subauthorities[i]);
}

void cmSdPackSid(CMRpcPacketDescriptor *d, const CMSdDomainSid *sid)
{
    uint8_t count = std::min<uint8_t>(sid->count, CM_SD_MAX_SUBAUTHORITIES);
    cmRpcPackByte(d, sid->revision);
    cmRpcPackByte(d, count);
    cmRpcPackBytes(d, sid->authority, 6);
    for (uint32_t i = 0; i < count; ++i)
        cmRpcPackUint32(d, sid->subauthorities[i]);
}

void cmSdPackSidRid(CMRpcPacketDescriptor *d, const CMSdDomainSid *sid, uint32_t rid)
{
    uint8_t count = std::min<uint8_t>(sid->count, CM_SD_MAX_SUBAUTHORITIES);
    cmRpcPackByte(d, sid->revision);
    cmRpcPackByte(d, uint8_t(count + 1));
    cmRpcPackBytes(d, sid->authority, 6);
    for (uint32_t i = 0; i < count; ++i)
        cmRpcPackUint32(d, sid->subauthorities[i]);
    cmRpcPackUint32(d, rid);
}

void cmSdParseAce(CMRpcPacketDescriptor *d, CMSdAce *ace)
{
    cmRpcParseByte(d, &ace->type);
    cmRpcParseByte(d, &ace->flags);
    cmRpcParseUint16(d, &ace->size);
    cmRpcParseUint32(d, &ace->mask);
    cmSdParseSid(d, &ace->sid);
}

void cmSdPackAce(CMRpcPacketDescriptor *d, const CMSdAce *ace)
{
    cmRpcPackByte(d, ace->type);
    cmRpcPackByte(d, ace->flags);
    cmRpcPackUint16(d, ace->size);
    cmRpcPackUint32(d, ace->mask);
    cmSdPackSid(d, &ace->sid);
}

void cmSdParseAcl(CMRpcPacketDescriptor *wire, CMRpcPacketDescriptor *record)
{
    uint16_t revision = 0, size = 0;
    uint32_t count = 0;
    cmRpcParseUint16(wire, &revision);
    cmRpcParseUint16(wire, &size);
    cmRpcParseUint32(wire, &count);
    cmRpcPackUint16(record, revision);
    cmRpcPackUint16(record, size);
    cmRpcPackUint32(record, count);
    // Each ACE takes at least 8 bytes on both sides: a count that does not
    // fit ends on an overrun long before it is reached.
    for (uint32_t i = 0; i < count && !wire->overrun && !record->overrun; ++i) {
        CMSdAce ace;
        cmSdParseAce(wire, &ace);
        cmSdPackAce(record, &ace);
    }
}

void cmSdPackAcl(CMRpcPacketDescriptor *wire, CMRpcPacketDescriptor *record)
{
    uint16_t revision = 0, size = 0;
    uint32_t count = 0;
    cmRpcParseUint16(record, &revision);
    cmRpcParseUint16(record, &size);
    cmRpcParseUint32(record, &count);
    cmRpcPackUint16(wire, revision);
    cmRpcPackUint16(wire, size);
    cmRpcPackUint32(wire, count);
    for (uint32_t i = 0; i < count && !wire->overrun && !record->overrun; ++i) {
        CMSdAce ace;
        cmSdParseAce(record, &ace);
        cmSdPackAce(wire, &ace);
    }
}

int cmSdParseSecurityDescriptor(CMRpcPacketDescriptor *d, CMSdSecurityDescriptor *sd)
{
    std::memset(sd->data, 0, sizeof sd->data);
    sd->length = 0;
    uint8_t *start = d->current;
    cmRpcParseBytes(d, sd->data, kHeader);
    if (cmRpcIsOverrun(d))
        return 0;
    uint8_t *end = d->current;
    struct Part {
        uint32_t header;
        bool sid;
    } const parts[] = {{kOwner, true}, {kGroup, true}, {kSacl, false}, {kDacl, false}};
    for (const Part &part : parts) {
        uint32_t offset = u32(sd->data + part.header);
        if (offset == 0)
            continue;
        // A part inside the header or past the record would overwrite or
        // leave it: refuse rather than store.
        if (offset < kHeader || offset >= CM_SD_MAX_SIZE ||
            offset > uint32_t(d->origin + d->length - start)) {
            std::memset(sd->data, 0, sizeof sd->data);
            return 0;
        }
        d->current = start + offset;
        CMRpcPacketDescriptor record = recordAt(sd->data, offset);
        parsePart(d, &record, part.sid);
        if (cmRpcIsOverrun(d) || record.overrun) {
            std::memset(sd->data, 0, sizeof sd->data);
            return 0;
        }
        end = std::max(end, d->current);
    }
    // The furthest part ends the descriptor, so an owner placed after the
    // DACL is kept whole.
    d->current = end;
    sd->length = uint32_t(end - start);
    return 1;
}

void cmSdPackSecurityDescriptor(CMRpcPacketDescriptor *d, CMSdSecurityDescriptor *sd, uint32_t information)
{
    uint8_t *start = d->current;
    const uint32_t overrunBefore = d->overrun;
    cmRpcPackUint16(d, uint16_t(sd->data[0] | sd->data[1] << 8));
    cmRpcPackUint16(d, u16(sd->data + 2));
    cmRpcPackZeroes(d, 16);
    uint8_t *furthest = d->current;
    bool written = false;
    struct Part {
        uint32_t bit, header;
        bool sid;
    } const parts[] = {{CM_SD_OWNER, kOwner, true},
                       {CM_SD_GROUP, kGroup, true},
                       {CM_SD_DACL, kDacl, false},
                       {CM_SD_SACL, kSacl, false}};
    for (const Part &part : parts) {
        uint32_t offset = u32(sd->data + part.header);
        if (!(information & part.bit) || offset == 0 || cmRpcIsOverrun(d))
            continue;
        uint32_t at = uint32_t(d->current - start);
        if (start + part.header + 4 <= d->origin + d->length)
            setU32(start + part.header, at);
        CMRpcPacketDescriptor record = recordAt(sd->data, offset);
        if (part.sid) {
            CMSdDomainSid sid;
            cmSdParseSid(&record, &sid);
            cmSdPackSid(d, &sid);
        } else {
            cmSdPackAcl(d, &record);
        }
        written = true;
        furthest = std::max(furthest, d->current);
    }
    if (!written) {
        // Only what this call wrote is taken back; an earlier overrun stays.
        d->current = start;
        d->overrun = overrunBefore;
        if (information & (CM_SD_OWNER | CM_SD_GROUP | CM_SD_DACL | CM_SD_SACL)) {
            cmRpcPackZeroes(d, 4);
        } else {
            static const uint8_t empty[kHeader] = {1, 0, 0x00, 0x80};
            cmRpcPackBytes(d, empty, sizeof empty);
        }
        furthest = d->current;
    }
    sd->length = uint32_t(furthest - start);
}

int cmSdIsValid(const CMSdSecurityDescriptor *sd)
{
    if (sd->length > CM_SD_MAX_SIZE)
        return 0;
    uint32_t dacl = u32(sd->data + kDacl);
    if (dacl < 1 || dacl > kMaxDaclOffset)
        return 0;
    uint32_t count = u32(sd->data + dacl + 4);
    if (count == 0)
        return 1;
    uint32_t pos = dacl + 8;
    for (uint32_t i = 0; i < count; ++i) {
        if (pos + 4 > CM_SD_MAX_SIZE)
            return 0;
        uint16_t size = u16(sd->data + pos + 2);
        if (size < CM_SD_MIN_ACE_SIZE || size > CM_SD_MAX_ACE_SIZE || pos + size > CM_SD_MAX_SIZE)
            return 0;
        pos += size;
    }
    return 1;
}

int cmSdIsAnySid(const CMSdDomainSid *sid) { return sid->count == 1 && sid->subauthorities[0] == 32; }

uint32_t cmSdGetRidType(uint32_t rid)
{
    switch (rid) {
    case CM_SD_RID_ADMINISTRATORS:
    case CM_SD_RID_USERS:
    case CM_SD_RID_GUESTS:
        return 4;
    case CM_SD_RID_DOMAIN_ADMINS:
    case CM_SD_RID_DOMAIN_USERS:
    case CM_SD_RID_DOMAIN_GUESTS:
        return 2;
    default:
        return 1;
    }
}

const uint8_t *cmSdGetEveryoneGroupACE(void) { return kEveryoneSid; }
const uint8_t *cmSdGetAdministratorsGroupACE(void) { return kAdministratorsSid; }
const uint8_t *cmSdGetUsersGroupACE(void) { return kUsersSid; }

}  // extern "C"
