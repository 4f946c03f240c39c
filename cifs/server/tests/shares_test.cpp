// The share table: what the host hooks configure, the edge cases of adding
// and removing, descriptors, printer shares and the two mutexes.
#include "server_fixture.h"
#include "ud_test_env.h"
#include "csservices.h"
#include "cmsd.h"
#include "syfiles.h"

#include "fw_test/matchers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace server_test;
using fw_test::HasSubstr;
using fw_test::Not;

namespace {

std::vector<std::string> gCalls;

}  // namespace

extern "C" void syUpdatePrinterStatus(const CMWchar *path, const CMWchar *name, const CMWchar *statusPath,
                                      int16_t level)
{
    gCalls.push_back("status " + A(path) + " " + A(name) + " " + A(statusPath) + " " + std::to_string(level));
}
extern "C" void csRpcSpoolssCleanupUser(uint16_t uid) { gCalls.push_back("spoolss " + std::to_string(uid)); }

namespace {

void lockDispatch() { gCalls.push_back("lock"); }
void unlockDispatch() { gCalls.push_back("unlock"); }

class SharesTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        gCalls.clear();
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(cmSdInit(), 0);
    }
    void TearDown() override
    {
        csCloseDatabase();
        cmSdExit();
        syStop();
        csDispatchSetSocket(nullptr);
        testenv::HookTest::TearDown();
    }
    void start(const std::string &configured = "")
    {
        if (!configured.empty())
            testenv::writeFile(path("cs_cfg.txt"), configured);
        ASSERT_EQ(csInitDatabase(lockDispatch, unlockDispatch), 0);
        gCalls.clear();
    }
    std::vector<std::string> names()
    {
        std::vector<std::string> out;
        for (uint32_t i = 0; CSShare *s = csGetShareByIndex(i); ++i)
            out.push_back(A(s->name));
        return out;
    }
    int add(const std::string &name, const std::string &dir = "/mnt/x", int16_t level = -1,
            const std::string &status = "")
    {
        return vxAddShareW(W(name).data(), W(dir).data(), W(status).data(), level, W("").data());
    }
};

TEST_F(SharesTest, ConfiguredSharesFollowIpcAndTheWalkIsDrained)
{
    start("Music;/mnt/usb1/music;My music\nDocs;/mnt/usb1/docs;\n");
    EXPECT_EQ(names(), (std::vector<std::string>{"IPC$", "Music", "Docs", "C$"}));
    CSShare *ipc = csGetShareByIndex(0);
    EXPECT_EQ(A(ipc->comment), "IPC Service");
    EXPECT_EQ(A(ipc->path), "");
    EXPECT_EQ(ipc->debugLevel, -1);
    EXPECT_EQ(ipc->isIpc, 1u);
    EXPECT_EQ(ipc->isHidden, 0u);
    CSShare *music = csGetShareByName(W("MUSIC").data());
    ASSERT_NE(music, nullptr);
    EXPECT_EQ(A(music->path), "/mnt/usb1/music");
    EXPECT_EQ(A(music->comment), "My music");
    EXPECT_EQ(music->isPrinter, 0u);
    CSShare *admin = csGetShareByName(W("c$").data());
    ASSERT_NE(admin, nullptr);
    EXPECT_EQ(admin->isHidden, 1u);
    EXPECT_TRUE(csHasAdminShare());
    EXPECT_EQ(csGetSharesCount(), 4u);
    EXPECT_EQ(csGetHiddenShareByMap(W("/VAR/RUN/cifs/file").data()), admin);
    EXPECT_EQ(csGetHiddenShareByMap(W("/mnt/usb1/music").data()), nullptr);
    // With the walk ended, the hooks take share writes again.
    EXPECT_EQ(udSaveShareInformation(nullptr, W("New").data(), W("/mnt/new").data(), W("").data()), 1);
    EXPECT_THAT(testenv::readFile(path("cs_cfg.txt")), HasSubstr("New;/mnt/new;"));
}

TEST_F(SharesTest, AtMostFourteenConfiguredSharesAndTheRestIsDrained)
{
    std::string lines;
    for (int i = 0; i < 20; ++i)
        lines += "s" + std::to_string(i) + ";/mnt/" + std::to_string(i) + ";\n";
    start(lines);
    std::vector<std::string> got = names();
    ASSERT_EQ(got.size(), 15u);
    EXPECT_EQ(got.front(), "IPC$");
    EXPECT_EQ(got.back(), "s13");
    EXPECT_EQ(udRemoveShare(W("s0").data()), 1);
    EXPECT_THAT(testenv::readFile(path("cs_cfg.txt")), Not(HasSubstr("s0;")));
}

