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

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace logontest {

using Bytes = std::vector<uint8_t>;

inline Bytes hex(const std::string &text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string toHex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

inline Bytes utf16(const std::string &text) {
    Bytes out;
    for (char c : text) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    return out;
}

inline void put16(Bytes &b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t get32(const uint8_t *p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

inline Bytes negotiate(uint32_t flags = 0xE2088297) {
    Bytes b{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    put32(b, 1);
    put32(b, flags);
    b.resize(32, 0);
    return b;
}

struct Authenticate {
    Bytes lm, nt, domain, user, workstation, key;
    uint32_t flags = 0xE2088215;
};

// Fields follow the 64-byte header in order; offsets and lengths as given
// unless a test overrides them afterwards.
inline Bytes authenticate(const Authenticate &a) {
    Bytes b{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    put32(b, 3);
    const Bytes *fields[] = {&a.lm, &a.nt, &a.domain, &a.user, &a.workstation, &a.key};
    uint32_t offset = 64;
    for (const Bytes *f : fields) {
        put16(b, uint16_t(f->size()));
        put16(b, uint16_t(f->size()));
        put32(b, offset);
        offset += uint32_t(f->size());
    }
    put32(b, a.flags);
    b.resize(64, 0);
    for (const Bytes *f : fields)
        b.insert(b.end(), f->begin(), f->end());
    return b;
}

inline Bytes tlv(uint8_t tag, const Bytes &body) {
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

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kSpnegoOid = {0x06, 0x06, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x02};
const Bytes kNtlmOid = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0A};
const Bytes kKerberosOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02};

inline Bytes negTokenInit(const Bytes &token, const Bytes &mechs = kNtlmOid, const Bytes &extra = {}) {
    Bytes seq = cat({tlv(0xA0, tlv(0x30, mechs)), extra, tlv(0xA2, tlv(0x04, token))});
    return tlv(0x60, cat({kSpnegoOid, tlv(0xA0, tlv(0x30, seq))}));
}

inline Bytes negTokenResp(const Bytes &token, bool withState) {
    Bytes seq = withState ? cat({tlv(0xA0, {0x0A, 0x01, 0x01}), tlv(0xA2, tlv(0x04, token))})
                          : tlv(0xA2, tlv(0x04, token));
    return tlv(0xA1, tlv(0x30, seq));
}

// The worked example's parties.
const Bytes kServerChallenge = hex("0123456789abcdef");
const Bytes kClientChallenge = hex("aaaaaaaaaaaaaaaa");
const Bytes kRandomSessionKey(16, 0x55);

class LogonTest : public testenv::HookTest {
protected:
    void SetUp() override {
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
    void TearDown() override {
        csAuthShutdown();
        csCloseDatabase();
        cmSdExit();
        cmNetBiosExit();
        csDispatchSetSocket(nullptr);
        csDispatchSetSocketIp(nullptr);
        HookTest::TearDown();
    }

    void connect(int *connection) {
        csDispatchSetSocket(connection);
        csDispatchSetSocketIp(&address);
    }

    CSSession *newSession(uint32_t dialect) {
        CSSession *s = csGetNewSession();
        if (s) {
            s->dialect = dialect;
            std::memcpy(s->challenge, kServerChallenge.data(), 8);
        }
        return s;
    }

    // One SMB2 round: the blob with its u16 length 10 bytes before it.
    uint32_t smb2Round(const Bytes &blob) {
        Bytes request(10, 0);
        request[0] = uint8_t(blob.size());
        request[1] = uint8_t(blob.size() >> 8);
        request.insert(request.end(), blob.begin(), blob.end());
        answer.assign(4096, 0);
        uint32_t length = uint32_t(answer.size());
        uint32_t status = csAuthenticateUser(request.data() + 10, uint32_t(blob.size()), session, answer.data(),
                                             &length, 1, &user, nullptr);
        answer.resize(length);
        return status;
    }

    // NEGOTIATE then AUTHENTICATE, raw or in SPNEGO.
    uint32_t exchange(const Authenticate &a, bool spnego = false) {
        uint32_t status = smb2Round(spnego ? negTokenInit(negotiate()) : negotiate());
        EXPECT_EQ(status, 0xC0000016u);
        if (status != 0xC0000016u)
            return status;
        Bytes msg = authenticate(a);
        return smb2Round(spnego ? negTokenResp(msg, true) : msg);
    }

    std::string sessionKey() const { return user ? toHex(user->sessionKey, 16) : std::string(); }

    int connectionA = 0, connectionB = 0;
    uint32_t address = 0x0100000A;
    CSSession *session = nullptr;
    CSUser *user = nullptr;
    Bytes answer;
};

} // namespace logontest

#endif
