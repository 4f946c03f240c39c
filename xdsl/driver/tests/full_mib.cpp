#include "full_mib.hpp"

namespace vdsltest {

void FullMib::SetUp()
{
    Driver::SetUp();
    chip.set_clock([] { return static_cast<uint64_t>(kstandin_now_ns() / 1000000); });
    for (const std::string &line : bindrv::chip_setup(built))
        ASSERT_EQ(chip.control(line), "ok") << line;
    ASSERT_EQ(set_mgt(), 0);
    ASSERT_EQ(firmware_phase(3), 0);
    ASSERT_EQ(load_image(built.image), 0);
    sent.clear();
}

long FullMib::request(unsigned cmd, unsigned char port)
{
    Block b = block(VDSL_BLOCK_HEAD);
    b[0] = port;
    return ioctl(cmd, b);
}

}  // namespace vdsltest
