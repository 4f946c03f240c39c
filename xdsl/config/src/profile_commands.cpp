// Profile and template commands: create, delete, show, template settings
// and the system profile list.
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

namespace profiles {

namespace {

struct Kind {
    const char *word;
    int type;
    const char *sysprefix;  // breakpoint kinds
};

const Kind kKinds[] = {
    {"line-template", 1, nullptr},      {"line-profile", 2, nullptr},
    {"chan-profile", 3, nullptr},       {"alarm-template", 4, nullptr},
    {"line-alarm-profile", 5, nullptr}, {"chan-alarm-profile", 6, nullptr},
    {"virtual-noise", 7, "VNS_"},       {"dpbopsd", 8, "DPB_"},
    {"rfi-bands", 9, "RFI_"},           {"psd", 10, "PSD_"},
};

const char *const kShowUsage[] = {
    "Usage: cmd sprofile \t\t\t\t:show system profile names",
    "Usage: cmd line-template \t\t\t:show line template names",
    "Usage: cmd line-template <profile_name>\t\t:show single line template content",
    "Usage: cmd line-profile \t\t\t:show line profile names",
    "Usage: cmd line-profile <profile_name> \t\t:show single line profile content",
    "Usage: cmd virtual-noise <profile_name>\t\t:show single virtual noise line profile content",
    "Usage: cmd dpbopsd <profile_name>\t\t:show single DpboPsd line profile content",
    "Usage: cmd rfi-bands <profile_name>\t\t:show single RfiBands line profile content",
    "Usage: cmd psd <profile_name>\t\t\t:show single PsdMask line profile content",
    "Usage: cmd chan-profile \t\t\t:show channel profile names",
    "Usage: cmd chan-profile <profile_name> \t\t:show single channel profile content",
    "Usage: cmd alarm-template \t\t\t:show line template names",
    "Usage: cmd alarm-template <profile_name>\t:show single line template content",
    "Usage: cmd line-alarm-profile \t\t\t:show line profile names",
    "Usage: cmd line-alarm-profile <profile_name> \t:show single line profile content",
    "Usage: cmd chan-alarm-profile \t\t\t:show channel profile names",
    "Usage: cmd chan-alarm-profile <profile_name> \t:show single channel profile content",
    "Usage: cmd port \t\t\t\t:show profile used in each port",
};

const char *const kSysKinds[] = {"SYS_", "BND_", "VNS_", "PSD_", "RFI_", "DPB_"};

const Kind *kind_of(const std::string &word)
{
    for (const Kind &k : kKinds)
        if (word == k.word)
            return &k;
    return nullptr;
}

void port_view()
{
    bool powered = port_flag("V_POWEROFF_P%d", 1);
    bool enabled = port_enabled(1);
    if (!descriptor(PROFILE_LINE_TEMPLATE).loaded)
        profiles_load(PROFILE_LINE_TEMPLATE);
    const char *power = powered ? "PowerOn" : "PowerOff";
    const char *enable = enabled ? "Enable" : "Disable";
    cli_print(CLI_LEVEL_ORDINARY, "Port%d %s %s LineTemplate(%s), AlarmTemplate(%s)", 1, power, enable,
              map_line().c_str(), map_alarm().c_str());
    cli_print(CLI_LEVEL_RECORD, "%d %s %s %s %s|", 1, power, enable, map_line().c_str(), map_alarm().c_str());
}

// The show of a breakpoint kind: system profiles and user names, one user
// profile, or one system profile's tables.
void show_breakpoint(const Kind &k, const std::vector<std::string> &w)
{
    if (!descriptor(k.type).loaded)
        profiles_load(k.type);
    if (w.size() < 2) {
        sysprof_list(1, 0, k.sysprefix, nullptr);
        display_vdsl_profiles_fun(nullptr, k.type, 0);
        return;
    }
    const char *name = w[1].c_str();
    if (sysprof_exists(k.sysprefix, name) != 0) {
        display_vdsl_profiles_fun(name, k.type, 1);
        return;
    }
    char a[SYSPROF_VALUE_SIZE] = "", b[SYSPROF_VALUE_SIZE] = "";
    switch (k.type) {
    case PROFILE_VIRTUAL_NOISE:
        sysprof_find(k.sysprefix, name, "0.9.27", a, sizeof a);
        sysprof_find(k.sysprefix, name, "0.9.28", b, sizeof b);
        vn_tables_display(name, a, b);
        break;
    case PROFILE_DPBO_EPSD:
        sysprof_find(k.sysprefix, name, "0.9.36", a, sizeof a);
        psdmask_tables_display_fun(name, a, nullptr, PROFILE_DPBO_EPSD);
        break;
    case PROFILE_RFI_BANDS:
        sysprof_find(k.sysprefix, name, "0.9.5", a, sizeof a);
        rfi_tables_display(name, a);
        break;
    default:
        sysprof_find(k.sysprefix, name, "0.10.14", a, sizeof a);
        sysprof_find(k.sysprefix, name, "0.10.15", b, sizeof b);
        psdmask_tables_display_fun(name, a, b, PROFILE_PSD_MASKS);
        break;
    }
    display_vdsl_parent_profile_fun(name, k.type);
}

int names_of(const char *kind) { return profiles_main_vdslprofile_show(kind); }

// "%d %s": the type and the name, each checked.
bool type_and_name(const char *text, int &type, std::string &name)
{
    std::vector<std::string> w;
    if (!split_words(text, w) || w.size() < 2)
        return false;
    type = std::atoi(w[0].c_str());
    name = w[1];
    return true;
}

struct InUse {
    int user_type;  // 1 or 4 (templates), 2 (line profiles), 0 the port
    int slot;       // the user's value that names the profile
    const char *message;
};

const InUse kInUse[11] = {
    {0, 0, nullptr},
    {0, 0, "xDSL Port%d used ,Can't Delete LineTemplate(%s) used"},
    {1, 0, "Vdsl Line Template(%s) used ,Can't Delete LineProfile(%s)"},
    {1, 1, "Vdsl Line Template(%s) used ,Can't Delete ChannelProfile(%s)"},
    {0, 0, "xDSL Port%d used ,Can't Delete AlarmTemplate(%s) used"},
    {4, 0, "Vdsl Alarm Template(%s) used ,Can't Delete LineAlarmProfile(%s)"},
    {4, 1, "Vdsl Alarm Template(%s) used ,Can't Delete ChannelAlarmProfile(%s)"},
    {2, 2, "Vdsl Line Profile(%s) used ,Can't Delete VirtualNoiseProfile(%s)"},
    {2, 5, "Vdsl Line Profile(%s) used ,Can't Delete DpboEPsd Profile(%s)"},
    {2, 4, "Vdsl Line Profile(%s) used ,Can't Delete RFI Profile(%s)"},
    {2, 3, "Vdsl Line Profile(%s) used ,Can't Delete PSD Profile(%s)"},
};

bool in_use(int type, const std::string &name)
{
    const InUse &u = kInUse[type];
    if (type == 1 || type == 4) {
        const std::string &used = type == 1 ? map_line() : map_alarm();
        if (used == name) {
            cli_print(CLI_LEVEL_ERROR, u.message, 1, name.c_str());
            return true;
        }
        return false;
    }
    for (const profile_record &r : records()) {
        if (r.type == u.user_type && r.values[static_cast<size_t>(u.slot)] == name) {
            cli_print(CLI_LEVEL_ERROR, u.message, r.name.c_str(), name.c_str());
            return true;
        }
    }
    return false;
}

int create_or_delete(char *rest, int type, bool create)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.empty()) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <profile_name>");
        return CLI_USAGE;
    }
    std::string text = std::to_string(type) + " " + w[0];
    return create ? profile_create(text.c_str()) : profile_delete(text.c_str());
}

