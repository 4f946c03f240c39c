// The socket slots that the poll loop serves: fixed slots for the listeners
// and upstream sockets, connection slots from 9 upward.
#pragma once

#include <poll.h>
#include <signal.h>

#include <cstddef>

#include <array>
#include <vector>

namespace dnsr {

struct Server;
using SlotHandler = void (*)(Server &, int index);

enum FixedSlot {
    kSlotUdp4 = 0,
    kSlotUdp6 = 1,
    kSlotUpstream4 = 2,
    kSlotUpstream6 = 3,
    kSlotTcp4 = 4,
    kSlotTcp6 = 5,
    kSlotRpc = 8,
    kFirstConnectionSlot = 9,
    kSlotCount = 256,
};

struct Slot {
    int fd = -1;
    SlotHandler read = nullptr;
    SlotHandler write = nullptr;
    bool taken = false;  // a connection slot handed out and not yet freed
};

class SlotTable {
public:
    ~SlotTable() { close_all(); }

    Slot &at(int index) { return slots_[size_t(index)]; }
    // Sets the handler pair of a slot; false (and logged) past the table.
    bool set_handlers(int index, SlotHandler read, SlotHandler write);
    void set_fd(int index, int fd);
    // A free connection slot, the most recently freed first; -1 when none.
    int take_connection_slot();
    // Closes the descriptor and frees the slot.
    void close(int index);
    void close_all();

    // Waits for the slots that have handlers; dispatches ready ones in index
    // order: the read handler, then the write handler. A handler may close
    // its own or other slots. errno is kept from a failed poll.
    int poll_and_dispatch(Server &server, int timeout_ms, const sigset_t *wait_mask);

private:
    void rebuild();

    std::array<Slot, kSlotCount> slots_;
    int used_ = 0;  // indexes ever used: 0 .. used_ - 1
    int next_connection_ = kFirstConnectionSlot;
    std::vector<int> free_connections_;
    bool dirty_ = true;
    std::vector<pollfd> pfds_;
    std::vector<int> pfd_slot_;
};

}  // namespace dnsr
