// Profile displays: a human table at the ordinary level and "|"-closed
// fields at the record level for silent mode.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "profile_tables.h"
#include "store_internal.h"

namespace profiles {

namespace {

const std::string kLongRule(111, '-');
const std::string kShortRule(76, '-');

int32_t signed24(const std::string &hex)
{
    uint32_t v = hex_text_to_uint(hex.c_str(), static_cast<int>(hex.size() < 8 ? hex.size() : 8)) & 0xffffff;
    return (v & 0x800000) ? static_cast<int32_t>(v) - 0x1000000 : static_cast<int32_t>(v);
}

std::string profile_list(const std::string &value)
{
    static const char *const kNames[8] = {"8a", "8b", "8c", "8d", "12a", "12b", "17a", "30a"};
    uint32_t v = hex_text_to_uint(value.c_str(), static_cast<int>(value.size() < 8 ? value.size() : 8));
    std::string out;
    for (int bit = 7; bit >= 0; bit--)
        if (v & (1u << bit))
            out += std::string(kNames[bit]) + ",";
    if (!out.empty())
        out.pop_back();
    return out;
}

void port_use(int type, const char *name, const std::string &rule)
{
    char mark = 0;
    vdsl_profiles_map_port_fun(type, name, &mark);
    const char *list = mark == PROFILE_CHANGED ? "1" : "";
    cli_print(CLI_LEVEL_ORDINARY, "%s", rule.c_str());
    cli_print(CLI_LEVEL_ORDINARY, "Line #%s use this profile", list);
    cli_print(CLI_LEVEL_RECORD, "port_list %s|", list);
}

void column_head() { cli_print(CLI_LEVEL_ORDINARY, "%-30s|%-20s %-s ", "", "Value", "Description"); }

bool text_row(const char *name)
{
    static const char *const kText[] = {"SYS", "BND", "VNS",       "PSD",       "RFI",       "DPB",
                                        "IOT", "led", "bitSwapUs", "bitSwapDs", "us0disable"};
    for (const char *t : kText)
        if (std::strcmp(t, name) == 0)
            return true;
    return false;
}

void line_row_show(const ParamRow &row, const std::string &value)
{
    if (text_row(row.name)) {
        cli_print(CLI_LEVEL_ORDINARY, "%-30s|%-20s %-s ", row.name, value.c_str(), row.help);
        cli_print(CLI_LEVEL_RECORD, "%s %s|", row.name, value.c_str());
    } else if (std::strcmp(row.name, "profiles") == 0) {
        std::string list = profile_list(value);
        cli_print(CLI_LEVEL_ORDINARY, "%-30s|%-20s %-s ", row.name, list.c_str(), row.help);
        cli_print(CLI_LEVEL_RECORD, "profiles %s|", list.c_str());
    } else {
        int32_t v = signed24(value);
        cli_print(CLI_LEVEL_ORDINARY, "%-30s|%-20d %-s ", row.name, v, row.help);
        cli_print(CLI_LEVEL_RECORD, "%s %d|", row.name, v);
    }
}

std::string word_at(const std::string &text, int index)
{
    size_t at = static_cast<size_t>(index) * 6;
    return at + 6 <= text.size() ? text.substr(at, 6) : std::string("000000");
}

void decode(bool vn, const std::string &word, int &tone, double &level)
{
    char t[16], l[32];
    if (vn)
        vn_word_to_text(t, l, word.c_str());
    else
        psd_word_to_text(t, l, word.c_str());
    tone = std::atoi(t);
    level = tone == 0 ? 0.0 : std::atof(l);
}

}  // namespace

}  // namespace profiles

using namespace profiles;

