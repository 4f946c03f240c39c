/* cloudagent: the command line and the process around the threads. */
#ifndef CLOUDAGENT_PROCESS_H
#define CLOUDAGENT_PROCESS_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

struct agent_options {
    int foreground;
    int console;
    int has_cid;
    int has_key;
    uint8_t key[32];
    uint32_t address; /* network order */
};

void usage_print(FILE *stream, const char *program);
/* Parses the command line into o and the agent state, printing what the
 * user sees on out and err: -1 to go on, else the exit status. */
int options_parse(int argc, char **argv, struct agent_options *o, FILE *out, FILE *err);

/* The whole program: start-up, then the main loop; the exit status. */
int agent_main(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
