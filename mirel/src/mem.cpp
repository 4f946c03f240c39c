// Replaceable allocator table: everything the library hands out comes from here.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "message_internal.h"
#include "mirel_util.h"

namespace {

struct Allocator {
    void *(*calloc_fn)(size_t, size_t) = std::calloc;
    void *(*malloc_fn)(size_t) = std::malloc;
    void *(*realloc_fn)(void *, size_t) = std::realloc;
    void (*free_fn)(void *) = std::free;
    char *(*strdup_fn)(const char *) = ::strdup;
    char *(*strndup_fn)(const char *, size_t) = ::strndup;
};

Allocator g_alloc;

}  // namespace

namespace mirel {

char *mem_dup(std::string_view text)
{
    char *out = static_cast<char *>(Mem_malloc(text.size() + 1));
    if (!out) {
        errno = ENOMEM;
        return nullptr;
    }
    if (!text.empty())
        std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

void *mem_copy(const void *bytes, size_t size)
{
    void *out = Mem_malloc(size);
    if (!out) {
        errno = ENOMEM;
        return nullptr;
    }
    if (size)
        std::memcpy(out, bytes, size);
    return out;
}

}  // namespace mirel

extern "C" {

void *Mem_malloc(size_t size) { return g_alloc.malloc_fn(size); }
void *Mem_calloc(size_t count, size_t size) { return g_alloc.calloc_fn(count, size); }
void *Mem_realloc(void *block, size_t size) { return g_alloc.realloc_fn(block, size); }
void Mem_free(void *block) { g_alloc.free_fn(block); }
char *Mem_strdup(const char *text) { return g_alloc.strdup_fn(text); }
char *Mem_strndup(const char *text, size_t size) { return g_alloc.strndup_fn(text, size); }

void Mem_Setup(void *(*calloc_fn)(size_t, size_t), void *(*malloc_fn)(size_t),
               void *(*realloc_fn)(void *, size_t), void (*free_fn)(void *), char *(*strdup_fn)(const char *),
               char *(*strndup_fn)(const char *, size_t))
{
    g_alloc.calloc_fn = calloc_fn;
    g_alloc.malloc_fn = malloc_fn;
    g_alloc.realloc_fn = realloc_fn;
    g_alloc.free_fn = free_fn;
    g_alloc.strdup_fn = strdup_fn;
    g_alloc.strndup_fn = strndup_fn;
}

}  // extern "C"
