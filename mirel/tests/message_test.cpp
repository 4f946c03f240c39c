#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "test_util.h"

using namespace mirel_test;

namespace {

int dummy_handler(struct Mirel *, struct CoAPMessage *) { return 0; }

TEST(Message, ConsecutiveIdsWrapAtSixteenBits)
{
    Msg a(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, -1));
    Msg b(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, -1));
    EXPECT_EQ(static_cast<uint16_t>(CoAPMessage_GetId(a.get()) + 1), CoAPMessage_GetId(b.get()));
    // Walk the counter up to 65535: the draw after it is 0.
    while (CoAPMessage_GenId() != 65534) {
    }
    EXPECT_EQ(CoAPMessage_GenId(), 65535);
    EXPECT_EQ(CoAPMessage_GenId(), 0);

    Msg c(CoAPMessage(COAP_TYPE_NON, COAP_CODE_GET, 65536 + 7));
    EXPECT_EQ(CoAPMessage_GetId(c.get()), 7) << "explicit ids are taken modulo 65536";
    CoAPMessage_Init();
    EXPECT_LT(CoAPMessage_GenId(), 65535);
}

// A restarted endpoint must not reuse the ids of its last run, nor tokens
// follow from each other: eight starts or tokens alike by chance are
// beyond belief.
TEST(Message, IdsAndTokensAreUnpredictable)
{
    std::set<int> starts;
    std::set<std::vector<uint8_t>> tokens;
    for (int i = 0; i < 8; i++) {
        CoAPMessage_Init();
        starts.insert(CoAPMessage_GenId());
        std::vector<uint8_t> t(8);
        ASSERT_EQ(CoAPMessage_GenToken(t.data(), t.size()), 0);
        tokens.insert(t);
    }
    EXPECT_GT(starts.size(), 1u);
    EXPECT_EQ(tokens.size(), 8u);
}

TEST(Message, HeaderAccessorsRefuseNull)
{
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetType(nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(CoAPMessage_GetCode(nullptr), -1);
    EXPECT_EQ(CoAPMessage_GetId(nullptr), -1);
    EXPECT_EQ(CoAPMessage_SetCode(nullptr, 1), -1);

    Msg m(CoAPMessage(0, 0, 0));
    CoAPMessage_SetType(m.get(), COAP_TYPE_RST);
    CoAPMessage_SetCode(m.get(), 0x1FF);
    CoAPMessage_SetId(m.get(), 0x12345);
    EXPECT_EQ(CoAPMessage_GetType(m.get()), COAP_TYPE_RST);
    EXPECT_EQ(CoAPMessage_GetCode(m.get()), 0xFF);
    EXPECT_EQ(CoAPMessage_GetId(m.get()), 0x2345);
}

TEST(Message, TokenRules)
{
    Msg m(CoAPMessage(0, 1, 1));
    uint8_t buf[8];
    size_t len = sizeof buf;
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetToken(m.get(), buf, &len), -1);
    EXPECT_EQ(errno, ENODATA);

    const uint8_t nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(CoAPMessage_SetToken(m.get(), nine, 9), -1);
    EXPECT_EQ(CoAPMessage_SetToken(m.get(), nine, 0), -1);
    EXPECT_EQ(CoAPMessage_SetToken(m.get(), nullptr, 2), -1);
    ASSERT_EQ(CoAPMessage_SetToken(m.get(), nine, 3), 0);

    len = 4;
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetToken(m.get(), buf, &len), -1) << "buffer below 8 bytes";
    EXPECT_EQ(errno, EINVAL);
    len = sizeof buf;
    ASSERT_EQ(CoAPMessage_GetToken(m.get(), buf, &len), 0);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(std::memcmp(buf, nine, 3), 0);

    Msg other(CoAPMessage(0, 1, 2));
    ASSERT_EQ(CoAPMessage_CopyToken(other.get(), m.get()), 0);
    len = sizeof buf;
    ASSERT_EQ(CoAPMessage_GetToken(other.get(), buf, &len), 0);
    EXPECT_EQ(len, 3u);

    ASSERT_EQ(CoAPMessage_SetToken(m.get(), nullptr, 0), 0);
    ASSERT_EQ(CoAPMessage_CopyToken(other.get(), m.get()), 0);
    len = sizeof buf;
    EXPECT_EQ(CoAPMessage_GetToken(other.get(), buf, &len), -1) << "copying no token clears";

    uint8_t gen[8];
    for (int round = 0; round < 200; round++) {
        ASSERT_EQ(CoAPMessage_GenToken(gen, sizeof gen), 0);
        for (uint8_t b : gen)
            ASSERT_NE(b, 255);
    }
    EXPECT_EQ(CoAPMessage_GenToken(gen, 9), -1);
    EXPECT_EQ(CoAPMessage_GenToken(gen, 0), -1);
}

TEST(Message, PayloadCopiesAndRules)
{
    Msg m(CoAPMessage(0, 1, 1));
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetPayload(m.get(), nullptr, 0), nullptr);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(CoAPMessage_SetPayload(m.get(), "x", 0), -1);
    EXPECT_EQ(CoAPMessage_SetPayload(m.get(), nullptr, 1), -1);
    ASSERT_EQ(CoAPMessage_SetPayload(m.get(), "ab", 2), 0);

    uint32_t len = 0;
    Mem<char> copy(static_cast<char *>(CoAPMessage_GetPayload(m.get(), &len, 3)));
    ASSERT_TRUE(copy);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(std::memcmp(copy.get(), "ab\0", 3), 0);
    auto *own = static_cast<char *>(CoAPMessage_GetPayload(m.get(), &len, 0));
    EXPECT_NE(own, copy.get());
    EXPECT_EQ(std::memcmp(own, "ab", 2), 0);

    ASSERT_EQ(CoAPMessage_SetPayload(m.get(), nullptr, 0), 0);
    EXPECT_EQ(CoAPMessage_GetPayload(m.get(), &len, 1), nullptr);
}

