// Open names, files and searches: ids over full tables, handles sharing a
// name, delete on close, lookups confined to the connection, what a tree's
// release closes, the notify cursor and the exported list of open files.
#include "server_fixture.h"
#include "csservices.h"
#include "syfiles.h"

#include "fw_test/log_capture.h"
#include "fw_test/matchers.h"
#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace server_test;
using fw_test::HasSubstr;
using ::testing::Contains;

namespace {

std::vector<std::string> gCalls;

}  // namespace

// The neighbours record what the tables ask of them.
extern "C" void csNotifyImmediatelly(const CMWchar *path, uint32_t action, uint32_t filter)
{
    gCalls.push_back("notify " + A(path) + " " + std::to_string(action) + " " + std::to_string(filter));
}
extern "C" int syEndPrintJob(uint32_t printer, uint32_t job)
{
    gCalls.push_back("end job " + std::to_string(printer) + " " + std::to_string(job));
    return 0;
}
extern "C" int csDcerpcClosePipe(CSFile *file)
{
    gCalls.push_back("close pipe " + std::to_string(file->fid));
    return 0;
}

namespace {

class OpenFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gCalls.clear();
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        alice = connect(&a, 0x0201A8C0, "alice", &share);
        bob = connect(&b, 0x0301A8C0, "bob", &other);
        serve(&a);
    }
    void TearDown() override
    {
        csCloseDatabase();
        csDispatchSetSocket(nullptr);
        syStop();
    }
    void serve(int *socket) { csDispatchSetSocket(socket); }
    std::string file(const std::string &name, const std::string &content = "x")
    {
        std::string path = dir.file(name);
        std::ofstream(path) << content;
        return path;
    }

    int a = 0, b = 0;
    int share = 0, other = 0;
    Client alice, bob;
    fw_test::TempDir dir{"csfiles"};
};

TEST_F(OpenFilesTest, IdsFollowSlotsUntilTheTablesAreFull)
{
    fw_test::LogCapture log;
    std::vector<CSFile *> files;
    for (int i = 0; i < CS_MAX_FILES; ++i) {
        CSFile *f = open(alice, "/share/f" + std::to_string(i));
        ASSERT_NE(f, nullptr) << i;
        EXPECT_EQ(f->fid, CS_FID_BASE + i);
        EXPECT_EQ(f->fd, -1);
        EXPECT_EQ(f->sid, CS_FREE_ID);
        EXPECT_EQ(f->printerHandle, 0xFFFFFFFFu);
        EXPECT_EQ(f->pipeContexts[19], 0xFFFFFFFFu);
        files.push_back(f);
    }
    EXPECT_EQ(files.front()->fid, 0x4001);
    EXPECT_EQ(files.back()->fid, 0x4140);
    EXPECT_EQ(csGetFilesCount(), 320u);
    EXPECT_EQ(csGetUniqueFilesCount(), 320u);
    std::vector<CMWchar> path = W("/share/one-more");
    EXPECT_EQ(csGetNewName(path.data(), alice.user->uid), nullptr);
    EXPECT_THAT(log.lines(), Contains(HasSubstr("No more name slots")));
    EXPECT_EQ(csGetNewFile(alice.tree, csGetNameByNid(0), 0), nullptr);
    EXPECT_THAT(log.lines(), Contains(HasSubstr("No more file slots")));

    csReleaseFile(0x4001);
    EXPECT_EQ(csGetFilesCount(), 319u);
    EXPECT_EQ(csGetUniqueFilesCount(), 319u);
    CSFile *again = open(alice, "/share/again");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->fid, 0x4001);
}

TEST_F(OpenFilesTest, ReleasesIgnoreIdsThatNameNothing)
{
    for (uint16_t fid : {0x0000, 0x4000, 0x4001, 0x4141, 0xFFFF})
        csReleaseFile(fid);
    csReleaseName(CS_MAX_NAMES);
    csReleaseName(0);
    csReleaseSearch(CS_MAX_SEARCHES);
    csReleaseSearch(0);
    EXPECT_EQ(csGetFilesCount(), 0u);
    EXPECT_TRUE(gCalls.empty());
}

TEST_F(OpenFilesTest, TwoHandlesShareOneNameAndTheLastDeletesIt)
{
    std::string path = file("shared.txt");
    CSFile *first = open(alice, path);
    CSFile *second = open(alice, path);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->nid, second->nid);
    CSName *name = csGetNameByNid(first->nid);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->first, second);
    EXPECT_EQ(csGetNextFileByName(second->fid), first);
    EXPECT_EQ(csGetUniqueFilesCount(), 1u);
    first->fd = ::open(path.c_str(), O_RDONLY);
    int fd = first->fd;
    name->deleteOnClose = 1;
    EXPECT_TRUE(csFileMarkedForDeletion(W(path).data()));

    csReleaseFile(first->fid);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the descriptor is closed";
    EXPECT_EQ(csGetNameByNid(second->nid), name);
    EXPECT_EQ(name->first, second);
    EXPECT_EQ(second->previous, nullptr);
    EXPECT_TRUE(std::filesystem::exists(path));

    csReleaseFile(second->fid);
    EXPECT_EQ(name->nid, CS_FREE_ID);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(csGetUniqueFilesCount(), 0u);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"notify " + path + " 2 3", "notify " + path + " 2 3",
                                                "notify " + path + " 2 3"}));
}

