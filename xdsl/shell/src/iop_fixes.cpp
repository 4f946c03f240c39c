// The interoperability fix actions: single bits of the chip's two fix
// control words and four limits, their table, and the fix file's lines.
#include "iop_fixes.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli_print.h"
#include "vdsl_request.h"

const char *iop_config_dir = "/etc/config/iop/";

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 100;
constexpr long kWordMax = 0xFFFFFF;

struct Fix {
    const char *name;
    const char *args;
    const char *on_off;
    const char *word;  // the control word
    uint32_t bit;
    const char *limit;  // the limit entry of a two-argument fix
};

constexpr const char *kOnOff = "<on/off>";
constexpr Fix kCsRrMode{"IOP_FIX_TOPLVL_GHS_CS_RR_MODE", kOnOff, "on=1, off=0", "2.1.440", 0x000001, nullptr};
constexpr Fix kDisRxpgaAdj{
    "IOP_FIX_TOPLVL_GHS_DIS_RXPGA_ADJ", kOnOff, "on=1, off=0", "2.1.440", 0x000002, nullptr};
constexpr Fix kRelaxedDtct{
    "IOP_FIX_TOPLVL_GHS_RELAXED_DTCT", kOnOff, "on=1, off=0", "2.1.440", 0x000004, nullptr};
constexpr Fix kSwitch17a{
    "IOP_FIX_TOPLVL_30A_SWITCH_17A", kOnOff, "on=1; off=0", "2.1.440", 0x000008, nullptr};
constexpr Fix kReduceQuiet1{
    "IOP_FIX_TOPLVL_REDUCE_QUIET1", kOnOff, "on=1, off=0", "2.1.440", 0x010000, nullptr};
constexpr Fix kUsTone{"IOP_FIX_TOPLVL_LIMIT_US_TONE",
                      "<on/off> [<limit us tone number>]",
                      "on=1, off=0",
                      "2.1.441",
                      0x000001,
                      "2.1.444"};
constexpr Fix kDsTone{"IOP_FIX_TOPLVL_LIMIT_DS_TONE",
                      "<on/off> [<limit ds tone number>]",
                      "on=1, off=0",
                      "2.1.441",
                      0x000002,
                      "2.1.445"};
constexpr Fix kUsRate{"IOP_FIX_TOPLVL_LIMIT_US_RATE",
                      "<on/off> [<limit us rate value>]",
                      "on=1, off=0",
                      "2.1.441",
                      0x000004,
                      "2.1.446"};
constexpr Fix kDsRate{"IOP_FIX_TOPLVL_LIMIT_DS_RATE",
                      "<on/off> [<limit ds rate value>]",
                      "on=1, off=0",
                      "2.1.441",
                      0x000008,
                      "2.1.447"};

int usage(const Fix &f)
{
    cli_print(CLI_LEVEL_ORDINARY, "%s: %s", f.name, f.args);
    cli_print(CLI_LEVEL_ORDINARY, "%s", f.on_off);
    return kFailed;
}

// Sets or clears the fix's bit. A control word that cannot be read is a
// failure: the fix would silently stay as it was.
int switch_bit(const Fix &f, int port, bool on)
{
    static unsigned char answer[VDSL_BLOCK_SIZE];
    if (mib_get_logic(port, f.word, answer) != 0)
        return kFailed;
    uint32_t word = static_cast<uint32_t>(
        std::strtoul(reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT, nullptr, 16));
    word = on ? word | f.bit : word & ~f.bit;
    char text[16];
    std::snprintf(text, sizeof text, "%06x", word & kWordMax);
    return mib_set_logic(port, f.word, text) == 0 ? kDone : kFailed;
}

// The leading decimal number of a text, as the file and the tool write it.
bool leading_number(const char *text, long *value)
{
    char *end = nullptr;
    errno = 0;
    *value = std::strtol(text, &end, 10);
    return end != text && errno == 0;
}

int one_argument(const Fix &f, int port, const char *param)
{
    long on = 0;
    if (!leading_number(param, &on) || (on != 0 && on != 1))
        return usage(f);
    return switch_bit(f, port, on == 1);
}

int two_arguments(const Fix &f, int port, const char *param)
{
    int on = 0, limit = 0;
    int fields = std::sscanf(param, "%d %d", &on, &limit);
    // The limit is one 24-bit word of the chip.
    if (fields < 1 || (on != 0 && on != 1) || (on == 1 && (fields < 2 || limit < 0 || limit > kWordMax)))
        return usage(f);
    int rc = switch_bit(f, port, on == 1);
    if (rc != kDone || on == 0)
        return rc;
    char text[16];
    std::snprintf(text, sizeof text, "%06x", static_cast<unsigned>(limit));
    return mib_set_logic(port, f.limit, text) == 0 ? kDone : kFailed;
}

struct Slot {
    const char *usage;
    int (*handler)(int, const char *);
    int args;
};

