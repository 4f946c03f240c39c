// G.INP retransmission settings of "interface xdsl g.inp": nine setters of
// the retransmission configuration (group 3, table 3) and the status table
// (group 3, table 4).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "vdsl_request.h"

namespace {

constexpr int kConfGroup = 3, kConfTable = 3, kStatusTable = 4;
constexpr uint32_t kUnreadable = 0xffffff;

// A bound check of one argument (0-based among the values, port excluded).
struct Check {
    int arg;
    unsigned low, high;
    const char *message;  // with the two bounds
};

// One write: the argument written and the entry's item and name.
struct Write {
    int arg, item;
    const char *name;
};

enum class Kind { Plain, Ndr, Etr };

struct Setter {
    int values;         // 2 or 4
    const char *typed;  // the typed values' line
    std::vector<Check> checks;
    std::vector<Write> writes;
    const char *key;
    std::vector<const char *> usage;  // "%d" placeholders filled from usage_numbers
    std::vector<unsigned> usage_numbers;
    Kind kind;
};

const char kTyped2[] = "portid=%d, us=%d, ds=%d";
const char kTypedInp[] = "portid=%d, us=%d, us8=%d, ds=%d ds8=%d";
const char kTypedRange[] = "portid=%d, us_min=%d, us_max=%d, ds_min=%d, ds_max=%d";
const char kPortLine[] = "  portid: port id, from 1 to the number of port";
const char kUsage2[] = "Usage:cmd <portid> <us> <ds>";
const char kUsageInp[] = "Usage:cmd <portid> <us> <us 8> <ds> <ds 8>";
const char kUsageRange[] = "Usage:cmd <portid> <us min> <us max> <ds min> <ds max>";

const Setter kRetranMode{
    2,
    kTyped2,
    {{0, 0, 3, "Allowed retransmission mode for upstream is %d - %d"},
     {1, 0, 3, "Allowed retransmission mode for downstream is %d - %d"}},
    {{0, 3, "xdslRtxChConfUsRtxMode"}, {1, 2, "xdslRtxChConfDsRtxMode"}},
    "G_INP_RETRAN_MODE",
    {kUsage2, kPortLine, "  us: %d - %d", "  ds: %d - %d", "  0:disable 1:preferred 2:force 3:test"},
    {0, 3, 0, 3},
    Kind::Plain};

const Setter kFreqRein{
    2,
    kTyped2,
    {{0, 0, 1, "Allowed REIN frequency for upstream is %d - %d"},
     {1, 0, 1, "Allowed REIN frequency for downstream is %d - %d"}},
    {{0, 25, "xdslRtxChConfUsIatReinRtx"}, {1, 24, "xdslRtxChConfDsIatReinRtx"}},
    "G_INP_FREQ_REIN",
    {kUsage2, kPortLine, "  us: %d for 100 Hz, %d for 120 Hz", "  ds: %d for 100 Hz, %d for 120 Hz"},
    {0, 1, 0, 1},
    Kind::Plain};

const Setter kInpMinRein{4,
                         kTypedInp,
                         {{0, 0, 7, "Allowed mininum upstream INP for REIN with 4.3125 kHz is %d - %d"},
                          {2, 0, 7, "Allowed mininum downstream INP for REIN with 4.3125 kHz is %d - %d"},
                          {1, 0, 13, "Allowed mininum upstream INP for REIN with 8.625 kHz is %d - %d"},
                          {3, 0, 13, "Allowed mininum downstream INP for REIN with 8.625 kHz is %d - %d"}},
                         {{0, 21, "xdslRtxChConfUsInpMinReinRtx"},
                          {1, 23, "xdslRtxChConfUsInpMin8ReinRtx"},
                          {2, 20, "xdslRtxChConfDsInpMinReinRtx"},
                          {3, 22, "xdslRtxChConfDsInpMin8ReinRtx"}},
                         "G_INP_MIN_INP_REIN",
                         {kUsageInp, kPortLine, "  us  : %d - %d symbol with 4.3125 kHz",
                          "  us 8: %d - %d symbol with 8.625 kHz", "  ds  : %d - %d symbol with 4.3125 kHz",
                          "  ds 8: %d - %d symbol with 8.625 kHz"},
                         {0, 7, 0, 13, 0, 7, 0, 13},
                         Kind::Plain};

const Setter kInpMin{4,
                     kTypedInp,
                     {{0, 0, 63, "Allowed mininum upstream INP for SHINE with 4.3125 kHz is %d - %d"},
                      {2, 0, 63, "Allowed mininum downstream INP for SHINE with 4.3125 kHz is %d - %d"},
                      {1, 0, 127, "Allowed mininum upstream INP for SHINE with 8.625 kHz is %d - %d"},
                      {3, 0, 127, "Allowed mininum downstream INP for SHINE with 8.625 kHz is %d - %d"}},
                     {{0, 15, "xdslRtxChConfUsInpMinShineRtx"},
                      {1, 17, "xdslRtxChConfUsInpMin8ShineRtx"},
                      {2, 14, "xdslRtxChConfDsInpMinShineRtx"},
                      {3, 16, "xdslRtxChConfDsInpMin8ShineRtx"}},
                     "G_INP_MIN_INP_SHINE",
                     {kUsageInp, kPortLine, "  us  : %d - %d symbol with 4.3125 kHz",
                      "  us 8: %d - %d symbol with 8.625 kHz", "  ds  : %d - %d symbol with 4.3125 kHz",
                      "  ds 8: %d - %d symbol with 8.625 kHz"},
                     {0, 63, 0, 127, 0, 63, 0, 127},
                     Kind::Plain};

const Setter kDelay{4,
                    kTypedRange,
                    {{0, 0, 63, "Allowed minimum upstream INP delay is %d - %d"},
                     {1, 1, 63, "Allowed maximum upstream INP delay is %d - %d"},
                     {2, 0, 63, "Allowed minimum downstream INP delay is %d - %d"},
                     {3, 1, 63, "Allowed maximum downstream INP delay is %d - %d"}},
                    {{0, 13, "xdslRtxChConfUsDelayMinRtx"},
                     {1, 11, "xdslRtxChConfUsDelayMaxRtx"},
                     {2, 12, "xdslRtxChConfDsDelayMinRtx"},
                     {3, 10, "xdslRtxChConfDsDelayMaxRtx"}},
                    "G_INP_DELAY",
                    {kUsageRange, kPortLine, "  us min: %d - %d ms", "  us max: %d - %d ms",
                     "  ds min: %d - %d ms", "  ds max: %d - %d ms"},
                    {0, 63, 1, 63, 0, 63, 1, 63},
                    Kind::Plain};

const Setter kLeftr{
    2,
    kTyped2,
    {{0, 0, 99, "Allowed upstream leftr is %d - %d"}, {1, 0, 99, "Allowed downstream leftr is %d - %d"}},
    {{0, 27, "xdslRtxChConfUsLeftrThresh"}, {1, 26, "xdslRtxChConfDsLeftrThresh"}},
    "G_INP_LEFTR",
    {kUsage2, kPortLine, "  us: from %d - %d unit of 0.01", "  ds: from %d - %d unit of 0.01"},
    {0, 99, 0, 99},
    Kind::Plain};

const Setter kShineRatio{
    2,
    kTyped2,
    {{0, 0, 100, "Allowed upstream SHINE ratio is %d - %d"},
     {1, 0, 100, "Allowed downstream SHINE ratio is %d - %d"}},
    {{0, 19, "xdslRtxChConfUsInpShineRatioRtx"}, {1, 18, "xdslRtxChConfDsInpShineRatioRtx"}},
    "G_INP_SHINE_RATIO",
    {kUsage2, kPortLine, "  us: from %d - %d unit of 0.001", "  ds: from %d - %d unit of 0.001"},
    {0, 100, 0, 100},
    Kind::Plain};

const Setter kMaxNdr{
    2,
    kTyped2,
    {{0, 0, 200000, "Allowed upstream NDR is %d - %d"}, {1, 0, 200000, "Allowed downstream NDR is %d - %d"}},
    {{0, 9, "xdslRtxChConfUsMaxNdrRtx"}, {1, 8, "xdslRtxChConfDsMaxNdrRtx"}},
    "G_INP_NDR",
    {kUsage2, kPortLine, "  us: multiples of 8, from %d - %d kbps",
     "  ds: multiples of 8, from %d - %d kbps"},
    {0, 200000, 0, 200000},
    Kind::Ndr};

const Setter kEtr{4,
                  kTypedRange,
                  {},
                  {{0, 5, "xdslRtxChConfUsMinEtrRtx"},
                   {1, 7, "xdslRtxChConfUsMaxEtrRtx"},
                   {2, 4, "xdslRtxChConfDsMinEtrRtx"},
                   {3, 6, "xdslRtxChConfDsMaxEtrRtx"}},
                  "G_INP_ETR",
                  {kUsageRange, kPortLine, "  us min: multiples of 8, from %d - Ndr kbps",
                   "  us max: multiples of 8, from %d - Ndr kbps",
                   "  ds min: multiples of 8, from %d - Ndr kbps",
                   "  ds max: multiples of 8, from %d - Ndr kbps"},
                  {0, 0, 0, 0},
                  Kind::Etr};

constexpr unsigned kNdrLimit = 200000;

void print_usage(const Setter &s)
{
    size_t n = 0;
    for (size_t i = 0; i < s.usage.size(); i++) {
        const char *line = s.usage[i];
        unsigned a = n < s.usage_numbers.size() ? s.usage_numbers[n] : 0;
        unsigned b = n + 1 < s.usage_numbers.size() ? s.usage_numbers[n + 1] : 0;
        int placeholders = 0;
        for (const char *p = std::strstr(line, "%d"); p; p = std::strstr(p + 2, "%d"))
            placeholders++;
        n += static_cast<size_t>(placeholders);
        cli_print(i == 0 ? CLI_LEVEL_ERROR : CLI_LEVEL_ORDINARY, line, static_cast<int>(a),
                  static_cast<int>(b));
    }
}

// The current maximum net data rate of one direction: 0 and the rate, or
// the read's result.
int read_ndr(int port, const char *oid, unsigned *rate)
{
    unsigned char answer[VDSL_BLOCK_SIZE];
    int rc = mib_get_logic(port, oid, answer);
    if (rc != 0) {
        cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
        return rc;
    }
    *rate = static_cast<unsigned>(
        std::strtoul(reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT, nullptr, 16));
    return 0;
}

int run_setter(const Setter &s, const char *rest)
{
    int typed[5];
    int n = s.values == 2
                ? std::sscanf(rest, "%i %i %i", &typed[0], &typed[1], &typed[2])
                : std::sscanf(rest, "%i %i %i %i %i", &typed[0], &typed[1], &typed[2], &typed[3], &typed[4]);
    if (n != s.values + 1) {
        print_usage(s);
        return CLI_USAGE;
    }
    cli_print(CLI_LEVEL_ERROR, s.typed, typed[0], typed[1], typed[2], typed[3], typed[4]);
    int port;
    if (vdsl_port_index(typed[0], &port))
        return CLI_FAILED;
    // Compared unsigned: a negative number fails its check.
    unsigned values[4] = {};
    for (int i = 0; i < s.values; i++)
        values[i] = static_cast<unsigned>(typed[1 + i]);

    if (s.kind == Kind::Ndr) {
        static const char *const kMultiples[] = {"Allowed upstream NDR should be multiples of 8",
                                                 "Allowed downstream NDR should be multiples of 8"};
        for (int i = 0; i < 2; i++)
            if (values[i] % 8) {
                cli_print(CLI_LEVEL_ERROR, "%s", kMultiples[i]);
                return CLI_FAILED;
            }
    }
    if (s.kind == Kind::Etr) {
        // The bounds come from the chip: without them nothing is written.
        unsigned ndr_us = 0, ndr_ds = 0;
        if (int rc = read_ndr(port, "3.3.9", &ndr_us))
            return rc;
        if (int rc = read_ndr(port, "3.3.8", &ndr_ds))
            return rc;
        static const char *const kMultiples[] = {"Allowed minimum upstream ETR should be multiples of 8",
                                                 "Allowed maximum upstream ETR should be multiples of 8",
                                                 "Allowed minimum downstream ETR should be multiples of 8",
                                                 "Allowed maximum downstream ETR should be multiples of 8"};
        static const char *const kRanges[] = {"Allowed minimum upstream ETR should be %d - ndr(%d)",
                                              "Allowed maximum upstream ETR should be %d - ndr(%d)",
                                              "Allowed minimum downstream ETR should be %d - ndr(%d)",
                                              "Allowed maximum downstream ETR should be %d - ndr(%d)"};
        for (int i = 0; i < 4; i++)
            if (values[i] % 8) {
                cli_print(CLI_LEVEL_ERROR, "%s", kMultiples[i]);
                return CLI_FAILED;
            }
        for (int i = 0; i < 4; i++) {
            unsigned ndr = i < 2 ? ndr_us : ndr_ds;
            if (values[i] > kNdrLimit || values[i] > ndr) {
                cli_print(CLI_LEVEL_ERROR, kRanges[i], 0, static_cast<int>(ndr));
                return CLI_FAILED;
            }
        }
    }
    for (const Check &c : s.checks) {
        unsigned x = values[c.arg];
        if (x < c.low || x > c.high) {
            cli_print(CLI_LEVEL_ERROR, c.message, static_cast<int>(c.low), static_cast<int>(c.high));
            return CLI_FAILED;
        }
    }

    int first_failure = 0;
    for (const Write &w : s.writes) {
        char oid[32], value[16];
        std::snprintf(oid, sizeof oid, "%d.%d.%d", kConfGroup, kConfTable, w.item);
        std::snprintf(value, sizeof value, "%06x", values[w.arg]);
        int rc = mib_set_logic(port, oid, value);
        cli_print(CLI_LEVEL_ERROR, rc == 0 ? "MIB value has set." : "Error setting MIB value.");
        cli_printf_raw("OID: %s - %s: 0x%s\n", oid, w.name, value);
        if (rc != 0 && first_failure == 0)
            first_failure = rc;
    }
    // A write that failed is the command's result, whatever came after it.
    if (first_failure != 0)
        return first_failure;
    std::string stored;
    for (int i = 0; i < s.values; i++)
        stored += (i ? "@" : "") + std::to_string(typed[1 + i]);
    return cfgmgr_write(s.key, stored.c_str());
}

}  // namespace

