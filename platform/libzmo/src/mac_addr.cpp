// MAC address values and their text form.
#include "zmo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
}  // namespace

extern "C" {

const zmo_mac_addr_t zmo_mac_addr_broadcast = {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};

void zmo_mac_addr_init(zmo_mac_addr_t *m) { std::memset(m->bytes, 0, sizeof m->bytes); }

int zmo_mac_addr_parse(zmo_mac_addr_t *m, const char *text)
{
    if (!m || !text) {
        errno = EINVAL;
        return 0;
    }
    // "aa:bb:cc:dd:ee:ff": two digits per byte, one separator kind throughout.
    zmo_mac_addr_t out;
    char sep = 0;
    const char *p = text;
    for (int i = 0; i < 6; ++i) {
        int hi = hex_digit(p[0]);
        int lo = hi < 0 ? -1 : hex_digit(p[1]);
        if (lo < 0) {
            errno = EINVAL;
            return 0;
        }
        out.bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
        p += 2;
        if (i == 5)
            break;
        if ((*p != ':' && *p != '-') || (sep && *p != sep)) {
            errno = EINVAL;
            return 0;
        }
        sep = *p++;
    }
    if (*p != '\0') {
        errno = EINVAL;
        return 0;
    }
    *m = out;
    return 1;
}

int zmo_mac_addr_assign_array(zmo_mac_addr_t *m, const uint8_t *bytes, size_t size)
{
    if (!m || !bytes || size != sizeof m->bytes) {
        errno = EINVAL;
        return 0;
    }
    std::memcpy(m->bytes, bytes, sizeof m->bytes);
    return 1;
}

const char *zmo_mac_addr_as_string(const zmo_mac_addr_t *m, char *buf)
{
    const uint8_t *b = m->bytes;
    std::snprintf(buf, ZMO_MAC_ADDR_STRLEN, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return buf;
}

int zmo_mac_addr_is_equal(const zmo_mac_addr_t *a, const zmo_mac_addr_t *b)
{
    return std::memcmp(a->bytes, b->bytes, sizeof a->bytes) == 0;
}

}  // extern "C"
