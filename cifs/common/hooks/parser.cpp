// Character reader of the hook files: chunks of 512 bytes read at a tracked
// offset, the byte 0xFF after the last byte read as the end mark.
#include "udparse.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr unsigned char kEndMark = 0xFF;

void closeFile(ParseContext *ctx)
{
    if (ctx->fd >= 0) {
        close(ctx->fd);
        ctx->fd = -1;
    }
}

bool atMark(ParseContext *ctx)
{
    parseReadChunk(ctx);
    return ctx->buffer[ctx->position] == kEndMark;
}

// Stores characters while `keep` holds them, at most size - 1 of them and
// a terminator; the rest is read and dropped, and the first character that
// is not kept goes back.
template <typename Keep> void readWhile(ParseContext *ctx, char *buf, uint32_t size, Keep keep)
{
    uint32_t stored = 0;
    for (;;) {
        int c = parseGet(ctx);
        if (!keep(c)) {
            parseUnget(ctx, c);
            break;
        }
        if (size > 0 && stored < size - 1)
            buf[stored++] = static_cast<char>(c);
    }
    if (size > 0)
        buf[stored] = '\0';
}

}  // namespace

extern "C" {

int parseIsNameChar(int c)
{
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return 1;
    switch (c) {
    case ' ':
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '.':
    case '^':
    case '_':
    case '`':
        return 1;
    default:
        return 0;
    }
}

int parseIsControl(int c) { return c < 32 && c != '\t'; }

int parseInit(ParseContext *ctx, const char *path)
{
    ctx->position = PARSE_CHUNK;
    ctx->unget = 0;
    ctx->offset = 0;
    ctx->fd = open(path, O_RDONLY | O_CLOEXEC);
    return ctx->fd >= 0;
}

void parseStop(ParseContext *ctx) { closeFile(ctx); }

void parseReadChunk(ParseContext *ctx)
{
    if (ctx->position < PARSE_CHUNK)
        return;
    ssize_t n = -1;
    if (ctx->fd >= 0) {
        do {
            n = pread(ctx->fd, ctx->buffer, PARSE_CHUNK, static_cast<off_t>(ctx->offset));
        } while (n < 0 && errno == EINTR);
    }
    if (n == PARSE_CHUNK) {
        ctx->offset += PARSE_CHUNK;
    } else {
        // A read error reads as the end of the file.
        ctx->buffer[n > 0 ? n : 0] = kEndMark;
        closeFile(ctx);
    }
    ctx->position = 0;
}

int parseAtFileEnd(ParseContext *ctx)
{
    // A character pushed back is still to be read: a last line of one
    // character without a line end must not be lost.
    if (ctx->unget != 0 && ctx->unget != PARSE_EOF)
        return 0;
    if (!atMark(ctx))
        return 0;
    closeFile(ctx);
    return 1;
}

int parseAtLineEnd(ParseContext *ctx)
{
    parseReadChunk(ctx);
    return parseIsControl(static_cast<signed char>(ctx->buffer[ctx->position]));
}

int parseGet(ParseContext *ctx)
{
    if (ctx->unget != 0) {
        int c = ctx->unget;
        ctx->unget = 0;
        return c;
    }
    if (atMark(ctx))
        return PARSE_EOF;
    return static_cast<signed char>(ctx->buffer[ctx->position++]);
}

void parseUnget(ParseContext *ctx, int c) { ctx->unget = c; }

void parseSkipSpaces(ParseContext *ctx)
{
    int c;
    do {
        c = parseGet(ctx);
    } while (c == ' ' || c == '\t');
    if (c != PARSE_EOF)
        parseUnget(ctx, c);
}

int parseDelimiter(ParseContext *ctx, int d)
{
    parseSkipSpaces(ctx);
    int c = parseGet(ctx);
    if (c == d && c != PARSE_EOF) {
        parseSkipSpaces(ctx);
        return 1;
    }
    parseUnget(ctx, c);
    return 0;
}

void parseName(ParseContext *ctx, char *buf, uint32_t size)
{
    readWhile(ctx, buf, size, [](int c) { return parseIsNameChar(c) != 0; });
}

void parseValue(ParseContext *ctx, char *buf, uint32_t size, int d)
{
    readWhile(ctx, buf, size, [d](int c) { return !parseIsControl(c) && (d == 0 || c != d); });
}

void parseSkipLine(ParseContext *ctx)
{
    // A byte from 0x80 up ends a field but not the line: the rest of
    // "caf\xc3\xa9x;..." must not come back as a line "x;..." of its own.
    auto lineEnd = [](int c) { return c >= 0 && parseIsControl(c); };
    int c;
    do {
        c = parseGet(ctx);
        if (c == PARSE_EOF)
            return;
    } while (!lineEnd(c));
    do {
        c = parseGet(ctx);
        if (c == PARSE_EOF)
            return;
    } while (lineEnd(c));
    parseUnget(ctx, c);
}

}  // extern "C"
