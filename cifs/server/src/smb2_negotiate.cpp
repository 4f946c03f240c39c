// SMB2 NEGOTIATE: the dialect, the 3.1.1 contexts (preauth hash and
// cipher), the response body, and the hand-over from an SMB1 NEGOTIATE.
#include "cssmb2.h"

#include "amspnego.h"
#include "cmcrypt.h"
#include "cmcryptsmb3.h"
#include "cmmemory.h"
#include "cmtime.h"
#include "csdispatch.h"

#include <cstring>

namespace {

constexpr uint32_t kInvalidParameter = 0xC000000Du;
constexpr uint32_t kRequestNotAccepted = 0xC00000D0u;
constexpr uint16_t kWildcard = 0x02FF;
constexpr uint16_t kNoDialect = 0xFFFF;
constexpr uint16_t kSha512 = 1;
constexpr uint16_t kAes128Ccm = 1, kAes128Gcm = 2;
constexpr uint16_t kContextPreauth = 1, kContextEncryption = 2;
constexpr uint32_t kNegotiateFixed = 36;  // the request body before the dialects

uint32_t dialectCode(uint16_t revision)
{
    switch (revision) {
    case kWildcard:
        return 0;
    case 0x0202:
        return CS_DIALECT_SMB202;
    case 0x0210:
        return CS_DIALECT_SMB21;
    case 0x0300:
        return CS_DIALECT_SMB30;
    case 0x0311:
        return CS_DIALECT_SMB311;
    default:
        return 0xFFFFFFFFu;
    }
}

bool recognised(uint16_t revision)
{
    return revision == 0x0202 || revision == 0x0210 || revision == 0x0300 || revision == 0x0311;
}

uint16_t securityMode()
{
    uint16_t mode = 0;
    if (csIsMessageSigningEnabled())
        mode |= 0x01;
    if (csIsMessageSigningRequired())
        mode |= 0x02;
    return mode;
}

struct Contexts {
    uint32_t preauthCount = 0;
    uint16_t answered = 0;
    uint16_t hashAlgorithm = kNoDialect;
    uint16_t cipher = 0;
};

// The 3.1.1 negotiate contexts, each inside the message with its data.
uint32_t readContexts(const CMSmb2Header *request, CMBufferReader *reader, uint32_t offset, uint16_t count,
                      Contexts &out)
{
    const uint32_t length = reader->length;
    if (count == 0)
        return kInvalidParameter;
    uint64_t at = offset;
    for (uint16_t i = 0; i < count; ++i) {
        if (at + 8 > length)
            return kInvalidParameter;
        cmSmb2HeaderSetReaderOffset(request, reader, uint32_t(at));
        uint16_t type = 0, dataLength = 0;
        cmBufferReadUint16(reader, &type);
        cmBufferReadUint16(reader, &dataLength);
        cmBufferReaderSkip(reader, 4);
        const uint64_t data = at + 8;
        if (data + dataLength > length)
            return kInvalidParameter;
        CMBufferReader body;
        cmBufferReaderInit(&body, reader->origin + data, dataLength);
        if (type == kContextPreauth) {
            uint16_t algorithms = 0, salt = 0;
            cmBufferReadUint16(&body, &algorithms);
            cmBufferReadUint16(&body, &salt);
            out.hashAlgorithm = kNoDialect;
            for (uint16_t k = 0; k < algorithms; ++k) {
                uint16_t a = 0;
                cmBufferReadUint16(&body, &a);
                if (!cmBufferReaderIsOverrun(&body) && a == kSha512)
                    out.hashAlgorithm = kSha512;
            }
            if (cmBufferReaderIsOverrun(&body))
                return kInvalidParameter;
            ++out.preauthCount;
            ++out.answered;
        } else if (type == kContextEncryption) {
            uint16_t ciphers = 0, taken = 0;
            cmBufferReadUint16(&body, &ciphers);
            for (uint16_t k = 0; k < ciphers && taken != kAes128Gcm; ++k) {
                uint16_t c = 0;
                cmBufferReadUint16(&body, &c);
                if (cmBufferReaderIsOverrun(&body))
                    return kInvalidParameter;
                if (c == kAes128Gcm || (c == kAes128Ccm && taken == 0))
                    taken = c;
            }
            if (cmBufferReaderIsOverrun(&body))
                return kInvalidParameter;
            if (taken && out.cipher == 0)
                ++out.answered;
            if (taken)
                out.cipher = taken;
        }
        at = (data + dataLength + 7) & ~uint64_t(7);
    }
    return out.preauthCount == 1 ? 0 : kInvalidParameter;
}

// What validate negotiate later compares.
void keepClientView(CSSession *session, uint16_t mode, uint32_t capabilities, const uint8_t *guid,
                    const uint16_t *dialects, uint16_t count)
{
    session->clientSecurityMode = mode;
    session->clientCapabilities = capabilities;
    std::memcpy(session->clientGuid, guid, 16);
    session->clientDialectCount = count;
    const uint16_t kept = count < 32 ? count : 32;
    std::memcpy(session->clientDialects, dialects, kept * sizeof *dialects);
}

}  // namespace

