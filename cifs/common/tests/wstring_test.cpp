// UTF-16 and 8-bit text: the stack's upper-case tables, odd addresses,
// bounded copies and the one-to-one conversions.
#include "cmstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<CMWchar> w(const char *s)
{
    std::vector<CMWchar> v(std::strlen(s) + 1);
    cmAnsiToUnicode(v.data(), s);
    return v;
}

CMWchar upper(CMWchar c)
{
    CMWchar out = 0;
    EXPECT_EQ(cmWToupper(&out, c), 1);
    return out;
}

TEST(WString, UpperCaseTable)
{
    struct {
        CMWchar in, out;
    } cases[] = {
        {'a', 'A'},       {'z', 'Z'},       {'A', 'A'},       {'0', '0'},       {0x00e9, 0x00c9},
        {0x00f7, 0x00f7}, {0x00ff, 0x0178}, {0x0101, 0x0100}, {0x0100, 0x0100}, {0x0102, 0x0102},
        {0x0103, 0x0102}, {0x0131, 0x0131}, {0x01dd, 0x018e}, {0x0253, 0x0181}, {0x03c2, 0x03a3},
        {0x0430, 0x0410}, {0x0451, 0x0401}, {0x045d, 0x045d}, {0x1f00, 0x1f08}, {0x1f51, 0x1f59},
        {0x1f52, 0x1f52}, {0x1f70, 0x1fba}, {0x1fe5, 0x1fec}, {0x2170, 0x2160}, {0x24d0, 0x24b6},
        {0xff41, 0xff21}, {0xff5a, 0xff3a}, {0xff5b, 0xff5b}, {0x4e2d, 0x4e2d}, {0x1e01, 0x1e00},
        {0x1ef9, 0x1ef8}, {0x1efa, 0x1efa}, {0xffff, 0xffff},
    };
    for (auto &c : cases)
        EXPECT_EQ(upper(c.in), c.out) << std::hex << c.in;
}

TEST(WString, CaseInsensitiveCompare)
{
    const CMWchar a[] = {'f', 0x00e9, 0}, b[] = {'F', 0x00c9, 0}, c[] = {'F', 0x00ca, 0};
    EXPECT_EQ(cmWStricmp(a, b), 0);
    EXPECT_NE(cmWStrcmp(a, b), 0);
    EXPECT_LT(cmWStricmp(a, c), 0);
    EXPECT_EQ(cmWStrincmp(a, c, 1), 0);
    EXPECT_EQ(cmWStrncmp(a, c, 0), 0);
    // Unsigned units: 0xff00 sorts after 'a'.
    const CMWchar hi[] = {0xff00, 0}, lo[] = {'a', 0};
    EXPECT_GT(cmWStrcmp(hi, lo), 0);
}

TEST(WString, StruprLeavesDigitsAndCjk)
{
    CMWchar s[] = {'a', '1', 0x4e2d, 0xff41, 0x00ff, 0};
    cmWStrupr(s);
    const CMWchar expect[] = {'A', '1', 0x4e2d, 0xff21, 0x0178, 0};
    EXPECT_EQ(std::memcmp(s, expect, sizeof s), 0);
}

TEST(WString, OddAddressesStartAtTheNextEvenOne)
{
    alignas(4) uint8_t buf[16] = {0xAA, 0xBB, 'a', 0, 'b', 0, 0, 0};  // pad byte, then "ab"
    auto *odd = reinterpret_cast<CMWchar *>(buf + 1);
    EXPECT_EQ(cmWStrlen(odd), 2u);
    alignas(4) uint8_t out[16] = {};
    cmWStrcpy(reinterpret_cast<CMWchar *>(out + 1), odd);
    EXPECT_EQ(out[2], 'a');
    EXPECT_EQ(out[4], 'b');
}

