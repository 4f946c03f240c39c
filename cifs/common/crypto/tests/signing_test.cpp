// SMB1, SMB 2.x and SMB 3.x signatures against OpenSSL's MD5, HMAC-SHA256
// and AES-CMAC, and which messages the server signs and checks.
#include <gtest/gtest.h>
#include <openssl/hmac.h>
#include <openssl/md5.h>

#include "cmsd.h"
#include "csdb.h"
#include "csdispatch.h"
#include "cssign.h"
#include "openssl_oracle.h"

using namespace cryptotest;

namespace {

Bytes random(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto &x : b)
        x = uint8_t(rng());
    return b;
}

Bytes opensslSmb1(const Bytes &key, uint32_t sequence, Bytes message, const Bytes &response)
{
    for (int i = 0; i < 8; ++i)
        message[14 + i] = i < 4 ? uint8_t(sequence >> (8 * i)) : 0;
    Bytes all = key;
    all.insert(all.end(), response.begin(), response.end());
    all.insert(all.end(), message.begin(), message.end());
    uint8_t digest[16];
    MD5(all.data(), all.size(), digest);
    return Bytes(digest, digest + 8);
}

Bytes opensslSmb2(const Bytes &key, Bytes message)
{
    std::fill(message.begin() + 48, message.begin() + 64, 0);
    uint8_t mac[32];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.data(), int(key.size()), message.data(), message.size(), mac, &n);
    return Bytes(mac, mac + 16);
}

Bytes opensslSmb3(const Bytes &key, Bytes message)
{
    std::fill(message.begin() + 48, message.begin() + 64, 0);
    return opensslCmac(key, message);
}

TEST(Signing, CalculationsEqualOpenSsl)
{
    for (size_t length : {35u, 64u, 100u, 1500u, 65536u}) {
        SCOPED_TRACE(length);
        Bytes key = random(16, uint32_t(length)), response = random(24, 3), message = random(length, 4);
        Bytes m = message;
        cmSmbCalculateMessageSignature(key.data(), 16, 7, m.data(), uint32_t(m.size()), nullptr, 0,
                                       response.data(), 24, m.data() + 14);
        EXPECT_EQ(Bytes(m.begin() + 14, m.begin() + 22), opensslSmb1(key, 7, message, response));
        m = message;
        cmSmbCalculateMessageSignature(key.data(), 16, 8, m.data(), uint32_t(m.size()), nullptr, 0, nullptr,
                                       0, m.data() + 14);
        EXPECT_EQ(Bytes(m.begin() + 14, m.begin() + 22), opensslSmb1(key, 8, message, {}));
        if (length < 64)
            continue;
        m = message;
        cmSmb2CalculateMessageSignature(key.data(), 16, m.data(), uint32_t(m.size()), nullptr, 0,
                                        m.data() + 48);
        EXPECT_EQ(Bytes(m.begin() + 48, m.begin() + 64), opensslSmb2(key, message));
        m = message;
        cmSmb3CalculateMessageSignature(key.data(), 16, m.data(), uint32_t(m.size()), nullptr, 0,
                                        m.data() + 48);
        EXPECT_EQ(Bytes(m.begin() + 48, m.begin() + 64), opensslSmb3(key, message));
    }
}

TEST(Signing, ExtraFragmentFollowsTheMessage)
{
    Bytes key = random(16, 1), message = random(200, 2);
    Bytes head(message.begin(), message.begin() + 120), tail(message.begin() + 120, message.end());
    Bytes whole = message, split = head;
    cmSmb2CalculateMessageSignature(key.data(), 16, whole.data(), 200, nullptr, 0, whole.data() + 48);
    cmSmb2CalculateMessageSignature(key.data(), 16, split.data(), 120, tail.data(), 80, split.data() + 48);
    EXPECT_EQ(Bytes(whole.begin() + 48, whole.begin() + 64), Bytes(split.begin() + 48, split.begin() + 64));
}

class SigningTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        csDispatchSetSocket(&connection);
        session = csGetNewSession();
        user = csGetNewUser(session);
        user->authenticated = 1;
        key = random(16, 9);
        std::memcpy(session->signingKey, key.data(), 16);
        std::memcpy(user->sessionKey, key.data(), 16);
        std::memcpy(user->smb3SigningKey, key.data(), 16);
    }
    void TearDown() override
    {
        csCloseDatabase();
        csDispatchSetSocket(nullptr);
    }
    Bytes smb1(uint32_t seed = 5)
    {
        Bytes m = random(80, seed);
        m[10] = 0;
        m[11] = 0;
        return m;
    }
    Bytes smb2(uint32_t flags, uint32_t seed = 6)
    {
        Bytes m = random(120, seed);
        for (int i = 0; i < 4; ++i)
            m[16 + i] = uint8_t(flags >> (8 * i));
        return m;
    }
    uint32_t sessionId() const { return user->uid + CS_SMB2_SESSION_BASE; }
    int connection = 0;
    CSSession *session = nullptr;
    CSUser *user = nullptr;
    Bytes key;
};

TEST_F(SigningTest, Smb1WaitingForTheFirstKey)
{
    session->signingActive = 1;
    Bytes m = smb1();
    csCreateMessageSignatureSMB(session, user, m.data(), uint32_t(m.size()));
    EXPECT_EQ(m[10] & 0x04, 0x04);
    EXPECT_EQ(std::string(m.begin() + 14, m.begin() + 22), "BSRSPYL ");
    Bytes wrong = smb1();
    EXPECT_EQ(csCheckMessageSignatureSMB(session, user, wrong.data(), uint32_t(wrong.size())), 1);
    EXPECT_EQ(session->expectedSequence, 0u);
}

TEST_F(SigningTest, Smb1SequenceAdvancesByTwoWhateverTheOutcome)
{
    session->signingActive = 1;
    session->waitingForFirstKey = 0;
    session->expectedSequence = 2;
    Bytes response = random(24, 11);
    user->macResponse.data = static_cast<uint8_t *>(cmMemoryAllocNonDebug(24));
    user->macResponse.len = 24;
    std::memcpy(user->macResponse.data, response.data(), 24);
    // A client signs request 2 with the same key and response.
    Bytes request = smb1();
    Bytes sig = opensslSmb1(key, 2, request, response);
    std::copy(sig.begin(), sig.end(), request.begin() + 14);
    EXPECT_EQ(csCheckMessageSignatureSMB(session, user, request.data(), uint32_t(request.size())), 1);
    EXPECT_EQ(session->responseSequence, 3u);
    EXPECT_EQ(session->expectedSequence, 4u);
    Bytes reply = smb1(12);
    csCreateMessageSignatureSMB(session, user, reply.data(), uint32_t(reply.size()));
    EXPECT_EQ(Bytes(reply.begin() + 14, reply.begin() + 22), opensslSmb1(key, 3, reply, response));
    Bytes forged = smb1();
    forged[14] ^= 1;
    EXPECT_EQ(csCheckMessageSignatureSMB(session, user, forged.data(), uint32_t(forged.size())), 0);
    EXPECT_EQ(session->expectedSequence, 6u);
    EXPECT_EQ(session->responseSequence, 5u);
}

TEST_F(SigningTest, Smb1AnonymousAndGuest)
{
    session->signingActive = 1;
    session->waitingForFirstKey = 0;
    user->anonymous = 1;
    Bytes zero = smb1();
    std::fill(zero.begin() + 14, zero.begin() + 22, 0);
    EXPECT_EQ(csCheckMessageSignatureSMB(session, user, zero.data(), uint32_t(zero.size())), 1);
    Bytes wrong = smb1();
    EXPECT_EQ(csCheckMessageSignatureSMB(session, user, wrong.data(), uint32_t(wrong.size())), 0);
    user->anonymous = 0;
    user->guest = 1;
    Bytes reply = smb1();
    Bytes before = reply;
    csCreateMessageSignatureSMB(session, user, reply.data(), uint32_t(reply.size()));
    EXPECT_EQ(reply, before) << "a guest's message goes unsigned";
    EXPECT_EQ(csCheckMessageSignatureSMB(session, user, wrong.data(), uint32_t(wrong.size())), 1);
}

