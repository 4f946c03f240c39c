// Line status: "show status", "show summary", "util phystatus" and the
// failure-reason heading.
#include "line_status.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "band_plan.h"
#include "cli_command.h"
#include "cli_print.h"
#include "line_display.h"
#include "vdsl_request.h"

using namespace line_display;

namespace {

constexpr int32_t kLinkTimeVersion = 130000;
constexpr uint32_t kRemoteSide = 1;

const char *const kProfileNames[] = {"8a", "8b", "8c", "8d", "12a", "12b", "17a", "30a"};

struct BasicRow {
    const char *name, *us_oid, *ds_oid;
};

const BasicRow kBasicRows[] = {
    {"Actual Data Rate", "0.3.2", "0.3.2.3"},
    {"SNR Margin", "0.2.4.10", "0.2.4.11"},
    {"Singal Attenuation", "0.2.3.10", "0.2.3.11"},
    {"Line Attenuation", "0.2.2.10", "0.2.2.11"},
};
const char *const kBasicUnits[] = {"(US) Kb/s", "(DS) Kb/s", "(US) 0.1dB", "(DS) 0.1dB"};

// far_end: a showtime counter that only one end of the line keeps.
struct AdvancedRow {
    const char *name, *us_oid, *ds_oid, *unit, *record;
    bool far_end;
};

const AdvancedRow kAdvancedRows[] = {
    {"Actual delay", "0.3.4", "0.3.4.3", "ms", nullptr, false},
    {"Actual INP", "0.3.5", "0.3.5.3", "0.1 symbols", nullptr, false},
    {"Previous Data Rate", "0.3.3", "0.3.3.3", "Kbps", nullptr, false},
    {"Attainable Rate", "0.1.21", "0.1.20", "Kbps", nullptr, false},
    {"Transmit Power", "0.1.25", "0.1.24", "0.1 dBm", nullptr, false},
    {"Trellis", "0.1.37", "0.1.36", "", nullptr, false},
    {"Interleaving Depth", "0.3.10", "0.3.10.3", "", nullptr, false},
    {"Interleaving Block", "0.3.11", "0.3.11.3", "", nullptr, false},
    {"SNR Margin", "0.2.4", "", "(US0,--) 0.1 dB", "SNR Margin 0", false},
    {"SNR Margin", "0.2.4.2", "0.2.4.6", "(US1,DS1) 0.1 dB", "SNR Margin 1", false},
    {"SNR Margin", "0.2.4.3", "0.2.4.7", "(US2,DS2) 0.1 dB", "SNR Margin 2", false},
    {"SNR Margin", "0.2.4.4", "0.2.4.8", "(US3,DS3) 0.1 dB", "SNR Margin 3", false},
    {"SNR Margin", "0.2.4.5", "0.2.4.9", "(US4,DS4) 0.1 dB", "SNR Margin 4", false},
    {"Signal Attenuation", "0.2.3", "", "(US0,--) 0.1 dB", "Signal Attenuation 0", false},
    {"Signal Attenuation", "0.2.3.2", "0.2.3.6", "(US1,DS1) 0.1 dB", "Signal Attenuation 1", false},
    {"Signal Attenuation", "0.2.3.3", "0.2.3.7", "(US2,DS2) 0.1 dB", "Signal Attenuation 2", false},
    {"Signal Attenuation", "0.2.3.4", "0.2.3.8", "(US3,DS3) 0.1 dB", "Signal Attenuation 3", false},
    {"Signal Attenuation", "0.2.3.5", "0.2.3.9", "(US4,DS4) 0.1 dB", "Signal Attenuation 4", false},
    {"Line Attenuation", "0.2.2", "", "(US0,--) 0.1 dB", "Line Attenuation 0", false},
    {"Line Attenuation", "0.2.2.2", "0.2.2.6", "(US1,DS1) 0.1 dB", "Line Attenuation 1", false},
    {"Line Attenuation", "0.2.2.3", "0.2.2.7", "(US2,DS2) 0.1 dB", "Line Attenuation 2", false},
    {"Line Attenuation", "0.2.2.4", "0.2.2.8", "(US3,DS3) 0.1 dB", "Line Attenuation 3", false},
    {"Line Attenuation", "0.2.2.5", "0.2.2.9", "(US4,DS4) 0.1 dB", "Line Attenuation 4", false},
    {"Showtime Full Inits", "2.2.3", "2.2.3", "", nullptr, false},
    {"Showtime CV", "3.2.12", "3.2.42", "", nullptr, true},
    {"Showtime FEC", "3.2.11", "3.2.41", "", nullptr, true},
    {"Showtime Fecs", "3.2.13", "3.2.43", "", nullptr, true},
    {"Showtime Es", "3.2.14", "3.2.44", "", nullptr, true},
    {"Showtime Ses", "3.2.15", "3.2.45", "", nullptr, true},
    {"Showtime Loss", "3.2.16", "3.2.46", "", nullptr, true},
    {"Showtime Uas", "3.2.17", "3.2.47", "", nullptr, true},
    {"15M Elapsed time", "0.16.4", "0.16.4.2", "secs", nullptr, false},
    {"15M FECS", "0.16.5", "0.16.5.2", "", nullptr, false},
    {"15M ES", "0.16.6", "0.16.6.2", "", nullptr, false},
    {"15M SES", "0.16.7", "0.16.7.2", "", nullptr, false},
    {"15M LOSS", "0.16.8", "0.16.8.2", "", nullptr, false},
    {"15M UAS", "0.16.9", "0.16.9.2", "", nullptr, false},
    {"15M Full Inits", "0.17.4", "0.17.4.2", "", nullptr, false},
    {"15M CV", "0.22.5", "0.22.5.3", "", nullptr, false},
    {"15M FEC", "0.22.6", "0.22.6.3", "", nullptr, false},
    {"1Day Elapsed time", "0.16.12", "0.16.12.2", "secs", nullptr, false},
    {"1Day FECS", "0.16.13", "0.16.13.2", "", nullptr, false},
    {"1Day ES", "0.16.14", "0.16.14.2", "", nullptr, false},
    {"1Day SES", "0.16.15", "0.16.15.2", "", nullptr, false},
    {"1Day LOSS", "0.16.16", "0.16.16.2", "", nullptr, false},
    {"1Day UAS", "0.16.17", "0.16.17.2", "", nullptr, false},
    {"1Day Full Inits", "0.17.11", "0.17.11.2", "", nullptr, false},
    {"1Day CV", "0.22.10", "0.22.10.3", "", nullptr, false},
    {"1Day FEC", "0.22.11", "0.22.11.3", "", nullptr, false},
    {"Total FECS", "3.2.3", "3.2.33", "", nullptr, false},
    {"Total ES", "3.2.4", "3.2.34", "", nullptr, false},
    {"Total SES", "3.2.5", "3.2.35", "", nullptr, false},
    {"Total LOSS", "3.2.6", "3.2.36", "", nullptr, false},
    {"Total UAS", "3.2.7", "3.2.37", "", nullptr, false},
    {"Total CV", "3.2.2", "3.2.32", "", nullptr, false},
    {"Total FEC", "3.2.1", "3.2.31", "", nullptr, false},
};
static_assert(sizeof kAdvancedRows / sizeof kAdvancedRows[0] == 56, "56 advanced rows");

const char *const kBandNames[] = {"US0", "DS1", "US1", "DS2", "US2", "DS3", "US3", "DS4", "US4"};

// The words of each state: util phystatus, show status and its record, show summary.
struct StateWords {
    const char *phystatus, *status, *record, *summary;
};

const StateWords &state_words(unsigned char state)
{
    static const StateWords kWords[] = {
        {"OPSTATE is DISABLE", "Status of Line %u: Power Off", "Power Off", "Power Off"},
        {"OPSTATE is IDLE", "Status (Basic) of Line %u: Idle", "Idle", "Idle"},
        {"OPSTATE is HANDSHAKE", "Status (Basic) of Line %u: Handshake", "Handshake", "Handshake"},
        {"OPSTATE is TRAINING", "Status (Basic) of Line %u: Training", "Traning", "Training"},
        {"OPSTATE is SHOWTIME", "Status (Basic) of Line %u: Showtime", "Showtime", "Showtime"},
        {"OPSTATE is ERROR", "Status of Line %u: Error", "Error", "Error"},
        {"OPSTATE is OTHER(Impossible!!)", "Status (Basic) of Line %u: Unkown", "Unkown", "Unkown"},
    };
    return kWords[state >= VDSL_STATE_DISABLE && state <= VDSL_STATE_ERROR ? state - 1 : 6];
}

int32_t sign_extend24(uint32_t v) { return static_cast<int32_t>((v & 0x800000) ? v | 0xFF000000u : v); }

const char *profile_name(uint32_t word)
{
    for (unsigned bit = 0; bit < 8; bit++)
        if (word & (1u << bit))
            return kProfileNames[bit];
    return kProfileNames[0];
}

int status_error(unsigned number)
{
    cli_print(CLI_LEVEL_ORDINARY, "Status of Line %u: Error", number);
    cli_print(CLI_LEVEL_RECORD, "Status=Error|");
    return CLI_FAILED;
}

void print_band_plan(int port)
{
    band_plan plan;
    read_band_plan(port, plan);
    cli_print(CLI_LEVEL_ORDINARY, "\nBand Plan:");
    for (int b = 0; b < BAND_PLAN_WORDS / 2; b++) {
        uint32_t start = plan[2 * b], stop = plan[2 * b + 1];
        cli_printf_raw("%s: %04x(%4d) - %04x(%4d)\n", kBandNames[b], start, static_cast<int>(start), stop,
                       static_cast<int>(stop));
    }
}

}  // namespace

