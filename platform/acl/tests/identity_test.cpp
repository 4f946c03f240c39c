#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "zmo_acl.h"

namespace {
TEST(AclIdentity, RecordsUserAndPermissiveFlag)
{
    ASSERT_EQ(zmo_acl_init(), 0);
    EXPECT_STREQ(zmo_acl_get_user(), "");
    EXPECT_EQ(zmo_acl_get_permissive(), 0);
    ASSERT_EQ(zmo_acl_set_user("alice"), 0);
    ASSERT_EQ(zmo_acl_set_permissive(7), 0);
    EXPECT_STREQ(zmo_acl_get_user(), "alice");
    EXPECT_EQ(zmo_acl_get_permissive(), 1);
    ASSERT_EQ(zmo_acl_set_permissive(0), 0);
    EXPECT_EQ(zmo_acl_get_permissive(), 0);
    EXPECT_EQ(zmo_acl_cleanup(), 0);
    EXPECT_STREQ(zmo_acl_get_user(), "");
}

TEST(AclIdentity, RefusesBadNamesAndKeepsThePreviousUser)
{
    ASSERT_EQ(zmo_acl_set_user("bob"), 0);
    const std::string longest(257, 'u'), too_long(258, 'u');
    const struct {
        const char *name;
        int result;
    } cases[] = {{nullptr, -1}, {"", -1}, {too_long.c_str(), -1}, {longest.c_str(), 0}};
    for (const auto &c : cases) {
        errno = 0;
        EXPECT_EQ(zmo_acl_set_user(c.name), c.result);
        if (c.result) {
            EXPECT_EQ(errno, EINVAL);
            EXPECT_STREQ(zmo_acl_get_user(), "bob");
        }
    }
    EXPECT_EQ(zmo_acl_get_user(), longest);
}
}  // namespace
