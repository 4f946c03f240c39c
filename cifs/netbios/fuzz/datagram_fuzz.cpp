// libFuzzer: a received NetBIOS datagram, parsed for an expected name with
// and without its source.
#include "nssocket.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > NS_DATAGRAM_BUFFER_SIZE)
        size = NS_DATAGRAM_BUFFER_SIZE;
    uint8_t *copy = new uint8_t[size ? size : 1];
    if (size)
        std::memcpy(copy, data, size);
    CMNetBiosNameInfo expected{};
    std::memcpy(expected.name, "FRED           \x20", 16);
    CMNetBiosNameInfo source{};
    uint8_t out[64];
    frameParseDatagram(copy, static_cast<uint32_t>(size), &source, out, sizeof out, &expected);
    frameParseDatagram(copy, static_cast<uint32_t>(size), nullptr, out, 6, &expected);
    delete[] copy;
    return 0;
}
