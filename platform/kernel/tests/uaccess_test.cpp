#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Region {
    std::vector<unsigned char> mem;
    explicit Region(size_t n) : mem(n, 0xAA)
    {
        kstandin_user_begin(KSTANDIN_USER_BASE, mem.data(), mem.size());
    }
    ~Region() { kstandin_user_end(); }
};

const void __user *uptr(unsigned long off)
{
    return reinterpret_cast<const void *>(KSTANDIN_USER_BASE + off);
}

TEST(UserCopy, CopiesInsideTheBlockOnly)
{
    Region r(64);
    unsigned char buf[80];
    struct Case {
        unsigned long off;
        unsigned long n;
        unsigned long left;
    } cases[] = {
        {0, 64, 0},   // whole block
        {10, 54, 0},  // up to the end
        {0, 65, 1},   // one byte past the end
        {60, 8, 4},   // starts inside, ends outside
        {64, 1, 1},   // just behind the block
    };
    for (const Case &c : cases) {
        memset(buf, 0x55, sizeof buf);
        EXPECT_EQ(copy_from_user(buf, uptr(c.off), c.n), c.left) << c.off << "+" << c.n;
        // What could not be copied reads as zero, as in the kernel.
        for (unsigned long i = c.n - c.left; i < c.n; i++)
            EXPECT_EQ(buf[i], 0) << i;
    }
    EXPECT_EQ(copy_from_user(buf, nullptr, 1), 1ul);
    EXPECT_EQ(copy_to_user(const_cast<void *>(uptr(62)), buf, 4), 2ul);
}

TEST(UserCopy, NoBlockMeansEveryAddressFaults)
{
    kstandin_user_begin(0, nullptr, 0);
    unsigned char b[4];
    EXPECT_EQ(copy_from_user(b, uptr(0), 4), 4ul);
    EXPECT_EQ(strnlen_user(static_cast<const char *>(uptr(0)), 10), 0);
    kstandin_user_end();
}

TEST(UserCopy, StrnlenUserMeasuresInTheCallersMemory)
{
    Region r(16);
    memcpy(r.mem.data(), "abc\0", 4);
    auto s = [](unsigned long off) { return static_cast<const char *>(uptr(off)); };
    EXPECT_EQ(strnlen_user(s(0), 16), 4);   // with its zero byte
    EXPECT_EQ(strnlen_user(s(3), 16), 1);   // empty text
    EXPECT_EQ(strnlen_user(s(4), 12), 13);  // no zero byte within n: n + 1
    EXPECT_EQ(strnlen_user(s(4), 100), 0);  // runs off the block: a fault
    EXPECT_EQ(strnlen_user(s(16), 4), 0);   // outside
}

}  // namespace
