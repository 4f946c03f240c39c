// Code, option and type names, and the multi-line text of a message.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "message_internal.h"

namespace {

struct CodeName {
    uint8_t code;
    const char *name;
};

const CodeName kCodeNames[] = {
    {0, "Empty"},
    {1, "Get"},
    {2, "Post"},
    {3, "Put"},
    {4, "Delete"},
    {65, "Created"},
    {66, "Deleted"},
    {67, "Valid"},
    {68, "Changed"},
    {69, "Content"},
    {95, "Continue"},
    {128, "Bad request"},
    {129, "Unauthorized"},
    {130, "Bad option"},
    {131, "Forbidden"},
    {132, "Not Found"},
    {133, "Method not allowed"},
    {134, "Not acceptable"},
    {136, "Request entity incomplete"},
    {140, "Precondition failed"},
    {141, "Request entity too large"},
    {143, "Unsupported content format"},
    {160, "Internal server error"},
    {161, "Not implemented"},
    {162, "Bad gateway"},
    {163, "Service unavailable"},
    {164, "Gateway timeout"},
    {165, "Proxying not supported"},
};

struct OptionName {
    uint32_t number;
    const char *name;
};

const OptionName kOptionNames[] = {
    {1, "If-Match"},
    {3, "Uri-Host"},
    {4, "ETag"},
    {5, "If-None-Match"},
    {6, "Observe"},
    {7, "Uri-Port"},
    {8, "Location-Path"},
    {11, "Uri-Path"},
    {12, "Content-Format"},
    {14, "Max-Age"},
    {15, "Uri-Query"},
    {17, "Accept"},
    {20, "Location-Query"},
    {23, "Block2"},
    {27, "Block1"},
    {28, "Size2"},
    {35, "Proxy-Uri"},
    {39, "Proxy-Scheme"},
    {60, "Size1"},
    {2111, "Uri-Scheme"},
    {3001, "Selective-Repeat-Window-Size"},
    {3999, "Handshake-Type"},
    {4001, "Session-Not-Found"},
    {4003, "Session-Expired"},
    {4005, "Coaps-Uri"},
};

const char *const kTypeNames[] = {"CON", "NON", "ACK", "RST"};

const char *code_name(int code)
{
    for (const auto &row : kCodeNames) {
        if (row.code == code)
            return row.name;
    }
    return nullptr;
}

}  // namespace

namespace mirel {

int add_quoted_or_hex(struct Buf *buf, const uint8_t *bytes, uint32_t len, bool trailing_blank)
{
    if (Str_ArrIsPrintable(bytes, len))
        return Buf_AddFormatStr(buf, "\"%.*s\"", static_cast<int>(len), bytes);
    if (len == 0)
        return 0;
    // Built apart and appended once: the buffer reallocates on every append.
    std::string hex;
    try {
        hex.reserve(3 * static_cast<size_t>(len));
        for (uint32_t i = 0; i < len; i++) {
            hex += Str_Hex2Char(bytes[i] >> 4);
            hex += Str_Hex2Char(bytes[i] & 15);
            if (trailing_blank || i + 1 < len)
                hex += ' ';
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    return Buf_Add(buf, hex.data(), hex.size());
}

}  // namespace mirel

extern "C" {

char *CoAPMessage_CodeStr(int code, char *buffer, size_t size, int mode)
{
    if (!buffer || size == 0) {
        errno = EINVAL;
        return nullptr;
    }
    code &= 0xFF;
    char text[8];
    std::snprintf(text, sizeof text, "%u.%02u", static_cast<unsigned>(code >> 5),
                  static_cast<unsigned>(code & 31));
    const char *name = code_name(code);
    if (mode == COAP_CODESTR_NAME && name)
        std::snprintf(buffer, size, "%s", name);
    else if (mode == COAP_CODESTR_BOTH && name)
        std::snprintf(buffer, size, "%s (%s)", text, name);
    else
        std::snprintf(buffer, size, "%s", text);
    return buffer;
}

char *CoAPMessage_GetCodeStr(const struct CoAPMessage *msg, char *buffer, size_t size)
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    return CoAPMessage_CodeStr(msg->code, buffer, size, COAP_CODESTR_BOTH);
}

char *CoAPMessage_OptionCodeStr(uint32_t number, char *buffer, size_t size)
{
    if (!buffer || size == 0) {
        errno = EINVAL;
        return nullptr;
    }
    for (const auto &row : kOptionNames) {
        if (row.number == number) {
            std::snprintf(buffer, size, "%s", row.name);
            return buffer;
        }
    }
    std::snprintf(buffer, size, "0x%x", number);
    return buffer;
}

const char *CoAPMessage_GetTypeStr(const struct CoAPMessage *msg)
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    return msg->type < 4 ? kTypeNames[msg->type] : "???";
}

int CoAPMessage_ToBuf(const struct CoAPMessage *msg, struct Buf *buf)
{
    if (!msg || !buf) {
        errno = EINVAL;
        return -1;
    }
    char code[48];
    CoAPMessage_GetCodeStr(msg, code, sizeof code);
    if (Buf_AddFormatStr(buf, "%s %s [id%hu]\n", CoAPMessage_GetTypeStr(msg), code, msg->id) != 0)
        return -1;
    if (msg->token_len > 0 &&
        (Buf_AddStr(buf, "Token: ") != 0 ||
         mirel::add_quoted_or_hex(buf, msg->token, msg->token_len, true) != 0 || Buf_AddCh(buf, '\n') != 0))
        return -1;
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        if (Buf_AddFormatStr(buf, "Code %d: ", static_cast<int>(o->number)) != 0)
            return -1;
        int rc = o->length == 0 ? Buf_AddStr(buf, "empty")
                                : mirel::add_quoted_or_hex(buf, o->value, o->length, true);
        if (rc != 0 || Buf_AddCh(buf, '\n') != 0)
            return -1;
    }
    if (msg->payload_len > 0 && (Buf_AddStr(buf, "Payload: ") != 0 ||
                                 mirel::add_quoted_or_hex(buf, msg->payload, msg->payload_len, true) != 0 ||
                                 Buf_AddCh(buf, '\n') != 0))
        return -1;
    return Buf_AddCh(buf, 0);
}

int CoAPMessage_Print(const struct CoAPMessage *msg, FILE *stream)
{
    if (!msg || !stream) {
        errno = EINVAL;
        return -1;
    }
    struct Buf *buf = Buf();
    if (!buf)
        return -1;
    int rc = CoAPMessage_ToBuf(msg, buf);
    if (rc == 0)
        std::fputs(reinterpret_cast<const char *>(buf->data), stream);
    int saved = errno;
    Buf_Free(buf);
    errno = saved;
    return rc;
}

}  // extern "C"
