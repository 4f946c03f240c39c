// SMB1 NEGOTIATE: the dialect, the connection's session and the server's
// limits, or the hand-over to SMB2 for a client that offers it.
#include "smb1_answer.h"

#include "amspnego.h"
#include "cmcrypt.h"
#include "cmsd.h"
#include "cmtime.h"
#include "cscommands.h"
#include "cssmb2.h"
#include "syclock.h"

#include <cstring>
#include <string_view>

using namespace cs::smb1;

namespace {

constexpr uint16_t kFlags2ExtendedSecurity = 0x0800;
constexpr uint32_t kCapabilities = 0x0000E07C;
constexpr uint32_t kCapExtendedSecurity = 0x80000000u;
constexpr uint16_t kNoDialect = 0xFFFF;

// The 16 bytes of the computer SID after its revision, count and authority.
void writeServerGuid(Reply &r)
{
    const CMSdDomainSid *sid = cmSdGetComputerSid();
    for (uint32_t i = 0; i < 4; ++i)
        r.u32(sid && i < CM_SD_MAX_SUBAUTHORITIES ? sid->subauthorities[i] : 0);
}

}  // namespace

extern "C" {

uint32_t csComNegotiate(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    setU16(response + 10, uint16_t(u16(response + 10) | kFlags2ExtendedSecurity));
    const Block block{params};
    if (block.words() != 0)
        return kMalformed();

    // Dialect strings: 0x02, the name, a zero; each inside the byte block.
    int ntlm = -1;
    bool smb2002 = false;
    const uint8_t *p = block.bytes();
    const uint8_t *end = block.bytesEnd();
    for (int index = 0; p < end; ++index) {
        if (*p != 0x02)
            return kMalformed();
        const uint8_t *name = p + 1;
        const void *zero = std::memchr(name, 0, size_t(end - name));
        if (!zero)
            return kInvalid();
        std::string_view dialect(reinterpret_cast<const char *>(name),
                                 size_t(static_cast<const uint8_t *>(zero) - name));
        p = static_cast<const uint8_t *>(zero) + 1;
        if (dialect == "NT LM 0.12")
            ntlm = index;
        else if (dialect == "SMB 2.002")
            smb2002 = true;
        else if (dialect == "SMB 2.???") {
            uint32_t status = csSmb2OnSmb1Negotiate(position, 1);
            if (smb2002)
                if (CSSession *session = csGetSessionBySocket())
                    session->dialect = CS_DIALECT_SMB202;
            return status;
        }
    }
    if (smb2002)
        return csSmb2OnSmb1Negotiate(position, 0);

    Reply r(response, *position);
    if (ntlm < 0) {
        r.u8(1);
        r.u16(kNoDialect);
        r.u16(0);
        return r.finish(position);
    }
    if (csSessionExists())
        return kGeneral();
    CSSession *session = csGetNewSession();
    if (!session)
        return csErrorReturn(0xC00000D0u, 0x00590002u);
    cmCreateRandomByteSequence(session->challenge, sizeof session->challenge);
    session->dialect = CS_DIALECT_SMB1;
    session->capabilities = kCapabilities;
    session->expectedSequence = session->responseSequence = 0;

    const bool extended = u16(requestHeader() + 10) & kFlags2ExtendedSecurity;
    CMUint64 now{};
    syGetTimeInMsec(&now);
    uint32_t timeLow = 0, timeHigh = 0;
    cmCifsTimeToUTC(now.low, now.high, &timeLow, &timeHigh);

    r.u8(17);
    r.u16(uint16_t(ntlm));
    // User-level security with challenge/response, and the signing policy:
    // a client that must sign looks here first.
    r.u8(uint8_t(3 | (csIsMessageSigningEnabled() ? 0x04 : 0) | (csIsMessageSigningRequired() ? 0x08 : 0)));
    r.u16(10);     // MaxMpxCount
    r.u16(1);      // MaxNumberVcs
    r.u32(65536);  // MaxBufferSize
    r.u32(65536);  // MaxRawSize
    r.u32(0);      // SessionKey
    r.u32(extended ? kCapabilities | kCapExtendedSecurity : kCapabilities);
    r.u32(timeLow);
    r.u32(timeHigh);
    r.u16(uint16_t(syGetTimeZone()));
    r.u8(extended ? 0 : 8);
    uint8_t *count = r.reserve(2);
    if (extended) {
        writeServerGuid(r);
        CMBlob token{};
        amSpnegoServerGenerateMechList(&token);
        r.bytes(token.data, token.len);
        if (token.data)
            cmMemoryFreeNonDebug(token.data);
    } else {
        r.bytes(session->challenge, sizeof session->challenge);
    }
    closeByteCount(r, count);
    return r.finish(position);
}

}  // extern "C"
