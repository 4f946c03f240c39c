#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "test_util.h"

using namespace mirel_test;

namespace {

Bytes option_value(struct CoAPMessage *m, uint32_t number)
{
    uint32_t len = 0;
    const uint8_t *v = CoAPMessage_GetOptionOpaque(m, number, &len);
    return v ? Bytes(v, v + len) : Bytes();
}

TEST(Options, SingleValuedReplacesRepeatableAppends)
{
    Msg m(CoAPMessage(0, 1, 1));
    CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_CONTENT_FORMAT, 40);
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "a");
    CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_CONTENT_FORMAT, 50);
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "b");
    EXPECT_EQ(
        option_numbers(m.get()),
        (std::vector<uint32_t>{COAP_OPTION_URI_PATH, COAP_OPTION_CONTENT_FORMAT, COAP_OPTION_URI_PATH}));
    uint32_t v = 0;
    ASSERT_EQ(CoAPMessage_GetOptionUint(m.get(), COAP_OPTION_CONTENT_FORMAT, &v), 0);
    EXPECT_EQ(v, 50u);

    struct CoAPMessage_OptionList list {};
    ASSERT_EQ(CoAPMessage_GetOptions(m.get(), COAP_OPTION_URI_PATH, &list), 0);
    ASSERT_TRUE(list.first && list.first->next);
    EXPECT_EQ(list.first->value[0], 'a');
    EXPECT_EQ(list.first->next->value[0], 'b');
    EXPECT_EQ(list.first->next->next, nullptr);
    CoAPMessage_GetOptionsFree(&list);
    EXPECT_EQ(list.first, nullptr);
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetOptions(m.get(), COAP_OPTION_ETAG, &list), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Options, UintUsesShortestBigEndianForm)
{
    struct Case {
        uint32_t value;
        Bytes bytes;
    } cases[] = {
        {0, {}},
        {255, {0xFF}},
        {256, {0x01, 0x00}},
        {65536, {0x01, 0x00, 0x00}},
        {16777216, {0x01, 0x00, 0x00, 0x00}},
        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto &c : cases) {
        Msg m(CoAPMessage(0, 1, 1));
        ASSERT_EQ(CoAPMessage_AddOptionUint(m.get(), 14, c.value), 0);
        EXPECT_EQ(option_value(m.get(), 14), c.bytes) << c.value;
        uint32_t back = 1;
        ASSERT_EQ(CoAPMessage_GetOptionUint(m.get(), 14, &back), 0);
        EXPECT_EQ(back, c.value);
    }
}

