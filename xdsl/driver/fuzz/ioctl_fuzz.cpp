// Any request number with any block, and any frames arriving on the
// management interface, leave the driver sound.
//   input: 1 byte request index, 1 byte frame count, frames (1 length byte
//   each), then the block.
#include "chipsim/chip.hpp"
#include "kstandin/host.h"
#include "vdsl.h"
#include "vdsl_ebm.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

chipsim::Chip *chip;

void xmit(void *, const unsigned char *frame, size_t len)
{
    for (auto &o : chip->on_frame(frame, len))
        kstandin_vdev_rx("mgt0", o.frame.data(), o.frame.size(), 0);
}

const unsigned kRequests[] = {
    0x7602, 0x7605, 0x7610, 0x7611, 0x7614, 0x7615, 0x7616, 0x7617, 0x7623, 0x7624, 0x7627,
    0x7628, 0x762B, 0x762F, 0x7630, 0x7632, 0x7633, 0x7637, 0x7639, 0x7640, 0x7641, 0x7642,
    0x7643, 0x7644, 0x7645, 0x7648, 0x7650, 0x7651, 0x7660, 0x7681, 0x7682, 0x7685, 0x1234,
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    kstandin_clock_use_fake(1'000'000'000);
    chip = new chipsim::Chip(
        chipsim::Chip::Config{chipsim::Mac EBM_CHIP_MGMT_MAC, chipsim::Mac EBM_CHIP_DEFAULT_BOOT_MAC, true});
    const unsigned char mac[6] = {2, 0, 0, 0, 0, 1};
    kstandin_vdev_add("mgt0", mac, xmit, nullptr);
    kstandin_module_init();
    std::vector<unsigned char> b(64, 0);
    std::memcpy(b.data(), "mgt0", 5);
    kstandin_user_begin(KSTANDIN_USER_BASE, b.data(), b.size());
    kstandin_chrdev_ioctl(VDSL_MAJOR, 0x7660, KSTANDIN_USER_BASE);
    kstandin_user_end();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    unsigned cmd = kRequests[data[0] % (sizeof kRequests / sizeof kRequests[0])];
    size_t frames = data[1] % 4, pos = 2;
    for (size_t i = 0; i < frames && pos < size; i++) {
        size_t n = data[pos++];
        n = n < size - pos ? n : size - pos;
        kstandin_vdev_rx("mgt0", data + pos, n, 0);
        pos += n;
    }
    std::vector<unsigned char> block(data + pos, data + size);
    kstandin_user_begin(KSTANDIN_USER_BASE, block.data(), block.size());
    kstandin_chrdev_ioctl(VDSL_MAJOR, cmd, block.empty() ? 0 : KSTANDIN_USER_BASE);
    kstandin_user_end();
    kstandin_log_clear();
    return 0;
}
