// Byte form: whatever decodes must encode again, and that encoding must
// decode to the same bytes (the canonical form is a fixed point).
#include <cstdlib>
#include <cstring>

#include "coap_message.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct CoAPMessage *msg = CoAPMessage_FromBytes(data, size);
    if (!msg)
        return 0;
    uint32_t len1 = 0;
    uint8_t *enc1 = CoAPMessage_ToBytes(msg, &len1);
    check(enc1 != nullptr);
    // Duplicate single-valued options collapse, so the encoding is never longer.
    check(len1 <= size);

    struct CoAPMessage *again = CoAPMessage_FromBytes(enc1, len1);
    check(again != nullptr);
    uint32_t len2 = 0;
    uint8_t *enc2 = CoAPMessage_ToBytes(again, &len2);
    check(enc2 != nullptr && len1 == len2 && std::memcmp(enc1, enc2, len1) == 0);
    check(CoAPMessage_GetId(msg) == CoAPMessage_GetId(again));
    check(CoAPMessage_GetCode(msg) == CoAPMessage_GetCode(again));

    // Printing and cloning must cope with whatever arrived.
    struct Buf *buf = Buf();
    check(CoAPMessage_ToBuf(msg, buf) == 0);
    Buf_Free(buf);
    struct CoAPMessage *clone = CoAPMessage_Clone(msg, 1);
    check(clone != nullptr);
    uint32_t len3 = 0;
    uint8_t *enc3 = CoAPMessage_ToBytes(clone, &len3);
    check(enc3 != nullptr && len3 == len1 && std::memcmp(enc1, enc3, len1) == 0);

    Mem_free(enc1);
    Mem_free(enc2);
    Mem_free(enc3);
    CoAPMessage_Decref(clone);
    CoAPMessage_Decref(again);
    CoAPMessage_Decref(msg);
    return 0;
}
