// Deferred applies and background tasks on the injectable clock.
#include "core_fixture.h"

#include <atomic>
#include <thread>

namespace {

class TaskTest : public CoreTest {
protected:
    void SetUp() override { Make(true); }
};

struct Applier : Task::Apply::Owner {
    Mutex lock{20};
    std::atomic<int> runs{0};
    std::atomic<bool> held{false};
    ReturnT Apply() override
    {
        held = lock.HeldByCaller();
        ++runs;
        return static_cast<ReturnT>(Code::DONE);
    }
};

TEST_F(TaskTest, ApplyRunsAfterItsDelayAndARequestWhilePendingJoinsIt)
{
    Applier a;
    Task::Apply apply(a, Core::Core::TaskQueue(), &a.lock);
    ASSERT_TRUE(apply.Initialized());
    apply.Enqueue(1500);
    host_->Advance(1000);
    apply.Enqueue(1500);  // joins the pending one: still due at 1500
    EXPECT_TRUE(Journaled("task apply joined"));
    host_->Advance(400);
    EXPECT_EQ(a.runs, 0);
    host_->Advance(100);
    EXPECT_EQ(a.runs, 1);
    EXPECT_TRUE(a.held);
    host_->Advance(5000);
    EXPECT_EQ(a.runs, 1);  // once for both requests
    // After a run a new request waits its own delay.
    apply.Enqueue(1500);
    host_->Advance(1499);
    EXPECT_EQ(a.runs, 1);
    host_->Advance(1);
    EXPECT_EQ(a.runs, 2);
}

TEST_F(TaskTest, CancelDropsThePendingApply)
{
    Applier a;
    Task::Apply apply(a, Core::Core::TaskQueue(), &a.lock);
    apply.Enqueue(1500);
    {
        Mutex::Guard g(a.lock);  // as a plug-in cancels: under its own lock
        apply.Cancel();
    }
    host_->Advance(3000);
    EXPECT_EQ(a.runs, 0);
    EXPECT_FALSE(apply.Pending());
}

struct Counter : Task::Object {
    Counter(Status *s, int steps) : Task::Object(nullptr, s), steps_(steps) {}
    const char *Ident() const override { return "Test::Counter"; }
    ReturnT Run() override
    {
        StatusLog(0x00110001u, 0, "Test::Counter", "running");
        for (int i = 0; i < steps_; ++i) {
            if (Task::IsInterrupted())
                return StatusLog(0x40110002u, 1, "Test::Counter", "interrupted at %1") << i;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            Event::Raise(Event::Progress("count", i, 0));
        }
        return StatusLog(0x00110003u, 0, "Test::Counter", "counted %1") << steps_;
    }
    int steps_;
};

struct Manager {
    Mutex lock{30};
    std::vector<uint64_t> done;
    void OnTaskDone(const Event::TaskDone &e) { done.push_back(e.task_id); }
};

TEST_F(TaskTest, TaskDoneCarriesTheTaskAndItsStatusReachesTheOwner)
{
    Manager m;
    auto d = Event::Delegate::Make("Test::Manager", &m, &Manager::OnTaskDone, &m.lock);
    ASSERT_FALSE(Failed(Event::Subscribe(Event::Type::TaskDone, d)));
    std::unique_ptr<Task::Queue> q(Task::Queue::New("Test queue", Time::Span(1000), nullptr));
    ASSERT_TRUE(q);
    Status status;
    Counter c(&status, 5);
    q->Enqueue(&c, d, Time::Span(200));
    host_->Advance(100);
    EXPECT_TRUE(m.done.empty());
    host_->Advance(100);
    ASSERT_TRUE(host_->WaitJournal("event TaskDone", 5000));
    ASSERT_TRUE(host_->Drain());
    // Subscribed and given with the queueing: handled once.
    ASSERT_EQ(m.done, std::vector<uint64_t>{c.Id()});
    EXPECT_EQ(status.Code(), 0x00110003);
    EXPECT_EQ(status.Message(), "counted 5");
    // The caller's own status is untouched by the task's thread.
    EXPECT_NE(Status::Current().Code(), 0x00110003);
    Event::Unsubscribe("Test::Manager");
}

TEST_F(TaskTest, CancelInterruptsTheRunningTaskAndWaitsForIt)
{
    Manager m;
    auto d = Event::Delegate::Make("Test::Manager", &m, &Manager::OnTaskDone, &m.lock);
    std::unique_ptr<Task::Queue> q(Task::Queue::New("Test queue", Time::Span(1000), nullptr));
    Status status;
    auto c = std::make_unique<Counter>(&status, 100000);
    q->Enqueue(c.get(), d);
    ASSERT_TRUE(host_->WaitJournal("task run Test::Counter", 5000));
    {
        Mutex::Guard g(m.lock);
        q->Cancel(d);  // returns once the task has stopped: it may go now
    }
    c.reset();
    EXPECT_EQ(status.Code(), 0x40110002);
    ASSERT_TRUE(host_->WaitJournal("event TaskDone", 5000));
    // A pending task of the same delegate is dropped unrun.
    Counter later(&status, 1);
    q->Enqueue(&later, d, Time::Span(100));
    q->Cancel(d);
    host_->Advance(1000);
    EXPECT_TRUE(host_->JournalMatching("task run Test::Counter id=" + std::to_string(later.Id())).empty());
}

}  // namespace