struct TemplateSet {
    int profile_type, template_type, field;
    const char *usage, *missing_profile, *profile_kind, *missing_template, *template_kind;
};

const TemplateSet kTemplateSets[] = {
    {2, 1, 0, "Usage: cmd <LineTemplate profile_name> <LineProfile profile_name>", "%s Line Profile No Exist",
     "line-profile", "%s Line Template No Exist", "line-template"},
    {3, 1, 1, "Usage: cmd <LineTemplate profile_name> <ChannelProfile profile_name>",
     "%s Channel Profile No Exist", "chan-profile", "%s Line Template No Exist", "line-template"},
    {5, 4, 0, "Usage: cmd <AlarmTemplate profile_name> <LineAlarmProfile profile_name>",
     "%s Line Alarm Profile No Exist", "line-alarm-profile", "%s Alarm Template No Exist", "alarm-template"},
    {6, 4, 1, "Usage: cmd <AlarmTemplate profile_name> <ChannelAlarmProfile profile_name>",
     "%s Channel Alarm Profile No Exist", "chan-alarm-profile", "%s Alarm Template No Exist",
     "alarm-template"},
};

int template_set(char *rest, const TemplateSet &s)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.size() < 2) {
        cli_print(CLI_LEVEL_ORDINARY, "%s", s.usage);
        return CLI_USAGE;
    }
    if (!find(s.profile_type, w[1].c_str())) {
        cli_print(CLI_LEVEL_ORDINARY, s.missing_profile, w[1].c_str());
        names_of(s.profile_kind);
        return CLI_USAGE;
    }
    profile_record *t = find(s.template_type, w[0].c_str());
    if (!t) {
        cli_print(CLI_LEVEL_ORDINARY, s.missing_template, w[0].c_str());
        names_of(s.template_kind);
        return CLI_USAGE;
    }
    t->values[static_cast<size_t>(s.field)] = w[1];
    mark_changed(*t);
    return 0;
}