TEST_F(SharesTest, AddingRefusesWhatDoesNotFit)
{
    start("# nothing configured\n");
    ASSERT_EQ(names(), (std::vector<std::string>{"IPC$", "C$"}));
    EXPECT_EQ(add("Music"), 0);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"lock", "unlock"}));
    struct Refusal {
        std::string name, dir;
        int error;
    } refusals[] = {
        {"music", "/mnt/x", CM_ERR_EXISTS},
        {std::string(CS_SHARE_NAME_MAX + 1, 'n'), "/mnt/x", CM_ERR_GENERAL},
        {"long", "/" + std::string(CS_SHARE_PATH_MAX, 'p'), CM_ERR_GENERAL},
        {"", "/mnt/x", CM_ERR_GENERAL},
    };
    for (const Refusal &r : refusals) {
        EXPECT_EQ(add(r.name, r.dir), -1) << r.name.size();
        EXPECT_EQ(errno, r.error) << r.name.size();
    }
    EXPECT_EQ(add(std::string(CS_SHARE_NAME_MAX, 'n'), "/" + std::string(CS_SHARE_PATH_MAX - 1, 'p')), 0);
    for (int i = 0; csGetSharesCount() < CS_MAX_SHARES; ++i)
        ASSERT_EQ(add("fill" + std::to_string(i)), 0);
    EXPECT_EQ(add("sixteenth"), -1);
    EXPECT_EQ(errno, CM_ERR_NO_ROOM);
    EXPECT_EQ(vxAddShareA("sixteenth", "/mnt/x", "", -1, "c"), -1);
    EXPECT_EQ(errno, CM_ERR_NO_ROOM);
}

TEST_F(SharesTest, RemovingCutsEveryTreeOfTheShare)
{
    start();
    ASSERT_EQ(add("Music"), 0);
    CSShare *music = csGetShareByName(W("Music").data());
    int a = 0, b = 0;
    Client one = connect(&a, 0x0201A8C0, "alice", music);
    Client two = connect(&b, 0x0301A8C0, "bob", music);
    ASSERT_NE(open(one, "/mnt/x/a"), nullptr);
    ASSERT_NE(open(two, "/mnt/x/b"), nullptr);
    uint16_t tids[] = {one.tree->tid, two.tree->tid};
    EXPECT_EQ(csGetNumberOfShareUsers(music), 2u);
    EXPECT_EQ(vxRemoveShareA("MUSIC"), 0);
    for (uint16_t tid : tids) {
        csDispatchSetSocket(tid == tids[0] ? &a : &b);
        EXPECT_EQ(csGetTreeByTid(tid), nullptr);
    }
    EXPECT_EQ(csGetFilesCount(), 0u);
    EXPECT_EQ(csGetShareByName(W("Music").data()), nullptr);
    EXPECT_EQ(vxRemoveShareA("Music"), -1);
    EXPECT_EQ(errno, CM_ERR_GENERAL);
    EXPECT_EQ(vxRemoveShareA("C$"), -1) << "the administrative share stays";
    EXPECT_EQ(errno, CM_ERR_GENERAL);
}

std::mutex gDispatch;
void takeDispatch() { gDispatch.lock(); }
void giveDispatch() { gDispatch.unlock(); }

