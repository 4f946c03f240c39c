// Option list of a message and its typed accessors.
#include <cerrno>
#include <cstring>

#include "message_internal.h"

namespace mirel {

void option_list_append(CoAPMessage_OptionList *list, struct CoAPMessage_Option *opt)
{
    if (!list->last)
        list->last = &list->first;
    opt->next = nullptr;
    opt->prev = list->last;
    *list->last = opt;
    list->last = &opt->next;
}

void option_list_unlink(CoAPMessage_OptionList *list, struct CoAPMessage_Option *opt)
{
    if (opt->next)
        opt->next->prev = opt->prev;
    else
        list->last = opt->prev;
    *opt->prev = opt->next;
    opt->next = nullptr;
    opt->prev = nullptr;
}

namespace {

// Merges two sorted runs; on equal numbers the left run goes first (stable).
// *tail receives the last element.
struct CoAPMessage_Option *merge(struct CoAPMessage_Option *a, struct CoAPMessage_Option *b,
                                 struct CoAPMessage_Option **tail)
{
    struct CoAPMessage_Option *head = nullptr;
    struct CoAPMessage_Option **link = &head;
    struct CoAPMessage_Option *last = nullptr;
    while (a && b) {
        struct CoAPMessage_Option **pick = b->number < a->number ? &b : &a;
        last = *pick;
        *pick = last->next;
        *link = last;
        link = &last->next;
    }
    *link = a ? a : b;
    while (*link) {
        last = *link;
        link = &last->next;
    }
    *tail = last;
    return head;
}

// Cuts the first n elements off *list and returns them.
struct CoAPMessage_Option *take(struct CoAPMessage_Option **list, size_t n)
{
    struct CoAPMessage_Option *head = *list;
    struct CoAPMessage_Option **link = list;
    while (n-- && *link)
        link = &(*link)->next;
    *list = *link;
    *link = nullptr;
    return head;
}

}  // namespace

void option_list_sort(CoAPMessage_OptionList *list)
{
    // A sorted list is left untouched: a pooled message is encoded again on
    // every retransmission while other threads read its options.
    bool sorted = true;
    for (const struct CoAPMessage_Option *o = list->first; o && o->next && sorted; o = o->next)
        sorted = o->number <= o->next->number;
    if (sorted)
        return;
    // Bottom-up merge sort: runs of 1, 2, 4 ... merged pass by pass.
    for (size_t run = 1;; run *= 2) {
        struct CoAPMessage_Option *rest = list->first;
        struct CoAPMessage_Option *out = nullptr;
        struct CoAPMessage_Option **out_link = &out;
        size_t merges = 0;
        while (rest) {
            struct CoAPMessage_Option *a = take(&rest, run);
            struct CoAPMessage_Option *b = take(&rest, run);
            struct CoAPMessage_Option *tail;
            *out_link = merge(a, b, &tail);
            out_link = &tail->next;
            merges++;
        }
        list->first = out;
        if (merges <= 1)
            break;
    }
    // Restore the back links and the tail.
    struct CoAPMessage_Option **prev = &list->first;
    for (struct CoAPMessage_Option *o = list->first; o; o = o->next) {
        o->prev = prev;
        prev = &o->next;
    }
    list->last = prev;
}

const struct CoAPMessage_Option *option_find(const struct CoAPMessage *msg, uint32_t number)
{
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        if (o->number == number)
            return o;
    }
    return nullptr;
}

bool option_is_repeatable(uint32_t number)
{
    switch (number) {
    case COAP_OPTION_IF_MATCH:
    case COAP_OPTION_ETAG:
    case COAP_OPTION_LOCATION_PATH:
    case COAP_OPTION_URI_PATH:
    case COAP_OPTION_URI_QUERY:
    case COAP_OPTION_LOCATION_QUERY:
        return true;
    default:
        return false;
    }
}

}  // namespace mirel

using namespace mirel;

