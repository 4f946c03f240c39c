// Parameter commands: one value of a named profile, checked and handed to
// the store; the chip sees it when a template is applied.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli_command.h"
#include "cli_print.h"
#include "firmware_package.h"
#include "psd_mask.h"
#include "profile_tables.h"
#include "store_internal.h"

namespace profiles {

namespace {

const char kHeaderA[] = "Usage: cmd <profile_name> <value-dec>";
const char kHeaderB[] = "Usage:\tcmd <profile_name> <value-dec>";

int usage(std::initializer_list<const char *> lines)
{
    for (const char *l : lines)
        cli_print(CLI_LEVEL_ORDINARY, "%s", l);
    return CLI_USAGE;
}

constexpr int kUsageLines = 8;

// A row's usage lines, ended by the first null.
int usage(const char *const (&lines)[kUsageLines])
{
    for (const char *l : lines)
        if (l)
            cli_print(CLI_LEVEL_ORDINARY, "%s", l);
    return CLI_USAGE;
}

enum class Check { Range, SignedRange, UpboKlf, HandshakeTone };

struct NumericSetter {
    const char *word;
    int type;
    const char *oid;
    long long low, high;
    Check check;
    const char *usage[kUsageLines];
};

#define DEC                                                                                                  \
    {                                                                                                        \
        kHeaderA                                                                                             \
    }
#define RATE                                                                                                 \
    {                                                                                                        \
        kHeaderA, "value:0-200000 kbps"                                                                      \
    }
#define SNR                                                                                                  \
    {                                                                                                        \
        kHeaderA, "value:0-310"                                                                              \
    }
#define RA_MARGIN                                                                                            \
    {                                                                                                        \
        kHeaderB, "value:0-310"                                                                              \
    }
#define RA_MODE                                                                                              \
    {                                                                                                        \
        kHeaderB, "value:1-3", "1:manual", "2:raInit", "3:dynamicRa"                                         \
    }
#define V16383                                                                                               \
    {                                                                                                        \
        kHeaderB, "value:0-16383"                                                                            \
    }
#define DIS_EN                                                                                               \
    {                                                                                                        \
        kHeaderB, "value:1-2", "1:disable", "2:enable"                                                       \
    }
#define CABLE                                                                                                \
    {                                                                                                        \
        kHeaderB, "value:0-640"                                                                              \
    }
#define PSD_B                                                                                                \
    {                                                                                                        \
        kHeaderB, "value:0-4095"                                                                             \
    }
#define PSD_A                                                                                                \
    {                                                                                                        \
        kHeaderB, "value:4000-8095"                                                                          \
    }
#define ATP                                                                                                  \
    {                                                                                                        \
        kHeaderB, "value:0-205 units 0.1dBm"                                                                 \
    }
#define NOMPSD                                                                                               \
    {                                                                                                        \
        kHeaderB, "value:-300~-600 units 0.1dBm/Hz"                                                          \
    }

const NumericSetter kNumeric[] = {
    {"cvThresXtuc", 6, "0.15.2", 0, 8388607, Check::Range, DEC},
    {"correctedThresXtuc", 6, "0.15.3", 0, 8388607, Check::Range, DEC},
    {"cvThresXtur", 6, "0.15.4", 0, 8388607, Check::Range, DEC},
    {"correctedThresXtur", 6, "0.15.5", 0, 8388607, Check::Range, DEC},
    {"xtucFecs", 5, "0.14.2", 0, 8388607, Check::Range, DEC},
    {"xtucEs", 5, "0.14.3", 0, 8388607, Check::Range, DEC},
    {"xtucSes", 5, "0.14.4", 0, 8388607, Check::Range, DEC},
    {"xtucLoss", 5, "0.14.5", 0, 8388607, Check::Range, DEC},
    {"xtucUas", 5, "0.14.6", 0, 8388607, Check::Range, DEC},
    {"xturFecs", 5, "0.14.7", 0, 8388607, Check::Range, DEC},
    {"xturEs", 5, "0.14.8", 0, 8388607, Check::Range, DEC},
    {"xturSes", 5, "0.14.9", 0, 8388607, Check::Range, DEC},
    {"xturLoss", 5, "0.14.10", 0, 8388607, Check::Range, DEC},
    {"xturUas", 5, "0.14.11", 0, 8388607, Check::Range, DEC},
    {"fullInt", 5, "0.14.12", 0, 8388607, Check::Range, DEC},
    {"shrtInt", 5, "0.14.13", 0, 8388607, Check::Range, DEC},
    {"minDataRateDsCh1", 3, "0.12.2", 0, 200000, Check::Range, RATE},
    {"minDataRateUsCh1", 3, "0.12.3", 0, 200000, Check::Range, RATE},
    {"maxDataRateDsCh1", 3, "0.12.6", 0, 200000, Check::Range, RATE},
    {"maxDataRateUsCh1", 3, "0.12.7", 0, 200000, Check::Range, RATE},
    {"maxDelayDsCh1", 3, "0.12.10", 0, 255, Check::Range, {kHeaderA, "value: 0-255 ms"}},
    {"maxDelayUsCh1", 3, "0.12.11", 0, 255, Check::Range, {kHeaderA, "value: 0-255 ms"}},
    {"minInpDsCh1", 3, "0.12.12", 1, 18, Check::Range, {kHeaderA, "value:1-18"}},
    {"minInpUsCh1", 3, "0.12.13", 1, 18, Check::Range, {kHeaderA, "value:1-18"}},
    {"minInp8DsCh1", 3, "0.12.14", 1, 17, Check::Range, {kHeaderA, "value:1-17"}},
    {"minInp8UsCh1", 3, "0.12.15", 1, 17, Check::Range, {kHeaderA, "value:1-17"}},
    {"targetSnrmDs", 2, "0.9.16", 0, 310, Check::Range, SNR},
    {"targetSnrmUs", 2, "0.9.17", 0, 310, Check::Range, SNR},
    {"maxSnrmDs", 2, "0.9.18", 0, 310, Check::Range, SNR},
    {"maxSnrmUs", 2, "0.9.19", 0, 310, Check::Range, SNR},
    {"minSnrmDs", 2, "0.9.20", 0, 310, Check::Range, SNR},
    {"minSnrmUs", 2, "0.9.21", 0, 310, Check::Range, SNR},
    {"handshakeTone",
     2,
     "1.1.1",
     0,
     7,
     Check::HandshakeTone,
     {kHeaderA, "value:0 , 1 , 2 , 7", "0:auto", "1:A43", "2:B43", "7:V43"}},
    {"upboKLF", 2, "0.9.45", 1, 3, Check::UpboKlf, {kHeaderB, "value:1-3", "1:auto", "3:disableUpbo"}},
    {"upboPsdA0", 2, "0.11.2", 4000, 8095, Check::Range, PSD_A},
    {"upboPsdB0", 2, "0.11.3", 0, 4095, Check::Range, PSD_B},
    {"upboPsdA1", 2, "0.11.2.2", 4000, 8095, Check::Range, PSD_A},
    {"upboPsdB1", 2, "0.11.3.2", 0, 4095, Check::Range, PSD_B},
    {"upboPsdA2", 2, "0.11.2.3", 4000, 8095, Check::Range, PSD_A},
    {"upboPsdB2", 2, "0.11.3.3", 0, 4095, Check::Range, PSD_B},
    {"upboPsdA3", 2, "0.11.2.4", 4000, 8095, Check::Range, PSD_A},
    {"upboPsdB3", 2, "0.11.3.4", 0, 4095, Check::Range, PSD_B},
    {"dpboEsEL", 2, "0.9.37", 0, 511, Check::Range, {kHeaderB, "value:0-511"}},
    {"dpboEsCableModelA", 2, "0.9.38", 0, 640, Check::Range, CABLE},
    {"dpboEsCableModelB", 2, "0.9.39", 0, 640, Check::Range, CABLE},
    {"dpboEsCableModelC", 2, "0.9.40", 0, 640, Check::Range, CABLE},
    {"dpboMus", 2, "0.9.41", 0, 255, Check::Range, {kHeaderB, "value:0-255"}},
    {"dpboFMin", 2, "0.9.42", 0, 2048, Check::Range, {kHeaderB, "value:0-2048"}},
    {"dpboFMax", 2, "0.9.43", 32, 6956, Check::Range, {kHeaderB, "value:32-6956"}},
    {"raModeDs", 2, "0.9.6", 1, 3, Check::Range, RA_MODE},
    {"raModeUs", 2, "0.9.7", 1, 3, Check::Range, RA_MODE},
    {"raUsNrmDs", 2, "0.9.8", 0, 310, Check::Range, RA_MARGIN},
    {"raUsNrmUs", 2, "0.9.9", 0, 310, Check::Range, RA_MARGIN},
    {"raUsTimeDs", 2, "0.9.10", 0, 16383, Check::Range, V16383},
    {"raUsTimeUs", 2, "0.9.11", 0, 16383, Check::Range, V16383},
    {"raDsNrmDs", 2, "0.9.12", 0, 310, Check::Range, RA_MARGIN},
    {"raDsNrmUs", 2, "0.9.13", 0, 310, Check::Range, RA_MARGIN},
    {"raDsTimeDs", 2, "0.9.14", 0, 16383, Check::Range, V16383},
    {"raDsTimeUs", 2, "0.9.15", 0, 16383, Check::Range, V16383},
    {"snrModeDs", 2, "0.9.25", 1, 2, Check::Range, DIS_EN},
    {"snrModeUs", 2, "0.9.26", 1, 2, Check::Range, DIS_EN},
    {"maxNomAtpDs", 2, "0.10.4", 0, 205, Check::Range, ATP},
    {"maxNomAtpUs", 2, "0.10.5", 0, 205, Check::Range, ATP},
    {"maxNomPsdDs", 2, "0.10.2", -600, -300, Check::SignedRange, NOMPSD},
    {"maxNomPsdUs", 2, "0.10.3", -600, -300, Check::SignedRange, NOMPSD},
    {"automodeColdStart", 2, "0.1.10", 0, 1, Check::Range, {kHeaderB, "value:0-1", "0:off", "1:on"}},
    {"automodeLength", 2, "1.1.69", 1500, 3900, Check::Range, {kHeaderB, "value:1500-3900"}},
    {"bandConfig",
     2,
     "0.9.57",
     0,
     2,
     Check::Range,
     {kHeaderB, "value:0-2", "0:ALL_TONE_ON", "1:DISABLE_1100K_BELOW", "2:DISABLE_2200K_BELOW",
      "\nWARNING:If you will choice 1 or 2", "\tsuggest set us0 disable,please refer us0disable command"}},
};

const NumericSetter *numeric(const char *word)
{
    for (const NumericSetter &s : kNumeric)
        if (std::strcmp(s.word, word) == 0)
            return &s;
    return nullptr;
}

// The value word by C's decimal conversion: leading sign and digits.
bool decimal(const std::string &word, long long &value)
{
    char *end;
    value = std::strtoll(word.c_str(), &end, 10);
    return end != word.c_str();
}

int run_numeric(const NumericSetter &s, char *rest)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    long long v = 0;
    bool ok = w.size() >= 2 && decimal(w[1], v);
    if (ok) {
        if (s.check == Check::SignedRange) {
            ok = v >= s.low && v <= s.high;
        } else {
            // Compared as unsigned 32-bit, as typed: a negative value fails.
            uint32_t u = static_cast<uint32_t>(v);
            if (v < 0 || v > 0xffffffffLL)
                ok = false;
            else if (s.check == Check::UpboKlf)
                ok = (u & ~2u) == 1;
            else if (s.check == Check::HandshakeTone)
                ok = u < 3 || u == 7;
            else
                ok = u >= s.low && u <= s.high;
        }
    }
    if (!ok)
        return usage(s.usage);
    if (std::strcmp(s.word, "bandConfig") == 0) {
        cli_print(CLI_LEVEL_ORDINARY, "\nWARNING:If you will choice 1 or 2");
        cli_print(CLI_LEVEL_ORDINARY, "\tsuggest set us0 disable,please refer us0disable command");
    }
    if (s.check == Check::SignedRange) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", static_cast<uint32_t>(static_cast<int32_t>(v)));
        return update_profile_value_fun(w[0].c_str(), s.type, s.oid, nullptr, 0, hex + std::strlen(hex) - 6);
    }
    return update_profile_value_fun(w[0].c_str(), s.type, s.oid, nullptr, static_cast<uint32_t>(v), nullptr);
}

