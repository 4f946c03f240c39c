// URI texts: parsing, generation, percent coding, query and path lists.
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "coap_uri.h"
#include "message_internal.h"

using mirel::list_append;
using mirel::mem_dup;

namespace {

bool is_unreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

namespace mirel {

void uri_encode_into(std::string &out, std::string_view text)
{
    for (unsigned char c : text) {
        if (is_unreserved(c)) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

}  // namespace mirel

namespace {

using mirel::uri_encode_into;

// Decoded span; false on a bad escape.
bool decode_into(std::string &out, std::string_view span)
{
    for (size_t i = 0; i < span.size(); i++) {
        char c = span[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= span.size())
                return false;
            int hi = Str_Char2Hex(static_cast<unsigned char>(span[i + 1]));
            int lo = Str_Char2Hex(static_cast<unsigned char>(span[i + 2]));
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi << 4 | lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

char *decode_dup(std::string_view span)
{
    try {
        std::string out;
        if (!decode_into(out, span)) {
            errno = EBADMSG;
            return nullptr;
        }
        return mem_dup(out);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

char *string_result(const std::string &s) { return mem_dup(s); }

}  // namespace

namespace mirel {

int uri_path_each(const char *text, int (*segment)(void *context, const char *decoded), void *context)
{
    if (!text || !segment || text[0] != '/' || text[1] == '\0') {
        errno = EINVAL;
        return -1;
    }
    try {
        // Short segments decode within the string itself, without an
        // allocation.
        std::string decoded;
        std::string_view rest(text + 1);
        while (!rest.empty()) {
            size_t slash = rest.find('/');
            std::string_view seg = rest.substr(0, slash);
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
            if (seg.empty())
                continue;
            decoded.clear();
            if (!decode_into(decoded, seg)) {
                errno = EBADMSG;
                return -1;
            }
            if (int rc = segment(context, decoded.c_str()))
                return rc;
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

}  // namespace mirel

extern "C" {

// Equivalent of the expression
//   ^coap(s)?://([^:/?#]+)(:[0-9]{1,5})?(/[^?#]+)?/?(\?[^#]+)?(#.+)?$
// read left to right: every group takes the longest run it can, as POSIX
// matching does, and no later group can start inside an earlier one.
int Uri_Parse(struct Uri *record, const char *text)
{
    if (!record || !text || !*text) {
        errno = EINVAL;
        return -1;
    }
    std::memset(record, 0, sizeof *record);
    std::string_view s(text);
    const size_t n = s.size();
    auto bad = [] {
        errno = EBADE;
        return -1;
    };
    if (s.substr(0, 4) != "coap")
        return bad();
    size_t i = 4;
    bool secure = i < n && s[i] == 's';
    if (secure)
        i++;
    if (s.substr(i, 3) != "://")
        return bad();
    i += 3;

    size_t host_at = i;
    while (i < n && !std::strchr(":/?#", s[i]))
        i++;
    if (i == host_at)
        return bad();
    std::string_view host = s.substr(host_at, i - host_at);

    unsigned long port = COAP_DEFAULT_PORT;
    if (i < n && s[i] == ':') {
        size_t at = ++i;
        while (i < n && is_digit(s[i]))
            i++;
        if (i == at || i - at > 5)
            return bad();
        port = std::stoul(std::string(s.substr(at, i - at)));
        if (port > 65535)
            return bad();
    }

    std::string_view path;
    if (i < n && s[i] == '/') {
        size_t end = i + 1;
        while (end < n && s[end] != '?' && s[end] != '#')
            end++;
        if (end > i + 1) {
            path = s.substr(i, end - i);
            if (path.back() == '/')
                path.remove_suffix(1);
        }
        i = end;
    }

    std::string_view query;
    if (i < n && s[i] == '?') {
        size_t end = i + 1;
        while (end < n && s[end] != '#')
            end++;
        if (end == i + 1)
            return bad();
        query = s.substr(i, end - i);
        i = end;
    }

    if (i < n && s[i] == '#') {
        if (i + 1 == n)
            return bad();
        i = n;  // the fragment is dropped
    }
    if (i != n)
        return bad();

    record->secure = secure;
    record->port = static_cast<uint16_t>(port);
    record->host = mem_dup(host);
    record->path = path.empty() ? nullptr : mem_dup(path);
    record->query = query.empty() ? nullptr : mem_dup(query);
    if (!record->host || (!path.empty() && !record->path) || (!query.empty() && !record->query)) {
        Uri_ParseFree(record);
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

void Uri_ParseFree(struct Uri *record)
{
    if (!record)
        return;
    Mem_free(record->host);
    Mem_free(record->path);
    Mem_free(record->query);
    record->host = record->path = record->query = nullptr;
}

char *Uri_Gen(const struct Uri *record)
{
    if (!record || !record->host || !*record->host || (record->path && record->path[0] != '/') ||
        (record->query && record->query[0] != '?')) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        std::string out = record->secure ? "coaps://" : "coap://";
        out += record->host;
        if (record->port != COAP_DEFAULT_PORT)
            out += ":" + std::to_string(record->port);
        if (record->path)
            out += record->path;
        if (record->query)
            out += record->query;
        return string_result(out);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

struct Uri_QueryEntry *Uri_QueryEntry(const char *key, const char *value)
{
    if (!key) {
        errno = EINVAL;
        return nullptr;
    }
    auto *e = static_cast<struct Uri_QueryEntry *>(Mem_calloc(1, sizeof(struct Uri_QueryEntry)));
    if (!e)
        return nullptr;
    e->key = Mem_strdup(key);
    e->value = value ? Mem_strdup(value) : nullptr;
    if (!e->key || (value && !e->value)) {
        Uri_QueryEntryFree(e);
        errno = ENOMEM;
        return nullptr;
    }
    return e;
}

void Uri_QueryEntryFree(struct Uri_QueryEntry *entry)
{
    if (!entry)
        return;
    Mem_free(entry->key);
    Mem_free(entry->value);
    Mem_free(entry);
}

void Uri_QueryHeadFree(struct Uri_QueryHead *head)
{
    if (!head)
        return;
    for (struct Uri_QueryEntry *e = head->first; e;) {
        struct Uri_QueryEntry *next = e->next;
        Uri_QueryEntryFree(e);
        e = next;
    }
    head->first = nullptr;
    head->last = &head->first;
}

struct Uri_PathEntry *Uri_PathEntry(const char *segment)
{
    if (!segment) {
        errno = EINVAL;
        return nullptr;
    }
    auto *e = static_cast<struct Uri_PathEntry *>(Mem_calloc(1, sizeof(struct Uri_PathEntry)));
    if (!e)
        return nullptr;
    e->segment = Mem_strdup(segment);
    if (!e->segment) {
        Mem_free(e);
        errno = ENOMEM;
        return nullptr;
    }
    return e;
}

void Uri_PathEntryFree(struct Uri_PathEntry *entry)
{
    if (!entry)
        return;
    Mem_free(entry->segment);
    Mem_free(entry);
}

void Uri_PathHeadFree(struct Uri_PathHead *head)
{
    if (!head)
        return;
    for (struct Uri_PathEntry *e = head->first; e;) {
        struct Uri_PathEntry *next = e->next;
        Uri_PathEntryFree(e);
        e = next;
    }
    head->first = nullptr;
    head->last = &head->first;
}

int Uri_QueryParse(const char *text, struct Uri_QueryHead *head, int split)
{
    if (!text || !head || text[0] != '?' || text[1] == '\0') {
        errno = EINVAL;
        return -1;
    }
    std::string_view rest(text + 1);
    while (!rest.empty()) {
        size_t amp = rest.find('&');
        std::string_view seg = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        if (seg.empty())
            continue;
        std::string_view key = seg, value;
        bool has_value = false;
        if (split) {
            size_t eq = seg.find('=');
            if (eq != std::string_view::npos) {
                key = seg.substr(0, eq);
                value = seg.substr(eq + 1);
                has_value = !value.empty();
            }
        }
        // An empty key ("=x") stays empty rather than swallowing the rest.
        char *k = decode_dup(key);
        char *v = has_value ? decode_dup(value) : nullptr;
        struct Uri_QueryEntry *e = nullptr;
        if (k && (!has_value || v))
            e = Uri_QueryEntry(k, v);
        int saved = errno;
        Mem_free(k);
        Mem_free(v);
        if (!e) {
            Uri_QueryHeadFree(head);
            errno = saved;
            return -1;
        }
        list_append(head, e);
    }
    return 0;
}

int Uri_PathParse(const char *text, struct Uri_PathHead *head)
{
    if (!head) {
        errno = EINVAL;
        return -1;
    }
    int rc = mirel::uri_path_each(
        text,
        [](void *context, const char *segment) {
            struct Uri_PathEntry *e = Uri_PathEntry(segment);
            if (!e)
                return -1;
            list_append(static_cast<struct Uri_PathHead *>(context), e);
            return 0;
        },
        head);
    if (rc != 0) {
        int saved = errno;
        Uri_PathHeadFree(head);
        errno = saved;
    }
    return rc;
}

char *Uri_QueryGen(const struct Uri_QueryHead *head)
{
    if (!head) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        std::string out = "?";
        for (const struct Uri_QueryEntry *e = head->first; e; e = e->next) {
            if (!e->key) {
                errno = EINVAL;
                return nullptr;
            }
            if (e != head->first)
                out += '&';
            uri_encode_into(out, e->key);
            if (e->value) {
                out += '=';
                uri_encode_into(out, e->value);
            }
        }
        return string_result(out);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

char *Uri_PathGen(const struct Uri_PathHead *head)
{
    if (!head) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        std::string out;
        for (const struct Uri_PathEntry *e = head->first; e; e = e->next) {
            out += '/';
            uri_encode_into(out, e->segment ? e->segment : "");
        }
        return string_result(out);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

char *Uri_StrEncode(const char *text)
{
    if (!text || !*text) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        std::string out;
        uri_encode_into(out, text);
        return string_result(out);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

char *Uri_StrDecode(const char *text, size_t length)
{
    if (!text || !*text) {
        errno = EINVAL;
        return nullptr;
    }
    size_t n = std::strlen(text);
    if (length > n) {
        errno = EINVAL;
        return nullptr;
    }
    return decode_dup(std::string_view(text, length ? length : n));
}

}  // extern "C"
