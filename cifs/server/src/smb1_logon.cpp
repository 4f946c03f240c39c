// SMB1 SESSION_SETUP_ANDX: one step of the logon exchange, and the user's
// uid with the server's native strings.
#include "smb1_answer.h"

#include "cmnetbios.h"
#include "cscommands.h"
#include "csauth.h"

#include <cctype>
#include <cstdio>

using namespace cs::smb1;

namespace {

constexpr uint32_t kCapStatus32 = 0x40;
constexpr uint32_t kCapLargeRead = 0x4000;
constexpr uint32_t kCapLargeWrite = 0x8000;
constexpr uint16_t kFlags2Signatures = 0x0004;
constexpr char kNativeOs[] = "Quendra Orvale Tarn";

// Commands a session setup may carry after it.
bool chainable(uint8_t command)
{
    switch (command) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x09:
    case 0x0F:
    case 0x10:
    case 0x25:
    case 0x29:
    case 0x2D:
    case 0x75:
    case 0x82:
    case 0x83:
    case 0xC0:
    case 0xC3:
    case kNoCommand:
        return true;
    default:
        return false;
    }
}

// The client's NativeOS begins with "Windows 4.0" (any case).
bool oldWindows(const uint8_t *p, const uint8_t *end, bool wide)
{
    static const char kOld[] = "windows 4.0";
    if (wide && (fromHeader(p) & 1))
        ++p;
    for (const char *c = kOld; *c; ++c) {
        if (p + (wide ? 2 : 1) > end)
            return false;
        uint16_t ch = wide ? u16(p) : *p;
        p += wide ? 2 : 1;
        if (ch > 0x7F || std::tolower(ch) != *c)
            return false;
    }
    return true;
}

// The NetBIOS domain name without its padding and suffix byte.
void domainName(char *out, size_t room)
{
    const CMNetBiosNameInfo *domain = cmNetBiosGetDomain();
    size_t n = 0;
    if (domain)
        for (; n + 1 < room && n < CM_NB_NAME_SIZE - 1 && domain->name[n]; ++n)
            out[n] = domain->name[n];
    while (n > 0 && out[n - 1] == ' ')
        --n;
    out[n] = 0;
}

}  // namespace

extern "C" {

uint32_t csComSessionSetupAndX(const uint8_t *params, uint8_t *response, uint8_t **position)
{
    const Block block{params};
    const uint8_t words = block.words();
    if (words != 12 && words != 13)
        return kMalformed();
    if (uint32_t status = csDispatchCheckSpace(response, *position, 9))
        return status;
    CSSession *session = csGetSessionBySocket();
    if (!session)
        return kGeneral();
    if (!chainable(block.andx()))
        return kGeneral();

    CSUser *user = nullptr;
    if (uint16_t uid = headerUid()) {
        user = csGetUserByUid(uid);
        if (user && user->authenticated)
            user = nullptr;
    }
    const bool wide = unicode();
    const bool extended = words == 12;
    // Signing starts with the first key a logon gives: on for a client that
    // asks for it (Flags2 0x0004) when the policy allows, always when it
    // requires it.
    if (session->waitingForFirstKey) {
        const bool asked = u16(requestHeader() + 10) & kFlags2Signatures;
        session->signingActive =
            csIsMessageSigningRequired() || (csIsMessageSigningEnabled() && asked) ? 1 : 0;
    }

    Reply r(response, *position);
    r.u8(extended ? 4 : 3);
    r.andx();
    uint8_t *action = r.reserve(2);
    uint8_t *blobLength = extended ? r.reserve(2) : nullptr;
    uint8_t *count = r.reserve(2);
    if (r.overrun())
        return kTooSmall();

    // The answer blob goes straight into the response.
    uint8_t scratch[16];
    uint8_t *answer = extended ? r.at() : scratch;
    uint32_t answerLength = extended ? cmBufferWriterGetRemaining(r.w()) : sizeof scratch;
    const uint8_t *after = nullptr;
    uint32_t status = csAuthenticateUser(params, uint32_t(block.bytesEnd() - params), session, answer,
                                         &answerLength, wide, &user, &after);
    const uint32_t moreProcessing = csErrorReturn(0xC0000016u, 0x00FF04D2u);
    if (status != 0 && status != moreProcessing)
        return status;
    if (extended) {
        cmBufferWriterSkip(r.w(), answerLength);
        setU16(blobLength, uint16_t(answerLength));
    }
    setU16(action, 0);
    if (status == 0 && user) {
        user->authenticated = 1;
        user->loggedOn = 1;
        setU16(action, user->guest ? 1 : 0);
        const uint32_t capabilities = block.dword(extended ? 20 : 22);
        user->ntStatusMode = (capabilities & kCapStatus32) ? 1 : 0;
        // Large reads and writes only for a client that offered them too.
        session->capabilities &= capabilities | ~(kCapLargeRead | kCapLargeWrite);
        const bool old = after && after <= block.bytesEnd() && oldWindows(after, block.bytesEnd(), wide);
        user->compatibility[0] = 0;
        user->compatibility[1] = old ? 0 : 1;
    }
    if (user)
        setU16(response + 28, user->uid);

    char lanman[16], domain[CM_NB_NAME_SIZE + 1];
    std::snprintf(lanman, sizeof lanman, "VXE %d.%d", 2, 0);
    domainName(domain, sizeof domain);
    r.text(kNativeOs, wide);
    r.text(lanman, wide);
    r.text(domain, wide);
    closeByteCount(r, count);
    return r.finish(position, status);
}

}  // extern "C"
