// Serves a character device to other processes: each connection is one
// open of the device, each message one ioctl with the caller's block.
#include "kstandin/devhost.h"
#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include "devhost_wait.h"
#include "devhost_wire.h"
#include "vdsl_dev.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
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
 * per connection would spend more on starting threads than on requests.
 * Workers stay for the next connection; a connection that finds none idle
 * gets a new one, so a long request never holds up another open.
 */
class Workers {
public:
    explicit Workers(unsigned int major) : major_(major) {}

    void hand_over(int cfd)
    {
        std::unique_lock<std::mutex> g(lock_);
        pending_.push_back(cfd);
        if (idle_ > 0) {
            idle_--;
            wakeups_++;
            cv_.notify_one();
            return;
        }
        g.unlock();
        try {
            std::thread([this] { run(); }).detach();
        } catch (...) {
            // No new thread: a running worker takes the connection later.
        }
    }

private:
    static constexpr int kIdleMax = 8;

    void run()
    {
        std::vector<unsigned char> msg(kMessageMax);
        std::unique_lock<std::mutex> g(lock_);
        for (;;) {
            if (!pending_.empty()) {
                int cfd = pending_.front();
                pending_.pop_front();
                g.unlock();
                serve_connection(cfd, major_, msg);
                g.lock();
                continue;
            }
            if (idle_ >= kIdleMax)
                return;
            // hand_over takes us off the idle count when it wakes us; every
            // connection handed over has a worker woken or started for it.
            idle_++;
            cv_.wait(g, [this] { return wakeups_ > 0; });
            wakeups_--;
        }
    }

    unsigned int major_;
    std::mutex lock_;
    std::condition_variable cv_;
    std::deque<int> pending_;
    int idle_ = 0;
    int wakeups_ = 0;
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

    // Workers outlive this call: they may still be finishing a connection.
    auto *workers = new Workers(major);
    while (kstandin::wait_readable(lfd.fd, stop_fd)) {
        int cfd = accept4(lfd.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (cfd >= 0)
            workers->hand_over(cfd);
    }
    unlink(path);
    // Let running requests finish before the module goes away.
    std::unique_lock<std::mutex> g(active_lock);
    active_cv.wait_for(g, std::chrono::seconds(5), [] { return active_requests == 0; });
    return 0;
}
