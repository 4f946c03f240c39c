// libFuzzer target: the profile loader over stored index and record texts.
// The configuration manager is an in-memory key store here, so each input
// runs without a process. Input: a type byte, then lines: the index key's
// value, and the values of the record keys 1, 2, 3... of that type.
// After the load, one save and a fresh load must give the same records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_print.h"
#include "firmware_package.h"
#include "vdsl_profiles.h"

namespace {

std::map<std::string, std::string> keys;

const char *const kIndexKeys[11] = {"",
                                    "LINE_TEMPLATE_INDEX",
                                    "LINE_PROFILE_INDEX",
                                    "CHAN_PROFILE_INDEX",
                                    "ALARM_TEMPLATE_INDEX",
                                    "LINE_ALARM_PROFILE_INDEX",
                                    "CHAN_ALARM_PROFILE_INDEX",
                                    "VN_PROFILE_INDEX",
                                    "DPB_PROFIE_INDEX",
                                    "RFI_PROFILE_INDEX",
                                    "PSD_PROFILE_INDEX"};
const char *const kTableKeys[11] = {"",
                                    "VdslLineTemplates",
                                    "VdslLineProfiles",
                                    "VdslChanProfiles",
                                    "VdslAlarmTemplates",
                                    "VdslLineAlarmProfiles",
                                    "VdslChanAlarmProfiles",
                                    "VdslVitualNoise",
                                    "VdslDpboEPsd",
                                    "VdslRfiBands",
                                    "VdslPsdMasks"};

using Snapshot = std::vector<std::tuple<std::string, uint32_t, std::vector<std::string>>>;

// Every record of the type that a stored record key names, by name.
Snapshot snapshot(int type)
{
    std::map<std::string, std::tuple<std::string, uint32_t, std::vector<std::string>>> found;
    const std::string prefix = kTableKeys[type];
    for (const auto &kv : keys) {
        if (kv.first.compare(0, prefix.size(), prefix) != 0)
            continue;
        // The loader reads the value trimmed, as the manager's line.
        std::string value = kv.second;
        size_t b = value.find_first_not_of(" \t\r\n\v\f");
        value = b == std::string::npos ? std::string() : value.substr(b);
        std::string name = value.substr(0, value.find('@'));
        const profile_record *r = profile_find(type, name.c_str());
        if (!r)
            continue;
        std::vector<std::string> values;
        for (int i = 0; i < profile_record_slots(r); i++)
            values.push_back(profile_record_value(r, i));
        found[name] = std::make_tuple(name, profile_record_sequence(r), values);
    }
    Snapshot out;
    for (const auto &kv : found)
        out.push_back(kv.second);
    return out;
}

}  // namespace

extern "C" int cfgmgr_key_is_valid(const char *key) { return key && *key; }

extern "C" enum cfgmgr_read_result cfgmgr_read(const char *key, char *buffer, size_t capacity)
{
    auto it = keys.find(key);
    if (it == keys.end()) {
        buffer[0] = '\0';
        return CFGMGR_READ_ABSENT;
    }
    if (it->second.size() + 2 > capacity) {
        buffer[0] = '\0';
        return CFGMGR_READ_TOO_LONG;
    }
    std::memcpy(buffer, it->second.c_str(), it->second.size());
    buffer[it->second.size()] = '\n';
    buffer[it->second.size() + 1] = '\0';
    return CFGMGR_READ_OK;
}

extern "C" int cfgmgr_read_many(const char *const *names, size_t count, size_t line_limit,
                                void (*on_line)(void *context, size_t index, const char *line), void *context)
{
    for (size_t i = 0; i < count; i++) {
        auto it = keys.find(names[i]);
        std::string v = it == keys.end() ? std::string() : it->second;
        on_line(context, i, v.size() > line_limit ? "" : v.c_str());
    }
    return static_cast<int>(count);
}

extern "C" int cfgmgr_write(const char *key, const char *value)
{
    keys[key] = value ? value : "";
    return 0;
}

extern "C" int cfgmgr_remove(const char *key)
{
    keys.erase(key);
    return 0;
}

extern "C" char *cfgmgr_value_trim(char *line)
{
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == ' '))
        line[--n] = '\0';
    return line;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    cli_print_mask = 0;
    firmware_package_path = "/nonexistent/firmware_package.b";
    keys.clear();
    free_vdsl_profiles_fun();
    const int type = data[0] % 10 + 1;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    // Values never hold a line break; a NUL ends them as in the C strings.
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= text.size() && lines.size() < 80) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        lines.push_back(line.substr(0, line.find('\0')));
        at = end + 1;
    }
    keys[kIndexKeys[type]] = lines[0];
    for (size_t i = 1; i < lines.size(); i++)
        keys[kTableKeys[type] + std::to_string(i)] = lines[i];
    keys["port1_map_profile"] = "T@A";

    profiles_load(type);
    const profile_descriptor *d = profile_type_descriptor(type);
    if (!d->loaded || d->dirty)
        std::abort();
    Snapshot first = snapshot(type);
    if (first.size() > d->count)
        std::abort();
    save_vdsl_profiles_fun(type, kIndexKeys[type], kTableKeys[type]);
    free_vdsl_profiles_fun();
    profiles_load(type);
    if (snapshot(type) != first)
        std::abort();
    free_vdsl_profiles_fun();
    return 0;
}
