// The profile store in the configuration manager: one key per record
// (table key + sequence number, values joined with '@') and one index key
// per type listing the sequence numbers.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "profile_tables.h"
#include "store_internal.h"

namespace profiles {

namespace {

constexpr size_t kRecordBuffer = 4096;
constexpr size_t kLineLimit = 4095;
// Longer answer lines are read whole to be told apart from missing keys.
constexpr size_t kReadLimit = 65536;
constexpr size_t kIndexMax = 31;
constexpr size_t kBatchMax = 51;
constexpr uint32_t kSequenceMax = 65535;
constexpr uint32_t kRenumberAt = 60000;

// Renumbering loads every type first; that load must not start another
// renumbering while the high numbers are still in place.
bool renumbering = false;

// '@'-tokens of text, empty ones skipped as the stored records never hold one.
std::vector<std::string> tokens(const std::string &text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('@', at);
        if (end == std::string::npos)
            end = text.size();
        if (end > at)
            out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string trimmed(const char *line)
{
    std::string s = line;
    size_t b = s.find_first_not_of(" \t\r\n\v\f");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r\n\v\f");
    return s.substr(b, e - b + 1);
}

void read_port_map()
{
    char line[kRecordBuffer];
    if (cfgmgr_read("port1_map_profile", line, sizeof line) != CFGMGR_READ_OK)
        return;
    if (std::strcmp(line, "\n") == 0) {
        map_line().clear();
        map_alarm().clear();
        return;
    }
    std::vector<std::string> t = tokens(trimmed(line));
    map_line() = t.size() > 0 ? t[0].substr(0, PROFILE_NAME_SIZE - 1) : std::string();
    map_alarm() = t.size() > 1 ? t[1].substr(0, PROFILE_NAME_SIZE - 1) : std::string();
}

struct Batch {
    std::vector<std::string> lines;
};

void collect(void *context, size_t index, const char *line)
{
    static_cast<Batch *>(context)->lines.at(index) = line;
}

// One stored record: 0 taken, 1 refused alone, -1 the type's load stops.
int take_record(int type, int token_count, const char *table_key, uint32_t sequence, const std::string &line)
{
    if (line.size() > kLineLimit) {
        cli_print(CLI_LEVEL_ORDINARY, "%s%u: stored text too long, not loaded", table_key, sequence);
        return 1;
    }
    std::vector<std::string> t = tokens(trimmed(line.c_str()));
    if (t.empty())
        return 1;  // no such key
    const std::string &name = t[0];
    int values = static_cast<int>(t.size()) - 1;
    if (values != token_count) {
        // Only this record is refused: the rest of the store, and whatever
        // callers hold of it, stays; the key itself is left as stored.
        if (values > token_count) {
            cli_print(CLI_LEVEL_ORDINARY, "%s config file isn't match!! argument too more!!", table_key);
            cli_print(CLI_LEVEL_ORDINARY, "%s need %d token but config file have %d token", table_key,
                      token_count, token_count + 1);
        } else {
            cli_print(CLI_LEVEL_ORDINARY, "%s config file isn't match!!!! argument too less!!", table_key);
            cli_print(CLI_LEVEL_ORDINARY, "%s need %d token but config file have %d token", table_key,
                      token_count, values);
        }
        return 1;
    }
    if (name.size() >= PROFILE_NAME_SIZE || std::any_of(t.begin() + 1, t.end(), [](const std::string &v) {
            return v.size() > PROFILE_VALUE_MAX;
        })) {
        cli_print(CLI_LEVEL_ORDINARY, "%s%u: stored text too long, not loaded", table_key, sequence);
        return 1;
    }
    // No command makes a name or value with blanks; one that has them would
    // not read back the same after the next save.
    if (std::any_of(t.begin(), t.end(), [](const std::string &v) {
            return v.find_first_of(" \t\r\n\v\f") != std::string::npos;
        })) {
        cli_print(CLI_LEVEL_ORDINARY, "%s%u: stored text holds blanks, not loaded", table_key, sequence);
        return 1;
    }
    if (lookup(type, name)) {
        // Two keys with one name would fold into one record.
        cli_print(CLI_LEVEL_ERROR, "%s Profile Exist", name.c_str());
        return 1;
    }
    profile_record *r = make(type, name.c_str());
    if (!r) {
        cli_print(CLI_LEVEL_ORDINARY, "%s Profile No Exist", name.c_str());
        return -1;
    }
    r->state = PROFILE_STORED;
    r->sequence = sequence;
    for (int i = 0; i < token_count; i++)
        r->values[static_cast<size_t>(i)] = t[static_cast<size_t>(i) + 1];
    return 0;
}

}  // namespace

}  // namespace profiles

using namespace profiles;

extern "C" int profile_load(int type, int token_count, const char *index_key, const char *table_key)
{
    char line[kRecordBuffer];
    enum cfgmgr_read_result got = cfgmgr_read(index_key, line, sizeof line);
    if (got == CFGMGR_READ_FAILED) {
        cli_print(CLI_LEVEL_ORDINARY, "No %s\n", index_key);
        return CLI_USAGE;
    }
    if (got != CFGMGR_READ_OK) {
        cli_print(CLI_LEVEL_ORDINARY, "Profile %s List Empty", index_key);
        return CLI_USAGE;
    }
    std::vector<uint32_t> numbers;
    uint32_t largest = 0;
    for (const std::string &t : tokens(trimmed(line))) {
        if (numbers.size() >= kIndexMax)
            break;
        unsigned long n = std::strtoul(t.c_str(), nullptr, 10);
        uint32_t v = n > kSequenceMax ? 0 : static_cast<uint32_t>(n);
        numbers.push_back(v);
        largest = std::max(largest, v);
    }
    profile_descriptor &d = descriptor(type);
    if (numbers.empty() || numbers[0] == 0) {
        d.next_sequence = largest;
        d.dirty = 0;
        return 0;
    }
    // Stored numbers that make no key are not asked for.
    numbers.erase(std::remove(numbers.begin(), numbers.end(), 0u), numbers.end());
    int result = 0;
    for (size_t first = 0; first < numbers.size() && result == 0; first += kBatchMax) {
        size_t count = std::min(kBatchMax, numbers.size() - first);
        std::vector<std::string> keys;
        std::vector<const char *> key_ptrs;
        for (size_t i = 0; i < count; i++)
            keys.push_back(std::string(table_key) + std::to_string(numbers[first + i]));
        for (const std::string &k : keys)
            key_ptrs.push_back(k.c_str());
        Batch batch;
        batch.lines.resize(count);
        if (cfgmgr_read_many(key_ptrs.data(), count, kReadLimit, collect, &batch) < 0)
            continue;
        // Each answer line belongs to the key asked at its position.
        for (size_t i = 0; i < count; i++) {
            const uint32_t number = numbers[first + i];
            int taken = take_record(type, token_count, table_key, number, batch.lines[i]);
            if (taken < 0) {
                result = CLI_USAGE;
                break;
            }
            std::vector<uint32_t> &kept = refused(type);
            bool held = false;
            for (const profile_record &r : records())
                held = held || (r.type == type && r.sequence == number);
            if (taken > 0 && !held && !batch.lines[i].empty() &&
                std::find(kept.begin(), kept.end(), number) == kept.end())
                kept.push_back(number);
        }
    }
    d.next_sequence = std::max(d.next_sequence, largest);
    d.dirty = 0;
    return result;
}

extern "C" int profiles_load(int type)
{
    if (profile_store_state() == PROFILE_STORE_LOADED) {
        cli_print(CLI_LEVEL_ORDINARY, "VDSL Profile has been initialized finish, not need again\n");
        return CLI_USAGE;
    }
    if (profile_store_state() == PROFILE_STORE_EMPTY) {
        for (int t = 0; t <= 10; t++)
            descriptor(t) = profile_descriptor{};
        set_store_state(PROFILE_STORE_PARTLY);
        read_port_map();
    }
    for (int t = 1; t <= 10; t++) {
        if ((type != PROFILE_ALL && type != t) || descriptor(t).loaded)
            continue;
        descriptor(t).loaded = 1;
        const TypeInfo &info = type_info(t);
        profile_load(t, info.tokens, info.index_key, info.table_key);
    }
    for (int t = 0; t <= 10 && !renumbering; t++) {
        if (descriptor(t).next_sequence >= kRenumberAt) {
            cli_print(CLI_LEVEL_ORDINARY, "Sorting Profile , please wait few minutes");
            profiles_renumber_all();
            break;
        }
    }
    bool all = true;
    for (int t = 1; t <= 10; t++)
        all = all && descriptor(t).loaded;
    if (type == PROFILE_ALL || all)
        set_store_state(PROFILE_STORE_LOADED);
    return 0;
}

extern "C" void save_vdsl_profiles_fun(int type, const char *index_key, const char *table_key)
{
    if (!valid_type(type)) {
        cli_print(CLI_LEVEL_ORDINARY, "PROFILE TYPE ERROR in save_vdsl_profiles_fun!!");
        return;
    }
    const int token_count = type_info(type).tokens;
    const size_t limit = kRecordBuffer - static_cast<size_t>(token_count);
    std::string index;
    for (profile_record &r : records()) {
        if (r.type != type)
            continue;
        index += std::to_string(r.sequence) + "@";
        if (r.state != PROFILE_CHANGED)
            continue;
        std::string text = r.name;
        size_t total = 0;
        bool complete = true;
        for (const std::string &v : r.values) {
            total += v.size();
            if (total > limit || text.size() + 1 + v.size() >= kRecordBuffer) {
                complete = false;
                break;
            }
            text += "@" + v;
        }
        if (!complete) {
            // A short record would be refused at the next load: store
            // nothing and keep it changed.
            cli_print(CLI_LEVEL_ORDINARY, "length over buffer size (4096) ,save not complete");
            continue;
        }
        std::string key = std::string(table_key) + std::to_string(r.sequence);
        cfgmgr_write(key.c_str(), text.c_str());
        r.state = PROFILE_STORED;
    }
    for (uint32_t number : refused(type))
        index += std::to_string(number) + "@";
    if (!index.empty())
        index.pop_back();
    cfgmgr_write(index_key, index.c_str());
}

extern "C" int profiles_save_all(void)
{
    if (profile_store_state() == PROFILE_STORE_EMPTY)
        return CLI_USAGE;
    for (int t = 1; t <= 10; t++) {
        profile_descriptor &d = descriptor(t);
        // A type whose last record went is saved too, so its index key
        // stops naming the removed record.
        if (d.dirty && d.loaded) {
            const TypeInfo &info = type_info(t);
            save_vdsl_profiles_fun(t, info.index_key, info.table_key);
        }
        d.dirty = 0;
    }
    return 0;
}

extern "C" int profiles_renumber_type(int type, const char *table_key)
{
    std::vector<bool> used(kSequenceMax + 1, false);
    for (const profile_record &r : records())
        if (r.type == type && r.sequence <= kSequenceMax)
            used[r.sequence] = true;
    for (uint32_t number : refused(type))
        used[number] = true;
    const uint32_t count = descriptor(type).count;
    uint32_t search = 1;
    for (profile_record &r : records()) {
        if (r.type != type || r.sequence <= count)
            continue;
        while (search <= kSequenceMax && used[search])
            search++;
        if (search > kSequenceMax)
            return 0;
        used[search] = true;
        std::string key = std::string(table_key) + std::to_string(r.sequence);
        cfgmgr_remove(key.c_str());
        if (r.sequence <= kSequenceMax)
            used[r.sequence] = false;
        r.sequence = search;
        r.state = PROFILE_CHANGED;
    }
    return 0;
}

extern "C" int profiles_renumber_all(void)
{
    renumbering = true;
    if (profile_store_state() != PROFILE_STORE_LOADED)
        profiles_load(PROFILE_ALL);
    renumbering = false;
    for (int t = 1; t <= 10; t++)
        profiles_renumber_type(t, type_info(t).table_key);
    for (int t = 1; t <= 10; t++)
        descriptor(t).dirty = 1;
    profiles_save_all();
    for (int t = 1; t <= 10; t++) {
        uint32_t next = descriptor(t).count;
        for (uint32_t number : refused(t))
            next = std::max(next, number);
        for (const profile_record &r : records())
            if (r.type == t)
                next = std::max(next, r.sequence);
        descriptor(t).next_sequence = next;
    }
    return 0;
}
