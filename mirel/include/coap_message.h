/* Mirel library: the message record, its options, byte form and names. */
#ifndef COAP_MESSAGE_H
#define COAP_MESSAGE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/socket.h>

#include "mirel_util.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    COAP_TYPE_CON = 0,
    COAP_TYPE_NON = 1,
    COAP_TYPE_ACK = 2,
    COAP_TYPE_RST = 3,
};

/* Codes are class * 32 + detail. */
#define COAP_CODE(cls, detail) ((uint8_t)((cls) << 5 | (detail)))
enum {
    COAP_CODE_EMPTY = 0,
    COAP_CODE_GET = 1,
    COAP_CODE_POST = 2,
    COAP_CODE_PUT = 3,
    COAP_CODE_DELETE = 4,
};

enum {
    COAP_OPTION_IF_MATCH = 1,
    COAP_OPTION_URI_HOST = 3,
    COAP_OPTION_ETAG = 4,
    COAP_OPTION_IF_NONE_MATCH = 5,
    COAP_OPTION_OBSERVE = 6,
    COAP_OPTION_URI_PORT = 7,
    COAP_OPTION_LOCATION_PATH = 8,
    COAP_OPTION_URI_PATH = 11,
    COAP_OPTION_CONTENT_FORMAT = 12,
    COAP_OPTION_MAX_AGE = 14,
    COAP_OPTION_URI_QUERY = 15,
    COAP_OPTION_ACCEPT = 17,
    COAP_OPTION_LOCATION_QUERY = 20,
    COAP_OPTION_BLOCK2 = 23,
    COAP_OPTION_BLOCK1 = 27,
    COAP_OPTION_SIZE2 = 28,
    COAP_OPTION_PROXY_URI = 35,
    COAP_OPTION_PROXY_SCHEME = 39,
    COAP_OPTION_SIZE1 = 60,
    COAP_OPTION_URI_SCHEME = 2111,
    COAP_OPTION_SR_WINDOW_SIZE = 3001,
    COAP_OPTION_HANDSHAKE_TYPE = 3999,
    COAP_OPTION_SESSION_NOT_FOUND = 4001,
    COAP_OPTION_SESSION_EXPIRED = 4003,
    COAP_OPTION_COAPS_URI = 4005,
};

#define COAP_TOKEN_MAX 8

struct Mirel;
struct CoAPMessage;

/* Called by the response layer with the answer to a request. */
typedef int (*CoAPMessage_Handler)(struct Mirel *ep, struct CoAPMessage *response);

/* One option; `prev` is the address of the previous element's next field
 * (or of the head's first field). */
struct CoAPMessage_Option {
    uint32_t number;
    uint8_t *value;
    uint32_t length;
    struct CoAPMessage_Option *next;
    struct CoAPMessage_Option **prev;
};

/* Option list head. A zero-filled head is an empty list; a head must not be
 * copied while it holds options. */
struct CoAPMessage_OptionList {
    struct CoAPMessage_Option *first;
    struct CoAPMessage_Option **last;
};

/* Block1/Block2 value: the block is 2^(szx + 4) bytes. */
struct CoAPMessage_Block {
    uint32_t num;
    uint32_t szx;
    uint8_t more;
};

/* Life and copies. */
MIREL_API struct CoAPMessage *CoAPMessage(int type, int code, int id);
MIREL_API struct CoAPMessage *CoAPMessage_Incref(struct CoAPMessage *msg);
MIREL_API void CoAPMessage_Decref(struct CoAPMessage *msg);
MIREL_API struct CoAPMessage *CoAPMessage_Clone(const struct CoAPMessage *msg, int copy_payload);
MIREL_API int CoAPMessage_Equals(struct CoAPMessage *a, struct CoAPMessage *b);

/* Header fields. */
MIREL_API int CoAPMessage_GetType(const struct CoAPMessage *msg);
MIREL_API int CoAPMessage_SetType(struct CoAPMessage *msg, int type);
MIREL_API int CoAPMessage_GetCode(const struct CoAPMessage *msg);
MIREL_API int CoAPMessage_SetCode(struct CoAPMessage *msg, int code);
MIREL_API int CoAPMessage_GetId(const struct CoAPMessage *msg);
MIREL_API int CoAPMessage_SetId(struct CoAPMessage *msg, int id);
MIREL_API void CoAPMessage_Init(void);
MIREL_API uint16_t CoAPMessage_GenId(void);
MIREL_API int CoAPMessage_SetHandler(struct CoAPMessage *msg, CoAPMessage_Handler handler);
MIREL_API CoAPMessage_Handler CoAPMessage_GetHandler(const struct CoAPMessage *msg);

/* Peer address (a 128-byte store). */
MIREL_API int CoAPMessage_SetSockAddr(struct CoAPMessage *msg, const struct sockaddr_storage *address);
MIREL_API int CoAPMessage_GetSockAddr(const struct CoAPMessage *msg, struct sockaddr_storage *out);
MIREL_API int CoAPMessage_CopySockAddr(struct CoAPMessage *dst, const struct CoAPMessage *src);
MIREL_API int CoAPMessage_IsMulticast(const struct CoAPMessage *msg);