TEST(WString, CopiesSearchesAndConcatenation)
{
    auto ab = w("ab"), abc = w("abcab");
    CMWchar dst[16] = {};
    EXPECT_EQ(cmWStrncpy(dst, abc.data(), 0), 0u);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(cmWStrncpy(dst, abc.data(), 3), 3u);
    EXPECT_EQ(dst[3], 0) << "no terminator, nothing past n";
    EXPECT_EQ(cmWStrncpy(dst, ab.data(), 10), 3u);

    cmWStrcpy(dst, ab.data());
    CMWchar *end = cmWStrcat(dst, ab.data());
    EXPECT_EQ(end, dst + 5);
    EXPECT_EQ(cmWStrlen(dst), 4u);

    EXPECT_EQ(cmWStrchr(abc.data(), 'b'), abc.data() + 1);
    EXPECT_EQ(cmWStrrchr(abc.data(), 'b'), abc.data() + 4);
    EXPECT_EQ(cmWStrchr(abc.data(), 0), abc.data() + 5);
    EXPECT_EQ(cmWStrrchr(abc.data(), 0), nullptr);
    EXPECT_EQ(cmWStrchr(abc.data(), 'z'), nullptr);
    auto empty = w("");
    EXPECT_EQ(cmWStrrchr(empty.data(), 'a'), nullptr);
    EXPECT_EQ(cmWDump(ab.data()), ab.data());
}

TEST(WString, Conversions)
{
    CMWchar wide[8];
    cmAnsiToUnicode(wide, "\xe9x");
    EXPECT_EQ(wide[0], 0x00e9);
    EXPECT_EQ(wide[2], 0);
    cmAnsiToUnicodeN(wide, "abcdef", 2);
    EXPECT_EQ(cmWStrlen(wide), 2u);

    const CMWchar smile[] = {0x263a, 'b', 0};
    char narrow[8];
    cmUnicodeToAnsi(narrow, smile);
    EXPECT_EQ((uint8_t)narrow[0], 0x3a);
    EXPECT_EQ(narrow[2], 0);

    auto five = w("abcde");
    std::memset(narrow, 'X', sizeof narrow);
    cmUnicodeToAnsiN(narrow, five.data(), 6);
    EXPECT_STREQ(narrow, "abc");
    cmUnicodeToAnsiN(narrow, five.data(), 1);
    EXPECT_STREQ(narrow, "");
}

TEST(WString, ToStrForms)
{
    auto ab = w("ab");
    uint8_t buf[16] = {};
    auto *end = static_cast<uint8_t *>(cmUnicodeToStr(buf, ab.data(), 0));
    EXPECT_EQ(end, buf + 3);
    EXPECT_STREQ(reinterpret_cast<char *>(buf), "ab");
    end = static_cast<uint8_t *>(cmWcharToStr(buf, ab.data(), 1));
    EXPECT_EQ(end, buf + 6);
    end = static_cast<uint8_t *>(cmAnsiToStr(buf, "xyz", 0));
    EXPECT_EQ(end, buf + 4);
    end = static_cast<uint8_t *>(cmAnsiToStr(buf, "xyz", 1));
    EXPECT_EQ(end, buf + 8);
    EXPECT_EQ(buf[2], 'y');
}

TEST(AString, CaseHelpers)
{
    char s[] = "abC1";
    cmAStrupr(s);
    EXPECT_STREQ(s, "ABC1");
    EXPECT_EQ(cmAStricmp("share", "SHARE"), 0);
    EXPECT_LT(cmAStricmp("a", "b"), 0);
    // Signed 8-bit difference: a byte above 127 counts as negative.
    EXPECT_LT(cmAStricmp("\xe9", "a"), 0);
    EXPECT_EQ(cmAStrincmp("abX", "ABy", 2), 0);
    EXPECT_EQ(cmAStrchr("abcb", 'b') - "abcb" >= 0, true);
    const char *t = "abcb";
    EXPECT_EQ(cmAStrrchr(t, 'b'), t + 3);
    char c;
    EXPECT_EQ(cmAToupper(&c, 'q'), 1);
    EXPECT_EQ(c, 'Q');
}

}  // namespace