extern "C" int cmd_show_status(char *rest, const cli_dir_row *)
{
    unsigned number;
    int port;
    if (int rc = open_port(rest, "Usage: cmd <portid>", &number, &port))
        return rc;

    uint32_t side = 0;
    if (mib_get_hex(port, "2.1.5", &side) != 0)
        side = 0;
    unsigned char state;
    if (!read_state(port, &state) || state == VDSL_STATE_ERROR)
        return status_error(number);
    if (state == VDSL_STATE_DISABLE) {
        cli_print(CLI_LEVEL_ORDINARY, "Status of Line %u: Power Off", number);
        cli_print(CLI_LEVEL_RECORD, "Status=Power Off|");
        return CLI_FAILED;
    }
    if (!port_enabled(static_cast<int>(number))) {
        cli_print(CLI_LEVEL_ORDINARY, "Status (Basic) of Line %u: Disable", number);
        cli_print(CLI_LEVEL_RECORD, "Status=Disable|");
    } else {
        const StateWords &w = state_words(state);
        cli_print(CLI_LEVEL_ORDINARY, w.status, number);
        cli_print(CLI_LEVEL_RECORD, "Status=%s|", w.record);
    }

    const bool showtime = state == VDSL_STATE_SHOWTIME;
    const char *profile = "NA";
    if (showtime) {
        uint32_t word = 0;
        profile = profile_name(mib_get_hex(port, "0.1.26", &word) == 0 ? word : 0);
    }
    cli_print(CLI_LEVEL_ORDINARY, "Profile: %s", profile);
    cli_print(CLI_LEVEL_RECORD, "Profile=%s|", profile);

    cli_print(CLI_LEVEL_ORDINARY, "%-24s|%-24s %s", "", "Value", "Description");
    for (size_t r = 0; r < sizeof kBasicRows / sizeof kBasicRows[0]; r++) {
        const BasicRow &row = kBasicRows[r];
        const char *us_unit = kBasicUnits[r == 0 ? 0 : 2], *ds_unit = kBasicUnits[r == 0 ? 1 : 3];
        std::string us = value_text(port, row.us_oid);
        cli_print(CLI_LEVEL_ORDINARY, "%-24s|%-24s %s", row.name, us.c_str(), us_unit);
        std::string ds = value_text(port, row.ds_oid);
        cli_print(CLI_LEVEL_ORDINARY, "%-24s|%-24s %s", row.name, ds.c_str(), ds_unit);
        cli_print(CLI_LEVEL_RECORD, "%s=%s %s|", row.name, us.c_str(), ds.c_str());
    }

    print_mib_value_idx(port, "%-24s|%-24s %s", "0.1.31", "Electrical Length", "0.1 dB", 1);

    uint32_t version = 0;
    if (mib_get_hex(port, "2.1.1", &version) != 0)
        version = 0;
    if (showtime && sign_extend24(version) >= kLinkTimeVersion) {
        print_mib_value_idx(port, "%-24s|%-24s %s", "2.1.117", "Link Time", "second(s)", 1);
    } else {
        cli_print(CLI_LEVEL_ORDINARY, "%-24s|%-24s %s", "Link Time", "0", "second(s)");
        cli_print(CLI_LEVEL_RECORD, "Link Time=0|");
    }
    cli_print(CLI_LEVEL_ORDINARY, "%-24s|%06x", "Firmware Version", version);
    cli_print(CLI_LEVEL_RECORD, "Firmware Version=%-x|", version);

    print_band_plan(port);

    cli_print(CLI_LEVEL_ORDINARY, "\nStatus (Advance) of Line %u:", number);
    cli_print(CLI_LEVEL_ORDINARY, "%24s %-14s%-14s", "", "Upstream", "Downstream");
    const bool remote = (side & kRemoteSide) != 0;
    for (const AdvancedRow &row : kAdvancedRows) {
        // Far-end showtime counters exist only on the side that keeps them.
        std::string us = !*row.us_oid ? "--" : row.far_end && remote ? "NA" : value_text(port, row.us_oid);
        std::string ds = !*row.ds_oid ? "--" : row.far_end && !remote ? "NA" : value_text(port, row.ds_oid);
        cli_print(CLI_LEVEL_ORDINARY, "%-24s|%-14s%-14s %s", row.name, us.c_str(), ds.c_str(), row.unit);
        cli_print(CLI_LEVEL_RECORD, "%s=%s %s|", row.record ? row.record : row.name, us.c_str(), ds.c_str());
    }
    return CLI_DONE;
}

