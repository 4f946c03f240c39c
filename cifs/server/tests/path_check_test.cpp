// Client paths over a real tree, a share and its sibling: confinement to the
// share, caseless lookups that rewrite the case, and share rights.
#include "cmpath.h"
#include "cspaths.h"
#include "server_fixture.h"
#include "ud_test_env.h"

#include "fw_test/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

using server_test::A;
using server_test::W;

class PathCheckTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(cmSdInit(), 0);
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        namespace fs = std::filesystem;
        root = dir.path();
        for (const char *d : {"share/docs", "share/a/b", "sibling"})
            fs::create_directories(root + "/" + d);
        for (const char *f : {"share/docs/read.txt", "share/x", "sibling/x", "sibling/secret"})
            std::ofstream(root + "/" + f) << "x";
        ASSERT_EQ(vxAddShareA("Docs", (root + "/share").c_str(), "", -1, ""), 0);
        share = csGetShareByName(W("Docs").data());
        ASSERT_NE(share, nullptr);
    }
    void TearDown() override
    {
        csCloseDatabase();
        testenv::HookTest::TearDown();
    }
    // The local path of a client's name, as the commands build it.
    std::vector<CMWchar> local(const std::string &name)
    {
        std::vector<CMWchar> out(CM_PATH_BUFFER + 1, 0);
        std::vector<CMWchar> wide = W(name);
        if (!cmCifsNtohFilename(out.data(), share->path, wide.data(), 1, 1))
            out.clear();
        return out;
    }
    uint32_t rootLength() const { return cmWStrlen(share->path); }

    fw_test::TempDir dir{"path-check"};
    std::string root;
    CSShare *share = nullptr;
};

TEST_F(PathCheckTest, PathsStayInTheirShare)
{
    struct Case {
        const char *name;
        int path, pathAndFile;
    } cases[] = {
        {"..\\..\\etc\\passwd", 0, 0},
        {"a\\..\\..\\x", 0, 0},
        {"..\\sibling\\x", 0, 0},
        {"..\\sibling\\secret", 0, 0},
        {"..", 0, 0},
        {"a\\..\\..", 0, 0},
        {"a\\b\\..\\..\\..\\sibling\\x", 0, 0},
        {"a\\..\\..\\*", 0, 0},
        {"a\\..\\x", 1, 1},
        {"a\\b\\..\\..\\x", 1, 1},
        {".\\x", 1, 1},
        {"x", 1, 1},
        {"a\\..", 1, 1},
        {"docs\\*", 1, 0},
        {"..x", 1, 0},
        {"nothere\\x", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CMWchar> p = local(c.name);
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(csCheckPath(share, p.data(), rootLength(), 0), c.path);
        EXPECT_EQ(csCheckPath(share, p.data(), rootLength(), 1), c.path);
        p = local(c.name);
        EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), 0), c.pathAndFile);
        p = local(c.name);
        EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), 1), c.pathAndFile);
    }
}

