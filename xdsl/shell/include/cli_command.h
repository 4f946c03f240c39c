/* Command tree, dispatcher and process-wide state of the xDSL shell. */
#ifndef DRUVEL_CLI_COMMAND_H
#define DRUVEL_CLI_COMMAND_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Handler results shared by every command. */
#define CLI_DONE 0
#define CLI_FAILED 100
#define CLI_NO_SUCH_COMMAND 109
#define CLI_QUIT 110
#define CLI_USAGE (-111)
#define CLI_INVALID_PORT (-5)

/* Sizes of the shell's text buffers, terminating zero included. */
#define CLI_LINE_SIZE 4096   /* a line read from the terminal, a file or stdin */
#define CLI_COMMAND_SIZE 512 /* a command line after expansion */
#define CLI_PROMPT_SIZE 256
#define CLI_HOSTNAME_SIZE 64

typedef struct cli_dir_row cli_dir_row;

/* A handler gets the rest of the line after its word (writable, inside a
 * CLI_COMMAND_SIZE buffer) and the row's subdirectory ("?" gets its own table). */
typedef int (*cli_handler)(char *rest, const cli_dir_row *subdirectory);

/* One row of a directory table; a table ends with a row whose name is null. */
struct cli_dir_row {
    const char *name;
    const char *help;
    const cli_dir_row *subdirectory; /* entered directory; for "exit" the parent */
    uint32_t reserved;               /* nonzero: skip one more word after entering */
    cli_handler handler;
};

/* The root directory table. */
extern const cli_dir_row cli_root_directory[];

/* Process-wide state set by the start-up mode. */
extern int cli_interactive;
extern int cli_static_mode;
extern int cli_silent_mode;

/* The current directory and the entry operation of the directory in which the
 * last command line left the user. */
extern const cli_dir_row *current_directory;
extern cli_handler current_entry;

/* Host name (from CLI_HOSTNAME) and the prompt built from it. */
void cli_set_hostname(const char *name);
const char *cli_hostname(void);
const char *cli_prompt(void);
void build_prompt(void);
void set_dir_prompt(const char *label);

/* Runs one command line and returns its result. */
int execute_command_line(char *line);
/* Finds the line's first word in the table and calls its handler. */
int dispatch_command(char *line, const cli_dir_row *table);
/* Trims in place: leading white space, trailing white space (while one
 * character would remain) and every trailing '?'. */
char *str_trim(char *text);

/* Makes the root current with the root prompt (the root's entry operation). */
int cmd_home(char *rest, const cli_dir_row *subdirectory);
/* Enters a directory: makes it current with its prompt label. */
int cli_enter_directory(const cli_dir_row *table, const char *label);

/* Built-in commands. */
int cmd_help(char *rest, const cli_dir_row *subdirectory);
int cmd_quit(char *rest, const cli_dir_row *subdirectory);
int cmd_save(char *rest, const cli_dir_row *subdirectory);
int cmd_script(char *rest, const cli_dir_row *subdirectory);
int cmd_shellscript(char *rest, const cli_dir_row *subdirectory);

/* Prints "Invalid portid=%i\n" at the port level and returns -5. */
int invalid_port(int port_index);
/* Looks up KEY in a stream of KEY=VALUE lines and prints "Value = %s". */
int print_key_value(FILE *stream, const char *key);

/* Label ("(profiles line-profile)") of a directory table, or null for the root
 * and for tables that are no directory. */
const char *cli_directory_label(const cli_dir_row *table);

#ifdef __cplusplus
}
#endif

#endif
