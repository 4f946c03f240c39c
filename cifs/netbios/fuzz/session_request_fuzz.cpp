// libFuzzer: the session request a new port-139 connection sends.
#include "nssocket.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The receive buffer's size bounds what one read can give.
    if (size > NS_DATAGRAM_BUFFER_SIZE)
        size = NS_DATAGRAM_BUFFER_SIZE;
    uint8_t *copy = new uint8_t[size ? size : 1];
    if (size)
        std::memcpy(copy, data, size);
    char called[17], calling[17];
    nsParseSessionRequest(copy, static_cast<uint32_t>(size), called, calling);
    delete[] copy;
    return 0;
}
