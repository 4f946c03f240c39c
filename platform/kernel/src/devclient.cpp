// The client side of the device: one connection is one open device.
#include "vdsl_dev.h"

#include "devhost_wire.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

const char *socket_path()
{
    const char *env = std::getenv("VDSL_DEV_SOCKET");
    return env && *env ? env : VDSL_DEV_SOCKET_PATH;
}

} // namespace

extern "C" int vdsl_dev_open(void)
{
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const char *path = socket_path();
    if (std::strlen(path) >= sizeof sa.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(sa.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

extern "C" int vdsl_dev_ioctl(int fd, unsigned long request, void *block, size_t size)
{
    if (!block)
        size = 0;
    if (size > VDSL_DEV_MAX_BLOCK)
        return -EINVAL;
    try {
        using kstandin::WireAnswer;
        using kstandin::WireRequest;
        std::vector<unsigned char> msg(sizeof(WireRequest) + size);
        WireRequest hdr{kstandin::kWireMagic, static_cast<uint32_t>(request), block != nullptr,
                        static_cast<uint32_t>(size)};
        std::memcpy(msg.data(), &hdr, sizeof hdr);
        if (size)
            std::memcpy(msg.data() + sizeof hdr, block, size);
        ssize_t w;
        while ((w = send(fd, msg.data(), msg.size(), MSG_NOSIGNAL)) < 0 && errno == EINTR) {
        }
        if (w != static_cast<ssize_t>(msg.size()))
            return -EIO;

        std::vector<unsigned char> ans(sizeof(WireAnswer) + size + 1);
        ssize_t r;
        while ((r = recv(fd, ans.data(), ans.size(), 0)) < 0 && errno == EINTR) {
        }
        WireAnswer ah{};
        if (r < static_cast<ssize_t>(sizeof ah))
            return -EIO;
        std::memcpy(&ah, ans.data(), sizeof ah);
        if (ah.magic != kstandin::kWireMagic || ah.size != size ||
            static_cast<size_t>(r) != sizeof ah + size)
            return -EIO;
        if (size)
            std::memcpy(block, ans.data() + sizeof ah, size);
        return ah.result;
    } catch (...) {
        return -ENOMEM;
    }
}

extern "C" int vdsl_dev_close(int fd)
{
    return close(fd);
}
