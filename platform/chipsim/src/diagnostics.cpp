// The firmware's line diagnostics: the loop diagnostic that a connect runs
// while its flag is set, per-tone segment requests, the bit and gain
// allocation of the selected segment, and SELT and calibration runs whose
// status entry hands out the result ranges one reading after another.
#include "chipsim/chip.hpp"

#include "vdsl_ebm.h"

namespace chipsim {

namespace {

constexpr uint32_t kDeltHandshake = 3;
constexpr uint32_t kDeltDone = 2;
constexpr uint32_t kDeltFailed = 7;
constexpr uint32_t kToneRequestGo = 0x820081;
constexpr uint32_t kToneRequestDone = 0x100000;
constexpr uint32_t kDownstream = 0x800000;
constexpr uint32_t kSegmentTones = 512;
constexpr uint32_t kSegments = 8;
constexpr uint32_t kSeltDone = 0x800000;
constexpr uint32_t kStatusWords = 5;

struct Range {
    unsigned mem;
    uint32_t start, count;
};

// Where a run leaves its results, in the order the status readings name them.
constexpr Range kSeltRanges[] = {{EBM_MEM_X, 0x5000, 16}, {EBM_MEM_X, 0x5100, 8}, {EBM_MEM_Y, 0x6000, 4}};
constexpr Range kCalibrationRange = {EBM_MEM_X, 0x5200, 12};

}  // namespace

uint32_t allocation_word(uint32_t tone, bool downstream)
{
    uint32_t bits = (tone + (downstream ? 8 : 0)) % 16;
    uint32_t gain = 0x100 + tone % 0x100;
    return bits << 12 | gain;
}

uint32_t selt_result_word(unsigned mem, uint32_t addr)
{
    return (mem == EBM_MEM_Y ? 0x5F0000u : 0x5E0000u) | (addr & 0xFFFF);
}

void Chip::poke_at(int32_t where, uint32_t offset, uint32_t value)
{
    if (where >= 0)
        poke(EBM_MEM_X, static_cast<uint32_t>(where) + offset, value);
}

void Chip::start_delt(uint64_t when)
{
    delt_running_ = true;
    delt_start_ = when;
    walking_ = false;
    set_phase(Phase::Handshake);
}

void Chip::select_segment()
{
    if (layout_.bits_gain < 0)
        return;
    uint32_t v = peek(EBM_MEM_X, static_cast<uint32_t>(layout_.segment));
    uint32_t s = v & 0xFF;
    if (s < 1 || s > kSegments)
        return;
    for (uint32_t j = 0; j < kSegmentTones; j++)
        poke_at(layout_.bits_gain, j, allocation_word(kSegmentTones * (s - 1) + j + 1, v & kDownstream));
}

void Chip::start_selt(uint32_t command, uint64_t when)
{
    selt_ = Selt::Running;
    selt_calibration_ = command == 0xd;
    selt_due_ = when + timing_.phase_ms;
    for (uint32_t k = 0; k < kStatusWords; k++)
        poke_at(layout_.selt_status, k, 0);
}

// After each whole reading of the status entry the next one is set up:
// calibration gives start and count in word 0; a measurement gives its
// first range in word 0, the second in word 1, the Y range in word 0.
void Chip::next_selt_reading()
{
    selt_reading_++;
    const uint32_t done = kSeltDone | (timing_.selt_flags & 0x7FFFFF);
    uint32_t w0 = done, w1 = 0;
    if (selt_calibration_) {
        if (selt_reading_ == 1)
            w0 = kCalibrationRange.start;
        else if (selt_reading_ == 2)
            w0 = kCalibrationRange.count;
    } else {
        switch (selt_reading_) {
        case 1:
            w0 = kSeltRanges[0].start;
            break;
        case 2:
            w0 = kSeltRanges[0].count;
            break;
        case 3:
            w1 = kSeltRanges[1].start;
            break;
        case 4:
            w1 = kSeltRanges[1].count;
            break;
        case 5:
            w0 = kSeltRanges[2].start;
            break;
        case 6:
            w0 = kSeltRanges[2].count;
            break;
        default:
            break;
        }
    }
    poke_at(layout_.selt_status, 0, w0);
    poke_at(layout_.selt_status, 1, w1);
}

void Chip::advance_diagnostics(uint64_t t)
{
    if (delt_running_ && timing_.delt != DeltOutcome::NoHandshake && timing_.phase_ms) {
        const uint64_t elapsed = t - delt_start_;
        if (elapsed >= timing_.phase_ms)
            poke_at(layout_.ldsf_state, 0, kDeltHandshake);
        if (elapsed >= uint64_t{timing_.phase_ms} + timing_.delt_ms) {
            bool done = timing_.delt == DeltOutcome::Done;
            poke_at(layout_.ldsf_state, 0, done ? kDeltDone : kDeltFailed);
            // The diagnostic clears its flag when it ends, and leaves HLOG behind.
            poke_at(layout_.ldsf, 0, 0);
            if (done)
                for (uint32_t i = 0; i < kSegmentTones; i++)
                    poke_at(layout_.hlog, i, i);
            delt_running_ = false;
            set_phase(Phase::Idle);
        }
    }
    if (selt_ == Selt::Running && t >= selt_due_) {
        selt_ = Selt::Done;
        selt_reading_ = 0;
        if (selt_calibration_) {
            for (uint32_t i = 0; i < kCalibrationRange.count; i++)
                poke(kCalibrationRange.mem, kCalibrationRange.start + i,
                     selt_result_word(kCalibrationRange.mem, kCalibrationRange.start + i));
        } else {
            for (const Range &r : kSeltRanges)
                for (uint32_t i = 0; i < r.count; i++)
                    poke(r.mem, r.start + i, selt_result_word(r.mem, r.start + i));
        }
        poke_at(layout_.selt_status, 0, kSeltDone | (timing_.selt_flags & 0x7FFFFF));
        poke_at(layout_.selt_status, 1, 0);
    }
}

// Writes the firmware watches for its diagnostics.
void Chip::diagnostics_write(unsigned mem, uint32_t addr)
{
    auto is = [&](int32_t where) {
        return where >= 0 && mem == EBM_MEM_X && static_cast<uint32_t>(where) == (addr & 0xFFFF);
    };
    if (is(layout_.segment))
        select_segment();
    if (is(layout_.tone_request) && peek(mem, addr) == kToneRequestGo)
        poke(mem, addr, kToneRequestGo | kToneRequestDone);
    // Any write of the status word ends a run's readings.
    if (is(layout_.selt_status))
        selt_ = Selt::None;
}

void Chip::diagnostics_read(unsigned mem, uint32_t addr)
{
    if (selt_ == Selt::Done && layout_.selt_status >= 0 && mem == EBM_MEM_X &&
        (addr & 0xFFFF) == static_cast<uint32_t>(layout_.selt_status) + kStatusWords - 1)
        next_selt_reading();
}

}  // namespace chipsim
