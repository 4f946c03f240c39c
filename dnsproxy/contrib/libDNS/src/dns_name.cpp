// Domain names: skipping, expansion to text, text to wire, compression.
#include "dns_internal.h"

using namespace dnsc;

namespace {

bool plain_char(unsigned char c)
{
	return c > 0x20 && c < 0x7f && c != '.' && c != '\\';
}

// Reads a name's labels from the message, following pointers. Every step is
// bounded: a pointer may only lead to an earlier offset (so no loop can form),
// at most DNS_D_MAXPTRS of them, and the name may not pass 255 octets.
template <class OnLabel>
int walk_name(const dns_packet *P, uint16_t off, OnLabel on_label)
{
	const unsigned char *data = dns_p_cdata(P);
	size_t end = P->end;
	size_t pos = off;
	unsigned jumps = 0;
	size_t wire = 0;
	for (;;) {
		if (pos >= end)
			return DNS_EILLEGAL;
		unsigned char b = data[pos];
		if (b >= 0xc0) {
			if (pos + 1 >= end)
				return DNS_EILLEGAL;
			size_t target = size_t(b & 0x3f) << 8 | data[pos + 1];
			if (target >= pos || ++jumps > DNS_D_MAXPTRS)
				return DNS_EILLEGAL;
			pos = target;
			continue;
		}
		if (b > DNS_D_MAXLABEL)
			return DNS_EILLEGAL;
		wire += 1 + b;
		if (wire > DNS_D_MAXNAME)
			return DNS_EILLEGAL;
		if (b == 0)
			return 0;
		if (pos + 1 + b > end)
			return DNS_EILLEGAL;
		if (!on_label(data + pos + 1, b, pos))
			return 0;
		pos += 1 + b;
	}
}

} // namespace

extern "C" int dns_d_skip(uint16_t off, const dns_packet *P, uint16_t *next)
{
	const unsigned char *data = dns_p_cdata(P);
	size_t pos = off;
	size_t wire = 0;
	for (;;) {
		if (pos >= P->end)
			return DNS_EILLEGAL;
		unsigned char b = data[pos];
		if (b >= 0xc0) {
			if (pos + 2 > P->end)
				return DNS_EILLEGAL;
			*next = uint16_t(pos + 2);
			return 0;
		}
		if (b > DNS_D_MAXLABEL)
			return DNS_EILLEGAL;
		wire += 1 + b;
		if (wire > DNS_D_MAXNAME)
			return DNS_EILLEGAL;
		if (b == 0) {
			*next = uint16_t(pos + 1);
			return 0;
		}
		pos += 1 + b;
	}
}

int dnsc::check_name(const dns_packet *P, uint16_t off, uint16_t *next)
{
	int rc = dns_d_skip(off, P, next);
	if (rc < 0)
		return rc;
	return walk_name(P, off, [](const unsigned char *, size_t, size_t) { return true; });
}

extern "C" int dns_d_copy(unsigned char dst[DNS_D_MAXNAME], uint16_t off, const dns_packet *P, size_t *len)
{
	size_t n = 0;
	int rc = walk_name(P, off, [&](const unsigned char *label, size_t l, size_t) {
		dst[n++] = uint8_t(l);
		memcpy(dst + n, label, l);
		n += l;
		return true;
	});
	if (rc < 0)
		return rc;
	dst[n++] = 0;
	*len = n;
	return 0;
}

extern "C" int dns_d_expand(char *dst, size_t lim, uint16_t off, const dns_packet *P, size_t *len)
{
	Text t(dst, lim);
	int rc = walk_name(P, off, [&](const unsigned char *label, size_t n, size_t) {
		for (size_t i = 0; i < n; i++) {
			unsigned char c = label[i];
			if (plain_char(c))
				t.ch(char(c));
			else if (c == '.' || c == '\\') {
				t.ch('\\');
				t.ch(char(c));
			} else
				t.fmt("\\%03u", c);
		}
		t.ch('.');
		return true;
	});
	if (rc < 0)
		return rc;
	if (t.len == 0)
		t.ch('.');
	if (len)
		*len = t.len;
	return t.len < lim ? 0 : DNS_ENOBUFS;
}