const Slot *slot(int id)
{
    static const struct {
        int id;
        Slot slot;
    } kFilled[] = {
        {1, {"IOP_FIX_TOPLVL_GHS_CS_RR_MODE. <on/off>", iop_fix_ghs_cs_rr_mode, 1}},
        {2, {"IOP_FIX_TOPLVL_GHS_DIS_RXPGA_ADJ. <on/off>", iop_fix_ghs_dis_rxpga_adj, 1}},
        {3, {"IOP_FIX_TOPLVL_GHS_RELAXED_DTCT. <on/off>", iop_fix_ghs_relaxed_dtct, 1}},
        {4, {"IOP_FIX_TOPLVL_30A_SWITCH_17A. <on/off>", iop_fix_30a_switch_17a, 1}},
        {17, {"IOP_FIX_TOPLVL_REDUCE_QUIET1. <on/off>", iop_fix_reduce_quiet1, 1}},
        {25, {"IOP_FIX_TOPLVL_LIMIT_US_TONE. <on/off> [<limit us tone number>]", iop_fix_limit_us_tone, 2}},
        {26, {"IOP_FIX_TOPLVL_LIMIT_DS_TONE. <on/off> [<limit ds tone number>]", iop_fix_limit_ds_tone, 2}},
        {27, {"IOP_FIX_TOPLVL_LIMIT_US_RATE. <on/off> [<limit us rate value>]", iop_fix_limit_us_rate, 2}},
        {28, {"IOP_FIX_TOPLVL_LIMIT_DS_RATE. <on/off> [<limit ds rate value>]", iop_fix_limit_ds_rate, 2}},
    };
    for (const auto &f : kFilled)
        if (f.id == id)
            return &f.slot;
    return nullptr;
}

}  // namespace

extern "C" int iop_fix_ghs_cs_rr_mode(int port, const char *param)
{
    return one_argument(kCsRrMode, port, param);
}
extern "C" int iop_fix_ghs_dis_rxpga_adj(int port, const char *param)
{
    return one_argument(kDisRxpgaAdj, port, param);
}
extern "C" int iop_fix_ghs_relaxed_dtct(int port, const char *param)
{
    return one_argument(kRelaxedDtct, port, param);
}
extern "C" int iop_fix_30a_switch_17a(int port, const char *param)
{
    return one_argument(kSwitch17a, port, param);
}
extern "C" int iop_fix_reduce_quiet1(int port, const char *param)
{
    return one_argument(kReduceQuiet1, port, param);
}
extern "C" int iop_fix_limit_us_tone(int port, const char *param)
{
    return two_arguments(kUsTone, port, param);
}
extern "C" int iop_fix_limit_ds_tone(int port, const char *param)
{
    return two_arguments(kDsTone, port, param);
}
extern "C" int iop_fix_limit_us_rate(int port, const char *param)
{
    return two_arguments(kUsRate, port, param);
}
extern "C" int iop_fix_limit_ds_rate(int port, const char *param)
{
    return two_arguments(kDsRate, port, param);
}

extern "C" int iop_action(int id, const char **usage, int (**handler)(int, const char *))
{
    const Slot *s = id >= 1 && id <= IOP_ACTIONS ? slot(id) : nullptr;
    if (!s)
        return 0;
    if (usage)
        *usage = s->usage;
    if (handler)
        *handler = s->handler;
    return s->args;
}

extern "C" int iop_parse_line(const char *line, size_t len, int *id, char *param)
{
    param[0] = 0;
    size_t end = 0;
    while (end < len && line[end] != 0 && line[end] != '\n')
        end++;
    // A line that would not fit the file's line buffer is no line of a fix file.
    if (end >= IOP_LINE_SIZE - 1)
        return -1;
    std::string text(line, end);
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return -1;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > IOP_ACTIONS || iop_action(static_cast<int>(value), nullptr, nullptr) == 0)
        return -1;
    size_t blank = text.find(' ');
    std::string rest = blank == std::string::npos ? "" : text.substr(blank + 1);
    if (rest.size() > IOP_PARAM_MAX)
        return -1;
    *id = static_cast<int>(value);
    std::memcpy(param, rest.c_str(), rest.size() + 1);
    return 0;
}

extern "C" int iop_resolve_path(const char *name, int with_prefix_always, char *path, size_t capacity)
{
    const std::string dir = iop_config_dir;
    std::string p = name;
    if (with_prefix_always || p.find(dir) == std::string::npos)
        p = dir + p;
    if (p.find(".iop") == std::string::npos)
        p += ".iop";
    // The set's file stays a plain entry of the directory: no way out of it.
    if (p.compare(0, dir.size(), dir) != 0)
        return -1;
    std::string leaf = p.substr(dir.size());
    if (leaf.empty() || leaf.find('/') != std::string::npos || leaf == "." || leaf == ".." ||
        p.size() >= capacity)
        return -1;
    std::memcpy(path, p.c_str(), p.size() + 1);
    return 0;
}
