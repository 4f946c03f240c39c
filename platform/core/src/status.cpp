// Results and their messages: Log, Status and StatusLog.
#include "core_impl.h"

#include <cstdio>

namespace {
thread_local Status t_own;
thread_local Status *t_redirect = nullptr;

String Hex(uint32_t code)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08x", code);
    return b;
}
}  // namespace

void Log::Write(const String &source, int level, const String &text)
{
    String line = "log " + std::to_string(level) + " " + source + ": " + text;
    ::Core::Journal(line);
    Core::Host::Impl *c = ::Core::Current();
    if (!c || c->options.log_to_stderr)
        std::fprintf(stderr, "%s\n", line.c_str());
}

ReturnT Log::Fail(const String &source, uint16_t number)
{
    return StatusLog(Code::FAIL | number, 3, source).Code();
}

ReturnT Log::Oom(const String &source, uint16_t number)
{
    return StatusLog(Code::OOM | number, 3, source).Code();
}

void Status::Set(ReturnT code, int level, const String &source, const String &message)
{
    std::lock_guard<std::mutex> g(mutex_);
    code_ = code;
    level_ = level;
    source_ = source;
    message_ = message;
}

void Status::Reset() { Set(0, 0, String(), String()); }

void Status::Load() const
{
    ReturnT c;
    int l;
    String s, m;
    {
        std::lock_guard<std::mutex> g(mutex_);
        c = code_, l = level_, s = source_, m = message_;
    }
    Status &cur = Current();
    if (&cur != this)
        cur.Set(c, l, s, m);
}

bool Status::AttachTo(Xml::Node &node) const
{
    std::lock_guard<std::mutex> g(mutex_);
    Xml::Node *s = node.AddChild("status");
    if (!s)
        return false;
    s->Add("code", Hex(static_cast<uint32_t>(code_)));
    s->Add("level", level_);
    s->Add("source", source_);
    s->Add("message", message_);
    return node.Valid();
}

Status &Status::Current() { return t_redirect ? *t_redirect : t_own; }
void Status::Redirect(Status *s) { t_redirect = s; }

StatusLog::StatusLog(uint32_t code, int level, const String &source, const String &message)
    : code_(static_cast<ReturnT>(code)), level_(level), source_(source), message_(message)
{
}

StatusLog::StatusLog(const String &source)
    : code_(static_cast<ReturnT>(Code::DONE)), level_(0), source_(source)
{
}

StatusLog &StatusLog::operator<<(const String &arg)
{
    try {
        args_.push_back(arg);
    } catch (...) {
    }
    return *this;
}
StatusLog &StatusLog::operator<<(const char *arg) { return *this << String(arg ? arg : ""); }
StatusLog &StatusLog::operator<<(int64_t arg) { return *this << std::to_string(arg); }

StatusLog &StatusLog::SetDone(uint16_t number)
{
    code_ = static_cast<ReturnT>(Code::DONE | number);
    level_ = 0;
    return *this;
}
StatusLog &StatusLog::SetFail(uint16_t number)
{
    code_ = static_cast<ReturnT>(Code::FAIL | number);
    level_ = 3;
    return *this;
}
StatusLog &StatusLog::SetOom(uint16_t number)
{
    code_ = static_cast<ReturnT>(Code::OOM | number);
    level_ = 3;
    return *this;
}
StatusLog &StatusLog::Control(Log::VerboseT v)
{
    control_ = v;
    return *this;
}

// "%1".."%9" in order; a placeholder with no argument stays as it is.
String StatusLog::Text() const
{
    String out;
    for (size_t i = 0; i < message_.size(); ++i) {
        char c = message_[i];
        if (c == '%' && i + 1 < message_.size() && message_[i + 1] >= '1' && message_[i + 1] <= '9') {
            size_t n = static_cast<size_t>(message_[i + 1] - '1');
            if (n < args_.size()) {
                out += args_[n];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

StatusLog::~StatusLog()
{
    try {
        String text = Text();
        Status::Current().Set(code_, level_, source_, text);
        String line = "status " + Hex(static_cast<uint32_t>(code_)) + " " + source_;
        if (!text.empty())
            line += ": " + text;
        if (control_ == Log::QUIET)
            line += " (quiet)";
        ::Core::Journal(line);
        Core::Host::Impl *c = ::Core::Current();
        if ((!c || c->options.log_to_stderr) && !text.empty() && control_ == Log::VERBOSE)
            std::fprintf(stderr, "%s\n", line.c_str());
    } catch (...) {
    }
}
