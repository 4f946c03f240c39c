// MIB table displays: the xDSL2 line, band, channel status, sub-carrier
// status and initialisation counter tables, and the line's transmit PSD.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chip_answers.h"
#include "cli_command.h"
#include "cli_print.h"
#include "line_display.h"
#include "vdsl_request.h"

using namespace line_display;

namespace {

struct TableRow {
    const char *oid, *name, *description;
};

struct Table {
    const char *title;
    int name_width, value_width;
    std::vector<int> indexes;
    const TableRow *rows;
    bool blank_after_index;
    const char *power_off;
};

const TableRow kPmLineInitRows[] = {
    {"0.17.1", "15M valid intervals", ""},
    {"0.17.2", "15M invalid intervals", ""},
    {"0.17.3", "15M elapsed seconds", "(seconds)"},
    {"0.17.4", "15M count of full initializations", ""},
    {"0.17.5", "15M count of failed full initializations", ""},
    {"0.17.8", "1Day valid intervals", ""},
    {"0.17.9", "1Day invalid intervals", ""},
    {"0.17.10", "1Day elapsed seconds", "(seconds)"},
    {"0.17.11", "1Day count of full initializations", ""},
    {"0.17.12", "1Day count of failed full initializations", ""},
    {nullptr, nullptr, nullptr},
};

const TableRow kScStatusRows[] = {
    {"0.4.1", "Direction", "upstream(1),downstream(2)"},
    {"0.4.2", "Scale factor to H(f) linear value", ""},
    {"0.4.3", "Number of SC per group (H(f) linear)", ""},
    {"0.4.4", "Symbols to measure Hlog(f)", ""},
    {"0.4.5", "Number of SC per group (H(f) log)", ""},
    {"0.4.6", "Symbols to measure QLN(f)", ""},
    {"0.4.7", "Number of SC per group (QLN)", ""},
    {"0.4.8", "Symbols to measure SNR(f)", ""},
    {"0.4.9", "Number of SC per group (SNR)", ""},
    {"0.4.10", "Row Status", ""},
    {nullptr, nullptr, nullptr},
};

const TableRow kLineBandRows[] = {
    {"0.2.1", "Band ID", "us(1),ds(2),us0(3),ds1(4),us1(5),ds2(6),us2(7),ds3(8),us3(9),ds4(10),us4(11)"},
    {"0.2.2", "Line Attenuation", "(0.1 dB)"},
    {"0.2.3", "Signal Attenuation", "(0.1 dB)"},
    {"0.2.4", "SNR Margin", "(0.1 dB)"},
    {nullptr, nullptr, nullptr},
};

const TableRow kChannelStatusRows[] = {
    {"0.3.2", "Actual Data Rate", "(kbps)"},
    {"0.3.3", "Previous Data Rate", "(kbps)"},
    {"0.3.4", "Actual delay", "(ms)"},
    {"0.3.5", "Actual INP", "(0.1 DMT symbol)"},
    {"0.3.6", "INP reporting mode", "UsingFormula(1),ByXtur(2)"},
    {"0.3.7", "Size of Reed-Solomon codeword", "(bytes)"},
    {"0.3.8", "Number of Reed-Solomon redundancy bytes", "(bytes)"},
    {"0.3.9", "Number of bits per symbol", "(bits)"},
    {"0.3.10", "Interleaving Depth", ""},
    {"0.3.11", "Interleaving Block Length", ""},
    {"0.3.12", "Latency Path", "FAST(0),INTERLEAVED(1)"},
    {"0.3.13", "Status of ATM Data Path", "BITS:noDefect(0),noCellDelineation(1),lossOfDelineation(2)"},
    {"0.3.14", "Status of PTM Data Path", "BITS:noDefect(0),outOfSync(1)"},
    {nullptr, nullptr, nullptr},
};

const TableRow kLineRows[] = {
    {"0.1.14", "4-No power management", ""},
    {"0.1.20", "Attainable Rate Ds", "(kbps)"},
    {"0.1.21", "Attainable Rate Us", "(kbps)"},
    {"0.1.24", "ATP Ds", "(0.1dB)"},
    {"0.1.25", "ATP Us", "(0.1dB)"},
    {"0.1.26", "Profile", "8a(0),8b(1),8c(2),8d(3),12a(4),12b(5),17a(6),30a(7)"},
    {"0.1.29", "Virtual noise Ds", "Disabled(1),Enabled(2)"},
    {"0.1.30", "Virtual noise Us", "Disabled(1),Enabled(2)"},
    {"0.1.31", "Electrical Length", "(0.1dB)"},
    {"0.1.36", "Trellis Ds", "Not used(0),Used(1)"},
    {"0.1.37", "Trellis Us", "Not used(0),Used(1)"},
    {"0.1.38", "Cyclic extension", "N/32 samples"},
    {nullptr, nullptr, nullptr},
};

const Table kPmLineInit{"xdsl2PMLineInitCurrTable of Line %u:", 42, 24, {1}, kPmLineInitRows, false,
                        "Error getting pmlineinitcurr table."};
const Table kScStatus{"xdsl2SCStatusTable of Line %u:", 40, 24, {1, 2}, kScStatusRows, true,
                      "Error getting scstatus table."};
const Table kLineBand{
    "xdsl2LineBandTable of Line %u:", 24, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, kLineBandRows, true,
    "Error getting line band table."};
const Table kChannelStatus{"xdsl2ChannelStatusTable of Line %u:", 40, 10, {1, 3}, kChannelStatusRows, false,
                           "Error getting channel status table."};
const Table kLine{"xdsl2LineTable of Line %u:", 24, 24, {1}, kLineRows, false, "Error getting line table."};

std::string row_format(const Table &t)
{
    char format[32];
    std::snprintf(format, sizeof format, "%%-%ds|%%-%ds %%s", t.name_width, t.value_width);
    return format;
}

void print_heading(const Table &t)
{
    cli_print(CLI_LEVEL_ORDINARY, "%-*s %-*s Description", t.name_width, "", t.value_width, "Value");
}

void print_rows(int port, const Table &t, int index)
{
    const std::string format = row_format(t);
    for (const TableRow *r = t.rows; r->oid; r++)
        print_mib_value_idx(port, format.c_str(), r->oid, r->name, r->description, index);
}

// The port argument, its check and the power-off test of every table; a
// state that cannot be read is shown as power-off too. 0 to go on.
int open_table(const char *rest, const char *usage, const Table &t, unsigned *number, int *port)
{
    if (int rc = open_port(rest, usage, number, port))
        return rc;
    if (powered_off(*port)) {
        cli_print(CLI_LEVEL_ERROR, "%s", t.power_off);
        return CLI_FAILED;
    }
    return 0;
}

int show_table(char *rest, const Table &t)
{
    unsigned number;
    int port;
    if (int rc = open_table(rest, "Usage: cmd <portid>", t, &number, &port))
        return rc;
    cli_print(CLI_LEVEL_ORDINARY, t.title, number);
    print_heading(t);
    for (int index : t.indexes) {
        print_rows(port, t, index);
        if (t.blank_after_index)
            cli_print(CLI_LEVEL_ORDINARY, "%s", "");
    }
    return CLI_DONE;
}

// The line's transmit PSD, one direction.
class PsdPrinter : public chip_answers::PsdEmitter {
public:
    void record(uint32_t tone, float level) override
    {
        cli_print(CLI_LEVEL_RECORD, "%d=%.1f|", static_cast<int>(tone), static_cast<double>(level));
    }
    void value(uint32_t tone, float level) override
    {
        cli_printf_raw("%4d|%-6.1f ", static_cast<int>(tone), static_cast<double>(level));
    }
    void gap(uint32_t tone) override { cli_printf_raw("%4d|-100.0 ", static_cast<int>(tone)); }
    void line_break() override { cli_print(CLI_LEVEL_ORDINARY, "%s", ""); }
};

void show_psd_direction(int port, bool up)
{
    int32_t edges[chip_answers::kBandEdges];
    static const char *const kEdgeOids[] = {"3.1.45", "3.1.46", "3.1.47", "3.1.48", "3.1.49"};
    unsigned char answer[VDSL_BLOCK_SIZE];
    const char *text = reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT;
    for (size_t e = 0; e < chip_answers::kBandEdges; e++) {
        std::string oid = std::string(kEdgeOids[e]) + (up ? "" : ".2");
        edges[e] = mib_get_logic(port, oid.c_str(), answer) == 0 ? chip_answers::band_end_tone(text) : -1;
    }
    if (mib_get_logic(port, up ? "0.1.35" : "0.1.34", answer) != 0)
        return;
    cli_print(CLI_LEVEL_ORDINARY, up ? "Psd level (dBm/Hz) Us : Tone No.|PSD level"
                                     : "Psd level (dBm/Hz) Ds : Tone No.|PSD level");
    cli_print(CLI_LEVEL_RECORD, up ? "Psd Level Us:" : "Psd Level Ds:");
    if (chip_answers::psd_absent(text)) {
        cli_print(CLI_LEVEL_ERROR, "NA");
        if (up)
            cli_print(CLI_LEVEL_RECORD, "|");
        return;
    }
    PsdPrinter printer;
    chip_answers::expand_psd(chip_answers::decode_psd_breakpoints(text, up ? chip_answers::kPsdBreakpointsUs
                                                                           : chip_answers::kPsdBreakpointsDs),
                             edges, cli_silent_mode != 0, printer);
}

}  // namespace