struct WordSetter {
    const char *word;
    const char *first, *second;
};

const WordSetter kWordSetters[] = {{"led", "on", "off"},
                                   {"bitSwapUs", "on", "off"},
                                   {"bitSwapDs", "on", "off"},
                                   {"us0disable", "allow", "disable"}};

int run_word(const WordSetter &s, char *rest)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.size() < 2 || (w[1] != s.first && w[1] != s.second)) {
        if (std::strcmp(s.first, "on") == 0)
            return usage({"Usage: cmd <profile_name> <option>", "option:\ton", "\toff"});
        return usage({"Usage: cmd <profile_name> <option>", "option:\tallow", "\tdisable"});
    }
    return update_profile_value_fun(w[0].c_str(), PROFILE_LINE, nullptr, s.word, 0, w[1].c_str());
}

struct SubProfile {
    const char *word;
    const char *prefix;
    int user_type;  // 0: system profiles only
    const char *refusal;
};

const SubProfile kSubProfiles[] = {
    {"SYS", "SYS_", 0, "Not support %s System Profile Bandplan"},
    {"BND", "BND_", 0, "Not support %s Band Profile"},
    {"VNS", "VNS_", 7, "Not support %s Virtual Noise PSD"},
    {"PSD", "PSD_", 10, "Not support %s PSD"},
    {"RFI", "RFI_", 9, "Not support %s RFI"},
    {"DPB", "DPB_", 8, "Not support %s DpboPsd"},
};

