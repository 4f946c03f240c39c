// Applying templates to the port: every value of the profiles a template
// names, written into the chip's MIB in slot order, between a disconnect
// and a reconnect of the port.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "firmware_package.h"
#include "profile_tables.h"
#include "store_internal.h"
#include "vdsl_request.h"

namespace profiles {

namespace {

void set_value(int port, const char *oid, const char *value)
{
    if (mib_set_logic(port, oid, value) != 0)
        cli_print(CLI_LEVEL_ORDINARY, "Error setting MIB value.");
}

void sub_profile(int port, const char *prefix, int type, const std::string &value)
{
    if (sysprof_exists(prefix, value.c_str()) == 0)
        sysprof_apply(port, prefix, value.c_str());
    else
        profiles_apply_port(port, value.c_str(), type);
}

// Read-modify-write of bits of one chip word; a failed read writes nothing,
// so the chip never gets a word it did not hold.
void twconfig_bit(int port, uint32_t bit, bool on)
{
    uint32_t w = 0;
    if (mib_get_hex(port, "2.1.9", &w) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Error setting MIB value.");
        return;
    }
    w = on ? (w | bit) : (w & ~bit & 0xffffff);
    char text[16];
    std::snprintf(text, sizeof text, "%x", w);
    set_value(port, "2.1.9", text);
}

void us0_disable(int port, bool disable)
{
    unsigned char answer[VDSL_BLOCK_SIZE] = {};
    if (mib_get_logic(port, "0.10.12", answer) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Error setting MIB value.");
        return;
    }
    char first[7] = {};
    std::memcpy(first, answer + VDSL_ANSWER_TEXT, 6);
    uint32_t w = hex_text_to_uint(first, 6);
    w = disable ? (w | 0xff) : (w & 0xffff00);
    char text[16];
    std::snprintf(text, sizeof text, "%x", w);
    set_value(port, "0.10.12", text);
}

void line_profile(int port, const profile_record &r)
{
    for (size_t i = 0; i < r.values.size() && i < 54; i++) {
        const ParamRow &row = kLineProfileRows[i];
        const std::string &v = r.values[i];
        const std::string &oid = r.oids[i];
        if (oid == "10.1.1.2") {
            sysprof_apply(port, "SYS_", v.c_str());
        } else if (oid == "10.1.1.3") {
            sysprof_apply(port, "BND_", v.c_str());
        } else if (oid == "10.1.1.5") {
            sub_profile(port, "PSD_", PROFILE_PSD_MASKS, v);
        } else if (oid == "10.1.1.4") {
            sub_profile(port, "VNS_", PROFILE_VIRTUAL_NOISE, v);
        } else if (oid == "10.1.1.6") {
            sub_profile(port, "RFI_", PROFILE_RFI_BANDS, v);
        } else if (oid == "10.1.1.7") {
            sub_profile(port, "DPB_", PROFILE_DPBO_EPSD, v);
        } else if (oid == "10.1.1.8") {
            sysprof_apply(port, "IOT_", sysprof_exists("IOT_", v.c_str()) == 0 ? v.c_str() : "0");
        } else if (oid == "2.1.9") {
            uint32_t bit = std::strcmp(row.name, "led") == 0         ? 0x100
                           : std::strcmp(row.name, "bitSwapUs") == 0 ? 0x200000
                                                                     : 0x400000;
            twconfig_bit(port, bit, v == "on");
        } else if (oid == "0.10.12") {
            us0_disable(port, v == "disable");
        } else if (std::strcmp(row.name, "bandConfig") == 0) {
            const char *word = v == "0" ? "000000" : v == "1" ? "000108" : v == "2" ? "000208" : nullptr;
            if (word)
                set_value(port, "0.9.57", word);
        } else {
            set_value(port, oid.c_str(), v.c_str());
            if (oid == "0.9.6") {
                const std::string &us = r.values[i + 1];
                set_value(port, "3.1.39", v == "3" || us == "3" ? "1" : "0");
            }
        }
    }
}

void store_map(int number)
{
    char key[32];
    std::snprintf(key, sizeof key, "port%d_map_profile", number);
    std::string value = map_line() + "@" + map_alarm();
    cfgmgr_write(key, value.c_str());
}

void ensure_loaded()
{
    if (profile_store_state() != PROFILE_STORE_LOADED)
        profiles_load(PROFILE_ALL);
}

// The twins "line-template" and "alarm-template".
int set_template(char *rest, bool line)
{
    ensure_loaded();
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    char *end = nullptr;
    long number = w.empty() ? 0 : std::strtol(w[0].c_str(), &end, 10);
    if (w.size() < 2 || end == w[0].c_str()) {
        cli_print(CLI_LEVEL_ORDINARY, line ? "Usage: cmd <port> <Vdsl Config Line Template Name>"
                                           : "Usage: cmd <port> <Vdsl Config Alarm Template Name>");
        profiles_main_vdslprofile_show(line ? "line-template" : "alarm-template");
        return CLI_USAGE;
    }
    long reconnect = w.size() > 2 ? std::strtol(w[2].c_str(), nullptr, 10) : 1;
    if (number != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Over MAX_PORTS");
        return CLI_USAGE;
    }
    const std::string &name = w[1];
    if (!find(line ? PROFILE_LINE_TEMPLATE : PROFILE_ALARM_TEMPLATE, name.c_str())) {
        cli_print(CLI_LEVEL_ORDINARY, line ? "%s Line Template No Exist" : "%s Alarm Template No Exist",
                  name.c_str());
        return CLI_USAGE;
    }
    const int port = static_cast<int>(number) - 1;
    if (reconnect)
        port_control(port, VDSL_PORT_DISCONNECT);
    profiles_apply_port(port, name.c_str(), line ? PROFILE_LINE_TEMPLATE : PROFILE_ALARM_TEMPLATE);
    bool enabled = port_enabled(static_cast<int>(number));
    if (reconnect) {
        if (enabled) {
            port_control(port, VDSL_PORT_CONNECT);
            cli_print(CLI_LEVEL_TERMINAL, "Port%d Enabled...", static_cast<int>(number));
        } else {
            cli_print(CLI_LEVEL_TERMINAL, "Port%d Not Enabled...", static_cast<int>(number));
        }
    }
    (line ? map_line() : map_alarm()) = name;
    store_map(static_cast<int>(number));
    return 0;
}

int line_alarm_template(const char *text)
{
    ensure_loaded();
    std::vector<std::string> w;
    if (!split_words(text, w))
        return CLI_USAGE;
    if (w.size() < 3) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <port> <LineTemplate Name> <AlarmTemplate Name>");
        profiles_main_vdslprofile_show("line-template");
        profiles_main_vdslprofile_show("alarm-template");
        return CLI_USAGE;
    }
    char *end;
    long number = std::strtol(w[0].c_str(), &end, 10);
    if (end == w[0].c_str() || number != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Over MAX_PORTS");
        return CLI_USAGE;
    }
    port_control(0, VDSL_PORT_DISCONNECT);
    std::string a = "1 " + w[1] + " 0", b = "1 " + w[2] + " 0";
    port_set_line_template(&a[0]);
    port_set_alarm_template(&b[0]);
    // Brought up whatever V_DISABLE_P1 holds, as the operator asked for
    // both templates at once.
    port_control(0, VDSL_PORT_CONNECT);
    return 0;
}

}  // namespace

}  // namespace profiles

