// Feedback forwarders: an executable at the listener's path that hands its
// run to the core over a local datagram socket.
#include "core_impl.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Core {

namespace {
constexpr size_t kMaxInput = 48 * 1024;

String ShellQuote(const String &s)
{
    String o = "'";
    for (char c : s) {
        if (c == '\'')
            o += "'\\''";
        else
            o += c;
    }
    return o + "'";
}

bool FillAddress(const String &path, struct sockaddr_un *sa)
{
    std::memset(sa, 0, sizeof *sa);
    sa->sun_family = AF_UNIX;
    if (path.size() >= sizeof sa->sun_path)
        return false;
    std::memcpy(sa->sun_path, path.c_str(), path.size() + 1);
    return true;
}
}  // namespace

FeedbackHub::FeedbackHub(Host::Impl &core) : core_(core)
{
    socket_path_ = core_.options.feedback_socket.empty() ? MapPath("/var/run/zmocore.feedback")
                                                         : core_.options.feedback_socket;
}

bool FeedbackHub::Start()
{
    struct sockaddr_un sa;
    if (!FillAddress(socket_path_, &sa))
        return false;
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || pipe2(wake_, O_CLOEXEC) != 0)
        return false;
    unlink(socket_path_.c_str());
    if (bind(fd_, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) != 0) {
        Journal("feedback socket " + socket_path_ + ": " + strerror(errno));
        return false;
    }
    int big = 256 * 1024;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    thread_ = std::thread([this] { Loop(); });
    return true;
}

FeedbackHub::~FeedbackHub()
{
    if (thread_.joinable()) {
        char c = 0;
        (void)!write(wake_[1], &c, 1);
        thread_.join();
    }
    if (fd_ >= 0) {
        close(fd_);
        unlink(socket_path_.c_str());
    }
    if (wake_[0] >= 0)
        close(wake_[0]), close(wake_[1]);
}

ReturnT FeedbackHub::Add(const String &path, FeedbackListener *l)
{
    if (fd_ < 0)
        return static_cast<ReturnT>(Code::FAIL);
    const String real = MapPath(path);
    const String forwarder = core_.options.forwarder;
    String script = "#!/bin/sh\n# Hands this run to the management core.\nexec " + ShellQuote(forwarder) +
                    " --feedback-forward " + ShellQuote(socket_path_) + " " + ShellQuote(path) + " \"$@\"\n";
    const String tmp = real + ".__temp__";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (fd < 0)
        return static_cast<ReturnT>(Code::FAIL);
    bool ok = write(fd, script.data(), script.size()) == static_cast<ssize_t>(script.size());
    ok = fchmod(fd, 0755) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), real.c_str()) != 0) {
        unlink(tmp.c_str());
        return static_cast<ReturnT>(Code::FAIL);
    }
    {
        std::lock_guard<std::recursive_mutex> g(mutex_);
        listeners_[path] = l;
    }
    Journal("feedback register " + path);
    return static_cast<ReturnT>(Code::DONE);
}

void FeedbackHub::Remove(FeedbackListener *l)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    for (auto it = listeners_.begin(); it != listeners_.end(); ++it)
        if (it->second == l) {
            unlink(MapPath(it->first).c_str());
            Journal("feedback unregister " + it->first);
            listeners_.erase(it);
            return;
        }
}

void FeedbackHub::Loop()
{
    std::vector<uint8_t> buf(64 * 1024 + 1);
    for (;;) {
        struct pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[1].revents)
            return;
        ssize_t n = recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n <= 0)
            continue;
        auto fb = std::make_shared<Feedback>();
        String path;
        if (!FeedbackDecode(buf.data(), static_cast<size_t>(n), &path, fb.get())) {
            Journal("feedback refused: malformed message of " + std::to_string(n) + " bytes");
            continue;
        }
        // Queued first, journaled after: whoever sees the line finds the delivery queued.
        const String line = "feedback " + path + " " + JoinWords(fb->Words());
        core_.Post([this, path, fb] {
            std::lock_guard<std::recursive_mutex> g(mutex_);
            auto it = listeners_.find(path);
            if (it == listeners_.end()) {
                Journal("feedback for " + path + " dropped: nobody listens");
                return;
            }
            it->second->OnFeedback(*fb);
        });
        Journal(line);
    }
}

int FeedbackForward(const String &socket_path, const String &path, const StringVector &args)
{
    String input;
    if (!isatty(0)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        char buf[4096];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            struct pollfd p = {0, POLLIN, 0};
            int r = poll(&p, 1, static_cast<int>(left.count()));
            if (r <= 0)
                break;
            ssize_t n = read(0, buf, sizeof buf);
            if (n <= 0)
                break;
            if (input.size() < kMaxInput)
                input.append(buf, std::min(static_cast<size_t>(n), kMaxInput - input.size()));
        }
    }
    StringVector words;
    std::vector<std::pair<String, String>> values;
    FeedbackFromRun(args, input, &words, &values);
    String msg = FeedbackEncode(path, words, values);
    struct sockaddr_un sa;
    if (!FillAddress(socket_path, &sa))
        return 1;
    int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 1;
    ssize_t n = sendto(s, msg.data(), msg.size(), 0, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa);
    close(s);
    if (n != static_cast<ssize_t>(msg.size())) {
        std::fprintf(stderr, "feedback: can't reach the core at %s: %s\n", socket_path.c_str(),
                     strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace Core

FeedbackListener::~FeedbackListener() { Unregister(); }

ReturnT FeedbackListener::Register(const String &path)
{
    Core::Host::Impl *c = ::Core::Current();
    if (!c || !c->feedback || path.empty())
        return static_cast<ReturnT>(Code::FAIL);
    Unregister();
    ReturnT r = c->feedback->Add(path, this);
    if (Failed(r))
        return r;
    try {
        path_ = path;
    } catch (...) {
        c->feedback->Remove(this);
        return static_cast<ReturnT>(Code::OOM);
    }
    return r;
}

void FeedbackListener::Unregister()
{
    if (path_.empty())
        return;
    if (Core::Host::Impl *c = ::Core::Current())
        if (c->feedback)
            c->feedback->Remove(this);
    path_.clear();
}
