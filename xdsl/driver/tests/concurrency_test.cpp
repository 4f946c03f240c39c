// Several callers at once: each gets its own answer; the locks hold.
#include "vdsl_fixture.hpp"

#include <thread>

namespace vdsltest {
namespace {

using Concurrency = Driver;

TEST_F(Concurrency, CallersAtOnceGetTheirOwnAnswers)
{
    kstandin_clock_use_real();  // real waits: the callers really overlap
    bring_up();
    for (uint32_t a = 0; a < 64; a++)
        chip.poke(0, 0x3000 + a, 0x100000 + a);
    std::vector<std::thread> callers;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; t++) {
        callers.emplace_back([this, t, &wrong] {
            for (uint32_t k = 0; k < 40; k++) {
                uint32_t a = (k * 4 + static_cast<uint32_t>(t)) % 64, v = 0;
                unsigned cmd = (k % 3 == 0) ? VDSL_GET_MEM_SK : (k % 3 == 1) ? VDSL_GET_MEM : VDSL_EBM_ACCESS;
                Block b = block(VDSL_BLOCK_HEAD);
                b[2] = static_cast<unsigned char>((0x3000 + a) >> 8);
                b[3] = static_cast<unsigned char>(0x3000 + a);
                kstandin_user_begin(KSTANDIN_USER_BASE, b.data(), b.size());
                long rc = kstandin_chrdev_ioctl(VDSL_MAJOR, cmd, KSTANDIN_USER_BASE);
                kstandin_user_end();
                v = static_cast<uint32_t>(b[0] << 16 | b[1] << 8 | b[2]);
                if (rc != 0 || v != 0x100000 + a)
                    wrong[t]++;
            }
        });
    }
    for (auto &c : callers)
        c.join();
    EXPECT_EQ(wrong, (std::vector<int>{0, 0, 0, 0}));
}

}  // namespace
}  // namespace vdsltest
