// What the running firmware does by itself beyond single words: it takes
// host commands (command word, go flag cleared a little later), walks the
// line from idle to showtime after a connect, answers far-end reads through
// its mailbox and keeps counters that grow and wrap at 24 bits.
#include "chipsim/chip.hpp"

#include "vdsl_ebm.h"

#include <chrono>

namespace chipsim {

namespace {

constexpr uint32_t kPhaseMask = 0x300;
constexpr uint32_t kLoopbackBit = 0x800;
constexpr uint32_t kMboxReadRemote = 0x81407D;
constexpr uint32_t kMboxDone = 0x510000;
constexpr uint32_t kMboxRefused = 0x490000;

enum HostCommand : uint32_t {
    Stop = 0,
    Connect = 3,
    Disconnect = 4,
    LoopOn = 5,
    LoopOff = 6,
    Calibrate = 0xd,
    SeltRun = 0xe
};

bool at(int32_t where, unsigned mem, uint32_t addr)
{
    return where >= 0 && mem == EBM_MEM_X && static_cast<uint32_t>(where) == (addr & 0xFFFF);
}

}  // namespace

uint64_t Chip::now() const
{
    if (now_ms_)
        return now_ms_();
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Chip::set_counter(unsigned mem, uint32_t addr, uint32_t step)
{
    if (step)
        counters_[{mem, addr & 0xFFFF}] = step;
    else
        counters_.erase({mem, addr & 0xFFFF});
}

Phase Chip::phase() const
{
    if (layout_.phy_status < 0)
        return Phase::Idle;
    return static_cast<Phase>((peek(EBM_MEM_X, static_cast<uint32_t>(layout_.phy_status)) & kPhaseMask) >> 8);
}

void Chip::set_phase(Phase p)
{
    if (layout_.phy_status < 0)
        return;
    auto addr = static_cast<uint32_t>(layout_.phy_status);
    poke(EBM_MEM_X, addr, (peek(EBM_MEM_X, addr) & ~kPhaseMask) | static_cast<uint32_t>(p) << 8);
}

void Chip::take_host_command(uint32_t command, uint64_t when)
{
    commands_.push_back(command);
    auto status = layout_.phy_status;
    switch (command) {
    case Stop:
    case Disconnect:
        walking_ = delt_running_ = false;
        set_phase(Phase::Idle);
        break;
    case Connect:
        // With the loop diagnostic flag set a connect runs the diagnostic.
        if (layout_.ldsf >= 0 && peek(EBM_MEM_X, static_cast<uint32_t>(layout_.ldsf)) != 0 &&
            phase() == Phase::Idle) {
            start_delt(when);
        } else if (!walking_ && !delt_running_ && phase() == Phase::Idle) {
            walking_ = true;
            walk_start_ = when;
        }
        break;
    case Calibrate:
    case SeltRun:
        start_selt(command, when);
        break;
    case LoopOn:
    case LoopOff:
        if (status >= 0) {
            uint32_t v = peek(EBM_MEM_X, static_cast<uint32_t>(status));
            v = command == LoopOn ? v | kLoopbackBit : v & ~kLoopbackBit;
            poke(EBM_MEM_X, static_cast<uint32_t>(status), v);
        }
        break;
    default:
        break;
    }
}

void Chip::mailbox_answer()
{
    auto req = static_cast<uint32_t>(layout_.mbox_request);
    mbox_pending_ = false;
    if (timing_.mbox_refuse) {
        poke(EBM_MEM_X, static_cast<uint32_t>(layout_.mbox_command), kMboxRefused);
        return;
    }
    if (layout_.mbox_tag >= 0)
        poke(EBM_MEM_X, static_cast<uint32_t>(layout_.mbox_tag), peek(EBM_MEM_X, req));
    if (layout_.mbox_data >= 0)
        poke(EBM_MEM_X, static_cast<uint32_t>(layout_.mbox_data), far_peek(peek(EBM_MEM_X, req + 1)));
    poke(EBM_MEM_X, static_cast<uint32_t>(layout_.mbox_command), kMboxDone);
}

void Chip::mailbox_request()
{
    if (layout_.mbox_request < 0)
        return;
    mbox_pending_ = true;
    mbox_due_ = now() + timing_.mbox_ms;
}

void Chip::advance()
{
    uint64_t t = now();
    if (go_pending_ && !timing_.go_stuck && t >= go_due_) {
        go_pending_ = false;
        take_host_command(go_command_, go_due_);
        poke(EBM_MEM_X, static_cast<uint32_t>(layout_.host_go), 0);
    }
    if (walking_) {
        uint64_t steps = timing_.phase_ms ? (t - walk_start_) / timing_.phase_ms : 0;
        Phase p = steps >= 2 ? Phase::Showtime : steps >= 1 ? Phase::Training : Phase::Handshake;
        set_phase(p);
        if (p == Phase::Showtime)
            walking_ = false;
    }
    if (mbox_pending_ && t >= mbox_due_)
        mailbox_answer();
    advance_diagnostics(t);
}

void Chip::on_write(unsigned mem, uint32_t addr)
{
    if (at(layout_.host_go, mem, addr) && peek(mem, addr) != 0) {
        // The command is the word at the go; a command still pending when
        // the next go comes was taken in its time, not lost.
        if (go_pending_ && !timing_.go_stuck)
            take_host_command(go_command_, go_due_);
        go_pending_ = true;
        go_due_ = now() + timing_.go_ms;
        go_command_ =
            layout_.host_command >= 0 ? peek(EBM_MEM_X, static_cast<uint32_t>(layout_.host_command)) : 0;
    }
    if (at(layout_.mbox_command, mem, addr) && peek(mem, addr) == kMboxReadRemote)
        mailbox_request();
    diagnostics_write(mem, addr);
}

void Chip::on_read(unsigned mem, uint32_t addr)
{
    auto c = counters_.find({mem, addr & 0xFFFF});
    if (c != counters_.end())
        poke(mem, addr, peek(mem, addr) + c->second);
    diagnostics_read(mem, addr);
}

}  // namespace chipsim
