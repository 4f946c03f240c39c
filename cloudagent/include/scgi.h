/* cloudagent: SCGI requests to the management core, one exchange per call on
 * a fresh connection. */
#ifndef CLOUDAGENT_SCGI_H
#define CLOUDAGENT_SCGI_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SCGI_SOCKET_PATH "/var/run/zmo.scgi.socket"
/* Each read or write waits at most this long ... */
#define SCGI_IO_TIMEOUT_MS 5000
/* ... and the whole exchange at most this long, however the core drips. */
#define SCGI_DEADLINE_MS 10000
/* A reply past this many bytes is refused (EMSGSIZE). */
#define SCGI_REPLY_MAX (1024 * 1024)

struct scgi_result {
    int status;           /* HTTP status, or a negative errno */
    char status_text[20]; /* reason phrase, cut to 19 characters */
    char *body;           /* malloc'd copy, or null; the caller frees it */
    size_t body_length;   /* with terminate, counts the added zero byte */
};

struct scgi_result scgi_request(const char *method, const char *uri, const char *content_type,
                                const void *body, size_t body_length, int terminate);

/* Parses a whole reply (as read until the core closed); status -EBADMSG when
 * it breaks the form. Exposed for tests and the fuzzer. */
struct scgi_result scgi_reply_parse(const char *reply, size_t length, int terminate);

/* Tests point the client at a core of their own; null restores the fixed path. */
void scgi_set_socket_path(const char *path);

#ifdef __cplusplus
}
#endif

#endif
