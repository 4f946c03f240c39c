#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "zmo.h"

namespace {
struct Conv {
    zmo_conv_t *c;
    Conv(const char *to, const char *from) : c(zmo_conv_open(to, from)) {}
    ~Conv() { zmo_conv_close(c); }
};

TEST(Conv, Utf8ToUtf16LeAndBack)
{
    // "Grüße €𝄞": one, two, three and four-byte sequences (the last a surrogate pair).
    const std::string utf8 = "Gr\xc3\xbc\xc3\x9f"
                             "e \xe2\x82\xac\xf0\x9d\x84\x9e";
    const std::string utf16("G\0r\0\xfc\0\xdf\0"
                            "e\0 \0\xac\x20\x34\xd8\x1e\xdd",
                            18);
    Conv to16("UTF-16LE", "UTF-8"), to8("UTF-8", "UTF-16LE");
    ASSERT_NE(to16.c, nullptr);
    ASSERT_NE(to8.c, nullptr);
    char out[64];
    size_t len = 0;
    ASSERT_TRUE(zmo_conv(to16.c, utf8.data(), utf8.size(), out, sizeof out, &len));
    EXPECT_EQ(std::string(out, len), utf16);
    ASSERT_TRUE(zmo_conv(to8.c, utf16.data(), utf16.size(), out, sizeof out, &len));
    EXPECT_EQ(std::string(out, len), utf8);
}

TEST(Conv, RefusesBadInputAndSmallOutput)
{
    Conv to16("UTF-16LE", "UTF-8"), to8("UTF-8", "UTF-16LE");
    char out[64];
    size_t len = 0;
    errno = 0;
    EXPECT_FALSE(zmo_conv(to16.c, "a\xff", 2, out, sizeof out, &len));
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_FALSE(zmo_conv(to16.c, "\xe2\x82", 2, out, sizeof out, &len));  // cut sequence
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(zmo_conv(to16.c, "abcd", 4, out, 7, &len));
    EXPECT_EQ(errno, E2BIG);
    const char lone[] = {'\x00', '\xd8', 'a', '\0'};  // unpaired high surrogate
    EXPECT_FALSE(zmo_conv(to8.c, lone, sizeof lone, out, sizeof out, &len));
    // The converter is still good after a failure.
    ASSERT_TRUE(zmo_conv(to16.c, "ok", 2, out, sizeof out, &len));
    EXPECT_EQ(len, 4u);
}

TEST(Conv, UnknownCharset)
{
    errno = 0;
    EXPECT_EQ(zmo_conv_open("NO-SUCH-CHARSET", "UTF-8"), nullptr);
    EXPECT_NE(errno, 0);
}
}  // namespace
