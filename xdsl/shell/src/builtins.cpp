// Built-in commands of every directory: help, quit, save, script, shellscript.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "line_reader.h"
#include "shell_state.h"
#include "signals.h"

namespace {

// A script that runs itself would recurse until the stack runs out.
constexpr int kScriptDepthMax = 8;
int script_depth = 0;

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

extern "C" int cmd_quit(char *, const cli_dir_row *)
{
    return CLI_QUIT;
}

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
    std::string name = cli::first_word(rest);
    if (name.empty()) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: shellscript <file_name>");
        return CLI_USAGE;
    }
    // "run.sh&" asks the shell to run run.sh in the background.
    std::string path = name;
    if (path.size() > 1 && path.back() == '&')
        path.pop_back();
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (!file) {
        cli_print(CLI_LEVEL_ERROR, "Script file %s was not found.", name.c_str());
        return CLI_FAILED;
    }
    std::fclose(file);
    cli_print(CLI_LEVEL_ORDINARY, "Running shell script %s:", name.c_str());
    // The operator names the file and its arguments: they go to the shell as typed.
    std::string command = std::string("sh ") + rest;
    std::fflush(stdout);
    if (std::system(command.c_str()) == -1) {
        cli_print(CLI_LEVEL_ERROR, "system() error!!");
        return CLI_FAILED;
    }
    return CLI_DONE;
}

extern "C" int cli_pending(const char *path)
{
    cli_print(CLI_LEVEL_ERROR, "Command \"%s\" is not available in this build.", path);
    return CLI_FAILED;
}

extern "C" int print_key_value(FILE *stream, const char *key)
{
    static char line[65600];
    for (;;) {
        cli::LineRead got = cli::read_bounded_line(stream, line, sizeof line);
        if (got == cli::LineRead::End)
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
