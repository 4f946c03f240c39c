// Events: subscriptions and the core's one event thread.
#include "core_impl.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace Event {

namespace {
struct Name {
    Type type;
    const char *name;
};
const Name kNames[] = {
    {Type::Fs, "Event::Type::Fs"},
    {Type::Host, "Event::Type::Host"},
    {Type::User, "Event::Type::User"},
    {Type::Domain, "Event::Type::Domain"},
    {Type::ServiceUp, "Event::Type::ServiceUp"},
    {Type::ServiceDown, "Event::Type::ServiceDown"},
    {Type::IfStateChanged, "Event::Type::IfStateChanged"},
    {Type::IfIpChanged, "Event::Type::IfIpChanged"},
    {Type::IfCreated, "Event::Type::IfCreated"},
    {Type::IfPrivateChanged, "Event::Type::IfPrivateChanged"},
    {Type::IfDestroyed, "Event::Type::IfDestroyed"},
    {Type::SystemReady, "Event::Type::SystemReady"},
    {Type::SystemShutdown, "Event::Type::SystemShutdown"},
    {Type::Wan, "Event::Type::Wan"},
    {Type::KnownHost, "Event::Type::KnownHost"},
    {Type::Neighbour, "Event::Type::Neighbour"},
    {Type::TaskDone, "Event::Type::TaskDone"},
    {Type::Progress, "Event::Type::Progress"},
    {Type::SaveConfiguration, "Event::Type::SaveConfiguration"},
    {Type::Device, "Event::Type::Device"},
};
}  // namespace

const char *TypeName(Type t)
{
    for (const Name &n : kNames)
        if (n.type == t)
            return n.name;
    return "Event::Type::?";
}

bool TypeFromName(const String &name, Type *t)
{
    for (const Name &n : kNames) {
        String full(n.name);
        if (name == full || name == full.substr(13)) {
            *t = n.type;
            return true;
        }
    }
    return false;
}

Base::Base(Type t) : type_(t), raised_(Time::Span::Now()) {}

String Base::Describe() const { return String(TypeName(type_)).substr(13); }
String Fs::Describe() const
{
    return "Fs action=" + std::to_string(action) + " name=" + name + " label=" + label +
           " usb=" + (usb ? "1" : "0") + " type=" + std::to_string(type);
}
bool User::HasTag(const String &tag) const
{
    for (const String &t : tags)
        if (t == tag)
            return true;
    return false;
}
bool User::GetPassword(const String &type, String *out) const
{
    auto it = passwords.find(type);
    if (it == passwords.end())
        return false;
    *out = it->second;
    return true;
}
String User::Describe() const { return "User action=" + std::to_string(action) + " name=" + name; }
String ServiceUp::Describe() const { return "ServiceUp " + id; }
String ServiceDown::Describe() const { return "ServiceDown " + id; }
String IfStateChanged::Describe() const
{
    return "IfStateChanged change=" + std::to_string(change) + " id=" + id + " name=" + system_name +
           " link=" + std::to_string(link) + " connection=" + std::to_string(connection) +
           " ifup=" + std::to_string(ifup);
}
String IfIpChanged::Describe() const { return "IfIpChanged id=" + id + " ip=" + block.ToString(); }
String IfCreated::Describe() const { return "IfCreated id=" + id + " name=" + system_name; }
String IfPrivateChanged::Describe() const
{
    return "IfPrivateChanged id=" + id + " level=" + std::to_string(level);
}
String IfDestroyed::Describe() const { return "IfDestroyed id=" + id; }
String Wan::Describe() const { return "Wan id=" + id; }
String KnownHost::Describe() const
{
    return "KnownHost action=" + std::to_string(action) + " mac=" + mac.ToString();
}
String Neighbour::Describe() const
{
    return "Neighbour action=" + std::to_string(action) + " mac=" + mac.ToString() +
           " ip=" + address.ToString();
}
String TaskDone::Describe() const { return "TaskDone id=" + std::to_string(task_id) + " ident=" + ident; }
String Progress::Describe() const { return "Progress " + what + " " + std::to_string(percent) + "%"; }
String Device::Get(const String &key) const
{
    auto it = values.find(key);
    return it == values.end() ? String() : it->second;
}
String Device::Describe() const
{
    return String("Device ") + (action == 0 ? "add " : "remove ") + subsystem + " " + Get("DEVICE");
}

