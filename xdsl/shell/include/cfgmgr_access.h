/* Access to the configuration manager /bin/cfgmgr, run once per access as
 * its own process with an argument vector (never through a shell). */
#ifndef DRUVEL_CFGMGR_ACCESS_H
#define DRUVEL_CFGMGR_ACCESS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CFGMGR_PROGRAM "/bin/cfgmgr"

/* Results of a read. */
enum cfgmgr_read_result {
    CFGMGR_READ_OK = 0,      /* a line came; the buffer holds it with its newline */
    CFGMGR_READ_ABSENT = 1,  /* the key gave no line */
    CFGMGR_READ_FAILED = 2,  /* the program could not be run, or the key was refused */
    CFGMGR_READ_TOO_LONG = 3 /* the line did not fit; the buffer is emptied */
};

/* Keys are letters, digits and '_'; anything else is refused. */
int cfgmgr_key_is_valid(const char *key);

/* "-r KEY": the first output line into buffer (capacity bytes, zero-terminated). */
enum cfgmgr_read_result cfgmgr_read(const char *key, char *buffer, size_t capacity);

/* "-r K1,K2,...": calls on_line once per output line (without its newline), in
 * order; line_limit bounds each line. Returns the number of lines, or -1. */
int cfgmgr_read_many(const char *const *keys, size_t count, size_t line_limit,
                     void (*on_line)(void *context, size_t index, const char *line), void *context);

/* "-w KEY=VALUE" (one argument) and "-d KEY". The result is the program's exit
 * status, or -1 when it could not be run or the key or value was refused
 * (a value may not hold a line break). */
int cfgmgr_write(const char *key, const char *value);
int cfgmgr_remove(const char *key);

/* Cuts trailing white space and '?' from a value line read above; a line of
 * white space only stays as it is (an empty stored value reads as "\n"). */
char *cfgmgr_value_trim(char *line);

#ifdef __cplusplus
}
#endif

#endif