void sub_profile_lists(const SubProfile &s)
{
    sysprof_list(1, 0, s.prefix, nullptr);
    if (s.user_type)
        display_vdsl_profiles_fun(nullptr, s.user_type, 0);
}

// The VDSL2 profile mask a band profile allows, from its "0.9.35" entry.
bool band_mask_limit(const char *band, uint32_t &h, uint32_t &limit)
{
    char value[SYSPROF_VALUE_SIZE] = "";
    if (sysprof_find("BND_", band, "0.9.35", value, sizeof value) != 0)
        return false;
    h = hex_text_to_uint(value, static_cast<int>(strnlen(value, 8)));
    limit = h == 16 ? 63 : 2 * h - 1;
    return true;
}

int run_sub_profile(const SubProfile &s, char *rest)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.size() < 2) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <profile_name> <value>");
        sub_profile_lists(s);
        return CLI_USAGE;
    }
    if (refuse_default(w[0].c_str()))
        return CLI_USAGE;
    bool known =
        sysprof_exists(s.prefix, w[1].c_str()) == 0 || (s.user_type && find(s.user_type, w[1].c_str()));
    if (!known) {
        cli_print(CLI_LEVEL_ORDINARY, s.refusal, w[1].c_str());
        sub_profile_lists(s);
        return CLI_USAGE;
    }
    int rc = update_profile_value_fun(w[0].c_str(), PROFILE_LINE, nullptr, s.word, 0, w[1].c_str());
    if (rc != 0 || std::strcmp(s.word, "BND") != 0)
        return rc;
    static const char *const kLimits[] = {"0.10.4", "0.10.5", "0.10.2", "0.10.3"};
    for (const char *oid : kLimits) {
        char value[SYSPROF_VALUE_SIZE] = "";
        if (sysprof_find("BND_", w[1].c_str(), oid, value, sizeof value) == 0)
            update_profile_value_fun(w[0].c_str(), PROFILE_LINE, oid, nullptr, 0, value);
    }
    uint32_t h, limit;
    if (band_mask_limit(w[1].c_str(), h, limit))
        update_profile_value_fun(w[0].c_str(), PROFILE_LINE, "0.9.35", nullptr, limit, nullptr);
    return 0;
}