void Delegate::CallUnlocked(const Base &e) const
{
    if (call_)
        call_(e);
}

void Delegate::Call(const Base &e) const
{
    if (!call_)
        return;
    if (lock_) {
        Mutex::Guard g(*lock_);
        if (!g.Locked())
            return;
        call_(e);
    } else {
        call_(e);
    }
}

ReturnT Subscribe(Type type, const Delegate &delegate)
{
    Core::Host::Impl *c = ::Core::Current();
    if (!c || !delegate.Valid())
        return static_cast<ReturnT>(Code::FAIL);
    if (c->ShouldFail("event.subscribe")) {
        ::Core::Journal(String("event subscribe refused ") + delegate.Owner() + " " + TypeName(type));
        return static_cast<ReturnT>(Code::FAIL);
    }
    try {
        std::lock_guard<std::mutex> g(c->ev_mutex);
        c->subscriptions.push_back({c->next_subscription++, type, delegate});
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    ::Core::Journal(String("event subscribe ") + delegate.Owner() + " " + TypeName(type));
    return static_cast<ReturnT>(Code::DONE);
}

void Unsubscribe(const String &owner)
{
    if (Core::Host::Impl *c = ::Core::Current())
        c->Unsubscribe(owner);
}

ReturnT RaiseShared(std::shared_ptr<Base> event)
{
    Core::Host::Impl *c = ::Core::Current();
    if (!c || !event)
        return static_cast<ReturnT>(Code::FAIL);
    return c->Raise(std::move(event), {});
}

}  // namespace Event

