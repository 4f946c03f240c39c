// Security work when the stack's allocator refuses: start-up reports it,
// the mechanism list and the client side answer empty, a logon goes on
// without the domain copy, and nothing is left allocated afterwards.
#include "logon_fixture.h"

using namespace logontest;

namespace {

class MemoryLimitTest : public LogonTest {
protected:
    void TearDown() override
    {
        cmMemoryStart(0);
        LogonTest::TearDown();
    }
};

TEST_F(MemoryLimitTest, StartUpAndBlobsReportIt)
{
    cmSdExit();
    ASSERT_EQ(cmMemoryStart(1), 1);
    EXPECT_EQ(cmSdInit(), -1);
    EXPECT_EQ(cmSdGetComputerSid()->count, 4) << "the getters answer without the context";
    CMBlob list{reinterpret_cast<uint8_t *>(1), 99};
    EXPECT_EQ(amSpnegoServerGenerateMechList(&list), &list);
    EXPECT_EQ(list.data, nullptr);
    EXPECT_EQ(list.len, 0u);
    Bytes blob = negotiate(), out(512);
    CMBlob in{blob.data(), uint32_t(blob.size())}, answer{out.data(), uint32_t(out.size())};
    char account[257];
    CMWchar *domain = nullptr;
    const uint8_t *key = nullptr;
    AMNtlmsspResult result;
    AMMechanismContext context = nullptr;
    EXPECT_EQ(amSpnegoServerAcceptBlobA(&context, &in, &answer, account, &domain, &key, &result), 12u);
    Bytes credentials(AM_CREDENTIALS_W_SIZE, 0);
    AMCryptOutput crypt;
    EXPECT_EQ(amCryptEncrypt(credentials.data(), AM_CRYPT_LMV2, AM_CRYPT_NTLMV2, kServerChallenge.data(),
                             nullptr, 0, 0, &crypt),
              0);
    amCryptDispose(&crypt);
    ASSERT_EQ(cmMemoryStart(0), 1);
    EXPECT_EQ(cmSdInit(), 0);
}

TEST_F(MemoryLimitTest, LogonWithoutTheDomainCopy)
{
    Authenticate a = worked(kNtlm, false);
    ASSERT_EQ(cmMemoryStart(1), 1);
    EXPECT_EQ(exchange(a), 0u);
    EXPECT_EQ(sessionKey(), "d87262b0cde4b1cb7499becccdf10784");
}

TEST_F(MemoryLimitTest, NothingStaysAllocatedAfterLogonsAndReleases)
{
    uint32_t before = cmMemoryGetTotal();
    for (int i = 0; i < 3; ++i) {
        session->dialect = CS_DIALECT_SMB202;
        Authenticate a;
        a.user = utf16("User");
        a.domain = utf16("Domain");
        a.lm = Bytes(24, 1);
        a.nt = Bytes(24, 2);
        EXPECT_EQ(exchange(a, i == 1), 0xC000006Du);
        EXPECT_EQ(user, nullptr);
    }
    EXPECT_EQ(cmMemoryGetTotal(), before);
    // A signing SMB1 session keeps a copy of the response until the user goes.
    session->dialect = CS_DIALECT_SMB1;
    session->signingActive = 1;
    std::memcpy(session->challenge, kServerChallenge.data(), 8);
    Bytes request(29, 0);
    request[0] = 13;
    request[17] = 24;
    Bytes nt = hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    request.insert(request.end(), nt.begin(), nt.end());
    Bytes names = cat({utf16("User"), Bytes(2, 0), utf16("D"), Bytes(2, 0)});
    if (request.size() & 1)
        request.push_back(0);
    request.insert(request.end(), names.begin(), names.end());
    request[27] = uint8_t(request.size() - 29);
    Bytes aligned(request.size() + 2);
    std::copy(request.begin(), request.end(), aligned.begin());
    uint32_t length = 0;
    ASSERT_EQ(csAuthenticateUser(aligned.data(), uint32_t(request.size()), session, nullptr, &length, 1,
                                 &user, nullptr),
              0u);
    ASSERT_NE(user->macResponse.data, nullptr);
    EXPECT_GT(cmMemoryGetTotal(), before);
    csReleaseUser(user->uid, 0);
    user = nullptr;
    EXPECT_EQ(cmMemoryGetTotal(), before);
}

}  // namespace