extern "C" {

uint16_t cs2DialectRevision(uint32_t dialect)
{
    switch (dialect) {
    case CS_DIALECT_SMB202:
        return 0x0202;
    case CS_DIALECT_SMB21:
        return 0x0210;
    case CS_DIALECT_SMB30:
        return 0x0300;
    case CS_DIALECT_SMB311:
        return 0x0311;
    default:
        return 0;
    }
}

uint32_t cs2SetDialect(CSSession **session, uint16_t revision, uint32_t useGcm)
{
    if (!*session)
        *session = csGetNewSession();
    CSSession *s = *session;
    if (!s)
        return kRequestNotAccepted;
    // The connection's value that the logon's challenge comes from.
    cmCreateRandomByteSequence(s->challenge, sizeof s->challenge);
    uint32_t code = dialectCode(revision);
    if (code != 0xFFFFFFFFu) {
        s->dialect = code;
        if (code == CS_DIALECT_SMB311)
            std::memset(s->preauthHash, 0, sizeof s->preauthHash);
    }
    s->useGcm = useGcm;
    s->creditPool = CS2_CREDIT_POOL;
    return 0;
}

void cs2PackNegotiateResponse(CMSmb2Header *response, CMBufferWriter *writer, uint16_t revision,
                              uint16_t contextCount, uint16_t cipher, uint16_t hashAlgorithm)
{
    CMBlob mechList{nullptr, 0};
    amSpnegoServerGenerateMechList(&mechList);
    const uint16_t blobLength = mechList.data ? uint16_t(mechList.len) : 0;
    const uint16_t blobOffset = CM_SMB2_HEADER_SIZE + 64;
    const bool v311 = revision == 0x0311;
    CMUint64 now{0, 0};
    cmGetCurrentTime(&now);
    const CMUint64 start = cs2GetServerStartTime();
    const uint8_t *guid = cs2GetServerUuid();
    static const uint8_t kNoGuid[16] = {};

    cmBufferWriteUint16(writer, 65);
    cmBufferWriteUint16(writer, securityMode());
    cmBufferWriteUint16(writer, revision);
    cmBufferWriteUint16(writer, v311 ? contextCount : 0);
    cmBufferWriteBytes(writer, guid ? guid : kNoGuid, 16);
    cmBufferWriteUint32(writer, revision == 0x0300 ? 0x40 : 0);
    cmBufferWriteUint32(writer, 0x100A0);
    cmBufferWriteUint32(writer, revision == 0x0300 || v311 ? 0x1001C : 0x10050);
    cmBufferWriteUint32(writer, 0x10030);
    cmBufferWriteUint64(writer, &now);
    cmBufferWriteUint64(writer, &start);
    cmBufferWriteUint16(writer, blobOffset);
    cmBufferWriteUint16(writer, blobLength);
    cmBufferWriteUint32(writer, v311 ? ((blobOffset + blobLength + 7u) & ~7u) : 0);
    cmBufferWriteBytes(writer, mechList.data, blobLength);
    if (mechList.data)
        cmMemoryFreeNonDebug(mechList.data);
    if (!v311)
        return;
    cmSmb2HeaderAlignWriter(response, writer, 8);
    cmBufferWriteUint16(writer, kContextPreauth);
    cmBufferWriteUint16(writer, 38);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint16(writer, 1);
    cmBufferWriteUint16(writer, 32);
    cmBufferWriteUint16(writer, hashAlgorithm);
    cmBufferWriteRandomBytes(writer, 32);
    if (contextCount < 2)
        return;
    cmSmb2HeaderAlignWriter(response, writer, 8);
    cmBufferWriteUint16(writer, kContextEncryption);
    cmBufferWriteUint16(writer, 4);
    cmBufferWriteUint32(writer, 0);
    cmBufferWriteUint16(writer, 1);
    cmBufferWriteUint16(writer, cipher);
}

uint32_t csSmb2OnNegotiate(CMSmb2Header *request, CMSmb2Header *response, CMBufferReader *reader,
                           CSSession *session, CSUser *, CSTree *, CMBufferWriter *writer)
{
    // One dialect a connection: a client that negotiates again is not one
    // this server can follow.
    if (session->negotiated)
        return CS2_STATUS_DISCONNECT;
    uint16_t dialectCount = 0, mode = 0, contextCount = 0;
    uint32_t capabilities = 0, contextOffset = 0;
    uint8_t guid[16] = {};
    cmBufferReadUint16(reader, &dialectCount);
    cmBufferReadUint16(reader, &mode);
    cmBufferReaderSkip(reader, 2);
    cmBufferReadUint32(reader, &capabilities);
    cmBufferReadBytes(reader, guid, sizeof guid);
    cmBufferReadUint32(reader, &contextOffset);
    cmBufferReadUint16(reader, &contextCount);
    cmBufferReaderSkip(reader, 2);
    if (cmBufferReaderIsOverrun(reader) ||
        CM_SMB2_HEADER_SIZE + kNegotiateFixed + 2u * dialectCount > reader->length)
        return kInvalidParameter;

    uint16_t dialects[32];
    uint16_t candidate = 0;
    for (uint16_t i = 0; i < dialectCount; ++i) {
        uint16_t d = 0;
        cmBufferReadUint16(reader, &d);
        if (i < 32)
            dialects[i] = d;
        if (recognised(d))
            candidate = d;
    }

    Contexts contexts;
    if (candidate == 0x0311) {
        uint32_t status = readContexts(request, reader, contextOffset, contextCount, contexts);
        if (status != 0)
            return status;
        session->negotiateHashPending = 1;
    }

    uint16_t answer;
    if (candidate) {
        uint32_t status = cs2SetDialect(&session, candidate, contexts.cipher == kAes128Gcm);
        if (status != 0)
            return status;
        session->negotiated = 1;
        keepClientView(session, mode, capabilities, guid, dialects, dialectCount);
        answer = candidate;
    } else {
        answer = session->dialect == CS_DIALECT_SMB202 ? 0x0202 : kNoDialect;
    }

    if (session->negotiateHashPending)
        cmSmb311CalcMessagesHash(request->_start, reader->length, session->preauthHash, nullptr);
    cs2PackNegotiateResponse(response, writer, answer, contexts.answered, contexts.cipher,
                             contexts.hashAlgorithm);
    return 0;
}

uint32_t csSmb2OnSmb1Negotiate(uint8_t **position, int wildcard)
{
    CSSession *session = csGetSessionBySocket();
    const uint16_t revision = wildcard ? kWildcard : 0x0202;
    uint32_t status = cs2SetDialect(&session, revision, 0);
    if (status != 0)
        return status;
    // The SMB1 message counts as MessageId 0; the client goes on from 1.
    session->midLow = 1;
    session->midEnd = 2;
    std::memset(session->midUsed, 0, sizeof session->midUsed);

    uint8_t *header = *position - CM_SMB_HEADER_SIZE;
    CMBufferWriter writer;
    cmBufferWriterInit(&writer, header, CS_RESPONSE_LIMIT - CM_SMB_HEADER_SIZE);
    CMSmb2Header response;
    cmSmb2HeaderInitForResponse(&response, &writer, 1);
    cmSmb2HeaderWrite(&response, &writer);
    cs2PackNegotiateResponse(&response, &writer, revision, 0, 0, 0);
    if (cmBufferWriterIsOverrun(&writer))
        return 0xC0000001u;
    *position = cmBufferWriterGetPosition(&writer);
    return 0;
}

}  // extern "C"