TEST_F(OpenFilesTest, AChangedNameReportsAModificationWhenReleased)
{
    CSFile *f = open(alice, "/share/changed");
    ASSERT_NE(f, nullptr);
    csGetNameByNid(f->nid)->changed = 1;
    csReleaseFile(f->fid);
    EXPECT_EQ(gCalls, std::vector<std::string>{"notify /share/changed 3 16"});
}

TEST_F(OpenFilesTest, DeleteOnCloseRemovesADirectory)
{
    std::string path = dir.file("sub");
    std::filesystem::create_directory(path);
    CSFile *f = open(alice, path);
    ASSERT_NE(f, nullptr);
    f->isDirectory = 1;
    csGetNameByNid(f->nid)->deleteOnClose = 1;
    csReleaseFile(f->fid);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(OpenFilesTest, LookupsFindOnlyTheServedConnectionsFiles)
{
    CSFile *mine = open(alice, "/share/mine");
    ASSERT_NE(mine, nullptr);
    uint16_t tid = alice.tree->tid, uid = alice.user->uid;
    EXPECT_EQ(csGetFileByFid(mine->fid, tid, uid), mine);
    EXPECT_EQ(csGetFileByFid(mine->fid, tid + 1, uid), nullptr);
    EXPECT_EQ(csGetFileByFid(mine->fid, tid, uid + 1), nullptr);
    EXPECT_EQ(csGetFileByFid(0x4000, tid, uid), nullptr);
    EXPECT_EQ(csGetFileByFid(0x4141, tid, uid), nullptr);
    serve(&b);
    EXPECT_EQ(csGetFileByFid(mine->fid, tid, uid), nullptr);
    EXPECT_EQ(csGetFileByJustFid(mine->fid), mine);
    EXPECT_EQ(A(csGetFileName(mine->fid)), "/share/mine");
    EXPECT_EQ(csGetFileName(0x4002), nullptr);
}

TEST_F(OpenFilesTest, WalksOverTheOpenFiles)
{
    CSFile *f1 = open(alice, "/share/1");
    CSFile *f2 = open(bob, "/other/2");
    CSFile *f3 = open(alice, "/share/3");
    f1->pid = 7;
    f2->pid = 8;
    f3->pid = 7;
    csReleaseFile(f2->fid);
    EXPECT_EQ(csGetNextFileOpen(0xFFFF), 0x4001);
    EXPECT_EQ(csGetNextFileOpen(0x4000), 0x4001);
    EXPECT_EQ(csGetNextFileOpen(0x4001), 0x4001);
    EXPECT_EQ(csGetNextFileOpen(0x4002), 0x4003);
    EXPECT_EQ(csGetNextFileOpen(0x4004), 0xFFFF);
    EXPECT_EQ(csGetNextFileByPid(7, 0xFFFF), f1);
    EXPECT_EQ(csGetNextFileByPid(7, f1->fid), f3);
    EXPECT_EQ(csGetNextFileByPid(7, f3->fid), nullptr);
    EXPECT_EQ(csGetFileByIndex(0), f1);
    EXPECT_EQ(csGetFileByIndex(1), f3);
    EXPECT_EQ(csGetFileByIndex(2), nullptr);
    open(alice, "/share/3");
    EXPECT_EQ(csGetNumberOfUserFiles(alice.user), 2u) << "two names, however many handles";
    EXPECT_EQ(csGetNumberOfUserFiles(bob.user), 0u);
    EXPECT_EQ(csGetNumberOfShareFiles(&share), 2u);
    EXPECT_EQ(csGetNumberOfShareFiles(&other), 0u);
}

TEST_F(OpenFilesTest, ReleasingAUserClosesItsTreesFilesAndSearches)
{
    CSFile *f = open(alice, file("a.txt"));
    f->fd = ::open(dir.file("a.txt").c_str(), O_RDONLY);
    int fd = f->fd;
    CSSearch *s = csGetNewSearch(alice.tree);
    ASSERT_NE(s, nullptr);
    open(bob, "/other/b");
    csReleaseUser(alice.user->uid, 0);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(csGetFilesCount(), 1u);
    EXPECT_EQ(csGetSearchBySid(0), nullptr);
    EXPECT_EQ(csGetFileByIndex(0)->uid, bob.user->uid);
}

TEST_F(OpenFilesTest, SearchesFillUpAndGoWithTheirHandle)
{
    fw_test::LogCapture log;
    for (uint16_t i = 0; i < CS_MAX_SEARCHES; ++i) {
        CSSearch *s = csGetNewSearch(alice.tree);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->sid, i);
        EXPECT_EQ(s->tid, alice.tree->tid);
        EXPECT_EQ(s->enumeration.state, 0u);
    }
    EXPECT_EQ(csGetNewSearch(alice.tree), nullptr);
    EXPECT_THAT(log.lines(), Contains(HasSubstr("No more search slots")));
    EXPECT_NE(csGetSearchBySid(3), nullptr);
    serve(&b);
    EXPECT_EQ(csGetSearchBySid(3), nullptr);
    serve(&a);
    EXPECT_EQ(csGetSearchBySid(30), nullptr);
    CSFile *f = open(alice, "/share/dir");
    f->sid = 3;
    csReleaseFile(f->fid);
    EXPECT_EQ(csGetSearchBySid(3), nullptr);
    EXPECT_NE(csGetSearchBySid(4), nullptr);
}

