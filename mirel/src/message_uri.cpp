// The URI of a message: destination, secure flag, Uri-Host, Uri-Path and Uri-Query.
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "coap_uri.h"
#include "message_internal.h"
#include "zmo.h"

using namespace mirel;

namespace {

struct UriFree {
    void operator()(struct Uri *u) const { Uri_ParseFree(u); }
};

zmo_ip_sockaddr_t *as_zmo(struct sockaddr_storage *ss) { return reinterpret_cast<zmo_ip_sockaddr_t *>(ss); }

// Numeric host first (IPv4, then IPv6), else an IPv4 name lookup. A looked-up
// name is also carried as Uri-Host.
int set_destination(struct CoAPMessage *msg, const struct Uri &uri)
{
    struct sockaddr_storage ss {};
    ss.ss_family = AF_INET;
    zmo_ip_sockaddr_set_port(as_zmo(&ss), uri.port);
    if (!zmo_ip_sockaddr_pton(uri.host, as_zmo(&ss))) {
        ss = {};
        ss.ss_family = AF_INET6;
        zmo_ip_sockaddr_set_port(as_zmo(&ss), uri.port);
        if (!zmo_ip_sockaddr_pton(uri.host, as_zmo(&ss))) {
            struct addrinfo hints {};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_DGRAM;
            struct addrinfo *res = nullptr;
            if (getaddrinfo(uri.host, nullptr, &hints, &res) != 0 || !res) {
                errno = EADDRNOTAVAIL;
                return -1;
            }
            ss = {};
            std::memcpy(&ss, res->ai_addr, res->ai_addrlen);
            freeaddrinfo(res);
            zmo_ip_sockaddr_set_port(as_zmo(&ss), uri.port);
            if (CoAPMessage_AddOptionString(msg, COAP_OPTION_URI_HOST, uri.host) != 0)
                return -1;
        }
    }
    return CoAPMessage_SetSockAddr(msg, &ss);
}

// An option value as the C text that a copy of it would be: up to a NUL.
std::string_view c_text(std::string_view value)
{
    return value.substr(0, std::min(value.find('\0'), value.size()));
}
std::string_view c_text(const struct CoAPMessage_Option *o)
{
    return c_text(std::string_view(reinterpret_cast<const char *>(o->value), o->length));
}

// The text of a list made from every option of one number (path or query);
// ENOENT when the message has none.
template <typename Head, typename Make>
char *text_of_options(const struct CoAPMessage *msg, uint32_t number, Make make, char *(*gen)(const Head *),
                      void (*free_head)(Head *))
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    Head head{};
    bool any = false, ok = true;
    for (const struct CoAPMessage_Option *o = msg->options.first; o && ok; o = o->next) {
        if (o->number != number)
            continue;
        any = true;
        auto *e = make(std::string_view(reinterpret_cast<const char *>(o->value), o->length));
        if (e)
            list_append(&head, e);
        ok = e != nullptr;
    }
    char *out = nullptr;
    if (ok && any)
        out = gen(&head);
    else if (ok)
        errno = ENOENT;
    int saved = errno;
    free_head(&head);
    errno = saved;
    return out;
}

}  // namespace

extern "C" {

int CoAPMessage_SetUri(struct CoAPMessage *msg, const char *text, int parts)
{
    if (!msg || !text || !*text) {
        errno = EINVAL;
        return -1;
    }
    struct Uri uri;
    if (Uri_Parse(&uri, text) != 0)
        return -1;
    std::unique_ptr<struct Uri, UriFree> hold(&uri);
    if (parts == 0)
        parts = COAP_URI_SECURE | COAP_URI_ADDRESS | COAP_URI_PATH | COAP_URI_QUERY;

    if ((parts & COAP_URI_SECURE) && CoAPMessage_SetSecure(msg, uri.secure) != 0)
        return -1;
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_HOST);
    if ((parts & COAP_URI_ADDRESS) && set_destination(msg, uri) != 0)
        return -1;
    if (parts & COAP_URI_PATH) {
        if (!uri.path)
            CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_PATH);
        else if (CoAPMessage_SetUriPath(msg, uri.path) != 0)
            return -1;
    }
    if (parts & COAP_URI_QUERY) {
        if (!uri.query)
            CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_QUERY);
        else if (CoAPMessage_SetUriQuery(msg, uri.query) != 0)
            return -1;
    }
    return 0;
}

