#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <string>

#include "zmo.h"

namespace {
struct Case {
    const char *text;
    bool ok;
    long long value;  // expected when ok
    int err;          // expected errno when not
};

TEST(IntParse, UlongIsStrict)
{
    const std::string max = std::to_string(ULONG_MAX);
    const std::string over = max.substr(0, max.size() - 1) + char(max.back() + 1);
    const Case cases[] = {
        {"0", true, 0, 0},           {"42", true, 42, 0},       {"007", true, 7, 0},
        {"", false, 0, EINVAL},      {" 1", false, 0, EINVAL},  {"1 ", false, 0, EINVAL},
        {"12abc", false, 0, EINVAL}, {"-1", false, 0, EINVAL},  {"+1", false, 0, EINVAL},
        {"0x10", false, 0, EINVAL},  {"1.5", false, 0, EINVAL}, {"99999999999999999999999", false, 0, ERANGE},
    };
    for (const Case &c : cases) {
        unsigned long v = 12345;
        errno = 0;
        EXPECT_EQ(zmo_int_parse_ulong(c.text, &v) != 0, c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, static_cast<unsigned long>(c.value)) << c.text;
        } else {
            EXPECT_EQ(v, 12345u) << "value untouched on failure: " << c.text;
            EXPECT_EQ(errno, c.err) << c.text;
        }
    }
    unsigned long v = 0;
    EXPECT_TRUE(zmo_int_parse_ulong(max.c_str(), &v));
    EXPECT_EQ(v, ULONG_MAX);
    EXPECT_FALSE(zmo_int_parse_ulong(over.c_str(), &v));
    EXPECT_EQ(errno, ERANGE);
    EXPECT_FALSE(zmo_int_parse_ulong(nullptr, &v));
}

TEST(IntParse, IntRange)
{
    const Case cases[] = {
        {"0", true, 0, 0},
        {"-5", true, -5, 0},
        {"2147483647", true, INT_MAX, 0},
        {"-2147483648", true, INT_MIN, 0},
        {"2147483648", false, 0, ERANGE},
        {"-2147483649", false, 0, ERANGE},
        {"-", false, 0, EINVAL},
        {"--1", false, 0, EINVAL},
        {"3x", false, 0, EINVAL},
    };
    for (const Case &c : cases) {
        int v = 77;
        errno = 0;
        EXPECT_EQ(zmo_int_parse_int(c.text, &v) != 0, c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(v, c.value) << c.text;
        else {
            EXPECT_EQ(v, 77) << c.text;
            EXPECT_EQ(errno, c.err) << c.text;
        }
    }
}

TEST(IntParse, UshortRange)
{
    const Case cases[] = {
        {"65535", true, 65535, 0},
        {"65536", false, 0, ERANGE},
        {"80", true, 80, 0},
        {"-0", false, 0, EINVAL},
    };
    for (const Case &c : cases) {
        unsigned short v = 9;
        errno = 0;
        EXPECT_EQ(zmo_int_parse_ushort(c.text, &v) != 0, c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(v, c.value);
        else
            EXPECT_EQ(errno, c.err) << c.text;
    }
}
}  // namespace
