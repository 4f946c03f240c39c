#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "fw_test/matchers.h"
#include "sliding_window.h"
#include "test_util.h"
#include "zmo.h"

using fw_test::HasSubstr;
using fw_test::Not;

using namespace mirel_test;

namespace {
// While set, operator new fails on this thread, as it would out of memory.
thread_local bool t_new_fails = false;
}  // namespace

// The library's C++ allocations come here too; all forms in use go to malloc
// so that every delete matches its new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(size_t size)
{
    if (t_new_fails)
        throw std::bad_alloc();
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return t_new_fails ? nullptr : std::malloc(size ? size : 1);
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

struct WinFree {
    void operator()(struct SlidingWindow *w) const { SlidingWindow_Free(w); }
};
using Win = std::unique_ptr<struct SlidingWindow, WinFree>;

Bytes body(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = static_cast<uint8_t>(i * 31 + 7);
    return b;
}

TEST(SlidingWindow, WriteCutsIntoBlocks)
{
    struct Case {
        size_t length;
        std::vector<uint32_t> sizes;
    } cases[] = {
        {2500, {1024, 1024, 452}},
        {2048, {1024, 1024}},
        {1, {1}},
        {1025, {1024, 1}},
    };
    for (const auto &c : cases) {
        Win w(SlidingWindow(1, 1024, 70));
        Bytes b = body(c.length);
        ASSERT_EQ(SlidingWindow_Write(w.get(), b.data(), b.size()), 0);
        for (uint32_t k = 0; k < c.sizes.size(); k++) {
            uint32_t len = 0;
            uint8_t flags = 0xFF;
            const uint8_t *d = SlidingWindow_ReadBlock(w.get(), k, &len, 0, &flags);
            ASSERT_TRUE(d) << c.length << "/" << k;
            EXPECT_EQ(len, c.sizes[k]);
            EXPECT_EQ(std::memcmp(d, b.data() + k * 1024, len), 0);
            EXPECT_EQ(flags, k + 1 == c.sizes.size() ? SW_BLOCK_LAST : 0) << c.length << "/" << k;
        }
        errno = 0;
        EXPECT_EQ(
            SlidingWindow_ReadBlock(w.get(), static_cast<uint32_t>(c.sizes.size()), nullptr, 0, nullptr),
            nullptr);
        EXPECT_EQ(errno, ENOENT);
    }
}

TEST(SlidingWindow, WriteErrors)
{
    errno = 0;
    EXPECT_EQ(SlidingWindow(1, 1024, 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    Win rx(SlidingWindow(0, 0, 70));
    Bytes b = body(10);
    errno = 0;
    EXPECT_EQ(SlidingWindow_Write(rx.get(), b.data(), b.size()), -1);
    EXPECT_EQ(errno, EBADE);
    ASSERT_EQ(SlidingWindow_SetBlockSize(rx.get(), 16), 0);
    errno = 0;
    EXPECT_EQ(SlidingWindow_SetBlockSize(rx.get(), 32), -1);
    EXPECT_EQ(errno, EALREADY);
    ASSERT_EQ(SlidingWindow_Write(rx.get(), b.data(), b.size()), 0);
    errno = 0;
    EXPECT_EQ(SlidingWindow_Write(rx.get(), b.data(), b.size()), -1);
    EXPECT_EQ(errno, ENOTEMPTY);
    EXPECT_EQ(SlidingWindow_Write(rx.get(), b.data(), 0), -1);
    EXPECT_EQ(SlidingWindow_IsRx(rx.get()), 1);
    EXPECT_EQ(SlidingWindow_IsRx(nullptr), 0);
}

TEST(SlidingWindow, WriteBlockChecks)
{
    Win w(SlidingWindow(0, 1024, 70));
    uint8_t byte = 1;
    struct Case {
        const char *what;
        uint32_t number;
        size_t length;
        int check;
        int err;
    } cases[] = {
        {"outside the window", 70, 1, 1, ERANGE},
        {"unchecked far block", 500, 1, 0, 0},
        {"first", 5, 1, 1, 0},
        {"again", 5, 1, 1, EEXIST},
        {"too long", 6, 1025, 1, E2BIG},
        {"empty", 7, 0, 1, EINVAL},
    };
    Bytes big(1025, 2);
    for (const auto &c : cases) {
        errno = 0;
        const void *data = c.length > 1 ? static_cast<const void *>(big.data()) : &byte;
        int rc = SlidingWindow_WriteBlock(w.get(), c.number, data, c.length, c.check, nullptr);
        EXPECT_EQ(rc, c.err ? -1 : 0) << c.what;
        EXPECT_EQ(errno, c.err) << c.what;
    }
    Win unsized(SlidingWindow(0, 0, 70));
    errno = 0;
    EXPECT_EQ(SlidingWindow_WriteBlock(unsized.get(), 0, &byte, 1, 1, nullptr), -1);
    EXPECT_EQ(errno, EBADE);
    errno = 0;
    EXPECT_EQ(SlidingWindow_ReadBlock(w.get(), 500, nullptr, 1, nullptr), nullptr);
    EXPECT_EQ(errno, ERANGE);
}

uint8_t last_flag(bool last) { return last ? SW_BLOCK_LAST : 0; }

TEST(SlidingWindow, ReceivingOutOfOrder)
{
    Win w(SlidingWindow(0, 4, 70));
    const char *parts[] = {"abcd", "efgh", "ij"};
    for (uint32_t k : {1u, 2u}) {
        uint8_t f = last_flag(k == 2);
        ASSERT_EQ(SlidingWindow_WriteBlock(w.get(), k, parts[k], std::strlen(parts[k]), 1, &f), 0);
    }
    uint8_t complete = 9;
    ASSERT_EQ(SlidingWindow_Advance(w.get(), &complete), 0);
    EXPECT_EQ(complete, 0);
    EXPECT_EQ(SlidingWindow_GetOffset(w.get()), 0);
    errno = 0;
    EXPECT_EQ(SlidingWindow_Read(w.get(), nullptr), nullptr);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(SlidingWindow_GetSize(w.get()), 0u);

    ASSERT_EQ(SlidingWindow_WriteBlock(w.get(), 0, parts[0], 4, 1, nullptr), 0);
    ASSERT_EQ(SlidingWindow_Advance(w.get(), &complete), 0);
    EXPECT_EQ(complete, 1);
    EXPECT_EQ(SlidingWindow_GetOffset(w.get()), 3);
    EXPECT_EQ(SlidingWindow_GetSize(w.get()), 10u);
    uint32_t len = 0;
    Mem<char> all(static_cast<char *>(SlidingWindow_Read(w.get(), &len)));
    ASSERT_TRUE(all);
    EXPECT_EQ(std::string(all.get(), len), "abcdefghij");

    // An advance that passes nothing clears the complete flag again.
    ASSERT_EQ(SlidingWindow_Advance(w.get(), &complete), 0);
    EXPECT_EQ(complete, 0);
}

TEST(SlidingWindow, BlocksBeyondTheLastAreNotBody)
{
    Win w(SlidingWindow(0, 4, 70));
    uint8_t last = SW_BLOCK_LAST;
    SlidingWindow_WriteBlock(w.get(), 0, "abcd", 4, 1, nullptr);
    SlidingWindow_WriteBlock(w.get(), 1, "ef", 2, 1, &last);
    SlidingWindow_WriteBlock(w.get(), 2, "JUNK", 4, 1, nullptr);
    uint8_t complete = 0;
    SlidingWindow_Advance(w.get(), &complete);
    EXPECT_EQ(complete, 1);
    EXPECT_EQ(SlidingWindow_GetOffset(w.get()), 2);
    uint32_t len = 0;
    Mem<char> all(static_cast<char *>(SlidingWindow_Read(w.get(), &len)));
    ASSERT_TRUE(all);
    EXPECT_EQ(std::string(all.get(), len), "abcdef");
}

TEST(SlidingWindow, SendingWaitsForAcknowledgements)
{
    Win w(SlidingWindow(1, 4, 3));
    Bytes b = body(20);  // blocks 0 .. 4
    SlidingWindow_Write(w.get(), b.data(), b.size());
    SlidingWindow_SetBlockFlags(w.get(), 0, SW_BLOCK_SENT | SW_BLOCK_ACKED);
    SlidingWindow_SetBlockFlags(w.get(), 2, SW_BLOCK_SENT | SW_BLOCK_ACKED);
    SlidingWindow_Advance(w.get(), nullptr);
    EXPECT_EQ(SlidingWindow_GetOffset(w.get()), 1);

    // Sending the window: blocks 1 .. 3, and a block flagged sent is skipped
    // by a sender that honours the flag.
    std::vector<uint32_t> seen;
    auto visit = [](struct SlidingWindow *, uint32_t n, const uint8_t *, uint32_t, uint8_t *flags,
                    void *ctx) {
        auto *v = static_cast<std::vector<uint32_t> *>(ctx);
        if (!(*flags & SW_BLOCK_SENT)) {
            v->push_back(n);
            *flags |= SW_BLOCK_SENT;
        }
        return 1;
    };
    EXPECT_EQ(SlidingWindow_ReadBlockIter(w.get(), 1, visit, &seen), 1);
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 3}));
    uint8_t flags = 0;
    ASSERT_EQ(SlidingWindow_GetBlockFlags(w.get(), 3, &flags), 0);
    EXPECT_EQ(flags, SW_BLOCK_SENT);

    SlidingWindow_SetBlockFlags(w.get(), 1, SW_BLOCK_SENT | SW_BLOCK_ACKED);
    SlidingWindow_Advance(w.get(), nullptr);
    EXPECT_EQ(SlidingWindow_GetOffset(w.get()), 3);
    seen.clear();
    SlidingWindow_ReadBlockIter(w.get(), 1, visit, &seen);
    EXPECT_EQ(seen, (std::vector<uint32_t>{4})) << "only the newly admitted block";

    seen.clear();
    EXPECT_EQ(SlidingWindow_ReadBlockIter(
                  w.get(), 0,
                  [](struct SlidingWindow *, uint32_t n, const uint8_t *, uint32_t, uint8_t *, void *ctx) {
                      static_cast<std::vector<uint32_t> *>(ctx)->push_back(n);
                      return n == 2 ? 0 : 1;
                  },
                  &seen),
              0);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 1, 2}));

    errno = 0;
    EXPECT_EQ(SlidingWindow_SetBlockFlags(w.get(), 9, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(SlidingWindow_ReadBlockIter(w.get(), 1, nullptr, nullptr), -1);
    EXPECT_EQ(SlidingWindow_GetOffset(nullptr), -1);
}

struct PoolFree {
    void operator()(struct SlidingWindowPool *p) const { SlidingWindowPool_Free(p); }
};
using WPool = std::unique_ptr<struct SlidingWindowPool, PoolFree>;

int handler(struct Mirel *, struct CoAPMessage *) { return 0; }

TEST(WindowPool, TransfersByKey)
{
    WPool pool(SlidingWindowPool());
    const char *key = "192.0.2.1:5683_0102";
    struct SlidingWindow *w = SlidingWindow(1, 1024, 70);
    struct CoAPMessage *tmpl = CoAPMessage(0, 2, 1);
    ASSERT_EQ(SlidingWindowPool_Set(pool.get(), key, w, tmpl, handler), 0);
    struct SlidingWindow *other = SlidingWindow(1, 1024, 70);
    errno = 0;
    EXPECT_EQ(SlidingWindowPool_Set(pool.get(), key, other, nullptr, nullptr), -1);
    EXPECT_EQ(errno, EEXIST);
    SlidingWindow_Free(other);  // a refused window stays the caller's

    struct CoAPMessage *t = nullptr;
    CoAPMessage_Handler h = nullptr;
    EXPECT_EQ(SlidingWindowPool_Get(pool.get(), key, &t, &h), w);
    EXPECT_EQ(t, tmpl);
    EXPECT_EQ(h, handler);
    errno = 0;
    EXPECT_EQ(SlidingWindowPool_Get(pool.get(), "nope", nullptr, nullptr), nullptr);
    EXPECT_EQ(errno, ENOENT);

    errno = 0;
    EXPECT_EQ(SlidingWindowPool_GetCode(pool.get(), key), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(SlidingWindowPool_SetCode(pool.get(), key, 68), 0);
    EXPECT_EQ(SlidingWindowPool_GetCode(pool.get(), key), 68);
    errno = 0;
    EXPECT_EQ(SlidingWindowPool_SetCode(pool.get(), "nope", 68), 0);
    EXPECT_EQ(errno, ENOENT);

    EXPECT_EQ(SlidingWindowPool_Del(pool.get(), key), 0);
    errno = 0;
    EXPECT_EQ(SlidingWindowPool_Del(pool.get(), key), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(SlidingWindowPool_Set(pool.get(), nullptr, w, nullptr, nullptr), -1);

    // Keys are not cut: two long IPv6 keys that share a long prefix differ.
    std::string k1 = "2001:db8:1111:2222:3333:4444:5555:6666:5683_0a";
    std::string k2 = "2001:db8:1111:2222:3333:4444:5555:6666:5683_0b";
    ASSERT_EQ(SlidingWindowPool_Set(pool.get(), k1.c_str(), SlidingWindow(0, 0, 1), nullptr, nullptr), 0);
    EXPECT_EQ(SlidingWindowPool_Set(pool.get(), k2.c_str(), SlidingWindow(0, 0, 1), nullptr, nullptr), 0);
}

// Out of memory, lookups still answer and registering fails cleanly: no
// exception may leave the library.
TEST(WindowPool, LookupsNeedNoMemory)
{
    struct SlidingWindowPool *pool = SlidingWindowPool();
    ASSERT_NE(pool, nullptr);
    // As long as a real transfer key, so that a copy of it would not fit inline.
    const std::string key = "192.0.2.1:5683_0102030405060708";
    ASSERT_EQ(SlidingWindowPool_Set(pool, key.c_str(), SlidingWindow(0, 16, 4), nullptr, nullptr), 0);

    t_new_fails = true;
    struct SlidingWindow *got = SlidingWindowPool_Get(pool, key.c_str(), nullptr, nullptr);
    int set_code = SlidingWindowPool_SetCode(pool, key.c_str(), 68);
    int code = SlidingWindowPool_GetCode(pool, key.c_str());
    errno = 0;
    struct SlidingWindow *extra = SlidingWindow(0, 16, 4);
    int extra_errno = errno;
    int del = SlidingWindowPool_Del(pool, key.c_str());
    t_new_fails = false;

    EXPECT_NE(got, nullptr);
    EXPECT_EQ(set_code, 0);
    EXPECT_EQ(code, 68);
    EXPECT_EQ(extra, nullptr);
    EXPECT_EQ(extra_errno, ENOMEM);
    EXPECT_EQ(del, 0);
    EXPECT_EQ(SlidingWindowPool_Get(pool, key.c_str(), nullptr, nullptr), nullptr);

    // Registering without memory fails with ENOMEM and leaves the window to us.
    struct SlidingWindow *w = SlidingWindow(0, 16, 4);
    t_new_fails = true;
    errno = 0;
    int rc = SlidingWindowPool_Set(pool, key.c_str(), w, nullptr, nullptr);
    int set_errno = errno;
    t_new_fails = false;
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(set_errno, ENOMEM);
    SlidingWindow_Free(w);
    SlidingWindowPool_Free(pool);
}

TEST(WindowPool, OneRegistrationWinsARace)
{
    WPool pool(SlidingWindowPool());
    std::atomic<int> wins{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; i++) {
                std::string key = "k" + std::to_string(i);
                struct SlidingWindow *w = SlidingWindow(0, 16, 4);
                if (SlidingWindowPool_Set(pool.get(), key.c_str(), w, nullptr, nullptr) == 0)
                    wins++;
                else
                    SlidingWindow_Free(w);
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(wins, 200);
}

TEST(WindowPool, DeleteLogsTheTransfer)
{
    auto log = std::make_unique<LogCapture>();
    WPool pool(SlidingWindowPool());
    // A sent body of 2500 bytes whose three blocks are all acknowledged.
    auto register_finished = [&] {
        struct SlidingWindow *w = SlidingWindow(1, 1024, 70);
        Bytes b = body(2500);
        SlidingWindow_Write(w, b.data(), b.size());
        for (uint32_t k = 0; k < 3; k++)
            SlidingWindow_SetBlockFlags(w, k,
                                        static_cast<uint8_t>(SW_BLOCK_ACKED | (k == 2 ? SW_BLOCK_LAST : 0)));
        SlidingWindow_Advance(w, nullptr);
        ASSERT_EQ(SlidingWindowPool_Set(pool.get(), "peer_01", w, nullptr, nullptr), 0);
    };
    register_finished();
    zmo_log_set_debug(0);
    SlidingWindowPool_Del(pool.get(), "peer_01");
    EXPECT_TRUE(log->lines().empty());

    register_finished();
    zmo_log_set_debug(1);
    SlidingWindowPool_Del(pool.get(), "peer_01");
    std::vector<std::string> lines = log->lines();
    log.reset();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("ARQ tx transfer peer_01 2.44 KiB at ", 0), 0u) << lines[0];
    EXPECT_THAT(lines[0], Not(HasSubstr("inf"))) << lines[0];
}

}  // namespace

namespace {

// Once a block is flagged last, no block past it is stored, and no block
// below one already held may claim to be last.
TEST(SlidingWindow, NothingIsStoredPastTheLastBlock)
{
    Win w(SlidingWindow(0, 4, 1000));
    const uint8_t last = SW_BLOCK_LAST;
    ASSERT_EQ(SlidingWindow_WriteBlock(w.get(), 3, "abcd", 4, 1, nullptr), 0);
    errno = 0;
    EXPECT_EQ(SlidingWindow_WriteBlock(w.get(), 2, "ab", 2, 1, &last), -1);
    EXPECT_EQ(errno, ERANGE);
    ASSERT_EQ(SlidingWindow_WriteBlock(w.get(), 5, "ab", 2, 1, &last), 0);
    for (uint32_t n : {6u, 100u, 999u}) {
        errno = 0;
        EXPECT_EQ(SlidingWindow_WriteBlock(w.get(), n, "abcd", 4, 1, nullptr), -1) << n;
        EXPECT_EQ(errno, ERANGE);
    }
    EXPECT_EQ(SlidingWindow_WriteBlock(w.get(), 7, "ab", 2, 1, &last), -1) << "a second last";
    EXPECT_EQ(SlidingWindow_WriteBlock(w.get(), 4, "abcd", 4, 1, nullptr), 0) << "below is fine";
}

// Transfers nobody touched for the idle time go, senders and receivers
// alike; a Get keeps one alive.
TEST(WindowPool, IdleTransfersExpire)
{
    WPool pool(SlidingWindowPool());
    static uint64_t now = 1000;
    SlidingWindowPool_SetClock(
        pool.get(), [](void *) { return now; }, nullptr);
    ASSERT_EQ(SlidingWindowPool_Set(pool.get(), "rx", SlidingWindow(0, 0, 70), nullptr, nullptr), 0);
    ASSERT_EQ(SlidingWindowPool_Set(pool.get(), "tx", SlidingWindow(1, 1024, 70), nullptr, nullptr), 0);
    EXPECT_EQ(SlidingWindowPool_Count(pool.get(), -1), 2);
    EXPECT_EQ(SlidingWindowPool_Count(pool.get(), 1), 1);
    EXPECT_EQ(SlidingWindowPool_Count(pool.get(), 0), 1);
    now += 30000;
    EXPECT_NE(SlidingWindowPool_Get(pool.get(), "rx", nullptr, nullptr), nullptr);
    now += 30000;
    EXPECT_EQ(SlidingWindowPool_Expire(pool.get(), 60000), 1);
    EXPECT_EQ(SlidingWindowPool_Get(pool.get(), "tx", nullptr, nullptr), nullptr);
    EXPECT_NE(SlidingWindowPool_Get(pool.get(), "rx", nullptr, nullptr), nullptr);
    now += 60000;
    EXPECT_EQ(SlidingWindowPool_Expire(pool.get(), 60000), 1);
    EXPECT_EQ(SlidingWindowPool_Count(pool.get(), -1), 0);
    EXPECT_EQ(SlidingWindowPool_Expire(nullptr, 1), -1);
}

}  // namespace
