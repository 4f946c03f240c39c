// The common layer's start and stop in both modes, inside namespaces of the
// test's own: the steps in order, each start step failing in turn with its
// message and the undo calls newest first, and a clean start afterwards.
#include "ud_test_env.h"

#include "cminit.h"
#include "cmnetbios.h"
#include "cmresolver.h"

#include <string>
#include <vector>

using namespace testenv;

namespace {

std::vector<std::string> gCalls;
std::string gFail;

int recordStep(const char *name)
{
    gCalls.push_back(name);
    return gFail == name ? 1 : 0;
}

using Names = std::vector<std::string>;

const Names kFullStart = {"cmMemoryStart", "cmNetBiosInit",   "cmCifsInit",    "cmSdInit",
                          "cmSelfipStart", "cmResolverStart", "cmThreadStart", "cmPortManageStart",
                          "cmFindDCInit",  "amSpnegoStart",   "cmBufManStart"};
const Names kUndo = {"cmMemoryShutdown", "cmNetBiosExit",      "cmCifsExit",       "cmSdExit",
                     "cmSelfipShutdown", "cmResolverShutdown", "cmThreadShutdown", "cmPortManageShutdown",
                     "cmFindDCExit",     "amSpnegoShutdown"};

class StartupTest : public HookTest {
protected:
    void SetUp() override
    {
        if (!enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace of its own";
        HookTest::SetUp();
        gCalls.clear();
        gFail.clear();
        cmInitSetStepHook(recordStep);
    }
    void TearDown() override
    {
        cmInitSetStepHook(nullptr);
        HookTest::TearDown();
    }
    // Runs cmInit(mode); its result, and what it printed.
    static std::pair<int, std::string> start(uint32_t mode)
    {
        testing::internal::CaptureStdout();
        int r = cmInit(mode);
        return {r, testing::internal::GetCapturedStdout()};
    }
};

TEST_F(StartupTest, NetBiosModeStartsPartAndStopsIt)
{
    auto [r, out] = start(4);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(gCalls, (Names{"cmMemoryStart", "cmNetBiosInit", "cmCifsInit", "cmSelfipStart",
                             "cmResolverStart", "cmThreadStart", "cmPortManageStart"}));
    EXPECT_NE(cmNetBiosGetHostNameInfo()->name[0], '\0') << "the identity is there";
    gCalls.clear();
    cmExit(4);
    EXPECT_EQ(gCalls, (Names{"cmNetBiosExit", "cmCifsExit", "cmResolverShutdown", "cmThreadShutdown",
                             "cmSelfipShutdown", "cmPortManageShutdown", "cmMemoryShutdown"}));
}

TEST_F(StartupTest, FullModeStartsEverythingAndStopsIt)
{
    for (uint32_t mode : {2u, 0u}) {
        SCOPED_TRACE(mode);
        gCalls.clear();
        auto [r, out] = start(mode);
        ASSERT_EQ(r, 0);
        EXPECT_EQ(gCalls, kFullStart);
        char dc[CM_DC_NAME_MAX + 1];
        EXPECT_EQ(cmGetDCNameByDomain("nowhere.lan", dc), -1) << "controller lookups are up";
        gCalls.clear();
        cmExit(mode);
        EXPECT_EQ(gCalls, (Names{"cmBufManShutdown", "cmNetBiosExit", "cmCifsExit", "cmSdExit",
                                 "cmFindDCExit", "cmResolverShutdown", "cmThreadShutdown", "cmSelfipShutdown",
                                 "cmPortManageShutdown", "amSpnegoShutdown", "cmMemoryShutdown"}));
    }
}

TEST_F(StartupTest, EachFailingStepIsNamedAndUndone)
{
    for (uint32_t mode : {2u, 4u}) {
        for (size_t i = 0; i + 1 < kFullStart.size(); ++i) {
            const std::string &step = kFullStart[i];
            if (mode == 4 && (step == "cmSdInit" || i >= 8))
                continue;
            SCOPED_TRACE(std::to_string(mode) + " " + step);
            gCalls.clear();
            gFail = step;
            auto [r, out] = start(mode);
            EXPECT_EQ(r, -1);
            EXPECT_EQ(out, step + "() failed\n");
            auto failedAt = std::find(gCalls.begin(), gCalls.end(), step);
            ASSERT_NE(failedAt, gCalls.end());
            Names undone(failedAt + 1, gCalls.end());
            Names want;
            for (size_t j = i; j-- > 0;)
                want.push_back(kUndo[j]);
            EXPECT_EQ(undone, want);

            // Nothing was left behind: a later start succeeds.
            gFail.clear();
            gCalls.clear();
            auto [again, quiet] = start(mode);
            EXPECT_EQ(again, 0);
            EXPECT_EQ(quiet, "");
            cmExit(mode);
        }
    }
}

TEST_F(StartupTest, BufferManagerFailureDoesNotFailTheStart)
{
    gFail = "cmBufManStart";
    auto [r, out] = start(2);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out, "");
    cmExit(2);
}

}  // namespace
