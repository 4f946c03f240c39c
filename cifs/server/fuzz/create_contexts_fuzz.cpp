// A CREATE's context chain from the wire: the walk stays inside the message
// and every context, and the answered contexts fit their writer.
#include "cs2tables.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte places the chain in the message, the rest is the message.
    uint32_t offset = data[0];
    std::vector<uint8_t> message(data + 1, data + size);
    uint32_t length = offset < message.size() ? uint32_t(message.size() - offset) : 0;
    CS2CreateContextState state;
    int accepted = 0;
    if (cs2ParseCreateContexts(message.data(), uint32_t(message.size()), offset, length, &state, &accepted) ==
        0) {
        uint8_t out[40];
        CMBufferWriter writer;
        cmBufferWriterInit(&writer, out, sizeof out);
        cs2PackCreateContexts(&writer, &state);
    }
    return 0;
}
