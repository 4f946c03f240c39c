// Helpers shared by the codec's files; not part of its interface.
#pragma once

#include "dns.h"
#include "dns_wire.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace dnsc {

inline unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Appends to the end of a message: the cursor over the packet's used length.
struct Writer : Cursor {
	explicit Writer(dns_packet *P) : Cursor(dns_p_data(P), P->size, P->end) {}
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

// Checks the name at off whole (pointers, length) and gives the offset past
// its bytes at off.
int check_name(const dns_packet *P, uint16_t off, uint16_t *next);

// Checks a record's data by its TYPE where the type table knows its shape.
int check_rdata(const dns_rr *rr, dns_packet *P);

// Pushes a name, compressing against the remembered names when asked.
int push_name(dns_packet *P, const char *text, size_t textlen, bool compress);

// Appends typed RDATA by the type table.
int dns_any_push_data(dns_packet *P, const dns_any *any, uint16_t type);

} // namespace dnsc
