// Timer lists.
#include "timers.h"

#include <algorithm>
#include <new>

namespace dnsr {

Timers::~Timers()
{
	for (Timer **head : {&list_, &immediate_})
		while (Timer *t = *head) {
			*head = t->next;
			release(t);
		}
}

void Timers::release(Timer *t)
{
	t->~Timer();
	acc_.free(t);
}

void Timers::add(int64_t delay_ms, TimerFn fn, uint32_t arg)
{
	void *mem = acc_.alloc(sizeof(Timer));
	if (!mem) {
		zmo_log(ZMO_LOG_ERROR, "can't allocate a timer: out of memory");
		return;
	}
	Timer *t = new (mem) Timer{nullptr, {}, fn, arg};
	if (delay_ms <= 0) {
		t->next = immediate_;
		immediate_ = t;
		return;
	}
	zmo_time_get_monotonic_plus_msec(&t->deadline, delay_ms);
	t->next = list_;
	list_ = t;
	timeout_ = std::min(timeout_, delay_ms);
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
	// Walk a detached list; timers added by callbacks go on the live one.
	Timer *batch = list_;
	list_ = nullptr;
	Timer *keep = nullptr;
	while (Timer *t = batch) {
		batch = t->next;
		if (zmo_time_left_monotonic_msec(&t->deadline) <= 0) {
			t->fn(server, t->arg);
			release(t);
		} else {
			t->next = keep;
			keep = t;
		}
	}
	while (Timer *t = keep) {
		keep = t->next;
		t->next = list_;
		list_ = t;
	}
	update_timeout();
}

void Timers::update_timeout()
{
	timeout_ = kMaxWaitMs;
	for (Timer *t = list_; t; t = t->next)
		timeout_ = std::min(timeout_, std::max<int64_t>(0, zmo_time_left_monotonic_msec(&t->deadline)));
}

int Timers::poll_timeout() const { return immediate_ ? 0 : int(timeout_); }

size_t Timers::pending() const
{
	size_t n = 0;
	for (Timer *head : {list_, immediate_})
		for (Timer *t = head; t; t = t->next)
			n++;
	return n;
}

} // namespace dnsr
