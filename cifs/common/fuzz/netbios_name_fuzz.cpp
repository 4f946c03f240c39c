// Parses arbitrary bytes as name-service names the way the daemon walks a
// packet: from the first byte and from every offset, with the packet's end.
// A name must end inside the packet and parsing and skipping must agree.
#include "cmnetbios.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so that any read past the end is one past the heap block.
    std::vector<uint8_t> packet(data, data + size);
    const uint8_t *start = packet.data();
    const uint8_t *end = start + packet.size();
    for (size_t at = 0; at < size; ++at) {
        char name[CM_NB_NAME_SIZE + 1];
        char scope[CM_NB_SCOPE_MAX + 1];
        const uint8_t *next = cmNetBiosParseName(start, end, start + at, name, scope, sizeof scope);
        const uint8_t *skipped = cmNetBiosSkipName(start, end, start + at);
        if (next != skipped)
            std::abort();
        if (next == nullptr)
            continue;
        if (next <= start + at || next > end)
            std::abort();
        if (name[CM_NB_NAME_SIZE] != '\0' || std::strlen(scope) > CM_NB_SCOPE_MAX)
            std::abort();
        // What was parsed encodes and parses back to the same name.
        CMNetBiosNameInfo record{};
        std::memcpy(record.name, name, sizeof record.name);
        uint8_t encoded[CM_NB_ENCODED_NAME_MAX];
        uint32_t n = cmNetBiosEncodeName(&record, encoded);
        char again[CM_NB_NAME_SIZE + 1];
        if (cmNetBiosParseName(encoded, encoded + n, encoded, again, nullptr, 0) != encoded + n ||
            std::memcmp(again, name, CM_NB_NAME_SIZE) != 0)
            std::abort();
    }
    return 0;
}
