// What the road reads and edits in DNS messages: the first question, the
// cache key, reply flags, truncation, the EDNS payload size and TTLs. Every
// walk over a message's records goes through the codec.
#pragma once

#include <dns.h>
#include <dns_wire.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dnsr {

constexpr size_t kMaxUdpMessage = 4096;
constexpr size_t kMaxTcpMessage = 65535;
constexpr size_t kOptionRecordSize = 15;  // root name, fixed fields, 4-byte option
constexpr uint16_t kOptionType = 65517;

using dnsc::get16;
using dnsc::put16;

// A message loaded into the codec's packet record, room for the largest TCP
// message: loaded once, then walked as often as the road needs.
class Parsed {
public:
    Parsed();
    Parsed(const Parsed &) = delete;
    Parsed &operator=(const Parsed &) = delete;
    // False when the message is shorter than a header or too long.
    bool load(const uint8_t *msg, size_t len);
    dns_packet *packet() { return P_; }

private:
    alignas(dns_packet) std::array<unsigned char, dns_p_calcsize(kMaxTcpMessage + kOptionRecordSize)> mem_;
    dns_packet *P_;
};

// The first question of a message: its name in wire form, lower-cased, and
// the full TYPE and CLASS.
struct Question {
    uint8_t name[255];
    uint8_t name_len = 0;
    uint16_t type = 0;
    uint16_t klass = 0;
    uint16_t end = 0;  // offset past the question
};
// False when the message has no question or does not parse.
bool question_parse(dns_packet *P, Question &q);
bool question_same(const Question &a, const Question &b);
// Dotted text of the question name ("example.com."), escaped as the codec does.
bool question_text(dns_packet *P, std::string &text);

// Cache key: transport kind, profile, full TYPE and CLASS, and the name in
// wire form (lower-cased): A and CAA, IN and CH never share an entry.
struct CacheKey {
    uint8_t kind;
    uint8_t name_len;
    uint16_t type;
    uint16_t klass;
    uint16_t pad;
    uint32_t profile;
    uint8_t name[256];  // zero after name_len
};
struct CacheKeyTraits {
    static uint32_t hash(const CacheKey &k);
    static bool equal(const CacheKey &a, const CacheKey &b);
};
CacheKey cache_key(uint8_t kind, int profile, const Question &q);

// Header-only replies and edits in place.
void msg_set_reply_flags(uint8_t *msg, unsigned rcode);  // QR, RA, and RCODE when rcode <= 15
// Cuts a message to its header and first question with TC set; the new length.
size_t msg_truncate(uint8_t *msg, size_t len, const Question &q);
// The UDP payload a client takes: 512, or what its EDNS record offers.
size_t msg_udp_limit(dns_packet *P);
// Least TTL of the answer-section records in seconds; -1 without any.
int64_t msg_min_answer_ttl(dns_packet *P);
// Every section, name and record of the message parses.
bool msg_well_formed(dns_packet *P);

}  // namespace dnsr
