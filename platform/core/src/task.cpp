// Task queues, deferred applies and background tasks.
#include "core_impl.h"

#include <algorithm>

namespace Task {

namespace {
std::atomic<uint64_t> g_next_task{1};
thread_local std::atomic<bool> *t_interrupt = nullptr;
}  // namespace

bool IsInterrupted() { return t_interrupt && t_interrupt->load(); }

Object::Object(Mutex *lock, Status *status) : id_(g_next_task++), lock_(lock), status_(status) {}
Object::~Object() = default;

struct Apply::State {
    Apply::Owner *owner;
    Mutex *lock;
    bool pending = false;
    bool running = false;
    int64_t due = 0;
    uint64_t generation = 0;
};

namespace {

class QueueImpl : public Queue {
public:
    QueueImpl(const String &name, Time::Span idle, void (*destructor)(Object *))
        : name_(name), idle_(idle), destructor_(destructor)
    {
    }
    bool Start()
    {
        if (Core::Host::Impl *c = ::Core::Current()) {
            core_ = c;
            c->AddWatcher(&watcher_);
        }
        try {
            thread_ = std::thread([this] { Loop(); });
        } catch (...) {
            return false;
        }
        return true;
    }
    ~QueueImpl() override
    {
        {
            std::lock_guard<std::mutex> g(m_);
            stop_ = true;
            if (running_)
                interrupt_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
        if (core_)
            core_->RemoveWatcher(&watcher_);
        for (Entry &e : entries_)
            if (destructor_)
                destructor_(e.task);
    }
    ReturnT Enqueue(Object *task, const Event::Delegate &delegate, Time::Span delay) override
    {
        if (!task)
            return static_cast<ReturnT>(Code::FAIL);
        try {
            std::lock_guard<std::mutex> g(m_);
            if (stop_)
                return static_cast<ReturnT>(Code::FAIL);
            entries_.push_back({task, delegate, ::Core::NowMs() + delay.Ms()});
        } catch (...) {
            return static_cast<ReturnT>(Code::OOM);
        }
        ::Core::Journal("task queue " + name_ + " enqueue " + task->Ident() +
                        " id=" + std::to_string(task->Id()));
        cv_.notify_all();
        return static_cast<ReturnT>(Code::DONE);
    }
    void Cancel(const Event::Delegate &delegate) override
    {
        std::unique_lock<std::mutex> g(m_);
        for (auto it = entries_.begin(); it != entries_.end();) {
            if (it->delegate.SameTarget(delegate)) {
                ::Core::Journal("task queue " + name_ +
                                " cancel pending id=" + std::to_string(it->task->Id()));
                if (destructor_)
                    destructor_(it->task);
                it = entries_.erase(it);
            } else {
                ++it;
            }
        }
        if (running_ && running_delegate_.SameTarget(delegate)) {
            interrupt_ = true;
            ::Core::Journal("task queue " + name_ + " interrupt id=" + std::to_string(running_->Id()));
            const bool own_thread = std::this_thread::get_id() == thread_.get_id();
            const bool holds_lock = running_->Lock() && running_->Lock()->HeldByCaller();
            if (!own_thread && !holds_lock)
                cv_.wait(g, [&] { return running_ == nullptr; });
        }
    }
    const String &Name() const override { return name_; }

    void AddApply(const std::shared_ptr<Apply::State> &s)
    {
        std::lock_guard<std::mutex> g(m_);
        applies_.push_back(s);
    }
    ReturnT EnqueueApply(Apply::State &s, uint32_t delay_ms)
    {
        bool joined;
        {
            std::lock_guard<std::mutex> g(m_);
            joined = s.pending;
            if (!joined) {
                s.pending = true;
                s.due = ::Core::NowMs() + delay_ms;
            }
        }
        ::Core::Journal("task apply " +
                        String(joined ? "joined" : "enqueue " + std::to_string(delay_ms) + "ms") + " on " +
                        name_);
        cv_.notify_all();
        return static_cast<ReturnT>(Code::DONE);
    }
    void CancelApply(Apply::State &s)
    {
        std::lock_guard<std::mutex> g(m_);
        if (s.pending)
            ::Core::Journal("task apply cancel on " + name_);
        s.pending = false;
        ++s.generation;
    }
    void RemoveApply(const std::shared_ptr<Apply::State> &s)
    {
        std::unique_lock<std::mutex> g(m_);
        s->pending = false;
        ++s->generation;
        applies_.erase(std::remove(applies_.begin(), applies_.end(), s), applies_.end());
        const bool own_thread = std::this_thread::get_id() == thread_.get_id();
        if (!own_thread && !(s->lock && s->lock->HeldByCaller()))
            cv_.wait(g, [&] { return !s->running; });
    }
    bool ApplyPending(const Apply::State &s)
    {
        std::lock_guard<std::mutex> g(m_);
        return s.pending;
    }

private:
    struct Entry {
        Object *task;
        Event::Delegate delegate;
        int64_t due;
    };

    void Loop()
    {
        std::unique_lock<std::mutex> g(m_);
        while (!stop_) {
            const int64_t now = ::Core::NowMs();
            std::shared_ptr<Apply::State> apply;
            for (auto &s : applies_)
                if (s->pending && s->due <= now && (!apply || s->due < apply->due))
                    apply = s;
            auto task = entries_.end();
            for (auto it = entries_.begin(); it != entries_.end(); ++it)
                if (it->due <= now && (task == entries_.end() || it->due < task->due))
                    task = it;
            if (apply && (task == entries_.end() || apply->due <= task->due)) {
                RunApply(g, apply);
            } else if (task != entries_.end()) {
                Entry e = *task;
                entries_.erase(task);
                // A task may run long: the clock need not wait for it to end.
                watcher_.seen = now;
                RunTask(g, e);
            } else {
                watcher_.seen = now;  // nothing due at now
                cv_.wait_for(g, std::chrono::milliseconds(5));
            }
        }
    }

    void RunApply(std::unique_lock<std::mutex> &g, const std::shared_ptr<Apply::State> &s)
    {
        s->pending = false;
        s->running = true;
        const uint64_t gen = s->generation;
        g.unlock();
        bool locked = !s->lock || s->lock->Lock();
        bool run;
        {
            std::lock_guard<std::mutex> gg(m_);
            run = locked && gen == s->generation;
        }
        if (run) {
            ::Core::Journal("task apply run on " + name_);
            s->owner->Apply();
        }
        if (locked && s->lock)
            s->lock->Unlock();
        g.lock();
        s->running = false;
        cv_.notify_all();
    }

    void RunTask(std::unique_lock<std::mutex> &g, const Entry &e)
    {
        running_ = e.task;
        running_delegate_ = e.delegate;
        interrupt_ = false;
        g.unlock();
        Object *t = e.task;
        const uint64_t id = t->Id();
        String ident = t->Ident();
        Mutex *lock = t->Lock();
        bool locked = !lock || lock->Lock();
        ReturnT r = 0;
        if (locked) {
            ::Core::Journal("task run " + ident + " id=" + std::to_string(id));
            Status::Redirect(t->ReportStatus());
            t_interrupt = &interrupt_;
            try {
                r = t->Run();
            } catch (...) {
                r = static_cast<ReturnT>(Code::FAIL);
            }
            t_interrupt = nullptr;
            Status::Redirect(nullptr);
            if (lock)
                lock->Unlock();
        }
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<uint32_t>(r));
        ::Core::Journal("task done " + ident + " id=" + std::to_string(id) + " result=" + code);
        Event::TaskDone done;
        done.task_id = id;
        done.ident = ident;
        if (Core::Host::Impl *c = ::Core::Current()) {
            try {
                c->Raise(std::make_shared<Event::TaskDone>(done), {e.delegate});
            } catch (...) {
            }
        }
        g.lock();
        running_ = nullptr;
        cv_.notify_all();
    }

