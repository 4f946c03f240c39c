// SMB1 CLOSE, CLOSE_PRINT_FILE and PROCESS_EXIT through the dispatcher on
// files opened straight in the tables of a disk share.
#include "smb1_wire.h"

#include "cscommands.h"


#include <sys/stat.h>

#include <filesystem>
#include <fstream>

using namespace smb1test;

namespace {

class Smb1CloseTest : public Smb1ShareTest {
protected:
    // A file of the share opened for the tree by pid.
    CSFile *open(const std::string &name, uint32_t pid = 0x0101, CSTree *on = nullptr)
    {
        std::string path = dir.path() + "/" + name;
        std::ofstream(path) << "content";
        return openFile(on ? on : tree, path, pid);
    }

    Message close(uint16_t fid, uint32_t seconds)
    {
        Message m = base(0x04);
        put_le16(m.words, fid);
        put_le32(m.words, seconds);
        return m;
    }
};

TEST_F(Smb1CloseTest, LastWriteTimeOnlyForRealSeconds)
{
    struct Case {
        const char *what;
        uint32_t seconds;
        bool applied;
    } cases[] = {
        {"a time", 1000000000u, true},
        {"zero", 0, false},
        {"all ones", 0xFFFFFFFFu, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CSFile *f = open("a.txt");
        ASSERT_NE(f, nullptr);
        const uint16_t fid = f->fid;
        Answer a = ask(close(fid, c.seconds));
        ASSERT_EQ(a.status(), 0u);
        EXPECT_EQ(a.wordCount(), 0);
        EXPECT_EQ(csGetFileByJustFid(fid), nullptr);
        struct stat st {};
        ASSERT_EQ(stat((dir.path() + "/a.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime == 1000000000, c.applied);
    }
}

TEST_F(Smb1CloseTest, DeleteOnCloseNeedsWriteRights)
{
    CSFile *f = open("gone.txt");
    ASSERT_NE(f, nullptr);
    f->createOptions = CS_DELETE_ON_CLOSE;
    ASSERT_EQ(ask(close(f->fid, 0)).status(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/gone.txt"));

    // On a read-only share the file stays.
    f = open("kept.txt");
    ASSERT_NE(f, nullptr);
    f->createOptions = CS_DELETE_ON_CLOSE;
    CSShare *share = static_cast<CSShare *>(tree->share);
    ASSERT_EQ(cmSdGetReadonlyShareSecurityDescriptor(&share->sd), 1);
    ASSERT_FALSE(cmSdHasAccess(&user->token, &share->sd, 2));
    const uint16_t fid = f->fid;
    EXPECT_EQ(ask(close(fid, 0)).status(), 0xC0000005u);
    EXPECT_EQ(csGetFileByJustFid(fid), nullptr) << "the handle is closed all the same";
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/kept.txt"));
}

TEST_F(Smb1CloseTest, Refusals)
{
    CSTree *other = csGetNewTree(user);
    ASSERT_NE(other, nullptr);
    other->share = tree->share;
    CSFile *f = open("b.txt", 0x0101, other);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ask(close(f->fid, 0)).status(), 0xC0000008u) << "a FID of another tree";
    Message bad = close(f->fid, 0);
    bad.words.resize(4);
    EXPECT_EQ(ask(bad).status(), 0xC0000001u) << "two words";
    EXPECT_NE(csGetFileByJustFid(f->fid), nullptr);

    Message print;
    print.command = 0xC2;
    print.uid = user->uid;
    print.tid = tree->tid;
    put_le16(print.words, 0x7777);
    EXPECT_EQ(ask(print).status(), 0xC000000Fu);
}

TEST_F(Smb1CloseTest, ProcessExitClosesOnlyThatProcess)
{
    CSFile *mine[] = {open("1.txt", 0x00070101), open("2.txt", 0x00070101)};
    CSFile *other = open("3.txt", 0x00080101);
    for (CSFile *f : mine)
        ASSERT_NE(f, nullptr);
    ASSERT_NE(other, nullptr);
    // Another connection's process with the same pid keeps its handle.
    int otherSocket = 0;
    csDispatchSetSocket(&otherSocket);
    CSSession *s = csGetNewSession();
    ASSERT_NE(s, nullptr);
    CSUser *u = csGetNewUser(s);
    ASSERT_NE(u, nullptr);
    u->authenticated = u->loggedOn = 1;
    CSTree *t = csGetNewTree(u);
    ASSERT_NE(t, nullptr);
    std::vector<CMWchar> w = testenv::W(dir.path() + "/4.txt");
    CSFile *foreign = csGetNewFile(t, csGetNewName(w.data(), u->uid), 0);
    ASSERT_NE(foreign, nullptr);
    foreign->pid = 0x00070101;
    const uint16_t foreignFid = foreign->fid;
    csDispatchSetSocket(&slot);

    uint16_t mineFids[] = {mine[0]->fid, mine[1]->fid};
    Message exit;
    exit.command = 0x11;
    exit.uid = user->uid;
    exit.pidHigh = 0x0007;
    exit.pid = 0x0101;
    ASSERT_EQ(ask(exit).status(), 0u);
    for (uint16_t fid : mineFids)
        EXPECT_EQ(csGetFileByJustFid(fid), nullptr);
    EXPECT_NE(csGetFileByJustFid(other->fid), nullptr);
    EXPECT_NE(csGetFileByJustFid(foreignFid), nullptr);
    exit.uid = 0x7777;
    EXPECT_EQ(ask(exit).status(), 0xC000000Du);
}

}  // namespace
