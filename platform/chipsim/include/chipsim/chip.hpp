// A memory-level model of the xDSL chip: three memories (X, Y, P) of
// 65,536 24-bit words, a boot loader that takes the shell's boot frames,
// and running firmware that answers EBM management frames word by word.
// It knows nothing of MIB entries: they are words at the addresses that
// the binary driver image names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chipsim {

using Mac = std::array<uint8_t, 6>;

// CRC of RFC 1662 (PPP FCS-16), as carried in the last two request bytes.
uint16_t fcs16(const uint8_t *data, size_t len);

enum class State {
    Held,    // reset line low: nothing answers
    Boot,    // boot loader waits for the boot frames
    Running, // firmware runs and answers EBM frames
};

// Fault injection on EBM replies.
struct Fault {
    enum Kind { None, Silent, Delay, Duplicate, BadFcs };
    Kind kind = None;
    uint32_t delay_ms = 0; // Delay: each reply goes out this late
    uint32_t count = 0;    // requests it applies to; 0 until changed
};

struct Output {
    std::vector<uint8_t> frame;
    uint32_t delay_ms = 0;
};

struct Stats {
    uint64_t ebm_requests = 0;
    uint64_t bad_fcs = 0;
    uint64_t replies = 0;
    uint64_t boot_frames = 0;
    uint64_t ignored = 0;
};

constexpr uint32_t kFirmwareSignature = 0x474154;
constexpr uint16_t kSignatureAddress = 0x6C36; // X memory
constexpr size_t kWords = 65536;

class Chip {
public:
    struct Config {
        Mac mgmt_mac;
        Mac default_boot_mac;
        bool running = false; // start with firmware already booted
    };
    Chip();
    explicit Chip(const Config &cfg);

    // A frame seen on the wire; returns what the chip sends back.
    std::vector<Output> on_frame(const uint8_t *frame, size_t len);

    // A text command from the test bench; returns "ok ..." or "err ...".
    std::string control(const std::string &command);

    uint32_t peek(unsigned mem, uint32_t addr) const;
    void poke(unsigned mem, uint32_t addr, uint32_t value);
    void set_reset_line(bool high);
    void set_fault(const Fault &f) { fault_ = f; }

    State state() const { return state_; }
    const Stats &stats() const { return stats_; }
    const Mac &mgmt_mac() const { return cfg_.mgmt_mac; }
    const Mac &boot_mac() const { return boot_mac_; }

private:
    std::vector<Output> ebm(const uint8_t *f, size_t len);
    std::vector<Output> boot(const uint8_t *f, size_t len);
    std::vector<uint8_t> reply_frame(const uint8_t *req) const;
    std::vector<uint8_t> boot_reply(const uint8_t *req, uint8_t code, uint8_t b17, uint8_t status) const;
    void start_firmware();

    Config cfg_;
    State state_ = State::Boot;
    std::array<std::vector<uint32_t>, 3> mem_;
    Fault fault_;
    Stats stats_;
    // boot loader
    bool boot_started_ = false;
    bool boot_finished_ = false;
    Mac boot_mac_{};
    uint8_t expected_seq_ = 1;
};

} // namespace chipsim