TEST(Message, AddressAndMulticast)
{
    Msg m(CoAPMessage(0, 1, 1));
    struct sockaddr_storage out;
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetSockAddr(m.get(), &out), -1);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(CoAPMessage_IsMulticast(m.get()), 0);

    struct sockaddr_storage bad {};
    bad.ss_family = AF_UNIX;
    errno = 0;
    EXPECT_EQ(CoAPMessage_SetSockAddr(m.get(), &bad), -1);
    EXPECT_EQ(errno, EINVAL);

    struct Case {
        const char *ip;
        int multicast;
    } cases[] = {{"224.0.0.187", 1},
                 {"239.255.255.255", 1},
                 {"223.255.255.255", 0},
                 {"240.0.0.1", 0},
                 {"192.0.2.1", 0}};
    for (const auto &c : cases) {
        struct sockaddr_storage a = v4(c.ip, 5683);
        ASSERT_EQ(CoAPMessage_SetSockAddr(m.get(), &a), 0);
        EXPECT_EQ(CoAPMessage_IsMulticast(m.get()), c.multicast) << c.ip;
    }
    struct sockaddr_storage six {};
    auto *sin6 = reinterpret_cast<struct sockaddr_in6 *>(&six);
    sin6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, "ff02::1", &sin6->sin6_addr);
    ASSERT_EQ(CoAPMessage_SetSockAddr(m.get(), &six), 0);
    EXPECT_EQ(CoAPMessage_IsMulticast(m.get()), 0);
    ASSERT_EQ(CoAPMessage_GetSockAddr(m.get(), &out), 0);
    EXPECT_EQ(std::memcmp(&out, &six, sizeof out), 0);

    Msg other(CoAPMessage(0, 1, 2));
    CoAPMessage_CopySockAddr(other.get(), m.get());
    ASSERT_EQ(CoAPMessage_GetSockAddr(other.get(), &out), 0);
    EXPECT_EQ(out.ss_family, AF_INET6);
}

TEST(Message, HandlerIsNotCloned)
{
    Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_POST, 0x55));
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetHandler(m.get()), nullptr);
    EXPECT_EQ(errno, ENODATA);
    CoAPMessage_SetHandler(m.get(), dummy_handler);
    EXPECT_EQ(CoAPMessage_GetHandler(m.get()), dummy_handler);
    const uint8_t tok[] = {9, 8};
    CoAPMessage_SetToken(m.get(), tok, 2);
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "a");
    CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_CONTENT_FORMAT, 40);
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "b");
    CoAPMessage_SetPayload(m.get(), "body", 4);
    struct sockaddr_storage a = v4("192.0.2.7", 1234);
    CoAPMessage_SetSockAddr(m.get(), &a);

    Msg with(CoAPMessage_Clone(m.get(), 1));
    Msg without(CoAPMessage_Clone(m.get(), 0));
    ASSERT_TRUE(with && without);
    EXPECT_EQ(CoAPMessage_GetHandler(with.get()), nullptr);
    EXPECT_EQ(option_numbers(with.get()), option_numbers(m.get()));
    EXPECT_EQ(encode(with.get()), encode(m.get()));
    EXPECT_EQ(CoAPMessage_GetPayload(without.get(), nullptr, 0), nullptr);
    EXPECT_EQ(CoAPMessage_GetId(without.get()), 0x55);
    struct sockaddr_storage out;
    ASSERT_EQ(CoAPMessage_GetSockAddr(without.get(), &out), 0);
    EXPECT_EQ(std::memcmp(&out, &a, sizeof a), 0);
    EXPECT_EQ(CoAPMessage_Clone(nullptr, 1), nullptr);
}

// Run under ThreadSanitizer by hand as well: many threads share one message
// and draw ids at once; the count must end at exactly one.
TEST(Message, ReferenceCountAndIdsAreThreadSafe)
{
    struct CoAPMessage *m = CoAPMessage(0, 1, 1);
    ASSERT_TRUE(m);
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    std::vector<std::vector<uint16_t>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([m, &ids, t] {
            for (int i = 0; i < kRounds; i++) {
                CoAPMessage_Incref(m);
                // Some other holder (a pool entry) would drop it later.
                struct CoAPMessage *clone = CoAPMessage_Clone(m, 0);
                CoAPMessage_Decref(clone);
                CoAPMessage_Decref(m);
                if (i < 1000)
                    ids[t].push_back(CoAPMessage_GenId());
            }
        });
    }
    for (auto &th : threads)
        th.join();
    // 8 x 1000 draws never hand out the same id twice.
    std::vector<int> seen(65536, 0);
    for (const auto &v : ids)
        for (uint16_t id : v)
            EXPECT_EQ(seen[id]++, 0) << id;
    // More than 255 references at once are fine too.
    for (int i = 0; i < 1000; i++)
        CoAPMessage_Incref(m);
    for (int i = 0; i < 1000; i++)
        CoAPMessage_Decref(m);
    EXPECT_EQ(CoAPMessage_GetId(m), 1);
    CoAPMessage_Decref(m);  // the last reference frees it (ASan would see a leak otherwise)
}

}  // namespace
