// Parses arbitrary bytes as a run of NDR fields in either byte order, the
// way the RPC interfaces take requests apart, and packs the strings found.
#include "cmrpc.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    std::vector<uint8_t> packet(data + 1, data + size);
    CMRpcPacketDescriptor d;
    cmRpcSetDescriptor(&d, packet.data(), control & 1);
    d.length = (uint32_t)packet.size();

    std::vector<uint8_t> out(512);
    CMRpcPacketDescriptor o;
    cmRpcSetDescriptor(&o, out.data(), control & 2);
    o.length = (uint32_t)out.size();

    static const uint32_t kParseFlags[] = {10, 2, 8, 0, 0x0C, 0x04};
    for (int i = 0; i < 64 && !cmRpcIsOverrun(&d) && cmRpcSpace(&d) > 0; ++i) {
        uint8_t op;
        cmRpcParseByte(&d, &op);
        uint32_t flags = kParseFlags[op % 6];
        CMRpcUnicodeString u;
        CMRpcAsciiString a;
        uint8_t uuid[16];
        uint32_t v32, lo, hi;
        switch (op >> 4 & 7) {
        case 0:
            cmRpcParseUnicode(&d, &u, flags);
            if (cmRpcIsOverrun(&d))
                break;
            // The text lies inside the packet with all its units.
            if ((uint8_t *)u.text < packet.data() ||
                (uint8_t *)u.text + (size_t)u.length * 2 > packet.data() + packet.size())
                std::abort();
            break;
        case 1:
            cmRpcParseAscii(&d, &a, flags);
            if (!cmRpcIsOverrun(&d) && a.size && (uint8_t *)a.text + a.size > packet.data() + packet.size())
                std::abort();
            if (!cmRpcIsOverrun(&d) && a.size)
                cmRpcPackBytes(&o, a.text, a.size);
            break;
        case 2:
            cmRpcParseUuid(&d, uuid);
            cmRpcPackUuid(&o, uuid);
            break;
        case 3:
            cmRpcParseUint64(&d, &lo, &hi);
            cmRpcPackTimeAsUTC(&o, lo, hi);
            break;
        case 4:
            cmRpcParseUint32(&d, &v32);
            cmRpcParseSkip(&d, v32);
            break;
        default:
            cmRpcAllign(&d, 1u << (op & 3));
            cmRpcAllignZero(&o, 8);
            break;
        }
        if (d.current < d.origin || d.current > d.origin + d.length)
            std::abort();
    }
    return 0;
}
