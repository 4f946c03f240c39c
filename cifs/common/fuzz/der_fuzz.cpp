// Walks arbitrary bytes as nested DER the way the SPNEGO server does: tags,
// lengths, object identifiers, and re-wraps what it found.
#include "cmasn1.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint32_t echo(void *context, CMBufferReader *in, CMBufferWriter *out)
{
    auto *token = static_cast<std::vector<uint8_t> *>(context);
    cmBufferWriteBytes(out, token->data(), (uint32_t)token->size());
    return cmBufferReaderGetRemaining(in) & 1 ? 2 : 3;
}

void walk(CMBufferReader *r, int depth, std::vector<uint8_t> &lastOctets)
{
    while (cmBufferReaderGetRemaining(r) > 0 && !cmBufferReaderIsOverrun(r)) {
        const uint8_t *start = cmBufferReaderGetPosition(r);
        uint32_t length;
        uint8_t tag = cmAsn1ParseTag(r, &length);
        if (cmBufferReaderIsOverrun(r))
            return;
        if (length > cmBufferReaderGetRemaining(r))
            std::abort();  // a parsed length must never pass the end
        const uint8_t *body = cmBufferReaderGetPosition(r);
        if (tag == CM_ASN1_OID) {
            CMBufferReader probe;
            cmBufferReaderInit(&probe, start, (uint32_t)(body - start) + length);
            cmAsn1ParseCompareOid(&probe, &cmGssApiOidNtlmSsp, 1);
            cmAsn1ParseCompareOid(&probe, &cmGssApiOidSpnego, 0);
        } else if (tag == 0x04) {
            lastOctets.assign(body, body + length);
        }
        if ((tag & 0x20) && depth < 16) {
            CMBufferReader inner;
            cmBufferReaderInit(&inner, body, length);
            walk(&inner, depth + 1, lastOctets);
        }
        cmBufferReaderSkip(r, length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CMBufferReader r;
    cmBufferReaderInit(&r, data, (uint32_t)size);
    std::vector<uint8_t> octets;
    walk(&r, 0, octets);

    // Wrap the last OCTET STRING as a response and check the wrapper parses.
    std::vector<uint8_t> out(octets.size() + 64);
    CMBufferWriter w;
    cmBufferWriterInit(&w, out.data(), (uint32_t)out.size());
    CMBufferReader in;
    cmBufferReaderInit(&in, data, (uint32_t)size);
    spnegoPackNegTokenResp(&cmGssApiOidNtlmSsp, echo, &octets, &in, &w, 0);
    if (cmBufferWriterIsOverrun(&w))
        std::abort();  // 64 bytes of room always hold the wrapper
    CMBufferReader back;
    cmBufferReaderInit(&back, out.data(), cmBufferWriterGetDataCount(&w));
    uint32_t length;
    if (cmAsn1ParseTag(&back, &length) != 0xA1 || length != cmBufferReaderGetRemaining(&back))
        std::abort();
    return 0;
}
