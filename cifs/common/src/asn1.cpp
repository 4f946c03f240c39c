// DER tags, lengths and object identifiers of the security tokens.
#include "cmasn1.h"
#include "cursor.h"

using namespace cm;

namespace {

const uint8_t kSpnego[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x02};
const uint8_t kNtlmSsp[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0A};
const uint8_t kKerberos[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02};
const uint8_t kMsKerberos[] = {0x2A, 0x86, 0x48, 0x82, 0xF7, 0x12, 0x01, 0x02, 0x02};
const uint8_t kKerberosU2U[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02, 0x03};

// Lengths above 4 bytes never occur in a token that fits a message.
constexpr uint32_t kMaxLengthBytes = 4;

uint32_t significantBytes(uint32_t v)
{
    uint32_t n = 0;
    for (; v; v >>= 8)
        ++n;
    return n;
}

}  // namespace

extern "C" {

const CMAsn1Oid cmGssApiOidSpnego = {kSpnego, sizeof kSpnego};
const CMAsn1Oid cmGssApiOidNtlmSsp = {kNtlmSsp, sizeof kNtlmSsp};
const CMAsn1Oid cmGssApiOidKerberos = {kKerberos, sizeof kKerberos};
const CMAsn1Oid cmGssApiOidMsKerberos = {kMsKerberos, sizeof kMsKerberos};
const CMAsn1Oid cmGssApiOidKerberosUserToUser = {kKerberosU2U, sizeof kKerberosU2U};

uint32_t cmAsn1PackLen(uint32_t length) { return length < 128 ? 1 : 1 + significantBytes(length); }

uint32_t cmAsn1GetElementLength(uint32_t length) { return 1 + cmAsn1PackLen(length) + length; }

void cmAsn1PackTag(CMBufferWriter *writer, uint8_t tag, uint32_t length)
{
    cmBufferWriteByte(writer, tag);
    if (length < 128) {
        cmBufferWriteByte(writer, (uint8_t)length);
        return;
    }
    uint32_t n = significantBytes(length);
    cmBufferWriteByte(writer, (uint8_t)(0x80 | n));
    for (uint32_t i = n; i-- > 0;)
        cmBufferWriteByte(writer, (uint8_t)(length >> (8 * i)));
}

void cmAsn1PackOid(CMBufferWriter *writer, const CMAsn1Oid *oid)
{
    if (!oid)
        return;
    cmAsn1PackTag(writer, CM_ASN1_OID, oid->size);
    cmBufferWriteBytes(writer, oid->data, oid->size);
}

uint8_t cmAsn1ParseTag(CMBufferReader *reader, uint32_t *length)
{
    uint8_t tag, first;
    *length = 0;
    cmBufferReadByte(reader, &tag);
    cmBufferReadByte(reader, &first);
    uint32_t value = first;
    if (first & 0x80) {
        uint32_t n = first & 0x7F;
        if (n > kMaxLengthBytes || n > left(reader)) {
            overrun(reader);
            return 0;
        }
        value = 0;
        for (uint32_t i = 0; i < n; ++i)
            value = value << 8 | reader->current[i];
        reader->current += n;
    }
    if (reader->overrun || value > left(reader)) {
        overrun(reader);
        return 0;
    }
    *length = value;
    return tag;
}

int cmAsn1ParseCompareOid(CMBufferReader *reader, const CMAsn1Oid *oid, int restore)
{
    uint8_t *start = reader->current;
    uint32_t length;
    uint8_t tag = cmAsn1ParseTag(reader, &length);
    if (reader->overrun) {
        // An element that does not fit is a mismatch; the flag stays set.
        if (restore)
            reader->current = start;
        return 0;
    }
    bool match = oid && tag == CM_ASN1_OID && length == oid->size &&
                 std::memcmp(reader->current, oid->data, length) == 0;
    reader->current += length;
    if (match)
        return 1;
    if (restore)
        reader->current = start;
    return 0;
}

uint32_t spnegoPackNegTokenResp(const CMAsn1Oid *mechanism, CMSpnegoProcess process, void *context,
                                CMBufferReader *in, CMBufferWriter *out, int raw)
{
    uint8_t *token = out->current;
    uint32_t result = process(context, in, out);
    if (raw || out->overrun)
        return result;
    uint32_t t = (uint32_t)(out->current - token);
    uint8_t negState = result == 2 ? 0 : 1;
    out->current = token;
    if (t == 0) {
        const uint8_t bare[] = {0xA1, 0x07, 0x30, 0x05, 0xA0, 0x03, 0x0A, 0x01, negState};
        putBytes(out, bare, sizeof bare);
        return result;
    }
    // negTokenResp { negState, supportedMech, responseToken }, every length exact.
    uint32_t oidSize = mechanism ? mechanism->size : 0;
    uint32_t octets = cmAsn1GetElementLength(t);
    uint32_t responseToken = cmAsn1GetElementLength(octets);
    uint32_t oidElement = cmAsn1GetElementLength(oidSize);
    uint32_t supportedMech = cmAsn1GetElementLength(oidElement);
    uint32_t sequence = 5 + supportedMech + responseToken;
    uint64_t total = cmAsn1GetElementLength(cmAsn1GetElementLength(sequence));
    uint32_t header = (uint32_t)(total - t);
    if (total > left(out)) {
        overrun(out);
        return result;
    }
    std::memmove(token + header, token, t);
    cmAsn1PackTag(out, 0xA1, cmAsn1GetElementLength(sequence));
    cmAsn1PackTag(out, 0x30, sequence);
    const uint8_t state[] = {0xA0, 0x03, 0x0A, 0x01, negState};
    putBytes(out, state, sizeof state);
    cmAsn1PackTag(out, 0xA1, oidElement);
    cmAsn1PackTag(out, CM_ASN1_OID, oidSize);
    if (oidSize)
        putBytes(out, mechanism->data, oidSize);
    cmAsn1PackTag(out, 0xA2, octets);
    cmAsn1PackTag(out, 0x04, t);
    out->current += t;
    return result;
}

}  // extern "C"
