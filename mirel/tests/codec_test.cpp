#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "test_util.h"

using namespace mirel_test;

namespace {

Msg decode(const Bytes &b) { return Msg(CoAPMessage_FromBytes(b.data(), b.size())); }

TEST(Codec, WorkedExamples)
{
    Msg get(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 0x1234));
    const uint8_t tok = 0xAB;
    CoAPMessage_SetToken(get.get(), &tok, 1);
    CoAPMessage_AddOptionString(get.get(), COAP_OPTION_URI_PATH, "info");
    EXPECT_EQ(encode(get.get()), hex("41 01 12 34 AB B4 69 6E 66 6F"));

    CoAPMessage_AddOptionUint(get.get(), COAP_OPTION_URI_SCHEME, 1);
    EXPECT_EQ(encode(get.get()), hex("41 01 12 34 AB B4 69 6E 66 6F E1 07 27 01"));

    Msg non(CoAPMessage(COAP_TYPE_NON, 69, 0x0001));
    CoAPMessage_SetPayload(non.get(), "hi", 2);
    EXPECT_EQ(encode(non.get()), hex("50 45 00 01 FF 68 69"));
}

TEST(Codec, BareHeaderRoundTrips)
{
    Msg m(CoAPMessage(COAP_TYPE_RST, 0, 0xBEEF));
    Bytes b = encode(m.get());
    ASSERT_EQ(b.size(), 4u);
    Msg back = decode(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(CoAPMessage_GetType(back.get()), COAP_TYPE_RST);
    EXPECT_EQ(CoAPMessage_GetCode(back.get()), 0);
    EXPECT_EQ(CoAPMessage_GetId(back.get()), 0xBEEF);
    struct sockaddr_storage ss;
    EXPECT_EQ(CoAPMessage_GetSockAddr(back.get(), &ss), -1) << "the receiver sets the peer";
}

TEST(Codec, EncodingSortsStablyAndKeepsTheOrder)
{
    Msg m(CoAPMessage(0, 1, 1));
    CoAPMessage_AddOptionString(m.get(), 11, "b");
    CoAPMessage_AddOptionString(m.get(), 3, "host");
    CoAPMessage_AddOptionString(m.get(), 11, "c");
    CoAPMessage_AddOptionString(m.get(), 1, "x");
    CoAPMessage_AddOptionString(m.get(), 11, "d");
    Bytes b = encode(m.get());
    EXPECT_EQ(b, hex("40 01 00 01 11 78 24 686f7374 81 62 01 63 01 64"));
    EXPECT_EQ(option_numbers(m.get()), (std::vector<uint32_t>{1, 3, 11, 11, 11}));
    // The list stays consistent: appending after the sort lands at the end.
    CoAPMessage_AddOptionString(m.get(), 2, "z");
    EXPECT_EQ(option_numbers(m.get()), (std::vector<uint32_t>{1, 3, 11, 11, 11, 2}));
    encode(m.get());
    EXPECT_EQ(option_numbers(m.get()), (std::vector<uint32_t>{1, 2, 3, 11, 11, 11}));
}

// A pooled block message is encoded again on every retransmission by the
// sender thread while the receiver thread reads its Block option (matching an
// acknowledgement). Encoding a sorted list must not write to it;
// ThreadSanitizer reports the race if it does.
TEST(Codec, EncodingASortedMessageOnlyReadsIt)
{
    struct Case {
        const char *name;
        bool added_out_of_order;
    };
    for (const Case &c : {Case{"in order", false}, Case{"sorted by a first encoding", true}}) {
        SCOPED_TRACE(c.name);
        Msg m(CoAPMessage(COAP_TYPE_CON, 69, 7));
        const struct CoAPMessage_Block block = {5, 2, 1};
        if (c.added_out_of_order)
            CoAPMessage_AddOptionBlock(m.get(), COAP_OPTION_BLOCK2, &block);
        CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "big");
        CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_CONTENT_FORMAT, 0);
        if (!c.added_out_of_order)
            CoAPMessage_AddOptionBlock(m.get(), COAP_OPTION_BLOCK2, &block);
        CoAPMessage_SetPayload(m.get(), "0123456789abcdef", 16);
        const Bytes first = encode(m.get());
        ASSERT_FALSE(first.empty());
        std::atomic<bool> stop{false};
        std::atomic<int> bad_reads{0};
        std::thread reader([&] {
            while (!stop.load()) {
                struct CoAPMessage_Block got {};
                if (CoAPMessage_GetOptionBlock(m.get(), COAP_OPTION_BLOCK2, &got) != 0 || got.num != 5 ||
                    !got.more)
                    bad_reads++;
            }
        });
        int changed = 0;
        for (int i = 0; i < 1000; i++)
            if (encode(m.get()) != first)
                changed++;
        stop = true;
        reader.join();
        EXPECT_EQ(changed, 0);
        EXPECT_EQ(bad_reads.load(), 0);
        EXPECT_EQ(option_numbers(m.get()),
                  (std::vector<uint32_t>{COAP_OPTION_URI_PATH, COAP_OPTION_CONTENT_FORMAT, COAP_OPTION_BLOCK2}));
    }
}

