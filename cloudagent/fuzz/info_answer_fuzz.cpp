// Other agents' "/info" answers to the discovery request, and the "/zmo/dis"
// object made of them.
#include <cstdint>
#include <cstdlib>

#include "cloud.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    peer_add_info(reinterpret_cast<const char *>(data), size, "10.0.0.2");
    std::free(peers_json());
    peers_clear();
    return 0;
}
