// The message record: header, section bounds and appending records.
#include "dns_internal.h"

#include <memory>
#include <new>

using namespace dnsc;

namespace {

// Offsets are 16-bit, so a message never passes 65535 bytes.
constexpr size_t kMaxMessage = 65535;

int section_index(unsigned section)
{
	switch (section) {
	case DNS_S_QD:
		return 0;
	case DNS_S_AN:
		return 1;
	case DNS_S_NS:
		return 2;
	case DNS_S_AR:
		return 3;
	default:
		return -1;
	}
}

uint16_t count_at(const dns_packet *P, int idx) { return get16(dns_p_cdata(P) + 4 + 2 * idx); }

// Computes the four section bounds once from the header counts.
int study(dns_packet *P)
{
	if (P->memo_state == 1)
		return 0;
	if (P->memo_state < 0)
		return P->memo_state;
	int rc = 0;
	size_t pos = DNS_HEADER_SIZE;
	if (P->end < DNS_HEADER_SIZE)
		rc = DNS_EILLEGAL;
	for (int s = 0; s < 4 && rc == 0; s++) {
		P->memo[s].base = uint16_t(pos);
		for (unsigned n = count_at(P, s); n > 0 && rc == 0; n--) {
			uint16_t next;
			if ((rc = dns_d_skip(uint16_t(pos), P, &next)) < 0)
				break;
			pos = next;
			if (s == 0) {
				pos += 4;
			} else {
				if (pos + 10 > P->end) {
					rc = DNS_EILLEGAL;
					break;
				}
				pos += 10 + get16(dns_p_cdata(P) + pos + 8);
			}
			if (pos > P->end)
				rc = DNS_EILLEGAL;
		}
		P->memo[s].end = uint16_t(pos);
	}
	P->memo_state = rc == 0 ? 1 : rc;
	return rc;
}

// The index of a section in a message whose bounds are known, or an error.
int studied_section(dns_packet *P, unsigned section)
{
	int idx = section_index(section);
	if (idx < 0)
		return DNS_EILLEGAL;
	int rc = study(P);
	return rc < 0 ? rc : idx;
}

} // namespace

extern "C" unsigned char *dns_p_data(dns_packet *P) { return reinterpret_cast<unsigned char *>(P) + offsetof(dns_packet, u.data); }

extern "C" const unsigned char *dns_p_cdata(const dns_packet *P)
{
	return reinterpret_cast<const unsigned char *>(P) + offsetof(dns_packet, u.data);
}

extern "C" dns_packet *dns_p_init(void *mem, size_t size)
{
	if (!mem || size < dns_p_calcsize(DNS_HEADER_SIZE))
		return nullptr;
	auto *P = new (mem) dns_packet;
	memset(P->dict, 0, sizeof P->dict);
	memset(P->memo, 0, sizeof P->memo);
	P->memo_state = 0;
	P->size = size - offsetof(dns_packet, u.data);
	if (P->size > kMaxMessage)
		P->size = kMaxMessage;
	P->end = DNS_HEADER_SIZE;
	memset(dns_p_data(P), 0, DNS_HEADER_SIZE);
	return P;
}

extern "C" int dns_p_load(dns_packet *P, const void *wire, size_t len)
{
	if (len > P->size)
		return DNS_ENOBUFS;
	memcpy(dns_p_data(P), wire, len);
	P->end = len;
	memset(P->dict, 0, sizeof P->dict);
	P->memo_state = 0;
	return 0;
}

extern "C" dns_packet *dns_p_copy(dns_packet *dst, const dns_packet *src)
{
	if (dst->size < src->end)
		return nullptr;
	memcpy(dns_p_data(dst), dns_p_cdata(src), src->end);
	dst->end = src->end;
	memcpy(dst->dict, src->dict, sizeof dst->dict);
	dst->memo_state = 0;
	return dst;
}

extern "C" uint16_t dns_p_id(const dns_packet *P) { return get16(dns_p_cdata(P)); }
extern "C" void dns_p_setid(dns_packet *P, uint16_t id) { put16(dns_p_data(P), id); }
extern "C" uint16_t dns_p_flags(const dns_packet *P) { return get16(dns_p_cdata(P) + 2); }
extern "C" void dns_p_setflags(dns_packet *P, uint16_t flags) { put16(dns_p_data(P) + 2, flags); }
extern "C" unsigned dns_p_opcode(const dns_packet *P) { return (dns_p_flags(P) >> 11) & 0xf; }
extern "C" unsigned dns_p_rcode(const dns_packet *P) { return dns_p_flags(P) & 0xf; }