using namespace profiles;

extern "C" int profiles_apply_port(int port, const char *name, int type)
{
    const profile_record *r = find(type, name);
    if (!r) {
        cli_print(CLI_LEVEL_ORDINARY, "%s Profile No Exist", name);
        return CLI_USAGE;
    }
    // Copies: applying a sub-profile may load other types.
    if (type == PROFILE_LINE_TEMPLATE || type == PROFILE_ALARM_TEMPLATE) {
        std::string first = r->values[0], second = r->values[1];
        profiles_apply_port(port, first.c_str(),
                            type == PROFILE_LINE_TEMPLATE ? PROFILE_LINE : PROFILE_LINE_ALARM);
        profiles_apply_port(port, second.c_str(),
                            type == PROFILE_LINE_TEMPLATE ? PROFILE_CHANNEL : PROFILE_CHANNEL_ALARM);
        return 0;
    }
    profile_record copy = *r;
    if (type == PROFILE_LINE) {
        line_profile(port, copy);
        return 0;
    }
    for (size_t i = 0; i < copy.values.size(); i++)
        set_value(port, copy.oids[i].c_str(), copy.values[i].c_str());
    return 0;
}

extern "C" int port_set_line_template(char *rest) { return set_template(rest, true); }

extern "C" int port_set_alarm_template(char *rest) { return set_template(rest, false); }

