// 64-bit arithmetic on the stack's two-word values.
#include "cmtime.h"

namespace {

uint64_t v(const CMUint64 *x) { return (uint64_t)x->high << 32 | x->low; }
void set(CMUint64 *x, uint64_t value)
{
    x->low = (uint32_t)value;
    x->high = (uint32_t)(value >> 32);
}

}  // namespace

extern "C" {

void cmU64AssignU64(CMUint64 *dst, const CMUint64 *src) { *dst = *src; }
void cmU64Inc(CMUint64 *value) { set(value, v(value) + 1); }
void cmU64AddU32(CMUint64 *value, uint32_t n) { set(value, v(value) + n); }
void cmU64AddU64(CMUint64 *value, const CMUint64 *addend) { set(value, v(value) + v(addend)); }
void cmU64SubU64U64(CMUint64 *result, const CMUint64 *a, const CMUint64 *b) { set(result, v(a) - v(b)); }

void cmU64AddS64(CMUint64 *value, const CMInt64 *addend)
{
    uint64_t magnitude = (uint64_t)addend->high << 32 | addend->low;
    set(value, addend->sign == 0xFFFFFFFFu ? v(value) - magnitude : v(value) + magnitude);
}

int cmU64Cmp(const CMUint64 *a, const CMUint64 *b) { return v(a) > v(b) ? 1 : v(a) < v(b) ? -1 : 0; }

void cmU64Min(CMUint64 *result, const CMUint64 *a, const CMUint64 *b) { *result = v(b) < v(a) ? *b : *a; }

void cmU64MultU32U32(CMUint64 *result, uint32_t a, uint32_t b) { set(result, (uint64_t)a * b); }

void cmU128MultU64U64(CMUint64 *low, CMUint64 *high, const CMUint64 *a, const CMUint64 *b)
{
    // Schoolbook on 32-bit halves: portable to targets without a 128-bit type.
    uint64_t a0 = a->low, a1 = a->high, b0 = b->low, b1 = b->high;
    uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    uint64_t mid = (p00 >> 32) + (uint32_t)p01 + (uint32_t)p10;
    set(low, (mid << 32) | (uint32_t)p00);
    set(high, p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32));
}

uint32_t cmU64toU32(uint32_t low, uint32_t high) { return high == 0 ? low : 0xFFFFFFFFu; }
uint32_t cmVX_UINT64toU32(uint32_t low, uint32_t high) { return cmU64toU32(low, high); }

}  // extern "C"
