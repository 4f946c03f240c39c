// Timers of the event loop: timers with a delay, ordered by deadline, and a
// list of zero-delay timers that run at the end of the round they were
// added in. Every request keeps a try timer, so the delayed ones sit in a
// binary heap: a round costs the due timers, not all of them.
#pragma once

#include "accounted_alloc.h"

#include <zmo.h>

#include <cstdint>
#include <vector>

namespace dnsr {

struct Server;
// The argument holds a number or a pointer.
using TimerFn = void (*)(Server &, uint64_t arg);

class Timers {
public:
    static constexpr int64_t kMaxWaitMs = 10000;

    explicit Timers(Accountant &acc) : acc_(acc) {}
    ~Timers();
    Timers(const Timers &) = delete;
    Timers &operator=(const Timers &) = delete;

    // Delay 0 puts the timer on the immediate list. Logs and drops the timer
    // (false) when memory is short.
    bool add(int64_t delay_ms, TimerFn fn, uint64_t arg = 0);
    // What one timer takes from the accounted allocator.
    static size_t timer_bytes();
    // The immediate timers present now, most recently added first.
    void run_immediate(Server &server);
    // Every timer whose deadline has passed; then the wait for the next poll.
    void run_due(Server &server);
    // How long poll may wait: the least time left, at most 10000 ms, 0 when
    // immediate timers are waiting.
    int poll_timeout() const;
    size_t pending() const;

private:
    struct Timer {
        Timer *next;
        zmo_time_t deadline;
        TimerFn fn;
        uint64_t arg;
    };
    static bool later(const Timer *a, const Timer *b) { return zmo_time_less(&b->deadline, &a->deadline); }
    void release(Timer *t);
    void update_timeout();

    Accountant &acc_;
    std::vector<Timer *> heap_;  // earliest deadline first
    Timer *immediate_ = nullptr;
    int64_t timeout_ = kMaxWaitMs;
};

}  // namespace dnsr