extern "C" int cmd_port_set_line_template(char *rest, const cli_dir_row *)
{
    return port_set_line_template(rest);
}

extern "C" int cmd_port_set_alarm_template(char *rest, const cli_dir_row *)
{
    return port_set_alarm_template(rest);
}

extern "C" int cmd_port_set_line_alarm_template(char *rest, const cli_dir_row *)
{
    return line_alarm_template(rest);
}

extern "C" int cmd_port_set_active(char *rest, const cli_dir_row *)
{
    ensure_loaded();
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    int type = w.empty() ? 0 : std::atoi(w[0].c_str());
    if (w.size() < 2 || !valid_type(type)) {
        static const char *const kLines[] = {"Usage: cmd <options> <Profile Name>",
                                             "options range:1-10",
                                             "1:LineTemplate",
                                             "2:LineProfile",
                                             "3:ChannelProfile",
                                             "4:AlarmTemplate",
                                             "5:LineAlarmProfile",
                                             "6:ChanAlarmProfile",
                                             "7:VirtualNose",
                                             "8:DpboPsd",
                                             "9:RfiBands",
                                             "10:PsdMasks"};
        for (const char *l : kLines)
            cli_print(CLI_LEVEL_ORDINARY, "%s", l);
        return CLI_USAGE;
    }
    char mark = 0;
    vdsl_profiles_map_port_fun(type, w[1].c_str(), &mark);
    if (mark == PROFILE_CHANGED) {
        cli_print(CLI_LEVEL_ORDINARY, "Active xDSL Port %d", 1);
        std::string text = "1 " + map_line() + " " + map_alarm();
        line_alarm_template(text.c_str());
    }
    return 0;
}

extern "C" int cmd_port_initprofile(char *, const cli_dir_row *)
{
    ensure_loaded();
    port_control(0, VDSL_PORT_DISCONNECT);
    char line[PROFILE_NAME_SIZE];
    // No value at all skips the initialisation and its message.
    if (cfgmgr_read("V_POWEROFF_P1", line, sizeof line) == CFGMGR_READ_OK) {
        if (port_flag("V_POWEROFF_P%d", 1)) {
            cli_print(CLI_LEVEL_ORDINARY, "Init Port%d LineTemplate(%s), AlarmTemplate(%s)", 1,
                      map_line().c_str(), map_alarm().c_str());
            std::string lt = map_line(), at = map_alarm();
            if (!find(PROFILE_LINE_TEMPLATE, lt.c_str())) {
                cli_print(CLI_LEVEL_ORDINARY, "%s Line Template not exist, Use Default", lt.c_str());
                lt = PROFILE_DEFAULT_NAME;
            }
            std::string a = "1 " + lt + " 0";
            port_set_line_template(&a[0]);
            if (!find(PROFILE_ALARM_TEMPLATE, at.c_str())) {
                cli_print(CLI_LEVEL_ORDINARY, "%s Alarm Template not exist, Use Default", at.c_str());
                at = PROFILE_DEFAULT_NAME;
            }
            std::string b = "1 " + at + " 0";
            port_set_alarm_template(&b[0]);
        } else {
            cli_print(CLI_LEVEL_ORDINARY, "V_POWEROFF_P%d ,not Init", 1);
        }
    }
    if (port_enabled(1)) {
        port_control(0, VDSL_PORT_CONNECT);
        cli_print(CLI_LEVEL_TERMINAL, "Port%d Enabled...", 1);
    } else {
        cli_print(CLI_LEVEL_TERMINAL, "Port%d Not Enabled...", 1);
    }
    return 0;
}
