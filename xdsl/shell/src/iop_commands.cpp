// "interface xdsl iop": named sets of interoperability fixes in files,
// edited by update, applied to the chip by apply, shown by list.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "iop_fixes.h"
#include "vdsl_request.h"

namespace {

constexpr size_t kPathSize = 512;
// Longer lines are skipped whole instead of being read in pieces.
constexpr size_t kLineLimit = 4096;

int print_usage(const char *const *lines, size_t count)
{
    for (size_t i = 0; i < count; i++)
        cli_print(CLI_LEVEL_ORDINARY, "%s", lines[i]);
    return CLI_USAGE;
}

std::string key_of(int port) { return "PORT" + std::to_string(port + 1) + "_CURR_IOP_CONF"; }

// The path of a typed name, "curr" read from the port's key. Prints why not.
bool resolve(int port, const char *name, bool update, char *path)
{
    char line[kPathSize];
    if (std::strcmp(name, "curr") == 0) {
        if (cfgmgr_read(key_of(port).c_str(), line, sizeof line) != CFGMGR_READ_OK) {
            cli_print(CLI_LEVEL_ORDINARY, "No current IOP config.");
            return false;
        }
        name = cfgmgr_value_trim(line);
        update = false;
    }
    if (iop_resolve_path(name, update, path, kPathSize) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Invalid config name %s.", name);
        return false;
    }
    return true;
}

// One line of a file, without its newline; false at the end. A line over
// kLineLimit comes back cut, flagged long.
bool read_line(FILE *f, std::string &line, bool &long_line)
{
    line.clear();
    long_line = false;
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() < kLineLimit)
            line.push_back(static_cast<char>(c));
        else
            long_line = true;
    }
    return any;
}

int store_current(int port, const char *path) { return cfgmgr_write(key_of(port).c_str(), path); }

const char *const kUpdateUsage[] = {"Usage: cmd <portid> <config_name/curr> <action_id> <action_param>",
                                    "\tconfig_name: config file name",
                                    "\tcurr: the current applied config file",
                                    "\taction_id: the id of the specific action",
                                    "\taction_param: the param for the specific action",
                                    "\nActions:",
                                    "\tid | description (on=1, off=0, default off) "};

int update_usage()
{
    print_usage(kUpdateUsage, sizeof kUpdateUsage / sizeof *kUpdateUsage);
    for (int id = 1; id <= IOP_ACTIONS; id++) {
        const char *text = nullptr;
        if (iop_action(id, &text, nullptr))
            cli_print(CLI_LEVEL_ORDINARY, "\t%2d | %s", id, text);
    }
    return CLI_USAGE;
}

bool is_number(const std::string &token, long *value)
{
    if (token.empty() || !std::all_of(token.begin(), token.end(),
                                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    *value = token.size() > 3 ? 1000 : std::strtol(token.c_str(), nullptr, 10);
    return true;
}

struct Token {
    size_t start, end;
};

std::vector<Token> tokens_of(const std::string &text)
{
    std::vector<Token> out;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            at++;
        size_t start = at;
        while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at])))
            at++;
        if (at > start)
            out.push_back({start, at});
    }
    return out;
}

}  // namespace

extern "C" int iop_apply(char *rest, const cli_dir_row *)
{
    int number = 0;
    char name[kPathSize];
    if (std::sscanf(rest, "%i %511s", &number, name) != 2) {
        static const char *const kUsage[] = {
            "Usage: cmd <portid> <config_name/curr>", "\tconfig_name: the config file name",
            "\tcurr: the current applied config", "E.g., apply sorv123's settings", "\tcmd 1 sorv123"};
        return print_usage(kUsage, sizeof kUsage / sizeof *kUsage);
    }
    int port;
    if (vdsl_port_index(number, &port) != 0)
        return CLI_FAILED;
    char path[kPathSize];
    if (!resolve(port, name, false, path))
        return CLI_FAILED;

    // Every fix off first: the file says which are on.
    for (const char *oid : {"2.1.440", "2.1.441", "2.1.444", "2.1.445", "2.1.446", "2.1.447"})
        mib_set_logic(port, oid, "000000");

    FILE *f = std::fopen(path, "re");
    if (!f) {
        cli_print(CLI_LEVEL_ORDINARY, "File open failed");
        return store_current(port, path);
    }
    std::string line;
    bool long_line;
    while (read_line(f, line, long_line)) {
        if (line.empty())
            continue;
        int id = 0;
        char param[IOP_PARAM_MAX + 1];
        int (*handler)(int, const char *) = nullptr;
        if (long_line || iop_parse_line(line.data(), line.size(), &id, param) != 0 ||
            !iop_action(id, nullptr, &handler) || handler(port, param) != 0)
            cli_print(CLI_LEVEL_ORDINARY, "IOP configure failed.");
    }
    std::fclose(f);
    return store_current(port, path);
}

