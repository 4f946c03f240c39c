// Sockets the agent talks through to the master and the core: a descriptor
// closed with its scope, and waits bounded by the call's deadline.
#pragma once

#include <chrono>

namespace cloudagent {

struct Fd {
    int fd = -1;
    Fd() = default;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd();
};

// Waits until fd is ready for events, each poll for at most maxWaitMs: false
// with errno ETIMEDOUT once the deadline has come, EAGAIN when a poll of
// maxWaitMs saw nothing before it, or poll's own error.
bool wait_for(int fd, short events, std::chrono::steady_clock::time_point deadline, long maxWaitMs);

}  // namespace cloudagent
