// Counted strings, SIDs and string arrays of the security interfaces.
#include "ndr_lsa.h"

#include "ndr_text.h"

#include <cstring>

namespace rpc {

namespace {

void overrun(CMRpcPacketDescriptor *d)
{
    d->overrun = 1;
    d->current = d->origin + d->length;
}

}  // namespace

WText widen(const std::string &text)
{
    WText out;
    for (unsigned char c : text)
        out.push_back(c);
    return out;
}

WText units(const CMRpcUnicodeString &text)
{
    WText out;
    // The text lies in the request, possibly unaligned: read it byte by byte.
    const uint8_t *p = reinterpret_cast<const uint8_t *>(text.text);
    for (uint32_t i = 0; p && i < text.length; ++i) {
        CMWchar unit = CMWchar(p[2 * i] | p[2 * i + 1] << 8);
        if (unit == 0)
            break;
        out.push_back(unit);
    }
    return out;
}

std::string narrow(const WText &text)
{
    std::string out;
    for (CMWchar c : text)
        out.push_back(c < 0x100 ? char(c) : '?');
    return out;
}

void packStringHeader(CMRpcPacketDescriptor *out, const WText &text, bool withZero)
{
    const uint32_t n = uint32_t(text.size());
    cmRpcAllignZero(out, 4);
    cmRpcPackUint16(out, uint16_t(2 * n));
    cmRpcPackUint16(out, uint16_t(2 * (n + (withZero ? 1 : 0))));
    packPointer(out);
}

void packStringBody(CMRpcPacketDescriptor *out, const WText &text, bool withZero)
{
    const uint32_t n = uint32_t(text.size());
    cmRpcAllignZero(out, 4);
    cmRpcPackUint32(out, n + (withZero ? 1 : 0));
    cmRpcPackUint32(out, 0);
    cmRpcPackUint32(out, n);
    for (CMWchar c : text)
        cmRpcPackUint16(out, c);
    cmRpcAllignZero(out, 4);
}

void packSid(CMRpcPacketDescriptor *out, const CMSdDomainSid *sid)
{
    cmRpcAllignZero(out, 4);
    cmRpcPackUint32(out, sid->count);
    cmSdPackSid(out, sid);
}

void packSidRid(CMRpcPacketDescriptor *out, const CMSdDomainSid *sid, uint32_t rid)
{
    cmRpcAllignZero(out, 4);
    cmRpcPackUint32(out, sid->count + 1u);
    cmSdPackSidRid(out, sid, rid);
}

bool parseSid(CMRpcPacketDescriptor *in, CMSdDomainSid *sid)
{
    uint32_t count = 0;
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &count);
    cmSdParseSid(in, sid);
    if (!cmRpcIsOverrun(in) && count != sid->count)
        overrun(in);
    return !cmRpcIsOverrun(in);
}

bool sameSid(const CMSdDomainSid &a, const CMSdDomainSid &b)
{
    if (a.revision != b.revision || a.count != b.count || std::memcmp(a.authority, b.authority, 6) != 0)
        return false;
    for (uint32_t i = 0; i < a.count && i < CM_SD_MAX_SUBAUTHORITIES; ++i)
        if (a.subauthorities[i] != b.subauthorities[i])
            return false;
    return true;
}

void parseCountedText(CMRpcPacketDescriptor *in, CMRpcUnicodeString *text)
{
    *text = CMRpcUnicodeString{};
    uint32_t maximum = 0, offset = 0, actual = 0;
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &maximum);
    cmRpcParseUint32(in, &offset);
    cmRpcParseUint32(in, &actual);
    if (cmRpcIsOverrun(in) || cmRpcSpace(in) < 0 || actual > uint32_t(cmRpcSpace(in)) / 2) {
        overrun(in);
        return;
    }
    text->size = maximum;
    text->offset = offset;
    text->length = actual;
    text->text = reinterpret_cast<CMWchar *>(in->current);
    cmRpcParseSkip(in, 2 * actual);
}

void parseStringArray(CMRpcPacketDescriptor *in, uint32_t count, std::vector<CMRpcUnicodeString> &out)
{
    out.clear();
    uint32_t maximum = 0;
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &maximum);
    // Each header takes 8 bytes: a count beyond the stub is not believed.
    if (cmRpcIsOverrun(in) || maximum != count || cmRpcSpace(in) < 0 ||
        count > uint32_t(cmRpcSpace(in)) / 8) {
        overrun(in);
        return;
    }
    std::vector<uint32_t> present(count);
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t length = 0, size = 0;
        cmRpcParseUint16(in, &length);
        cmRpcParseUint16(in, &size);
        cmRpcParseUint32(in, &present[i]);
    }
    for (uint32_t i = 0; i < count && !cmRpcIsOverrun(in); ++i) {
        out[i] = CMRpcUnicodeString{};
        if (!present[i])
            continue;
        parseCountedText(in, &out[i]);
    }
}

}  // namespace rpc
