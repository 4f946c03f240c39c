// The client's reply parsers: any reply fills its record within bounds,
// every string terminated.
#include "control_wire.h"

#include <cstdlib>
#include <cstring>

namespace {

template <size_t N> void terminated(const CMWchar (&text)[N])
{
    if (!std::memchr(text, 0, sizeof text) && text[N - 1] != 0) {
        for (size_t i = 0; i < N; ++i)
            if (text[i] == 0)
                return;
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    CMBufferReader r;
    cmBufferReaderInit(&r, data + 1, uint32_t(size - 1));
    switch (data[0] % 4) {
    case 0: {
        CSCtrlShareRecord s;
        std::memset(&s, 0x55, sizeof s);
        if (cs::ctrl::parseShare(&r, &s) == 0) {
            terminated(s.name);
            terminated(s.path);
            terminated(s.statusPath);
            terminated(s.comment);
        }
        break;
    }
    case 1: {
        CSCtrlUserRecord u;
        std::memset(&u, 0x55, sizeof u);
        if (cs::ctrl::parseUser(&r, &u) == 0) {
            terminated(u.name);
            terminated(u.fullName);
            terminated(u.description);
        }
        break;
    }
    case 2: {
        CSCtrlClientRecord c;
        std::memset(&c, 0x55, sizeof c);
        if (cs::ctrl::parseClient(&r, &c) == 0)
            terminated(c.name);
        break;
    }
    default: {
        CSCtrlFileRecord f;
        std::memset(&f, 0x55, sizeof f);
        if (cs::ctrl::parseFile(&r, &f) == 0) {
            terminated(f.path);
            terminated(f.user);
        }
        break;
    }
    }
    return 0;
}
