// PSD breakpoint lists of the chip and their expansion into per-tone levels.
#include <cstring>

#include "chip_answers.h"

namespace chip_answers {

namespace {

constexpr size_t kToneDigits = 6, kLevelDigits = 6;
constexpr size_t kBreakpointChars = kToneDigits + kLevelDigits;
constexpr int kValuesPerLine = 8;

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

bool hex_field(const char *p, size_t n, uint32_t *value)
{
    uint32_t v = 0;
    for (size_t i = 0; i < n; i++) {
        int d = hex_digit(p[i]);
        if (d < 0)
            return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

namespace {

class Expansion {
public:
    Expansion(const int32_t (&edges)[kBandEdges], bool silent, PsdEmitter &out)
        : edges_(edges), silent_(silent), out_(out)
    {
    }

    void step(const PsdBreakpoint &p)
    {
        if (p.tone > 0 || p.level != kNoLevel)
            out_.record(p.tone, p.level);
        if (p.level != kNoLevel && previous_level_ != kNoLevel)
            expand(p);
        previous_tone_ = p.tone;
        previous_level_ = p.level;
    }

    void finish() { out_.line_break(); }

private:
    void expand(const PsdBreakpoint &p)
    {
        if (edge_) {
            // The previous breakpoint closed a band: the tones up to this one lie between bands.
            edge_ = false;
            if (silent_)
                gap_ = true;
            else
                print_gap(p.tone);
            return;
        }
        bool closes = false;
        // Only the five band end tones the chip reports can close a band.
        if (edge_index_ < kBandEdges && edges_[edge_index_] >= 0 &&
            p.tone == static_cast<uint32_t>(edges_[edge_index_])) {
            edge_index_++;
            edge_ = closes = true;
        }
        if (silent_)
            return;
        if (gap_) {
            print_gap(p.tone);
            gap_ = false;
            return;
        }
        // A tone that does not rise has no segment: no slope, no range.
        if (p.tone <= previous_tone_)
            return;
        const float slope = (p.level - previous_level_) / static_cast<float>(p.tone - previous_tone_);
        const uint64_t stop = closes ? uint64_t{p.tone} : uint64_t{p.tone} - 1;
        for (uint64_t t = previous_tone_; t <= stop && t <= kTopTone; t++)
            emit_value(static_cast<uint32_t>(t),
                       previous_level_ + static_cast<float>(t - previous_tone_) * slope);
    }

    void print_gap(uint32_t tone)
    {
        for (uint64_t t = uint64_t{previous_tone_} + 1; t < tone && t <= kTopTone; t++) {
            out_.gap(static_cast<uint32_t>(t));
            counted();
        }
    }

    void emit_value(uint32_t tone, float level)
    {
        out_.value(tone, level);
        counted();
    }

    void counted()
    {
        if (++printed_ % kValuesPerLine == 0)
            out_.line_break();
    }

    const int32_t (&edges_)[kBandEdges];
    const bool silent_;
    PsdEmitter &out_;
    uint32_t previous_tone_ = 0;
    float previous_level_ = kNoLevel;
    unsigned long printed_ = 0;
    size_t edge_index_ = 0;
    bool edge_ = false, gap_ = false;
};

}  // namespace

bool psd_absent(const char *text) { return std::strncmp(text, "c69a53", 6) == 0; }

std::vector<PsdBreakpoint> decode_psd_breakpoints(const char *text, size_t max)
{
    std::vector<PsdBreakpoint> points;
    const size_t length = std::strlen(text);
    for (size_t at = 0; points.size() < max && at + kBreakpointChars <= length; at += kBreakpointChars) {
        uint32_t tone, word;
        if (!hex_field(text + at, kToneDigits, &tone) ||
            !hex_field(text + at + kToneDigits, kLevelDigits, &word))
            break;
        // Computed in double precision, kept in single.
        points.push_back({tone, static_cast<float>(word * 0.1 - 140.0)});
    }
    return points;
}

int32_t band_end_tone(const char *text)
{
    uint32_t tone;
    if (std::strlen(text) < 3 || !hex_field(text, 3, &tone))
        return -1;
    return static_cast<int32_t>(tone);
}

void expand_psd(const std::vector<PsdBreakpoint> &points, const int32_t (&edges)[kBandEdges], bool silent,
                PsdEmitter &out)
{
    Expansion e(edges, silent, out);
    for (const PsdBreakpoint &p : points)
        e.step(p);
    e.finish();
}

}  // namespace chip_answers
