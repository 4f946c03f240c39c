#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "fw_test/temp_dir.h"
#include "zmo_acl.h"

namespace {

struct AclPolicy : ::testing::Test {
    fw_test::TempDir tmp{"zmo-acl-policy"};
    std::string dir = tmp.path();

    void policy(const std::string &text)
    {
        std::ofstream(dir + "/policy") << text;
        setenv("ZMO_ACL_POLICY", (dir + "/policy").c_str(), 1);
        ASSERT_EQ(zmo_acl_init(), 0);
    }
    void TearDown() override
    {
        unsetenv("ZMO_ACL_POLICY");
        zmo_acl_init();
        zmo_acl_cleanup();
    }
    // errno of an open for writing as user, 0 on success.
    int openAs(const char *user, const std::string &name)
    {
        EXPECT_EQ(zmo_acl_set_user(user), 0);
        errno = 0;
        int fd = zmo_acl_open3((dir + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600);
        int err = fd < 0 ? errno : 0;
        if (fd >= 0)
            close(fd);
        return err;
    }
};

TEST_F(AclPolicy, RulesByUserCallAndPath)
{
    policy("# scenario rules\n"
           "deny carol\n"
           "deny bob private\n"
           "fail open full ENOSPC\n"
           "fail * broken EIO\n"
           "\n");
    const struct {
        const char *user, *name;
        int error;
    } cases[] = {
        {"carol", "anything", EACCES}, {"bob", "private.txt", EACCES}, {"bob", "public.txt", 0},
        {"alice", "private.txt", 0},   {"alice", "full.bin", ENOSPC},  {"alice", "broken.bin", EIO},
    };
    for (const auto &c : cases)
        EXPECT_EQ(openAs(c.user, c.name), c.error) << c.user << " " << c.name;
    struct stat64 st;
    EXPECT_EQ(zmo_acl_stat((dir + "/broken.bin").c_str(), &st), -1);
    EXPECT_EQ(errno, EIO);
}

TEST_F(AclPolicy, RefusedUserKeepsThePreviousIdentity)
{
    policy("refuse mallory\n");
    ASSERT_EQ(zmo_acl_set_user("bob"), 0);
    errno = 0;
    EXPECT_EQ(zmo_acl_set_user("mallory"), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_STREQ(zmo_acl_get_user(), "bob");
}

TEST_F(AclPolicy, UnreadableLinesAreSkippedAndTheRestApplies)
{
    policy("deny\nfail open x ENOTANERROR\nrefuse a b\nsomething else\ndeny carol\n");
    EXPECT_EQ(openAs("carol", "f"), EACCES);
    EXPECT_EQ(openAs("bob", "x"), 0);
}

TEST_F(AclPolicy, NoFileNoRules)
{
    setenv("ZMO_ACL_POLICY", (dir + "/missing").c_str(), 1);
    ASSERT_EQ(zmo_acl_init(), 0);
    EXPECT_EQ(openAs("carol", "f"), 0);
}

}  // namespace