extern "C" unsigned dns_p_count(const dns_packet *P, unsigned sections)
{
	unsigned n = 0;
	for (int s = 0; s < 4; s++)
		if (sections & (1u << s))
			n += count_at(P, s);
	return n;
}

extern "C" int dns_p_section(dns_packet *P, dns_section section, uint16_t *base, uint16_t *end)
{
	int idx = studied_section(P, section);
	if (idx < 0)
		return idx;
	*base = P->memo[idx].base;
	*end = P->memo[idx].end;
	return 0;
}

extern "C" int dns_rr_parse(dns_rr *rr, uint16_t src, dns_packet *P)
{
	int rc = study(P);
	if (rc < 0)
		return rc;
	int idx = -1;
	for (int s = 0; s < 4; s++)
		if (src >= P->memo[s].base && src < P->memo[s].end)
			idx = s;
	if (idx < 0)
		return DNS_EILLEGAL;
	uint16_t next;
	if ((rc = dns_d_skip(src, P, &next)) < 0)
		return rc;
	const unsigned char *data = dns_p_cdata(P);
	*rr = dns_rr{};
	rr->section = dns_section(1 << idx);
	rr->dn.p = src;
	rr->dn.len = uint16_t(next - src);
	size_t fixed = idx == 0 ? 4 : 10;
	if (size_t(next) + fixed > P->end)
		return DNS_EILLEGAL;
	rr->type = get16(data + next);
	rr->class_ = get16(data + next + 2);
	if (idx == 0) {
		rr->end = uint16_t(next + 4);
		return 0;
	}
	rr->ttl = get32(data + next + 4) & 0x7fffffffu;
	rr->rd.p = uint16_t(next + 10);
	rr->rd.len = get16(data + next + 8);
	if (size_t(rr->rd.p) + rr->rd.len > P->end)
		return DNS_EILLEGAL;
	rr->end = uint16_t(rr->rd.p + rr->rd.len);
	return 0;
}

extern "C" int dns_rr_next(dns_rr_i *i, dns_packet *P, dns_rr *rr)
{
	int rc = study(P);
	if (rc < 0)
		return rc;
	if (i->next_ == 0)
		i->next_ = DNS_HEADER_SIZE;
	char name[DNS_D_MAXTEXT];
	while (i->next_ < P->memo[3].end) {
		if ((rc = dns_rr_parse(rr, i->next_, P)) < 0)
			return rc;
		i->next_ = rr->end;
		i->index_++;
		unsigned want = i->section ? i->section : unsigned(DNS_S_ALL);
		if (!(rr->section & want))
			continue;
		if (i->type && i->type != DNS_T_ALL && rr->type != i->type)
			continue;
		if (i->class_ && i->class_ != DNS_C_ANY && rr->class_ != i->class_)
			continue;
		if (i->name) {
			if ((rc = dns_d_expand(name, sizeof name, rr->dn.p, P, nullptr)) < 0)
				return rc;
			if (dns_d_cmp(name, i->name) != 0)
				continue;
		}
		return 1;
	}
	return 0;
}

extern "C" int dns_p_check(dns_packet *P)
{
	dns_rr_i it{};
	dns_rr rr;
	int rc;
	while ((rc = dns_rr_next(&it, P, &rr)) > 0) {
		uint16_t next;
		if ((rc = check_name(P, rr.dn.p, &next)) < 0 || (rr.section != DNS_S_QD && (rc = check_rdata(&rr, P)) < 0))
			return rc;
	}
	return rc;
}

extern "C" int dns_p_min_answer_ttl(dns_packet *P, uint32_t *ttl)
{
	dns_rr_i it{};
	it.section = DNS_S_AN;
	dns_rr rr;
	int rc, found = 0;
	while ((rc = dns_rr_next(&it, P, &rr)) > 0) {
		if (!found || rr.ttl < *ttl)
			*ttl = rr.ttl;
		found = 1;
	}
	return rc < 0 ? rc : found;
}

extern "C" unsigned dns_p_edns_size(dns_packet *P)
{
	dns_rr_i it{};
	it.section = DNS_S_AR;
	it.type = DNS_T_OPT;
	dns_rr rr;
	return dns_rr_next(&it, P, &rr) > 0 ? rr.class_ : 0;
}

