// Error record of the layer handlers.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "message_internal.h"
#include "mirel_util.h"

namespace mirel {

namespace {
// strerror_r comes in two flavours; take whichever the C library has.
[[maybe_unused]] const char *pick(int rc, const char *buf) { return rc == 0 ? buf : "Unknown error"; }
[[maybe_unused]] const char *pick(const char *text, const char *) { return text; }
}  // namespace

const char *errno_text(int code, char *buf, size_t size)
{
    buf[0] = '\0';
    return pick(strerror_r(code, buf, size), buf);
}

}  // namespace mirel

extern "C" {

void Err_Init(struct Err *err, const char *name)
{
    if (!err)
        return;
    err->code = -1;
    err->text[0] = '\0';
    err->name[0] = '\0';
    // Every layer does this for every message: a plain bounded copy.
    if (name) {
        size_t n = strnlen(name, sizeof err->name - 1);
        std::memcpy(err->name, name, n);
        err->name[n] = '\0';
    }
}

void Err_Set(struct Err *err, int code, const char *format, ...)
{
    int saved = errno;
    if (!err || !format || !*format)
        return;
    err->code = code;
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(err->text, sizeof err->text, format, ap);
    va_end(ap);
    size_t len = std::strlen(err->text);
    if (len > 0 && err->text[len - 1] == ':') {
        char buf[100];
        std::snprintf(err->text + len, sizeof err->text - len, " %s",
                      mirel::errno_text(saved, buf, sizeof buf));
    }
    errno = saved;
}

}  // extern "C"
