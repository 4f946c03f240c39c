// Wiping secrets and comparing tags without leaking where they differ.
#include "crypt_internal.h"

namespace cmcrypt {

void wipe(void *p, size_t n)
{
    volatile uint8_t *v = static_cast<volatile uint8_t *>(p);
    while (n--)
        *v++ = 0;
}

}  // namespace cmcrypt

extern "C" int cmCryptEqual(const void *a, const void *b, uint32_t length)
{
    const volatile uint8_t *x = static_cast<const volatile uint8_t *>(a);
    const volatile uint8_t *y = static_cast<const volatile uint8_t *>(b);
    uint8_t diff = 0;
    for (uint32_t i = 0; i < length; ++i)
        diff |= uint8_t(x[i] ^ y[i]);
    return diff == 0;
}
