// libFuzzer: answers read off the loopback name channel and node status
// answers from the network.
#include "nschannel.h"
#include "nssocket.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > NS_DATAGRAM_BUFFER_SIZE)
        size = NS_DATAGRAM_BUFFER_SIZE;
    uint8_t *copy = new uint8_t[size ? size : 1];
    if (size)
        std::memcpy(copy, data, size);
    uint8_t rdata[6];
    nsParseResponseFromND(copy, static_cast<uint32_t>(size), rdata);
    nsParseResponseFromND(copy, static_cast<uint32_t>(size), nullptr);
    char name[17];
    nsParseNodeStatus(copy, static_cast<uint32_t>(size), name);
    delete[] copy;
    return 0;
}