extern "C" int iop_update(char *rest, const cli_dir_row *)
{
    int number = 0;
    char name[kPathSize];
    int consumed = 0;
    if (std::sscanf(rest, "%d %511s%n", &number, name, &consumed) != 2)
        return update_usage();
    const std::string line = rest + consumed;
    std::vector<Token> tokens = tokens_of(line);
    if (tokens.empty())
        return update_usage();

    std::map<int, std::string> given;
    for (size_t i = 0; i < tokens.size();) {
        long id = 0;
        const char *args_usage = nullptr;
        std::string token = line.substr(tokens[i].start, tokens[i].end - tokens[i].start);
        int args = is_number(token, &id) && id >= 1 && id <= IOP_ACTIONS
                       ? iop_action(static_cast<int>(id), &args_usage, nullptr)
                       : 0;
        if (args == 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Contains invalid action ID.");
            return update_usage();
        }
        i++;
        if (i >= tokens.size()) {
            cli_print(CLI_LEVEL_ORDINARY, "There's an action has no parameters.");
            return update_usage();
        }
        size_t first = i, last = i;
        long on = 0;
        std::string first_text = line.substr(tokens[i].start, tokens[i].end - tokens[i].start);
        bool off = is_number(first_text, &on) && on == 0;
        if (args == 2 && !off) {
            if (i + 1 >= tokens.size()) {
                cli_print(CLI_LEVEL_ORDINARY, "There's an action has no parameters.");
                return update_usage();
            }
            last = i + 1;
        }
        std::string text = line.substr(tokens[first].start, tokens[last].end - tokens[first].start);
        if (text.size() > IOP_PARAM_MAX) {
            cli_print(CLI_LEVEL_ORDINARY, "Action parameters too long.");
            return update_usage();
        }
        given[static_cast<int>(id)] = text;
        i = last + 1;
    }

    int port;
    if (vdsl_port_index(number, &port) != 0)
        return CLI_FAILED;
    char path[kPathSize];
    if (!resolve(port, name, true, path))
        return CLI_FAILED;

    std::map<int, std::string> kept;
    if (FILE *f = std::fopen(path, "re")) {
        std::string l;
        bool long_line;
        while (read_line(f, l, long_line)) {
            int id = 0;
            char param[IOP_PARAM_MAX + 1];
            if (!long_line && iop_parse_line(l.data(), l.size(), &id, param) == 0 && param[0] &&
                !given.count(id))
                kept[id] = param;
        }
        std::fclose(f);
    }
    for (auto &g : given)
        kept[g.first] = g.second;

    // Written beside and renamed: a failed write leaves the old set whole.
    std::string temp = std::string(path) + ".new";
    FILE *out = std::fopen(temp.c_str(), "we");
    if (!out) {
        cli_print(CLI_LEVEL_ORDINARY, "File open failed.");
        return CLI_FAILED;
    }
    bool ok = true;
    for (const auto &k : kept)
        ok = std::fprintf(out, "%d %s\n", k.first, k.second.c_str()) > 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path) != 0) {
        std::remove(temp.c_str());
        cli_print(CLI_LEVEL_ORDINARY, "File open failed.");
        return CLI_FAILED;
    }
    return 0;
}

extern "C" int iop_list(char *rest, const cli_dir_row *)
{
    int number = 0;
    char name[kPathSize];
    int fields = std::sscanf(rest, "%i %511s", &number, name);
    if (fields < 1) {
        static const char *const kUsage[] = {"Usage: cmd <portid> [<config_name/curr>]",
                                             "\tportid: which port 1 - max port",
                                             "\tconfig_name: name of the specific IOP config file",
                                             "\tcurr: the currently applied IOP config file",
                                             "E.g., List all of the IOP config files",
                                             "\tcmd 1",
                                             "E.g., List the settings of the specific IOP config file",
                                             "\tcmd 1 sorv001"};
        return print_usage(kUsage, sizeof kUsage / sizeof *kUsage);
    }
    int port;
    if (vdsl_port_index(number, &port) != 0)
        return CLI_FAILED;

    if (fields == 1) {
        cli_printf_raw(" current | config name\n%s\n", std::string(41, '=').c_str());
        char current[kPathSize] = "";
        if (cfgmgr_read(key_of(port).c_str(), current, sizeof current) == CFGMGR_READ_OK)
            cfgmgr_value_trim(current);
        else
            current[0] = 0;
        DIR *dir = opendir(iop_config_dir);
        if (!dir) {
            cli_print(CLI_LEVEL_ORDINARY, "Open directory failed.");
            return CLI_FAILED;
        }
        std::vector<std::string> names;
        while (dirent *e = readdir(dir)) {
            struct stat st;
            if (fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && !S_ISDIR(st.st_mode))
                names.emplace_back(e->d_name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto &n : names) {
            // The mark names the set applied, not every name inside its path.
            bool applied = std::string(iop_config_dir) + n == current;
            std::string shown = n.size() > 4 ? n.substr(0, n.size() - 4) : n;
            cli_printf_raw("    %c    | %s\n", applied ? '*' : ' ', shown.c_str());
        }
        return 0;
    }

    char path[kPathSize];
    FILE *f = resolve(port, name, false, path) ? std::fopen(path, "re") : nullptr;
    if (!f) {
        cli_print(CLI_LEVEL_ORDINARY, "%s not found.", name);
        return CLI_FAILED;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        cli_write_raw(buffer, n);
    std::fclose(f);
    return 0;
}
