// The in-memory profile store: one list of records of all ten types.
#include <cstdio>
#include <new>
#include <cstring>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "firmware_package.h"
#include "profile_tables.h"
#include "store_internal.h"

namespace profiles {

namespace {

std::list<profile_record> all_records;
profile_descriptor descriptors[11];
int state_word = PROFILE_STORE_EMPTY;
std::string line_template, alarm_template;
std::vector<uint32_t> refused_numbers[11];

const char *const kSystemPrefix[11] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, "VNS_",  "DPB_",  "RFI_",  "PSD_"};

// The sub-profile of a new line profile when the package has none of the kind.
const char kNoSubProfile[] = "none";

}  // namespace

std::list<profile_record> &records() { return all_records; }

profile_descriptor &descriptor(int type) { return descriptors[valid_type(type) ? type : 0]; }

void set_store_state(int state) { state_word = state; }

std::vector<uint32_t> &refused(int type) { return refused_numbers[valid_type(type) ? type : 0]; }

std::string &map_line() { return line_template; }

std::string &map_alarm() { return alarm_template; }

profile_record *lookup(int type, const std::string &name)
{
    for (profile_record &r : all_records)
        if (r.type == type && r.name == name)
            return &r;
    return nullptr;
}

profile_record *find(int type, const char *name)
{
    if (!name)
        return nullptr;
    if (valid_type(type) && !descriptors[type].loaded)
        profiles_load(type);
    return lookup(type, name);
}

void mark_changed(profile_record &r)
{
    r.state = PROFILE_CHANGED;
    descriptors[r.type].dirty = 1;
}

bool refuse_default(const char *name)
{
    if (std::strcmp(name, PROFILE_DEFAULT_NAME) != 0)
        return false;
    cli_print(CLI_LEVEL_ORDINARY, "Can't modify Default Profile");
    return true;
}

profile_record *make(int type, const char *name)
{
    if (!valid_type(type)) {
        cli_print(CLI_LEVEL_ORDINARY, "PROFILE TYPE ERROR in new_vdsl_profiles_fun!!");
        return nullptr;
    }
    if (find(type, name)) {
        cli_print(CLI_LEVEL_ERROR, "%s Profile Exist", name);
        return nullptr;
    }
    if (kSystemPrefix[type] && sysprof_exists(kSystemPrefix[type], name) == 0) {
        cli_print(CLI_LEVEL_ERROR, "%s Profile Exist in System package", name);
        return nullptr;
    }
    profile_record r;
    r.name.assign(name, strnlen(name, PROFILE_NAME_SIZE - 1));
    r.type = type;
    const TypeInfo &info = type_info(type);
    if (is_template(type)) {
        r.values = {PROFILE_DEFAULT_NAME, PROFILE_DEFAULT_NAME};
    } else if (info.rows) {
        for (int i = 0; i < info.tokens; i++) {
            const ParamRow &row = info.rows[i];
            r.oids.emplace_back(row.oid);
            if (row.value) {
                r.values.emplace_back(row.value);
            } else {
                char first[SYSPROF_NAME_SIZE] = "";
                sysprof_list(0, 1, row.sysprefix, first);
                // Without such a system profile the slot still needs a
                // value: an empty one would make the stored record short.
                r.values.emplace_back(first[0] ? first : kNoSubProfile);
            }
        }
    } else {
        for (int i = 0; i < info.tokens; i++) {
            r.oids.emplace_back(info.oids[i]);
            r.values.emplace_back(static_cast<size_t>(info.lengths[i]), '0');
        }
    }
    profile_descriptor &d = descriptors[type];
    r.sequence = ++d.next_sequence;
    d.count++;
    d.dirty = 1;
    all_records.push_back(std::move(r));
    return &all_records.back();
}

bool split_words(const char *text, std::vector<std::string> &words)
{
    words.clear();
    const char *p = text ? text : "";
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
            p++;
        if (!*p)
            return true;
        const char *start = p;
        while (*p && !(*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f'))
            p++;
        size_t n = static_cast<size_t>(p - start);
        if (n >= PROFILE_NAME_SIZE) {
            cli_print(CLI_LEVEL_ERROR, "Word too long (at most %d characters): %.20s...",
                      PROFILE_NAME_SIZE - 1, start);
            return false;
        }
        words.emplace_back(start, n);
    }
}

}  // namespace profiles

