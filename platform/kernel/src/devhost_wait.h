// Both of the device host's loops wait on one descriptor until a stop
// descriptor turns readable.
#ifndef KSTANDIN_DEVHOST_WAIT_H
#define KSTANDIN_DEVHOST_WAIT_H

#include <cerrno>
#include <poll.h>

namespace kstandin {

// true when fd is readable; false once stop_fd is readable or poll fails.
inline bool wait_readable(int fd, int stop_fd)
{
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (p[1].revents)
            return false;
        if (p[0].revents & POLLIN)
            return true;
    }
}

} // namespace kstandin

#endif
