// Typed record data: the eleven types the proxy knows, each with parse,
// push, compare, print and the host name inside where it has one.
#include "dns_internal.h"

#include <arpa/inet.h>

#include <initializer_list>

using namespace dnsc;

namespace {

struct RData {
	const unsigned char *p; // the message
	dns_packet *P;
	size_t pos, end; // RDATA bounds
	bool need(size_t n) const { return end - pos >= n; }
};

int name_in(RData &r, char *dst)
{
	uint16_t next;
	int rc = dns_d_skip(uint16_t(r.pos), r.P, &next);
	if (rc < 0)
		return rc;
	if (next > r.end)
		return DNS_EILLEGAL;
	if ((rc = dns_d_expand(dst, DNS_D_MAXTEXT, uint16_t(r.pos), r.P, nullptr)) < 0)
		return rc;
	r.pos = next;
	return 0;
}

int parse_a(dns_any *a, RData &r)
{
	if (r.end - r.pos != 4)
		return DNS_EILLEGAL;
	memcpy(&a->a.addr, r.p + r.pos, 4);
	return 0;
}
int parse_aaaa(dns_any *a, RData &r)
{
	if (r.end - r.pos != 16)
		return DNS_EILLEGAL;
	memcpy(&a->aaaa.addr, r.p + r.pos, 16);
	return 0;
}
int parse_mx(dns_any *a, RData &r)
{
	if (!r.need(3))
		return DNS_EILLEGAL;
	a->mx.preference = get16(r.p + r.pos);
	r.pos += 2;
	return name_in(r, a->mx.host);
}
int parse_host(dns_any *a, RData &r) { return name_in(r, a->ns.host); }
int parse_soa(dns_any *a, RData &r)
{
	int rc;
	if ((rc = name_in(r, a->soa.mname)) < 0 || (rc = name_in(r, a->soa.rname)) < 0)
		return rc;
	if (!r.need(20))
		return DNS_EILLEGAL;
	uint32_t *f[] = {&a->soa.serial, &a->soa.refresh, &a->soa.retry, &a->soa.expire, &a->soa.minimum};
	for (uint32_t *v : f) {
		*v = get32(r.p + r.pos);
		r.pos += 4;
	}
	return 0;
}
int parse_srv(dns_any *a, RData &r)
{
	if (!r.need(7))
		return DNS_EILLEGAL;
	a->srv.priority = get16(r.p + r.pos);
	a->srv.weight = get16(r.p + r.pos + 2);
	a->srv.port = get16(r.p + r.pos + 4);
	r.pos += 6;
	return name_in(r, a->srv.target);
}
int parse_txt(dns_any *a, RData &r)
{
	a->txt.len = 0;
	if (r.pos == r.end)
		return DNS_EILLEGAL; // at least one character-string
	while (r.pos < r.end) {
		size_t n = r.p[r.pos++];
		if (!r.need(n))
			return DNS_EILLEGAL;
		memcpy(a->txt.data + a->txt.len, r.p + r.pos, n); // RDATA <= 65535, so it fits
		a->txt.len += n;
		r.pos += n;
	}
	return 0;
}
int parse_sshfp(dns_any *a, RData &r)
{
	if (!r.need(2))
		return DNS_EILLEGAL;
	a->sshfp.algo = r.p[r.pos];
	a->sshfp.type = r.p[r.pos + 1];
	size_t n = r.end - r.pos - 2;
	if (n > sizeof a->sshfp.digest)
		return DNS_ENOBUFS;
	memcpy(a->sshfp.digest, r.p + r.pos + 2, n);
	a->sshfp.len = n;
	r.pos = r.end;
	return 0;
}

int push_a(dns_packet *P, const dns_any *a)
{
	Writer w(P);
	w.bytes(&a->a.addr, 4);
	return w.overrun ? DNS_ENOBUFS : 0;
}
int push_aaaa(dns_packet *P, const dns_any *a)
{
	Writer w(P);
	w.bytes(&a->aaaa.addr, 16);
	return w.overrun ? DNS_ENOBUFS : 0;
}
int push_mx(dns_packet *P, const dns_any *a)
{
	Writer w(P);
	w.u16(a->mx.preference);
	return w.overrun ? DNS_ENOBUFS : push_name(P, a->mx.host, strlen(a->mx.host), true);
}
int push_host(dns_packet *P, const dns_any *a) { return push_name(P, a->ns.host, strlen(a->ns.host), true); }
int push_soa(dns_packet *P, const dns_any *a)
{
	int rc;
	if ((rc = push_name(P, a->soa.mname, strlen(a->soa.mname), true)) < 0 ||
	    (rc = push_name(P, a->soa.rname, strlen(a->soa.rname), true)) < 0)
		return rc;
	Writer w(P);
	for (uint32_t v : {a->soa.serial, a->soa.refresh, a->soa.retry, a->soa.expire, a->soa.minimum})
		w.u32(v);
	return w.overrun ? DNS_ENOBUFS : 0;
}
int push_srv(dns_packet *P, const dns_any *a)
{
	Writer w(P);
	w.u16(a->srv.priority);
	w.u16(a->srv.weight);
	w.u16(a->srv.port);
	// RFC 2782: the target is never compressed.
	return w.overrun ? DNS_ENOBUFS : push_name(P, a->srv.target, strlen(a->srv.target), false);
}
int push_txt(dns_packet *P, const dns_any *a)
{
	Writer w(P);
	size_t len = a->txt.len;
	if (len > sizeof a->txt.data)
		return DNS_EILLEGAL;
	size_t done = 0;
	do {
		size_t n = len - done > 255 ? 255 : len - done;
		w.u8(uint8_t(n));
		w.bytes(a->txt.data + done, n);
		done += n;
	} while (done < len);
	return w.overrun ? DNS_ENOBUFS : 0;
}
int push_sshfp(dns_packet *P, const dns_any *a)
{
	if (a->sshfp.len > sizeof a->sshfp.digest)
		return DNS_EILLEGAL;
	Writer w(P);
	w.u8(a->sshfp.algo);
	w.u8(a->sshfp.type);
	w.bytes(a->sshfp.digest, a->sshfp.len);
	return w.overrun ? DNS_ENOBUFS : 0;
}

template <class T>
int cmp_num(T a, T b)
{
	return a < b ? -1 : a > b ? 1 : 0;
}
int cmp_a(const dns_any *a, const dns_any *b) { return memcmp(&a->a.addr, &b->a.addr, 4); }
int cmp_aaaa(const dns_any *a, const dns_any *b) { return memcmp(&a->aaaa.addr, &b->aaaa.addr, 16); }
int cmp_mx(const dns_any *a, const dns_any *b)
{
	int d = cmp_num(a->mx.preference, b->mx.preference);
	return d ? d : dns_d_cmp(a->mx.host, b->mx.host);
}
int cmp_host(const dns_any *a, const dns_any *b) { return dns_d_cmp(a->ns.host, b->ns.host); }
int cmp_soa(const dns_any *a, const dns_any *b)
{
	int d;
	if ((d = dns_d_cmp(a->soa.mname, b->soa.mname)) || (d = dns_d_cmp(a->soa.rname, b->soa.rname)) ||
	    (d = cmp_num(a->soa.serial, b->soa.serial)) || (d = cmp_num(a->soa.refresh, b->soa.refresh)) ||
	    (d = cmp_num(a->soa.retry, b->soa.retry)) || (d = cmp_num(a->soa.expire, b->soa.expire)))
		return d;
	return cmp_num(a->soa.minimum, b->soa.minimum);
}
int cmp_srv(const dns_any *a, const dns_any *b)
{
	int d;
	if ((d = cmp_num(a->srv.priority, b->srv.priority)) || (d = cmp_num(a->srv.weight, b->srv.weight)) ||
	    (d = cmp_num(a->srv.port, b->srv.port)))
		return d;
	return dns_d_cmp(a->srv.target, b->srv.target);
}
int cmp_never(const dns_any *, const dns_any *) { return -1; }
int cmp_sshfp(const dns_any *a, const dns_any *b)
{
	int d;
	if ((d = cmp_num(a->sshfp.algo, b->sshfp.algo)) || (d = cmp_num(a->sshfp.type, b->sshfp.type)) ||
	    (d = cmp_num(a->sshfp.len, b->sshfp.len)))
		return d;
	return memcmp(a->sshfp.digest, b->sshfp.digest, a->sshfp.len);
}

void print_a(Text &t, const dns_any *a)
{
	char buf[INET_ADDRSTRLEN];
	t.str(inet_ntop(AF_INET, &a->a.addr, buf, sizeof buf));
}
void print_aaaa(Text &t, const dns_any *a)
{
	char buf[INET6_ADDRSTRLEN];
	t.str(inet_ntop(AF_INET6, &a->aaaa.addr, buf, sizeof buf));
}
void print_mx(Text &t, const dns_any *a)
{
	t.fmt("%u ", a->mx.preference);
	t.str(a->mx.host);
}
void print_host(Text &t, const dns_any *a) { t.str(a->ns.host); }
void print_soa(Text &t, const dns_any *a)
{
	t.str(a->soa.mname);
	t.ch(' ');
	t.str(a->soa.rname);
	t.fmt(" %u %u %u %u %u", a->soa.serial, a->soa.refresh, a->soa.retry, a->soa.expire, a->soa.minimum);
}
void print_srv(Text &t, const dns_any *a)
{
	t.fmt("%u %u %u ", a->srv.priority, a->srv.weight, a->srv.port);
	t.str(a->srv.target);
}
void print_txt(Text &t, const dns_any *a)
{
	t.ch('"');
	for (size_t i = 0; i < a->txt.len; i++) {
		if (i > 0 && i % 255 == 0)
			t.str("\" \"");
		unsigned char c = a->txt.data[i];
		if (c < ' ' || c > '~' || c == '"' || c == '\\')
			t.fmt("\\%03u", c);
		else
			t.ch(char(c));
	}
	t.ch('"');
}
void print_sshfp(Text &t, const dns_any *a)
{
	t.fmt("%u %u ", a->sshfp.algo, a->sshfp.type);
	for (size_t i = 0; i < a->sshfp.len; i++)
		t.fmt("%02x", a->sshfp.digest[i]);
}

const char *name_mx(const dns_any *a) { return a->mx.host; }
const char *name_host(const dns_any *a) { return a->ns.host; }
const char *name_srv(const dns_any *a) { return a->srv.target; }

struct RRType {
	uint16_t type;
	const char *name;
	int (*parse)(dns_any *, RData &);
	int (*push)(dns_packet *, const dns_any *);
	int (*cmp)(const dns_any *, const dns_any *);
	void (*print)(Text &, const dns_any *);
	const char *(*inner_name)(const dns_any *);
};

const RRType kTypes[] = {
	{DNS_T_A, "A", parse_a, push_a, cmp_a, print_a, nullptr},
	{DNS_T_AAAA, "AAAA", parse_aaaa, push_aaaa, cmp_aaaa, print_aaaa, nullptr},
	{DNS_T_MX, "MX", parse_mx, push_mx, cmp_mx, print_mx, name_mx},
	{DNS_T_NS, "NS", parse_host, push_host, cmp_host, print_host, name_host},
	{DNS_T_CNAME, "CNAME", parse_host, push_host, cmp_host, print_host, name_host},
	{DNS_T_SOA, "SOA", parse_soa, push_soa, cmp_soa, print_soa, nullptr},
	{DNS_T_SRV, "SRV", parse_srv, push_srv, cmp_srv, print_srv, name_srv},
	{DNS_T_PTR, "PTR", parse_host, push_host, cmp_host, print_host, name_host},
	{DNS_T_TXT, "TXT", parse_txt, push_txt, cmp_never, print_txt, nullptr},
	{DNS_T_SPF, "SPF", parse_txt, push_txt, cmp_never, print_txt, nullptr},
	{DNS_T_SSHFP, "SSHFP", parse_sshfp, push_sshfp, cmp_sshfp, print_sshfp, nullptr},
};

const RRType *find_type(uint16_t type)
{
	for (const RRType &t : kTypes)
		if (t.type == type)
			return &t;
	return nullptr;
}

} // namespace

