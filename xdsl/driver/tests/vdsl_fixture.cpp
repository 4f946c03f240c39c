#include "vdsl_fixture.hpp"

#include <cstring>

namespace vdsltest {

const unsigned char kMgtMac[6] = {0x02, 0x00, 0x00, 0x00, 0x0A, 0x01};

void TestImage::set_word(std::vector<uint8_t> &img, uint32_t n, uint32_t v)
{
    if (img.size() < 4 * (n + 1))
        img.resize(4 * (n + 1), 0);
    for (int i = 0; i < 4; i++)
        img[4 * n + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> TestImage::bytes()
{
    std::vector<uint8_t> img(4 * 32, 0);
    std::memcpy(img.data(), "VROS", 4);
    const uint32_t T = 3, N = 16;
    set_word(img, 3, 0x000102);  // MIB version
    set_word(img, 4, 0x0100);    // signature block
    set_word(img, 6, 0x0200);    // table of table starts
    set_word(img, 7, T);
    set_word(img, 8, N);
    set_word(img, 9, T);
    // Directory: 2.1 (continuation mark 1: row T-1), 3.1 (stride 0x20), a spare row.
    set_word(img, 32, 2u << 29 | 0u << 24 | 0u << 8 | 1u << 4);
    set_word(img, 33, 3u << 29 | 0u << 24 | 0x20u << 8);
    set_word(img, 34, 7u << 29 | 31u << 24);
    // Offsets rows (end offsets, cumulative).
    for (uint32_t j = 0; j < N; j++) {
        set_word(img, 32 + T + 0 * N + j, j < 6 ? j + 1 : j + 2);  // item 7 has two words
        set_word(img, 32 + T + 1 * N + j, j + 1);
        set_word(img, 32 + T + 2 * N + j, j == 0 ? 18 : 19 + j);  // items 17 (1 word), 18 (2 words)
    }
    return img;
}

void TestImage::prepare_chip(chipsim::Chip &chip)
{
    chip.poke(EBM_MEM_X, 0x100, 0x000102);  // version
    chip.poke(EBM_MEM_X, 0x104, 0x0300);    // pointer p
    chip.poke(EBM_MEM_X, 0x305, 0x474154);  // signature at p + 5
    chip.poke(EBM_MEM_X, 0x101, 0xEA0400);  // end marker's address
    chip.poke(EBM_MEM_X, 0x400, 0xEAEAEA);  // end marker
    chip.poke(EBM_MEM_X, 0x200, 0x1000);    // table starts
    chip.poke(EBM_MEM_X, 0x201, 0x2000);
    chip.poke(EBM_MEM_X, 0x202, 0x0000);
}

void Driver::xmit(void *ctx, const unsigned char *frame, size_t len)
{
    auto *d = static_cast<Driver *>(ctx);
    std::vector<chipsim::Output> outs;
    {
        std::lock_guard<std::mutex> g(d->lock);
        d->sent.emplace_back(frame, frame + len);
        if (len >= 24 && !(frame[16] & EBM_REQ_WRITE) &&
            d->silent_addrs.count(static_cast<uint16_t>(frame[17] << 8 | frame[18])))
            return;
        outs = d->chip.on_frame(frame, len);
        if (d->rewrite_source)
            for (auto &o : outs)
                std::memcpy(o.frame.data() + 6, "\x02\x99\x99\x99\x99\x99", 6);
    }
    for (auto &o : outs)
        kstandin_vdev_rx(kMgt, o.frame.data(), o.frame.size(), static_cast<int64_t>(o.delay_ms) * 1000000);
}

void Driver::SetUp()
{
    kstandin_clock_use_fake(1'000'000'000);
    kstandin_log_clear();
    ASSERT_GT(kstandin_vdev_add(kMgt, kMgtMac, xmit, this), 0);
    ASSERT_EQ(kstandin_module_init(), 0);
}

void Driver::TearDown()
{
    kstandin_module_exit();
    kstandin_vdev_remove_all();
    kstandin_clock_use_real();
}

long Driver::ioctl(unsigned cmd, Block &b)
{
    kstandin_user_begin(KSTANDIN_USER_BASE, b.data(), b.size());
    long rc = kstandin_chrdev_ioctl(VDSL_MAJOR, cmd, KSTANDIN_USER_BASE);
    kstandin_user_end();
    return rc;
}

long Driver::ioctl_null(unsigned cmd)
{
    kstandin_user_begin(0, nullptr, 0);
    long rc = kstandin_chrdev_ioctl(VDSL_MAJOR, cmd, 0);
    kstandin_user_end();
    return rc;
}

std::string Driver::log()
{
    std::string s(kstandin_log_read(nullptr, 0) + 1, '\0');
    s.resize(kstandin_log_read(&s[0], s.size()));
    return s;
}

long Driver::set_mgt(const char *name)
{
    Block b = block(VDSL_BLOCK_HEAD);
    std::strncpy(reinterpret_cast<char *>(b.data()), name, 15);
    return ioctl(VDSL_SET_MGT_IFACE, b);
}

long Driver::firmware_phase(int phase)
{
    Block b = block();
    b[1] = static_cast<unsigned char>(phase);
    return ioctl(VDSL_DOWNLOAD_FIRMWARE, b);
}

long Driver::load_image(const std::vector<uint8_t> &img)
{
    Block b = block();
    b[0] = 1;
    long rc = ioctl(VDSL_LOAD_BINDRV, b);
    if (rc)
        return rc;
    for (size_t off = 0; off < img.size(); off += 512) {
        size_t n = std::min<size_t>(512, img.size() - off);
        b = block();
        b[0] = 2;
        b[1] = static_cast<unsigned char>(n >> 8);
        b[2] = static_cast<unsigned char>(n);
        std::memcpy(b.data() + 3, img.data() + off, n);
        if ((rc = ioctl(VDSL_LOAD_BINDRV, b)))
            return rc;
    }
    b = block();
    b[0] = 3;
    return ioctl(VDSL_LOAD_BINDRV, b);
}

long Driver::mib_read(const std::string &oid, Block &answer, unsigned cmd)
{
    answer = block();
    answer[0] = 0;
    std::memcpy(answer.data() + 1, oid.c_str(), oid.size() + 1);
    return ioctl(cmd, answer);
}

long Driver::mib_write(const std::string &oid, const std::string &value)
{
    Block b = block();
    std::memcpy(b.data() + 1, oid.c_str(), oid.size() + 1);
    std::memcpy(b.data() + 2 + oid.size(), value.c_str(), value.size() + 1);
    return ioctl(VDSL_SET_DATA_LOGIC, b);
}

long Driver::word_read(unsigned cmd, uint32_t addr, int mem, uint32_t &value)
{
    Block b = block(VDSL_BLOCK_HEAD);
    b[1] = static_cast<unsigned char>(addr >> 16);
    b[2] = static_cast<unsigned char>(addr >> 8);
    b[3] = static_cast<unsigned char>(addr);
    b[4] = static_cast<unsigned char>(mem);
    long rc = ioctl(cmd, b);
    value = static_cast<uint32_t>(b[0] << 16 | b[1] << 8 | b[2]);
    return rc;
}

long Driver::word_write(unsigned cmd, uint32_t addr, int mem, uint32_t value)
{
    Block b = block(VDSL_BLOCK_HEAD);
    b[1] = static_cast<unsigned char>(addr >> 16);
    b[2] = static_cast<unsigned char>(addr >> 8);
    b[3] = static_cast<unsigned char>(addr);
    b[4] = static_cast<unsigned char>(mem);
    int at = 5;
    if (cmd == VDSL_EBM_ACCESS) {
        b[5] = 1;
        at = 6;
    }
    b[at] = static_cast<unsigned char>(value >> 16);
    b[at + 1] = static_cast<unsigned char>(value >> 8);
    b[at + 2] = static_cast<unsigned char>(value);
    return ioctl(cmd, b);
}

uint8_t Driver::op_state()
{
    Block b = block(VDSL_BLOCK_HEAD);
    ioctl(VDSL_OP_STATUS, b);
    return b[0];
}

void Driver::bring_up()
{
    TestImage::prepare_chip(chip);
    ASSERT_EQ(set_mgt(), 0);
    ASSERT_EQ(firmware_phase(3), 0);
    ASSERT_EQ(load_image(TestImage::bytes()), 0);
    Block b = block();
    ASSERT_EQ(ioctl(VDSL_CHECK_BINDRV, b), 0);
}

uint32_t word_of(const Block &answer, int k)
{
    std::string digits(reinterpret_cast<const char *>(answer.data()) + 2 + 6 * k, 6);
    return static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
}

}  // namespace vdsltest
