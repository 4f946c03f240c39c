// SMB1 NEGOTIATE and SESSION_SETUP_ANDX through the dispatcher: dialect
// choice, the two response forms, the hand-over to SMB2, refusals, and a
// whole 13-word logon.
#include "smb1_wire.h"

#include "cmcrypt.h"
#include "cmcryptntlm.h"
#include "cscommands.h"
#include "cssmb2.h"

using namespace smb1test;

namespace {
uint32_t gSmb2Calls;
uint32_t gSmb2Wildcard;
}  // namespace

// The SMB2 core's hand-over, recorded: it makes the session as the real one does.
extern "C" uint32_t csSmb2OnSmb1Negotiate(uint8_t **, int wildcard)
{
    ++gSmb2Calls;
    gSmb2Wildcard = wildcard;
    if (CSSession *s = csGetNewSession())
        s->dialect = 0;
    return csErrorReturn(0xC0000001u, 0x00010002u);
}

namespace {

Bytes dialects(std::initializer_list<const char *> names)
{
    Bytes out;
    for (const char *n : names) {
        out.push_back(0x02);
        Bytes a = ascii(n);
        out.insert(out.end(), a.begin(), a.end());
    }
    return out;
}

class Smb1SessionTest : public Smb1Test {
protected:
    Answer negotiate(Bytes data, uint16_t flags2 = kNt)
    {
        Message m;
        m.command = 0x72;
        m.flags2 = flags2;
        m.data = std::move(data);
        return ask(m);
    }
};

TEST_F(Smb1SessionTest, NegotiateAnswersBothForms)
{
    Answer a = negotiate(dialects({"PC NETWORK PROGRAM 1.0", "NT LM 0.12"}), 0x4001);
    ASSERT_FALSE(a.none());
    EXPECT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 17);
    EXPECT_EQ(a.word(0), 1);
    EXPECT_EQ(a.words()[2] & 0x03, 0x03);
    EXPECT_EQ(a.word(3), 10);
    EXPECT_EQ(a.dword(7), 65536u);
    EXPECT_EQ(a.dword(19), 0x0000E07Cu);
    EXPECT_EQ(a.words()[33], 8);
    ASSERT_EQ(a.byteCount(), 8);
    CSSession *session = csGetSessionBySocket();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->dialect, uint32_t(CS_DIALECT_SMB1));
    EXPECT_EQ(Bytes(a.bytes(), a.bytes() + 8), Bytes(session->challenge, session->challenge + 8));
    EXPECT_TRUE(a.flags2() & 0x0800);

    reconnect();
    a = negotiate(dialects({"NT LM 0.12"}));
    ASSERT_EQ(a.wordCount(), 17);
    EXPECT_EQ(a.dword(19), 0x8000E07Cu);
    EXPECT_EQ(a.words()[33], 0);
    ASSERT_GT(a.byteCount(), 16);
    // The GUID: the computer SID's first four sub-authorities.
    const CMSdDomainSid *sid = cmSdGetComputerSid();
    EXPECT_EQ(get_le32(a.bytes()), sid->subauthorities[0]);
    EXPECT_EQ(get_le32(a.bytes() + 4), sid->subauthorities[1]);
    EXPECT_EQ(a.bytes()[16], 0x60) << "the SPNEGO token follows the GUID: "
                                   << fw_test::to_hex(Bytes(a.bytes(), a.bytes() + a.byteCount()));
}