TEST_F(OpenFilesTest, WaitingNotifyRequestsAreFoundAndWalked)
{
    CSFile *f1 = open(alice, "/share/1");
    CSFile *f2 = open(alice, "/share/2");
    CSFile *f3 = open(bob, "/other/3");
    f1->notify[2] = 1;
    f1->notifyContext.pid = 11;
    f1->notifyContext.mid = 12;
    f3->notify[2] = 1;
    f3->asyncIdLow = 5;
    f3->asyncIdHigh = 6;
    EXPECT_EQ(csGetFileByContext(11, 12, alice.tree->tid, alice.user->uid), f1);
    EXPECT_EQ(csGetFileByContext(11, 13, alice.tree->tid, alice.user->uid), nullptr);
    EXPECT_EQ(csGetFileByContext(0, 0, alice.tree->tid, alice.user->uid), nullptr) << "nothing waits on f2";
    EXPECT_EQ(cs2GetFileByContext(5, 6, bob.user->uid), f3);
    EXPECT_EQ(cs2GetFileByContext(5, 6, alice.user->uid), nullptr);
    csStartNotifyRequestSearch();
    EXPECT_EQ(csEnumerateNotifyRequest(), f1);
    EXPECT_EQ(csEnumerateNotifyRequest(), f3);
    EXPECT_EQ(csEnumerateNotifyRequest(), nullptr);
    EXPECT_EQ(csEnumerateNotifyRequest(), nullptr);
    (void)f2;
}

TEST_F(OpenFilesTest, PrintJobsEndAndPipesClose)
{
    CSFile *job = open(alice, "/printer/job");
    job->isPrintJob = 1;
    job->printerHandle = 2;
    job->fd = 77;
    CSFile *pipe = open(alice, "\\srvsvc");
    pipe->pipe = 1;
    uint16_t pipeFid = pipe->fid;
    csReleaseFile(job->fid);
    csReleaseFile(pipeFid);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"end job 2 77", "close pipe " + std::to_string(pipeFid)}));
}

TEST_F(OpenFilesTest, APathLongerThanANameHoldsIsRefused)
{
    std::vector<CMWchar> longest = W("/" + std::string(CS_NAME_PATH_UNITS - 2, 'p'));
    std::vector<CMWchar> tooLong = W("/" + std::string(CS_NAME_PATH_UNITS - 1, 'p'));
    EXPECT_NE(csGetNewName(longest.data(), 500), nullptr);
    EXPECT_EQ(csGetNewName(tooLong.data(), 500), nullptr);
}

TEST_F(OpenFilesTest, OpenFilesAreListedForTheHost)
{
    CSFile *f = open(bob, "/other/report.doc");
    open(alice, "/share/photos")->isDirectory = 1;
    VXOpenFileInfoW wide;
    ASSERT_EQ(vxEnumerateOpenFilesW(0, &wide), 1);
    EXPECT_EQ(A(wide.path), "/other/report.doc");
    EXPECT_EQ(A(wide.user), "bob");
    EXPECT_EQ(A(wide.address), "192.168.1.3");
    EXPECT_EQ(wide.isDirectory, 0u);
    VXOpenFileInfoA narrow;
    ASSERT_EQ(vxEnumerateOpenFilesA(1, &narrow), 1);
    EXPECT_STREQ(narrow.path, "/share/photos");
    EXPECT_STREQ(narrow.user, "alice");
    EXPECT_STREQ(narrow.address, "192.168.1.2");
    EXPECT_EQ(narrow.isDirectory, 1u);
    EXPECT_EQ(vxEnumerateOpenFilesA(2, &narrow), 0);
    (void)f;
}

}  // namespace