int root_show(char *rest, int type)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    if (w.empty()) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <profile_name>");
        display_vdsl_profiles_fun(nullptr, type, 0);
        return 0;
    }
    int mode = 1;
    if (type == PROFILE_LINE && w.size() > 1) {
        char *end;
        long m = std::strtol(w[1].c_str(), &end, 10);
        if (end != w[1].c_str())
            mode = m < -1 || m > 3 ? -1 : static_cast<int>(m);  // anything else is refused there
    }
    display_vdsl_profiles_fun(w[0].c_str(), type, mode);
    return 0;
}

int root_show_breakpoint(char *rest, const char *kind)
{
    std::string text = std::string(kind) + " " + (rest ? rest : "");
    profiles_main_vdslprofile_show(text.c_str());
    return 0;
}

}  // namespace

}  // namespace profiles

using namespace profiles;

extern "C" int profile_create(const char *text)
{
    int type;
    std::string name;
    if (!type_and_name(text, type, name) || !valid_type(type)) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <profile_name>");
        return CLI_USAGE;
    }
    if (!descriptor(type).loaded)
        profiles_load(type);
    if (name.size() > PROFILE_NAME_MAX) {
        cli_print(CLI_LEVEL_ERROR, "profile_name len=%d too long limit 20 char",
                  static_cast<int>(name.size()));
        return CLI_USAGE;
    }
    if (name.find('@') != std::string::npos) {
        cli_print(CLI_LEVEL_ERROR, "@ is reserve word in profile manage");
        return CLI_USAGE;
    }
    if (find(type, name.c_str())) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <profile_name>");
        cli_print(CLI_LEVEL_ERROR, "profile_name exist");
        return CLI_USAGE;
    }
    if (descriptor(type).count >= PROFILE_COUNT_MAX) {
        cli_print(CLI_LEVEL_ERROR, "Profile Number Full. Limit:%d", PROFILE_COUNT_MAX);
        return CLI_USAGE;
    }
    if (descriptor(type).next_sequence + 1 >= 65535) {
        cli_print(CLI_LEVEL_ORDINARY, "Sorting Profile , please wait few minutes");
        profiles_renumber_all();
    }
    return new_vdsl_profiles_fun(type, name.c_str());
}

extern "C" int profile_delete(const char *text)
{
    if (profile_store_state() != PROFILE_STORE_LOADED)
        profiles_load(PROFILE_ALL);
    int type;
    std::string name;
    if (!type_and_name(text, type, name) || !valid_type(type)) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <profile_name>");
        return CLI_USAGE;
    }
    if (name == PROFILE_DEFAULT_NAME) {
        cli_print(CLI_LEVEL_ERROR, "Can't delete Default Profile");
        return CLI_USAGE;
    }
    if (in_use(type, name))
        return CLI_USAGE;
    return profile_remove(type, name.c_str(), type_info(type).table_key);
}

extern "C" int profiles_main_vdslprofile_show(const char *text)
{
    std::vector<std::string> w;
    if (!split_words(text, w))
        return CLI_USAGE;
    const Kind *k = w.empty() ? nullptr : kind_of(w[0]);
    if (!w.empty() && w[0] == "sprofile") {
        for (const char *p : kSysKinds)
            sysprof_list(1, 0, p, nullptr);
        return 0;
    }
    if (!w.empty() && w[0] == "port") {
        port_view();
        return 0;
    }
    if (!k) {
        for (const char *line : kShowUsage)
            cli_print(CLI_LEVEL_ORDINARY, "%s", line);
        return CLI_USAGE;
    }
    if (k->sysprefix) {
        show_breakpoint(*k, w);
        return 0;
    }
    display_vdsl_profiles_fun(w.size() > 1 ? w[1].c_str() : nullptr, k->type, w.size() > 1 ? 1 : 0);
    return 0;
}