TEST_F(Smb1SessionTest, DialectListCases)
{
    struct Case {
        const char *what;
        Bytes data;
        uint32_t status;
        uint8_t wordCount;
        uint16_t index;
        bool session;
    } cases[] = {
        {"only old dialects", dialects({"PC NETWORK PROGRAM 1.0", "LANMAN1.0"}), 0, 1, 0xFFFF, false},
        {"no dialect at all", {}, 0, 1, 0xFFFF, false},
        {"NT LM 0.12 twice", dialects({"NT LM 0.12", "LANMAN1.0", "NT LM 0.12"}), 0, 17, 2, true},
        {"a string without its buffer format", {'N', 'T', 0}, 0xC0000002u, 0, 0, false},
        {"a name running out of the message", {0x02, 'N', 'T', ' ', 'L', 'M'}, 0xC000000Du, 0, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reconnect();
        Answer a = negotiate(c.data);
        ASSERT_FALSE(a.none());
        EXPECT_EQ(a.status(), c.status);
        if (c.status == 0) {
            EXPECT_EQ(a.wordCount(), c.wordCount);
            EXPECT_EQ(a.word(0), c.index);
        }
        EXPECT_EQ(csSessionExists() != 0, c.session);
        csReleaseSessions(&slot, 1);
    }
}

TEST_F(Smb1SessionTest, SecondNegotiateAndFullTableAreRefused)
{
    ASSERT_EQ(negotiate(dialects({"NT LM 0.12"})).status(), 0u);
    EXPECT_EQ(negotiate(dialects({"NT LM 0.12"})).status(), 0xC0000001u);
    reconnect();
    int others[CS_MAX_SESSIONS];
    for (int &o : others) {
        csDispatchSetSocket(&o);
        csGetNewSession();
    }
    csDispatchSetSocket(&slot);
    EXPECT_EQ(negotiate(dialects({"NT LM 0.12"})).status(), 0xC00000D0u);
}

TEST_F(Smb1SessionTest, Smb2DialectsAreHandedOver)
{
    gSmb2Calls = 0;
    // The wildcard is served at once: the garbage after it is never read.
    Bytes data = dialects({"NT LM 0.12", "SMB 2.002", "SMB 2.???"});
    data.insert(data.end(), {0x07, 'x'});
    negotiate(data);
    EXPECT_EQ(gSmb2Calls, 1u);
    EXPECT_EQ(gSmb2Wildcard, 1u);
    ASSERT_NE(csGetSessionBySocket(), nullptr);
    EXPECT_EQ(csGetSessionBySocket()->dialect, uint32_t(CS_DIALECT_SMB202));

    reconnect();
    negotiate(dialects({"SMB 2.002", "NT LM 0.12"}));
    EXPECT_EQ(gSmb2Calls, 2u);
    EXPECT_EQ(gSmb2Wildcard, 0u);
}

// SESSION_SETUP_ANDX, 13 words, with an NT response to the session's challenge.
Message plainSetup(const CMWchar *, const uint8_t *challenge, const std::string &password,
                   uint8_t andx = 0xFF, uint32_t capabilities = 0x40, const std::string &os = "Unix")
{
    Bytes wide = utf16(password, false);
    uint8_t ntHash[16], response[24];
    cmMD4(ntHash, wide.data(), uint32_t(wide.size()));
    uint16_t length = 0;
    cmEncryptNTLMPassword(challenge, ntHash, response, &length);
    Message m;
    m.command = 0x73;
    m.words = {andx, 0, 0, 0};
    put_le16(m.words, 65535);
    put_le16(m.words, 2);
    put_le16(m.words, 0);
    put_le32(m.words, 0);
    put_le16(m.words, 0);   // OEM password
    put_le16(m.words, 24);  // Unicode password
    put_le32(m.words, 0);
    put_le32(m.words, capabilities);
    m.data.assign(response, response + 24);
    // Account and domain at even offsets from the header: 32 + 27 + 2 + 24 is odd.
    m.data.push_back(0);
    for (const Bytes &t : {utf16("alice"), utf16("WORKGROUP"), utf16(os), utf16("Samba")})
        m.data.insert(m.data.end(), t.begin(), t.end());
    return m;
}

TEST_F(Smb1SessionTest, PlainLogonCompletesWithNativeStrings)
{
    testenv::writeFile(path("pwd_list.txt"), "alice:Secret#1:1000:0\n");
    csChangeEncryptionLevel(CS_AUTH_ALL);
    ASSERT_EQ(negotiate(dialects({"NT LM 0.12"}), 0xC001).status(), 0u);
    CSSession *session = csGetSessionBySocket();
    ASSERT_NE(session, nullptr);

    Answer a = ask(plainSetup(nullptr, session->challenge, "Secret#1"));
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 3);
    EXPECT_EQ(a.word(4), 0) << "not a guest";
    CSUser *user = csGetUserByUid(a.uid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->authenticated, 1u);
    EXPECT_EQ(user->loggedOn, 1u);
    EXPECT_EQ(user->ntStatusMode, 1u);
    EXPECT_EQ(user->compatibility[1], 1u);
    // UTF-16 strings from an even offset.
    size_t at = a.bytesOffset();
    if (at & 1)
        ++at;
    Bytes expected = utf16("Quendra Orvale Tarn");
    Bytes more = utf16("VXE 2.0");
    expected.insert(expected.end(), more.begin(), more.end());
    ASSERT_GE(a.m.size(), at + expected.size());
    EXPECT_EQ(Bytes(a.m.begin() + at, a.m.begin() + at + expected.size()), expected);

    // The wrong password, and an old client's compatibility flags.
    reconnect();
    ASSERT_EQ(negotiate(dialects({"NT LM 0.12"}), 0xC001).status(), 0u);
    session = csGetSessionBySocket();
    EXPECT_EQ(ask(plainSetup(nullptr, session->challenge, "wrong")).status(), 0xC000006Du);
    a = ask(plainSetup(nullptr, session->challenge, "Secret#1", 0xFF, 0, "WINDOWS 4.0 SP6"));
    ASSERT_EQ(a.status(), 0u);
    user = csGetUserByUid(a.uid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->ntStatusMode, 0u);
    EXPECT_EQ(user->compatibility[1], 0u);
}

TEST_F(Smb1SessionTest, SetupRefusals)
{
    Message noSession = plainSetup(nullptr, (const uint8_t *)"01234567", "x");
    EXPECT_EQ(ask(noSession).status(), 0xC0000001u) << "no negotiate before";
    ASSERT_EQ(negotiate(dialects({"NT LM 0.12"})).status(), 0u);
    Message elevenWords = noSession;
    elevenWords.words.resize(22);
    EXPECT_EQ(ask(elevenWords).status(), 0xC0000002u);

    // Chained with WRITE_ANDX (0x2F): a real second block, refused.
    Message chained = chain(plainSetup(nullptr, (const uint8_t *)"01234567", "x", 0x2F), lastBlock());
    EXPECT_EQ(ask(chained).status(), 0xC0000001u);
}

}  // namespace
