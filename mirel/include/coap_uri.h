/* Mirel library: "coap://" and "coaps://" URIs, percent coding, query and
 * path lists, and the URI of a message. */
#ifndef COAP_URI_H
#define COAP_URI_H

#include <stddef.h>
#include <stdint.h>

#include "coap_message.h"

#ifdef __cplusplus
extern "C" {
#endif

#define COAP_DEFAULT_PORT 5683

struct Uri {
    uint8_t secure; /* 1 for "coaps" */
    uint16_t port;
    char *host;  /* never empty */
    char *path;  /* begins with "/", or null */
    char *query; /* begins with "?", or null */
};

struct Uri_QueryEntry {
    char *key;
    char *value; /* null when the segment had none */
    struct Uri_QueryEntry *next;
};

/* A zero-filled head is an empty list. */
struct Uri_QueryHead {
    struct Uri_QueryEntry *first;
    struct Uri_QueryEntry **last;
};

struct Uri_PathEntry {
    char *segment;
    struct Uri_PathEntry *next;
};

struct Uri_PathHead {
    struct Uri_PathEntry *first;
    struct Uri_PathEntry **last;
};

MIREL_API int Uri_Parse(struct Uri *record, const char *text);
MIREL_API void Uri_ParseFree(struct Uri *record);
MIREL_API char *Uri_Gen(const struct Uri *record);

MIREL_API struct Uri_QueryEntry *Uri_QueryEntry(const char *key, const char *value);
MIREL_API void Uri_QueryEntryFree(struct Uri_QueryEntry *entry);
MIREL_API void Uri_QueryHeadFree(struct Uri_QueryHead *head);
MIREL_API struct Uri_PathEntry *Uri_PathEntry(const char *segment);
MIREL_API void Uri_PathEntryFree(struct Uri_PathEntry *entry);
MIREL_API void Uri_PathHeadFree(struct Uri_PathHead *head);

MIREL_API int Uri_QueryParse(const char *text, struct Uri_QueryHead *head, int split);
MIREL_API int Uri_PathParse(const char *text, struct Uri_PathHead *head);
MIREL_API char *Uri_QueryGen(const struct Uri_QueryHead *head);
MIREL_API char *Uri_PathGen(const struct Uri_PathHead *head);
MIREL_API char *Uri_StrEncode(const char *text);
MIREL_API char *Uri_StrDecode(const char *text, size_t length);

/* parts: bit 0 secure flag, bit 1 destination, bit 2 path, bit 3 query; 0 = all. */
#define COAP_URI_SECURE 1
#define COAP_URI_ADDRESS 2
#define COAP_URI_PATH 4
#define COAP_URI_QUERY 8
MIREL_API int CoAPMessage_SetUri(struct CoAPMessage *msg, const char *text, int parts);
MIREL_API int CoAPMessage_SetUriPath(struct CoAPMessage *msg, const char *path);
MIREL_API int CoAPMessage_SetUriQuery(struct CoAPMessage *msg, const char *query);
MIREL_API char *CoAPMessage_GetUriPath(const struct CoAPMessage *msg);
MIREL_API char *CoAPMessage_GetUriQuery(const struct CoAPMessage *msg);
MIREL_API char *CoAPMessage_GetUri(const struct CoAPMessage *msg);

#ifdef __cplusplus
}
#endif

#endif
