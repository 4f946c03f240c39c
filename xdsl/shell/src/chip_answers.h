// Decoders of the chip's longer answers: PSD breakpoint lists, the line
// inventory and the tone blackout list. Pure functions over the answer's
// bytes, so they can be driven by tests and fuzzers alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chip_answers {

// n hex digits of either case as one number: false at any other character.
bool hex_field(const char *p, size_t n, uint32_t *value);

// PSD breakpoints: 12 hex digits each, 6 for the tone and 6 for the level word.
constexpr size_t kPsdBreakpointsUs = 32;
constexpr size_t kPsdBreakpointsDs = 48;
constexpr size_t kBandEdges = 5;
constexpr float kNoLevel = -140.0f;
// Tones of the chip's range; nothing above it is expanded.
constexpr uint32_t kTopTone = 8191;

struct PsdBreakpoint {
    uint32_t tone;
    float level;  // dBm/Hz; kNoLevel when the breakpoint has none
};

// A list that begins "c69a53" holds no PSD.
bool psd_absent(const char *text);
// Whole breakpoints of the text, at most max; decoding stops at a malformed one.
std::vector<PsdBreakpoint> decode_psd_breakpoints(const char *text, size_t max);
// The tone that closes a band: the top 12 bits of the value text's word;
// -1 when the text has no three hex digits.
int32_t band_end_tone(const char *text);

// Where the expansion goes: records, values straight to standard output
// and the line breaks after every eighth value.
class PsdEmitter {
public:
    virtual ~PsdEmitter() = default;
    virtual void record(uint32_t tone, float level) = 0;
    virtual void value(uint32_t tone, float level) = 0;
    virtual void gap(uint32_t tone) = 0;
    virtual void line_break() = 0;
};

// Expands breakpoints into per-tone levels between them; edges are the
// band end tones (-1 for none), silent the shell's silent mode.
void expand_psd(const std::vector<PsdBreakpoint> &points, const int32_t (&edges)[kBandEdges], bool silent,
                PsdEmitter &out);

// Inventory: a vendor identification of 9 bytes, a version of 16, a serial of 32.
constexpr size_t kVendorBytes = 9;
constexpr size_t kVersionBytes = 16;
constexpr size_t kSerialBytes = 32;

struct InventoryVersion {
    enum Form { Raw, Octets, Base62 } form;
    std::string octets;  // 32 hex digits
    std::string raw;     // the bytes as characters, up to the first zero
    std::string text;    // the shown version in its form
    int numbers[4];      // the base-62 form
};

// The bytes as characters up to the first zero, never past n.
std::string bounded_text(const unsigned char *bytes, size_t n);
InventoryVersion decode_inventory_version(const unsigned char (&system_vendor)[kVendorBytes],
                                          const unsigned char (&version)[kVersionBytes]);

// Tone blackout list: up to 32 sections of "%06x%06x" (first, last).
constexpr size_t kBlackoutSections = 32;
constexpr size_t kBlackoutChars = kBlackoutSections * 12;

struct ToneSection {
    uint32_t first, last;
};

// Sections up to the first all-zero one (or 32, or the end of whole sections).
std::vector<ToneSection> decode_blackout_list(const char *text);
enum class InsertResult { Done, Overlap, Full };
// Inserts [first, last] in order of first tones; the list is left as it
// was on refusal.
InsertResult blackout_insert(std::vector<ToneSection> &list, uint32_t first, uint32_t last);
// The sections then zeros up to the whole 384 characters.
std::string encode_blackout_list(const std::vector<ToneSection> &list);

}  // namespace chip_answers
