// SPNEGO server: the mechanism list of the negotiate responses, and the
// unwrapping of session-setup blobs around the one mechanism, NTLMSSP.
#include "amspnego.h"
#include "cmstring.h"

#include <cstring>

namespace {

AMSessionKeyCallback gSessionKeyCallback;

// negHints hintName that the published SPNEGO extension prescribes.
constexpr char kHintName[] = "not_defined_in_RFC4178@please_ignore";

struct Round {
    const AMMechanismDescriptor *mechanism;
    AMNtlmsspResult *result;
    CMWchar *account;
    CMWchar **domain;
    const uint8_t **encryptedKey;
};

uint32_t runMechanism(void *context, CMBufferReader *in, CMBufferWriter *out)
{
    auto *round = static_cast<Round *>(context);
    return round->mechanism->process(in, out, round->result, round->account, round->domain,
                                     round->encryptedKey);
}

// The OID of exactly one mechanism (its own or its alternative).
bool isMechanism(CMBufferReader *r, const AMMechanismDescriptor *m)
{
    if (cmAsn1ParseCompareOid(r, m->oid, 1))
        return true;
    return m->alternativeOid && cmAsn1ParseCompareOid(r, m->alternativeOid, 1);
}

bool expect(CMBufferReader *r, uint8_t tag, uint32_t *length)
{
    return cmAsn1ParseTag(r, length) == tag && !cmBufferReaderIsOverrun(r);
}

}  // namespace

