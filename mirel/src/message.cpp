// Message record: life, header fields, peer address, token and payload.
#include <netinet/in.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "message_internal.h"

namespace {

// Drawn by every thread that makes a message with a new id.
std::atomic<uint16_t> g_next_id{0};

// Ids and tokens come from the kernel's generator: a counter that starts
// where it started last time, or tokens that follow from an observed one,
// would let a forger answer for the peer. random() only when it fails.
void random_bytes(uint8_t *out, size_t length)
{
    ssize_t n = getrandom(out, length, 0);
    if (n == static_cast<ssize_t>(length))
        return;
    for (size_t i = 0; i < length; i++)
        out[i] = static_cast<uint8_t>(random());
}

void message_free(struct CoAPMessage *msg)
{
    Mem_free(msg->payload);
    CoAPMessage_GetOptionsFree(&msg->options);
    msg->~CoAPMessage();
    Mem_free(msg);
}

}  // namespace

using mirel::option_list_append;

extern "C" {

struct CoAPMessage *CoAPMessage(int type, int code, int id)
{
    void *mem = Mem_calloc(1, sizeof(struct CoAPMessage));
    if (!mem)
        return nullptr;
    auto *msg = new (mem) struct CoAPMessage();
    msg->type = static_cast<uint8_t>(type);
    msg->code = static_cast<uint8_t>(code);
    msg->id = id == -1 ? CoAPMessage_GenId() : static_cast<uint16_t>(id);
    return msg;
}

struct CoAPMessage *CoAPMessage_Incref(struct CoAPMessage *msg)
{
    if (msg)
        msg->refs.fetch_add(1, std::memory_order_relaxed);
    return msg;
}

void CoAPMessage_Decref(struct CoAPMessage *msg)
{
    if (msg && msg->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        message_free(msg);
}

struct CoAPMessage *CoAPMessage_Clone(const struct CoAPMessage *msg, int copy_payload)
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    struct CoAPMessage *copy = CoAPMessage(msg->type, msg->code, msg->id);
    if (!copy)
        return nullptr;
    std::memcpy(copy->token, msg->token, sizeof copy->token);
    copy->token_len = msg->token_len;
    copy->addr = msg->addr;
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        struct CoAPMessage_Option *dup = CoAPMessage_OptionDup(o);
        if (!dup) {
            int saved = errno;
            CoAPMessage_Decref(copy);
            errno = saved;
            return nullptr;
        }
        option_list_append(&copy->options, dup);
    }
    if (copy_payload && msg->payload_len > 0 &&
        CoAPMessage_SetPayload(copy, msg->payload, msg->payload_len) != 0) {
        int saved = errno;
        CoAPMessage_Decref(copy);
        errno = saved;
        return nullptr;
    }
    return copy;
}

#define CHECK_MSG(msg, fail)                                                                                 \
    do {                                                                                                     \
        if (!(msg)) {                                                                                        \
            errno = EINVAL;                                                                                  \
            return fail;                                                                                     \
        }                                                                                                    \
    } while (0)

int CoAPMessage_GetType(const struct CoAPMessage *msg)
{
    CHECK_MSG(msg, -1);
    return msg->type;
}

int CoAPMessage_SetType(struct CoAPMessage *msg, int type)
{
    CHECK_MSG(msg, -1);
    msg->type = static_cast<uint8_t>(type);
    return 0;
}

int CoAPMessage_GetCode(const struct CoAPMessage *msg)
{
    CHECK_MSG(msg, -1);
    return msg->code;
}

int CoAPMessage_SetCode(struct CoAPMessage *msg, int code)
{
    CHECK_MSG(msg, -1);
    msg->code = static_cast<uint8_t>(code);
    return 0;
}

int CoAPMessage_GetId(const struct CoAPMessage *msg)
{
    CHECK_MSG(msg, -1);
    return msg->id;
}

int CoAPMessage_SetId(struct CoAPMessage *msg, int id)
{
    CHECK_MSG(msg, -1);
    msg->id = static_cast<uint16_t>(id);
    return 0;
}

void CoAPMessage_Init(void)
{
    uint8_t r[2];
    random_bytes(r, sizeof r);
    g_next_id.store(static_cast<uint16_t>((r[0] << 8 | r[1]) % 65535), std::memory_order_relaxed);
}

uint16_t CoAPMessage_GenId(void)
{
    // Unsigned atomic arithmetic wraps from 65535 to 0.
    return g_next_id.fetch_add(1, std::memory_order_relaxed);
}

int CoAPMessage_SetHandler(struct CoAPMessage *msg, CoAPMessage_Handler handler)
{
    CHECK_MSG(msg, -1);
    msg->handler = handler;
    return 0;
}

