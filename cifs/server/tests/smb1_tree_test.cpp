// SMB1 TREE_CONNECT_ANDX, TREE_CONNECT, TREE_DISCONNECT, LOGOFF_ANDX and
// ECHO through the dispatcher, on "IPC$" and a disk share in a temporary
// folder.
#include "smb1_wire.h"

#include "cscommands.h"


using namespace smb1test;

namespace {

class Smb1TreeTest : public Smb1UserTest {
protected:
    void SetUp() override
    {
        Smb1UserTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_EQ(vxAddShareA("Printer", "/dev/usb/lp0", (dir.path() + "/status").c_str(), 0, "laser"), 0);
    }

    Message andx(const std::string &path, const std::string &service, uint16_t flags = 0,
                 uint16_t passwordLength = 1, uint8_t next = 0xFF)
    {
        Message m = base(0x75);
        m.words = {next, 0, 0, 0};
        put_le16(m.words, flags);
        put_le16(m.words, passwordLength);
        m.data = {0};  // the password: one zero byte, so the path starts even
        Bytes p = utf16(path), s = ascii(service);
        m.data.insert(m.data.end(), p.begin(), p.end());
        m.data.insert(m.data.end(), s.begin(), s.end());
        return m;
    }

    // The service and file system texts of a TREE_CONNECT_ANDX answer.
    static std::pair<std::string, std::string> texts(const Answer &a)
    {
        std::string service(reinterpret_cast<const char *>(a.bytes()));
        size_t at = a.bytesOffset() + service.size() + 1;
        if (at & 1)
            ++at;
        std::string fs;
        for (; at + 1 < a.m.size() && a.m[at]; at += 2)
            fs.push_back(char(a.m[at]));
        return {service, fs};
    }
};

TEST_F(Smb1TreeTest, TreeConnectAndXCases)
{
    struct Case {
        const char *what;
        std::string path, service;
        uint32_t status;
        std::string answeredService;
    } cases[] = {
        {"IPC$ with any service", "\\\\ROUTER\\IPC$", "?????", 0, "IPC"},
        {"IPC$ as a disk", "\\\\ROUTER\\IPC$", "A:", 0xC00000CBu, ""},
        {"a disk share with any service", "\\\\ROUTER\\docs", "?????", 0, "A:"},
        {"a disk share as a disk", "\\\\ROUTER\\Docs", "A:", 0, "A:"},
        {"a disk share as IPC", "\\\\ROUTER\\Docs", "IPC", 0xC00000CBu, ""},
        {"an unknown service", "\\\\ROUTER\\Docs", "LPT1:", 0xC00000CBu, ""},
        {"a missing share", "\\\\ROUTER\\Nothing", "?????", 0xC00000CCu, ""},
        {"a printer with any service", "\\\\ROUTER\\Printer", "?????", 0, "LPT1:"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Answer a = ask(andx(c.path, c.service));
        ASSERT_FALSE(a.none());
        EXPECT_EQ(a.status(), c.status);
        if (c.status != 0) {
            EXPECT_EQ(a.wordCount(), 0);
            continue;
        }
        ASSERT_EQ(a.wordCount(), 3);
        CSTree *tree = csGetTreeByTid(a.tid());
        ASSERT_NE(tree, nullptr);
        EXPECT_EQ(tree->uid, user->uid);
        auto [service, fs] = texts(a);
        EXPECT_EQ(service, c.answeredService);
        if (c.answeredService == "IPC")
            EXPECT_EQ(fs, "IPC");
        else
            EXPECT_FALSE(fs.empty());
    }
}

TEST_F(Smb1TreeTest, ExtendedResponseAndDisconnectFlag)
{
    Answer first = ask(andx("\\\\ROUTER\\Docs", "A:"));
    Answer second = ask(andx("\\\\ROUTER\\Docs", "A:"));
    ASSERT_EQ(first.status(), 0u);
    ASSERT_EQ(second.status(), 0u);
    Message m = andx("\\\\ROUTER\\Docs", "A:", 0x08 | 0x01);
    m.tid = first.tid();
    Answer a = ask(m);
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 7);
    EXPECT_EQ(a.dword(6), 0x001F01FFu);
    EXPECT_EQ(a.dword(10), 0x001F01FFu);
    // The first tree went before the new one took the lowest free slot.
    EXPECT_EQ(a.tid(), first.tid());
    EXPECT_NE(csGetTreeByTid(second.tid()), nullptr);
}

TEST_F(Smb1TreeTest, MalformedTreeConnects)
{
    struct Case {
        const char *what;
        Message m;
        uint32_t status;
    } cases[] = {
        {"password longer than the bytes", andx("\\\\R\\Docs", "A:", 0, 400), 0xC000000Du},
        {"chained with WRITE_ANDX", chain(andx("\\\\R\\Docs", "A:", 0, 1, 0x2F), lastBlock()), 0xC0000001u},
        {"service without its terminator", andx("\\\\R\\Docs", "A:"), 0xC000000Du},
        {"no user", andx("\\\\R\\Docs", "A:"), 0xC000000Du},
    };
    cases[2].m.data.pop_back();
    cases[3].m.uid = 0x7777;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ask(c.m).status(), c.status);
    }
}

