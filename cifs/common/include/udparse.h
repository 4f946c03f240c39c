/* Character reader for the hook files under /var/run/cifs/: 512-byte chunks,
 * no allocation, one character of push-back and a few token readers. */
#ifndef UDPARSE_H
#define UDPARSE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PARSE_CHUNK 512

typedef struct ParseContext {
    int fd;                          /* -1 when closed */
    unsigned char buffer[PARSE_CHUNK];
    uint32_t position;               /* next byte; PARSE_CHUNK = read a chunk */
    int unget;                       /* pushed-back character, 0 = none */
    int64_t offset;                  /* file offset of the next chunk */
} ParseContext;

/* Characters come out as signed bytes widened to int; -1 is the end of file. */
#define PARSE_EOF (-1)

int parseInit(ParseContext* ctx, const char* path);
void parseStop(ParseContext* ctx);
void parseReadChunk(ParseContext* ctx);
int parseAtFileEnd(ParseContext* ctx);
int parseAtLineEnd(ParseContext* ctx);
int parseGet(ParseContext* ctx);
void parseUnget(ParseContext* ctx, int c);
void parseSkipSpaces(ParseContext* ctx);
int parseDelimiter(ParseContext* ctx, int d);
void parseName(ParseContext* ctx, char* buf, uint32_t size);
void parseValue(ParseContext* ctx, char* buf, uint32_t size, int d);
void parseSkipLine(ParseContext* ctx);

/* Whether a byte is one parseName keeps in a name. */
int parseIsNameChar(int c);
/* Whether a character ends a value or a line: below 32 but not tab, or negative. */
int parseIsControl(int c);

#ifdef __cplusplus
}
#endif

#endif
