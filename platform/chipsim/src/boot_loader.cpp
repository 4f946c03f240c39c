// The boot loader: start, init, data records, finish and stop frames, each
// acknowledged, after which the firmware runs.
#include "chipsim/chip.hpp"

#include "vdsl_ebm.h"

#include <cstring>

namespace chipsim {

namespace {

constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusBadSequence = 0x01;
constexpr uint8_t kStatusBadRecord = 0x02;

uint32_t word24(const uint8_t *p) { return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]); }

}  // namespace

// Replies go back as frames of the management ethertype.
std::vector<uint8_t> Chip::boot_reply(const uint8_t *req, uint8_t code, uint8_t b17, uint8_t status) const
{
    std::vector<uint8_t> r = reply_frame(req);
    r[15] = 0x08;
    r[16] = code;
    r[17] = b17;
    r[18] = status;
    return r;
}

std::vector<Output> Chip::boot(const uint8_t *f, size_t len)
{
    size_t body = static_cast<size_t>(f[12] << 8 | f[13]);
    if (len < 14 + body || body < 1) {
        stats_.ignored++;
        return {};
    }
    const uint8_t *q = f + 14;

    // Start: to the management address, names the boot address to use.
    if (std::memcmp(f, cfg_.mgmt_mac.data(), 6) == 0) {
        if (body < 5 || q[0] != 0x00 || q[1] != 0x00 || q[2] != 0x02 || q[3] != 0x03 || q[4] != 0x04) {
            stats_.ignored++;
            return {};
        }
        stats_.boot_frames++;
        boot_mac_ = cfg_.default_boot_mac;
        if (len >= 26 && q[5] == 0x01)
            std::memcpy(boot_mac_.data(), q + 6, 6);
        boot_started_ = true;
        boot_finished_ = false;
        expected_seq_ = 1;
        auto r = boot_reply(f, 0x80, 0x00, 0x00);
        std::memcpy(r.data() + 18, boot_mac_.data(), 6);
        return {{r, 0}};
    }
    if (!boot_started_ || std::memcmp(f, boot_mac_.data(), 6) != 0) {
        stats_.ignored++;
        return {};
    }
    stats_.boot_frames++;

    // Stop: the firmware starts.
    if (q[0] == 0x02) {
        auto r = boot_reply(f, 0x82, 0x00, 0x00);
        start_firmware();
        return {{r, 0}};
    }
    if (q[0] != 0x04 || body < 3) {
        stats_.ignored++;
        return {};
    }
    uint8_t seq = q[1];
    uint8_t status = seq == expected_seq_ ? kStatusOk : kStatusBadSequence;
    switch (q[2]) {
    case 0x00:  // init, with the image length
        if (body < 7)
            status = kStatusBadRecord;
        if (status == kStatusOk) {
            boot_finished_ = false;
            expected_seq_ = static_cast<uint8_t>(seq + 1);
        }
        break;
    case 0x01: {  // data record: load address, count, words
        if (status != kStatusOk)
            break;
        if (body < 9) {
            status = kStatusBadRecord;
            break;
        }
        uint32_t load = word24(q + 3);
        uint32_t n = word24(q + 6);
        unsigned mem = load >> 16;  // 0 P, 1 X, 2 Y
        uint32_t addr = load & 0xFFFF;
        // An end-of-data frame repeats a header but carries no words.
        bool end = body == 9;
        if (!end && (body != 9 + 3 * static_cast<size_t>(n) || mem > 2 || addr + n > kWords)) {
            status = kStatusBadRecord;
            break;
        }
        static const unsigned to_ebm[3] = {EBM_MEM_P, EBM_MEM_X, EBM_MEM_Y};
        for (uint32_t i = 0; !end && i < n; i++)
            poke(to_ebm[mem], addr + i, word24(q + 9 + 3 * i));
        expected_seq_ = static_cast<uint8_t>(seq + 1);
        break;
    }
    case 0x02:  // finish
        if (status == kStatusOk)
            boot_finished_ = true;
        break;
    default:
        status = kStatusBadRecord;
        break;
    }
    return {{boot_reply(f, 0x84, seq, status), 0}};
}

}  // namespace chipsim
