// Short processes: run, wait with a time-out, keep status and output.
#include "core_impl.h"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

namespace Io {

struct Process::Run {
    std::shared_ptr<Core::ChildRun> child;
};

Process::Process(const char *identity, const char *program, int, int, int, unsigned, const char *)
    : identity_(identity ? identity : ""), program_(program ? program : "")
{
    ok_ = !program_.empty() && ::Core::Current() != nullptr;
}

Process::~Process()
{
    if (Running())
        StopWait();
}

bool Process::SetArguments(const StringVector &words)
{
    try {
        words_ = words;
    } catch (...) {
        return false;
    }
    return true;
}

ReturnT Process::Start()
{
    Core::Host::Impl *c = ::Core::Current();
    if (!ok_ || !c)
        return static_cast<ReturnT>(Code::FAIL);
    if (Running())
        return static_cast<ReturnT>(Code::FAIL);
    StringVector all(1, program_);
    all.insert(all.end(), words_.begin(), words_.end());
    if (c->ShouldFail("process.start")) {
        ::Core::Journal("process " + identity_ + " refused " + ::Core::JoinWords(all));
        return static_cast<ReturnT>(Code::FAIL);
    }
    auto r = std::make_shared<Run>();
    r->child = c->children->Spawn(program_, words_, true);
    if (!r->child) {
        ::Core::Journal("process " + identity_ + " failed " + ::Core::JoinWords(all) + ": " +
                        strerror(errno));
        return static_cast<ReturnT>(Code::FAIL);
    }
    run_ = r;
    ::Core::Journal("process " + identity_ + " run " + ::Core::JoinWords(all));
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT Process::Wait(uint32_t timeout_ms)
{
    if (!run_)
        return static_cast<ReturnT>(Code::DONE);
    Core::ChildRun &r = *run_->child;
    const int64_t deadline = ::Core::NowMs() + timeout_ms;
    std::unique_lock<std::mutex> g(r.m);
    while (!r.exited) {
        if (::Core::NowMs() >= deadline)
            return static_cast<ReturnT>(Code::TIMEOUT);
        r.cv.wait_for(g, std::chrono::milliseconds(5));
    }
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT Process::StopWait()
{
    if (!run_)
        return static_cast<ReturnT>(Code::DONE);
    Core::ChildRun &r = *run_->child;
    {
        std::lock_guard<std::mutex> g(r.m);
        if (r.exited)
            return static_cast<ReturnT>(Code::DONE);
        kill(r.pid, SIGTERM);
    }
    ::Core::Journal("process " + identity_ + " stop pid=" + std::to_string(r.pid));
    if (Wait(2000) == static_cast<ReturnT>(Code::TIMEOUT)) {
        {
            std::lock_guard<std::mutex> g(r.m);
            if (!r.exited)
                kill(r.pid, SIGKILL);
        }
        std::unique_lock<std::mutex> g(r.m);
        r.cv.wait(g, [&] { return r.exited; });
    }
    return static_cast<ReturnT>(Code::DONE);
}

bool Process::Running() const
{
    if (!run_)
        return false;
    std::lock_guard<std::mutex> g(run_->child->m);
    return !run_->child->exited;
}

int Process::ExitStatus() const
{
    if (!run_)
        return -1;
    std::lock_guard<std::mutex> g(run_->child->m);
    if (!run_->child->exited || !WIFEXITED(run_->child->status))
        return -1;
    return WEXITSTATUS(run_->child->status);
}

String Process::Output() const
{
    if (!run_)
        return String();
    std::lock_guard<std::mutex> g(run_->child->m);
    return run_->child->output;
}

}  // namespace Io
