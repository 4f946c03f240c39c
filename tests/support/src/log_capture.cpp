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
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const LogLine &e : entries_)
        out.push_back(e.line);
    return out;
}

bool LogCapture::contains(const std::string &text) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const LogLine &e : entries_)
        if (e.line.find(text) != std::string::npos)
            return true;
    return false;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

void LogCapture::hook(void *ctx, int level, const char *ident, const char *line)
{
    auto *self = static_cast<LogCapture *>(ctx);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->entries_.push_back({level, ident ? ident : "", line ? line : ""});
}

}  // namespace fw_test