namespace {

int remove_all(struct CoAPMessage *msg, uint32_t number)
{
    int removed = 0;
    struct CoAPMessage_Option *o = msg->options.first;
    while (o) {
        struct CoAPMessage_Option *next = o->next;
        if (o->number == number) {
            option_list_unlink(&msg->options, o);
            CoAPMessage_OptionFree(o);
            removed++;
        }
        o = next;
    }
    return removed;
}

// First option of a number; null with EINVAL or ENOENT.
const struct CoAPMessage_Option *first_option(const struct CoAPMessage *msg, uint32_t number)
{
    if (!msg) {
        errno = EINVAL;
        return nullptr;
    }
    const struct CoAPMessage_Option *o = option_find(msg, number);
    if (!o)
        errno = ENOENT;
    return o;
}

// Shortest big-endian form; 0 is empty.
size_t uint_encode(uint32_t value, uint8_t out[4])
{
    size_t n = value == 0 ? 0 : value < 0x100 ? 1 : value < 0x10000 ? 2 : value < 0x1000000 ? 3 : 4;
    for (size_t i = 0; i < n; i++)
        out[i] = static_cast<uint8_t>(value >> (8 * (n - 1 - i)));
    return n;
}

}  // namespace

extern "C" {

struct CoAPMessage_Option *CoAPMessage_Option(uint32_t number, const void *value, size_t length)
{
    if ((!value && length > 0) || length > UINT32_MAX) {
        errno = EINVAL;
        return nullptr;
    }
    auto *opt = static_cast<struct CoAPMessage_Option *>(Mem_calloc(1, sizeof(struct CoAPMessage_Option)));
    if (!opt)
        return nullptr;
    opt->number = number;
    if (length > 0) {
        opt->value = static_cast<uint8_t *>(mem_copy(value, length));
        if (!opt->value) {
            Mem_free(opt);
            return nullptr;
        }
        opt->length = static_cast<uint32_t>(length);
    }
    return opt;
}

struct CoAPMessage_Option *CoAPMessage_OptionDup(const struct CoAPMessage_Option *option)
{
    if (!option) {
        errno = EINVAL;
        return nullptr;
    }
    return CoAPMessage_Option(option->number, option->value, option->length);
}

void CoAPMessage_OptionFree(struct CoAPMessage_Option *option)
{
    if (!option)
        return;
    Mem_free(option->value);
    Mem_free(option);
}

int CoAPMessage_AddOptionOpaque(struct CoAPMessage *msg, uint32_t number, const void *value, size_t length)
{
    if (!msg) {
        errno = EINVAL;
        return -1;
    }
    struct CoAPMessage_Option *opt = CoAPMessage_Option(number, value, length);
    if (!opt)
        return -1;
    // The newest value of a single-valued option wins.
    if (!option_is_repeatable(number))
        remove_all(msg, number);
    option_list_append(&msg->options, opt);
    return 0;
}

int CoAPMessage_AddOptionString(struct CoAPMessage *msg, uint32_t number, const char *text)
{
    if (!text) {
        errno = EINVAL;
        return -1;
    }
    return CoAPMessage_AddOptionOpaque(msg, number, text, std::strlen(text));
}

int CoAPMessage_AddOptionEmpty(struct CoAPMessage *msg, uint32_t number)
{
    return CoAPMessage_AddOptionOpaque(msg, number, nullptr, 0);
}

int CoAPMessage_AddOptionUint(struct CoAPMessage *msg, uint32_t number, uint32_t value)
{
    uint8_t bytes[4];
    size_t n = uint_encode(value, bytes);
    return CoAPMessage_AddOptionOpaque(msg, number, n ? bytes : nullptr, n);
}

int CoAPMessage_AddOptionBlock(struct CoAPMessage *msg, uint32_t number,
                               const struct CoAPMessage_Block *block)
{
    if (!msg || !block || block->szx > 7 || block->num > 0xFFFFF) {
        errno = EINVAL;
        return -1;
    }
    remove_all(msg, number);
    uint32_t v = block->num << 4 | (block->more ? 1u : 0u) << 3 | block->szx;
    return CoAPMessage_AddOptionUint(msg, number, v);
}

const uint8_t *CoAPMessage_GetOptionOpaque(const struct CoAPMessage *msg, uint32_t number, uint32_t *length)
{
    const struct CoAPMessage_Option *o = first_option(msg, number);
    if (!o)
        return nullptr;
    if (length)
        *length = o->length;
    if (o->length == 0) {
        errno = ENODATA;
        return nullptr;
    }
    return o->value;
}

char *CoAPMessage_GetOptionString(const struct CoAPMessage *msg, uint32_t number, uint32_t *length)
{
    const struct CoAPMessage_Option *o = first_option(msg, number);
    if (!o)
        return nullptr;
    if (length)
        *length = o->length;
    if (o->length == 0)
        return Mem_strdup("");
    return Mem_strndup(reinterpret_cast<const char *>(o->value), o->length);
}

int CoAPMessage_GetOptionUint(const struct CoAPMessage *msg, uint32_t number, uint32_t *value)
{
    if (!value) {
        errno = EINVAL;
        return -1;
    }
    const struct CoAPMessage_Option *o = first_option(msg, number);
    if (!o)
        return -1;
    if (o->length > 4) {
        errno = EBADMSG;
        return -1;
    }
    uint32_t v = 0;
    for (uint32_t i = 0; i < o->length; i++)
        v = v << 8 | o->value[i];
    *value = v;
    return 0;
}

int CoAPMessage_GetOptionBlock(const struct CoAPMessage *msg, uint32_t number,
                               struct CoAPMessage_Block *block)
{
    if (!block) {
        errno = EINVAL;
        return -1;
    }
    uint32_t v;
    if (CoAPMessage_GetOptionUint(msg, number, &v) != 0)
        return -1;
    block->num = v >> 4;
    block->more = (v >> 3) & 1;
    block->szx = v & 7;
    return 0;
}

int CoAPMessage_GetOptions(const struct CoAPMessage *msg, uint32_t number,
                           struct CoAPMessage_OptionList *list)
{
    if (!msg || !list) {
        errno = EINVAL;
        return -1;
    }
    int found = 0;
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        if (o->number != number)
            continue;
        struct CoAPMessage_Option *dup = CoAPMessage_OptionDup(o);
        if (!dup) {
            int saved = errno;
            CoAPMessage_GetOptionsFree(list);
            errno = saved;
            return -1;
        }
        option_list_append(list, dup);
        found++;
    }
    if (!found) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

void CoAPMessage_GetOptionsFree(struct CoAPMessage_OptionList *list)
{
    if (!list)
        return;
    struct CoAPMessage_Option *o = list->first;
    while (o) {
        struct CoAPMessage_Option *next = o->next;
        CoAPMessage_OptionFree(o);
        o = next;
    }
    list->first = nullptr;
    list->last = &list->first;
}

int CoAPMessage_RemoveOptions(struct CoAPMessage *msg, uint32_t number)
{
    if (!msg) {
        errno = EINVAL;
        return -1;
    }
    if (remove_all(msg, number) == 0) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

int CoAPMessage_CopyOption(struct CoAPMessage *dst, const struct CoAPMessage *src, uint32_t number)
{
    if (!dst) {
        errno = EINVAL;
        return -1;
    }
    const struct CoAPMessage_Option *o = first_option(src, number);
    if (!o)
        return -1;
    return CoAPMessage_AddOptionOpaque(dst, number, o->value, o->length);
}

int CoAPMessage_IterOptions(const struct CoAPMessage *msg, CoAPMessage_OptionCallback callback, void *context)
{
    if (!msg || !callback) {
        errno = EINVAL;
        return -1;
    }
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next) {
        int rc = callback(o->number, o->value, o->length, o->next == nullptr, context);
        if (rc < 1)
            return rc;
    }
    return 1;
}

int CoAPMessage_SetSecure(struct CoAPMessage *msg, int flag)
{
    if (!msg) {
        errno = EINVAL;
        return -1;
    }
    // Every opened message is set secure again: when its one option says
    // so already, there is nothing to free and allocate.
    int ones = 0, others = 0;
    for (const struct CoAPMessage_Option *o = msg->options.first; o; o = o->next)
        if (o->number == COAP_OPTION_URI_SCHEME)
            (o->length == 1 && o->value[0] == 1 ? ones : others)++;
    if (flag && ones == 1 && others == 0)
        return 0;
    remove_all(msg, COAP_OPTION_URI_SCHEME);
    return flag ? CoAPMessage_AddOptionUint(msg, COAP_OPTION_URI_SCHEME, 1) : 0;
}

int CoAPMessage_GetSecure(const struct CoAPMessage *msg, int *flag)
{
    if (!msg || !flag) {
        errno = EINVAL;
        return -1;
    }
    uint32_t v;
    if (CoAPMessage_GetOptionUint(msg, COAP_OPTION_URI_SCHEME, &v) != 0) {
        if (errno != ENOENT)
            return -1;
        v = 0;
    }
    *flag = v > 0;
    return 0;
}

}  // extern "C"