TEST_F(SigningTest, Smb2SignsAndChecks)
{
    session->signingActive = 1;
    Bytes reply = smb2(0x1);
    csCreateMessageSignatureSMB2(sessionId(), reply.data(), uint32_t(reply.size()));
    EXPECT_EQ(Bytes(reply.begin() + 48, reply.begin() + 64), opensslSmb2(key, reply));
    Bytes request = smb2(0x8);
    Bytes sig = opensslSmb2(key, request);
    std::copy(sig.begin(), sig.end(), request.begin() + 48);
    EXPECT_EQ(csCheckMessageSignatureSMB2(user, request.data(), uint32_t(request.size()), 0x8), 1);
    request[100] ^= 1;
    EXPECT_EQ(csCheckMessageSignatureSMB2(user, request.data(), uint32_t(request.size()), 0x8), 0);
    // SMB3 with the derived signing key.
    Bytes reply3 = smb2(0x1);
    csCreateMessageSignatureSMB3(sessionId(), reply3.data(), uint32_t(reply3.size()));
    EXPECT_EQ(Bytes(reply3.begin() + 48, reply3.begin() + 64), opensslSmb3(key, reply3));
    Bytes request3 = smb2(0x8);
    Bytes sig3 = opensslSmb3(key, request3);
    std::copy(sig3.begin(), sig3.end(), request3.begin() + 48);
    EXPECT_EQ(csCheckMessageSignatureSMB3(user, request3.data(), uint32_t(request3.size()), 0x8), 1);
}

TEST_F(SigningTest, Smb2WhatGoesUnsigned)
{
    // Neither flagged nor active: accepted whatever the field holds.
    Bytes request = smb2(0);
    EXPECT_EQ(csCheckMessageSignatureSMB2(user, request.data(), uint32_t(request.size()), 0), 1);
    // A guest's response: field and flag cleared even for a signed request.
    session->signingActive = 1;
    user->guest = 1;
    Bytes reply = smb2(0x8 | 0x1);
    csCreateMessageSignatureSMB2(sessionId(), reply.data(), uint32_t(reply.size()));
    EXPECT_EQ(Bytes(reply.begin() + 48, reply.begin() + 64), Bytes(16, 0));
    EXPECT_EQ(reply[16], 0x1);
    // Anonymous on an active session with the flag: SMB3 signs, SMB 2.x does not.
    user->guest = 0;
    user->anonymous = 1;
    Bytes two = smb2(0x8), three = smb2(0x8);
    csCreateMessageSignatureSMB2(sessionId(), two.data(), uint32_t(two.size()));
    csCreateMessageSignatureSMB3(sessionId(), three.data(), uint32_t(three.size()));
    EXPECT_EQ(Bytes(two.begin() + 48, two.begin() + 64), Bytes(16, 0));
    EXPECT_EQ(two[16] & 0x8, 0);
    EXPECT_EQ(Bytes(three.begin() + 48, three.begin() + 64), opensslSmb3(key, three));
    // A user of another connection is not found: its responses go unsigned.
    int other = 0;
    csDispatchSetSocket(&other);
    Bytes foreign = smb2(0x8);
    csCreateMessageSignatureSMB2(sessionId(), foreign.data(), uint32_t(foreign.size()));
    EXPECT_EQ(Bytes(foreign.begin() + 48, foreign.begin() + 64), Bytes(16, 0));
}

}  // namespace
