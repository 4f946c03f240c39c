// What the road reads and edits in DNS messages: the first question, the
// cache key, reply flags, truncation, the EDNS payload size and TTLs.
#include "query_road.h"

#include <dns.h>

#include <algorithm>
#include <cstring>

namespace dnsr {

namespace {

// Offset past the name at off (labels or a pointer); 0 when malformed.
size_t skip_name(const uint8_t *msg, size_t len, size_t off)
{
	while (off < len) {
		uint8_t l = msg[off];
		if (l == 0)
			return off + 1;
		if ((l & 0xc0) == 0xc0)
			return off + 2 <= len ? off + 2 : 0;
		if (l > 63)
			return 0;
		off += 1 + l;
	}
	return 0;
}

// Walks the resource records after the question section.
struct RecordWalk {
	const uint8_t *msg;
	size_t len;
	size_t off = 12;
	unsigned left[3]; // answer, authority, additional
	int section = 0;
	bool bad = false;

	RecordWalk(const uint8_t *m, size_t l) : msg(m), len(l)
	{
		if (len < 12) {
			bad = true;
			return;
		}
		left[0] = rd16(msg + 6);
		left[1] = rd16(msg + 8);
		left[2] = rd16(msg + 10);
		for (unsigned q = rd16(msg + 4); q > 0 && !bad; q--) {
			size_t end = skip_name(msg, len, off);
			if (!end || end + 4 > len)
				bad = true;
			off = end + 4;
		}
	}
	struct Record {
		int sec; // 0 answer, 1 authority, 2 additional
		uint16_t type, klass;
		uint32_t ttl;
		size_t rdata, rdlen;
	};
	// The next record: its section, TYPE, CLASS, TTL and RDATA bounds.
	bool next(Record &r)
	{
		while (section < 3 && left[section] == 0)
			section++;
		if (bad || section >= 3)
			return false;
		left[section]--;
		size_t end = skip_name(msg, len, off);
		if (!end || end + 10 > len) {
			bad = true;
			return false;
		}
		r.sec = section;
		r.type = rd16(msg + end);
		r.klass = rd16(msg + end + 2);
		r.ttl = uint32_t(msg[end + 4]) << 24 | uint32_t(msg[end + 5]) << 16 | uint32_t(msg[end + 6]) << 8 | msg[end + 7];
		r.rdlen = rd16(msg + end + 8);
		r.rdata = end + 10;
		if (r.rdata + r.rdlen > len) {
			bad = true;
			return false;
		}
		off = r.rdata + r.rdlen;
		return true;
	}
};

} // namespace

bool question_parse(const uint8_t *msg, size_t len, Question &q)
{
	if (len < 12 || rd16(msg + 4) == 0)
		return false;
	size_t off = 12, n = 0;
	for (;;) {
		if (off >= len)
			return false;
		uint8_t l = msg[off];
		if (l > 63 || n + 1 + l > sizeof q.name || off + 1 + l > len)
			return false;
		q.name[n++] = l;
		off++;
		if (l == 0)
			break;
		for (unsigned i = 0; i < l; i++) {
			uint8_t c = msg[off++];
			q.name[n++] = (c >= 'A' && c <= 'Z') ? uint8_t(c + 32) : c;
		}
	}
	if (off + 4 > len)
		return false;
	q.name_len = uint8_t(n);
	q.type = rd16(msg + off);
	q.klass = rd16(msg + off + 2);
	q.end = uint16_t(off + 4);
	return true;
}

bool question_same(const Question &a, const Question &b)
{
	return a.type == b.type && a.klass == b.klass && a.name_len == b.name_len &&
	       memcmp(a.name, b.name, a.name_len) == 0;
}

bool question_text(const uint8_t *msg, size_t len, std::string &text)
{
	Question q;
	if (!question_parse(msg, len, q))
		return false;
	alignas(dns_packet) unsigned char mem[dns_p_calcsize(12 + 256)];
	dns_packet *p = dns_p_init(mem, sizeof mem);
	if (!p || dns_p_load(p, msg, q.end - 4u) != 0)
		return false;
	char buf[DNS_D_MAXTEXT];
	size_t n = 0;
	if (dns_d_expand(buf, sizeof buf, 12, p, &n) != 0)
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
	wr16(msg + 4, 1);
	wr16(msg + 6, 0);
	wr16(msg + 8, 0);
	wr16(msg + 10, 0);
	return q.end;
}

size_t msg_udp_limit(const uint8_t *msg, size_t len)
{
	RecordWalk w(msg, len);
	RecordWalk::Record r;
	while (w.next(r))
		if (r.sec == 2 && r.type == 41)
			return std::min<size_t>(std::max<size_t>(r.klass, 512), kMaxUdpMessage);
	return 512;
}

int64_t msg_min_answer_ttl(const uint8_t *msg, size_t len)
{
	RecordWalk w(msg, len);
	RecordWalk::Record r;
	int64_t least = -1;
	while (w.next(r) && r.sec == 0) {
		int64_t t = r.ttl & 0x7fffffffu;
		if (least < 0 || t < least)
			least = t;
	}
	return least;
}

} // namespace dnsr
