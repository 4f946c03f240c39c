// Client-side NTLM responses for outgoing credentials: LM, NTLM, LMv2 and
// NTLMv2 with their session keys and MAC-key copies.
#include "amspnego.h"
#include "cmcrypt.h"
#include "cmcryptntlm.h"
#include "cmstring.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kResponseSize[] = {0, 24, 24, 24, AM_CRYPT_NTLMV2_MAX};
// Fixed part of the NTLMv2 client blob before the target information.
constexpr uint32_t kBlobHeader = 28;

struct CryptContext {
    const uint8_t *challenge;
    const CMWchar *account;
    const CMWchar *name3;
    const CMBlob *targetInfo;
    uint32_t timeLow, timeHigh;
    uint32_t macRoom;
    uint8_t lmHash[16];
    uint8_t ntHash[16];
};

const CMWchar *field(const uint8_t *credentials, uint32_t offset)
{
    return reinterpret_cast<const CMWchar *>(credentials + offset);
}

uint32_t boundedLength(const CMWchar *text, uint32_t maxUnits)
{
    uint32_t n = 0;
    while (n < maxUnits && text[n])
        ++n;
    return n;
}

void copyBlob(CMBlob &to, const uint8_t *data, uint32_t length, uint32_t room)
{
    if (to.data && length <= room) {
        std::memcpy(to.data, data, length);
        to.len = length;
    }
}

void v2Hash(const CryptContext &c, uint8_t *v2)
{
    // The third name alone when it is a principal (user@realm), else third name and account.
    uint32_t n3 = boundedLength(c.name3, 514), na = boundedLength(c.account, 514);
    bool principal = false;
    for (uint32_t i = 0; i < n3; ++i)
        principal = principal || c.name3[i] == 0x40;
    std::vector<CMWchar> text(c.name3, c.name3 + n3);
    if (!principal)
        text.insert(text.end(), c.account, c.account + na);
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * text.size());
    for (CMWchar u : text) {
        CMWchar upper;
        cmWToupper(&upper, u);
        bytes.push_back(uint8_t(upper));
        bytes.push_back(uint8_t(upper >> 8));
    }
    cmHMACMD5(c.ntHash, 16, bytes.data(), uint32_t(bytes.size()), v2);
}

bool runCrypter(int type, const CryptContext &c, CMBlob &response, AMCryptOutput *out)
{
    if (type == AM_CRYPT_NONE)
        return true;
    if (!response.data || !out->sessionKey.data || !out->macKey.data)
        return false;
    uint16_t length = 0;
    switch (type) {
    case AM_CRYPT_LM:
        cmEncryptLMPassword(c.challenge, c.lmHash, response.data, &length);
        response.len = length;
        std::memcpy(out->sessionKey.data, response.data, 8);
        std::memset(out->sessionKey.data + 8, 0, 8);
        out->sessionKey.len = 8;
        break;
    case AM_CRYPT_NTLM:
        cmEncryptNTLMPassword(c.challenge, c.ntHash, response.data, &length);
        response.len = length;
        cmMD4(out->sessionKey.data, c.ntHash, 16);
        out->sessionKey.len = 16;
        break;
    case AM_CRYPT_LMV2: {
        uint8_t v2[16], data[16];
        v2Hash(c, v2);
        std::memcpy(data, c.challenge, 8);
        cmCreateRandomByteSequence(data + 8, 8);
        cmHMACMD5(v2, 16, data, 16, response.data);
        std::memcpy(response.data + 16, data + 8, 8);
        response.len = 24;
        cmHMACMD5(v2, 16, response.data, 16, out->sessionKey.data);
        out->sessionKey.len = 16;
        break;
    }
    case AM_CRYPT_NTLMV2: {
        const uint32_t info = c.targetInfo && c.targetInfo->data ? c.targetInfo->len : 0;
        const uint32_t tail = info ? info : 8;
        if (16 + kBlobHeader + tail > AM_CRYPT_NTLMV2_MAX)
            return false;
        uint8_t *blob = response.data + 16;
        std::memset(blob, 0, kBlobHeader + tail);
        blob[0] = 1;
        blob[1] = 1;
        for (int i = 0; i < 4; ++i) {
            blob[8 + i] = uint8_t(c.timeLow >> (8 * i));
            blob[12 + i] = uint8_t(c.timeHigh >> (8 * i));
        }
        cmCreateRandomByteSequence(blob + 16, 8);
        if (info)
            std::memcpy(blob + kBlobHeader, c.targetInfo->data, info);
        uint8_t v2[16];
        v2Hash(c, v2);
        cmEncryptNTLMv2Password(c.challenge, v2, blob, kBlobHeader + tail, response.data, &length);
        response.len = 16 + kBlobHeader + tail;
        cmHMACMD5(v2, 16, response.data, 16, out->sessionKey.data);
        out->sessionKey.len = 16;
        break;
    }
    default:
        return false;
    }
    copyBlob(out->macKey, response.data, response.len, c.macRoom);
    return true;
}

