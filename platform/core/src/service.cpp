// Supervised daemons.
#include "core_impl.h"

#include <signal.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

Service::~Service() = default;

Service *Service::New(const char *program, const char *id, const StringVector &arguments, bool configured,
                      int stop_kind, Time::Span first, Time::Span second, const Event::Delegate &up,
                      const Event::Delegate &down, const char *pid_file, Time::Span third, unsigned number)
{
    Core::Host::Impl *c = ::Core::Current();
    if (!c || !program || !*program || !id)
        return nullptr;
    if (c->ShouldFail("service.new")) {
        ::Core::Journal(String("service new refused ") + id);
        return nullptr;
    }
    Core::ServiceImpl *s = nullptr;
    try {
        s = new Core::ServiceImpl(*c, program, id, arguments, configured, stop_kind, first, second, up, down,
                                  pid_file ? pid_file : "", third, number);
    } catch (...) {
        return nullptr;
    }
    ::Core::Journal(String("service new ") + id + " program=" + program +
                    " configured=" + (configured ? "1" : "0") + " stop=" + std::to_string(stop_kind) +
                    " spans=" + std::to_string(first.Ms()) + "/" + std::to_string(second.Ms()) + "/" +
                    std::to_string(third.Ms()) + " pidfile=" + (pid_file ? pid_file : "") +
                    " number=" + std::to_string(number));
    return s;
}

