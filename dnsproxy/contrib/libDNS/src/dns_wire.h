// Big-endian fields and the one bounded cursor over message bytes: the
// codec's own appends and the proxy's edits of messages both go through it.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Bounded reads and writes at a position inside [0, size): each operation
// claims its bytes first; a claim that does not fit sets the sticky overrun
// flag and touches nothing (reads give 0), so a caller checks the flag once
// after a chain of them. The position lives with its owner (a packet's used
// length, or the caller's own count).
struct Cursor {
	unsigned char *data;
	size_t size;
	size_t &pos;
	bool overrun = false;

	Cursor(unsigned char *d, size_t n, size_t &at) : data(d), size(n), pos(at) {}

	// The next n bytes, the position moved past them; null when they don't fit.
	unsigned char *claim(size_t n)
	{
		if (overrun || pos > size || size - pos < n) {
			overrun = true;
			return nullptr;
		}
		unsigned char *at = data + pos;
		pos += n;
		return at;
	}
	void u8(uint8_t v)
	{
		if (auto *p = claim(1))
			*p = v;
	}
	void u16(uint16_t v)
	{
		if (auto *p = claim(2))
			put16(p, v);
	}
	void u32(uint32_t v)
	{
		if (auto *p = claim(4))
			put32(p, v);
	}
	void bytes(const void *src, size_t n)
	{
		if (auto *p = claim(n))
			memcpy(p, src, n);
	}
	uint8_t get8()
	{
		const unsigned char *p = claim(1);
		return p ? *p : 0;
	}
	uint16_t get16()
	{
		const unsigned char *p = claim(2);
		return p ? dnsc::get16(p) : 0;
	}
	uint32_t get32()
	{
		const unsigned char *p = claim(4);
		return p ? dnsc::get32(p) : 0;
	}
};

} // namespace dnsc
