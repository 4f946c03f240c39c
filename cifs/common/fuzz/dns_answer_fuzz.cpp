// Walks arbitrary bytes as a DNS response the way the client reads one, for
// every wanted type, with the id the message carries; and decodes a name at
// every offset. Nothing may be read outside the datagram, no name may pass
// 255 characters and what is collected must fit what was given.
#include "cmdns.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> message(data, data + size);
    uint16_t id = size >= 2 ? static_cast<uint16_t>((data[0] << 8) | data[1]) : 0;
    const uint16_t types[] = {CM_DNS_TYPE_A, CM_DNS_TYPE_PTR, CM_DNS_TYPE_SRV, CM_DNS_TYPE_CNAME,
                              CM_DNS_TYPE_AAAA};
    for (uint16_t type : types) {
        uint32_t addresses[10];
        char names[300];
        uint32_t count = 99;
        int r = nsDnsParseAnswers(message.data(), static_cast<uint32_t>(message.size()), id, type, addresses,
                                  10, &count, names, sizeof names);
        if (count > 10 || (r == 0) != (count > 0))
            std::abort();
        if (r == 0 && type != CM_DNS_TYPE_A) {
            const char *n = names;
            for (uint32_t i = 0; i < count; ++i) {
                size_t len = strnlen(n, names + sizeof names - n);
                if (len > CM_DNS_NAME_MAX || n + len >= names + sizeof names)
                    std::abort();
                n += len + 1;
            }
        }
    }
    for (size_t at = 0; at < size; ++at) {
        CMBufferReader r;
        cmBufferReaderInit(&r, message.data(), static_cast<uint32_t>(message.size()));
        cmBufferReaderSkip(&r, static_cast<uint32_t>(at));
        char name[CM_DNS_NAME_MAX + 1];
        int result = nsDnsDecodeName(&r, name);
        if (result == 0 && (std::strlen(name) > CM_DNS_NAME_MAX || cmBufferReaderIsOverrun(&r)))
            std::abort();
        if (result != 0 && !cmBufferReaderIsOverrun(&r))
            std::abort();
    }
    return 0;
}
