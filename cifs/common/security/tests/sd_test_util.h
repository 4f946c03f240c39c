// Building descriptors byte by byte for the descriptor tests.
#ifndef SD_TEST_UTIL_H
#define SD_TEST_UTIL_H

#include "cmsd.h"

#include "fw_test/bytes.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace sdtest {

using fw_test::Bytes;

using fw_test::get_le16;
using fw_test::get_le32;
using fw_test::put_le16;
using fw_test::put_le32;

// S-<revision>-<authority>-<subs...>
inline Bytes sid(uint8_t authority, std::initializer_list<uint32_t> subs)
{
    Bytes b{1, uint8_t(subs.size()), 0, 0, 0, 0, 0, authority};
    for (uint32_t s : subs)
        put_le32(b, s);
    return b;
}

inline Bytes ace(uint8_t type, uint8_t flags, uint32_t mask, const Bytes &s, uint16_t size = 0)
{
    Bytes b{type, flags};
    put_le16(b, size ? size : uint16_t(8 + s.size()));
    put_le32(b, mask);
    b.insert(b.end(), s.begin(), s.end());
    return b;
}

inline Bytes acl(std::initializer_list<Bytes> aces, uint32_t count = UINT32_MAX)
{
    Bytes body;
    for (const Bytes &a : aces)
        body.insert(body.end(), a.begin(), a.end());
    Bytes b{2, 0};
    put_le16(b, uint16_t(8 + body.size()));
    put_le32(b, count == UINT32_MAX ? uint32_t(aces.size()) : count);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// A self-relative descriptor with parts in the order given, from offset 20.
struct Parts {
    Bytes owner, group, sacl, dacl;
    uint16_t control = 0x8004;
};

inline Bytes descriptor(const Parts &p)
{
    Bytes b{1, 0};
    put_le16(b, p.control);
    b.resize(20, 0);
    auto place = [&](const Bytes &part, uint32_t header) {
        if (part.empty())
            return;
        uint32_t at = uint32_t(b.size());
        std::memcpy(&b[header], &at, 4);
        b.insert(b.end(), part.begin(), part.end());
    };
    place(p.owner, 4);
    place(p.group, 8);
    place(p.sacl, 12);
    place(p.dacl, 16);
    return b;
}

inline int parse(const Bytes &wire, CMSdSecurityDescriptor &sd)
{
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, const_cast<uint8_t *>(wire.data()), 0);
    d.length = uint32_t(wire.size());
    return cmSdParseSecurityDescriptor(&d, &sd);
}

inline CMSdSecurityDescriptor record(const Bytes &wire)
{
    CMSdSecurityDescriptor sd{};
    if (!wire.empty())
        std::memcpy(sd.data, wire.data(), wire.size() < CM_SD_MAX_SIZE ? wire.size() : CM_SD_MAX_SIZE);
    sd.length = uint32_t(wire.size());
    return sd;
}

inline CMSdAccessToken token(const CMSdDomainSid &domain, std::initializer_list<uint32_t> rids)
{
    CMSdAccessToken t{};
    t.domain = domain;
    for (uint32_t r : rids)
        t.rids[t.ridCount++] = r;
    return t;
}

inline CMSdDomainSid domainSid(std::initializer_list<uint32_t> subs)
{
    CMSdDomainSid s{};
    s.revision = 1;
    s.authority[5] = 5;
    for (uint32_t v : subs)
        s.subauthorities[s.count++] = v;
    return s;
}

}  // namespace sdtest

#endif
