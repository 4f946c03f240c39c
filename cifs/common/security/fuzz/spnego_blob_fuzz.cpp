// Session-setup blobs through the SPNEGO server and its NTLMSSP mechanism:
// each input is split into rounds of one exchange (NEGOTIATE then
// AUTHENTICATE, raw or wrapped), as a client would send them.
#include "amspnego.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

uint8_t gChallenge[8];
uint8_t gNonce[16];

uint32_t sessionKey(uint8_t **challenge, uint8_t **nonce)
{
    *challenge = gChallenge;
    *nonce = gNonce;
    return 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    amSpnegoServerSetSessionKeyCallback(sessionKey);
    std::memset(gChallenge, 0x11, sizeof gChallenge);
    AMMechanismContext context = nullptr;
    // Rounds are separated by the first 0xFF 0x00 0xFF marker.
    size_t split = size;
    for (size_t i = 0; i + 3 <= size; ++i) {
        if (data[i] == 0xFF && data[i + 1] == 0x00 && data[i + 2] == 0xFF) {
            split = i;
            break;
        }
    }
    const std::pair<const uint8_t *, size_t> rounds[] = {
        {data, split},
        {data + (split + 3 <= size ? split + 3 : size), split + 3 <= size ? size - split - 3 : 0}};
    for (auto [p, n] : rounds) {
        // An exact-size copy lets the sanitizer see any read past the blob.
        std::vector<uint8_t> blob(p, p + n);
        std::vector<uint8_t> answer(n % 3 == 0 ? 64 : AM_SPNEGO_ANSWER_MAX);
        CMBlob in{blob.data(), uint32_t(blob.size())};
        CMBlob out{answer.data(), uint32_t(answer.size())};
        CMWchar account[AM_ACCOUNT_NAME_UNITS];
        CMWchar *domain = nullptr;
        const uint8_t *key = nullptr;
        AMNtlmsspResult result;
        uint32_t status = amSpnegoServerAcceptBlobW(&context, &in, &out, account, &domain, &key, &result);
        if (status == AM_SPNEGO_DONE) {
            volatile uint8_t sink = 0;
            for (uint32_t i = 0; i < result.lmLength; ++i)
                sink = sink + result.lmResponse[i];
            for (uint32_t i = 0; i < result.ntLength; ++i)
                sink = sink + result.ntResponse[i];
            if (key)
                for (int i = 0; i < 16; ++i)
                    sink = sink + key[i];
            for (uint32_t i = 0; account[i] && i < AM_ACCOUNT_NAME_UNITS; ++i)
                sink = sink + uint8_t(account[i]);
            for (uint32_t i = 0; domain && domain[i]; ++i)
                sink = sink + uint8_t(domain[i]);
        }
        if (domain)
            cmMemoryFreeNonDebug(domain);
        if (out.len > answer.size())
            __builtin_trap();
        cmGssDoesBlobHaveMechType(blob.data(), uint32_t(blob.size()), &cmGssApiOidNtlmSsp);
        CMBlob challenge{blob.data(), uint32_t(blob.size())};
        if (const uint8_t *c = amNtlmsspServerGetChallenge(&challenge)) {
            volatile uint8_t sink = c[7];
            (void)sink;
        }
    }
    return 0;
}