namespace {

// Appends a record to the end of its section. Sections are appended in
// order: a record may not go before records of a later section.
template <class PushData>
int push_record(dns_packet *P, dns_section section, const char *name, uint16_t type, uint16_t class_,
		uint32_t ttl, PushData push_data)
{
	int idx = studied_section(P, section);
	if (idx < 0)
		return idx;
	int rc;
	for (int later = idx + 1; later < 4; later++)
		if (count_at(P, later) != 0)
			return DNS_EILLEGAL;
	if (count_at(P, idx) == 0xffff)
		return DNS_ENOBUFS;
	uint16_t dict[DNS_P_DICTSIZE];
	memcpy(dict, P->dict, sizeof dict);
	P->end = P->memo[3].end; // drop anything trailing the last record
	size_t start = P->end;
	auto undo = [&](int err) {
		P->end = start;
		memcpy(P->dict, dict, sizeof dict);
		P->memo_state = 0;
		return err;
	};
	if ((rc = push_name(P, name, strlen(name), true)) < 0)
		return undo(rc);
	Writer out(P);
	out.u16(type);
	out.u16(class_);
	if (idx != 0) {
		out.u32(ttl);
		size_t rdlen_at = P->end;
		out.u16(0);
		if (out.overrun)
			return undo(DNS_ENOBUFS);
		if ((rc = push_data()) < 0)
			return undo(rc);
		size_t rdlen = P->end - rdlen_at - 2;
		if (rdlen > 0xffff)
			return undo(DNS_ENOBUFS);
		put16(dns_p_data(P) + rdlen_at, uint16_t(rdlen));
	}
	if (out.overrun)
		return undo(DNS_ENOBUFS);
	put16(dns_p_data(P) + 4 + 2 * idx, uint16_t(count_at(P, idx) + 1));
	P->memo_state = 0;
	return 0;
}

} // namespace

extern "C" int dns_p_push_question(dns_packet *P, const char *name, uint16_t type, uint16_t class_)
{
	return push_record(P, DNS_S_QD, name, type, class_, 0, [] { return 0; });
}

extern "C" int dns_p_push(dns_packet *P, dns_section section, const char *name, uint16_t type, uint16_t class_,
			  uint32_t ttl, const union dns_any *any)
{
	if (section == DNS_S_QD)
		return dns_p_push_question(P, name, type, class_);
	if (!dns_type_known(type))
		return DNS_ENOTYPE;
	return push_record(P, section, name, type, class_, ttl, [&] { return dns_any_push_data(P, any, type); });
}

extern "C" int dns_p_push_raw(dns_packet *P, dns_section section, const char *name, uint16_t type,
			      uint16_t class_, uint32_t ttl, const void *rdata, size_t rdlen)
{
	if (section == DNS_S_QD)
		return dns_p_push_question(P, name, type, class_);
	return push_record(P, section, name, type, class_, ttl, [&] {
		Writer out(P);
		out.bytes(rdata, rdlen);
		return out.overrun ? DNS_ENOBUFS : 0;
	});
}

extern "C" int dns_rr_print(char *dst, size_t lim, const dns_rr *rr, dns_packet *P)
{
	char name[DNS_D_MAXTEXT];
	int rc = dns_d_expand(name, sizeof name, rr->dn.p, P, nullptr);
	if (rc < 0)
		return rc;
	Text t(dst, lim);
	t.str(name);
	if (rr->section != DNS_S_QD)
		t.fmt(" %u", rr->ttl);
	if (rr->class_ == DNS_C_IN)
		t.str(" IN");
	else
		t.fmt(" CLASS%u", rr->class_);
	const char *tname = dns_strtype(rr->type);
	if (tname) {
		t.ch(' ');
		t.str(tname);
	} else
		t.fmt(" TYPE%u", rr->type);
	if (rr->section != DNS_S_QD) {
		if (tname) {
			auto any = std::unique_ptr<dns_any>(new (std::nothrow) dns_any);
			if (!any)
				return DNS_ENOBUFS;
			if ((rc = dns_any_parse(any.get(), rr, P)) < 0)
				return rc;
			t.ch(' ');
			char *tail = lim > t.len ? dst + t.len : nullptr;
			size_t need = dns_any_print(tail, tail ? lim - t.len : 0, any.get(), rr->type);
			t.len += need;
		} else {
			// Unknown types in the generic form of RFC 3597.
			t.fmt(" \\# %u", rr->rd.len);
			if (rr->rd.len)
				t.ch(' ');
			for (unsigned k = 0; k < rr->rd.len; k++)
				t.fmt("%02x", dns_p_cdata(P)[rr->rd.p + k]);
		}
	}
	return t.len < lim ? 0 : DNS_ENOBUFS;
}
