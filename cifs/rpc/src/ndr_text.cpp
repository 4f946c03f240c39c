// The NDR shapes the interfaces share, and the host's names as they answer them.
#include "ndr_text.h"

#include "cmnetbios.h"
#include "cmstring.h"

namespace rpc {

namespace {

constexpr uint32_t kStringFlags = CM_RP_SIZE32 | CM_RP_FRAGMENT32;

std::string trimmed(const char *name, uint32_t max)
{
    std::string out;
    for (uint32_t i = 0; i < max && name[i]; ++i)
        out.push_back(name[i]);
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

}  // namespace

bool parseStringPointer(CMRpcPacketDescriptor *in, CMRpcUnicodeString *text)
{
    uint32_t referent = 0;
    cmRpcParseUint32(in, &referent);
    text->size = text->offset = text->length = 0;
    text->text = nullptr;
    if (referent == 0)
        return false;
    cmRpcParseUnicode(in, text, kStringFlags);
    cmRpcAllign(in, 4);
    return true;
}

std::string narrow(const CMRpcUnicodeString &text, uint32_t max)
{
    std::string out;
    if (!text.text)
        return out;
    // The text lies in the request, possibly unaligned: read it byte by byte.
    const uint8_t *p = reinterpret_cast<const uint8_t *>(text.text);
    for (uint32_t i = 0; i < text.length && out.size() < max; ++i) {
        uint16_t unit = uint16_t(p[2 * i] | p[2 * i + 1] << 8);
        if (unit == 0)
            break;
        out.push_back(unit < 0x100 ? char(unit) : '?');
    }
    return out;
}

bool copyText(const CMRpcUnicodeString &text, CMWchar *out, uint32_t units)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(text.text);
    uint32_t n = 0;
    for (; p && n < text.length; ++n) {
        uint16_t unit = uint16_t(p[2 * n] | p[2 * n + 1] << 8);
        if (unit == 0)
            break;
        if (n + 1 >= units)
            return false;
        out[n] = unit;
    }
    if (units == 0)
        return false;
    out[n] = 0;
    return true;
}

void packPointer(CMRpcPacketDescriptor *out, bool present)
{
    // Any non-zero id serves; where it lies in the stub keeps it distinct.
    const uint32_t id = 0x00020000u + uint32_t(out->current - out->origin);
    cmRpcPackUint32(out, present ? id : 0);
}

void packText(CMRpcPacketDescriptor *out, const char *text)
{
    if (cmRpcPackAsciiAsUnicode(out, text ? text : "", kStringFlags | CM_RP_NULLTERM) != 0) {
        // Without memory for the copy the answer cannot be made whole.
        out->overrun = 1;
        out->current = out->origin + out->length;
    }
}

void packText(CMRpcPacketDescriptor *out, const CMWchar *text)
{
    cmRpcPackWcharAsUnicode(out, text, kStringFlags | CM_RP_NULLTERM);
}

std::string hostName() { return trimmed(cmNetBiosGetHostNameZeroed(), 15); }
std::string domainName() { return trimmed(cmNetBiosGetDomain()->name, 15); }

}  // namespace rpc