int run_profile_mask(char *rest)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.size() < 2 || w[1].size() != 8)
        return usage({"Usage: cmd <profile_name> <8 bit bitmasks>", "\t0 : non-active", "\t1 : active\n",
                      "Bit 7:30a, Bit 6:17a, Bit 5:12b, Bit 4:12a",
                      "Bit 3:8d,  Bit 2:8c,  Bit 1:8b,  Bit 0:8a", "ex:", "active 30a:",
                      "cmd <profile_name> 10000000", "active 30a,12b:", "cmd <profile_name> 10100000",
                      "active 30a,17a,12b,12a,8d,8c,8b,8a:", "cmd <profile_name> 11111111"});
    uint32_t m = 0;
    for (char c : w[1]) {
        if (c != '0' && c != '1') {
            cli_print(CLI_LEVEL_ORDINARY, "input value is not binary value");
            return CLI_USAGE;
        }
        m = m << 1 | static_cast<uint32_t>(c - '0');
    }
    if (m == 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Least choice one bit");
        return CLI_USAGE;
    }
    const profile_record *lp = find(PROFILE_LINE, w[0].c_str());
    if (!lp) {
        cli_print(CLI_LEVEL_ORDINARY, "%s Line Profile No Exist", w[0].c_str());
        return CLI_USAGE;
    }
    const std::string &band = lp->values[1];
    uint32_t h, limit;
    // A band profile the package does not hold sets no limit beyond the
    // eight bits themselves.
    if (band_mask_limit(band.c_str(), h, limit) && m > limit) {
        if (limit == 127)
            cli_print(CLI_LEVEL_ORDINARY, "This BND(%s) only support 17a,12b/a,8d/c/b/a", band.c_str());
        else if (limit == 63)
            cli_print(CLI_LEVEL_ORDINARY, "This BND(%s) only support 12b/a,8d/c/b/a", band.c_str());
        else if (limit == 15)
            cli_print(CLI_LEVEL_ORDINARY, "This BND(%s) only support 8d/c/b/a", band.c_str());
        return CLI_USAGE;
    }
    return update_profile_value_fun(w[0].c_str(), PROFILE_LINE, "0.9.35", nullptr, m, nullptr);
}

