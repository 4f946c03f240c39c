#include "socket_wait.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace cloudagent {

Fd::~Fd()
{
    if (fd >= 0)
        close(fd);
}

bool wait_for(int fd, short events, std::chrono::steady_clock::time_point deadline, long maxWaitMs)
{
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        struct pollfd p = {fd, events, 0};
        int n = poll(&p, 1, static_cast<int>(left < maxWaitMs ? left : maxWaitMs));
        if (n > 0)
            return true;
        if (n == 0) {
            // A quiet peer is a receive time-out of the socket; a dripping
            // one runs into the deadline.
            errno = left <= maxWaitMs ? ETIMEDOUT : EAGAIN;
            return false;
        }
        if (errno != EINTR)
            return false;
    }
}

}  // namespace cloudagent