extern "C" int cmd_show_summary(char *, const cli_dir_row *)
{
    const int port = 0;
    cli_print(CLI_LEVEL_ORDINARY, "%-4s|%-10s%-15s%-12s%-13s%-15s%-13s%s", "Port", "Link time", "Rate US/DS",
              "Status", "INP US/DS", "Delay US/DS", "CRC US/DS", "TxPkts/RxPkts");
    int32_t link = 0, rate_us = 0, rate_ds = 0, inp_us = 0, inp_ds = 0, delay_us = 0, delay_ds = 0;
    uint32_t crc_us = 0, crc_ds = 0, tx = 0, rx = 0;
    const char *status;
    unsigned char state;
    if (!read_state(port, &state) || state == VDSL_STATE_ERROR) {
        status = "Error";
    } else if (state == VDSL_STATE_DISABLE) {
        status = "Power Off";
    } else {
        rate_us = value_or_zero(port, "0.3.2");
        rate_ds = value_or_zero(port, "0.3.2.3");
        status = port_enabled(1) ? state_words(state).summary : "Disable";
        uint32_t version = 0;
        if (mib_get_hex(port, "2.1.1", &version) != 0)
            version = 0;
        // Compared unsigned here: a word with bit 23 set counts as new firmware.
        if (state == VDSL_STATE_SHOWTIME && version >= static_cast<uint32_t>(kLinkTimeVersion))
            link = value_or_zero(port, "2.1.117");
        inp_us = value_or_zero(port, "0.3.5");
        inp_ds = value_or_zero(port, "0.3.5.3");
        delay_us = value_or_zero(port, "0.3.4");
        delay_ds = value_or_zero(port, "0.3.4.3");
        crc_us = static_cast<uint32_t>(value_or_zero(port, "3.2.12"));
        crc_ds = static_cast<uint32_t>(value_or_zero(port, "3.2.42"));
        tx = static_cast<uint32_t>(value_or_zero(port, "3.1.12"));
        rx = static_cast<uint32_t>(value_or_zero(port, "3.1.11"));
    }
    cli_print(CLI_LEVEL_ORDINARY, "%-4d|%9d %7d/%-7d%-12s%6d/%-6d%7d/%-7d%6u/%-6u%u/%-u", 1, link, rate_us,
              rate_ds, status, inp_us, inp_ds, delay_us, delay_ds, crc_us, crc_ds, tx, rx);
    cli_print(
        CLI_LEVEL_RECORD,
        "Port=%d|Link time=%d|Rate US/DS=%d/%d|Status=%s|INP US/DS=%d/%d|Delay US/DS=%d/%d|CRC US/DS=%u/%u|"
        "TxPkts=%u|RxPkts=%u|",
        1, link, rate_us, rate_ds, status, inp_us, inp_ds, delay_us, delay_ds, crc_us, crc_ds, tx, rx);
    return CLI_DONE;
}

