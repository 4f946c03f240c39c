#include <gtest/gtest.h>

#include <string>

#include "agent.h"
#include "tokens.h"

namespace {

const char kT1[] = "11111111-2222-4333-8444-555555555555";
const char kT2[] = "aaaaaaaa-2222-4333-8444-555555555555";

struct TokensTest : ::testing::Test {
    void TearDown() override { token_clear(); }
    static zmo_time_t in_ms(int64_t ms)
    {
        zmo_time_t t;
        zmo_time_get_monotonic_plus_msec(&t, ms);
        return t;
    }
};

TEST_F(TokensTest, LoginTokenIsAClientIdAndFound)
{
    char t[37];
    ASSERT_EQ(token_add(t), 0);
    EXPECT_EQ(cid_parse(t), 0);
    EXPECT_EQ(token_find(t), 1);
    EXPECT_EQ(token_find(kT1), 0);
    EXPECT_EQ(token_find("not-a-token"), -EINVAL);
    EXPECT_EQ(token_find(""), -EINVAL);
}

TEST_F(TokensTest, AnExpiredTokenIsUnknownBeforeTheSweep)
{
    zmo_time_t past = in_ms(-1), future = in_ms(60000);
    ASSERT_EQ(token_add_text(kT1, &past), 0);
    ASSERT_EQ(token_add_text(kT2, &future), 0);
    EXPECT_EQ(token_find(kT1), 0);
    EXPECT_EQ(token_find(kT2), 1);
    EXPECT_EQ(token_count(), 2);
    EXPECT_EQ(token_sweep(), 1);
    EXPECT_EQ(token_count(), 1);
    EXPECT_EQ(token_find(kT2), 1);
}

TEST_F(TokensTest, LogoutOnceOnly)
{
    zmo_time_t future = in_ms(60000);
    ASSERT_EQ(token_add_text(kT1, &future), 0);
    EXPECT_EQ(token_add_text(kT1, &future), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(token_remove(kT1), 1);
    EXPECT_EQ(token_remove(kT1), 0);
    EXPECT_EQ(token_remove("x"), 0);
    EXPECT_EQ(token_find(kT1), 0);
}

TEST_F(TokensTest, TheListIsCapped)
{
    for (int i = 0; i < TOKEN_LIST_MAX; ++i) {
        char t[37];
        ASSERT_EQ(token_add(t), 0);
    }
    char t[37];
    EXPECT_EQ(token_add(t), -1);
    EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