extern "C" int cmd_show_pmlineinitcurr(char *rest, const cli_dir_row *)
{
    return show_table(rest, kPmLineInit);
}

extern "C" int cmd_show_scstatus(char *rest, const cli_dir_row *) { return show_table(rest, kScStatus); }

extern "C" int cmd_show_lineband(char *rest, const cli_dir_row *) { return show_table(rest, kLineBand); }

extern "C" int cmd_show_channelstatus(char *rest, const cli_dir_row *)
{
    const Table &t = kChannelStatus;
    unsigned number;
    int port;
    if (int rc = open_table(rest, "Usage: cmd <portid>", t, &number, &port))
        return rc;
    cli_print(CLI_LEVEL_ORDINARY, t.title, number);
    for (int index : t.indexes) {
        int32_t direction = 0;
        if (read_direction(port, index, &direction)) {
            cli_print(CLI_LEVEL_ORDINARY, "%s", "");
            cli_print(CLI_LEVEL_ERROR, direction == 1 ? "Upstream:" : "Downstream:");
            print_heading(t);
            print_rows(port, t, index);
        }
        // The record's channels are apart by ";".
        if (index == t.indexes.front() && cli_silent_buffer_length() > 0)
            cli_silent_buffer_replace_last(';');
    }
    return CLI_DONE;
}

extern "C" int cmd_show_line(char *rest, const cli_dir_row *)
{
    static const char kUsage[] = "Usage: cmd <portid> [psd]";
    unsigned number;
    std::vector<char> word(std::strlen(rest) + 1);
    int fields = std::sscanf(rest, "%u %s", &number, word.data());
    if (fields < 1 || (fields == 2 && std::strcmp(word.data(), "psd") != 0)) {
        cli_print(CLI_LEVEL_ORDINARY, "%s", kUsage);
        return CLI_USAGE;
    }
    if (fields == 1)
        return show_table(rest, kLine);
    int port;
    if (int rc = open_table(rest, kUsage, kLine, &number, &port))
        return rc;
    show_psd_direction(port, true);
    show_psd_direction(port, false);
    return CLI_DONE;
}