CMBlob allocate(uint32_t size)
{
    CMBlob b{nullptr, 0};
    if (size) {
        b.data = static_cast<uint8_t *>(cmMemoryAllocNonDebug(size));
        if (b.data)
            std::memset(b.data, 0, size);
    }
    return b;
}

}  // namespace

extern "C" {

int amCryptEncrypt(const uint8_t *credentials, int lmType, int ntType, const uint8_t *serverChallenge,
                   const CMBlob *targetInfo, uint32_t timeLow, uint32_t timeHigh, AMCryptOutput *out)
{
    std::memset(out, 0, sizeof *out);
    if (lmType < 0 || lmType > AM_CRYPT_NTLMV2 || ntType < 0 || ntType > AM_CRYPT_NTLMV2)
        return 0;
    const uint32_t lmSize = kResponseSize[lmType], ntSize = kResponseSize[ntType];
    out->lmResponse = allocate(lmSize);
    out->ntResponse = allocate(ntSize);
    out->sessionKey = allocate(16);
    out->macKey = allocate(ntSize ? ntSize : lmSize);

    CryptContext c{};
    c.challenge = serverChallenge;
    c.account = field(credentials, AM_CREDENTIALS_W_NAME);
    c.name3 = field(credentials, AM_CREDENTIALS_W_NAME3);
    c.targetInfo = targetInfo;
    c.timeLow = timeLow;
    c.timeHigh = timeHigh;
    c.macRoom = ntSize ? ntSize : lmSize;
    const CMWchar *password = field(credentials, AM_CREDENTIALS_W_PASSWORD);
    const uint32_t units = boundedLength(password, (AM_CREDENTIALS_W_SIZE - AM_CREDENTIALS_W_PASSWORD) / 2);
    char narrow[(AM_CREDENTIALS_W_SIZE - AM_CREDENTIALS_W_PASSWORD) / 2 + 1];
    for (uint32_t i = 0; i < units; ++i)
        narrow[i] = char(password[i]);
    narrow[units] = 0;
    cmHashPassword(narrow, c.lmHash);
    uint8_t wide[AM_CREDENTIALS_W_SIZE - AM_CREDENTIALS_W_PASSWORD];
    for (uint32_t i = 0; i < units; ++i) {
        wide[2 * i] = uint8_t(password[i]);
        wide[2 * i + 1] = uint8_t(password[i] >> 8);
    }
    cmMD4(c.ntHash, wide, 2 * units);
    bool ok = runCrypter(lmType, c, out->lmResponse, out) && runCrypter(ntType, c, out->ntResponse, out);
    std::memset(narrow, 0, sizeof narrow);
    std::memset(wide, 0, sizeof wide);
    std::memset(&c, 0, sizeof c);
    return ok ? 1 : 0;
}

void amCryptDispose(AMCryptOutput *out)
{
    for (CMBlob *b : {&out->lmResponse, &out->ntResponse, &out->sessionKey, &out->macKey}) {
        if (b->data)
            cmMemoryFreeNonDebug(b->data);
        b->data = nullptr;
        b->len = 0;
    }
}

void amCredentialsAsciiiToW(uint8_t *credentialsW, const uint8_t *credentialsA)
{
    struct {
        uint32_t from, to, size;
    } const fields[] = {{AM_CREDENTIALS_A_NAME, AM_CREDENTIALS_W_NAME, 257},
                        {AM_CREDENTIALS_A_NAME2, AM_CREDENTIALS_W_NAME2, 257},
                        {AM_CREDENTIALS_A_NAME3, AM_CREDENTIALS_W_NAME3, 258},
                        {AM_CREDENTIALS_A_PASSWORD, AM_CREDENTIALS_W_PASSWORD, 257}};
    for (const auto &f : fields) {
        auto *out = reinterpret_cast<CMWchar *>(credentialsW + f.to);
        const uint8_t *in = credentialsA + f.from;
        uint32_t i = 0;
        for (; i + 1 < f.size && in[i]; ++i)
            out[i] = in[i];
        out[i] = 0;
    }
    cmWStrupr(reinterpret_cast<CMWchar *>(credentialsW + AM_CREDENTIALS_W_NAME));
}

}  // extern "C"
