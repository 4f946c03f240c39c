// druvel: the xDSL configuration shell. Chooses its mode from the first
// argument and runs command lines from the terminal, standard input, a file
// or the argument itself.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_command.h"
#include "cli_print.h"
#include "lifecycle_hooks.h"
#include "line_editor.h"
#include "line_reader.h"
#include "shell_state.h"
#include "signals.h"
#include "terminal.h"

namespace {

const char kSetupFile[] = "/etc/system.conf";

enum class Mode { Interactive, Setup, Clean, Silent, Resident, Static, Script, OneShot };

struct ModeWord {
    const char *word;
    Mode mode;
};

// Matched in this order, each as a prefix of the argument.
const ModeWord kModeWords[] = {
    {"setup", Mode::Setup},       {"clean", Mode::Clean},   {"silent", Mode::Silent},
    {"resident", Mode::Resident}, {"static", Mode::Static},
};

char line_buffer[CLI_LINE_SIZE];

[[noreturn]] void exit_path()
{
    cli::save_profiles_and_free();
    std::fflush(stdout);
    std::exit(0);
}

void common_startup(int argc, char **argv)
{
    cli_print(CLI_LEVEL_ORDINARY, "%s for %s - %s, Maketime:%s, Header rev: %s", argv[0], "quorin",
              "1.7.9-37", "201904102211", "080516_161934_1_50_4_66_2_2");
    cli_print(CLI_LEVEL_ORDINARY, "argc = %i, argv[0] = %s, argv[1] = %s", argc, argv[0],
              argc > 1 ? argv[1] : "(none)");
    int error = init_adsl_settings();
    if (error != 0)
        cli_print(CLI_LEVEL_ORDINARY, "Internal error: %s", std::strerror(error));
    umask(022);
}

void interactive_setup()
{
    build_prompt();
    cli::enter_raw_mode();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    cli::install_signal_handlers();
}

void check_signal()
{
    if (int signal_number = cli::pending_signal())
        cli::finish_on_signal(signal_number);
}

// Setup and script mode: every line from the root, as read.
void run_file(std::FILE *file, bool echo)
{
    for (;;) {
        cli::make_root_current();
        cli::LineRead got = cli::read_bounded_line(file, line_buffer, sizeof line_buffer);
        if (got == cli::LineRead::End)
            break;
        if (got == cli::LineRead::Refused) {
            cli::report_refused_stream();
            break;
        }
        if (got == cli::LineRead::TooLong) {
            cli::report_long_line();
            continue;
        }
        if (echo) {
            std::fputs(">>", stdout);
            std::fputs(line_buffer, stdout);
        }
        if (execute_command_line(line_buffer) == CLI_QUIT)
            break;
    }
    std::fclose(file);
}

void after_line()
{
    if (cli_static_mode) {
        cli::make_root_current();
        build_prompt();
    }
}

int run_line(const std::string &text)
{
    std::snprintf(line_buffer, sizeof line_buffer, "%s", text.c_str());
    int result = execute_command_line(str_trim(line_buffer));
    after_line();
    return result;
}

void interactive_loop()
{
    cli::LineEditor editor;
    editor.set_special_chars(cli::erase_char(), cli::kill_char());
    for (;;) {
        check_signal();
        cli_write_raw(cli_prompt(), std::strlen(cli_prompt()));
        std::string line;
        cli::LineEditor::Status status = editor.read_line(STDIN_FILENO, line);
        if (status == cli::LineEditor::Status::Signal)
            check_signal();
        if (status != cli::LineEditor::Status::Line)
            break;
        int result = run_line(line);
        check_signal();
        if (result == CLI_QUIT)
            break;
    }
    restore_stdin();
}

void silent_loop()
{
    for (;;) {
        check_signal();
        cli::LineRead got = cli::read_bounded_line(stdin, line_buffer, sizeof line_buffer);
        if (got == cli::LineRead::End)
            break;
        if (got == cli::LineRead::Refused) {
            cli::report_refused_stream();
            break;
        }
        if (got == cli::LineRead::TooLong) {
            cli::report_long_line();
            continue;
        }
        if (execute_command_line(str_trim(line_buffer)) == CLI_QUIT)
            break;
        after_line();
    }
    // A signal ends a blocked read like the end of input does.
    check_signal();
}

[[noreturn]] void one_shot(const char *program, const char *argument)
{
    init_adsl_settings();
    cli::make_root_current();
    int result;
    if (std::strlen(argument) >= sizeof line_buffer) {
        cli::report_long_line();
        result = CLI_FAILED;
    } else {
        std::snprintf(line_buffer, sizeof line_buffer, "%s", argument);
        result = execute_command_line(line_buffer);
    }
    if (result == CLI_DONE)
        exit_path();
    cli_print(CLI_LEVEL_ORDINARY, "\nInvalid option or command or script file \"%s\" was not found.\n",
              argument);
    cli_print(CLI_LEVEL_ORDINARY, "druvel - The xDSL Configuration Shell utility.");
    cli_print(CLI_LEVEL_ORDINARY, "Usage: %s [option]\n", program);
    cli_print(CLI_LEVEL_ORDINARY, "Options:");
    cli_print(CLI_LEVEL_ORDINARY, "  clean    - Reset internal state to default values.\n"
                                  "             Does not change the system state.");
    cli_print(CLI_LEVEL_ORDINARY, "  setup    - Setup system on boot from configuration file.");
    cli_print(CLI_LEVEL_ORDINARY, "  silent   - Work normally, but don't display prompt.\n"
                                  "             Good for use from scripts.");
    cli_print(CLI_LEVEL_ORDINARY, "  static   - Work statically, and don't change command level.\n"
                                  "             Classical tarvik mode.");
    cli_print(CLI_LEVEL_ORDINARY, "  resident - Work residently, and don't display prompt.\n"
                                  "             Can be used for background residence.");
    cli_print(CLI_LEVEL_ORDINARY, "  script_filename - Execute scripted commands one by one.\n"
                                  "             Good for running batch commands.");
    cli::save_profiles_and_free();
    std::fflush(stdout);
    std::exit(1);
}

Mode choose_mode(int argc, char **argv)
{
    if (argc < 2)
        return Mode::Interactive;
    if (argc == 2) {
        for (const ModeWord &m : kModeWords)
            if (std::strncmp(argv[1], m.word, std::strlen(m.word)) == 0)
                return m.mode;
    }
    return Mode::Script;  // a file when it opens, else one command line
}

}  // namespace

