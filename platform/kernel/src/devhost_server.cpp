// Serves a character device to other processes: each connection is one
// open of the device, each message one ioctl with the caller's block.
#include "kstandin/devhost.h"
#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include "devhost_wire.h"
#include "vdsl_dev.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

std::mutex active_lock;
std::condition_variable active_cv;
int active_requests = 0;

constexpr size_t kMessageMax = sizeof(kstandin::WireRequest) + VDSL_DEV_MAX_BLOCK + 1;

// msg: the worker's receive buffer of kMessageMax bytes.
void serve_connection(int cfd, unsigned int major, std::vector<unsigned char> &msg)
{
    Fd conn(cfd);
    using kstandin::WireAnswer;
    using kstandin::WireRequest;
    for (;;) {
        iovec iov{msg.data(), msg.size()};
        msghdr mh{};
        mh.msg_iov = &iov;
        mh.msg_iovlen = 1;
        ssize_t r = recvmsg(conn.fd, &mh, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return; // the device was closed
        WireRequest req{};
        if ((mh.msg_flags & MSG_TRUNC) || r < static_cast<ssize_t>(sizeof req))
            return; // not a request of ours: drop the connection
        std::memcpy(&req, msg.data(), sizeof req);
        if (req.magic != kstandin::kWireMagic || req.size != r - sizeof req)
            return;

        std::vector<unsigned char> block(msg.begin() + sizeof req, msg.begin() + r);
        {
            std::lock_guard<std::mutex> g(active_lock);
            ++active_requests;
        }
        unsigned long arg = 0;
        if (req.has_block) {
            kstandin_user_begin(KSTANDIN_USER_BASE, block.data(), block.size());
            arg = KSTANDIN_USER_BASE;
        } else {
            kstandin_user_begin(0, nullptr, 0);
        }
        kstandin_task_clear_interrupt();
        long rc = kstandin_chrdev_ioctl(major, req.request, arg);
        kstandin_user_end();
        {
            std::lock_guard<std::mutex> g(active_lock);
            --active_requests;
        }
        active_cv.notify_all();

        WireAnswer ans{kstandin::kWireMagic, static_cast<int32_t>(rc), req.size};
        std::vector<unsigned char> out(sizeof ans + block.size());
        std::memcpy(out.data(), &ans, sizeof ans);
        if (!block.empty())
            std::memcpy(out.data() + sizeof ans, block.data(), block.size());
        ssize_t w;
        while ((w = send(conn.fd, out.data(), out.size(), MSG_NOSIGNAL)) < 0 && errno == EINTR) {
        }
        if (w != static_cast<ssize_t>(out.size()))
            return;
    }
}

/*
 * Processes open and close the device around every request, so a thread
 * per connection would spend more on starting threads than on requests,
 * and a hand-over from an accepting thread would add a wake-up to each.
 * Workers accept for themselves and stay for the next open; when the last
 * idle one takes a connection it starts another, so a long request never
 * holds up another open. A blocked accept wakes one worker only.
 */
class Workers : public std::enable_shared_from_this<Workers> {
public:
    Workers(int lfd, unsigned int major) : lfd_(lfd), major_(major) {}
    // The last worker gone: nothing can accept on the descriptor any more.
    ~Workers() { close(lfd_); }

    void start()
    {
        {
            std::lock_guard<std::mutex> g(lock_);
            idle_++;
        }
        try {
            auto self = shared_from_this();
            std::thread([self] { self->run(); }).detach();
        } catch (...) {
            std::lock_guard<std::mutex> g(lock_);
            idle_--; // the workers running take the connections later
        }
    }

    // Wakes every blocked accept; the workers end as they come back.
    void stop()
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
        shutdown(lfd_, SHUT_RDWR);
    }

private:
    static constexpr int kIdleMax = 8;

    void run()
    {
        std::vector<unsigned char> msg(kMessageMax);
        for (;;) {
            int cfd = accept4(lfd_, nullptr, nullptr, SOCK_CLOEXEC);
            std::unique_lock<std::mutex> g(lock_);
            if (stopping_) {
                if (cfd >= 0)
                    close(cfd);
                return;
            }
            if (cfd < 0)
                continue;
            bool more = --idle_ == 0;
            g.unlock();
            if (more)
                start();
            serve_connection(cfd, major_, msg);
            g.lock();
            if (stopping_ || idle_ >= kIdleMax)
                return;
            idle_++;
        }
    }

    int lfd_;
    unsigned int major_;
    std::mutex lock_;
    int idle_ = 0;
    bool stopping_ = false;
};

} // namespace

extern "C" int kstandin_devhost_serve(const char *path, unsigned int major, int stop_fd)
{
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof sa.sun_path)
        return -1;
    std::strcpy(sa.sun_path, path);
    Fd lfd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (lfd.fd < 0)
        return -1;
    unlink(path);
    if (bind(lfd.fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(lfd.fd, 64) != 0)
        return -1;
    chmod(path, 0666);

    // The workers keep the listening descriptor open while any of them may
    // still accept on it; they may outlive this call, finishing a connection.
    int listening = lfd.fd;
    lfd.fd = -1;
    auto workers = std::make_shared<Workers>(listening, major);
    workers->start();
    pollfd p{stop_fd, POLLIN, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    workers->stop();
    unlink(path);
    // Let running requests finish before the module goes away.
    std::unique_lock<std::mutex> g(active_lock);
    active_cv.wait_for(g, std::chrono::seconds(5), [] { return active_requests == 0; });
    return 0;
}