extern "C" int dns_d_fromtext(unsigned char dst[DNS_D_MAXNAME], const char *text, size_t textlen, size_t *len)
{
	size_t out = 0;
	size_t i = 0;
	if (textlen == 1 && text[0] == '.')
		textlen = 0;
	while (i < textlen) {
		size_t lenpos = out++;
		if (out > DNS_D_MAXNAME - 1)
			return DNS_EILLEGAL;
		size_t n = 0;
		while (i < textlen && text[i] != '.') {
			unsigned char c = (unsigned char)text[i++];
			if (c == '\\') {
				if (i >= textlen)
					return DNS_EILLEGAL;
				if (text[i] >= '0' && text[i] <= '9') {
					if (i + 3 > textlen)
						return DNS_EILLEGAL;
					unsigned v = 0;
					for (int k = 0; k < 3; k++) {
						char d = text[i++];
						if (d < '0' || d > '9')
							return DNS_EILLEGAL;
						v = v * 10 + unsigned(d - '0');
					}
					if (v > 255)
						return DNS_EILLEGAL;
					c = (unsigned char)v;
				} else
					c = (unsigned char)text[i++];
			}
			if (++n > DNS_D_MAXLABEL || out >= DNS_D_MAXNAME - 1)
				return DNS_EILLEGAL;
			dst[out++] = c;
		}
		if (n == 0)
			return DNS_EILLEGAL; // empty label: "a..b" or a leading dot
		dst[lenpos] = (unsigned char)n;
		if (i < textlen)
			i++; // the dot
	}
	dst[out++] = 0;
	*len = out;
	return 0;
}

namespace {

// Does the wire name w (from offset i) equal the message's name at q?
bool suffix_equals(const unsigned char *w, size_t i, const dns_packet *P, uint16_t q)
{
	bool equal = true;
	int rc = walk_name(P, q, [&](const unsigned char *label, size_t n, size_t) {
		if (w[i] != n) {
			equal = false;
			return false;
		}
		for (size_t k = 0; k < n; k++)
			if (lower(label[k]) != lower(w[i + 1 + k])) {
				equal = false;
				return false;
			}
		i += 1 + n;
		return true;
	});
	return rc == 0 && equal && w[i] == 0;
}

// The offset of a name already written that equals w from label offset i.
int find_suffix(const dns_packet *P, const unsigned char *w, size_t i)
{
	for (uint16_t d : P->dict) {
		if (d == 0 || d >= P->end)
			continue;
		// Each label start of a remembered name is a candidate target.
		int found = -1;
		walk_name(P, d, [&](const unsigned char *, size_t, size_t pos) {
			if (pos < 0x4000 && suffix_equals(w, i, P, uint16_t(pos))) {
				found = int(pos);
				return false;
			}
			return true;
		});
		if (found >= 0)
			return found;
	}
	return -1;
}

} // namespace

int dnsc::push_name(dns_packet *P, const char *text, size_t textlen, bool compress)
{
	unsigned char w[DNS_D_MAXNAME];
	size_t wlen;
	int rc = dns_d_fromtext(w, text, textlen, &wlen);
	if (rc < 0)
		return rc;
	size_t start = P->end;
	size_t i = 0;
	int ptr = -1;
	if (compress)
		for (; w[i] != 0; i += 1 + w[i])
			if ((ptr = find_suffix(P, w, i)) >= 0)
				break;
	Writer out(P);
	if (ptr >= 0) {
		out.bytes(w, i);
		out.u16(uint16_t(0xc000 | ptr));
	} else
		out.bytes(w, wlen);
	if (out.overrun) {
		P->end = start;
		return DNS_ENOBUFS;
	}
	if (compress && i > 0 && start < 0x4000)
		for (uint16_t &d : P->dict)
			if (d == 0) {
				d = uint16_t(start);
				break;
			}
	return 0;
}

extern "C" int dns_d_push(dns_packet *P, const char *text, size_t textlen)
{
	return push_name(P, text, textlen, true);
}

namespace {
size_t trimmed_len(const char *s)
{
	size_t n = strlen(s);
	if (n > 0 && s[n - 1] == '.') {
		size_t slashes = 0;
		while (slashes + 1 < n && s[n - 2 - slashes] == '\\')
			slashes++;
		if (slashes % 2 == 0)
			n--;
	}
	return n;
}
} // namespace

extern "C" int dns_d_cmp(const char *a, const char *b)
{
	size_t na = trimmed_len(a), nb = trimmed_len(b);
	size_t n = na < nb ? na : nb;
	for (size_t i = 0; i < n; i++) {
		int d = int(lower((unsigned char)a[i])) - int(lower((unsigned char)b[i]));
		if (d)
			return d;
	}
	return na < nb ? -1 : na > nb ? 1 : 0;
}
