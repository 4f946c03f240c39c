// Socket slots and the poll over them.
#include "slots.h"

#include <zmo.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace dnsr {

bool SlotTable::set_handlers(int index, SlotHandler read, SlotHandler write)
{
    if (index < 0 || index >= kSlotCount) {
        zmo_log(ZMO_LOG_ERROR, "socket descriptor index out of bound");
        return false;
    }
    slots_[size_t(index)].read = read;
    slots_[size_t(index)].write = write;
    if (index >= used_)
        used_ = index + 1;
    dirty_ = true;
    return true;
}

void SlotTable::set_fd(int index, int fd)
{
    slots_[size_t(index)].fd = fd;
    if (index >= used_)
        used_ = index + 1;
    dirty_ = true;
}

int SlotTable::take_connection_slot()
{
    int index;
    if (!free_connections_.empty()) {
        index = free_connections_.back();
        free_connections_.pop_back();
    } else if (next_connection_ < kSlotCount) {
        index = next_connection_++;
    } else {
        zmo_log(ZMO_LOG_ERROR, "out of socket file descriptors");
        return -1;
    }
    slots_[size_t(index)].taken = true;
    return index;
}

void SlotTable::close(int index)
{
    Slot &s = slots_[size_t(index)];
    s.read = s.write = nullptr;
    if (s.fd >= 0)
        ::close(s.fd);
    s.fd = -1;
    // A second close must not free the index twice.
    if (s.taken) {
        s.taken = false;
        free_connections_.push_back(index);
    }
    dirty_ = true;
}

void SlotTable::close_all()
{
    for (int i = 0; i < used_; i++)
        if (slots_[size_t(i)].fd >= 0)
            close(i);
}

void SlotTable::rebuild()
{
    pfds_.clear();
    pfd_slot_.clear();
    for (int i = 0; i < used_; i++) {
        const Slot &s = slots_[size_t(i)];
        // Descriptor 0 is a descriptor like any other.
        if (s.fd < 0 || (!s.read && !s.write))
            continue;
        short events = short((s.read ? POLLIN : 0) | (s.write ? POLLOUT : 0));
        pfds_.push_back({s.fd, events, 0});
        pfd_slot_.push_back(i);
    }
    dirty_ = false;
}

int SlotTable::poll_and_dispatch(Server &server, int timeout_ms, const sigset_t *wait_mask)
{
    if (dirty_)
        rebuild();
    timespec ts{timeout_ms / 1000, long(timeout_ms % 1000) * 1000000L};
    int n = ppoll(pfds_.data(), pfds_.size(), timeout_ms < 0 ? nullptr : &ts, wait_mask);
    if (n <= 0)
        return n;
    // Handlers only mark the array for rebuilding (at the next poll), so it
    // stays as it is while it is walked.
    for (size_t k = 0; k < pfds_.size(); k++) {
        const pollfd &p = pfds_[k];
        if (!p.revents)
            continue;
        int i = pfd_slot_[k];
        Slot &s = slots_[size_t(i)];
        if (s.fd != p.fd)
            continue;  // closed (and perhaps reused) by an earlier handler
        if ((p.revents & (POLLIN | POLLERR | POLLHUP)) && s.read)
            s.read(server, i);
        if ((p.events & POLLOUT) && (p.revents & (POLLOUT | POLLERR | POLLHUP)) && s.fd == p.fd && s.write)
            s.write(server, i);
    }
    return n;
}

}  // namespace dnsr