/* Token. */
MIREL_API int CoAPMessage_SetToken(struct CoAPMessage *msg, const void *bytes, size_t length);
MIREL_API int CoAPMessage_GetToken(const struct CoAPMessage *msg, void *buffer, size_t *length);
MIREL_API int CoAPMessage_CopyToken(struct CoAPMessage *dst, const struct CoAPMessage *src);
MIREL_API int CoAPMessage_GenToken(void *buffer, size_t length);

/* Payload; flags bit 0 = hand out a copy, bit 1 = NUL after the copy. */
#define COAP_PAYLOAD_COPY 1
#define COAP_PAYLOAD_NUL 2
MIREL_API int CoAPMessage_SetPayload(struct CoAPMessage *msg, const void *bytes, size_t length);
MIREL_API void *CoAPMessage_GetPayload(const struct CoAPMessage *msg, uint32_t *length, int flags);

/* Options. */
MIREL_API struct CoAPMessage_Option *CoAPMessage_Option(uint32_t number, const void *value, size_t length);
MIREL_API struct CoAPMessage_Option *CoAPMessage_OptionDup(const struct CoAPMessage_Option *option);
MIREL_API void CoAPMessage_OptionFree(struct CoAPMessage_Option *option);
MIREL_API int CoAPMessage_AddOptionOpaque(struct CoAPMessage *msg, uint32_t number, const void *value,
                                          size_t length);
MIREL_API int CoAPMessage_AddOptionString(struct CoAPMessage *msg, uint32_t number, const char *text);
MIREL_API int CoAPMessage_AddOptionEmpty(struct CoAPMessage *msg, uint32_t number);
MIREL_API int CoAPMessage_AddOptionUint(struct CoAPMessage *msg, uint32_t number, uint32_t value);
MIREL_API int CoAPMessage_AddOptionBlock(struct CoAPMessage *msg, uint32_t number,
                                         const struct CoAPMessage_Block *block);
MIREL_API const uint8_t *CoAPMessage_GetOptionOpaque(const struct CoAPMessage *msg, uint32_t number,
                                                     uint32_t *length);
MIREL_API char *CoAPMessage_GetOptionString(const struct CoAPMessage *msg, uint32_t number, uint32_t *length);
MIREL_API int CoAPMessage_GetOptionUint(const struct CoAPMessage *msg, uint32_t number, uint32_t *value);
MIREL_API int CoAPMessage_GetOptionBlock(const struct CoAPMessage *msg, uint32_t number,
                                         struct CoAPMessage_Block *block);
MIREL_API int CoAPMessage_GetOptions(const struct CoAPMessage *msg, uint32_t number,
                                     struct CoAPMessage_OptionList *list);
MIREL_API void CoAPMessage_GetOptionsFree(struct CoAPMessage_OptionList *list);
MIREL_API int CoAPMessage_RemoveOptions(struct CoAPMessage *msg, uint32_t number);
MIREL_API int CoAPMessage_CopyOption(struct CoAPMessage *dst, const struct CoAPMessage *src, uint32_t number);
typedef int (*CoAPMessage_OptionCallback)(uint32_t number, const uint8_t *value, uint32_t length, int last,
                                          void *context);
MIREL_API int CoAPMessage_IterOptions(const struct CoAPMessage *msg, CoAPMessage_OptionCallback callback,
                                      void *context);
MIREL_API int CoAPMessage_SetSecure(struct CoAPMessage *msg, int flag);
MIREL_API int CoAPMessage_GetSecure(const struct CoAPMessage *msg, int *flag);

/* Byte form (one datagram). */
MIREL_API uint8_t *CoAPMessage_ToBytes(struct CoAPMessage *msg, uint32_t *length);
MIREL_API struct CoAPMessage *CoAPMessage_FromBytes(const void *bytes, size_t length);

/* Names and printing. */
enum { COAP_CODESTR_TEXT = 0, COAP_CODESTR_NAME = 1, COAP_CODESTR_BOTH = 2 };
MIREL_API char *CoAPMessage_CodeStr(int code, char *buffer, size_t size, int mode);
MIREL_API char *CoAPMessage_GetCodeStr(const struct CoAPMessage *msg, char *buffer, size_t size);
MIREL_API char *CoAPMessage_OptionCodeStr(uint32_t number, char *buffer, size_t size);
MIREL_API const char *CoAPMessage_GetTypeStr(const struct CoAPMessage *msg);
MIREL_API int CoAPMessage_ToBuf(const struct CoAPMessage *msg, struct Buf *buf);
MIREL_API int CoAPMessage_Print(const struct CoAPMessage *msg, FILE *stream);

#ifdef __cplusplus
}
#endif

#endif