TEST(Codec, LongListsSortStably)
{
    Msg m(CoAPMessage(0, 1, 1));
    // 37 options in a scrambled order, each value recording its insertion rank.
    std::vector<std::pair<uint32_t, uint8_t>> added;
    for (uint8_t i = 0; i < 37; i++) {
        uint32_t number = (i * 7u) % 5u == 0 ? 11 : 100 + (i * 13u) % 17u;
        CoAPMessage_AddOptionOpaque(m.get(), number, &i, 1);
        if (number == 11 ||
            std::none_of(added.begin(), added.end(), [&](auto &p) { return p.first == number; }))
            added.push_back({number, i});
        else
            for (auto &p : added)
                if (p.first == number)
                    p.second = i;
    }
    std::stable_sort(added.begin(), added.end(), [](auto &a, auto &b) { return a.first < b.first; });
    encode(m.get());
    std::vector<std::pair<uint32_t, uint8_t>> got;
    CoAPMessage_IterOptions(
        m.get(),
        [](uint32_t n, const uint8_t *v, uint32_t, int, void *c) {
            static_cast<std::vector<std::pair<uint32_t, uint8_t>> *>(c)->push_back({n, v[0]});
            return 1;
        },
        &got);
    EXPECT_EQ(got, added);
}

TEST(Codec, NibbleBoundaries)
{
    struct Case {
        uint32_t number;
        size_t length;
        Bytes head;  // header byte and extensions
    } cases[] = {
        {12, 12, {0xCC}},
        {13, 13, {0xDD, 0x00, 0x00}},
        {268, 268, {0xDD, 0xFF, 0xFF}},
        {269, 269, {0xEE, 0x00, 0x00, 0x00, 0x00}},
        {269 + 65535, 269 + 65535, {0xEE, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto &c : cases) {
        Msg m(CoAPMessage(0, 1, 1));
        Bytes value(c.length, 0x5A);
        ASSERT_EQ(CoAPMessage_AddOptionOpaque(m.get(), c.number, value.data(), value.size()), 0);
        Bytes b = encode(m.get());
        ASSERT_EQ(b.size(), 4 + c.head.size() + c.length) << c.number;
        EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 4 + c.head.size()), c.head) << c.number;
        Msg back = decode(b);
        ASSERT_TRUE(back) << c.number;
        uint32_t len = 0;
        const uint8_t *v = CoAPMessage_GetOptionOpaque(back.get(), c.number, &len);
        ASSERT_TRUE(v);
        EXPECT_EQ(Bytes(v, v + len), value);
    }
}

