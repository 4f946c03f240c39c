#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "zmo.h"

namespace {
TEST(String, Dup)
{
    char *a = zmo_string_dup("hello");
    char *b = zmo_string_ndup("hello", 3);
    EXPECT_STREQ(a, "hello");
    EXPECT_STREQ(b, "hel");
    free(a);
    free(b);
    EXPECT_EQ(zmo_string_dup(nullptr), nullptr);
}

TEST(StrAcc, AppendGrowsAndKeepsText)
{
    zmo_stracc_t acc = ZMO_STRACC_INIT;
    EXPECT_STREQ(zmo_stracc_value(&acc), "");
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(zmo_stracc_append(&acc, "%d,", i));
        expected += std::to_string(i) + ",";
    }
    EXPECT_EQ(zmo_stracc_value(&acc), expected);
    EXPECT_EQ(zmo_stracc_size(&acc), expected.size());
    zmo_stracc_clear(&acc);
    EXPECT_EQ(zmo_stracc_size(&acc), 0u);
    EXPECT_TRUE(zmo_stracc_append(&acc, "again"));
    EXPECT_STREQ(zmo_stracc_value(&acc), "again");
    zmo_stracc_clear(&acc);
}

TEST(StrAcc, WalksZeroSeparatedStrings)
{
    zmo_stracc_t acc = ZMO_STRACC_INIT;
    zmo_stracc_append(&acc, "%s%c", "/bin/script", 0);
    zmo_stracc_append(&acc, "%s%c", "lldp", 0);
    zmo_stracc_append(&acc, "%s%c", "", 0);
    const char *s = zmo_stracc_next_cstr(&acc, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "/bin/script");
    s = zmo_stracc_next_cstr(&acc, s);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "lldp");
    s = zmo_stracc_next_cstr(&acc, s);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    EXPECT_EQ(zmo_stracc_next_cstr(&acc, s), nullptr);
    zmo_stracc_clear(&acc);
    EXPECT_EQ(zmo_stracc_next_cstr(&acc, nullptr), nullptr);
}

TEST(StrAcc, Equality)
{
    zmo_stracc_t a = ZMO_STRACC_INIT, b = ZMO_STRACC_INIT;
    EXPECT_TRUE(zmo_stracc_is_equal(&a, &b));
    zmo_stracc_append(&a, "x%c", 0);
    zmo_stracc_append(&b, "x");
    EXPECT_FALSE(zmo_stracc_is_equal(&a, &b));  // the zero byte counts
    zmo_stracc_append(&b, "%c", 0);
    EXPECT_TRUE(zmo_stracc_is_equal(&a, &b));
    zmo_stracc_clear(&a);
    zmo_stracc_clear(&b);
}
}  // namespace