extern "C" void vn_tables_display(const char *name, const char *downstream, const char *upstream)
{
    std::string ds = downstream ? downstream : "", us = upstream ? upstream : "";
    cli_print(CLI_LEVEL_ORDINARY, "Vitual Noise Config Tables: %s", name);
    cli_print(CLI_LEVEL_ORDINARY, "%s", kShortRule.c_str());
    cli_print(CLI_LEVEL_ORDINARY, "%2s  %10s %20s %20s %20s", "index", " VnDs_tone(4.3125kHz)",
              "VnDs_level(dBm/Hz)", "VnUs_tone(4.3125kHz)", "VnUs_level(dBm/Hz)");
    for (int i = 0; i < 32; i++) {
        int dt, ut;
        double dl, ul;
        decode(true, word_at(ds, i), dt, dl);
        if (i < 16) {
            decode(true, word_at(us, i), ut, ul);
            cli_print(CLI_LEVEL_ORDINARY, "%2d  %10d %30.1f %10d %30.1f", i + 1, dt, dl, ut, ul);
            cli_print(CLI_LEVEL_RECORD, "DS,%d,%d,%.1f|US,%d,%d,%.1f|", i + 1, dt, dl, i + 1, ut, ul);
        } else {
            cli_print(CLI_LEVEL_ORDINARY, "%2d  %10d %30.1f", i + 1, dt, dl);
            cli_print(CLI_LEVEL_RECORD, "DS,%d,%d,%.1f|", i + 1, dt, dl);
        }
    }
    port_use(PROFILE_VIRTUAL_NOISE, name, kShortRule);
}

extern "C" int psdmask_tables_display_fun(const char *name, const char *downstream, const char *upstream,
                                          int type)
{
    std::string ds = downstream ? downstream : "", us = upstream ? upstream : "";
    if (type == PROFILE_DPBO_EPSD) {
        cli_print(CLI_LEVEL_ORDINARY, "DpboPsd Config Tables: %s", name);
        cli_print(CLI_LEVEL_ORDINARY, "%s", kShortRule.c_str());
        cli_print(CLI_LEVEL_ORDINARY, "%2s  %10s %20s", "index", " tone(4.3125kHz)", "noise_level(dBm/Hz)");
        for (int i = 0; i < 32; i++) {
            int t;
            double l;
            decode(false, word_at(ds, i), t, l);
            cli_print(CLI_LEVEL_ORDINARY, "%2d  %10d %20.1f", i + 1, t, l);
            cli_print(CLI_LEVEL_RECORD, "%d,%d,%.1f|", i + 1, t, l);
        }
        port_use(type, name, kShortRule);
        return 0;
    }
    if (type != PROFILE_PSD_MASKS) {
        cli_print(CLI_LEVEL_ORDINARY, "PROFILE TYPE ERROR in psdmask_tables_display_fun");
        return CLI_USAGE;
    }
    if (std::strcmp(name, PROFILE_DEFAULT_NAME) == 0) {
        cli_print(CLI_LEVEL_ORDINARY, "PsdMask Config Tables: DEFVAL can't display");
        return CLI_USAGE;
    }
    cli_print(CLI_LEVEL_ORDINARY, "PsdMask Config Tables: %s", name);
    const std::string *texts[2] = {&ds, &us};
    const char *dirs[2] = {"DS", "US"};
    for (int d = 0; d < 2; d++) {
        cli_print(CLI_LEVEL_ORDINARY, "%s", kShortRule.c_str());
        cli_print(CLI_LEVEL_ORDINARY, "%2s  %10s %20s %s", "index", " tone(4.3125kHz)", "noise_level(dBm/Hz)",
                  dirs[d]);
        for (int i = 0; i < 40; i++) {
            int t;
            double l;
            decode(false, word_at(*texts[d], i), t, l);
            cli_print(CLI_LEVEL_ORDINARY, "%2d  %10d %20.1f", i + 1, t, l);
            cli_print(CLI_LEVEL_RECORD, "%s,%d,%d,%.1f|", dirs[d], i + 1, t, l);
        }
    }
    port_use(type, name, kShortRule);
    return 0;
}