extern "C" const char *dns_strtype(uint16_t type)
{
	const RRType *t = find_type(type);
	return t ? t->name : nullptr;
}

extern "C" int dns_type_known(uint16_t type) { return find_type(type) != nullptr; }

extern "C" int dns_any_parse(dns_any *any, const dns_rr *rr, dns_packet *P)
{
	const RRType *t = find_type(rr->type);
	if (!t)
		return DNS_ENOTYPE;
	if (rr->section == DNS_S_QD || size_t(rr->rd.p) + rr->rd.len > P->end)
		return DNS_EILLEGAL;
	RData r{dns_p_cdata(P), P, rr->rd.p, size_t(rr->rd.p) + rr->rd.len};
	return t->parse(any, r);
}

int dnsc::dns_any_push_data(dns_packet *P, const dns_any *any, uint16_t type)
{
	const RRType *t = find_type(type);
	return t ? t->push(P, any) : DNS_ENOTYPE;
}

extern "C" int dns_any_cmp(const dns_any *a, const dns_any *b, uint16_t type)
{
	const RRType *t = find_type(type);
	return t ? t->cmp(a, b) : -1;
}

extern "C" size_t dns_any_print(char *dst, size_t lim, const dns_any *any, uint16_t type)
{
	Text t(dst, lim);
	if (const RRType *rt = find_type(type))
		rt->print(t, any);
	return t.len;
}