int run_iot(char *rest)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    long long v = 0;
    if (w.size() < 2 || !decimal(w[1], v))
        return usage({"Usage: cmd <profile_name> <value>", "value:0-65535"});
    if (refuse_default(w[0].c_str()))
        return CLI_USAGE;
    if (v < 0 || v >= 65536) {
        cli_print(CLI_LEVEL_ORDINARY, "over integer range");
        return CLI_USAGE;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
    return update_profile_value_fun(w[0].c_str(), PROFILE_LINE, "10.1.1.8", nullptr, 0, text);
}

struct BreakpointSetter {
    const char *word;
    int type;
    const char *oid;
    int words;  // index range 1..words
    bool rfi;
    float low, high;  // level range
    size_t hex_length;
    const char *usage[kUsageLines];
};

const char kBpUsage[] = "Usage:\tcmd <profile_name> <index> <tone> <nlevel>";
const char kRfiUsage[] = "Usage:\tcmd <profile_name> <index> <start_tone> <end_tone>";
const char kHexUsage[] = "Usage:\tcmd <profile_name> <mibs-value>";

const BreakpointSetter kBreakpoints[] = {
    {"vn-set-ds",
     7,
     "0.9.27",
     32,
     false,
     -140.0f,
     -40.0f,
     192,
     {kBpUsage, "index:1~32", "tone:0~7000 (4.3125kHz)", "nlevel:-40~-140 dBm/Hz", kHexUsage,
      "mibs-value is 192 hex encode"}},
    {"vn-set-us",
     7,
     "0.9.28",
     16,
     false,
     -140.0f,
     -40.0f,
     96,
     {kBpUsage, "index:1~16", "tone:0~7000 (4.3125kHz)", "nlevel:-40~-140 dBm/Hz", kHexUsage,
      "mibs-value is 96 hex encode"}},
    {"dpb-set",
     8,
     "0.9.36",
     32,
     false,
     -127.5f,
     0.0f,
     192,
     {kBpUsage, "index:1~32", "tone:0~7000 (4.3125kHz)", "nlevel:-127.5~0 dBm/Hz", kHexUsage,
      "mibs-value is 192 hex encode"}},
    {"psd-set-ds",
     10,
     "0.10.14",
     40,
     false,
     -127.5f,
     0.0f,
     240,
     {kBpUsage, "index:1~40", "tone:0~7000 (4.3125kHz)", "nlevel:0~-127.5 dBm/Hz", kHexUsage,
      "mibs-value is 240 hex encode"}},
    {"psd-set-us",
     10,
     "0.10.15",
     40,
     false,
     -127.5f,
     0.0f,
     240,
     {kBpUsage, "index:1~40", "tone:0~7000 (4.3125kHz)", "nlevel:0~-127.5 dBm/Hz", kHexUsage,
      "mibs-value is 240 hex encode"}},
    {"rfi-set",
     9,
     "0.9.5",
     16,
     true,
     0.0f,
     0.0f,
     192,
     {kRfiUsage, "index:1~16", "tone:0~7000 (4.3125kHz)", kHexUsage, "mibs-value is 192 hex encode"}},
};