extern "C" void rfi_tables_display(const char *name, const char *text)
{
    std::string v = text ? text : "";
    cli_print(CLI_LEVEL_ORDINARY, "RFI Config Tables: %s", name);
    cli_print(CLI_LEVEL_ORDINARY, "%s", kShortRule.c_str());
    cli_print(CLI_LEVEL_ORDINARY, "%2s  %10s %20s", "Bands index", " start tone(4.3125kHz)",
              " end tone(4.3125kHz)");
    for (int b = 0; b < 16; b++) {
        int start = static_cast<int>(hex_text_to_uint(word_at(v, 2 * b).c_str(), 6) & 0xffff);
        int end = static_cast<int>(hex_text_to_uint(word_at(v, 2 * b + 1).c_str(), 6) & 0xffff);
        cli_print(CLI_LEVEL_ORDINARY, "%10d  %10d %20d", b + 1, start, end);
        cli_print(CLI_LEVEL_RECORD, "%d,%d,%d|", b + 1, start, end);
    }
    port_use(PROFILE_RFI_BANDS, name, kShortRule);
}

extern "C" int display_vdsl_parent_profile_fun(const char *name, int type)
{
    const char *format;
    if (type == 2 || type == 3)
        format = "LineTemplate #%s use this profile";
    else if (type == 5 || type == 6)
        format = "LineAlarmTemplate #%s use this profile";
    else if (is_breakpoint_type(type))
        format = "LineProfile #%s use this profile";
    else {
        cli_print(CLI_LEVEL_ORDINARY, "PROFILE TYPE ERROR in display_vdsl_parent_profile_fun");
        return 0;
    }
    static const char *const kSlot[11] = {"", "", "", "", "", "", "", "VNS", "DPB", "RFI", "PSD"};
    std::string list;
    bool full = false;
    for (const profile_record &r : records()) {
        bool hit = false;
        if ((type == 2 || type == 3) && r.type == PROFILE_LINE_TEMPLATE)
            hit = r.values[type == 2 ? 0 : 1] == name;
        else if ((type == 5 || type == 6) && r.type == PROFILE_ALARM_TEMPLATE)
            hit = r.values[type == 5 ? 0 : 1] == name;
        else if (is_breakpoint_type(type) && r.type == PROFILE_LINE)
            hit = r.values[static_cast<size_t>(line_row_index(kSlot[type]))] == name;
        if (!hit || full)
            continue;
        std::string add = (list.empty() ? "" : ",") + r.name;
        if (list.size() + add.size() >= 1024) {
            cli_print(CLI_LEVEL_ORDINARY, "String buff full in display_vdsl_parent_profile_fun");
            full = true;
            continue;
        }
        list += add;
    }
    cli_print(CLI_LEVEL_ORDINARY, format, list.c_str());
    cli_print(CLI_LEVEL_RECORD, "parent_profile %s|", list.c_str());
    return 0;
}

