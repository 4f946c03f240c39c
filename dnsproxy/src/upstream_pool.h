// Upstream UDP sockets: for each family a pool of sockets on random source
// ports behind one epoll descriptor, which the family's upstream slot polls.
// Each query leaves from a socket picked at random; a socket retires after a
// random number of queries and at random times, and a new one on a new port
// takes its place: an off-path host has to guess the port as well as the id.
#pragma once

#include "kernel_random.h"

#include <zmo.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dnsr {

struct UpstreamSocket {
    int fd = -1;
    uint32_t id = 0;  // never reused: a try names the socket it left from
    uint16_t port = 0;
    uint32_t budget = 0;       // queries left before it retires
    uint32_t outstanding = 0;  // tries sent from it and not yet settled
    zmo_time_t close_by{};     // once retired: closed then, tries left or not
};

class UpstreamPool {
public:
    static constexpr size_t kSize = 64;
    static constexpr size_t kMaxRetired = 64;  // bounds the descriptors in use

    explicit UpstreamPool(KernelRandom &random) : random_(random) {}
    ~UpstreamPool() { close(); }
    UpstreamPool(const UpstreamPool &) = delete;
    UpstreamPool &operator=(const UpstreamPool &) = delete;

    // size sockets of family; pinned_port (a test switch) makes one socket
    // on that port that never retires. False, with errno, when no socket
    // could be made.
    bool open(int family, size_t size, uint16_t pinned_port = 0);
    void close();
    int poll_fd() const { return epoll_fd_; }

    // The socket for the next query, at random; null when the pool is closed.
    UpstreamSocket *pick();
    // A query left from the live socket at index: at the end of its budget
    // it retires (and another takes its place at index).
    void sent(size_t index, int64_t grace_ms);
    // A try sent from socket id (live at index, or retired) is over.
    void settle(uint32_t id, size_t index);
    // One live socket at random retires (the timer's schedule is random too).
    void rotate(int64_t grace_ms);
    // Closes the retired sockets whose tries are settled or whose time is up.
    // Never called while the caller walks ready sockets.
    void sweep();
    // Sockets with data waiting: their descriptors and ids.
    size_t ready(int *fds, uint32_t *ids, size_t max);

    const std::vector<UpstreamSocket> &live() const { return live_; }
    size_t retired_count() const { return retired_.size(); }

private:
    bool open_one(UpstreamSocket &sock);
    void retire(size_t index, int64_t grace_ms);
    uint32_t fresh_budget();

    KernelRandom &random_;
    int family_ = 0;
    int epoll_fd_ = -1;
    uint16_t pinned_port_ = 0;
    uint32_t next_id_ = 1;
    std::vector<UpstreamSocket> live_;
    std::vector<UpstreamSocket> retired_;
};

}  // namespace dnsr
