// Served resources: the list of paths with their method masks and handlers,
// and the core listing "/.well-known/core".
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "endpoint.h"
#include "message_internal.h"

namespace {

// Content-Format of the core listing: application/link-format.
constexpr uint32_t kLinkFormat = 40;
constexpr int kCodeContent = COAP_CODE(2, 5);
const char kCorePath[] = "/.well-known/core";

struct BufFree {
    void operator()(struct Buf *b) const { Buf_Free(b); }
};

}  // namespace

namespace mirel {

void free_resources(struct Mirel *ep)
{
    std::lock_guard<std::mutex> lock(ep->lock);
    MirelResource *r = ep->rt.resources;
    ep->rt.resources = nullptr;
    while (r) {
        MirelResource *next = r->next;
        Mem_free(r);
        r = next;
    }
}

int core_handler(struct Mirel *ep, struct CoAPMessage *, struct CoAPMessage *response)
{
    std::unique_ptr<struct Buf, BufFree> text(Buf());
    if (!text)
        return -1;
    {
        std::lock_guard<std::mutex> lock(ep->lock);
        bool first = true;
        for (const MirelResource *r = ep->rt.resources; r; r = r->next) {
            if (std::strcmp(r->path, kCorePath) == 0)
                continue;
            if (Buf_AddFormatStr(text.get(), first ? "<%s>" : ",<%s>", r->path) != 0)
                return -1;
            first = false;
        }
    }
    if (CoAPMessage_SetCode(response, kCodeContent) != 0 ||
        CoAPMessage_AddOptionUint(response, COAP_OPTION_CONTENT_FORMAT, kLinkFormat) != 0)
        return -1;
    if (text->len > 0 && CoAPMessage_SetPayload(response, text->data, text->len) != 0)
        return -1;
    return 0;
}

}  // namespace mirel

extern "C" {

int Mirel_AddRes(struct Mirel *ep, const char *path, uint32_t methods, Mirel_ResHandler handler)
{
    if (!ep || !path || methods == 0 || !handler) {
        errno = EINVAL;
        return -1;
    }
    auto *r = static_cast<MirelResource *>(Mem_calloc(1, sizeof(MirelResource)));
    if (!r)
        return -1;
    r->path = path;
    r->handler = handler;
    r->methods = methods;
    std::lock_guard<std::mutex> lock(ep->lock);
    r->next = ep->rt.resources;
    ep->rt.resources = r;
    return 0;
}

int Mirel_GetRes(struct Mirel *ep, const char *path, int method, Mirel_ResHandler *handler)
{
    if (handler)
        *handler = nullptr;
    if (!ep || !path || !handler || !mirel::code_is_request(method)) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(ep->lock);
    for (const MirelResource *r = ep->rt.resources; r; r = r->next) {
        if (std::strcmp(r->path, path) != 0)
            continue;
        if (!(r->methods & MIREL_METHOD(method))) {
            errno = ENOKEY;
            return -1;
        }
        *handler = r->handler;
        return 0;
    }
    errno = ENOENT;
    return -1;
}

int Mirel_RemRes(struct Mirel *ep, const char *path)
{
    if (!ep || !path) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(ep->lock);
    for (MirelResource **link = &ep->rt.resources; *link; link = &(*link)->next) {
        MirelResource *r = *link;
        if (std::strcmp(r->path, path) == 0) {
            *link = r->next;
            Mem_free(r);
            return 0;
        }
    }
    errno = ENOENT;
    return -1;
}

}  // extern "C"