extern "C" int cmd_util_phystatus(char *rest, const cli_dir_row *)
{
    int number;
    if (std::sscanf(rest, "%i", &number) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage:cmd <portid>");
        return CLI_DONE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;

    const uint32_t saved = cli_print_mask;
    cli_print_mask = (saved & CLI_MASK_INTERACTIVE) ? CLI_MASK_INTERACTIVE
                     : (saved & CLI_MASK_SILENT)    ? CLI_MASK_SILENT
                                                    : 0;
    unsigned char state = 0;
    int rc = xdsl_get_opstate(port, &state);
    if (rc != 0)
        state = 7;
    const unsigned code = state >= VDSL_STATE_DISABLE && state <= VDSL_STATE_ERROR ? state : 7;
    cli_print(CLI_LEVEL_RECORD, "%u", code);
    cli_print(CLI_LEVEL_ORDINARY, "%s", state_words(static_cast<unsigned char>(code)).phystatus);
    cli_print_mask = saved;
    return rc;
}

extern "C" int print_failure_reason(int port)
{
    cli_print(CLI_LEVEL_ORDINARY, "\nFailureReason :");
    cmd_home(nullptr, nullptr);
    current_entry = cmd_home;
    char line[CLI_LINE_SIZE];
    std::snprintf(line, sizeof line, "interface xdsl show fail-reason %d", port + 1);
    return execute_command_line(line);
}