TEST_F(Smb1TreeTest, HiddenShareNeedsReadAccess)
{
    EXPECT_EQ(ask(andx("\\\\ROUTER\\C$", "?????")).status(), 0xC00000CCu) << "no such share";
    ASSERT_EQ(vxAddShareA("Adm$", dir.path().c_str(), "", -1, "administration"), 0);
    EXPECT_EQ(ask(andx("\\\\ROUTER\\Adm$", "A:")).status(), 0xC0000005u) << "a plain user";
    // An administrator's token reads the administrative share.
    user->token.ridCount = 4;
    user->token.rids[0] = uint32_t(-1000);
    user->token.rids[2] = CM_SD_RID_DOMAIN_ADMINS;
    user->token.rids[3] = CM_SD_RID_ADMINISTRATORS;
    EXPECT_EQ(ask(andx("\\\\ROUTER\\Adm$", "A:")).status(), 0u) << "an administrator";
    user->anonymous = 1;
    EXPECT_EQ(ask(andx("\\\\ROUTER\\Adm$", "A:")).status(), 0xC0000005u) << "anonymous";
    // An anonymous user on a plain share through the old TREE_CONNECT.
    Message old;
    old.command = 0x70;
    old.uid = user->uid;
    old.data = {0x04};
    Bytes p = utf16("\\\\ROUTER\\Docs");
    old.data.insert(old.data.end(), p.begin(), p.end());
    for (const char *t : {"", "A:"}) {
        old.data.push_back(0x04);
        Bytes a = ascii(t);
        old.data.insert(old.data.end(), a.begin(), a.end());
    }
    EXPECT_EQ(ask(old).status(), 0xC0000022u);
    user->anonymous = 0;
    Answer a = ask(old);
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 2);
    EXPECT_EQ(a.word(0), 0xFFFF);
    EXPECT_EQ(a.word(2), a.tid());
    EXPECT_NE(csGetTreeByTid(a.tid()), nullptr);
}

TEST_F(Smb1TreeTest, DisconnectAndLogoff)
{
    Answer a = ask(andx("\\\\ROUTER\\Docs", "A:"));
    ASSERT_EQ(a.status(), 0u);
    Message disconnect;
    disconnect.command = 0x71;
    disconnect.uid = user->uid;
    disconnect.tid = 0x7777;
    EXPECT_EQ(ask(disconnect).status(), 0u) << "an unknown tid still succeeds";
    disconnect.tid = a.tid();
    EXPECT_EQ(ask(disconnect).status(), 0u);
    EXPECT_EQ(csGetTreeByTid(a.tid()), nullptr);

    a = ask(andx("\\\\ROUTER\\Docs", "A:"));
    Message logoff;
    logoff.command = 0x74;
    logoff.uid = user->uid;
    logoff.words = {0x75, 0, 0, 0};
    EXPECT_EQ(ask(chain(logoff, lastBlock())).status(), 0xC0000001u) << "chained with TREE_CONNECT_ANDX";
    logoff.words = {0xFF, 0, 0, 0};
    Answer off = ask(logoff);
    EXPECT_EQ(off.status(), 0u);
    EXPECT_EQ(off.wordCount(), 2);
    EXPECT_EQ(csGetUserByUid(logoff.uid), nullptr);
    EXPECT_EQ(csGetTreeByTid(a.tid()), nullptr);
    EXPECT_EQ(ask(logoff).status(), 0xC000000Du) << "no user any more";
}

TEST_F(Smb1TreeTest, Echo)
{
    Message echo;
    echo.command = 0x2B;
    echo.words = {3, 0};
    echo.data = {'p', 'i', 'n', 'g'};
    Answer a = ask(echo);
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(a.word(0), 1);
    EXPECT_EQ(Bytes(a.bytes(), a.bytes() + a.byteCount()), echo.data);
    EXPECT_TRUE(read().none()) << "one answer whatever the count";
    echo.words = {0, 0};
    EXPECT_TRUE(ask(echo).none());
    echo.words = {1, 0, 0, 0};
    EXPECT_EQ(ask(echo).status(), 0x00010002u) << "a DOS error for a bad word count";
    reconnect();
    echo.words = {1, 0};
    EXPECT_TRUE(ask(echo).none()) << "no session, no answer";
}

}  // namespace
