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

void serve_connection(int cfd, unsigned int major)
{
    Fd conn(cfd);
    using kstandin::WireAnswer;
    using kstandin::WireRequest;
    std::vector<unsigned char> msg(sizeof(WireRequest) + VDSL_DEV_MAX_BLOCK + 1);
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

    while (kstandin::wait_readable(lfd.fd, stop_fd)) {
        int cfd = accept4(lfd.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (cfd < 0)
            continue;
        try {
            std::thread(serve_connection, cfd, major).detach();
        } catch (...) {
            close(cfd);
        }
    }
    unlink(path);
    // Let running requests finish before the module goes away.
    std::unique_lock<std::mutex> g(active_lock);
    active_cv.wait_for(g, std::chrono::seconds(5), [] { return active_requests == 0; });
    return 0;
}