CoAPMessage_Handler CoAPMessage_GetHandler(const struct CoAPMessage *msg)
{
    CHECK_MSG(msg, nullptr);
    if (!msg->handler) {
        errno = ENODATA;
        return nullptr;
    }
    return msg->handler;
}

int CoAPMessage_SetSockAddr(struct CoAPMessage *msg, const struct sockaddr_storage *address)
{
    if (!msg || !address || (address->ss_family != AF_INET && address->ss_family != AF_INET6)) {
        errno = EINVAL;
        return -1;
    }
    msg->addr = *address;
    return 0;
}

int CoAPMessage_GetSockAddr(const struct CoAPMessage *msg, struct sockaddr_storage *out)
{
    if (!msg || !out) {
        errno = EINVAL;
        return -1;
    }
    if (msg->addr.ss_family != AF_INET && msg->addr.ss_family != AF_INET6) {
        errno = ENODATA;
        return -1;
    }
    *out = msg->addr;
    return 0;
}

int CoAPMessage_CopySockAddr(struct CoAPMessage *dst, const struct CoAPMessage *src)
{
    if (!dst || !src) {
        errno = EINVAL;
        return -1;
    }
    dst->addr = src->addr;
    return 0;
}

int CoAPMessage_IsMulticast(const struct CoAPMessage *msg)
{
    if (!msg || msg->addr.ss_family != AF_INET)
        return 0;
    const auto *sin = reinterpret_cast<const struct sockaddr_in *>(&msg->addr);
    uint8_t first = reinterpret_cast<const uint8_t *>(&sin->sin_addr)[0];
    return first >= 224 && first <= 239;
}

int CoAPMessage_SetToken(struct CoAPMessage *msg, const void *bytes, size_t length)
{
    CHECK_MSG(msg, -1);
    if (!bytes && length == 0) {
        msg->token_len = 0;
        return 0;
    }
    if (!bytes || length == 0 || length > COAP_TOKEN_MAX) {
        errno = EINVAL;
        return -1;
    }
    std::memcpy(msg->token, bytes, length);
    msg->token_len = static_cast<uint8_t>(length);
    return 0;
}

int CoAPMessage_GetToken(const struct CoAPMessage *msg, void *buffer, size_t *length)
{
    if (!msg || !buffer || !length || *length < COAP_TOKEN_MAX) {
        errno = EINVAL;
        return -1;
    }
    if (msg->token_len == 0) {
        errno = ENODATA;
        return -1;
    }
    std::memcpy(buffer, msg->token, msg->token_len);
    *length = msg->token_len;
    return 0;
}

int CoAPMessage_CopyToken(struct CoAPMessage *dst, const struct CoAPMessage *src)
{
    if (!dst || !src) {
        errno = EINVAL;
        return -1;
    }
    if (src->token_len == 0)
        return CoAPMessage_SetToken(dst, nullptr, 0);
    return CoAPMessage_SetToken(dst, src->token, src->token_len);
}

int CoAPMessage_GenToken(void *buffer, size_t length)
{
    if (!buffer || length == 0 || length > COAP_TOKEN_MAX) {
        errno = EINVAL;
        return -1;
    }
    auto *p = static_cast<uint8_t *>(buffer);
    random_bytes(p, length);
    for (size_t i = 0; i < length; i++)
        p[i] = static_cast<uint8_t>(p[i] % 255);
    return 0;
}

int CoAPMessage_SetPayload(struct CoAPMessage *msg, const void *bytes, size_t length)
{
    CHECK_MSG(msg, -1);
    if (!bytes && length == 0) {
        Mem_free(msg->payload);
        msg->payload = nullptr;
        msg->payload_len = 0;
        return 0;
    }
    if (!bytes || length == 0 || length > UINT32_MAX) {
        errno = EINVAL;
        return -1;
    }
    auto *copy = static_cast<uint8_t *>(mirel::mem_copy(bytes, length));
    if (!copy)
        return -1;
    Mem_free(msg->payload);
    msg->payload = copy;
    msg->payload_len = static_cast<uint32_t>(length);
    return 0;
}

void *CoAPMessage_GetPayload(const struct CoAPMessage *msg, uint32_t *length, int flags)
{
    CHECK_MSG(msg, nullptr);
    if (msg->payload_len == 0) {
        errno = ENODATA;
        return nullptr;
    }
    if (length)
        *length = msg->payload_len;
    if (!(flags & COAP_PAYLOAD_COPY))
        return msg->payload;
    size_t extra = (flags & COAP_PAYLOAD_NUL) ? 1 : 0;
    auto *copy = static_cast<uint8_t *>(Mem_malloc(msg->payload_len + extra));
    if (!copy)
        return nullptr;
    std::memcpy(copy, msg->payload, msg->payload_len);
    if (extra)
        copy[msg->payload_len] = 0;
    return copy;
}

}  // extern "C"
