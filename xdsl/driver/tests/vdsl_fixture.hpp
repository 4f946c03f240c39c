// The driver loaded into the kernel stand-in, with the chip model on the far
// end of a virtual management interface and a fake clock, so that requests
// run as a process would issue them and time-outs take no wall time.
#pragma once

#include "chipsim/chip.hpp"

extern "C" {
#include "vdsl_priv.h"
}
#include "kstandin/host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vdsltest {

constexpr const char *kMgt = "mgt0";
extern const unsigned char kMgtMac[6];

using Block = std::vector<unsigned char>;

// A sound binary driver image and the chip memory that matches it:
//   2.1 at 0x1000 (items 1-6 one word each, item 7 two words, items 8-16
//   one word, items 17 and 18 in a continuation row), 3.1 at 0x2000 with a
//   row stride of 0x20.
struct TestImage {
    static std::vector<uint8_t> bytes();
    static void prepare_chip(chipsim::Chip &chip);
    static void set_word(std::vector<uint8_t> &img, uint32_t n, uint32_t v);
};

class Driver : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Issues a request with the block as the caller's memory.
    long ioctl(unsigned cmd, Block &block);
    long ioctl_null(unsigned cmd);
    static Block block(size_t size = VDSL_BLOCK_SIZE) { return Block(size, 0); }

    std::string log();
    int64_t now_ms() { return kstandin_now_ns() / 1000000; }

    // Common request sequences.
    long set_mgt(const char *name = kMgt);
    long firmware_phase(int phase);
    long load_image(const std::vector<uint8_t> &img);
    long mib_read(const std::string &oid, Block &answer, unsigned cmd = VDSL_GET_DATA_LOGIC);
    long mib_write(const std::string &oid, const std::string &value);
    long word_read(unsigned cmd, uint32_t addr, int mem, uint32_t &value);
    long word_write(unsigned cmd, uint32_t addr, int mem, uint32_t value);
    uint8_t op_state();
    // The chip runs, its image is loaded and checked.
    void bring_up();

    static void xmit(void *ctx, const unsigned char *frame, size_t len);

    std::mutex lock;
    chipsim::Chip chip{
        chipsim::Chip::Config{chipsim::Mac EBM_CHIP_MGMT_MAC, chipsim::Mac EBM_CHIP_DEFAULT_BOOT_MAC, true}};
    std::vector<Block> sent;          // every frame the driver sent
    std::set<uint16_t> silent_addrs;  // reads of these go unanswered
    bool rewrite_source = false;      // replies come from another address
};

uint32_t word_of(const Block &answer, int k);

}  // namespace vdsltest
