#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "fw_test/temp_dir.h"
#include "zmo_acl.h"

namespace {
struct Call {
    std::string call, path, user;
    int permissive, error;
};

struct AclFiles : ::testing::Test {
    fw_test::TempDir tmp{"zmo-acl"};
    std::string dir = tmp.path();
    std::vector<Call> calls;

    static void hook(void *ctx, const char *call, const char *path, const char *user, int permissive,
                     int error)
    {
        static_cast<AclFiles *>(ctx)->calls.push_back({call, path ? path : "", user, permissive, error});
    }
    void SetUp() override
    {
        zmo_acl_init();
        zmo_acl_set_log_hook(hook, this);
    }
    void TearDown() override
    {
        zmo_acl_set_log_hook(nullptr, nullptr);
        zmo_acl_inject_error(nullptr, nullptr, 0, 0);
        zmo_acl_cleanup();
    }
    std::string at(const char *name) { return dir + "/" + name; }
};

TEST_F(AclFiles, PassThroughToTheFileSystem)
{
    zmo_acl_set_user("carol");
    zmo_acl_set_permissive(1);
    ASSERT_EQ(zmo_acl_mkdir(at("d").c_str(), 0700), 0);
    int fd = zmo_acl_open3(at("d/f").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "12345", 5), 5);
    close(fd);
    struct stat64 st;
    ASSERT_EQ(zmo_acl_stat(at("d/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5);
    ASSERT_EQ(zmo_acl_rename(at("d/f").c_str(), at("d/g").c_str()), 0);
    fd = zmo_acl_open(at("d/g").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    close(fd);

    DIR *d = zmo_acl_opendir(at("d").c_str());
    ASSERT_NE(d, nullptr);
    std::set<std::string> names;
    errno = 0;
    while (struct dirent64 *e = zmo_acl_readdir(d))
        names.insert(e->d_name);
    EXPECT_EQ(errno, 0) << "the end of a directory is not an error";
    closedir(d);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "g"}));

    EXPECT_NE(zmo_acl_rmdir(at("d").c_str()), 0);
    EXPECT_EQ(errno, ENOTEMPTY);
    ASSERT_EQ(zmo_acl_unlink(at("d/g").c_str()), 0);
    ASSERT_EQ(zmo_acl_rmdir(at("d").c_str()), 0);
    EXPECT_EQ(zmo_acl_stat(at("d").c_str(), &st), -1);
    EXPECT_EQ(errno, ENOENT);

    // Every call was seen with the identity it was made for.
    ASSERT_FALSE(calls.empty());
    for (const Call &c : calls) {
        EXPECT_EQ(c.user, "carol") << c.call;
        EXPECT_EQ(c.permissive, 1) << c.call;
    }
    EXPECT_EQ(calls.front().call, "mkdir");
    EXPECT_EQ(calls.back().call, "stat");
    EXPECT_EQ(calls.back().error, ENOENT);
}

TEST_F(AclFiles, InjectedErrorsRefuseWithoutTouchingFiles)
{
    const struct {
        const char *call, *path_part;
        int error, count;
        int failures_of_three;  // of three mkdir calls on "x*" names
    } cases[] = {
        {"mkdir", nullptr, EACCES, 1, 1},
        {"mkdir", nullptr, EIO, -1, 3},
        {nullptr, "x2", EACCES, -1, 1},
        {"open", nullptr, EACCES, -1, 0},  // another call: mkdir untouched
    };
    for (const auto &c : cases) {
        std::string sub = at(("case" + std::to_string(&c - cases)).c_str());
        ASSERT_EQ(zmo_acl_mkdir(sub.c_str(), 0700), 0);
        zmo_acl_inject_error(c.call, c.path_part, c.error, c.count);
        int failures = 0;
        for (const char *name : {"/x1", "/x2", "/x3"}) {
            std::string p = sub + name;
            errno = 0;
            if (zmo_acl_mkdir(p.c_str(), 0700) != 0) {
                ++failures;
                EXPECT_EQ(errno, c.error);
                EXPECT_NE(access(p.c_str(), F_OK), 0) << "a refused call must not create " << p;
            }
        }
        EXPECT_EQ(failures, c.failures_of_three) << &c - cases;
        zmo_acl_inject_error(nullptr, nullptr, 0, 0);
    }
    zmo_acl_inject_error("readdir", nullptr, EIO, 1);
    DIR *d = zmo_acl_opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(zmo_acl_readdir(d), nullptr);
    EXPECT_EQ(errno, EIO);
    EXPECT_NE(zmo_acl_readdir(d), nullptr);
    closedir(d);
}
}  // namespace