extern "C" int cmd_ginp_retran_mode(char *rest, const cli_dir_row *) { return run_setter(kRetranMode, rest); }
extern "C" int cmd_ginp_freq_rein(char *rest, const cli_dir_row *) { return run_setter(kFreqRein, rest); }
extern "C" int cmd_ginp_inp_min_rein(char *rest, const cli_dir_row *)
{
    return run_setter(kInpMinRein, rest);
}
extern "C" int cmd_ginp_inp_min(char *rest, const cli_dir_row *) { return run_setter(kInpMin, rest); }
extern "C" int cmd_ginp_delay(char *rest, const cli_dir_row *) { return run_setter(kDelay, rest); }
extern "C" int cmd_ginp_leftr(char *rest, const cli_dir_row *) { return run_setter(kLeftr, rest); }
extern "C" int cmd_ginp_shine_ratio(char *rest, const cli_dir_row *) { return run_setter(kShineRatio, rest); }
extern "C" int cmd_ginp_max_ndr(char *rest, const cli_dir_row *) { return run_setter(kMaxNdr, rest); }
extern "C" int cmd_ginp_etr(char *rest, const cli_dir_row *) { return run_setter(kEtr, rest); }

extern "C" int cmd_ginp_table(char *rest, const cli_dir_row *)
{
    static const char *const kNames[] = {
        "Unit",       "RtxUsed",     "Etr",      "Eftr",       "EftrMin",         "ActInpShine",
        "ActInpRein", "ActDelayRtx", "LeftrsHi", "LeftrsLo",   "ErrorFreeBitsHi", "ErrorFreeBitsLo",
        "RtxUc",      "RtxC",        "RtxTx",    "RtxSupport", "ActNdr",          "PreviousEtr"};
    int number;
    if (std::sscanf(rest, "%i", &number) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage:cmd <portid>");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ERROR, "%15s %10s %10s", "Table Name", "OT", "RT");

    auto read_word = [port](const char *oid) {
        unsigned char answer[VDSL_BLOCK_SIZE];
        if (mib_get_logic(port, oid, answer) != 0)
            return kUnreadable;
        return static_cast<uint32_t>(
            std::strtoul(reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT, nullptr, 16));
    };
    uint32_t near[18], far[18];
    char oid[32];
    for (int item = 1; item <= 18; item++) {
        if (item == 2) {
            // One word for both ends.
            std::snprintf(oid, sizeof oid, "%d.%d.%d", kConfGroup, kStatusTable, item);
            uint32_t w = read_word(oid);
            near[1] = w == kUnreadable ? w : (w >> 4) & 0xF;
            far[1] = w == kUnreadable ? w : w & 0xF;
            continue;
        }
        for (int end = 1; end <= 2; end++) {
            std::snprintf(oid, sizeof oid, "%d.%d.%d.%d", kConfGroup, kStatusTable, item, end);
            (end == 1 ? near : far)[item - 1] = read_word(oid);
        }
    }
    for (int r = 0; r < 18; r++)
        cli_print(CLI_LEVEL_ERROR, "%-15s %10x %10x", kNames[r], near[r], far[r]);
    return CLI_DONE;
}
