#include "fw_test/log_capture.h"

#include <zmo.h>

namespace fw_test {

LogCapture::LogCapture(int debug)
{
    zmo_log_set_debug(debug);
    zmo_log_set_hook(&LogCapture::hook, this);
}

LogCapture::~LogCapture()
{
    zmo_log_set_hook(nullptr, nullptr);
    zmo_log_set_debug(0);
}

std::vector<std::string> LogCapture::lines() const
{
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const LogLine &e : entries_)
        out.push_back(e.line);
    return out;
}

void LogCapture::hook(void *ctx, int level, const char *ident, const char *line)
{
    static_cast<LogCapture *>(ctx)->entries_.push_back({level, ident ? ident : "", line ? line : ""});
}

}  // namespace fw_test
