// Hash table growth, migration, shrinking and the hash functions.
#include "hash_table.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <map>

namespace {

using Table = dnsr::HashTable<uint32_t, int, dnsr::U32KeyTraits>;

TEST(HashTable, GrowsWhileKeepingEveryEntryFindable)
{
    Table t(32);
    ASSERT_TRUE(t.ok());
    for (uint32_t k = 0; k < 5000; k++) {
        ASSERT_TRUE(t.insert(k * 7919, int(k)));
        // Mid-migration entries live in both arrays; all must stay findable.
        if (k % 97 != 0)
            continue;
        for (uint32_t j = 0; j <= k; j += 13)
            ASSERT_NE(nullptr, t.find(j * 7919)) << j;
    }
    EXPECT_EQ(5000u, t.size());
    for (uint32_t k = 0; k < 5000; k++)
        ASSERT_EQ(int(k), *t.find(k * 7919));
    EXPECT_EQ(nullptr, t.find(1));
    EXPECT_GT(t.buckets(), 32u);
}

TEST(HashTable, InsertReplacesAndApplyReportsMatches)
{
    Table t(16);
    EXPECT_TRUE(t.insert(5, 1));
    EXPECT_TRUE(t.insert(5, 2));
    EXPECT_EQ(1u, t.size());
    EXPECT_EQ(2, *t.find(5));
    int seen = 0;
    EXPECT_TRUE(t.apply(5, false, [&](int &v, bool is_new) {
        EXPECT_FALSE(is_new);
        seen = v;
    }));
    EXPECT_EQ(2, seen);
    EXPECT_FALSE(t.apply(6, false, [](int &, bool) { FAIL(); }));
    EXPECT_TRUE(t.apply(6, true, [](int &v, bool is_new) {
        EXPECT_TRUE(is_new);
        v = 60;
    }));
    EXPECT_EQ(60, *t.find(6));
}

TEST(HashTable, GrownTo64AndEmptiedShrinksBackTo32)
{
    Table t(32);
    uint32_t k = 0;
    while (t.buckets() < 64 || t.migrating())
        t.insert(k++, 0);
    EXPECT_EQ(64u, t.buckets());
    t.filter([](uint32_t, int &) { return false; });
    EXPECT_EQ(0u, t.size());
    t.shrink();
    EXPECT_EQ(32u, t.buckets());
    // Still usable after shrinking.
    t.insert(3, 3);
    EXPECT_EQ(3, *t.find(3));
}

TEST(HashTable, ShrinkKeepsRoomForWhatIsLeft)
{
    Table t(16);
    for (uint32_t k = 0; k < 1000; k++)
        t.insert(k, int(k));
    t.filter([](uint32_t key, int &) { return key < 100; });
    t.shrink();
    EXPECT_EQ(100u, t.size());
    EXPECT_GE(t.buckets() * 2, 100u);
    EXPECT_LE(t.buckets(), 256u);
    for (uint32_t k = 0; k < 100; k++)
        ASSERT_EQ(int(k), *t.find(k));
}

struct Counting {
    size_t live = 0;
    int fail_after = -1;
};
void *counting_alloc(void *owner, size_t n)
{
    auto *c = static_cast<Counting *>(owner);
    if (c->fail_after == 0)
        return nullptr;
    if (c->fail_after > 0)
        c->fail_after--;
    c->live++;
    return malloc(n);
}
void counting_free(void *owner, void *p)
{
    static_cast<Counting *>(owner)->live--;
    free(p);
}

TEST(HashTable, UsesItsAllocatorAndSurvivesItsRefusal)
{
    Counting c;
    {
        Table t(4, dnsr::Allocator{counting_alloc, counting_free, &c});
        for (uint32_t k = 0; k < 100; k++)
            t.insert(k, 1);
        c.fail_after = 0;
        EXPECT_FALSE(t.insert(1000, 1));
        EXPECT_EQ(100u, t.size());
        EXPECT_EQ(nullptr, t.find(1000));
        c.fail_after = -1;
    }
    EXPECT_EQ(0u, c.live);
}

sockaddr_storage addr(const char *text, uint16_t port)
{
    sockaddr_storage sa{};
    if (strchr(text, ':')) {
        auto &s6 = reinterpret_cast<sockaddr_in6 &>(sa);
        s6.sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &s6.sin6_addr);
        s6.sin6_port = htons(port);
    } else {
        auto &s4 = reinterpret_cast<sockaddr_in &>(sa);
        s4.sin_family = AF_INET;
        inet_pton(AF_INET, text, &s4.sin_addr);
        s4.sin_port = htons(port);
    }
    return sa;
}

TEST(HashFunctions, AddressKeysIgnoreThePort)
{
    EXPECT_TRUE(dnsr::sockaddr_same_address(addr("192.0.2.1", 53), addr("192.0.2.1", 5353)));
    EXPECT_FALSE(dnsr::sockaddr_same_address(addr("192.0.2.1", 53), addr("192.0.2.2", 53)));
    EXPECT_TRUE(dnsr::sockaddr_same_address(addr("2001:db8::1", 53), addr("2001:db8::1", 1)));
    EXPECT_FALSE(dnsr::sockaddr_same_address(addr("::ffff:192.0.2.1", 53), addr("192.0.2.1", 53)));
    EXPECT_EQ(dnsr::sockaddr_hash(addr("2001:db8::1", 53)), dnsr::sockaddr_hash(addr("2001:db8::1", 99)));
    auto v4 = addr("192.0.2.1", 53);
    EXPECT_EQ(reinterpret_cast<sockaddr_in &>(v4).sin_addr.s_addr, dnsr::sockaddr_hash(v4));

    dnsr::HashTable<sockaddr_storage, int, dnsr::AddressKeyTraits> t(32);
    t.insert(addr("2001:db8::1", 53), 1);
    t.insert(addr("192.0.2.1", 53), 2);
    EXPECT_EQ(1, *t.find(addr("2001:db8::1", 0)));
    EXPECT_EQ(2, *t.find(addr("192.0.2.1", 0)));
}

TEST(HashFunctions, Fletcher32)
{
    // Worked by hand: sums start at 0xffff and fold after each block.
    uint16_t one[] = {1};
    EXPECT_EQ((0x0001u << 16) | 0x0001u, dnsr::fletcher32(one, 1));
    uint16_t two[] = {1, 2};
    EXPECT_EQ((0x0004u << 16) | 0x0003u, dnsr::fletcher32(two, 2));
    // Long inputs cross the 359-word blocks; the same words in another
    // order give another sum.
    std::vector<uint16_t> a(1000), b(1000);
    for (int i = 0; i < 1000; i++)
        a[i] = b[999 - i] = uint16_t(i * 31);
    EXPECT_NE(dnsr::fletcher32(a.data(), a.size()), dnsr::fletcher32(b.data(), b.size()));
}

}  // namespace