    String name_;
    Time::Span idle_;
    void (*destructor_)(Object *);
    std::mutex m_;
    std::condition_variable cv_;
    std::list<Entry> entries_;
    std::vector<std::shared_ptr<Apply::State>> applies_;
    Object *running_ = nullptr;
    Event::Delegate running_delegate_;
    std::atomic<bool> interrupt_{false};
    bool stop_ = false;
    Core::Host::Impl *core_ = nullptr;
    Core::Host::Impl::Watcher watcher_;
    std::thread thread_;
};

}  // namespace

Queue::~Queue() = default;

Queue *Queue::New(const char *name, Time::Span idle, void (*destructor)(Object *))
{
    auto *q = new (std::nothrow) QueueImpl(name ? name : "", idle, destructor);
    if (!q)
        return nullptr;
    if (!q->Start()) {
        delete q;
        return nullptr;
    }
    ::Core::Journal(String("task queue new ") + (name ? name : ""));
    return q;
}

Apply::Apply(Owner &owner, Queue *queue, Mutex *lock) : owner_(owner), queue_(queue), lock_(lock)
{
    if (!queue_)
        return;
    try {
        state_ = std::make_shared<State>();
    } catch (...) {
        queue_ = nullptr;
        return;
    }
    state_->owner = &owner_;
    state_->lock = lock_;
    try {
        static_cast<QueueImpl *>(queue_)->AddApply(state_);
    } catch (...) {
        queue_ = nullptr;
    }
}

Apply::~Apply() { Cleanup(); }

ReturnT Apply::Enqueue(uint32_t delay_ms)
{
    if (!queue_)
        return static_cast<ReturnT>(Code::FAIL);
    return static_cast<QueueImpl *>(queue_)->EnqueueApply(*state_, delay_ms);
}

void Apply::Cancel()
{
    if (queue_)
        static_cast<QueueImpl *>(queue_)->CancelApply(*state_);
}

void Apply::Cleanup()
{
    if (!queue_)
        return;
    static_cast<QueueImpl *>(queue_)->RemoveApply(state_);
    queue_ = nullptr;
}

bool Apply::Pending() const { return queue_ && static_cast<QueueImpl *>(queue_)->ApplyPending(*state_); }

}  // namespace Task