// Handlers of the command tree.
#define CREATE_DELETE(suffix, type)                                                                          \
    extern "C" int cmd_profile_new_##suffix(char *rest, const cli_dir_row *)                                 \
    {                                                                                                        \
        return create_or_delete(rest, type, true);                                                           \
    }                                                                                                        \
    extern "C" int cmd_profile_del_##suffix(char *rest, const cli_dir_row *)                                 \
    {                                                                                                        \
        return create_or_delete(rest, type, false);                                                          \
    }
CREATE_DELETE(line_template, 1)
CREATE_DELETE(line, 2)
CREATE_DELETE(chan, 3)
CREATE_DELETE(alarm_template, 4)
CREATE_DELETE(line_alarm, 5)
CREATE_DELETE(chan_alarm, 6)
CREATE_DELETE(vn, 7)
CREATE_DELETE(dpb, 8)
CREATE_DELETE(rfi, 9)
CREATE_DELETE(psd, 10)
#undef CREATE_DELETE

extern "C" int cmd_profiles_show(char *rest, const cli_dir_row *)
{
    return profiles_main_vdslprofile_show(rest);
}

extern "C" int cmd_template_set_line_profile(char *rest, const cli_dir_row *)
{
    return template_set(rest, kTemplateSets[0]);
}

extern "C" int cmd_template_set_chan_profile(char *rest, const cli_dir_row *)
{
    return template_set(rest, kTemplateSets[1]);
}

extern "C" int cmd_template_set_line_alarm_profile(char *rest, const cli_dir_row *)
{
    return template_set(rest, kTemplateSets[2]);
}

extern "C" int cmd_template_set_chan_alarm_profile(char *rest, const cli_dir_row *)
{
    return template_set(rest, kTemplateSets[3]);
}

#define ROOT_SHOW(suffix, type)                                                                              \
    extern "C" int cmd_show_##suffix(char *rest, const cli_dir_row *) { return root_show(rest, type); }
ROOT_SHOW(line_template, 1)
ROOT_SHOW(line_profile, 2)
ROOT_SHOW(chan_profile, 3)
ROOT_SHOW(alarm_template, 4)
ROOT_SHOW(line_alarm_profile, 5)
ROOT_SHOW(chan_alarm_profile, 6)
#undef ROOT_SHOW

extern "C" int cmd_show_virtual_noise(char *rest, const cli_dir_row *)
{
    return root_show_breakpoint(rest, "virtual-noise");
}

extern "C" int cmd_show_dpbopsd(char *rest, const cli_dir_row *)
{
    return root_show_breakpoint(rest, "dpbopsd");
}

extern "C" int cmd_show_rfi_bands(char *rest, const cli_dir_row *)
{
    return root_show_breakpoint(rest, "rfi-bands");
}

extern "C" int cmd_show_psd(char *rest, const cli_dir_row *) { return root_show_breakpoint(rest, "psd"); }

extern "C" int cmd_show_port(char *, const cli_dir_row *) { return profiles_main_vdslprofile_show("port"); }

extern "C" int cmd_show_sprofile(char *rest, const cli_dir_row *)
{
    std::vector<std::string> w;
    if (!split_words(rest, w))
        return CLI_USAGE;
    static const char *const kWords[] = {"SYS", "BND", "VNS", "PSD", "RFI", "DPB"};
    if (!w.empty()) {
        if (w[0] == "ALL") {
            for (const char *p : kSysKinds)
                sysprof_list(1, 0, p, nullptr);
            return 0;
        }
        for (size_t i = 0; i < 6; i++) {
            if (w[0] == kWords[i]) {
                sysprof_list(1, 0, kSysKinds[i], nullptr);
                return 0;
            }
        }
    }
    cli_print(CLI_LEVEL_ORDINARY, "Usage:\tcmd <options> <profile_name>");
    cli_print(CLI_LEVEL_ORDINARY, "options:SYS,BND,VNS,PSD,RFI,DPB,ALL");
    return CLI_USAGE;
}
