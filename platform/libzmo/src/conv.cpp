// Character-set conversion over iconv.
#include "zmo.h"

#include <iconv.h>

#include <cerrno>
#include <new>

struct zmo_conv {
    iconv_t cd;
};

extern "C" {

zmo_conv_t *zmo_conv_open(const char *to, const char *from)
{
    if (!to || !from) {
        errno = EINVAL;
        return nullptr;
    }
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    zmo_conv_t *c = new (std::nothrow) zmo_conv_t{cd};
    if (!c) {
        iconv_close(cd);
        errno = ENOMEM;
    }
    return c;
}

int zmo_conv(zmo_conv_t *c, const void *in, size_t in_size, void *out, size_t out_size, size_t *out_len)
{
    if (!c || (!in && in_size) || (!out && out_size)) {
        errno = EINVAL;
        return 0;
    }
    // Each call is a whole text: start from the initial shift state.
    iconv(c->cd, nullptr, nullptr, nullptr, nullptr);
    char *src = const_cast<char *>(static_cast<const char *>(in));
    char *dst = static_cast<char *>(out);
    size_t src_left = in_size, dst_left = out_size;
    size_t r = iconv(c->cd, &src, &src_left, &dst, &dst_left);
    if (r == static_cast<size_t>(-1))
        return 0;
    if (iconv(c->cd, nullptr, nullptr, &dst, &dst_left) == static_cast<size_t>(-1))
        return 0;
    if (out_len)
        *out_len = out_size - dst_left;
    return 1;
}

void zmo_conv_close(zmo_conv_t *c)
{
    if (!c)
        return;
    iconv_close(c->cd);
    delete c;
}

}  // extern "C"
