// Least versions of what the pipes need of the SMB1 TRANSACTION command:
// the deferred answer of a pipe transaction and the LANMAN item packers.
// The transaction commands' own part replaces them.
#include "cstrans.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// The count after a counted letter (1 when there is none), cursor past it.
uint32_t count(const char **descriptor)
{
    char *end = nullptr;
    unsigned long n = std::strtoul(*descriptor, &end, 10);
    *descriptor = end;
    return n ? uint32_t(n) : 1;
}

}  // namespace

extern "C" {

__attribute__((weak)) int csTransactionPrepareLateResponse(CSLateResponseContext *context)
{
    csDispatchPrepareLateResponse(context);
    if (context->response && context->remaining >= CS_TRANS_RESPONSE_WORDS) {
        context->response += CS_TRANS_RESPONSE_WORDS;
        context->remaining -= CS_TRANS_RESPONSE_WORDS;
    } else {
        context->response = nullptr;
        context->remaining = 0;
    }
    return 0;
}

__attribute__((weak)) int csTransactionSendLateResponse(CSLateResponseContext *context, uint32_t status,
                                                        uint32_t length)
{
    if (!context->response || length < 3)
        return 0;
    context->response -= CS_TRANS_RESPONSE_WORDS;
    context->remaining += CS_TRANS_RESPONSE_WORDS;
    uint8_t *w = context->response;
    std::memset(w, 0, CS_TRANS_RESPONSE_WORDS);
    w[0] = 10;
    put16(w + 3, uint16_t(length - 3));   // TotalDataCount
    put16(w + 9, 56);                     // ParameterOffset
    put16(w + 13, uint16_t(length - 3));  // DataCount
    put16(w + 15, 56);                    // DataOffset
    return csDispatchSendLateResponse(context, status, length + CS_TRANS_RESPONSE_WORDS);
}

__attribute__((weak)) void writeResponseParameter(const char **descriptor, uint8_t **out, uintptr_t value)
{
    const char letter = char(std::tolower(uint8_t(**descriptor)));
    if (letter == 0)
        return;
    ++*descriptor;
    switch (letter) {
    case 'g': {
        uint32_t n = count(descriptor);
        std::memcpy(*out, reinterpret_cast<const void *>(value), n);
        *out += n;
        break;
    }
    case 'h':
    case 'e':
        put16(*out, uint16_t(value));
        *out += 2;
        break;
    case 'i':
        put32(*out, uint32_t(value));
        *out += 4;
        break;
    default:
        break;
    }
}

__attribute__((weak)) void writeResponseData(const char **descriptor, uint8_t **out, uintptr_t value)
{
    const char letter = char(std::tolower(uint8_t(**descriptor)));
    if (letter == 0)
        return;
    ++*descriptor;
    switch (letter) {
    case 'b': {
        uint32_t n = count(descriptor);
        std::memcpy(*out, reinterpret_cast<const void *>(value), n);
        *out += n;
        break;
    }
    case 'w':
    case 'n':
        put16(*out, uint16_t(value));
        *out += 2;
        break;
    case 'd':
    case 'z':
        put32(*out, uint32_t(value));
        *out += 4;
        break;
    case 'o':
        *out += 4;
        break;
    default:
        break;
    }
}

}  // extern "C"
