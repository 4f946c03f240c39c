// The one logger: syslog and/or the console, ident, levels, debug verbosity.
#include "zmo.h"

#include <syslog.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {
struct LogState {
    std::mutex lock;
    std::string ident = "zmo";
    bool console = true;
    bool use_syslog = false;
    bool syslog_open = false;
    zmo_log_hook_fn hook = nullptr;
    void *hook_ctx = nullptr;
};

LogState &state()
{
    static LogState s;
    return s;
}

std::atomic<int> g_debug{0};

int syslog_priority(int level)
{
    switch (level) {
    case ZMO_LOG_INFO:
        return LOG_INFO;
    case ZMO_LOG_WARNING:
        return LOG_WARNING;
    case ZMO_LOG_ERROR:
        return LOG_ERR;
    case ZMO_LOG_FATAL:
        return LOG_CRIT;
    case ZMO_LOG_SPOOLER:
        return LOG_LPR | LOG_INFO;
    default:
        return LOG_DEBUG;
    }
}

void emit(int level, const char *format, va_list ap)
{
    char line[2048];
    int n = vsnprintf(line, sizeof line, format, ap);
    if (n < 0)
        std::snprintf(line, sizeof line, "internal error");
    LogState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.use_syslog)
        syslog(syslog_priority(level), "%s", line);
    if (s.console)
        std::fprintf(stderr, "%s: %s\n", s.ident.c_str(), line);
    if (s.hook)
        s.hook(s.hook_ctx, level, s.ident.c_str(), line);
}
}  // namespace

extern "C" {

const char *zmo_log_get_ident(char *const argv[])
{
    if (!argv || !argv[0] || !argv[0][0])
        return "zmo";
    const char *slash = std::strrchr(argv[0], '/');
    const char *base = slash ? slash + 1 : argv[0];
    return *base ? base : "zmo";
}

int zmo_log_init(const char *ident, const char *tag, int console, int use_syslog)
{
    if (!ident || !*ident) {
        errno = EINVAL;
        return 0;
    }
    LogState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.ident = ident;
    if (tag && *tag)
        s.ident += std::string("[") + tag + "]";
    s.console = console != 0;
    if (s.syslog_open)
        closelog();
    s.syslog_open = false;
    s.use_syslog = use_syslog != 0;
    if (s.use_syslog) {
        // openlog keeps the pointer, and s.ident lives as long as the process.
        openlog(s.ident.c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
        s.syslog_open = true;
    }
    return 1;
}

void zmo_log_v(int level, const char *format, va_list ap)
{
    if (!format)
        return;
    emit(level, format, ap);
}

void zmo_log(int level, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    zmo_log_v(level, format, ap);
    va_end(ap);
}

void zmo_log_debug(int verbosity, const char *format, ...)
{
    if (!format || g_debug.load() < verbosity || g_debug.load() < 1)
        return;
    va_list ap;
    va_start(ap, format);
    emit(ZMO_LOG_DEBUG, format, ap);
    va_end(ap);
}

void zmo_log_set_debug(int level) { g_debug.store(level < 0 ? 0 : level); }
int zmo_log_get_debug(void) { return g_debug.load(); }

void zmo_log_set_hook(zmo_log_hook_fn hook, void *ctx)
{
    LogState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.hook = hook;
    s.hook_ctx = ctx;
}

}  // extern "C"
