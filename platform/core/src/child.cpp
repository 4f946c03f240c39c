// Children: started by argument vector, never through a shell, and reaped
// by one supervisor thread that also drives the services.
#include "core_impl.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char **environ;

namespace Core {

namespace {
constexpr size_t kMaxOutput = 64 * 1024;

String Quote(const String &w)
{
    bool plain = !w.empty();
    for (char c : w)
        if (!(isalnum(static_cast<unsigned char>(c)) || std::strchr("-_./:=@,+%", c)))
            plain = false;
    if (plain)
        return w;
    String o = "'";
    for (char c : w) {
        if (c == '\'')
            o += "'\\''";
        else
            o += c;
    }
    return o + "'";
}
}  // namespace

String JoinWords(const StringVector &words)
{
    String o;
    for (const String &w : words) {
        if (!o.empty())
            o += ' ';
        o += Quote(w);
    }
    return o;
}

ChildSupervisor::ChildSupervisor(Host::Impl &core) : core_(core)
{
    core_.AddWatcher(&watcher_);
    thread_ = std::thread([this] { Loop(); });
}

ChildSupervisor::~ChildSupervisor()
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
    core_.RemoveWatcher(&watcher_);
    // Nothing outlives the core.
    for (auto &w : runs_) {
        if (auto r = w.lock()) {
            std::lock_guard<std::mutex> g(r->m);
            if (!r->exited && r->pid > 0) {
                kill(r->pid, SIGKILL);
                int st;
                waitpid(r->pid, &st, 0);
                r->exited = true;
            }
            if (r->out_fd >= 0)
                close(r->out_fd), r->out_fd = -1;
            r->cv.notify_all();
        }
    }
}

std::shared_ptr<ChildRun> ChildSupervisor::Spawn(const String &program, const StringVector &argv,
                                                 bool keep_output, bool locked)
{
    std::shared_ptr<ChildRun> run;
    std::vector<char *> args;
    try {
        run = std::make_shared<ChildRun>();
        args.push_back(const_cast<char *>(program.c_str()));
        for (const String &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
    int pipefd[2] = {-1, -1};
    if (keep_output && pipe2(pipefd, O_CLOEXEC) != 0)
        return nullptr;
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (keep_output) {
        posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
        posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
    }
    // The core's sockets and files stay with the core.
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, program.c_str(), &fa, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (keep_output)
        close(pipefd[1]);
    if (rc != 0) {
        if (keep_output)
            close(pipefd[0]);
        errno = rc;
        return nullptr;
    }
    run->pid = pid;
    if (keep_output) {
        run->out_fd = pipefd[0];
        fcntl(run->out_fd, F_SETFL, fcntl(run->out_fd, F_GETFL) | O_NONBLOCK);
    }
    try {
        if (locked) {
            runs_.push_back(run);
        } else {
            std::lock_guard<std::mutex> g(mutex_);
            runs_.push_back(run);
        }
    } catch (...) {
    }
    cv_.notify_all();
    return run;
}

void ChildSupervisor::Add(ServiceImpl *s)
{
    std::lock_guard<std::mutex> g(mutex_);
    services_.push_back(s);
}

void ChildSupervisor::Remove(ServiceImpl *s)
{
    std::lock_guard<std::mutex> g(mutex_);
    services_.erase(std::remove(services_.begin(), services_.end(), s), services_.end());
}

void ChildSupervisor::Kick() { cv_.notify_all(); }

int ChildSupervisor::ServiceState(const String &id)
{
    std::lock_guard<std::mutex> g(mutex_);
    for (ServiceImpl *s : services_)
        if (s->Id() == id)
            return s->UpLocked() ? 1 : 0;
    return -1;
}

StringVector ChildSupervisor::ServiceIds()
{
    std::lock_guard<std::mutex> g(mutex_);
    StringVector v;
    for (ServiceImpl *s : services_)
        v.push_back(s->Id());
    return v;
}

void ChildSupervisor::Reap(ChildRun &r)
{
    std::lock_guard<std::mutex> g(r.m);
    if (r.exited)
        return;
    if (r.out_fd >= 0) {
        char buf[4096];
        for (;;) {
            ssize_t n = read(r.out_fd, buf, sizeof buf);
            if (n <= 0)
                break;
            if (r.output.size() < kMaxOutput)
                r.output.append(buf, std::min(static_cast<size_t>(n), kMaxOutput - r.output.size()));
        }
    }
    int st = 0;
    pid_t p = waitpid(r.pid, &st, WNOHANG);
    if (p == r.pid || (p < 0 && errno == ECHILD)) {
        r.exited = true;
        r.status = st;
        if (r.out_fd >= 0) {
            char buf[4096];
            ssize_t n;
            while ((n = read(r.out_fd, buf, sizeof buf)) > 0)
                if (r.output.size() < kMaxOutput)
                    r.output.append(buf, std::min(static_cast<size_t>(n), kMaxOutput - r.output.size()));
            close(r.out_fd);
            r.out_fd = -1;
        }
        r.cv.notify_all();
    }
}

void ChildSupervisor::Loop()
{
    std::unique_lock<std::mutex> g(mutex_);
    while (!stop_) {
        for (auto it = runs_.begin(); it != runs_.end();) {
            auto r = it->lock();
            if (!r) {
                it = runs_.erase(it);
                continue;
            }
            Reap(*r);
            bool done;
            {
                std::lock_guard<std::mutex> gg(r->m);
                done = r->exited;
            }
            it = done ? runs_.erase(it) : it + 1;
        }
        const int64_t now = core_.NowMs();
        for (ServiceImpl *s : services_)
            s->Tick(now);
        watcher_.seen = now;
        cv_.wait_for(g, std::chrono::milliseconds(5));
    }
}

}  // namespace Core