TEST_F(SharesTest, AChangeFromAnotherThreadWaitsForTheRequestUnderWay)
{
    ASSERT_EQ(csInitDatabase(takeDispatch, giveDispatch), 0);
    std::atomic<bool> added{false};
    gDispatch.lock();  // a request is being served
    std::thread other([&] {
        EXPECT_EQ(vxAddShareA("Late", "/mnt/late", "", -1, ""), 0);
        added = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(added.load());
    EXPECT_EQ(csGetShareByName(W("Late").data()), nullptr);
    gDispatch.unlock();
    other.join();
    EXPECT_TRUE(added.load());
    EXPECT_NE(csGetShareByName(W("Late").data()), nullptr);
}

TEST_F(SharesTest, NothingWithoutADatabase)
{
    EXPECT_EQ(add("Music"), -1);
    EXPECT_EQ(errno, CM_ERR_DB_NOT_STARTED);
    EXPECT_EQ(vxRemoveShareA("Music"), -1);
    EXPECT_EQ(errno, CM_ERR_DB_NOT_STARTED);
    EXPECT_EQ(vxSetShareEncryptionA(nullptr, 1), -1);
    EXPECT_EQ(errno, CM_ERR_DB_NOT_STARTED);
    EXPECT_EQ(csGetShareByIndex(0), nullptr);
}

TEST_F(SharesTest, EncryptionPerShareAndServerWide)
{
    start();
    ASSERT_EQ(add("Music"), 0);
    EXPECT_EQ(vxSetShareEncryptionA("music", 1), 0);
    EXPECT_EQ(csGetShareByName(W("Music").data())->encryptionRequired, 1u);
    EXPECT_EQ(vxSetShareEncryptionA("none", 1), -1);
    EXPECT_EQ(errno, CM_ERR_GENERAL);
    EXPECT_EQ(vxSetShareEncryptionW(nullptr, 1), 0);
    EXPECT_EQ(csIsServerEncrypted(), 1u);
}

TEST_F(SharesTest, DescriptorsComeFromTheStoreOrTheDefault)
{
    start("# nothing configured\n");
    CMSdSecurityDescriptor stored, fallback, adminOnly;
    ASSERT_TRUE(cmSdGetReadonlyShareSecurityDescriptor(&stored));
    ASSERT_TRUE(cmSdGetShareSecurityDescriptor(&fallback));
    ASSERT_TRUE(cmSdGetAdminonlyShareSecurityDescriptor(&adminOnly));
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("Kept").data(), stored.data, stored.length), 0);
    const uint8_t junk[] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("Junk").data(), junk, sizeof junk), 0);
    ASSERT_EQ(add("Kept"), 0);
    ASSERT_EQ(add("Junk"), 0);
    ASSERT_EQ(add("None"), 0);
    auto same = [](const CSShare *s, const CMSdSecurityDescriptor &sd) {
        return s->sd.length == sd.length && std::memcmp(s->sd.data, sd.data, sd.length) == 0;
    };
    EXPECT_TRUE(same(csGetShareByName(W("Kept").data()), stored));
    EXPECT_TRUE(same(csGetShareByName(W("Junk").data()), fallback));
    EXPECT_TRUE(same(csGetShareByName(W("None").data()), fallback));
    EXPECT_TRUE(same(csGetShareByName(W("C$").data()), adminOnly));
    CSShare *none = csGetShareByName(W("None").data());
    none->sd = stored;
    EXPECT_TRUE(csSetShareSecurityDescriptor(none));
    uint8_t back[CM_SD_MAX_SIZE];
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("None").data(), back, sizeof back), stored.length);
}

TEST_F(SharesTest, PrinterSharesTakeOneOfFourSlotsAndKeepAStatusFile)
{
    start();
    std::string status = std::string(UD_CONFIG_DIR) + "lp0.status";
    testenv::writeFile(status, "idle");
    EXPECT_EQ(add("Laser", "/dev/usb/lp0", 0, status), 0);
    CSShare *laser = csGetShareByName(W("Laser").data());
    EXPECT_EQ(laser->isPrinter, 1u);
    EXPECT_EQ(laser->isHidden, 0u);
    EXPECT_EQ(add("Laser$", "/dev/usb/lp0", 1), 0) << "a printer with '$' is no administrative share";
    EXPECT_EQ(csGetShareByName(W("Laser$").data())->isHidden, 0u);
    for (int i = 1; i < CS_PRINTER_SLOTS; ++i)
        ASSERT_EQ(add("P" + std::to_string(i), "/dev/usb/lp" + std::to_string(i), 0), 0);
    EXPECT_EQ(add("Fifth", "/dev/usb/lp9", 0), -1);
    EXPECT_EQ(errno, CM_ERR_NO_ROOM);
    EXPECT_EQ(csGetShareByName(W("Fifth").data()), nullptr);
    gCalls.clear();
    vxUpdatePrinterStatuses();
    ASSERT_EQ(gCalls.size(), 5u);
    EXPECT_EQ(gCalls[0], "status /dev/usb/lp0 Laser " + status + " 0");
    vxRemovePrinterStatuses();
    EXPECT_FALSE(testenv::exists(status));
    testenv::writeFile(status, "idle");
    EXPECT_EQ(vxRemoveShareA("Laser"), 0);
    EXPECT_FALSE(testenv::exists(status));
}

TEST_F(SharesTest, APrinterWhoseDevicePathDoesNotFitIsNotAdded)
{
    start();
    syInitPrinters();
    EXPECT_EQ(add("Long", "/" + std::string(63, 'p'), 0), -1);
    EXPECT_EQ(csGetShareByName(W("Long").data()), nullptr);
    EXPECT_EQ(add("Files", "/" + std::string(63, 'p')), 0) << "a file share's path may be that long";
    EXPECT_EQ(add("Short", "/" + std::string(62, 'p'), 0), 0);
}

TEST_F(SharesTest, PrintersAreReleasedForEveryLogonOfAName)
{
    start();
    int a = 0, b = 0;
    Client one = connect(&a, 1, "alice", nullptr);
    Client two = connect(&b, 2, "alice", nullptr);
    connect(&b, 3, "Alice", nullptr);
    gCalls.clear();
    csDisconnectAllPrinters(W("alice").data());
    EXPECT_EQ(gCalls, (std::vector<std::string>{"spoolss " + std::to_string(one.user->uid),
                                                "spoolss " + std::to_string(two.user->uid)}));
}

}  // namespace