// Links on the share's disk lead where they point: inside the share they
// work, anywhere else they are refused like a ".." above the root. The same
// names through a share whose own path goes through a link, or is written
// with "." and "..", which is taken where it leads as well.
TEST_F(PathCheckTest, LinksLeadingOutOfTheShareAreRefused)
{
    namespace fs = std::filesystem;
    const std::string in = root + "/share";
    for (auto [link, target] : std::initializer_list<std::pair<const char *, std::string>>{
             {"out", root + "/sibling"},
             {"outrel", "../sibling"},
             {"secret", root + "/sibling/secret"},
             {"chain", "out"},
             {"inner", "docs"},
             {"innerabs", in + "/docs"},
             {"dangling", root + "/sibling/new"},
             {"self", in},
             {"dot", "."},
             {"a/b/up", "../../.."},
             {"a/b/loop", "loop"},
         })
        fs::create_symlink(target, in + "/" + link);
    fs::create_directory_symlink(in, root + "/via");

    struct Case {
        const char *name;
        int path, pathAndFile;
    } cases[] = {
        {"out", 0, 0},
        {"out\\x", 0, 0},
        {"out\\secret", 0, 0},
        {"out\\new.txt", 0, 0},  // a new name under a folder linked out
        {"outrel\\x", 0, 0},
        {"secret", 0, 0},
        {"chain\\secret", 0, 0},
        {"dangling", 0, 0},  // creating it would make the target outside
        {"a\\b\\up", 0, 0},
        {"a\\b\\up\\etc\\passwd", 0, 0},
        {"a\\b\\loop", 0, 0},
        {"dot\\out\\x", 0, 0},
        {"inner", 1, 1},
        {"inner\\read.txt", 1, 1},
        {"innerabs\\read.txt", 1, 1},
        {"inner\\new.txt", 1, 0},
        {"self", 1, 1},
        {"self\\docs\\read.txt", 1, 1},
        {"dot\\dot\\x", 1, 1},
        {"docs\\*", 1, 0},
        {"x", 1, 1},
    };
    for (const std::string &folder : {in, root + "/via", root + "/sibling/../share"}) {
        SCOPED_TRACE(folder);
        const std::string shareName = "L" + std::to_string(folder.size());
        ASSERT_EQ(vxAddShareA(shareName.c_str(), folder.c_str(), "", -1, ""), 0);
        share = csGetShareByName(W(shareName).data());
        ASSERT_NE(share, nullptr);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            for (uint32_t caseSensitive : {0u, 1u}) {
                std::vector<CMWchar> p = local(c.name);
                ASSERT_FALSE(p.empty());
                EXPECT_EQ(csCheckPath(share, p.data(), rootLength(), caseSensitive), c.path) << caseSensitive;
                p = local(c.name);
                EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), caseSensitive), c.pathAndFile)
                    << caseSensitive;
            }
        }
    }
}

// Without regard to case, a name that is not there as written is opened as
// the entry that is: a link of another case must not pass as a new file.
TEST_F(PathCheckTest, LinksOfAnotherCaseAreRefusedToo)
{
    const std::string in = root + "/share";
    std::filesystem::create_symlink(root + "/sibling/secret", in + "/secret");
    std::filesystem::create_symlink(root + "/sibling", in + "/out");
    std::filesystem::create_symlink("docs/read.txt", in + "/inside");
    struct Case {
        const char *name;
        int caseless, caseSensitive;
    } cases[] = {
        {"SECRET", 0, 1},  // as written, a new file in the share
        {"Out\\x", 0, 0},
        {"INSIDE", 1, 1},
        {"New.txt", 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CMWchar> p = local(c.name);
        EXPECT_EQ(csCheckPath(share, p.data(), rootLength(), 0), c.caseless);
        p = local(c.name);
        EXPECT_EQ(csCheckPath(share, p.data(), rootLength(), 1), c.caseSensitive);
    }
    std::vector<CMWchar> p = local("SECRET");
    EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), 0), 0);
    p = local("Inside");
    EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), 0), 1);
    EXPECT_EQ(A(p.data()), in + "/inside");
}

TEST_F(PathCheckTest, CaselessLookupsTakeTheCaseOnDisk)
{
    std::vector<CMWchar> p = local("DOCS\\Read.TXT");
    EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), 0), 1);
    EXPECT_EQ(A(p.data()), root + "/share/docs/read.txt");

    // Exactly as received when the user's names are case-sensitive.
    p = local("DOCS\\Read.TXT");
    EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), 1), 0);
    EXPECT_EQ(A(p.data()), root + "/share/DOCS/Read.TXT");

    // A directory part that exists in another case passes csCheckPath.
    p = local("Docs\\new.txt");
    EXPECT_EQ(csCheckPath(share, p.data(), rootLength(), 0), 1);
    EXPECT_EQ(A(p.data()), root + "/share/docs/new.txt");
    EXPECT_EQ(csCheckFile(share, p.data(), 0), 0);

    std::vector<CMWchar> name = W("READ.txt");
    std::vector<CMWchar> docs = W(root + "/share/docs");
    EXPECT_EQ(csLookupNameCaseless(docs.data(), name.data()), 1);
    EXPECT_EQ(A(name.data()), "read.txt");
    name = W("gone");
    EXPECT_EQ(csLookupNameCaseless(docs.data(), name.data()), 0);
}