TEST(Options, ReadErrors)
{
    Msg m(CoAPMessage(0, 1, 1));
    uint32_t v;
    uint32_t len = 99;
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetOptionUint(m.get(), 12, &v), -1);
    EXPECT_EQ(errno, ENOENT);
    CoAPMessage_AddOptionOpaque(m.get(), 12, "12345", 5);
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetOptionUint(m.get(), 12, &v), -1);
    EXPECT_EQ(errno, EBADMSG);
    CoAPMessage_AddOptionEmpty(m.get(), 5);
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetOptionOpaque(m.get(), 5, &len), nullptr);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(len, 0u);
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetOptionOpaque(m.get(), 6, &len), nullptr);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(CoAPMessage_AddOptionOpaque(m.get(), 9, nullptr, 3), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(CoAPMessage_AddOptionString(m.get(), 9, nullptr), -1);
    errno = 0;
    EXPECT_EQ(CoAPMessage_RemoveOptions(m.get(), 9), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Options, StringCopyEndsAtZeroByte)
{
    Msg m(CoAPMessage(0, 1, 1));
    CoAPMessage_AddOptionOpaque(m.get(), 35, "ab\0cd", 5);
    uint32_t len = 0;
    Mem<char> s(CoAPMessage_GetOptionString(m.get(), 35, &len));
    EXPECT_STREQ(s.get(), "ab");
    EXPECT_EQ(len, 5u);
    CoAPMessage_AddOptionString(m.get(), 39, "");
    Mem<char> empty(CoAPMessage_GetOptionString(m.get(), 39, &len));
    ASSERT_TRUE(empty);
    EXPECT_STREQ(empty.get(), "");
}

TEST(Options, BlockValues)
{
    Msg m(CoAPMessage(0, 1, 1));
    struct CoAPMessage_Block blk = {5, 6, 1};
    ASSERT_EQ(CoAPMessage_AddOptionBlock(m.get(), COAP_OPTION_BLOCK1, &blk), 0);
    EXPECT_EQ(option_value(m.get(), COAP_OPTION_BLOCK1), Bytes{0x5E});
    struct CoAPMessage_Block big = {0xFFFFF, 7, 0};
    ASSERT_EQ(CoAPMessage_AddOptionBlock(m.get(), COAP_OPTION_BLOCK1, &big), 0);
    EXPECT_EQ(option_numbers(m.get()).size(), 1u) << "the block option is replaced";
    struct CoAPMessage_Block back {};
    ASSERT_EQ(CoAPMessage_GetOptionBlock(m.get(), COAP_OPTION_BLOCK1, &back), 0);
    EXPECT_EQ(back.num, 0xFFFFFu);
    EXPECT_EQ(back.szx, 7u);
    EXPECT_EQ(back.more, 0);
    struct CoAPMessage_Block bad = {1, 8, 0};
    EXPECT_EQ(CoAPMessage_AddOptionBlock(m.get(), COAP_OPTION_BLOCK2, &bad), -1);
    CoAPMessage_AddOptionEmpty(m.get(), COAP_OPTION_BLOCK2);
    ASSERT_EQ(CoAPMessage_GetOptionBlock(m.get(), COAP_OPTION_BLOCK2, &back), 0);
    EXPECT_EQ(back.num, 0u);
}

TEST(Options, SecureFlag)
{
    Msg m(CoAPMessage(0, 1, 1));
    int flag = 7;
    ASSERT_EQ(CoAPMessage_GetSecure(m.get(), &flag), 0);
    EXPECT_EQ(flag, 0);
    CoAPMessage_SetSecure(m.get(), 1);
    CoAPMessage_SetSecure(m.get(), 1);
    ASSERT_EQ(CoAPMessage_GetSecure(m.get(), &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(option_numbers(m.get()), std::vector<uint32_t>{COAP_OPTION_URI_SCHEME});
    CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_URI_SCHEME, 0);
    ASSERT_EQ(CoAPMessage_GetSecure(m.get(), &flag), 0);
    EXPECT_EQ(flag, 0) << "a value of 0 is not the secure mark";
    CoAPMessage_SetSecure(m.get(), 0);
    EXPECT_TRUE(option_numbers(m.get()).empty());
}

TEST(Options, CopyAndIterate)
{
    Msg src(CoAPMessage(0, 1, 1));
    Msg dst(CoAPMessage(0, 1, 2));
    CoAPMessage_AddOptionEmpty(src.get(), COAP_OPTION_IF_NONE_MATCH);
    CoAPMessage_AddOptionUint(src.get(), COAP_OPTION_SR_WINDOW_SIZE, 70);
    EXPECT_EQ(CoAPMessage_CopyOption(dst.get(), src.get(), COAP_OPTION_IF_NONE_MATCH), 0);
    EXPECT_EQ(CoAPMessage_CopyOption(dst.get(), src.get(), COAP_OPTION_SR_WINDOW_SIZE), 0);
    errno = 0;
    EXPECT_EQ(CoAPMessage_CopyOption(dst.get(), src.get(), COAP_OPTION_BLOCK1), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(encode(dst.get()).size(), encode(src.get()).size());

    int calls = 0;
    Msg empty(CoAPMessage(0, 1, 3));
    auto count = [](uint32_t, const uint8_t *, uint32_t, int, void *c) {
        ++*static_cast<int *>(c);
        return 1;
    };
    EXPECT_EQ(CoAPMessage_IterOptions(empty.get(), count, &calls), 1);
    EXPECT_EQ(calls, 0);

    std::vector<int> lasts;
    EXPECT_EQ(CoAPMessage_IterOptions(
                  src.get(),
                  [](uint32_t, const uint8_t *, uint32_t, int last, void *c) {
                      static_cast<std::vector<int> *>(c)->push_back(last);
                      return 1;
                  },
                  &lasts),
              1);
    EXPECT_EQ(lasts, (std::vector<int>{0, 1}));
    EXPECT_EQ(CoAPMessage_IterOptions(
                  src.get(), [](uint32_t, const uint8_t *, uint32_t, int, void *) { return -3; }, nullptr),
              -3);
}

TEST(Options, DetachedOptions)
{
    struct CoAPMessage_Option *o = CoAPMessage_Option(11, "abc", 3);
    ASSERT_TRUE(o);
    struct CoAPMessage_Option *d = CoAPMessage_OptionDup(o);
    ASSERT_TRUE(d);
    EXPECT_NE(d->value, o->value);
    EXPECT_EQ(std::memcmp(d->value, "abc", 3), 0);
    CoAPMessage_OptionFree(o);
    CoAPMessage_OptionFree(d);
    struct CoAPMessage_Option *e = CoAPMessage_Option(5, nullptr, 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->value, nullptr);
    CoAPMessage_OptionFree(e);
    EXPECT_EQ(CoAPMessage_Option(5, nullptr, 1), nullptr);
}

}  // namespace
