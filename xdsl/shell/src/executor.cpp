// Command-line executor: comments, $KEY$ expansion, the word walk down the
// directory tables and the handler call.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "command_tree.h"
#include "shell_state.h"

int cli_interactive = 1;
int cli_static_mode = 0;
int cli_silent_mode = 0;
const cli_dir_row *current_directory = cli_root_directory;
cli_handler current_entry = cmd_home;

namespace {

constexpr size_t kWordMax = 511;
constexpr size_t kKeyValueSize = 256;

// What $KEY$ expansions put into the line whose handler runs now.
std::vector<cli::TextSpan> current_spans;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

namespace cli {

std::string first_word(const char *text, const char **end)
{
    const char *p = text;
    while (is_space(*p))
        p++;
    const char *start = p;
    while (*p && !is_space(*p))
        p++;
    if (end)
        *end = p;
    size_t length = static_cast<size_t>(p - start);
    return std::string(start, length > kWordMax ? kWordMax : length);
}

const std::vector<TextSpan> &expanded_spans() { return current_spans; }

void make_root_current()
{
    current_directory = cli_root_directory;
    current_entry = cmd_home;
}

int run_from_root(const std::string &line)
{
    const cli_dir_row *dir = current_directory;
    cli_handler entry = current_entry;
    char buffer[CLI_COMMAND_SIZE];
    std::snprintf(buffer, sizeof buffer, "%s", line.c_str());
    make_root_current();
    int rc = execute_command_line(buffer);
    current_directory = dir;
    current_entry = entry;
    return rc;
}

}  // namespace cli

namespace {

using cli::first_word;

// Offsets in the expanded line of what each $KEY$ put there.
using SpanOffsets = std::vector<std::pair<size_t, size_t>>;

// The spans of one line for as long as it runs; a script run by that line
// gets its own and the caller's come back afterwards.
class SpanScope {
public:
    SpanScope(const char *buffer, const SpanOffsets &offsets) : saved_(std::move(current_spans))
    {
        current_spans.clear();
        for (const auto &o : offsets)
            current_spans.push_back({buffer + o.first, buffer + o.second});
    }
    ~SpanScope() { current_spans = std::move(saved_); }
    SpanScope(const SpanScope &) = delete;
    SpanScope &operator=(const SpanScope &) = delete;

private:
    std::vector<cli::TextSpan> saved_;
};

// Just past the word and the one character that follows it.
char *after_word(char *text)
{
    const char *end;
    first_word(text, &end);
    char *p = text + (end - text);
    return *p ? p + 1 : p;
}

const cli_dir_row *find_row(const cli_dir_row *table, const std::string &word)
{
    for (const cli_dir_row *row = table; row->name; row++)
        if (word == row->name)
            return row;
    return nullptr;
}

// Blank lines and comments: nothing to run.
bool nothing_to_run(const char *line)
{
    if (line[0] == '#' || line[0] == '\n' || line[0] == '\0')
        return true;
    const char *p = line;
    while (*p == ' ')
        p++;
    return *p == '\0' || (*p == '\n' && p[1] == '\0');
}

bool valid_variable_name(const std::string &key) { return cfgmgr_key_is_valid(key.c_str()) != 0; }

enum class Expansion { Done, FormatError, Refused };

// Replaces every $KEY$ by the configuration manager's value of KEY. The
// result must fit the command buffer; a name that is not letters, digits
// and '_' or a result that would not fit refuses the whole line.
Expansion expand_variables(const char *line, std::string &out, SpanOffsets &spans)
{
    out.clear();
    spans.clear();
    const char *p = line;
    for (;;) {
        const char *open = std::strchr(p, '$');
        if (!open) {
            out.append(p);
            break;
        }
        out.append(p, static_cast<size_t>(open - p));
        const char *close = std::strchr(open + 1, '$');
        if (!close)
            return Expansion::FormatError;
        std::string key(open + 1, static_cast<size_t>(close - open - 1));
        if (!valid_variable_name(key)) {
            cli_print(CLI_LEVEL_ERROR, "Variable name \"%s\" refused: only letters, digits and '_'.",
                      key.c_str());
            return Expansion::Refused;
        }
        char value[kKeyValueSize];
        switch (cfgmgr_read(key.c_str(), value, sizeof value)) {
        case CFGMGR_READ_OK: {
            size_t begin = out.size();
            out.append(str_trim(value));
            spans.emplace_back(begin, out.size());
            break;
        }
        case CFGMGR_READ_TOO_LONG:
            cli_print(CLI_LEVEL_ERROR, "Value of variable %s too long (at most %zu characters).", key.c_str(),
                      kKeyValueSize - 1);
            return Expansion::Refused;
        default:
            spans.emplace_back(out.size(), out.size());  // an absent key contributes nothing
            break;
        }
        if (out.size() >= CLI_COMMAND_SIZE)
            break;
        p = close + 1;
    }
    if (out.size() >= CLI_COMMAND_SIZE) {
        cli_print(CLI_LEVEL_ERROR, "Command line too long after variable expansion (at most %d characters).",
                  CLI_COMMAND_SIZE - 1);
        return Expansion::Refused;
    }
    return Expansion::Done;
}

char empty_rest[1];

int back_to_entry(int result)
{
    empty_rest[0] = '\0';
    current_entry(empty_rest, nullptr);
    return result;
}

}  // namespace

extern "C" char *str_trim(char *text)
{
    char *p = text;
    while (is_space(*p))
        p++;
    size_t n = std::strlen(p);
    while (n > 0) {
        char c = p[n - 1];
        if (c == '?' || (is_space(c) && n > 1))
            n--;
        else
            break;
    }
    p[n] = '\0';
    return p;
}

extern "C" int dispatch_command(char *line, const cli_dir_row *table)
{
    const char *end;
    std::string word = first_word(line, &end);
    const cli_dir_row *row = find_row(table, word);
    if (!row) {
        cli_print(CLI_LEVEL_ERROR, "No such command.");
        return CLI_NO_SUCH_COMMAND;
    }
    char *rest = after_word(line);
    const cli_dir_row *second = row->name[0] == '?' ? table : row->subdirectory;
    return row->handler(rest, second);
}

extern "C" int execute_command_line(char *input)
{
    if (nothing_to_run(input))
        return CLI_DONE;

    std::string text = input;
    SpanOffsets spans;
    if (text.find('$') != std::string::npos) {
        std::string expanded;
        switch (expand_variables(input, expanded, spans)) {
        case Expansion::Refused:
            return CLI_FAILED;
        case Expansion::FormatError:
            cli_print(CLI_LEVEL_ERROR, "Variable format error!!");
            text.resize(text.find('$'));
            spans.clear();
            break;
        case Expansion::Done:
            text = expanded;
            cli_print(CLI_LEVEL_ORDINARY, "%s", text.c_str());
            break;
        }
        if (nothing_to_run(text.c_str()))
            return CLI_DONE;
    }

    // Silently cutting a long line could run a different command than the
    // one typed (a value losing its tail), so it is refused instead.
    if (text.size() >= CLI_COMMAND_SIZE) {
        cli_print(CLI_LEVEL_ERROR, "Command line too long (at most %d characters).", CLI_COMMAND_SIZE - 1);
        return CLI_FAILED;
    }
    char buffer[CLI_COMMAND_SIZE];
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    SpanScope scope(buffer, spans);

    char *line = buffer;
    while (*line) {
        const char *end;
        std::string word = first_word(line, &end);
        const cli_dir_row *row = find_row(current_directory, word);
        if (!row) {
            cli_print(CLI_LEVEL_ERROR, "No such command.");
            return back_to_entry(CLI_NO_SUCH_COMMAND);
        }
        int result = dispatch_command(line, current_directory);
        if (result != CLI_DONE || !row->subdirectory)
            return back_to_entry(result);

        // The word entered a directory; go on with the words after it.
        cli_handler entered = row->handler;
        line = str_trim(after_word(line));
        if (row->reserved)
            line = after_word(line);
        if (!*line) {
            current_entry = entered;
            return CLI_DONE;
        }
    }
    return CLI_DONE;
}

extern "C" int cli_enter_directory(const cli_dir_row *table, const char *label)
{
    current_directory = table;
    set_dir_prompt(label);
    return CLI_DONE;
}

extern "C" int cmd_home(char *, const cli_dir_row *)
{
    current_directory = cli_root_directory;
    build_prompt();
    return CLI_DONE;
}

extern "C" const char *cli_directory_label(const cli_dir_row *table)
{
    for (unsigned i = 0; i < cli_directory_count; i++)
        if (cli_directories[i].table == table)
            return cli_directories[i].path[0] ? cli_directories[i].label : nullptr;
    return nullptr;
}

extern "C" int invalid_port(int port_index)
{
    cli_print(CLI_LEVEL_PORT, "Invalid portid=%i\n", port_index);
    return CLI_INVALID_PORT;
}