extern "C" int display_vdsl_profiles_fun(const char *name, int type, int mode)
{
    if (mode == 0) {
        if (!valid_type(type))
            return CLI_USAGE;
        if (!descriptor(type).loaded)
            profiles_load(type);
        bool first = true;
        for (const profile_record &r : records()) {
            if (r.type != type)
                continue;
            if (first)
                cli_print(CLI_LEVEL_ORDINARY, "%s", type_info(type).heading);
            first = false;
            cli_print(CLI_LEVEL_ORDINARY, "%s", r.name.c_str());
            cli_print(CLI_LEVEL_RECORD, "%s|", r.name.c_str());
        }
        return 0;
    }
    if (mode != 1 && mode != 2) {
        cli_print(CLI_LEVEL_ORDINARY, "input param ERROR in display_vdsl_profiles_fun!!");
        return CLI_USAGE;
    }
    if (mode == 2 && type != PROFILE_LINE) {
        cli_print(CLI_LEVEL_ORDINARY, "PROFILE TYPE ERROR in display_vdsl_profiles_fun 2!!");
        return 0;
    }
    const profile_record *r = find(type, name);
    if (!r) {
        cli_print(CLI_LEVEL_ORDINARY, "%s User defined Profile No Exist", name);
        return CLI_USAGE;
    }
    switch (type) {
    case 1:
    case 4:
        cli_print(CLI_LEVEL_ORDINARY,
                  type == 1 ? "xDSL Line Template Config Tables: %s "
                            : "xDSL Alarm Template Config Tables: %s ",
                  name);
        cli_print(CLI_LEVEL_RECORD, "%s|", name);
        cli_print(CLI_LEVEL_ORDINARY, "%s", kLongRule.c_str());
        cli_print(CLI_LEVEL_ORDINARY, type == 1 ? "LineProfile   :%s" : "LineAlarmProfile   :%s",
                  r->values[0].c_str());
        cli_print(CLI_LEVEL_ORDINARY, type == 1 ? "ChannelProfile:%s" : "ChanneAlarmlProfile:%s",
                  r->values[1].c_str());
        cli_print(CLI_LEVEL_RECORD, "%s|%s|", r->values[0].c_str(), r->values[1].c_str());
        port_use(type, name, kLongRule);
        return 0;
    case 2: {
        cli_print(CLI_LEVEL_ORDINARY, "xDSL Line Profile Config Tables: %s ", name);
        cli_print(CLI_LEVEL_ORDINARY, "%s", kLongRule.c_str());
        cli_print(CLI_LEVEL_RECORD, "%s|", name);
        column_head();
        for (int i = 0; i < 54; i++) {
            const ParamRow &row = kLineProfileRows[i];
            if (mode == 2 && std::strcmp(row.name, "BND") != 0 && std::strcmp(row.name, "profiles") != 0 &&
                std::strcmp(row.name, "targetSnrmDs") != 0 && std::strcmp(row.name, "targetSnrmUs") != 0)
                continue;
            line_row_show(row, r->values[static_cast<size_t>(i)]);
        }
        port_use(type, name, kLongRule);
        if (mode == 1)
            display_vdsl_parent_profile_fun(name, type);
        return 0;
    }
    case 3:
    case 5:
    case 6: {
        cli_print(CLI_LEVEL_ORDINARY,
                  type == 3   ? "xDSL Channel Profile Config Tables: %s "
                  : type == 5 ? "xDSL Line Alarm Profile Config Tables: %s "
                              : "xDSL Channel Alarm Profile Config Tables: %s ",
                  name);
        cli_print(CLI_LEVEL_ORDINARY, "%s", kLongRule.c_str());
        cli_print(CLI_LEVEL_RECORD, "%s|", name);
        column_head();
        const ParamRow *rows = type_info(type).rows;
        for (size_t i = 0; i < r->values.size(); i++) {
            const std::string &v = r->values[i];
            int value =
                static_cast<int>(hex_text_to_uint(v.c_str(), static_cast<int>(v.size() < 8 ? v.size() : 8)));
            cli_print(CLI_LEVEL_ORDINARY, "%-30s|%-20d %-s ", rows[i].name, value, rows[i].help);
            cli_print(CLI_LEVEL_RECORD, "%s %d|", rows[i].name, value);
        }
        port_use(type, name, kLongRule);
        display_vdsl_parent_profile_fun(name, type);
        return 0;
    }
    case 7:
        vn_tables_display(name, r->values[0].c_str(), r->values[1].c_str());
        break;
    case 8:
        psdmask_tables_display_fun(name, r->values[0].c_str(), nullptr, 8);
        break;
    case 9:
        rfi_tables_display(name, r->values[0].c_str());
        break;
    case 10:
        psdmask_tables_display_fun(name, r->values[0].c_str(), r->values[1].c_str(), 10);
        break;
    default:
        return CLI_USAGE;
    }
    display_vdsl_parent_profile_fun(name, type);
    return 0;
}
