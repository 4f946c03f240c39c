// Short texts the core answers as JSON strings: its version and the
// configuration checksum.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "agent.h"
#include "scgi.h"

extern "C" int core_json_string(const char *uri, char *out, size_t max)
{
    struct scgi_result r = scgi_request("GET", uri, nullptr, nullptr, 0, 1);
    int err = 0;
    // With the zero the body is at least 1 byte; a JSON string needs both
    // quotes, so fewer than 3 bytes (or no quotes) is no answer.
    if (r.status < 0 || !r.body || r.body_length < 3)
        err = EBADE;
    else {
        size_t n = r.body_length - 1;  // without the zero
        const char *b = r.body;
        while (n > 0 && (b[n - 1] == '\n' || b[n - 1] == '\r' || b[n - 1] == ' '))
            --n;
        if (n < 2 || b[0] != '"' || b[n - 1] != '"' || std::memchr(b + 1, '"', n - 2) ||
            std::memchr(b, '\\', n))
            err = EBADE;
        else if (n - 2 > max)
            err = ENOSPC;
        else {
            std::memcpy(out, b + 1, n - 2);
            out[n - 2] = '\0';
        }
    }
    std::free(r.body);
    if (err) {
        errno = err;
        return -1;
    }
    return 0;
}

extern "C" int VersionGet(void)
{
    char version[AGENT_CORE_VERSION_MAX + 1];
    if (core_json_string("/rci/show/version/release", version, AGENT_CORE_VERSION_MAX) != 0)
        return -1;
    std::memcpy(g_agent.core_version, version, sizeof version);
    return 0;
}