TEST(Codec, RefusesWhatCannotBeEncoded)
{
    Msg m(CoAPMessage(0, 1, 1));
    Bytes value(269 + 65536, 1);
    CoAPMessage_AddOptionOpaque(m.get(), 1, value.data(), value.size());
    uint32_t len = 123;
    errno = 0;
    EXPECT_EQ(CoAPMessage_ToBytes(m.get(), &len), nullptr);
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_EQ(len, 123u);

    Msg far(CoAPMessage(0, 1, 1));
    CoAPMessage_AddOptionEmpty(far.get(), 269 + 65536);
    errno = 0;
    EXPECT_EQ(CoAPMessage_ToBytes(far.get(), nullptr), nullptr);
    EXPECT_EQ(errno, EBADMSG);
    errno = 0;
    EXPECT_EQ(CoAPMessage_ToBytes(nullptr, nullptr), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Codec, RefusesMalformedDatagrams)
{
    struct Case {
        const char *what;
        const char *bytes;
    } cases[] = {
        {"too short", "40 01 00"},
        {"version 0", "00 01 00 01"},
        {"version 2", "80 01 00 01"},
        {"token length 9", "49 01 00 01 01 02 03 04 05 06 07 08"},
        {"token cut short", "48 01 00 01 01 02 03 04 05 06 07"},
        {"marker without payload", "40 01 00 01 FF"},
        {"length nibble 15", "40 01 00 01 1F"},
        {"delta nibble 15", "40 01 00 01 F1 00"},
        {"delta extension missing", "40 01 00 01 D0"},
        {"two-byte delta extension cut", "40 01 00 01 E0 01"},
        {"length extension missing", "40 01 00 01 0D"},
        {"length extension behind delta missing", "40 01 00 01 DD 01"},
        {"value longer than datagram", "40 01 00 01 B4 69 6E 66"},
        {"second option value cut", "40 01 00 01 B1 61 03 62 63"},
    };
    for (const auto &c : cases) {
        Bytes b = hex(c.bytes);
        errno = 0;
        Msg m = decode(b);
        EXPECT_FALSE(m) << c.what;
        EXPECT_EQ(errno, EBADMSG) << c.what;
    }
    errno = 0;
    EXPECT_EQ(CoAPMessage_FromBytes(nullptr, 4), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(CoAPMessage_FromBytes("x", 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Codec, DecodesWhatTheRulesAllow)
{
    // Two Content-Format options: the second wins.
    Msg cf = decode(hex("40 01 00 01 C1 28 01 32"));
    ASSERT_TRUE(cf);
    uint32_t v = 0;
    ASSERT_EQ(CoAPMessage_GetOptionUint(cf.get(), 12, &v), 0);
    EXPECT_EQ(v, 0x32u);
    EXPECT_EQ(option_numbers(cf.get()).size(), 1u);

    // Repeated Uri-Path keeps both; an empty message may carry token and options.
    Msg empty = decode(hex("41 00 00 07 AA B1 61 01 62"));
    ASSERT_TRUE(empty);
    EXPECT_EQ(option_numbers(empty.get()), (std::vector<uint32_t>{11, 11}));

    // Option numbers may pass 65535.
    Msg far = decode(hex("40 01 00 01 E0 FF FF E0 FF FF"));
    ASSERT_TRUE(far);
    EXPECT_EQ(option_numbers(far.get()), (std::vector<uint32_t>{65804, 131608}));

    // A payload keeps every byte after the marker, 0xFF included.
    Msg pl = decode(hex("60 44 00 02 FF FF 00"));
    ASSERT_TRUE(pl);
    uint32_t len = 0;
    auto *p = static_cast<uint8_t *>(CoAPMessage_GetPayload(pl.get(), &len, 0));
    ASSERT_EQ(len, 2u);
    EXPECT_EQ(p[0], 0xFF);
    EXPECT_EQ(CoAPMessage_GetType(pl.get()), COAP_TYPE_ACK);
}

TEST(Codec, RoundTripOfAFullMessage)
{
    Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_POST, 0x0102));
    const uint8_t tok[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CoAPMessage_SetToken(m.get(), tok, 8);
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "zmo");
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "login");
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_QUERY, "a=1");
    CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_SR_WINDOW_SIZE, 70);
    CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_HANDSHAKE_TYPE, 1);
    Bytes body(3000, 0x33);
    CoAPMessage_SetPayload(m.get(), body.data(), body.size());
    Bytes b = encode(m.get());
    Msg back = decode(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(encode(back.get()), b);
}

}  // namespace