namespace Core {

ServiceImpl::ServiceImpl(Host::Impl &core, const String &program, const String &id, const StringVector &args,
                         bool configured, int stop_kind, Time::Span first, Time::Span second,
                         const Event::Delegate &up, const Event::Delegate &down, const String &pid_file,
                         Time::Span third, unsigned number)
    : core_(core), program_(program), id_(id), pid_file_(pid_file), args_(args), configured_(configured),
      stop_kind_(stop_kind), first_(first), second_(second), third_(third), up_(up), down_(down),
      number_(number)
{
    core_.children->Add(this);
}

ServiceImpl::~ServiceImpl()
{
    ServiceImpl::StopWait();
    core_.children->Remove(this);
    core_.ForgetSource(this);
    Journal("service delete " + id_);
}

bool ServiceImpl::SetArguments(const StringVector &arguments)
{
    std::lock_guard<std::mutex> g(core_.children->Mutex());
    try {
        args_ = arguments;
    } catch (...) {
        return false;
    }
    Journal("service " + id_ + " arguments " + JoinWords(args_));
    return true;
}

bool ServiceImpl::PushArgument(const String &argument)
{
    std::lock_guard<std::mutex> g(core_.children->Mutex());
    try {
        args_.push_back(argument);
    } catch (...) {
        return false;
    }
    return true;
}

ReturnT ServiceImpl::Start()
{
    {
        std::lock_guard<std::mutex> g(core_.children->Mutex());
        if (started_)
            return static_cast<ReturnT>(Code::DONE);
        started_ = true;
    }
    Journal("service " + id_ + " start");
    core_.children->Kick();
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT ServiceImpl::Stop()
{
    {
        std::lock_guard<std::mutex> g(core_.children->Mutex());
        if (!started_)
            return static_cast<ReturnT>(Code::DONE);
        started_ = false;
    }
    Journal("service " + id_ + " stop");
    core_.children->Kick();
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT ServiceImpl::StopWait()
{
    Stop();
    std::unique_lock<std::mutex> g(core_.children->Mutex());
    // Bounded by the clock (the second span and a margin) and by real time.
    const int64_t give_up = core_.NowMs() + second_.Ms() + 1000;
    const auto real_limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (run_ && !(state_ == IDLE || state_ == BACKOFF)) {
        if (core_.NowMs() > give_up && state_ != STOPPING)
            break;
        if (std::chrono::steady_clock::now() > real_limit)
            return static_cast<ReturnT>(Code::TIMEOUT);
        gone_cv_.wait_for(g, std::chrono::milliseconds(5));
    }
    return static_cast<ReturnT>(Code::DONE);
}

bool ServiceImpl::IsStarted() const
{
    std::lock_guard<std::mutex> g(core_.children->Mutex());
    return started_;
}

bool ServiceImpl::IsUp() const
{
    std::lock_guard<std::mutex> g(core_.children->Mutex());
    return state_ == UP;
}

int ServiceImpl::Pid() const
{
    std::lock_guard<std::mutex> g(core_.children->Mutex());
    return run_ ? run_->pid : -1;
}

ReturnT ServiceImpl::Signal(int kind)
{
    const int sig = kind == 1 ? SIGHUP : kind;
    std::lock_guard<std::mutex> g(core_.children->Mutex());
    if (!run_ || state_ == STOPPING)
        return static_cast<ReturnT>(Code::FAIL);
    {
        std::lock_guard<std::mutex> gg(run_->m);
        if (run_->exited)
            return static_cast<ReturnT>(Code::FAIL);
        if (kill(run_->pid, sig) != 0)
            return static_cast<ReturnT>(Code::FAIL);
    }
    Journal("service " + id_ + " signal " + strsignal(sig) + " pid=" + std::to_string(run_->pid));
    return static_cast<ReturnT>(Code::DONE);
}

void ServiceImpl::SetConfigured(bool on)
{
    {
        std::lock_guard<std::mutex> g(core_.children->Mutex());
        if (configured_ == on)
            return;
        configured_ = on;
    }
    Journal("service " + id_ + " configured=" + (on ? "1" : "0"));
    core_.children->Kick();
}

bool ServiceImpl::IsConfigured() const
{
    std::lock_guard<std::mutex> g(core_.children->Mutex());
    return configured_;
}

// The pid file holds the child's pid as decimal text.
bool ServiceImpl::PidFileNamesChild() const
{
    int fd = open(pid_file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[32];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return false;
    buf[n] = 0;
    char *end;
    errno = 0;
    long v = std::strtol(buf, &end, 10);
    while (*end == '\n' || *end == ' ' || *end == '\r')
        ++end;
    if (errno || *end || end == buf)
        return false;
    return v == run_->pid;
}

void ServiceImpl::RaiseUpDown(bool up)
{
    std::vector<Event::Delegate> extra;
    const Event::Delegate &d = up ? up_ : down_;
    try {
        if (d.Valid())
            extra.push_back(d);
        if (up) {
            auto e = std::make_shared<Event::ServiceUp>();
            e->id = id_;
            core_.Raise(e, extra, this);
        } else {
            auto e = std::make_shared<Event::ServiceDown>();
            e->id = id_;
            core_.Raise(e, extra, this);
        }
    } catch (...) {
    }
}

void ServiceImpl::Tick(int64_t now)
{
    const bool wanted = started_ && configured_;
    bool exited = false;
    if (run_) {
        std::lock_guard<std::mutex> g(run_->m);
        exited = run_->exited;
    }
    auto term = [&] {
        const int sig = stop_kind_ == 1 ? SIGTERM : SIGKILL;
        kill(run_->pid, sig);
        Journal("service " + id_ + " " + strsignal(sig) + " pid=" + std::to_string(run_->pid));
        state_ = STOPPING;
        since_ = now;
    };
    switch (state_) {
    case IDLE:
        if (!wanted)
            break;
        if (core_.ShouldFail("service.spawn")) {
            run_ = nullptr;
        } else {
            run_ = core_.children->Spawn(program_, args_, false, true);
        }
        since_ = now;
        if (!run_) {
            Journal("service " + id_ + " spawn failed: " + strerror(errno));
            state_ = BACKOFF;
            break;
        }
        {
            StringVector all(1, program_);
            all.insert(all.end(), args_.begin(), args_.end());
            Journal("service " + id_ + " spawn pid=" + std::to_string(run_->pid) + " " + JoinWords(all));
        }
        state_ = STARTING;
        break;
    case STARTING:
        if (exited) {
            Journal("service " + id_ + " exited before up");
            run_ = nullptr;
            state_ = wanted ? BACKOFF : IDLE;
            since_ = now;
            gone_cv_.notify_all();
        } else if (!wanted) {
            term();
        } else if (pid_file_.empty() ? now - since_ >= first_.Ms() : PidFileNamesChild()) {
            state_ = UP;
            was_up_ = true;
            Journal("service " + id_ + " up pid=" + std::to_string(run_->pid));
            RaiseUpDown(true);
        }
        break;
    case UP:
        if (exited) {
            Journal("service " + id_ + " died");
            run_ = nullptr;
            was_up_ = false;
            RaiseUpDown(false);
            state_ = wanted ? BACKOFF : IDLE;
            since_ = now;
            gone_cv_.notify_all();
        } else if (!wanted) {
            term();
        }
        break;
    case STOPPING:
        if (exited) {
            Journal("service " + id_ + " stopped");
            run_ = nullptr;
            if (was_up_)
                RaiseUpDown(false);
            was_up_ = false;
            state_ = IDLE;
            gone_cv_.notify_all();
        } else if (now - since_ >= second_.Ms() && !run_->killed) {
            kill(run_->pid, SIGKILL);
            run_->killed = true;
            Journal("service " + id_ + " Killed pid=" + std::to_string(run_->pid) + " after " +
                    std::to_string(second_.Ms()) + "ms");
        }
        break;
    case BACKOFF:
        if (!wanted)
            state_ = IDLE;
        else if (now - since_ >= third_.Ms())
            state_ = IDLE;
        if (state_ == IDLE)
            gone_cv_.notify_all();
        break;
    }
}

}  // namespace Core
