// Built-in commands of every directory: help, quit, save, script, shellscript.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cli_command.h"
#include "cli_print.h"
#include "line_reader.h"
#include "shell_command.h"
#include "shell_state.h"
#include "signals.h"

namespace {

// A script that runs itself would recurse until the stack runs out.
constexpr int kScriptDepthMax = 8;
int script_depth = 0;

// Shell scripts left running in the background, reaped once they end.
std::vector<pid_t> background_children;

void reap_background()
{
    auto ended = [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; };
    background_children.erase(std::remove_if(background_children.begin(), background_children.end(), ended),
                              background_children.end());
}

}  // namespace

ShellCommand split_shell_command(const char *text, const std::vector<cli::TextSpan> &spans)
{
    ShellCommand command;
    std::string word;
    bool in_word = false;
    bool last_literal = false;  // the word's last character was typed, not expanded
    auto span_at = [&](const char *p) -> const cli::TextSpan * {
        for (const cli::TextSpan &span : spans)
            if (p >= span.begin && p < span.end)
                return &span;
        return nullptr;
    };
    auto end_word = [&]() {
        if (in_word)
            command.words.push_back(word);
        word.clear();
        in_word = false;
    };
    const char *p = text;
    for (;;) {
        // An expansion that gave nothing still stands for a word.
        for (const cli::TextSpan &span : spans)
            if (span.begin == p && span.end == p)
                in_word = true;
        if (!*p)
            break;
        if (const cli::TextSpan *span = span_at(p)) {
            word.append(p, span->end);
            in_word = true;
            last_literal = false;
            p = span->end;
            continue;
        }
        if (std::strchr(" \t\n\v\f\r", *p)) {
            end_word();
        } else {
            word.push_back(*p);
            in_word = true;
            last_literal = true;
        }
        p++;
    }
    end_word();
    // A typed '&' at the end of the line: don't wait for the script.
    if (!command.words.empty() && last_literal && !command.words.back().empty() &&
        command.words.back().back() == '&') {
        command.background = true;
        command.words.back().pop_back();
        if (command.words.back().empty())
            command.words.pop_back();
    }
    return command;
}

namespace {

void list_directory(const cli_dir_row *table)
{
    for (const cli_dir_row *row = table; row->name; row++)
        if (row->name[0] != '?')
            cli_print(CLI_LEVEL_ORDINARY, "%-16s - %s", row->name, row->help);
}

}  // namespace

extern "C" int cmd_help(char *rest, const cli_dir_row *)
{
    // Trailing white space (a script line's newline) is no argument.
    std::string argument = rest ? rest : "";
    while (!argument.empty() && std::strchr(" \t\n\v\f\r", argument.back()))
        argument.pop_back();
    if (argument.size() >= 2) {
        std::string word = cli::first_word(argument.c_str());
        for (const cli_dir_row *row = current_directory; row->name; row++) {
            if (word == row->name) {
                cli_print(CLI_LEVEL_ORDINARY, "%-16s - %s", row->name, row->help);
                return CLI_DONE;
            }
        }
        cli_print(CLI_LEVEL_ORDINARY, "No help for such command.");
        return CLI_DONE;
    }
    list_directory(current_directory);
    return CLI_DONE;
}

extern "C" int cmd_quit(char *, const cli_dir_row *) { return CLI_QUIT; }

extern "C" int cmd_save(char *, const cli_dir_row *)
{
    cli_print(CLI_LEVEL_ERROR, "Configuration saved");
    return CLI_DONE;
}

extern "C" int cmd_script(char *rest, const cli_dir_row *)
{
    std::string name = cli::first_word(rest);
    if (name.empty()) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: script <file_name>");
        return CLI_USAGE;
    }
    if (script_depth >= kScriptDepthMax) {
        cli_print(CLI_LEVEL_ERROR, "Scripts nested too deep (at most %d): %s not run.", kScriptDepthMax,
                  name.c_str());
        return CLI_FAILED;
    }
    std::FILE *file = std::fopen(name.c_str(), "r");
    int result = CLI_DONE;
    if (!file) {
        cli_print(CLI_LEVEL_ERROR, "Script file %s was not found.", name.c_str());
        result = CLI_FAILED;
    } else {
        cli_print(CLI_LEVEL_ORDINARY, "Running script %s:", name.c_str());
        script_depth++;
        static char lines[kScriptDepthMax][CLI_LINE_SIZE];
        char *line = lines[script_depth - 1];
        for (;;) {
            cli::LineRead got = cli::read_bounded_line(file, line, CLI_LINE_SIZE);
            if (got == cli::LineRead::End)
                break;
            if (got == cli::LineRead::Refused) {
                cli::report_refused_stream();
                result = CLI_FAILED;
                break;
            }
            cli::make_root_current();
            if (got == cli::LineRead::TooLong) {
                cli::report_long_line();
                result = CLI_FAILED;
                continue;
            }
            cli_print(CLI_LEVEL_ORDINARY, ">>%s", line);
            result = execute_command_line(line);
            if (result == CLI_QUIT || cli::pending_signal())
                break;
        }
        script_depth--;
        std::fclose(file);
    }
    if (!cli_static_mode) {
        current_directory = cli_root_directory;
        build_prompt();
    }
    return result;
}

extern "C" int cmd_shellscript(char *rest, const cli_dir_row *)
{
    reap_background();
    ShellCommand command = split_shell_command(rest, cli::expanded_spans());
    if (command.words.empty() || command.words[0].empty()) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: shellscript <file_name>");
        return CLI_USAGE;
    }
    const std::string &path = command.words[0];
    const std::string typed = cli::first_word(rest);
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (!file) {
        cli_print(CLI_LEVEL_ERROR, "Script file %s was not found.", typed.c_str());
        return CLI_FAILED;
    }
    std::fclose(file);
    cli_print(CLI_LEVEL_ORDINARY, "Running shell script %s:", typed.c_str());
    // sh gets the file and every argument as words of their own: nothing
    // of the line, least of all a stored value, is read as shell syntax.
    std::vector<char *> argv;
    static char sh_name[] = "sh";
    argv.push_back(sh_name);
    for (std::string &word : command.words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) {
        cli_print(CLI_LEVEL_ERROR, "system() error!!");
        return CLI_FAILED;
    }
    if (command.background) {
        background_children.push_back(pid);
        return CLI_DONE;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return CLI_DONE;
}

extern "C" int print_key_value(FILE *stream, const char *key)
{
    static char line[65600];
    for (;;) {
        cli::LineRead got = cli::read_bounded_line(stream, line, sizeof line);
        if (got == cli::LineRead::End || got == cli::LineRead::Refused)
            break;
        if (got == cli::LineRead::TooLong)
            continue;
        char *equals = std::strchr(line, '=');
        if (!equals)
            continue;
        *equals = '\0';
        if (std::strcmp(line, key) != 0)
            continue;
        char *value = equals + 1;
        char *next = std::strchr(value, '=');
        if (next)
            *next = '\0';
        cli_print(CLI_LEVEL_ORDINARY, "Value = %s", value);
        return CLI_DONE;
    }
    cli_print(CLI_LEVEL_ORDINARY, "No %s value.", key);
    return CLI_FAILED;
}
