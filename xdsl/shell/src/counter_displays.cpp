// Counter displays: current line counters, their thresholds and the
// current channel counters.
#include <cstdio>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "line_display.h"
#include "vdsl_request.h"

using namespace line_display;

namespace {

struct CounterRow {
    const char *name, *oid;
};

const CounterRow k15MinRows[] = {{"15M FECS", "0.16.5"}, {"15M ES", "0.16.6"},  {"15M SES", "0.16.7"},
                                 {"15M LOSS", "0.16.8"}, {"15M UAS", "0.16.9"}, {nullptr, nullptr}};
const CounterRow k1DayRows[] = {{"1Day FECS", "0.16.13"}, {"1Day ES", "0.16.14"},  {"1Day SES", "0.16.15"},
                                {"1Day LOSS", "0.16.16"}, {"1Day UAS", "0.16.17"}, {nullptr, nullptr}};

enum { kOffice = 1, kRemote = 2 };

using ElapsedText = std::string (*)(uint32_t seconds);

// The counters of one period of a channel, after its elapsed time.
struct ChannelPeriod {
    const char *elapsed_name, *elapsed_oid;
    ElapsedText text;
    CounterRow counters[2];
};

const ChannelPeriod kChannelPeriods[] = {
    {"15M Elapsed time", "0.22.4", minutes_text, {{"15M CV", "0.22.5"}, {"15M FEC", "0.22.6"}}},
    {"1Day Elapsed time", "0.22.9", hours_text, {{"1Day CV", "0.22.10"}, {"1Day FEC", "0.22.11"}}},
};

// A period's elapsed time at both ends: as text, and in seconds in the record.
void elapsed_row(int port, const char *name, const char *oid, ElapsedText text)
{
    uint32_t office = static_cast<uint32_t>(value_or_zero_idx(port, oid, kOffice));
    uint32_t remote = static_cast<uint32_t>(value_or_zero_idx(port, oid, kRemote));
    cli_print(CLI_LEVEL_ORDINARY, "%-20s|%-24s%-24s", name, text(office).c_str(), text(remote).c_str());
    cli_print(CLI_LEVEL_RECORD, "%s=%d %d|", name, static_cast<int>(office), static_cast<int>(remote));
}

// One channel's periods; the record's last field has no separator after it.
void channel_periods(int port, int channel)
{
    for (const ChannelPeriod &p : kChannelPeriods) {
        uint32_t elapsed = static_cast<uint32_t>(value_or_zero_idx(port, p.elapsed_oid, channel));
        cli_print(CLI_LEVEL_ORDINARY, "%-20s|%-24s", p.elapsed_name, p.text(elapsed).c_str());
        cli_print(CLI_LEVEL_RECORD, "%s=%d|", p.elapsed_name, static_cast<int>(elapsed));
        for (const CounterRow &c : p.counters) {
            const bool last = &p == &kChannelPeriods[1] && &c == &p.counters[1];
            int32_t v = value_or_zero_idx(port, c.oid, channel);
            cli_print(CLI_LEVEL_ORDINARY, "%-20s|%-24d", c.name, v);
            cli_print(CLI_LEVEL_RECORD, "%s=%d%s", c.name, v, last ? "" : "|");
        }
    }
}

// Rows of both columns until a read of the remote column fails.
void counter_table(int port, const CounterRow *rows)
{
    for (const CounterRow *r = rows; r->name; r++) {
        int32_t office = 0, remote = 0;
        mib_get_int24_idx(port, r->oid, &office, kOffice);
        if (mib_get_int24_idx(port, r->oid, &remote, kRemote) != 0)
            return;
        cli_print(CLI_LEVEL_ORDINARY, "%-20s|%-24d%-24d", r->name, office, remote);
        cli_print(CLI_LEVEL_RECORD, "%s=%d %d|", r->name, office, remote);
    }
}

}  // namespace

extern "C" int cmd_show_pm_line_curr(char *rest, const cli_dir_row *)
{
    cli_print(CLI_LEVEL_PORT_STATE, "Portdisabled\n");
    unsigned number;
    int port;
    if (int rc = open_port(rest, "Usage: cmd <portid>", &number, &port))
        return rc;
    if (powered_off(port)) {
        cli_print(CLI_LEVEL_ERROR, "Error getting curent line counter.");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Current line counters of Line %u:", number);
    cli_print(CLI_LEVEL_ORDINARY, "%-20s %-24s%-24s", "", "Central Office", "Remote site");

    elapsed_row(port, "15M Elapsed time", "0.16.4", minutes_text);
    counter_table(port, k15MinRows);
    cli_print(CLI_LEVEL_RECORD, "|");
    elapsed_row(port, "1Day Elapsed time", "0.16.12", hours_text);
    counter_table(port, k1DayRows);
    return CLI_DONE;
}

extern "C" int cmd_show_threshold(char *rest, const cli_dir_row *)
{
    static const struct {
        const char *line, *record, *office, *remote;
    } kRows[] = {
        {"FECS|%-14d %-14d", "15MinFECS=%d %d|", "0.14.2", "0.14.7"},
        {"ES  |%-14d %-14d", "15MinES=%d %d|", "0.14.3", "0.14.8"},
        {"SES |%-14d %-14d", "15MinSES=%d %d|", "0.14.4", "0.14.9"},
        {"LOSS|%-14d %-14d", "15MinLOSS=%d %d|", "0.14.5", "0.14.10"},
        {"UAS |%-14d %-14d", "15MinUAS=%d %d|", "0.14.6", "0.14.11"},
        {"CV  |%-14d %-14d", "15MinCV=%d %d|", "0.15.2", "0.15.4"},
        {"FEC |%-14d %-14d", "15MinFEC=%d %d", "0.15.3", "0.15.5"},
    };
    unsigned number;
    int port;
    if (int rc = open_port(rest, "Usage: cmd <portid>", &number, &port))
        return rc;
    if (powered_off(port))
        return CLI_FAILED;

    int32_t values[7][2];
    for (size_t r = 0; r < 7; r++) {
        values[r][0] = value_or_zero(port, kRows[r].office);
        values[r][1] = value_or_zero(port, kRows[r].remote);
    }
    cli_print(CLI_LEVEL_ORDINARY, "Line %u Threshold (15min error seconds):", number);
    cli_print(CLI_LEVEL_ORDINARY, "     %-14s %-14s", "Central Office", "Remote site");
    for (size_t r = 0; r < 7; r++)
        cli_print(CLI_LEVEL_ORDINARY, kRows[r].line, values[r][0], values[r][1]);
    for (size_t r = 0; r < 7; r++)
        cli_print(CLI_LEVEL_RECORD, kRows[r].record, values[r][0], values[r][1]);
    return CLI_DONE;
}

extern "C" int cmd_show_pm_ch_curr(char *rest, const cli_dir_row *)
{
    unsigned number;
    int port;
    if (int rc = open_port(rest, "Usage: cmd <portid>", &number, &port))
        return rc;
    if (powered_off(port)) {
        cli_print(CLI_LEVEL_ERROR, "Error getting current channel counter.");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Current channel counters of Line %u:", number);
    for (int channel : {1, 3}) {
        if (channel != 1)
            cli_print(CLI_LEVEL_RECORD, ";");
        int32_t direction = 0;
        if (!read_direction(port, channel, &direction))
            continue;
        cli_write_raw("\n", 1);
        cli_print(CLI_LEVEL_ERROR, direction == 1 ? "Upstream:" : "Downstream:");
        channel_periods(port, channel);
    }
    return CLI_DONE;
}
