// Running firmware: one EBM request reads or writes one chip word.
#include "chipsim/chip.hpp"

#include "vdsl_ebm.h"

#include <cstring>

namespace chipsim {

uint16_t fcs16(const uint8_t *data, size_t len)
{
    uint16_t fcs = 0xFFFF;
    for (size_t i = 0; i < len; i++) {
        fcs ^= data[i];
        for (int b = 0; b < 8; b++)
            fcs = (fcs & 1) ? static_cast<uint16_t>((fcs >> 1) ^ 0x8408) : static_cast<uint16_t>(fcs >> 1);
    }
    return static_cast<uint16_t>(~fcs);
}

// A reply to the sender of req, from the chip, of the management ethertype.
std::vector<uint8_t> Chip::reply_frame(const uint8_t *req) const
{
    std::vector<uint8_t> r(60, 0);
    std::memcpy(r.data(), req + 6, 6);
    std::memcpy(r.data() + 6, cfg_.mgmt_mac.data(), 6);
    r[12] = EBM_ETHERTYPE >> 8;
    r[13] = EBM_ETHERTYPE & 0xFF;
    return r;
}

std::vector<Output> Chip::ebm(const uint8_t *f, size_t len)
{
    const uint8_t bcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    if (len < EBM_FRAME_LEN || f[14] != 0x00 || f[15] != 0x07 ||
        (std::memcmp(f, cfg_.mgmt_mac.data(), 6) != 0 && std::memcmp(f, bcast, 6) != 0)) {
        stats_.ignored++;
        return {};
    }
    const uint8_t *req = f + EBM_REQUEST_OFFSET;
    uint16_t fcs = static_cast<uint16_t>(req[6] | req[7] << 8);
    if (fcs16(req, 6) != fcs) {
        stats_.bad_fcs++;
        return {};
    }
    stats_.ebm_requests++;
    advance();
    unsigned mem = (req[0] >> EBM_REQ_MEM_SHIFT) & 3;
    uint32_t addr = static_cast<uint32_t>(req[1] << 8 | req[2]);
    uint32_t value;
    if (req[0] & EBM_REQ_WRITE) {
        value = static_cast<uint32_t>(req[3] << 16 | req[4] << 8 | req[5]);
        poke(mem, addr, value);
        on_write(mem, addr);
    } else {
        value = peek(mem, addr);
        on_read(mem, addr);
    }

    std::vector<uint8_t> r = reply_frame(f);
    r[15] = 0x07;
    uint8_t *a = r.data() + EBM_REQUEST_OFFSET;
    a[0] = req[0];
    a[1] = req[1];
    a[2] = req[2];
    a[3] = static_cast<uint8_t>(value >> 16);
    a[4] = static_cast<uint8_t>(value >> 8);
    a[5] = static_cast<uint8_t>(value);
    uint16_t out = fcs16(a, 6);
    a[6] = static_cast<uint8_t>(out);
    a[7] = static_cast<uint8_t>(out >> 8);

    const Fault applied = fault_;
    if (fault_.count && --fault_.count == 0)
        fault_ = Fault{};
    std::vector<Output> outs;
    switch (applied.kind) {
    case Fault::Silent:
        return outs;
    case Fault::Delay:
        outs.push_back({r, applied.delay_ms});
        break;
    case Fault::Duplicate:
        outs.push_back({r, 0});
        outs.push_back({r, 0});
        break;
    case Fault::BadFcs:
        a[6] ^= 0xFF;
        outs.push_back({r, 0});
        break;
    case Fault::None:
        outs.push_back({r, 0});
        break;
    }
    stats_.replies += outs.size();
    return outs;
}

}  // namespace chipsim
