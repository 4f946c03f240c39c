// Timers: a deadline heap and the immediate list.
#include "timers.h"

#include <algorithm>
#include <new>

namespace dnsr {

Timers::~Timers()
{
    for (Timer *t : heap_)
        release(t);
    while (Timer *t = immediate_) {
        immediate_ = t->next;
        release(t);
    }
}

void Timers::release(Timer *t)
{
    t->~Timer();
    acc_.free(t);
}

size_t Timers::timer_bytes() { return sizeof(Timer); }

bool Timers::add(int64_t delay_ms, TimerFn fn, uint64_t arg)
{
    void *mem = acc_.alloc(sizeof(Timer));
    if (!mem) {
        zmo_log(ZMO_LOG_ERROR, "can't allocate a timer: out of memory");
        return false;
    }
    Timer *t = new (mem) Timer{nullptr, {}, fn, arg};
    if (delay_ms <= 0) {
        t->next = immediate_;
        immediate_ = t;
        return true;
    }
    zmo_time_get_monotonic_plus_msec(&t->deadline, delay_ms);
    heap_.push_back(t);
    std::push_heap(heap_.begin(), heap_.end(), later);
    timeout_ = std::min(timeout_, delay_ms);
    return true;
}

void Timers::run_immediate(Server &server)
{
    // Timers added while these run wait for the next round, so a timer that
    // re-adds itself with delay 0 can't keep the loop here.
    Timer *batch = immediate_;
    immediate_ = nullptr;
    while (Timer *t = batch) {
        batch = t->next;
        t->fn(server, t->arg);
        release(t);
    }
}

void Timers::run_due(Server &server)
{
    // Only timers due when the walk starts run: one that a callback adds
    // with a deadline already passed waits for the next round.
    zmo_time_t now;
    zmo_time_get_monotonic(&now);
    while (!heap_.empty() && zmo_time_less_or_equal(&heap_.front()->deadline, &now)) {
        std::pop_heap(heap_.begin(), heap_.end(), later);
        Timer *t = heap_.back();
        heap_.pop_back();
        t->fn(server, t->arg);
        release(t);
    }
    update_timeout();
}

void Timers::update_timeout()
{
    timeout_ = kMaxWaitMs;
    if (!heap_.empty())
        timeout_ =
            std::min(timeout_, std::max<int64_t>(0, zmo_time_left_monotonic_msec(&heap_.front()->deadline)));
}

int Timers::poll_timeout() const { return immediate_ ? 0 : int(timeout_); }

size_t Timers::pending() const
{
    size_t n = heap_.size();
    for (Timer *t = immediate_; t; t = t->next)
        n++;
    return n;
}

}  // namespace dnsr
