// Helpers shared by the codec's files; not part of its interface.
#pragma once

#include "dns.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace dnsc {

inline uint16_t get16(const unsigned char *p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t get32(const unsigned char *p)
{
	return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline void put16(unsigned char *p, uint16_t v)
{
	p[0] = uint8_t(v >> 8);
	p[1] = uint8_t(v);
}
inline void put32(unsigned char *p, uint32_t v)
{
	put16(p, uint16_t(v >> 16));
	put16(p + 2, uint16_t(v));
}
inline unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Bounded appends to the end of a message: each checks room and fails
// without writing, so a caller checks once after a chain of them.
struct Writer {
	dns_packet *P;
	bool overrun = false;

	explicit Writer(dns_packet *p) : P(p) {}
	unsigned char *room(size_t n)
	{
		if (overrun || P->size - P->end < n) {
			overrun = true;
			return nullptr;
		}
		unsigned char *at = dns_p_data(P) + P->end;
		P->end += n;
		return at;
	}
	void u8(uint8_t v)
	{
		if (auto *p = room(1))
			*p = v;
	}
	void u16(uint16_t v)
	{
		if (auto *p = room(2))
			put16(p, v);
	}
	void u32(uint32_t v)
	{
		if (auto *p = room(4))
			put32(p, v);
	}
	void bytes(const void *src, size_t n)
	{
		if (auto *p = room(n))
			memcpy(p, src, n);
	}
};

// snprintf-like text accumulation: counts what it needs, writes what fits.
struct Text {
	char *dst;
	size_t lim;
	size_t len = 0;

	Text(char *d, size_t l) : dst(d), lim(l)
	{
		if (lim)
			dst[0] = '\0';
	}
	void ch(char c)
	{
		if (len + 1 < lim) {
			dst[len] = c;
			dst[len + 1] = '\0';
		}
		len++;
	}
	void str(const char *s)
	{
		while (*s)
			ch(*s++);
	}
	__attribute__((format(printf, 2, 3))) void fmt(const char *f, ...)
	{
		char buf[64];
		va_list ap;
		va_start(ap, f);
		vsnprintf(buf, sizeof buf, f, ap);
		va_end(ap);
		str(buf);
	}
};

// Pushes a name, compressing against the remembered names when asked.
int push_name(dns_packet *P, const char *text, size_t textlen, bool compress);

// Appends typed RDATA by the type table.
int dns_any_push_data(dns_packet *P, const dns_any *any, uint16_t type);

} // namespace dnsc