extern "C" {

int amSpnegoStart(void) { return 1; }

void amSpnegoShutdown(void) {}

void amSpnegoServerSetSessionKeyCallback(AMSessionKeyCallback callback) { gSessionKeyCallback = callback; }

uint32_t amSpnegoServerGetCurrentSessionKey(uint8_t **challenge, uint8_t **nonceArea)
{
    if (!gSessionKeyCallback)
        return 11;
    return gSessionKeyCallback(challenge, nonceArea);
}

CMBlob *amSpnegoServerGenerateMechList(CMBlob *blob)
{
    blob->data = static_cast<uint8_t *>(cmMemoryAllocNonDebug(AM_SPNEGO_MECH_LIST_SIZE));
    blob->len = 0;
    if (!blob->data)
        return blob;
    const uint32_t hint = sizeof kHintName - 1;
    const uint32_t mechTypes = cmAsn1GetElementLength(cmAsn1GetElementLength(cmGssApiOidNtlmSsp.size));
    const uint32_t hints = cmAsn1GetElementLength(cmAsn1GetElementLength(cmAsn1GetElementLength(hint)));
    const uint32_t sequence = cmAsn1GetElementLength(mechTypes) + cmAsn1GetElementLength(hints);
    const uint32_t init = cmAsn1GetElementLength(cmGssApiOidSpnego.size) +
                          cmAsn1GetElementLength(cmAsn1GetElementLength(sequence));
    CMBufferWriter w;
    cmBufferWriterInit(&w, blob->data, AM_SPNEGO_MECH_LIST_SIZE);
    cmAsn1PackTag(&w, 0x60, init);
    cmAsn1PackOid(&w, &cmGssApiOidSpnego);
    cmAsn1PackTag(&w, 0xA0, cmAsn1GetElementLength(sequence));
    cmAsn1PackTag(&w, 0x30, sequence);
    cmAsn1PackTag(&w, 0xA0, mechTypes);
    cmAsn1PackTag(&w, 0x30, cmAsn1GetElementLength(cmGssApiOidNtlmSsp.size));
    cmAsn1PackOid(&w, &cmGssApiOidNtlmSsp);
    cmAsn1PackTag(&w, 0xA3, hints);
    cmAsn1PackTag(&w, 0x30, cmAsn1GetElementLength(cmAsn1GetElementLength(hint)));
    cmAsn1PackTag(&w, 0xA0, cmAsn1GetElementLength(hint));
    cmAsn1PackTag(&w, 0x1B, hint);
    cmBufferWriteBytes(&w, kHintName, hint);
    blob->len = cmBufferWriterGetDataCount(&w);
    return blob;
}

uint32_t amSpnegoServerAcceptBlobW(AMMechanismContext *context, CMBlob *in, CMBlob *out, CMWchar *account,
                                   CMWchar **domain, const uint8_t **encryptedKey, AMNtlmsspResult *result)
{
    std::memset(result, 0, sizeof *result);
    uint32_t room = out->len < AM_SPNEGO_ANSWER_MAX ? out->len : AM_SPNEGO_ANSWER_MAX;
    out->len = 0;
    if (!in->data || in->len == 0 || !out->data)
        return AM_SPNEGO_REFUSED;
    CMBufferReader r;
    cmBufferReaderInit(&r, in->data, in->len);
    CMBufferWriter w;
    cmBufferWriterInit(&w, out->data, room);
    Round round{amNtlmsspGetServerDescriptor(), result, account, domain, encryptedKey};
    uint32_t length = 0, status;
    uint8_t first = in->data[0];
    if (first == 0x60) {
        uint32_t listLength;
        if (!expect(&r, 0x60, &length) || !cmAsn1ParseCompareOid(&r, &cmGssApiOidSpnego, 0) ||
            !expect(&r, 0xA0, &length) || !expect(&r, 0x30, &length) || !expect(&r, 0xA0, &listLength))
            return AM_SPNEGO_REFUSED;
        const uint8_t *listEnd = cmBufferReaderGetPosition(&r) + listLength;
        // Only the first listed mechanism counts, and only when it is ours exactly.
        if (!expect(&r, 0x30, &length) || !isMechanism(&r, round.mechanism))
            return AM_SPNEGO_REFUSED;
        cmBufferReaderSetPosition(&r, listEnd);
        uint32_t tokenLength;
        if (!expect(&r, 0xA2, &length) || !expect(&r, 0x04, &tokenLength))
            return AM_SPNEGO_REFUSED;
        *context = round.mechanism;
        CMBufferReader token;
        cmBufferReaderInit(&token, cmBufferReaderGetPosition(&r), tokenLength);
        status = spnegoPackNegTokenResp(round.mechanism->oid, runMechanism, &round, &token, &w, 0);
        cmBufferReaderSkip(&r, tokenLength);
    } else if (first == 0xA1) {
        uint8_t tag;
        if (!expect(&r, 0xA1, &length) || !expect(&r, 0x30, &length))
            return AM_SPNEGO_REFUSED;
        tag = cmAsn1ParseTag(&r, &length);
        if (tag == 0xA0) {
            if (!expect(&r, 0x0A, &length))
                return AM_SPNEGO_REFUSED;
            cmBufferReaderSkip(&r, length);
            tag = cmAsn1ParseTag(&r, &length);
        }
        uint32_t tokenLength;
        if (tag != 0xA2 || cmBufferReaderIsOverrun(&r) || !expect(&r, 0x04, &tokenLength))
            return AM_SPNEGO_REFUSED;
        if (!*context)
            return AM_SPNEGO_REFUSED;
        round.mechanism = *context;
        CMBufferReader token;
        cmBufferReaderInit(&token, cmBufferReaderGetPosition(&r), tokenLength);
        status = spnegoPackNegTokenResp(round.mechanism->oid, runMechanism, &round, &token, &w, 0);
        cmBufferReaderSkip(&r, tokenLength);
    } else {
        // A raw NTLMSSP message is answered raw.
        *context = round.mechanism;
        CMBufferReader message;
        cmBufferReaderInit(&message, in->data, in->len);
        status = spnegoPackNegTokenResp(round.mechanism->oid, runMechanism, &round, &message, &w, 1);
        cmBufferReaderSkip(&r, in->len);
    }
    if (cmBufferWriterIsOverrun(&w)) {
        if (*domain) {
            cmMemoryFreeNonDebug(*domain);
            *domain = nullptr;
        }
        return AM_SPNEGO_REFUSED;
    }
    out->len = cmBufferWriterGetDataCount(&w);
    uint32_t parsed = uint32_t(cmBufferReaderGetPosition(&r) - in->data);
    in->data += parsed;
    in->len -= parsed;
    return status;
}

uint32_t amSpnegoServerAcceptBlobA(AMMechanismContext *context, CMBlob *in, CMBlob *out, char *account,
                                   CMWchar **domain, const uint8_t **encryptedKey, AMNtlmsspResult *result)
{
    auto *wide = static_cast<CMWchar *>(cmMemoryAllocNonDebug(2 * (AM_ACCOUNT_NAME_UNITS + 128)));
    if (!wide)
        return AM_SPNEGO_NOMEM;
    std::memset(wide, 0, 2 * (AM_ACCOUNT_NAME_UNITS + 128));
    uint32_t status = amSpnegoServerAcceptBlobW(context, in, out, wide, domain, encryptedKey, result);
    cmUnicodeToAnsiN(account, wide, 2 * 256);
    cmMemoryFreeNonDebug(wide);
    return status;
}

void amSpnegoFreeKey(void **holder)
{
    if (holder && *holder) {
        cmMemoryFreeNonDebug(*holder);
        *holder = nullptr;
    }
}

int cmGssDoesBlobHaveMechType(const uint8_t *blob, uint32_t length, const CMAsn1Oid *oid)
{
    if (!blob || length == 0)
        return 0;
    CMBufferReader r;
    cmBufferReaderInit(&r, blob, length);
    uint32_t n, listLength;
    if (!expect(&r, 0x60, &n) || !cmAsn1ParseCompareOid(&r, &cmGssApiOidSpnego, 0) || !expect(&r, 0xA0, &n) ||
        !expect(&r, 0x30, &n) || !expect(&r, 0xA0, &n) || !expect(&r, 0x30, &listLength))
        return 0;
    const uint8_t *end = cmBufferReaderGetPosition(&r) + listLength;
    while (cmBufferReaderGetPosition(&r) < end && !cmBufferReaderIsOverrun(&r)) {
        if (cmAsn1ParseCompareOid(&r, oid, 0))
            return 1;
    }
    return 0;
}

}  // extern "C"
