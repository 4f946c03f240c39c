// A memory-level model of the xDSL chip: three memories (X, Y, P) of
// 65,536 24-bit words, a boot loader that takes the shell's boot frames,
// and running firmware that answers EBM management frames word by word.
// It knows nothing of MIB entries: they are words at the addresses that
// the binary driver image names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace chipsim {

using Mac = std::array<uint8_t, 6>;

// CRC of RFC 1662 (PPP FCS-16), as carried in the last two request bytes.
uint16_t fcs16(const uint8_t *data, size_t len);

enum class State {
    Held,     // reset line low: nothing answers
    Boot,     // boot loader waits for the boot frames
    Running,  // firmware runs and answers EBM frames
};

// Fault injection on EBM replies.
struct Fault {
    enum Kind { None, Silent, Delay, Duplicate, BadFcs };
    Kind kind = None;
    uint32_t delay_ms = 0;  // Delay: each reply goes out this late
    uint32_t count = 0;     // requests it applies to; 0 until changed
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

// Where the firmware keeps the words it serves itself (X memory); the
// binary driver image that describes the chip names the same addresses.
// -1: the firmware has no such word.
struct FirmwareLayout {
    int32_t host_command = -1;  // command number of a host command
    int32_t host_go = -1;       // nonzero until the firmware took the command
    int32_t phy_status = -1;    // bits 9-8 line phase, bit 11 loop-back
    int32_t mbox_request = -1;  // far-end request: tag, address, count
    int32_t mbox_command = -1;  // far-end command word and status
    int32_t mbox_tag = -1;      // tag of the far-end answer
    int32_t mbox_data = -1;     // the far-end word
    int32_t ldsf = -1;          // loop diagnostic flag
    int32_t ldsf_state = -1;    // loop diagnostic state: 3 handshake, 2 done, 7 failed
    int32_t tone_request = -1;  // per-tone segment request: done bit 20 once taken
    int32_t segment = -1;       // segment selector: 1-8, bit 23 downstream
    int32_t bits_gain = -1;     // 512 allocation words of the selected segment
    int32_t hlog = -1;          // 512 HLOG words, written after a loop diagnostic
    int32_t selt_status = -1;   // five SELT status words
};

// How the next loop diagnostic ends.
enum class DeltOutcome { Done, Failed, NoHandshake };

// Line phases in bits 9-8 of the status word.
enum class Phase : uint32_t { Idle = 0, Handshake = 1, Training = 2, Showtime = 3 };

// How the firmware's own behaviour runs; the bench changes it.
struct FirmwareTiming {
    uint32_t go_ms = 30;       // a host command is taken this long after its go flag
    bool go_stuck = false;     // the go flag is never cleared
    uint32_t phase_ms = 200;   // each line phase lasts this long after a connect (0: stays in handshake)
    uint32_t mbox_ms = 0;      // the far end answers this long after the request
    bool mbox_refuse = false;  // the far end answers "49"
    DeltOutcome delt = DeltOutcome::Done;
    uint32_t delt_ms = 2000;  // a loop diagnostic ends this long after its handshake
    uint32_t selt_flags = 0;  // status bits of a finished SELT run (word 0, bits 0-22)
};

constexpr uint32_t kFirmwareSignature = 0x474154;
constexpr uint16_t kSignatureAddress = 0x6C36;  // X memory
constexpr size_t kWords = 65536;
// The board's service record that the boot interface's driver hands out.
constexpr size_t kServiceRecordSize = 200;

// The bit and gain allocation word of tone 1-4096 in one direction.
uint32_t allocation_word(uint32_t tone, bool downstream);
// The word a SELT or calibration run leaves at an address of its results.
uint32_t selt_result_word(unsigned mem, uint32_t addr);

class Chip {
public:
    struct Config {
        Mac mgmt_mac;
        Mac default_boot_mac;
        bool running = false;  // start with firmware already booted
    };
    Chip();
    explicit Chip(const Config &cfg);

    // A frame seen on the wire; returns what the chip sends back.
    std::vector<Output> on_frame(const uint8_t *frame, size_t len);

    // A text command from the test bench; returns "ok ..." or "err ...".
    std::string control(const std::string &command);

    // Time in milliseconds for the firmware's timed behaviour; steady clock
    // unless a test gives its own.
    void set_clock(std::function<uint64_t()> now_ms) { now_ms_ = std::move(now_ms); }
    void set_layout(const FirmwareLayout &l) { layout_ = l; }
    const FirmwareLayout &layout() const { return layout_; }
    FirmwareTiming &timing() { return timing_; }
    // The far end's X memory, read through the mailbox.
    uint32_t far_peek(uint32_t addr) const { return far_[addr & 0xFFFF]; }
    void far_poke(uint32_t addr, uint32_t v) { far_[addr & 0xFFFF] = v & 0xFFFFFF; }
    // A word that grows by step after each read (0 stops it); 24 bits wrap.
    void set_counter(unsigned mem, uint32_t addr, uint32_t step);
    Phase phase() const;
    // Host commands the firmware has taken, oldest first.
    const std::vector<uint32_t> &host_commands() const { return commands_; }

    uint32_t peek(unsigned mem, uint32_t addr) const;
    void poke(unsigned mem, uint32_t addr, uint32_t value);
    void set_reset_line(bool high);
    void set_fault(const Fault &f) { fault_ = f; }

    // The service record, or none while the bench makes the driver refuse it.
    const std::array<uint8_t, kServiceRecordSize> *service_record() const
    {
        return service_refused_ ? nullptr : &service_;
    }

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
    // The firmware's own work: commands taken, phases walked, answers due.
    void advance();
    void on_write(unsigned mem, uint32_t addr);
    void on_read(unsigned mem, uint32_t addr);
    void take_host_command(uint32_t command, uint64_t when);
    void set_phase(Phase p);
    // Diagnostics: the loop diagnostic, tone segments and SELT runs.
    void start_delt(uint64_t when);
    void advance_diagnostics(uint64_t t);
    void select_segment();
    void start_selt(uint32_t command, uint64_t when);
    void next_selt_reading();
    void poke_at(int32_t where, uint32_t offset, uint32_t value);
    void diagnostics_write(unsigned mem, uint32_t addr);
    void diagnostics_read(unsigned mem, uint32_t addr);
    void mailbox_request();
    void mailbox_answer();
    uint64_t now() const;
    std::string service_control(const std::string &a, const std::string &b);
    std::string firmware_control(const std::string &verb, const std::string &a, const std::string &b,
                                 const std::string &c);

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
    // running firmware
    std::function<uint64_t()> now_ms_;
    FirmwareLayout layout_;
    FirmwareTiming timing_;
    std::vector<uint32_t> far_;
    std::map<std::pair<unsigned, uint32_t>, uint32_t> counters_;
    std::vector<uint32_t> commands_;
    bool go_pending_ = false;
    uint32_t go_command_ = 0;
    uint64_t go_due_ = 0;
    bool walking_ = false;  // a connect walks the phases up to showtime
    uint64_t walk_start_ = 0;
    bool mbox_pending_ = false;
    std::array<uint8_t, kServiceRecordSize> service_{};
    bool service_refused_ = false;
    uint64_t mbox_due_ = 0;
    bool delt_running_ = false;
    uint64_t delt_start_ = 0;
    enum class Selt { None, Running, Done } selt_ = Selt::None;
    bool selt_calibration_ = false;
    uint64_t selt_due_ = 0;
    unsigned selt_reading_ = 0;
};

}  // namespace chipsim
