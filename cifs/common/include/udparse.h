/* Character reader for the hook files under /var/run/cifs/: 512-byte chunks,
 * no allocation, one character of push-back and a few token readers. */
#ifndef UDPARSE_H
#define UDPARSE_H

#include "cmtypes.h"

#define PARSE_CHUNK 512

typedef struct ParseContext {
    int fd; /* -1 when closed */
    unsigned char buffer[PARSE_CHUNK];
    uint32_t position; /* next byte; PARSE_CHUNK = read a chunk */
    int unget;         /* pushed-back character, 0 = none */
    int64_t offset;    /* file offset of the next chunk */
} ParseContext;

/* Characters come out as signed bytes widened to int; -1 is the end of file. */
#define PARSE_EOF (-1)

VX_API int parseInit(ParseContext *ctx, const char *path);
VX_API void parseStop(ParseContext *ctx);
VX_API void parseReadChunk(ParseContext *ctx);
VX_API int parseAtFileEnd(ParseContext *ctx);
VX_API int parseAtLineEnd(ParseContext *ctx);
VX_API int parseGet(ParseContext *ctx);
VX_API void parseUnget(ParseContext *ctx, int c);
VX_API void parseSkipSpaces(ParseContext *ctx);
VX_API int parseDelimiter(ParseContext *ctx, int d);
VX_API void parseName(ParseContext *ctx, char *buf, uint32_t size);
VX_API void parseValue(ParseContext *ctx, char *buf, uint32_t size, int d);
VX_API void parseSkipLine(ParseContext *ctx);

/* Whether a byte is one parseName keeps in a name. */
VX_API int parseIsNameChar(int c);
/* Whether a character ends a value or a line: below 32 but not tab, or negative. */
VX_API int parseIsControl(int c);

#endif
