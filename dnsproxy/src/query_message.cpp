// What the road reads and edits in DNS messages, through the codec.
#include "query_message.h"

#include "hash_table.h"

#include <algorithm>
#include <cstring>

namespace dnsr {

Parsed::Parsed() : P_(dns_p_init(mem_.data(), mem_.size())) {}

bool Parsed::load(const uint8_t *msg, size_t len)
{
    return len >= DNS_HEADER_SIZE && dns_p_load(P_, msg, len) == 0;
}

bool question_parse(dns_packet *P, Question &q)
{
    // Only the question: an answer whose records are broken still names the
    // try it belongs to.
    uint16_t end;
    size_t n = 0;
    if (dns_p_count(P, DNS_S_QD) == 0 || dns_d_skip(DNS_HEADER_SIZE, P, &end) != 0 ||
        dns_d_copy(q.name, DNS_HEADER_SIZE, P, &n) != 0 || size_t(end) + 4 > P->end)
        return false;
    const unsigned char *data = dns_p_cdata(P);
    for (size_t i = 0; i < n; i++)
        if (q.name[i] >= 'A' && q.name[i] <= 'Z')
            q.name[i] = uint8_t(q.name[i] + 32);
    q.name_len = uint8_t(n);
    q.type = get16(data + end);
    q.klass = get16(data + end + 2);
    q.end = uint16_t(end + 4);
    return true;
}

bool question_same(const Question &a, const Question &b)
{
    return a.type == b.type && a.klass == b.klass && a.name_len == b.name_len &&
           memcmp(a.name, b.name, a.name_len) == 0;
}

bool question_text(dns_packet *P, std::string &text)
{
    char buf[DNS_D_MAXTEXT];
    size_t n = 0;
    if (dns_p_count(P, DNS_S_QD) == 0 || dns_d_expand(buf, sizeof buf, DNS_HEADER_SIZE, P, &n) != 0)
        return false;
    text.assign(buf, n);
    return true;
}

uint32_t CacheKeyTraits::hash(const CacheKey &k)
{
    // The fixed fields and the name's bytes; the zero tail adds nothing.
    uint16_t words[(12 + 256) / 2];
    size_t n = (12 + size_t(k.name_len) + 1) / 2;
    memcpy(words, &k, n * 2);
    // Fletcher's low half is a plain sum of the words, so names that differ
    // in a digit or two land in neighbouring buckets; the buckets are picked
    // from the low bits, so the bits are mixed first.
    uint32_t h = fletcher32(words, n);
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}

bool CacheKeyTraits::equal(const CacheKey &a, const CacheKey &b)
{
    return memcmp(&a, &b, 12) == 0 && memcmp(a.name, b.name, a.name_len) == 0;
}

CacheKey cache_key(uint8_t kind, int profile, const Question &q)
{
    CacheKey k;
    memset(&k, 0, sizeof k);
    k.kind = kind;
    k.name_len = q.name_len;
    k.type = q.type;
    k.klass = q.klass;
    k.profile = uint32_t(profile);
    memcpy(k.name, q.name, q.name_len);
    return k;
}

void msg_set_reply_flags(uint8_t *msg, unsigned rcode)
{
    msg[2] |= 0x80;
    msg[3] |= 0x80;
    if (rcode <= 15)
        msg[3] = uint8_t((msg[3] & 0xf0) | rcode);
}

size_t msg_truncate(uint8_t *msg, size_t len, const Question &q)
{
    if (len < q.end)
        return len;
    msg[2] |= 0x02;
    // QDCOUNT 1, the other counts 0.
    size_t at = 4;
    dnsc::Cursor out(msg, len, at);
    out.u16(1);
    out.u16(0);
    out.u16(0);
    out.u16(0);
    return q.end;
}

size_t msg_udp_limit(dns_packet *P)
{
    unsigned offered = dns_p_edns_size(P);
    if (!offered)
        return 512;
    return std::min<size_t>(std::max<size_t>(offered, 512), kMaxUdpMessage);
}

int64_t msg_min_answer_ttl(dns_packet *P)
{
    uint32_t ttl;
    return dns_p_min_answer_ttl(P, &ttl) > 0 ? int64_t(ttl) : -1;
}

bool msg_well_formed(dns_packet *P) { return dns_p_check(P) == 0; }

}  // namespace dnsr
