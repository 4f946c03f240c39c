// Security descriptors from the wire: parse, validity, pack, the access
// decisions and inheritance on whatever a client or a file may hold.
#include "cmsd.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t selector = data[0];
    std::vector<uint8_t> wire(data + 1, data + size);
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, wire.data(), 0);
    d.length = uint32_t(wire.size());
    CMSdSecurityDescriptor sd;
    cmSdParseSecurityDescriptor(&d, &sd);
    if (sd.length > CM_SD_MAX_SIZE)
        __builtin_trap();

    CMSdAccessToken token{};
    token.domain = *cmSdGetComputerSid();
    token.ridCount = 1 + selector % 6;
    for (uint32_t i = 0; i < token.ridCount; ++i)
        token.rids[i] = i == 0 ? 1000 : 544 + i;
    cmSdIsValid(&sd);
    cmSdHasAccess(&token, &sd, 0x001200A9u << (selector & 3));
    cmSdHasAccess(nullptr, &sd, 0x00040000);
    cmSdIsExclusiveSecurityDescriptor(&token, &sd);

    // The raw bytes as a stored descriptor, the way files and hooks hand them over.
    CMSdSecurityDescriptor raw{};
    if (!wire.empty())
        std::memcpy(raw.data, wire.data(), wire.size() < CM_SD_MAX_SIZE ? wire.size() : CM_SD_MAX_SIZE);
    raw.length = uint32_t(wire.size());
    cmSdIsValid(&raw);
    cmSdHasAccess(&token, &raw, 0x001F01FF);
    CMBlob blob{wire.data(), uint32_t(wire.size())};
    cmSdGetAccess(&blob, selector & 1 ? &token : nullptr);
    uint8_t child[CM_SD_MAX_SIZE];
    CMBlob out{child, uint32_t(20 + selector * 2)};
    if (uint32_t n = cmSdInherit(&blob, &out, selector & 2 ? &token : nullptr)) {
        if (n > sizeof child)
            __builtin_trap();
        CMSdSecurityDescriptor inherited{};
        std::memcpy(inherited.data, child, n);
        inherited.length = n;
        if (!cmSdIsValid(&inherited))
            __builtin_trap();  // what inherit writes is a valid descriptor
    }

    std::vector<uint8_t> packed(selector % 2 ? 600 : 40);
    CMRpcPacketDescriptor w;
    cmRpcSetDescriptor(&w, packed.data(), 0);
    w.length = uint32_t(packed.size());
    cmSdPackSecurityDescriptor(&w, &sd, selector & 0xF);
    return 0;
}