extern "C" const char *dns_any_name(const dns_any *any, uint16_t type)
{
	const RRType *t = find_type(type);
	return t && t->inner_name ? t->inner_name(any) : nullptr;
}

int dnsc::check_rdata(const dns_rr *rr, dns_packet *P)
{
	size_t pos = rr->rd.p, end = size_t(rr->rd.p) + rr->rd.len;
	auto fixed = [&](size_t n) {
		if (end - pos < n)
			return false;
		pos += n;
		return true;
	};
	auto name = [&] {
		uint16_t next;
		if (pos >= end || check_name(P, uint16_t(pos), &next) < 0 || next > end)
			return false;
		pos = next;
		return true;
	};
	bool ok = true;
	switch (rr->type) {
	case DNS_T_A:
		ok = rr->class_ != DNS_C_IN || rr->rd.len == 4;
		break;
	case DNS_T_AAAA:
		ok = rr->class_ != DNS_C_IN || rr->rd.len == 16;
		break;
	case DNS_T_NS:
	case DNS_T_CNAME:
	case DNS_T_PTR:
		ok = name() && pos == end;
		break;
	case DNS_T_MX:
		ok = fixed(2) && name() && pos == end;
		break;
	case DNS_T_SRV:
		ok = fixed(6) && name() && pos == end;
		break;
	case DNS_T_SOA:
		ok = name() && name() && fixed(20) && pos == end;
		break;
	case DNS_T_TXT:
	case DNS_T_SPF:
		// One or more character-strings, filling the data exactly.
		ok = pos < end;
		while (ok && pos < end)
			ok = fixed(1 + size_t(dns_p_cdata(P)[pos]));
		break;
	default:
		break;
	}
	return ok ? 0 : DNS_EILLEGAL;
}