int main(int argc, char **argv)
{
    Mode mode = choose_mode(argc, argv);
    std::FILE *script = nullptr;
    if (mode == Mode::Script) {
        script = std::fopen(argv[1], "r");
        if (!script)
            mode = Mode::OneShot;
    }

    switch (mode) {
    case Mode::Interactive:
        cli_interactive = 1;
        cli_print_mask = CLI_MASK_INTERACTIVE;
        break;
    case Mode::Setup:
        cli_interactive = 0;
        cli_print_mask = CLI_MASK_SETUP;
        break;
    case Mode::Clean:
        cli_interactive = 1;
        cli_print_mask = CLI_MASK_CLEAN;
        break;
    case Mode::Silent:
        cli_interactive = 0;
        cli_print_mask = CLI_MASK_SILENT;
        cli_silent_mode = 1;
        break;
    case Mode::Resident:
        cli_interactive = 0;
        cli_print_mask = 0;
        break;
    case Mode::Static:
        cli_interactive = 1;
        cli_print_mask = CLI_MASK_INTERACTIVE;
        cli_static_mode = 1;
        break;
    case Mode::Script:
        cli_interactive = 0;
        cli_print_mask = 0;
        break;
    case Mode::OneShot:
        cli_interactive = 0;
        cli_print_mask = CLI_MASK_ONE_SHOT;
        one_shot(argv[0], argv[1]);
    }

    if (mode == Mode::Setup) {
        script = std::fopen(kSetupFile, "r");
        if (!script) {
            cli_print(CLI_LEVEL_ERROR, "Failed to open config file %s", std::strerror(errno));
            std::fflush(stdout);
            return 1;
        }
    }

    common_startup(argc, argv);
    if (cli_interactive)
        interactive_setup();
    else if (mode == Mode::Silent)
        cli::install_signal_handlers();  // unsaved profiles survive a SIGINT here too

    switch (mode) {
    case Mode::Setup:
        cli_print(CLI_LEVEL_ORDINARY, "Setup executing...");
        run_file(script, false);
        break;
    case Mode::Script:
        cli_print(CLI_LEVEL_ORDINARY, "Running script \"%s\":", argv[1]);
        run_file(script, true);
        break;
    case Mode::Resident:
        cli_print(CLI_LEVEL_ORDINARY, "Running remote tool mode...");
        run_remote_tool_service();
        break;
    case Mode::Silent:
        silent_loop();
        break;
    default:
        interactive_loop();
        break;
    }
    exit_path();
}
