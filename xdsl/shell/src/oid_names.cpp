// MIB names and standard OIDs turned into the logic OIDs the driver takes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli_command.h"
#include "mib_names.h"

namespace {

struct StdPrefix {
    const char *prefix;
    bool supported;
    int index_parts;
};

// First match wins: longer prefixes of a family come before "1.1", "1.2".
const StdPrefix kStdPrefixes[30] = {
    {"1.1.1.1", true, 1},    {"1.1.2.1", true, 2},    {"1.2.2.1", true, 2},    {"1.2.3.1", true, 2},
    {"1.2.4.1", true, 2},    {"1.2.5.1", true, 3},    {"1.3.1.1", true, 2},    {"1.5.1.1.1", false, 1},
    {"1.5.1.2.1", false, 1}, {"1.5.1.3.1", false, 2}, {"1.5.1.4.1", false, 3}, {"1.5.2.1.1", false, 1},
    {"1.5.3.1.1", false, 1}, {"1.5.3.2.1", false, 1}, {"1.5.3.3.1", false, 1}, {"1.4.1.1.1", true, 2},
    {"1.4.1.2.1", true, 1},  {"1.4.1.3.1", true, 3},  {"1.4.1.4.1", true, 3},  {"1.4.1.5.1", true, 2},
    {"1.4.1.6.1", true, 2},  {"1.4.2.1.1", true, 2},  {"1.4.2.2.1", true, 3},  {"1.4.2.3.1", true, 3},
    {"0.0.0", false, 0},     {"1.1", true, 1},        {"1.2", true, 1},        {"2.1", true, 1},
    {"3.1", true, 1},        {"3.2", true, 1},
};
constexpr size_t kStdOidMax = 512;
constexpr int kUnsupported = 101;

bool decimal(const std::string &s)
{
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

extern "C" const char *mib_name_lookup(const char *name)
{
    for (const mib_name_row *row = mib_name_table; row->name; row++)
        if (std::strcmp(row->name, name) == 0)
            return row->oid;
    return nullptr;
}

extern "C" const char *mib_name_of(const char *oid)
{
    for (const mib_name_row *row = mib_name_table; row->name; row++)
        if (std::strcmp(row->oid, oid) == 0)
            return row->name;
    return nullptr;
}

extern "C" int roid_split(const char *text, char *out, unsigned outsize, int *port_number)
{
    const StdPrefix *p = nullptr;
    for (const StdPrefix &candidate : kStdPrefixes)
        if (std::strncmp(text, candidate.prefix, std::strlen(candidate.prefix)) == 0) {
            p = &candidate;
            break;
        }
    if (!p || !p->supported)
        return kUnsupported;
    size_t len = std::strlen(text);
    size_t skip = std::strlen(p->prefix) + 1;  // the prefix and the "." behind it
    if (len >= kStdOidMax || len <= skip)
        return CLI_FAILED;
    std::vector<std::string> parts;
    std::string rest = text + skip;
    for (size_t from = 0;;) {
        size_t dot = rest.find('.', from);
        parts.push_back(rest.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
        if (dot == std::string::npos)
            break;
        from = dot + 1;
    }
    // Column and ifIndex; further index parts only where the table has them.
    if (parts.size() < 2 || parts[0].empty() || !decimal(parts[1]))
        return CLI_FAILED;
    std::string entry = std::string(p->prefix) + "." + parts[0];
    if (p->index_parts > 1)
        for (size_t k = 2; k < parts.size(); k++)
            entry += "." + parts[k];
    if (entry.size() + 1 > outsize)
        return CLI_FAILED;
    std::memcpy(out, entry.c_str(), entry.size() + 1);
    *port_number = std::atoi(parts[1].c_str());
    return 0;
}
