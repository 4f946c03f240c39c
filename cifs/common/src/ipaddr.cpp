// IPv4 addresses as dotted decimal text.
#include "cmipaddr.h"
#include "cmstring.h"

#include <cstdio>

extern "C" {

int cmIpToAscii(char *text, const uint32_t *address)
{
    auto *b = reinterpret_cast<const uint8_t *>(address);
    std::snprintf(text, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return 0;
}

int cmAsciiToIp(const char *text, uint32_t *address)
{
    if (!text || !*text)
        return -1;
    uint8_t parts[4];
    int count = 0;
    const char *p = text;
    for (;;) {
        if (*p < '0' || *p > '9' || count == 4)
            return -1;  // empty part, stray character or a fifth part
        unsigned value = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + (unsigned)(*p - '0');
            if (value > 255)
                return -1;
        }
        parts[count++] = (uint8_t)value;
        if (*p == 0)
            break;
        if (*p++ != '.')
            return -1;
    }
    if (count != 4)
        return -1;
    uint32_t a;
    static_assert(sizeof a == sizeof parts, "four octets");
    __builtin_memcpy(&a, parts, sizeof a);
    *address = a;
    return 0;
}

int cmWcharToIp(const CMWchar *wtext, uint32_t *address)
{
    // Longer than "255.255.255.255" is never an address; refusing it up front
    // also keeps a cut copy from parsing as one.
    char text[16];
    if (!wtext || cmWStrlen(wtext) >= sizeof text)
        return -1;
    cmUnicodeToAnsi(text, wtext);
    return cmAsciiToIp(text, address);
}

const char *cmIPDump(void) { return ""; }

}  // extern "C"