int run_breakpoint(const BreakpointSetter &s, char *rest)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.size() == 2) {
        if (w[1].size() != s.hex_length)
            return usage(s.usage);
        if (check_hex_string(w[1].c_str()) != 0)
            return CLI_USAGE;
        return update_profile_value_fun(w[0].c_str(), s.type, s.oid, nullptr, 0, w[1].c_str());
    }
    if (w.size() != 4)
        return usage(s.usage);
    long long index, tone;
    char *end;
    if (!decimal(w[1], index) || !decimal(w[2], tone) || index < 1 || index > s.words || tone < 0 ||
        tone > 7000)
        return usage(s.usage);
    if (s.rfi) {
        long long stop;
        if (!decimal(w[3], stop) || stop < 0 || stop > 7000)
            return usage(s.usage);
        int rc = update_psd_type_profile_fun(w[0].c_str(), s.type, s.oid, static_cast<int>(2 * index - 1),
                                             static_cast<int>(tone), 0.0f);
        if (rc != 0)
            return rc;
        return update_psd_type_profile_fun(w[0].c_str(), s.type, s.oid, static_cast<int>(2 * index),
                                           static_cast<int>(stop), 0.0f);
    }
    float level = std::strtof(w[3].c_str(), &end);
    if (end == w[3].c_str() || !(level >= s.low && level <= s.high))
        return usage(s.usage);
    return update_psd_type_profile_fun(w[0].c_str(), s.type, s.oid, static_cast<int>(index),
                                       static_cast<int>(tone), level);
}

}  // namespace

}  // namespace profiles

using namespace profiles;

