/* cloudagent: login tokens of the cloud, process-wide under one read-write
 * lock. */
#ifndef CLOUDAGENT_TOKENS_H
#define CLOUDAGENT_TOKENS_H

#include "zmo.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TOKEN_LIFE_TICKS 20 /* 300 s at the 15 s tick */
/* A flood of logins can't hold more than this many live tokens. */
#define TOKEN_LIST_MAX 1024

/* 1 when t is listed and its deadline has not passed; 0 otherwise;
 * -EINVAL when t fails the client ID check; -error when the lock fails. */
int token_find(const char *t);
/* Makes and appends a token (its text into out, 37 bytes): 0, or -1 with errno
 * (EEXIST when the new text is listed already, ENOSPC when the list is full). */
int token_add(char out[37]);
/* Appends a given token with the given deadline (tests); 0 or -1 with errno. */
int token_add_text(const char *t, const zmo_time_t *deadline);
/* 1 removed, 0 not listed or failing the check, -error when the lock fails. */
int token_remove(const char *t);
/* Drops every token whose deadline has passed; the count dropped. */
int token_sweep(void);
/* Empties the list (shut-down). */
void token_clear(void);
int token_count(void);

#ifdef __cplusplus
}
#endif

#endif
