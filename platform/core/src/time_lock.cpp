// The core's clock and the checked locks.
#include "core_impl.h"

#include <algorithm>

Time::Span Time::Span::Now() { return Span(::Core::NowMs()); }

namespace {
// Locks the calling thread holds, in the order taken (recursion repeats).
thread_local std::vector<Mutex *> t_held;
}  // namespace

bool Mutex::HeldByCaller() const { return std::find(t_held.begin(), t_held.end(), this) != t_held.end(); }

bool Mutex::Lock() { return Take(true); }

bool Mutex::TryLock() { return Take(false); }

bool Mutex::Take(bool wait)
{
    if (precedence_ != 0 && !HeldByCaller()) {
        for (Mutex *h : t_held) {
            if (h->precedence_ > precedence_) {
                ::Core::Journal("lock-order violation: precedence " + std::to_string(precedence_) +
                                " under " + std::to_string(h->precedence_));
                Log::Write("Mutex", 2,
                           "lock of precedence " + std::to_string(precedence_) +
                               " taken under one of precedence " + std::to_string(h->precedence_) +
                               ", refused");
                return false;
            }
        }
    }
    if (wait)
        mutex_.lock();
    else if (!mutex_.try_lock())
        return false;
    try {
        t_held.push_back(this);
    } catch (...) {
        mutex_.unlock();
        return false;
    }
    return true;
}

void Mutex::Unlock()
{
    auto it = std::find(t_held.rbegin(), t_held.rend(), this);
    if (it != t_held.rend())
        t_held.erase(std::next(it).base());
    mutex_.unlock();
}
