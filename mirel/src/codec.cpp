// Byte form of a message: RFC 7252 framing, one message per datagram.
#include <cerrno>
#include <cstring>

#include "message_internal.h"

using namespace mirel;

namespace {

constexpr uint8_t kVersion = 1;
constexpr uint8_t kPayloadMarker = 0xFF;
// Largest delta or length an option header can carry.
constexpr uint32_t kNibbleMax = 269 + 65535;

// Bytes of extension that follow a nibble for value v.
size_t ext_size(uint32_t v) { return v < 13 ? 0 : v < 269 ? 1 : 2; }
uint8_t nibble(uint32_t v) { return v < 13 ? v : v < 269 ? 13 : 14; }

uint8_t *put_ext(uint8_t *p, uint32_t v)
{
    if (v >= 269) {
        v -= 269;
        *p++ = static_cast<uint8_t>(v >> 8);
        *p++ = static_cast<uint8_t>(v);
    } else if (v >= 13) {
        *p++ = static_cast<uint8_t>(v - 13);
    }
    return p;
}

// Bounded reader over one datagram; every read checks what remains.
class Reader {
public:
    Reader(const uint8_t *p, size_t n) : p_(p), end_(p + n) {}
    size_t remaining() const { return static_cast<size_t>(end_ - p_); }
    bool u8(uint8_t *out)
    {
        if (remaining() < 1)
            return false;
        *out = *p_++;
        return true;
    }
    bool u16(uint16_t *out)
    {
        if (remaining() < 2)
            return false;
        *out = static_cast<uint16_t>(p_[0] << 8 | p_[1]);
        p_ += 2;
        return true;
    }
    const uint8_t *bytes(size_t n)
    {
        if (remaining() < n)
            return nullptr;
        const uint8_t *at = p_;
        p_ += n;
        return at;
    }

private:
    const uint8_t *p_;
    const uint8_t *end_;
};

// Reads the value a nibble stands for, taking its extension bytes.
bool read_nibble(Reader &r, uint8_t nib, uint32_t *out)
{
    if (nib < 13) {
        *out = nib;
        return true;
    }
    if (nib == 13) {
        uint8_t b;
        if (!r.u8(&b))
            return false;
        *out = 13u + b;
        return true;
    }
    if (nib == 14) {
        uint16_t w;
        if (!r.u16(&w))
            return false;
        *out = 269u + w;
        return true;
    }
    return false;  // 15 belongs to the payload marker only
}

struct CoAPMessage *fail(struct CoAPMessage *msg, int code)
{
    CoAPMessage_Decref(msg);
    errno = code;
    return nullptr;
}

}  // namespace

extern "C" {

uint8_t *CoAPMessage_ToBytes(struct CoAPMessage *msg, uint32_t *length)
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    option_list_sort(&msg->options);

    // Size first, so the datagram is written into one exact block.
    size_t size = 4 + msg->token_len;
    uint32_t prev = 0;
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        uint32_t delta = o->number - prev;
        if (delta > kNibbleMax || o->length > kNibbleMax) {
            errno = EBADMSG;
            return nullptr;
        }
        size += 1 + ext_size(delta) + ext_size(o->length) + o->length;
        prev = o->number;
    }
    if (msg->payload_len > 0)
        size += 1 + msg->payload_len;
    if (size > UINT32_MAX) {
        errno = EBADMSG;
        return nullptr;
    }

    auto *out = static_cast<uint8_t *>(Mem_malloc(size));
    if (!out)
        return nullptr;
    uint8_t *p = out;
    // Header: version, type, token length; code; message id.
    *p++ = static_cast<uint8_t>(kVersion << 6 | (msg->type & 3) << 4 | msg->token_len);
    *p++ = msg->code;
    *p++ = static_cast<uint8_t>(msg->id >> 8);
    *p++ = static_cast<uint8_t>(msg->id);
    std::memcpy(p, msg->token, msg->token_len);
    p += msg->token_len;
    // Options, as deltas from the previous number.
    prev = 0;
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        uint32_t delta = o->number - prev;
        *p++ = static_cast<uint8_t>(nibble(delta) << 4 | nibble(o->length));
        p = put_ext(p, delta);
        p = put_ext(p, o->length);
        if (o->length)
            std::memcpy(p, o->value, o->length);
        p += o->length;
        prev = o->number;
    }
    // Payload behind its marker.
    if (msg->payload_len > 0) {
        *p++ = kPayloadMarker;
        std::memcpy(p, msg->payload, msg->payload_len);
    }
    if (length)
        *length = static_cast<uint32_t>(size);
    return out;
}

struct CoAPMessage *CoAPMessage_FromBytes(const void *bytes, size_t length)
{
    if (!bytes || length == 0) {
        errno = EINVAL;
        return nullptr;
    }
    Reader r(static_cast<const uint8_t *>(bytes), length);
    uint8_t b0, code;
    uint16_t id;
    if (!r.u8(&b0) || !r.u8(&code) || !r.u16(&id)) {
        errno = EBADMSG;
        return nullptr;
    }
    uint8_t token_len = b0 & 15;
    if (b0 >> 6 != kVersion || token_len > COAP_TOKEN_MAX) {
        errno = EBADMSG;
        return nullptr;
    }
    struct CoAPMessage *msg = CoAPMessage((b0 >> 4) & 3, code, id);
    if (!msg)
        return nullptr;

    if (token_len > 0) {
        const uint8_t *token = r.bytes(token_len);
        if (!token)
            return fail(msg, EBADMSG);
        std::memcpy(msg->token, token, token_len);
        msg->token_len = token_len;
    }

    uint32_t number = 0;
    struct CoAPMessage_Option *last = nullptr;
    while (r.remaining() > 0) {
        uint8_t head;
        r.u8(&head);
        if (head == kPayloadMarker) {
            size_t n = r.remaining();
            if (n == 0)
                return fail(msg, EBADMSG);
            if (CoAPMessage_SetPayload(msg, r.bytes(n), n) != 0)
                return fail(msg, errno);
            break;
        }
        uint32_t delta, len;
        if (!read_nibble(r, head >> 4, &delta) || !read_nibble(r, head & 15, &len))
            return fail(msg, EBADMSG);
        // Numbers are held in 32 bits; a datagram cannot carry enough options
        // to wrap them, but refuse it rather than trust that.
        if (number > UINT32_MAX - delta)
            return fail(msg, EBADMSG);
        number += delta;
        const uint8_t *value = r.bytes(len);
        if (!value)
            return fail(msg, EBADMSG);
        struct CoAPMessage_Option *opt = CoAPMessage_Option(number, len ? value : nullptr, len);
        if (!opt)
            return fail(msg, errno);
        // Numbers only grow, so an earlier option of a single-valued number is
        // the previous one; the later value wins.
        if (last && last->number == number && !option_is_repeatable(number)) {
            option_list_unlink(&msg->options, last);
            CoAPMessage_OptionFree(last);
        }
        option_list_append(&msg->options, opt);
        last = opt;
    }
    return msg;
}

}  // extern "C"
