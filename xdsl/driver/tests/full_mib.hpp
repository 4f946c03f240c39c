// The driver with an image of the whole MIB and a chip whose firmware
// serves host commands, the far-end mailbox and counters at the entries
// that image names; the chip's timing runs on the fake clock.
#pragma once

#include "bindrv_gen.hpp"
#include "vdsl_fixture.hpp"

namespace vdsltest {

class FullMib : public Driver {
protected:
    void SetUp() override;
    uint32_t at(int g, int t, int item, int row = 1) const { return built.address(g, t, item, row); }
    std::string text(const Block &a) const { return reinterpret_cast<const char *>(a.data()) + 2; }
    long request(unsigned cmd, unsigned char port = 0);

    bindrv::Built built = bindrv::build(bindrv::full_mib());
};

}  // namespace vdsltest