TEST_F(PathCheckTest, PipesAndPrintersPassAndMissingFoldersDoNot)
{
    CSShare *ipc = csGetShareByName(W("IPC$").data());
    ASSERT_NE(ipc, nullptr);
    // IPC$'s path is empty: its names are paths from the disk's root, so
    // only a pipe's name passes there.
    struct Case {
        const char *path;
        int passes;
    } names[] = {{"/srvsvc", 1},  {"srvsvc", 1}, {"//srvsvc", 1}, {"/", 0},         {"", 0},
                 {"/etc/passwd", 0}, {"/..", 0},  {"/.", 0},       {"/nowhere/../..", 0}};
    for (const Case &c : names) {
        std::vector<CMWchar> p = W(c.path);
        EXPECT_EQ(csCheckPath(ipc, p.data(), 0, 0), c.passes) << c.path;
        EXPECT_EQ(csCheckPathAndFile(ipc, p.data(), 0, 1), c.passes) << c.path;
    }
    std::vector<CMWchar> p = W("/srvsvc");
    EXPECT_EQ(csCheckFile(ipc, p.data(), 0), 1) << "a pipe is there to open";
    EXPECT_EQ(csCheckShareMapping(ipc), 1);
    EXPECT_EQ(csCheckShareMapping(share), 1);
    std::filesystem::remove_all(root + "/share");
    EXPECT_EQ(csCheckShareMapping(share), 0);
}

// A share path configured with slashes at its end: the names are joined
// after the folder's last name, and the root is measured as they are.
TEST_F(PathCheckTest, SharePathsEndingInSlashes)
{
    for (const char *ending : {"/", "//"}) {
        SCOPED_TRACE(ending);
        const std::string name = std::string("Slashed") + (ending[1] ? "2" : "1");
        ASSERT_EQ(vxAddShareA(name.c_str(), (root + "/share" + ending).c_str(), "", -1, ""), 0);
        share = csGetShareByName(W(name).data());
        ASSERT_NE(share, nullptr);
        struct Case {
            const char *name;
            int passes;
        } cases[] = {{"", 1}, {"x", 1}, {"a\\..", 1}, {"..", 0}, {"a\\..\\..", 0}, {"..\\sibling\\x", 0}};
        for (const Case &c : cases) {
            std::vector<CMWchar> p = local(c.name);
            ASSERT_FALSE(p.empty());
            EXPECT_EQ(csCheckPath(share, p.data(), rootLength(), 0), c.passes) << c.name;
            p = local(c.name);
            EXPECT_EQ(csCheckPathAndFile(share, p.data(), rootLength(), 1), c.passes) << c.name;
        }
    }
}

TEST_F(PathCheckTest, ShareRightsFollowTheDescriptor)
{
    int socket = 0;
    server_test::Client c = server_test::connect(&socket, 0x0100007F, "bob", share);
    ASSERT_NE(c.tree, nullptr);
    csDispatchSetNtError(1);
    // No such tree: the DOS answer in either mode.
    EXPECT_EQ(csCanReadShare(4000), 0x00050002u);
    c.user->token.ridCount = 2;
    c.user->token.rids[0] = 1000;
    c.user->token.rids[1] = CM_SD_RID_USERS;
    c.user->token.domain = *cmSdGetComputerSid();
    // Read-only: reading passes, writing is refused as a violation.
    ASSERT_EQ(cmSdGetReadonlyShareSecurityDescriptor(&share->sd), 1);
    EXPECT_EQ(csCanReadShare(c.tree->tid), 0u);
    EXPECT_EQ(csCanWriteShare(c.tree->tid), 0xC0000005u);
    csDispatchSetNtError(0);
    EXPECT_EQ(csCanWriteShare(c.tree->tid), 0x000C0001u);
    // Administrators only: bob reads nothing.
    ASSERT_EQ(cmSdGetAdminonlyShareSecurityDescriptor(&share->sd), 1);
    csDispatchSetNtError(1);
    EXPECT_EQ(csCanReadShare(c.tree->tid), 0xC0000005u);
    ASSERT_EQ(cmSdGetShareSecurityDescriptor(&share->sd), 1);
    EXPECT_EQ(csCanWriteShare(c.tree->tid), 0u);
    c.tree->share = nullptr;
    csDispatchSetNtError(1);
    EXPECT_EQ(csCanReadShare(c.tree->tid), 0xC0000005u);
    csDispatchSetSocket(nullptr);
}

}  // namespace
