// Internal: little-endian fields of descriptors held in wire layout, and the
// SID shapes the access decisions recognise.
#pragma once
#include "cmsd.h"

#include <cstring>

namespace sd {

inline uint16_t u16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t u32(const uint8_t *p)
{
    return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
}
inline void setU16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void setU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// Header offsets of the self-relative descriptor.
constexpr uint32_t kOwner = 4, kGroup = 8, kSacl = 12, kDacl = 16, kHeader = 20;
// Highest DACL offset that leaves room for the ACL header and one ACE.
constexpr uint32_t kMaxDaclOffset = 464;

// n bytes at offset lie inside the 512-byte area, without wrapping.
inline bool fits(uint32_t offset, uint32_t n)
{
    return offset <= CM_SD_MAX_SIZE && n <= CM_SD_MAX_SIZE - offset;
}

// A record cursor over the descriptor's 512 bytes, starting at offset.
inline CMRpcPacketDescriptor recordAt(uint8_t *data, uint32_t offset)
{
    CMRpcPacketDescriptor r;
    cmRpcSetDescriptor(&r, data, 0);
    r.length = CM_SD_MAX_SIZE;
    if (offset >= CM_SD_MAX_SIZE) {
        r.current = data + CM_SD_MAX_SIZE;
        r.overrun = 1;
    } else {
        r.current = data + offset;
    }
    return r;
}

// One ACE seen in place: its SID's bytes are within the ACE and the area.
struct AceView {
    const uint8_t *p;
    uint8_t type, flags;
    uint16_t size;
    uint32_t mask;
    const uint8_t *sid;
    uint32_t sidCount;  // sub-authorities that lie inside the ACE
    uint32_t rid() const { return sidCount ? u32(sid + 8 + 4 * (sidCount - 1)) : 0xFFFFFFFFu; }
    uint32_t sub(uint32_t i) const { return u32(sid + 8 + 4 * i); }
};

inline AceView viewAce(const uint8_t *data, uint32_t pos)
{
    AceView a{};
    a.p = data + pos;
    a.sid = a.p + 8;
    // Not even a whole ACE header and empty SID fit: size 0 ends every walk.
    if (!fits(pos, 16))
        return a;
    a.type = a.p[0];
    a.flags = a.p[1];
    a.size = u16(a.p + 2);
    a.mask = u32(a.p + 4);
    a.sid = a.p + 8;
    uint32_t room = a.size > 16 ? (a.size - 16) / 4 : 0;
    if (pos + a.size > CM_SD_MAX_SIZE)
        room = 0;
    a.sidCount = a.size >= 16 ? (a.sid[1] < room ? a.sid[1] : room) : 0;
    return a;
}

extern const uint8_t kEveryoneSid[12];
extern const uint8_t kBuiltinPrefix[12];
extern const uint8_t kAdministratorsSid[16];
extern const uint8_t kUsersSid[16];
extern const uint8_t kSystemSid[12];
extern const uint8_t kAccountOperatorsSid[16];

}  // namespace sd
