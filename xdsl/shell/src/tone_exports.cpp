// Per-tone exports: the segment status entries read whole, shown tone group
// by tone group, written into one export file per kind and copied into the
// caller's stream.
#include "tone_exports.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "band_plan.h"
#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "vdsl_request.h"

namespace {

constexpr int kEntries = 512;
constexpr int kWordBudget = 3 * kEntries;
constexpr int kByteBudget = kEntries;
constexpr int kSegments = 8;
constexpr int kSegmentTones = 512;
constexpr int kLineEntries = 8;
constexpr uint32_t kDownstreamSegment = 0x800000;
constexpr unsigned kLogNotAvailable = 0x3FF;
constexpr unsigned kByteNotAvailable = 0xFF;
constexpr int kLinNoMeasurement = -32768;  // 0x8000 as a signed part

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void put(std::FILE *f, const char *format, ...) __attribute__((format(printf, 2, 3)));
void put(std::FILE *f, const char *format, ...)
{
    if (!f)
        return;
    va_list ap;
    va_start(ap, format);
    std::vfprintf(f, format, ap);
    va_end(ap);
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(&text[0], text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

// The export file of a kind in the SCSTATUS_DIR directory, or none: no
// value, or a directory that leaves the name no room in the path.
File open_export(const char *name)
{
    char value[TONE_EXPORT_PATH_SIZE];
    if (cfgmgr_read("SCSTATUS_DIR", value, sizeof value) != CFGMGR_READ_OK)
        return nullptr;
    const char *dir = str_trim(value);
    if (dir[std::strspn(dir, " \t\r\n")] == '\0')
        return nullptr;
    char path[TONE_EXPORT_PATH_SIZE];
    int n = std::snprintf(path, sizeof path, "%s/%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path)
        return nullptr;
    return File(std::fopen(path, "we"));
}

// The active profile decides the grouping: 0 is one tone an entry.
int32_t active_profile(int port)
{
    int32_t profile = 1;
    mib_get_int24(port, "0.1.26", &profile);
    return profile;
}

struct ToneLabel {
    int first, last;
};

ToneLabel label_of(int entry, int32_t profile)
{
    if (profile != 0)
        return {8 * entry - 7, 8 * entry};
    return {entry, 0};
}

const char *direction(ToneLabel t, const band_plan plan)
{
    auto first = static_cast<uint32_t>(t.first), last = static_cast<uint32_t>(t.last);
    if (tones_in_us_band(first, last, plan))
        return "US";
    if (tones_in_ds_band(first, last, plan))
        return "DS";
    return "--";
}

// One of HLOG, QLN, SNR: where its entry lies and how a value is made.
struct DbKind {
    const char *oid;
    int budget;
    const char *heading;
    const char *unit;
    const char *file;
    bool snr;
    // false when the entry carries no value.
    bool (*value)(const unsigned char *data, int index, float *out);
};

bool hlog_value(const unsigned char *d, int i, float *out)
{
    unsigned m = static_cast<unsigned>(d[3 * i + 1]) << 8 | d[3 * i + 2];
    if (m == kLogNotAvailable)
        return false;
    *out = 6.0f - static_cast<float>(m) / 10.0f;
    return true;
}

bool qln_value(const unsigned char *d, int i, float *out)
{
    if (d[i] == kByteNotAvailable)
        return false;
    *out = -23.0f - 0.5f * static_cast<float>(d[i]);
    return true;
}

bool snr_value(const unsigned char *d, int i, float *out)
{
    if (d[i] == kByteNotAvailable)
        return false;
    *out = 0.5f * static_cast<float>(d[i]) - 32.0f;
    return true;
}

const DbKind kHlog = {"0.6.4", kWordBudget, "SCStatusSegmentLog of Line %d:", "dB", "scseg_log.txt",
                      false,   hlog_value};
const DbKind kQln = {"0.6.5", kByteBudget, "SCStatusSegmentQln of Line %d:", "dBm/Hz", "scseg_qln.txt",
                     false,   qln_value};
const DbKind kSnr = {"0.6.6", kByteBudget, "SCStatusSegmentSnr of Line %d:", "dB", "scseg_snr.txt",
                     true,    snr_value};

// Entries the chip does not deliver read as not available.
std::vector<unsigned char> unavailable(const DbKind &k)
{
    std::vector<unsigned char> data(static_cast<size_t>(k.budget), kByteNotAvailable);
    if (k.budget == kWordBudget)
        for (int i = 0; i < kEntries; i++) {
            data[3 * i] = 0;
            data[3 * i + 1] = kLogNotAvailable >> 8;
            data[3 * i + 2] = kLogNotAvailable & 0xFF;
        }
    return data;
}

int export_db(const DbKind &k, int port, std::FILE *copy, int refresh)
{
    band_plan plan;
    unsigned bands = read_band_plan(port, plan);
    int32_t profile = active_profile(port);
    if (refresh == 0)
        request_tone_segments(port, static_cast<int>(bands));
    if (int rc = ebm_socket_reopen())
        return rc;
    std::vector<unsigned char> data = unavailable(k);
    int rc = mib_read_by_name(port, k.oid, data.data(), k.budget);
    cli_print(CLI_LEVEL_ORDINARY, k.heading, port + 1);
    put(copy, k.heading, port + 1);
    if (rc != 0)
        return rc;

    File out = open_export(k.file);
    cli_print(CLI_LEVEL_ORDINARY, "%14s %10s", "Tone No.", k.unit);
    put(copy, "%14s %10s", "Tone No.", k.unit);
    for (int i = 1; i <= kEntries; i++) {
        float v;
        if (!k.value(data.data(), i - 1, &v))
            continue;
        ToneLabel t = label_of(i, profile);
        const char *dir = direction(t, plan);
        const double value = v;
        std::string screen = profile != 0 ? format("%s:  %4d-%4d|%10.1f", dir, t.first, t.last, value)
                                          : format("%s:  %4d.%d|%10.1f", dir, t.first, t.last, value);
        cli_print(CLI_LEVEL_ORDINARY, "%s", screen.c_str());
        put(copy, "%s", screen.c_str());
        if (profile != 0)
            put(out.get(), "%s:%d-%d=%.1f|", dir, t.first, t.last, value);
        else if (k.snr)
            put(out.get(), "%s:%d.%d= %.1f|", dir, t.first, t.last, value);
        else
            put(out.get(), "%s:%d.%d=%.1f|", dir, t.first, t.last, value);
    }
    return 0;
}

// HLIN parts are signed 16-bit numbers in bytes 1 and 2 of a word.
int lin_part(const std::vector<unsigned char> &d, int i)
{
    return static_cast<int16_t>(static_cast<uint16_t>(d[3 * i + 1] << 8 | d[3 * i + 2]));
}

float lin_value(uint32_t scale, int part)
{
    return static_cast<float>(scale) * static_cast<float>(part) * (1.0f / 32768.0f) * (1.0f / 1024.0f);
}

std::vector<unsigned char> no_measurement()
{
    std::vector<unsigned char> data(kWordBudget, 0);
    for (int i = 0; i < kEntries; i++)
        data[3 * i + 1] = 0x80;
    return data;
}

// The screen lines of a bit or gain allocation export, their entry counter
// and (gain) the group text, carried from one segment to the next.
class Allocation {
public:
    Allocation(bool gain, std::FILE *out, std::FILE *copy, const band_plan plan)
        : gain_(gain), out_(out), copy_(copy), plan_(plan)
    {
    }

    void tone(int t, const unsigned char *us, const unsigned char *ds, int j)
    {
        const auto tone = static_cast<uint32_t>(t);
        band_start(tone);
        const unsigned char *word = tone_in_us_band(tone, plan_)   ? us + 3 * j
                                    : tone_in_ds_band(tone, plan_) ? ds + 3 * j
                                                                   : nullptr;
        value(t, word);
        if (!band_end(tone))
            count();
    }

    void finish()
    {
        flush_group();
        if (!line_.empty())
            cli_print(CLI_LEVEL_ORDINARY, "%s", line_.c_str());
    }

private:
    // Bands in the order US0, DS1, US1, DS2, US2, DS3, US3, DS4, US4.
    static const char *band_name(int p) { return p % 2 == 0 ? "US" : "DS"; }
    static int band_number(int p) { return (p + 1) / 2; }

    void band_start(uint32_t t)
    {
        for (int p = 0; p < BAND_PLAN_WORDS / 2; p++) {
            if (plan_[2 * p] != t || plan_[2 * p + 1] == 0)
                continue;
            if (c_ != 0) {
                cli_print(CLI_LEVEL_ORDINARY, "%s", line_.c_str());
                line_.clear();
            }
            // A band edge closes the gain group, so its label tells its tones.
            flush_group();
            line_ += format("\n%s%d: start from %u to %u\n", band_name(p), band_number(p), plan_[2 * p],
                            plan_[2 * p + 1]);
            c_ = 0;
            return;
        }
    }

    void value(int t, const unsigned char *word)
    {
        const unsigned bits = word ? word[1] >> 4 : 0;
        const unsigned g = word ? (word[1] & 0x0Fu) << 8 | word[2] : 0;
        std::string entry;
        if (!gain_) {
            entry = format("%4d|%3d ", t, static_cast<int>(bits));
            put(out_, "%d=%d|", t, static_cast<int>(bits));
            put(copy_, "%s", entry.c_str());
        } else {
            const double gain = static_cast<double>(static_cast<float>(g) * 0.001953125f);
            entry = word ? format("%4d|%6.5f ", t, gain) : format("%4d|%6d ", t, 0);
            std::string piece = word ? format("%.5f ", gain) : format("%d ", 0);
            put(copy_, "%s%s", entry.c_str(), piece.c_str());
            if (group_.empty())
                group_first_ = t;
            group_ += piece;
        }
        line_ += entry;
        last_tone_ = t;
    }

    bool band_end(uint32_t t)
    {
        for (int p = 0; p < BAND_PLAN_WORDS / 2; p++) {
            if (plan_[2 * p + 1] != t || plan_[2 * p] == 0)
                continue;
            cli_print(CLI_LEVEL_ORDINARY, "%s", line_.c_str());
            line_ = format("%s%d end\n\n", band_name(p), band_number(p));
            c_ = 0;
            flush_group();
            return true;
        }
        return false;
    }

    void count()
    {
        if (c_ != kLineEntries - 1) {
            c_++;
            return;
        }
        cli_print(CLI_LEVEL_ORDINARY, "%s", line_.c_str());
        line_.clear();
        c_ = 0;
        flush_group();
    }

    // The gain group text as "first-last=v v ... v|" into the file and the copy;
    // its label names the tones whose values it holds.
    void flush_group()
    {
        if (!gain_ || group_.empty())
            return;
        group_.back() = '|';
        put(out_, "%d-%d=%s", group_first_, last_tone_, group_.c_str());
        put(copy_, "%d-%d=%s", group_first_, last_tone_, group_.c_str());
        group_.clear();
    }

    const bool gain_;
    std::FILE *const out_, *const copy_;
    const uint32_t *const plan_;
    std::string line_, group_;
    int c_ = 0, group_first_ = 0, last_tone_ = 0;
};

int export_allocation(bool gain, int port, std::FILE *copy)
{
    band_plan plan;
    read_band_plan(port, plan);
    File out = open_export(gain ? "scseg_gain_alloc.txt" : "scseg_bits_alloc.txt");
    const char *heading = gain ? "SCStatusSegmentGainAlloc of Line %d : Tone No.|Gain"
                               : "SCStatusSegmentBitsAlloc of Line %d : Tone No.|Bits";
    if (gain) {
        cli_print(CLI_LEVEL_ORDINARY, heading, port + 1);
        put(copy, heading, port + 1);
    }
    if (int rc = ebm_socket_reopen())
        return rc;
    if (!gain) {
        cli_print(CLI_LEVEL_ORDINARY, heading, port + 1);
        put(copy, heading, port + 1);
    }

    Allocation lines(gain, out.get(), copy, plan);
    std::vector<unsigned char> us(kWordBudget), ds(kWordBudget);
    int result = 0;
    char selector[16];
    for (int s = 1; s <= kSegments && result == 0; s++) {
        std::fill(us.begin(), us.end(), 0);
        std::fill(ds.begin(), ds.end(), 0);
        std::snprintf(selector, sizeof selector, "%06x", static_cast<unsigned>(s));
        bool ok = mib_set_logic(port, "0.6.1", selector) == 0 &&
                  mib_read_by_name(port, "0.6.7", us.data(), kWordBudget) == 0;
        std::snprintf(selector, sizeof selector, "%06x", static_cast<unsigned>(s) | kDownstreamSegment);
        ok = ok && mib_set_logic(port, "0.6.1", selector) == 0 &&
             mib_read_by_name(port, "0.6.7", ds.data(), kWordBudget) == 0;
        if (!ok) {
            result = 1;
            break;
        }
        for (int j = 0; j < kSegmentTones; j++)
            lines.tone(kSegmentTones * (s - 1) + j + 1, us.data(), ds.data(), j);
    }
    lines.finish();
    return result;
}

}  // namespace

extern "C" int export_hlog(int port, FILE *copy, int refresh)
{
    return export_db(kHlog, port, copy, refresh);
}

extern "C" int export_qln(int port, FILE *copy, int refresh) { return export_db(kQln, port, copy, refresh); }

extern "C" int export_snr(int port, FILE *copy, int refresh) { return export_db(kSnr, port, copy, refresh); }

extern "C" int export_hlin(int port, FILE *copy)
{
    // Without the scale no value could be told; the read's failure is the result.
    int32_t scale_word = 0;
    if (int rc = mib_get_int24(port, "0.4.2", &scale_word))
        return rc;
    const auto scale = static_cast<uint32_t>(scale_word);
    int32_t profile = active_profile(port);
    if (int rc = ebm_socket_reopen())
        return rc;
    std::vector<unsigned char> real = no_measurement(), imaginary = no_measurement();
    if (int rc = mib_read_by_name(port, "0.6.2", real.data(), kWordBudget))
        return rc;
    if (int rc = mib_read_by_name(port, "0.6.3", imaginary.data(), kWordBudget))
        return rc;

    File out = open_export("scseg_lin.txt");
    cli_print(CLI_LEVEL_ORDINARY, "H(f) linear representation of Line %d :", port + 1);
    cli_print(CLI_LEVEL_ORDINARY, "%9s %20s   %20s", "Tone No.", "Real", "Imaginary");
    put(copy, "H(f) linear representation of Line %d :", port + 1);
    put(copy, "%9s %20s   %20s", "Tone No.", "Real", "Imaginary");
    for (int i = 1; i <= kEntries; i++) {
        int re = lin_part(real, i - 1), im = lin_part(imaginary, i - 1);
        if (re == kLinNoMeasurement && im == kLinNoMeasurement)
            continue;
        ToneLabel t = label_of(i, profile);
        std::string label =
            profile != 0 ? format("%4d-%4d|", t.first, t.last) : format("%4d.%d|", t.first, t.last);
        auto screen_part = [&](int part) {
            return part == kLinNoMeasurement ? format("%20s", "NA")
                                             : format("%20.10f", static_cast<double>(lin_value(scale, part)));
        };
        auto file_part = [&](int part) {
            return part == kLinNoMeasurement ? std::string()
                                             : format("%.10f", static_cast<double>(lin_value(scale, part)));
        };
        std::string re_text = screen_part(re), im_text = screen_part(im);
        cli_print(CLI_LEVEL_ORDINARY, "%s%s   %s", label.c_str(), re_text.c_str(), im_text.c_str());
        put(copy, "%s%s%s", label.c_str(), re_text.c_str(), im_text.c_str());
        if (profile != 0)
            put(out.get(), "%d-%d=", t.first, t.last);
        else
            put(out.get(), "%d.%d=", t.first, t.last);
        put(out.get(), "%s,%s|", file_part(re).c_str(), file_part(im).c_str());
    }
    return 0;
}

extern "C" int export_bits_alloc(int port, FILE *copy) { return export_allocation(false, port, copy); }

extern "C" int export_gain_alloc(int port, FILE *copy) { return export_allocation(true, port, copy); }
