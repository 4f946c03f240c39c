// EBM request frames as the driver sends them, for the chip model's tests.
#pragma once

#include "chipsim/chip.hpp"

#include "vdsl_ebm.h"

#include <cstring>
#include <vector>

namespace chipsim {

inline std::vector<uint8_t> ebm_request(const Mac &dst, const Mac &src, uint8_t b0, uint16_t addr,
                                        uint32_t value)
{
    std::vector<uint8_t> f(EBM_FRAME_LEN, 0);
    std::memcpy(f.data(), dst.data(), 6);
    std::memcpy(f.data() + 6, src.data(), 6);
    f[12] = EBM_ETHERTYPE >> 8;
    f[13] = EBM_ETHERTYPE & 0xFF;
    f[15] = 0x07;
    uint8_t *r = f.data() + EBM_REQUEST_OFFSET;
    r[0] = b0;
    r[1] = static_cast<uint8_t>(addr >> 8);
    r[2] = static_cast<uint8_t>(addr);
    r[3] = static_cast<uint8_t>(value >> 16);
    r[4] = static_cast<uint8_t>(value >> 8);
    r[5] = static_cast<uint8_t>(value);
    uint16_t fcs = fcs16(r, 6);
    r[6] = static_cast<uint8_t>(fcs);
    r[7] = static_cast<uint8_t>(fcs >> 8);
    return f;
}

}  // namespace chipsim