namespace Core {

void Host::Impl::Unsubscribe(const String &owner)
{
    std::unique_lock<std::mutex> g(ev_mutex);
    size_t before = subscriptions.size();
    auto of_owner = [&](const Event::Delegate &d) { return d.Owner() == owner; };
    subscriptions.erase(std::remove_if(subscriptions.begin(), subscriptions.end(),
                                       [&](const Subscription &s) { return of_owner(s.delegate); }),
                        subscriptions.end());
    // Events still queued with this owner's own delegates (a task's end) must
    // not reach an object that may go right after.
    for (PendingEvent &p : ev_queue)
        p.extra.erase(std::remove_if(p.extra.begin(), p.extra.end(), of_owner), p.extra.end());
    try {
        delivering_dropped.push_back(owner);
    } catch (...) {
        delivering_forgotten = true;  // drop them all rather than call a gone one
    }
    // A handler of this owner may be running: its object may go right after.
    if (std::this_thread::get_id() != event_thread_id)
        ev_cv.wait(g, [&] { return calling_owner != owner || calling_id == 0; });
    if (before != subscriptions.size()) {
        g.unlock();
        ::Core::Journal("event unsubscribe " + owner);
    }
}

void Host::Impl::ForgetSource(const void *source)
{
    std::unique_lock<std::mutex> g(ev_mutex);
    for (PendingEvent &p : ev_queue)
        if (p.source == source)
            p.extra.clear();
    if (source && delivering_source == source)
        delivering_forgotten = true;
    if (std::this_thread::get_id() != event_thread_id)
        ev_cv.wait(g, [&] { return calling_source != source; });
}

ReturnT Host::Impl::Raise(std::shared_ptr<Event::Base> e, std::vector<Event::Delegate> extra,
                          const void *source)
{
    try {
        e->SetRaiseTime(Time::Span(NowMs()));
        std::lock_guard<std::mutex> g(ev_mutex);
        if (ev_stop)
            return static_cast<ReturnT>(Code::FAIL);
        PendingEvent p;
        p.event = std::move(e);
        p.extra = std::move(extra);
        p.source = source;
        ev_queue.push_back(std::move(p));
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    ev_cv.notify_all();
    return static_cast<ReturnT>(Code::DONE);
}

void Host::Impl::Post(std::function<void()> call)
{
    try {
        std::lock_guard<std::mutex> g(ev_mutex);
        PendingEvent p;
        p.call = std::move(call);
        ev_queue.push_back(std::move(p));
    } catch (...) {
        return;
    }
    ev_cv.notify_all();
}

bool Host::Impl::Drain(uint32_t timeout_ms)
{
    if (std::this_thread::get_id() == event_thread_id)
        return true;
    std::unique_lock<std::mutex> g(ev_mutex);
    return ev_cv.wait_for(g, std::chrono::milliseconds(timeout_ms),
                          [&] { return ev_queue.empty() && !ev_busy; });
}

void Host::Impl::EventLoop()
{

    std::unique_lock<std::mutex> g(ev_mutex);
    for (;;) {
        ev_cv.wait(g, [&] { return ev_stop || !ev_queue.empty(); });
        if (ev_queue.empty())
            return;  // stopping, all delivered
        PendingEvent p = std::move(ev_queue.front());
        ev_queue.pop_front();
        ev_busy = true;
        delivering_source = p.source;
        delivering_forgotten = false;
        delivering_dropped.clear();
        if (p.call) {
            g.unlock();
            p.call();
            g.lock();
        } else {
            const Event::Base &e = *p.event;
            if (auto *pr = dynamic_cast<const Event::Progress *>(&e))
                progress[pr->what] = pr->percent;
            // Subscribers in order, then the raiser's own delegates; one call per handler.
            struct Target {
                uint64_t id;
                Event::Delegate d;
            };
            std::vector<Target> targets;
            for (const Subscription &s : subscriptions)
                if (s.type == e.GetType())
                    targets.push_back({s.id, s.delegate});
            for (const Event::Delegate &d : p.extra) {
                bool dup = false;
                for (const Target &t : targets)
                    dup = dup || t.d.SameTarget(d);
                if (!dup)
                    targets.push_back({0, d});
            }
            g.unlock();
            ::Core::Journal("event " + e.Describe());
            // Whether the target may still be called: an owner that left is
            // skipped (its object may be gone).
            auto stillThere = [&](const Target &t) {
                if (t.id) {
                    for (const Subscription &s : subscriptions)
                        if (s.id == t.id)
                            return true;
                    return false;
                }
                return !delivering_forgotten &&
                       std::find(delivering_dropped.begin(), delivering_dropped.end(), t.d.Owner()) ==
                           delivering_dropped.end();
            };
            for (const Target &t : targets) {
                // The call is claimed before the owner's lock is taken, so an
                // Unsubscribe waits for it; the lock is only tried, so an owner
                // unsubscribing under its own lock is seen leaving instead of
                // waited for.
                bool still;
                {
                    std::lock_guard<std::mutex> gg(ev_mutex);
                    still = stillThere(t);
                    if (still) {
                        calling_id = t.id ? t.id : ~0ull;
                        calling_source = t.id ? nullptr : p.source;
                        calling_owner = t.d.Owner();
                    }
                }
                Mutex *lock = still ? t.d.Lock() : nullptr;
                while (lock && !lock->TryLock()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    std::lock_guard<std::mutex> gg(ev_mutex);
                    if (!stillThere(t)) {
                        still = false;
                        lock = nullptr;
                    }
                }
                if (still) {
                    // It may have left while the lock was awaited.
                    std::lock_guard<std::mutex> gg(ev_mutex);
                    still = stillThere(t);
                }
                if (still) {
                    try {
                        t.d.CallUnlocked(e);  // its lock is held already
                    } catch (...) {
                        ::Core::Journal("event handler threw");
                    }
                }
                {
                    std::lock_guard<std::mutex> gg(ev_mutex);
                    calling_id = 0;
                    calling_source = nullptr;
                    calling_owner.clear();
                }
                if (lock)
                    lock->Unlock();
                ev_cv.notify_all();
            }
            g.lock();
        }
        ev_busy = false;
        delivering_source = nullptr;
        ev_cv.notify_all();
    }
}

}  // namespace Core
