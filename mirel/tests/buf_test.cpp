#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "test_util.h"

using namespace mirel_test;

namespace {

struct BufDeleter {
    void operator()(struct Buf *b) const { Buf_Free(b); }
};
using BufPtr = std::unique_ptr<struct Buf, BufDeleter>;

std::string contents(struct Buf *b)
{
    uint32_t len = 0;
    auto *data = static_cast<char *>(Buf_GetData(b, &len, 0));
    return data ? std::string(data, len) : std::string();
}

TEST(Buf, AppendsAndKeepsExactLength)
{
    BufPtr b(Buf());
    ASSERT_TRUE(b);
    EXPECT_EQ(Buf_AddStr(b.get(), "ab"), 0);
    EXPECT_EQ(Buf_AddCh(b.get(), 0), 0);
    EXPECT_EQ(Buf_AddFormatStr(b.get(), "%d-%s", 42, "x"), 0);
    EXPECT_EQ(Buf_Add(b.get(), "yz", 2), 0);
    EXPECT_EQ(b->len, 9u);
    EXPECT_EQ(contents(b.get()), std::string("ab\0"
                                             "42-xyz",
                                             9));

    uint32_t len = 0;
    Mem<char> copy(static_cast<char *>(Buf_GetData(b.get(), &len, 1)));
    ASSERT_TRUE(copy);
    EXPECT_NE(static_cast<void *>(copy.get()), static_cast<void *>(b->data));
    EXPECT_EQ(std::string(copy.get(), len), contents(b.get()));
}

TEST(Buf, RefusesEmptyAppendsAndLeavesContent)
{
    BufPtr b(Buf());
    ASSERT_EQ(Buf_AddStr(b.get(), "keep"), 0);
    struct Case {
        const char *what;
        int rc;
    } cases[] = {
        {"empty text", Buf_AddStr(b.get(), "")},
        {"zero size", Buf_Add(b.get(), "x", 0)},
        {"null bytes", Buf_Add(b.get(), nullptr, 3)},
        {"null text", Buf_AddStr(b.get(), nullptr)},
        {"empty format result", Buf_AddFormatStr(b.get(), "%s", "")},
        {"null buffer", Buf_AddCh(nullptr, 1)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.rc, -1) << c.what;
    errno = 0;
    Buf_AddStr(b.get(), "");
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(contents(b.get()), "keep");
}

TEST(Buf, EmptyBufferHasNoData)
{
    BufPtr b(Buf());
    errno = 0;
    EXPECT_EQ(Buf_GetData(b.get(), nullptr, 0), nullptr);
    EXPECT_EQ(errno, ENODATA);
    Buf_AddStr(b.get(), "abc");
    Buf_Clear(b.get());
    errno = 0;
    EXPECT_EQ(Buf_GetData(b.get(), nullptr, 1), nullptr);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(b->data, nullptr);
}

TEST(Buf, PrintShowsEveryByte)
{
    BufPtr b(Buf());
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    EXPECT_EQ(Buf_Print(b.get(), f), 0);
    Buf_AddStr(b.get(), "A");
    EXPECT_EQ(Buf_Print(b.get(), f), 0);
    fclose(f);
    EXPECT_STREQ(text, "buf is empty\n0x0:\t0x41 A\n");
    free(text);
    EXPECT_EQ(Buf_Print(nullptr, stdout), -1);
}

TEST(HexString, TextAndBytesRoundTrip)
{
    struct HexString *hs = HexString();
    ASSERT_TRUE(hs);
    ASSERT_EQ(HexString_Set(hs, "0aFf"), 0);
    uint32_t len = 0;
    Mem<uint8_t> bin(static_cast<uint8_t *>(HexString_GetBin(hs, &len)));
    ASSERT_TRUE(bin);
    ASSERT_EQ(len, 2u);
    EXPECT_EQ(bin.get()[0], 0x0A);
    EXPECT_EQ(bin.get()[1], 0xFF);
    Mem<char> text(HexString_Get(hs));
    EXPECT_STREQ(text.get(), "0aff");

    const uint8_t raw[] = {1, 0xab};
    ASSERT_EQ(HexString_SetBin(hs, raw, sizeof raw), 0);
    text.reset(HexString_Get(hs));
    EXPECT_STREQ(text.get(), "01ab");
    HexString_Free(hs);
}

TEST(HexString, RefusesBadText)
{
    struct HexString *hs = HexString();
    ASSERT_EQ(HexString_Set(hs, "beef"), 0);
    for (const char *bad : {"abc", "0g", "zz", "0x12"}) {
        errno = 0;
        EXPECT_EQ(HexString_Set(hs, bad), -1) << bad;
        EXPECT_EQ(errno, EBADE) << bad;
    }
    Mem<char> text(HexString_Get(hs));
    EXPECT_STREQ(text.get(), "beef") << "a refused text keeps the old bytes";
    errno = 0;
    EXPECT_EQ(HexString_SetBin(hs, "x", 0), -1);
    EXPECT_EQ(errno, EINVAL);
    HexString_Free(hs);

    struct HexString *empty = HexString();
    errno = 0;
    EXPECT_EQ(HexString_Get(empty), nullptr);
    EXPECT_EQ(errno, ENODATA);
    HexString_Free(empty);
}

}  // namespace
