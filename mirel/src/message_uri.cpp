// The URI of a message: destination, secure flag, Uri-Host, Uri-Path and Uri-Query.
#include <netdb.h>
#include <netinet/in.h>

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

zmo_ip_sockaddr_t *as_zmo(struct sockaddr_storage *ss)
{
    return reinterpret_cast<zmo_ip_sockaddr_t *>(ss);
}

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

// Collects the values of one repeatable option.
template <typename F> int for_each_option(const struct CoAPMessage *msg, uint32_t number, F f)
{
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        if (o->number == number && f(o) != 0)
            return -1;
    }
    return 0;
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
    struct Uri_PathHead head {};
    if (Uri_PathParse(path, &head) != 0)
        return -1;
    CoAPMessage_RemoveOptions(msg, COAP_OPTION_URI_PATH);
    int rc = 0;
    for (struct Uri_PathEntry *e = head.first; e && rc == 0; e = e->next)
        rc = CoAPMessage_AddOptionString(msg, COAP_OPTION_URI_PATH, e->segment);
    int saved = errno;
    Uri_PathHeadFree(&head);
    errno = saved;
    return rc;
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
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    struct Uri_PathHead head {};
    bool any = false;
    int rc = for_each_option(msg, COAP_OPTION_URI_PATH, [&](const struct CoAPMessage_Option *o) {
        any = true;
        std::unique_ptr<char, void (*)(void *)> seg(
            mem_dup({reinterpret_cast<const char *>(o->value), o->length}), Mem_free);
        struct Uri_PathEntry *e = seg ? Uri_PathEntry(seg.get()) : nullptr;
        if (!e)
            return -1;
        if (!head.last)
            head.last = &head.first;
        *head.last = e;
        head.last = &e->next;
        return 0;
    });
    char *out = nullptr;
    if (rc == 0 && any)
        out = Uri_PathGen(&head);
    else if (rc == 0)
        errno = ENOENT;
    int saved = errno;
    Uri_PathHeadFree(&head);
    errno = saved;
    return out;
}

char *CoAPMessage_GetUriQuery(const struct CoAPMessage *msg)
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    struct Uri_QueryHead head {};
    bool any = false;
    int rc = for_each_option(msg, COAP_OPTION_URI_QUERY, [&](const struct CoAPMessage_Option *o) {
        any = true;
        std::string_view text(reinterpret_cast<const char *>(o->value), o->length);
        size_t eq = text.find('=');
        // "k=v" splits; "k=" keeps its "=" as an empty value so it comes back as "k=".
        std::unique_ptr<char, void (*)(void *)> key(
            mem_dup(text.substr(0, eq)), Mem_free);
        std::unique_ptr<char, void (*)(void *)> value(
            eq == std::string_view::npos ? nullptr : mem_dup(text.substr(eq + 1)), Mem_free);
        if (!key || (eq != std::string_view::npos && !value))
            return -1;
        struct Uri_QueryEntry *e = Uri_QueryEntry(key.get(), value.get());
        if (!e)
            return -1;
        if (!head.last)
            head.last = &head.first;
        *head.last = e;
        head.last = &e->next;
        return 0;
    });
    char *out = nullptr;
    if (rc == 0 && any)
        out = Uri_QueryGen(&head);
    else if (rc == 0)
        errno = ENOENT;
    int saved = errno;
    Uri_QueryHeadFree(&head);
    errno = saved;
    return out;
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
    std::unique_ptr<char, void (*)(void *)> host(
        CoAPMessage_GetOptionString(msg, COAP_OPTION_URI_HOST, nullptr), Mem_free);
    char numeric[ZMO_IP_ADDRSTRLEN];
    if (!host && !zmo_ip_sockaddr_ntop(as_zmo(&peer), numeric, sizeof numeric)) {
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

    std::unique_ptr<char, void (*)(void *)> path(CoAPMessage_GetUriPath(msg), Mem_free);
    if (!path && errno != ENOENT)
        return nullptr;
    std::unique_ptr<char, void (*)(void *)> query(CoAPMessage_GetUriQuery(msg), Mem_free);
    if (!query && errno != ENOENT)
        return nullptr;

    struct Uri uri {};
    uri.secure = static_cast<uint8_t>(secure);
    uri.port = static_cast<uint16_t>(port);
    uri.host = host ? host.get() : numeric;
    uri.path = path.get();
    uri.query = query.get();
    return Uri_Gen(&uri);
}

}  // extern "C"
