// The chip's memories and reset line.
#include "chipsim/chip.hpp"

#include "vdsl_ebm.h"

namespace chipsim {

Chip::Chip() : Chip(Config{Mac EBM_CHIP_MGMT_MAC, Mac EBM_CHIP_DEFAULT_BOOT_MAC, false}) {}

Chip::Chip(const Config &cfg) : cfg_(cfg)
{
    for (auto &m : mem_)
        m.assign(kWords, 0);
    far_.assign(kWords, 0);
    boot_mac_ = cfg_.default_boot_mac;
    for (const char *field : {"tag SIM0001", "host service.sim", "pass simpass", "hwid ZMO-SIM-01",
                              "checksum 0123456789abcdef0123456789abcdef"})
        control(std::string("service ") + field);
    if (cfg_.running)
        start_firmware();
}

uint32_t Chip::peek(unsigned mem, uint32_t addr) const
{
    if (mem >= mem_.size())
        return 0;
    return mem_[mem][addr & 0xFFFF];
}

void Chip::poke(unsigned mem, uint32_t addr, uint32_t value)
{
    if (mem < mem_.size())
        mem_[mem][addr & 0xFFFF] = value & 0xFFFFFF;
}

// Low holds the chip in reset and loses its memories; the rising edge
// starts the boot loader.
void Chip::set_reset_line(bool high)
{
    if (!high) {
        state_ = State::Held;
        for (auto &m : mem_)
            m.assign(kWords, 0);
        boot_started_ = false;
        boot_finished_ = false;
        boot_mac_ = cfg_.default_boot_mac;
        expected_seq_ = 1;
        go_pending_ = walking_ = mbox_pending_ = delt_running_ = false;
        selt_ = Selt::None;
        return;
    }
    if (state_ == State::Held)
        state_ = State::Boot;
}

// The firmware announces itself with its signature word.
void Chip::start_firmware()
{
    state_ = State::Running;
    poke(EBM_MEM_X, kSignatureAddress, kFirmwareSignature);
}

std::vector<Output> Chip::on_frame(const uint8_t *frame, size_t len)
{
    if (len < 14 || state_ == State::Held) {
        stats_.ignored++;
        return {};
    }
    uint16_t type = static_cast<uint16_t>(frame[12] << 8 | frame[13]);
    if (type == EBM_ETHERTYPE && state_ == State::Running)
        return ebm(frame, len);
    // Boot frames carry an 802.3 length where the ethertype would be.
    if (type < 0x0600 && state_ == State::Boot)
        return boot(frame, len);
    stats_.ignored++;
    return {};
}

}  // namespace chipsim