using namespace profiles;

extern "C" const profile_record *profile_find(int type, const char *name) { return find(type, name); }

extern "C" int new_vdsl_profiles_fun(int type, const char *name)
{
    try {
        return make(type, name) ? 0 : CLI_USAGE;
    } catch (const std::bad_alloc &) {
        cli_print(CLI_LEVEL_ORDINARY, "Memory allocation fail!!");
        return CLI_USAGE;
    }
}

extern "C" int profile_remove(int type, const char *name, const char *table_key)
{
    for (auto it = all_records.begin(); it != all_records.end(); ++it) {
        if (it->type != type || it->name != name)
            continue;
        char key[PROFILE_NAME_SIZE];
        std::snprintf(key, sizeof key, "%s%u", table_key, it->sequence);
        cfgmgr_remove(key);
        all_records.erase(it);
        if (descriptors[type].count)
            descriptors[type].count--;
        descriptors[type].dirty = 1;
        return 0;
    }
    cli_print(CLI_LEVEL_ERROR, "%s User defined Profile No Exist", name);
    return CLI_USAGE;
}

namespace {

int update_value(const char *name, int type, const char *oid, const char *parameter, uint32_t number,
                 const char *text)
{
    if (refuse_default(name))
        return CLI_USAGE;
    profile_record *r = find(type, name);
    if (!r) {
        cli_print(CLI_LEVEL_ORDINARY, "%s Profile No Exist", name);
        return CLI_USAGE;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", number);
    std::string value = text ? text : hex;
    // Stored records join values with '@' and never hold an empty one.
    if (value.empty() || value.size() > PROFILE_VALUE_MAX ||
        value.find_first_of("@ \t\r\n") != std::string::npos) {
        cli_print(CLI_LEVEL_ERROR, "Value refused: 1 to %d characters without '@' or blanks.",
                  PROFILE_VALUE_MAX);
        return CLI_USAGE;
    }
    mark_changed(*r);
    if (type == PROFILE_LINE) {
        int slot = -1;
        if (parameter) {
            slot = line_row_index(parameter);
        } else if (oid) {
            for (int i = 0; i < 54 && slot < 0; i++)
                if (r->oids[static_cast<size_t>(i)] == oid)
                    slot = i;
        } else {
            cli_print(CLI_LEVEL_ORDINARY, "update_line_profile fail!!");
            return CLI_USAGE;
        }
        if (slot >= 0)
            r->values[static_cast<size_t>(slot)] = value;
    } else if (is_template(type)) {
        cli_print(CLI_LEVEL_ORDINARY, "PROFILE TYPE ERROR in update_profile_value_fun!!");
    } else if (oid) {
        for (size_t i = 0; i < r->oids.size(); i++)
            if (r->oids[i] == oid)
                r->values[i] = value;
    }
    descriptors[type].dirty = 1;
    return 0;
}

}  // namespace

extern "C" int update_profile_value_fun(const char *name, int type, const char *oid, const char *parameter,
                                        uint32_t number, const char *text)
{
    try {
        return update_value(name, type, oid, parameter, number, text);
    } catch (const std::bad_alloc &) {
        cli_print(CLI_LEVEL_ORDINARY, "Memory allocation fail!!");
        return CLI_USAGE;
    }
}

extern "C" int update_psd_type_profile_fun(const char *name, int type, const char *oid, int index, int tone,
                                           float level)
{
    profile_record *r = find(type, name);
    if (!r) {
        static const char *const missing[11] = {"",
                                                "",
                                                "",
                                                "",
                                                "",
                                                "",
                                                "",
                                                "%s Vatual Noise No Exist",
                                                "%s DpboEPsd No Exist",
                                                "%s RFI No Exist",
                                                "%s PSD No Exist"};
        if (is_breakpoint_type(type))
            cli_print(CLI_LEVEL_ORDINARY, missing[type], name);
        return CLI_USAGE;
    }
    if (index <= 0) {
        cli_print(CLI_LEVEL_ORDINARY, "index value must over one in update_psd_type_profile_fun");
        return CLI_USAGE;
    }
    if (!is_breakpoint_type(type) || r->oids.empty())
        return CLI_USAGE;
    size_t slot = r->oids.size() > 1 && r->oids[0] != (oid ? oid : "") ? 1 : 0;
    std::string &text = r->values[slot];
    size_t at = static_cast<size_t>(index - 1) * 6;
    // The caller keeps the index within the text; a word past it would
    // grow the record beyond its fixed length.
    if (at + 6 > text.size())
        return CLI_USAGE;
    mark_changed(*r);
    char tone_text[16], level_text[32], word[16];
    std::snprintf(tone_text, sizeof tone_text, "%d", tone);
    std::snprintf(level_text, sizeof level_text, "%.4f", static_cast<double>(level));
    if (type == PROFILE_VIRTUAL_NOISE)
        vn_text_to_word(tone_text, level_text, word);
    else
        psd_text_to_word(tone_text, level_text, word);
    text.replace(at, 6, word, 6);
    return 0;
}

extern "C" int vdsl_profiles_map_port_fun(int type, const char *name, char *mark)
{
    const std::string &line = line_template, &alarm = alarm_template;
    bool used = false;
    switch (type) {
    case 1:
        used = line == name;
        break;
    case 4:
        used = alarm == name;
        break;
    case 2:
    case 3: {
        profile_record *t = find(PROFILE_LINE_TEMPLATE, line.c_str());
        if (!t) {
            cli_print(CLI_LEVEL_ORDINARY, "%s Vdsl Line Template No Exist", line.c_str());
            return CLI_USAGE;
        }
        used = t->values[type == 2 ? 0 : 1] == name;
        break;
    }
    case 5:
    case 6: {
        profile_record *t = find(PROFILE_ALARM_TEMPLATE, alarm.c_str());
        if (!t) {
            cli_print(CLI_LEVEL_ORDINARY, "%s Vdsl Alarm Template No Exist", alarm.c_str());
            return CLI_USAGE;
        }
        used = t->values[type == 5 ? 0 : 1] == name;
        break;
    }
    case 7:
    case 8:
    case 9:
    case 10: {
        profile_record *t = find(PROFILE_LINE_TEMPLATE, line.c_str());
        if (!t) {
            cli_print(CLI_LEVEL_ORDINARY, "%s Vdsl Line Template No Exist", line.c_str());
            return CLI_USAGE;
        }
        profile_record *lp = find(PROFILE_LINE, t->values[0].c_str());
        if (!lp) {
            cli_print(CLI_LEVEL_ORDINARY, "%s Vdsl Line Profile No Exist", t->values[0].c_str());
            return CLI_USAGE;
        }
        static const char *const slot_name[11] = {"", "", "", "", "", "", "", "VNS", "DPB", "RFI", "PSD"};
        used = lp->values[static_cast<size_t>(line_row_index(slot_name[type]))] == name;
        break;
    }
    default:
        cli_print(CLI_LEVEL_ORDINARY, "PROFILE TYPE ERROR in vdsl_profiles_map_port_fun!!");
        return 0;
    }
    *mark = used ? PROFILE_CHANGED : PROFILE_STORED;
    return 0;
}

extern "C" void free_vdsl_profiles_fun(void)
{
    all_records.clear();
    for (std::vector<uint32_t> &r : refused_numbers)
        r.clear();
    state_word = PROFILE_STORE_EMPTY;
    std::memset(descriptors, 0, sizeof descriptors);
}

extern "C" int profile_store_state(void) { return state_word; }

extern "C" const profile_descriptor *profile_type_descriptor(int type) { return &descriptor(type); }

extern "C" const char *port_line_template(void) { return line_template.c_str(); }

extern "C" const char *port_alarm_template(void) { return alarm_template.c_str(); }

extern "C" void port_map_set(const char *line, const char *alarm)
{
    line_template.assign(line, strnlen(line, PROFILE_NAME_SIZE - 1));
    alarm_template.assign(alarm, strnlen(alarm, PROFILE_NAME_SIZE - 1));
}

extern "C" const char *profile_record_name(const profile_record *record) { return record->name.c_str(); }

extern "C" char profile_record_state(const profile_record *record) { return record->state; }

extern "C" uint32_t profile_record_sequence(const profile_record *record) { return record->sequence; }

extern "C" int profile_record_slots(const profile_record *record)
{
    return static_cast<int>(record->values.size());
}

extern "C" const char *profile_record_value(const profile_record *record, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= record->values.size())
        return nullptr;
    return record->values[static_cast<size_t>(index)].c_str();
}
