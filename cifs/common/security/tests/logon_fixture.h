// A server with one connection and its session, the hooks on a private
// configuration folder, and builders of NTLMSSP and SPNEGO messages.
#ifndef LOGON_FIXTURE_H
#define LOGON_FIXTURE_H

#include "ud_test_env.h"

#include "amspnego.h"
#include "cmnetbios.h"
#include "cmsd.h"
#include "csauth.h"
#include "csdb.h"
#include "csdispatch.h"

#include <gtest/gtest.h>

#include "fw_test/bytes.h"

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace logontest {

using fw_test::Bytes;
using fw_test::hex;
using fw_test::to_hex;

inline Bytes utf16(const std::string &text)
{
    Bytes out;
    for (char c : text) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    return out;
}

using fw_test::get_le16;
using fw_test::get_le32;
using fw_test::put_le16;
using fw_test::put_le32;

inline Bytes negotiate(uint32_t flags = 0xE2088297)
{
    Bytes b{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    put_le32(b, 1);
    put_le32(b, flags);
    b.resize(32, 0);
    return b;
}

struct Authenticate {
    Bytes lm, nt, domain, user, workstation, key;
    uint32_t flags = 0xE2088215;
};

// Fields follow the 64-byte header in order; offsets and lengths as given
// unless a test overrides them afterwards.
inline Bytes authenticate(const Authenticate &a)
{
    Bytes b{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    put_le32(b, 3);
    const Bytes *fields[] = {&a.lm, &a.nt, &a.domain, &a.user, &a.workstation, &a.key};
    uint32_t offset = 64;
    for (const Bytes *f : fields) {
        put_le16(b, uint16_t(f->size()));
        put_le16(b, uint16_t(f->size()));
        put_le32(b, offset);
        offset += uint32_t(f->size());
    }
    put_le32(b, a.flags);
    b.resize(64, 0);
    for (const Bytes *f : fields)
        b.insert(b.end(), f->begin(), f->end());
    return b;
}

inline Bytes tlv(uint8_t tag, const Bytes &body)
{
    Bytes b{tag};
    size_t n = body.size();
    if (n < 128) {
        b.push_back(uint8_t(n));
    } else if (n < 256) {
        b.push_back(0x81);
        b.push_back(uint8_t(n));
    } else {
        b.push_back(0x82);
        b.push_back(uint8_t(n >> 8));
        b.push_back(uint8_t(n));
    }
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kSpnegoOid = {0x06, 0x06, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x02};
const Bytes kNtlmOid = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0A};
const Bytes kKerberosOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02};

inline Bytes negTokenInit(const Bytes &token, const Bytes &mechs = kNtlmOid, const Bytes &extra = {})
{
    Bytes seq = cat({tlv(0xA0, tlv(0x30, mechs)), extra, tlv(0xA2, tlv(0x04, token))});
    return tlv(0x60, cat({kSpnegoOid, tlv(0xA0, tlv(0x30, seq))}));
}

inline Bytes negTokenResp(const Bytes &token, bool withState)
{
    Bytes seq = withState ? cat({tlv(0xA0, {0x0A, 0x01, 0x01}), tlv(0xA2, tlv(0x04, token))})
                          : tlv(0xA2, tlv(0x04, token));
    return tlv(0xA1, tlv(0x30, seq));
}

// The worked example's parties.
const Bytes kServerChallenge = hex("0123456789abcdef");
const Bytes kClientChallenge = hex("aaaaaaaaaaaaaaaa");
const Bytes kRandomSessionKey(16, 0x55);

constexpr uint32_t kEss = 0x00080000, kKeyExchange = 0x40000000;

const Bytes kNtlmv2Blob = hex("0101000000000000"
                              "0000000000000000"
                              "aaaaaaaaaaaaaaaa"
                              "00000000"
                              "02000c0044006f006d00610069006e00"
                              "01000c00530065007200760065007200"
                              "00000000"
                              "00000000");

// The worked examples' AUTHENTICATE messages, and two spoilt on purpose.
enum Variant { kNtlm, kNtlmEss, kNtlmv2, kWrongPassword, kShortNtlmv2 };

inline Authenticate worked(Variant v, bool keyExchange, const std::string &name = "User")
{
    Authenticate a;
    a.user = utf16(name);
    a.domain = utf16("Domain");
    a.flags = 0xA2000215 | (keyExchange ? kKeyExchange : 0);
    switch (v) {
    case kNtlm:
    case kWrongPassword:
        a.lm = hex("98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
        a.nt = hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
        if (v == kWrongPassword)
            a.nt[3] ^= 1;
        if (keyExchange)
            a.key = hex("518822b1b3f350c8958682ecbb3e3cb7");
        break;
    case kNtlmEss:
        a.lm = cat({kClientChallenge, Bytes(16, 0)});
        a.nt = hex("7537f803ae367128ca458204bde7caf81e97ed2683267232");
        a.flags |= kEss;
        if (keyExchange)
            a.key = hex("c24aaae976dbb40586052e128d87b4a6");
        break;
    case kNtlmv2:
    case kShortNtlmv2:
        a.lm = hex("86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");
        a.nt = cat({hex("68cd0ab851e51c96aabc927bebef6a1c"), kNtlmv2Blob});
        if (v == kShortNtlmv2) {
            a.lm.clear();
            a.nt.resize(20);
        }
        a.flags |= kEss;
        if (keyExchange)
            a.key = hex("c5dad2544fc9799094ce1ce90bc9d03e");
        break;
    }
    return a;
}

class LogonTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(sethostname("router", 6), 0);
        ASSERT_EQ(setdomainname("(none)", 6), 0);
        udStop();
        ASSERT_EQ(udInit(), 0);
        testenv::writeFile(path("pwd_list.txt"), "User:Password:1000:0\n");
        ASSERT_EQ(cmNetBiosInit(), 0);
        ASSERT_EQ(cmSdInit(), 0);
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        ASSERT_EQ(csAuthInit(), 1);
        csChangeEncryptionLevel(CS_AUTH_ALL);
        csAuthSetPermissive(0);
        csDispatchSetNtError(1);
        connect(&connectionA);
        session = newSession(CS_DIALECT_SMB202);
    }
    void TearDown() override
    {
        csAuthShutdown();
        csCloseDatabase();
        cmSdExit();
        cmNetBiosExit();
        csDispatchSetSocket(nullptr);
        csDispatchSetSocketIp(nullptr);
        HookTest::TearDown();
    }

    void connect(int *connection)
    {
        csDispatchSetSocket(connection);
        csDispatchSetSocketIp(&address);
    }

    CSSession *newSession(uint32_t dialect)
    {
        CSSession *s = csGetNewSession();
        if (s) {
            s->dialect = dialect;
            std::memcpy(s->challenge, kServerChallenge.data(), 8);
        }
        return s;
    }

    // One SMB2 round: the blob with its u16 length 10 bytes before it.
    uint32_t smb2Round(const Bytes &blob)
    {
        Bytes request(10, 0);
        request[0] = uint8_t(blob.size());
        request[1] = uint8_t(blob.size() >> 8);
        request.insert(request.end(), blob.begin(), blob.end());
        answer.assign(4096, 0);
        uint32_t length = uint32_t(answer.size());
        uint32_t status = csAuthenticateUser(request.data() + 10, uint32_t(blob.size()), session,
                                             answer.data(), &length, 1, &user, nullptr);
        answer.resize(length);
        return status;
    }

    // NEGOTIATE then AUTHENTICATE, raw or in SPNEGO.
    uint32_t exchange(const Authenticate &a, bool spnego = false)
    {
        uint32_t status = smb2Round(spnego ? negTokenInit(negotiate()) : negotiate());
        EXPECT_EQ(status, 0xC0000016u);
        if (status != 0xC0000016u)
            return status;
        Bytes msg = authenticate(a);
        return smb2Round(spnego ? negTokenResp(msg, true) : msg);
    }

    // Ends the last logon's user, if any, before the next attempt.
    void dropUser()
    {
        if (user)
            csReleaseUser(user->uid, 0);
        user = nullptr;
    }

    std::string sessionKey() const { return user ? to_hex(user->sessionKey, 16) : std::string(); }

    int connectionA = 0, connectionB = 0;
    uint32_t address = 0x0100000A;
    CSSession *session = nullptr;
    CSUser *user = nullptr;
    Bytes answer;
};

}  // namespace logontest

#endif