int CoAPMessage_SetUriPath(struct CoAPMessage *msg, const char *path)
{
    if (!msg) {
        errno = EINVAL;
        return -1;
    }
    // Every opened sealed request sets its path: the segments go straight
    // into options, once the whole path has been found good.
    auto check = [](void *, const char *) { return 0; };
    auto add = [](void *m, const char *segment) {
        return CoAPMessage_AddOptionString(static_cast<struct CoAPMessage *>(m), COAP_OPTION_URI_PATH,
                                           segment);
    };
    if (uri_path_each(path, check, nullptr) != 0)
        return -1;
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_PATH);
    return uri_path_each(path, add, msg);
}

int CoAPMessage_SetUriQuery(struct CoAPMessage *msg, const char *query)
{
    if (!msg) {
        errno = EINVAL;
        return -1;
    }
    struct Uri_QueryHead head {};
    if (Uri_QueryParse(query, &head, 0) != 0)
        return -1;
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_QUERY);
    int rc = 0;
    for (struct Uri_QueryEntry *e = head.first; e && rc == 0; e = e->next)
        rc = CoAPMessage_AddOptionString(msg, COAP_OPTION_URI_QUERY, e->key);
    int saved = errno;
    Uri_QueryHeadFree(&head);
    errno = saved;
    return rc;
}

char *CoAPMessage_GetUriPath(const struct CoAPMessage *msg)
{
    return text_of_options<struct Uri_PathHead>(
        msg, COAP_OPTION_URI_PATH,
        [](std::string_view value) {
            MemStr seg(mem_dup(value));
            return seg ? Uri_PathEntry(seg.get()) : nullptr;
        },
        Uri_PathGen, Uri_PathHeadFree);
}

char *CoAPMessage_GetUriQuery(const struct CoAPMessage *msg)
{
    return text_of_options<struct Uri_QueryHead>(
        msg, COAP_OPTION_URI_QUERY, [](std::string_view value) -> struct Uri_QueryEntry * {
            // "k=v" splits; "k=" keeps its "=" as an empty value and comes back as "k=".
            size_t eq = value.find('=');
            MemStr key(mem_dup(value.substr(0, eq)));
            MemStr val(eq == std::string_view::npos ? nullptr : mem_dup(value.substr(eq + 1)));
            if (!key || (eq != std::string_view::npos && !val))
                return nullptr;
            return Uri_QueryEntry(key.get(), val.get());
        },
        Uri_QueryGen, Uri_QueryHeadFree);
}

char *CoAPMessage_GetUri(const struct CoAPMessage *msg)
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    struct sockaddr_storage peer;
    if (CoAPMessage_GetSockAddr(msg, &peer) != 0)
        return nullptr;

    int secure = 0;
    if (CoAPMessage_GetSecure(msg, &secure) != 0)
        return nullptr;
    MemStr host(CoAPMessage_GetOptionString(msg, COAP_OPTION_URI_HOST, nullptr));
    char numeric[ZMO_IP_ADDRSTRLEN];
    if (!host && !mirel::address_text(peer, numeric)) {
        errno = EINVAL;
        return nullptr;
    }
    uint32_t port = zmo_ip_sockaddr_port(as_zmo(&peer));
    if (CoAPMessage_GetOptionUint(msg, COAP_OPTION_URI_PORT, &port) != 0 && errno != ENOENT)
        return nullptr;
    if (port > 65535) {
        errno = EINVAL;
        return nullptr;
    }

    const char *h = host ? host.get() : numeric;
    if (!*h) {
        errno = EINVAL;
        return nullptr;
    }
    // Built in one piece: every sealed message makes its URI text, and the
    // path and query lists of Uri_PathGen and Uri_QueryGen cost an allocation
    // per segment. The same text, from the same encoder.
    try {
        std::string out = secure ? "coaps://" : "coap://";
        out += h;
        if (port != COAP_DEFAULT_PORT)
            out += ":" + std::to_string(port);
        for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
            if (o->number != COAP_OPTION_URI_PATH)
                continue;
            out += '/';
            uri_encode_into(out, c_text(o));
        }
        bool first = true;
        for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
            if (o->number != COAP_OPTION_URI_QUERY)
                continue;
            // "k=v" splits; "k=" keeps its "=" with an empty value.
            std::string_view value(reinterpret_cast<const char *>(o->value), o->length);
            size_t eq = value.find('=');
            out += first ? '?' : '&';
            first = false;
            uri_encode_into(out, c_text(value.substr(0, eq)));
            if (eq != std::string_view::npos) {
                out += '=';
                uri_encode_into(out, c_text(value.substr(eq + 1)));
            }
        }
        return mem_dup(out);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

}  // extern "C"
