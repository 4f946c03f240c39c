// Task queues: one thread each, running deferred applies and background
// tasks in due order on the core's clock.
#ifndef ZMOCORE_TASK_H
#define ZMOCORE_TASK_H

#include "zmocore/base.h"
#include "zmocore/event.h"

namespace Task {

class Queue;

// A background task; when Run() returns the core raises
// "Event::Type::TaskDone" with its identifier.
class ZMOCORE_API Object {
public:
    // lock: held while Run() runs (may be null); status: the status its
    // thread reports into (may be null: the thread's own).
    Object(Mutex *lock, Status *status);
    virtual ~Object();
    virtual const char *Ident() const = 0;
    virtual bool Initialized() const { return true; }
    virtual ReturnT Run() = 0;
    uint64_t Id() const { return id_; }
    Mutex *Lock() const { return lock_; }
    Status *ReportStatus() const { return status_; }

private:
    uint64_t id_;
    Mutex *lock_;
    Status *status_;
};

// Whether the calling task's thread was asked to stop.
ZMOCORE_API bool IsInterrupted();

class ZMOCORE_API Queue {
public:
    // A queue with its thread; null when it can't be made. idle: how long the
    // thread may sleep between looks; destructor: called with each task that is
    // dropped unrun (may be null).
    static Queue *New(const char *name, Time::Span idle, void (*destructor)(Object *));
    virtual ~Queue();
    // Runs task (not taken: it belongs to the caller) after the delay.
    // delegate also receives its TaskDone.
    virtual ReturnT Enqueue(Object *task, const Event::Delegate &delegate,
                            Time::Span delay = Time::Span()) = 0;
    // Drops the pending tasks queued with this delegate and interrupts its
    // running one; waits for that to end unless the caller holds its lock.
    virtual void Cancel(const Event::Delegate &delegate) = 0;
    virtual const String &Name() const = 0;
};

// Runs the owner's Apply() on a queue after a delay; a request while one is
// pending joins it.
class ZMOCORE_API Apply {
public:
    class ZMOCORE_API Owner {
    public:
        virtual ~Owner() = default;
        virtual ReturnT Apply() = 0;
    };
    Apply(Owner &owner, Queue *queue, Mutex *lock);
    ~Apply();
    bool Initialized() const { return queue_ != nullptr; }
    ReturnT Enqueue(uint32_t delay_ms);
    void Cancel();
    // Waits for a run in progress and drops the pending one.
    void Cleanup();
    bool Pending() const;

    // The queue's side.
    struct State;

private:
    Owner &owner_;
    Queue *queue_;
    Mutex *lock_;
    std::shared_ptr<State> state_;
};

}  // namespace Task

#endif