#define NUMERIC(word)                                                                                        \
    extern "C" int cmd_set_##word(char *rest, const cli_dir_row *)                                           \
    {                                                                                                        \
        return run_numeric(*numeric(#word), rest);                                                           \
    }
NUMERIC(cvThresXtuc)
NUMERIC(correctedThresXtuc)
NUMERIC(cvThresXtur)
NUMERIC(correctedThresXtur)
NUMERIC(xtucFecs)
NUMERIC(xtucEs)
NUMERIC(xtucSes)
NUMERIC(xtucLoss)
NUMERIC(xtucUas)
NUMERIC(xturFecs)
NUMERIC(xturEs)
NUMERIC(xturSes)
NUMERIC(xturLoss)
NUMERIC(xturUas)
NUMERIC(fullInt)
NUMERIC(shrtInt)
NUMERIC(minDataRateDsCh1)
NUMERIC(minDataRateUsCh1)
NUMERIC(maxDataRateDsCh1)
NUMERIC(maxDataRateUsCh1)
NUMERIC(maxDelayDsCh1)
NUMERIC(maxDelayUsCh1)
NUMERIC(minInpDsCh1)
NUMERIC(minInpUsCh1)
NUMERIC(minInp8DsCh1)
NUMERIC(minInp8UsCh1)
NUMERIC(targetSnrmDs)
NUMERIC(targetSnrmUs)
NUMERIC(maxSnrmDs)
NUMERIC(maxSnrmUs)
NUMERIC(minSnrmDs)
NUMERIC(minSnrmUs)
NUMERIC(handshakeTone)
NUMERIC(upboKLF)
NUMERIC(upboPsdA0)
NUMERIC(upboPsdB0)
NUMERIC(upboPsdA1)
NUMERIC(upboPsdB1)
NUMERIC(upboPsdA2)
NUMERIC(upboPsdB2)
NUMERIC(upboPsdA3)
NUMERIC(upboPsdB3)
NUMERIC(dpboEsEL)
NUMERIC(dpboEsCableModelA)
NUMERIC(dpboEsCableModelB)
NUMERIC(dpboEsCableModelC)
NUMERIC(dpboMus)
NUMERIC(dpboFMin)
NUMERIC(dpboFMax)
NUMERIC(raModeDs)
NUMERIC(raModeUs)
NUMERIC(raUsNrmDs)
NUMERIC(raUsNrmUs)
NUMERIC(raUsTimeDs)
NUMERIC(raUsTimeUs)
NUMERIC(raDsNrmDs)
NUMERIC(raDsNrmUs)
NUMERIC(raDsTimeDs)
NUMERIC(raDsTimeUs)
NUMERIC(snrModeDs)
NUMERIC(snrModeUs)
NUMERIC(maxNomAtpDs)
NUMERIC(maxNomAtpUs)
NUMERIC(maxNomPsdDs)
NUMERIC(maxNomPsdUs)
NUMERIC(automodeColdStart)
NUMERIC(automodeLength)
NUMERIC(bandConfig)
#undef NUMERIC

extern "C" int cmd_set_led(char *rest, const cli_dir_row *) { return run_word(kWordSetters[0], rest); }

extern "C" int cmd_set_bitSwapUs(char *rest, const cli_dir_row *) { return run_word(kWordSetters[1], rest); }

extern "C" int cmd_set_bitSwapDs(char *rest, const cli_dir_row *) { return run_word(kWordSetters[2], rest); }

extern "C" int cmd_set_us0disable(char *rest, const cli_dir_row *) { return run_word(kWordSetters[3], rest); }

#define SUB(word, i)                                                                                         \
    extern "C" int cmd_set_##word(char *rest, const cli_dir_row *)                                           \
    {                                                                                                        \
        return run_sub_profile(kSubProfiles[i], rest);                                                       \
    }
SUB(SYS, 0)
SUB(BND, 1)
SUB(VNS, 2)
SUB(PSD, 3)
SUB(RFI, 4)
SUB(DPB, 5)
#undef SUB

extern "C" int cmd_set_profiles(char *rest, const cli_dir_row *) { return run_profile_mask(rest); }

extern "C" int cmd_set_IOT(char *rest, const cli_dir_row *) { return run_iot(rest); }

#define BREAKPOINT(name, i)                                                                                  \
    extern "C" int cmd_##name(char *rest, const cli_dir_row *)                                               \
    {                                                                                                        \
        return run_breakpoint(kBreakpoints[i], rest);                                                        \
    }
BREAKPOINT(vn_set_ds, 0)
BREAKPOINT(vn_set_us, 1)
BREAKPOINT(dpb_set, 2)
BREAKPOINT(psd_set_ds, 3)
BREAKPOINT(psd_set_us, 4)
BREAKPOINT(rfi_set, 5)
#undef BREAKPOINT

extern "C" int cmd_util_getbndpsd(char *rest, const cli_dir_row *)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.empty()) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage:\tcmd <BND profile name>");
        return CLI_USAGE;
    }
    if (sysprof_exists("BND_", w[0].c_str()) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "%s BND profile name isn't exist in system package", w[0].c_str());
        return CLI_USAGE;
    }
    static const struct {
        const char *oid, *format;
    } kFields[] = {{"0.10.4", "maxNomAtpDs:%s|"},
                   {"0.10.5", "maxNomAtpUs:%s|"},
                   {"0.10.2", "maxNomPsdDs:%s|"},
                   {"0.10.3", "maxNomPsdUs:%s|"},
                   {"0.9.35", "profiles:%s|"}};
    for (const auto &f : kFields) {
        char value[SYSPROF_VALUE_SIZE] = "";
        sysprof_find("BND_", w[0].c_str(), f.oid, value, sizeof value);
        cli_print(CLI_LEVEL_ERROR, f.format, value);
    }
    return 0;
}
