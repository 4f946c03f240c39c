// The stack's error log: one line of at most 1023 bytes to the base library.
#include "syerror.h"

#include <zmo.h>

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int kErrorLevel = 2;

}  // namespace

extern "C" void logError(const char *format, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(line, sizeof line, format, ap);  // cuts at 1023 characters
    va_end(ap);
    zmo_log(kErrorLevel, "%s", n < 0 ? "internal error" : line);
}
