#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "test_util.h"

namespace {

TEST(Str, CaseAndPrintable)
{
    char text[] = "aB-1z";
    Str_Up(text);
    EXPECT_STREQ(text, "AB-1Z");
    Str_Low(text);
    EXPECT_STREQ(text, "ab-1z");
    Str_Up(nullptr);
    EXPECT_EQ(Str_ArrIsPrintable("a b~", 4), 1);
    EXPECT_EQ(Str_ArrIsPrintable("a\n", 2), 0);
    EXPECT_EQ(Str_ArrIsPrintable("\xc3\xa9", 2), 0);
    EXPECT_EQ(Str_ArrIsPrintable("a", 0), 0);
    EXPECT_EQ(Str_ArrIsPrintable(nullptr, 3), 0);
}

TEST(Str, FromArrNeedsRoomForEveryDigit)
{
    const uint8_t bytes[] = {0x00, 0xAB, 0x7f};
    char out[7];
    errno = 0;
    EXPECT_EQ(Str_FromArr(bytes, 3, out, 6), nullptr);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_STREQ(Str_FromArr(bytes, 3, out, 7), "00ab7f");
    errno = 0;
    EXPECT_EQ(Str_FromArr(bytes, 0, out, 7), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Str, StrnchrStopsAtLengthAndNul)
{
    EXPECT_EQ(Str_strnchr("a=b", 1, '='), nullptr);
    const char *t = "a=b";
    EXPECT_EQ(Str_strnchr(t, 2, '='), t + 1);
    EXPECT_EQ(Str_strnchr("a\0=", 3, '='), nullptr);
    EXPECT_EQ(Str_strnchr("", 5, 'x'), nullptr);
    EXPECT_EQ(Str_strnchr("x", 0, 'x'), nullptr);
}

TEST(Str, HexDigits)
{
    for (unsigned v = 0; v < 16; v++)
        EXPECT_EQ(Str_Char2Hex(Str_Hex2Char(v)), static_cast<int>(v));
    EXPECT_EQ(Str_Hex2Char(10), 'a');
    EXPECT_EQ(Str_Char2Hex('F'), 15);
    EXPECT_EQ(Str_Char2Hex('g'), -1);
}

TEST(Str, SizeAndSpeedTexts)
{
    struct Case {
        double v;
        bool speed;
        const char *text;
    } cases[] = {
        {1023, false, "1023 B"},
        {1024, false, "1.00 KiB"},
        {1536, false, "1.50 KiB"},
        {1048576, false, "1.00 MiB"},
        {std::ldexp(1.0, 30) * 3, false, "3.00 GiB"},
        {std::ldexp(1.0, 41), false, "2.00 TiB"},
        {512.4, true, "512 B/s"},
        {2048, true, "2.00 KiB/s"},
        {std::ldexp(1.0, 40), true, "1.00 TiB/s"},
    };
    for (const auto &c : cases) {
        char out[32];
        const char *r = c.speed ? Str_SpeedFormat(c.v, out, sizeof out)
                                : Str_SizeFormat(static_cast<uint64_t>(c.v), out, sizeof out);
        ASSERT_NE(r, nullptr);
        EXPECT_STREQ(out, c.text) << c.v;
    }
    EXPECT_EQ(Str_SizeFormat(1, nullptr, 4), nullptr);
    char one[1];
    EXPECT_EQ(Str_SpeedFormat(1, one, 0), nullptr);
}

TEST(Err, RecordNamesAndErrnoText)
{
    struct Err err;
    Err_Init(&err, "SecLayer_OnReceive");
    EXPECT_EQ(err.code, -1);
    EXPECT_STREQ(err.name, "SecLayer_OnReceive");
    EXPECT_STREQ(err.text, "");

    errno = 12;
    Err_Set(&err, 12, "Mem_calloc:");
    EXPECT_EQ(err.code, 12);
    EXPECT_EQ(std::string(err.text), std::string("Mem_calloc: ") + std::strerror(12));
    EXPECT_EQ(errno, 12) << "errno is kept for the caller";

    errno = 5;
    Err_Set(&err, 5, "Hkdf");
    EXPECT_STREQ(err.text, "Hkdf");
    std::string empty;
    Err_Set(&err, 7, empty.c_str());
    EXPECT_EQ(err.code, 5) << "an empty format changes nothing";

    std::string long_name(80, 'n');
    Err_Init(&err, long_name.c_str());
    EXPECT_EQ(std::strlen(err.name), 49u);
    std::string long_text(150, 't');
    Err_Set(&err, 1, "%s:", long_text.c_str());
    EXPECT_EQ(std::strlen(err.text), 99u);
    Err_Init(&err, nullptr);
    EXPECT_STREQ(err.name, "");
    Err_Init(nullptr, "x");
}

TEST(TimeMono, UnitsAgreeAndAdvance)
{
    uint64_t us = TimeMono_Us();
    uint64_t ms = TimeMono_Ms();
    uint32_t s = TimeMono_Sec();
    ASSERT_GT(us, 0u);
    EXPECT_GE(ms, us / 1000);
    EXPECT_LE(ms, us / 1000 + 1000);
    EXPECT_GE(s, us / 1000000);
    EXPECT_GE(TimeMono_Us(), us);
}

int g_allocs;
void *counting_malloc(size_t n)
{
    g_allocs++;
    return malloc(n);
}

TEST(Mem, TableIsReplaceable)
{
    Mem_Setup(calloc, counting_malloc, realloc, free, strdup, strndup);
    g_allocs = 0;
    void *p = Mem_malloc(8);
    EXPECT_EQ(g_allocs, 1);
    Mem_free(p);
    Mem_Setup(calloc, malloc, realloc, free, strdup, strndup);
    p = Mem_malloc(8);
    EXPECT_EQ(g_allocs, 1);
    Mem_free(p);
}

}  // namespace
