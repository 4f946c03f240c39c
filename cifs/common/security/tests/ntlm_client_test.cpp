// Client-side responses for outgoing credentials: the worked example's LM
// and NTLM responses and keys, the NTLMv2 blob's layout, and NTLMv2 and LMv2
// responses that the server's own logon accepts.
#include "logon_fixture.h"

#include <cstring>

using namespace logontest;

namespace {

// 8-bit credentials: account, second and third name, password.
Bytes credentials(const std::string &account, const std::string &name3, const std::string &password)
{
    Bytes a(AM_CREDENTIALS_A_SIZE, 0);
    std::memcpy(&a[AM_CREDENTIALS_A_NAME], account.data(), account.size());
    std::memcpy(&a[AM_CREDENTIALS_A_NAME3], name3.data(), name3.size());
    std::memcpy(&a[AM_CREDENTIALS_A_PASSWORD], password.data(), password.size());
    Bytes w(AM_CREDENTIALS_W_SIZE, 0xCC);
    amCredentialsAsciiiToW(w.data(), a.data());
    return w;
}

Bytes blob(const CMBlob &b) { return Bytes(b.data, b.data + b.len); }

TEST(NtlmClient, CredentialsWidenAndUpperCaseTheAccount)
{
    Bytes w = credentials("alice", "corp", "pw");
    EXPECT_EQ(Bytes(w.begin(), w.begin() + 12), cat({utf16("ALICE"), Bytes(2, 0)}));
    EXPECT_EQ(Bytes(w.begin() + AM_CREDENTIALS_W_NAME3, w.begin() + AM_CREDENTIALS_W_NAME3 + 10),
              cat({utf16("corp"), Bytes(2, 0)}));
    EXPECT_EQ(Bytes(w.begin() + AM_CREDENTIALS_W_PASSWORD, w.begin() + AM_CREDENTIALS_W_PASSWORD + 6),
              cat({utf16("pw"), Bytes(2, 0)}));
}

TEST(NtlmClient, WorkedExampleLmAndNtlm)
{
    Bytes w = credentials("User", "", "Password");
    AMCryptOutput out;
    ASSERT_EQ(
        amCryptEncrypt(w.data(), AM_CRYPT_LM, AM_CRYPT_NTLM, kServerChallenge.data(), nullptr, 0, 0, &out),
        1);
    EXPECT_EQ(blob(out.lmResponse), hex("98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13"));
    EXPECT_EQ(blob(out.ntResponse), hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94"));
    EXPECT_EQ(blob(out.sessionKey), hex("d87262b0cde4b1cb7499becccdf10784"));
    EXPECT_EQ(blob(out.macKey), blob(out.ntResponse));
    amCryptDispose(&out);
    EXPECT_EQ(out.ntResponse.data, nullptr);
    ASSERT_EQ(
        amCryptEncrypt(w.data(), AM_CRYPT_LM, AM_CRYPT_NONE, kServerChallenge.data(), nullptr, 0, 0, &out),
        1);
    EXPECT_EQ(blob(out.sessionKey), hex("98def7b87f88aa5d"));
    EXPECT_EQ(out.ntResponse.data, nullptr);
    EXPECT_EQ(blob(out.macKey), blob(out.lmResponse));
    amCryptDispose(&out);
    EXPECT_EQ(amCryptEncrypt(w.data(), 5, AM_CRYPT_NTLM, kServerChallenge.data(), nullptr, 0, 0, &out), 0);
    amCryptDispose(&out);
}

TEST(NtlmClient, Ntlmv2BlobLayout)
{
    Bytes w = credentials("User", "", "Password");
    Bytes info = hex("02000c0044006f006d00610069006e0000000000");
    CMBlob target{info.data(), uint32_t(info.size())};
    AMCryptOutput out;
    ASSERT_EQ(amCryptEncrypt(w.data(), AM_CRYPT_LMV2, AM_CRYPT_NTLMV2, kServerChallenge.data(), &target,
                             0x11223344, 0x01D2A3B4, &out),
              1);
    Bytes nt = blob(out.ntResponse);
    ASSERT_EQ(nt.size(), info.size() + 44);
    EXPECT_EQ(Bytes(nt.begin() + 16, nt.begin() + 24), hex("0101000000000000"));
    EXPECT_EQ(Bytes(nt.begin() + 24, nt.begin() + 32), hex("44332211b4a3d201"));
    EXPECT_EQ(Bytes(nt.begin() + 40, nt.begin() + 44), Bytes(4, 0));
    EXPECT_EQ(Bytes(nt.begin() + 44, nt.end()), info);
    EXPECT_EQ(out.lmResponse.len, 24u);
    EXPECT_EQ(out.sessionKey.len, 16u);
    EXPECT_EQ(blob(out.macKey), nt);
    amCryptDispose(&out);
    ASSERT_EQ(amCryptEncrypt(w.data(), AM_CRYPT_NONE, AM_CRYPT_NTLMV2, kServerChallenge.data(), nullptr, 0, 0,
                             &out),
              1);
    EXPECT_EQ(out.ntResponse.len, 52u);
    amCryptDispose(&out);
    // An NTLMv2 LM-side response never spills into the NT side's 24-byte MAC-key copy.
    ASSERT_EQ(amCryptEncrypt(w.data(), AM_CRYPT_NTLMV2, AM_CRYPT_NTLM, kServerChallenge.data(), nullptr, 0, 0,
                             &out),
              1);
    EXPECT_EQ(out.lmResponse.len, 52u);
    EXPECT_EQ(blob(out.macKey), blob(out.ntResponse));
    amCryptDispose(&out);
    Bytes huge(1800, 0);
    CMBlob tooLong{huge.data(), uint32_t(huge.size())};
    EXPECT_EQ(amCryptEncrypt(w.data(), AM_CRYPT_NONE, AM_CRYPT_NTLMV2, kServerChallenge.data(), &tooLong, 0,
                             0, &out),
              0);
    amCryptDispose(&out);
}

// What the client side makes, the server side accepts, with the same key.
class NtlmClientLogonTest : public LogonTest {};

TEST_F(NtlmClientLogonTest, ServerAcceptsTheClientsResponses)
{
    struct Case {
        const char *what;
        int lm, nt;
        uint16_t mask;
    } const cases[] = {{"NTLMv2", AM_CRYPT_LMV2, AM_CRYPT_NTLMV2, CS_AUTH_NTLMV2},
                       {"LMv2", AM_CRYPT_LMV2, AM_CRYPT_NONE, CS_AUTH_LMV2},
                       {"NTLM", AM_CRYPT_NONE, AM_CRYPT_NTLM, CS_AUTH_NTLM}};
    Bytes w = credentials("User", "", "Password");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        csChangeEncryptionLevel(c.mask);
        dropUser();
        std::memcpy(session->challenge, kServerChallenge.data(), 8);
        AMCryptOutput out;
        ASSERT_EQ(amCryptEncrypt(w.data(), c.lm, c.nt, kServerChallenge.data(), nullptr, 0, 0, &out), 1);
        Authenticate a;
        a.user = utf16("User");
        a.lm = out.lmResponse.data ? blob(out.lmResponse) : Bytes(24, 0);
        a.nt = blob(out.ntResponse);
        a.flags = 0xA2000215;
        EXPECT_EQ(exchange(a), 0u);
        EXPECT_EQ(sessionKey(), to_hex(out.sessionKey.data, 16));
        amCryptDispose(&out);
    }
}

}  // namespace
