// Event delivery: order, the delegate's lock held while its handler runs,
// unsubscribing by owner, and the lock precedence check.
#include "core_fixture.h"

#include <atomic>
#include <thread>

namespace {

struct Listener {
    explicit Listener(unsigned precedence = 10) : lock(precedence) {}
    void OnHost(const Event::Host &e)
    {
        held_during_handler = lock.HeldByCaller();
        names.push_back(e.name);
    }
    void OnHostAgain(const Event::Host &e) { names.push_back("again:" + e.name); }
    Mutex lock;
    bool held_during_handler = false;
    std::vector<std::string> names;
};

class EventTest : public CoreTest {};

TEST_F(EventTest, DeliveredInOrderWithTheLockHeld)
{
    Listener l;
    ASSERT_FALSE(Failed(
        Event::Subscribe(Event::Type::Host, Event::Delegate::Make("L", &l, &Listener::OnHost, &l.lock))));
    for (const char *n : {"a", "b", "c"}) {
        Event::Host e;
        e.name = n;
        Event::Raise(e);
    }
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(l.names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(l.held_during_handler);
    Event::Unsubscribe("L");
}

TEST_F(EventTest, HandlerWaitsForTheLockItsObjectHolds)
{
    Listener l;
    Event::Subscribe(Event::Type::Host, Event::Delegate::Make("L", &l, &Listener::OnHost, &l.lock));
    {
        Mutex::Guard g(l.lock);
        Event::Host e;
        e.name = "x";
        Event::Raise(e);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(l.names.empty());  // not while we hold it
    }
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(l.names.size(), 1u);
    Event::Unsubscribe("L");
}

TEST_F(EventTest, UnsubscribeDropsEveryDelegateOfTheOwner)
{
    Listener a, b;
    Event::Subscribe(Event::Type::Host, Event::Delegate::Make("A", &a, &Listener::OnHost, &a.lock));
    Event::Subscribe(Event::Type::Host, Event::Delegate::Make("A", &a, &Listener::OnHostAgain, &a.lock));
    Event::Subscribe(Event::Type::Host, Event::Delegate::Make("B", &b, &Listener::OnHost, &b.lock));
    Event::Unsubscribe("A");
    Event::Host e;
    e.name = "h";
    Event::Raise(e);
    ASSERT_TRUE(host_->Drain());
    EXPECT_TRUE(a.names.empty());
    EXPECT_EQ(b.names.size(), 1u);
    Event::Unsubscribe("B");
}

TEST_F(EventTest, RefusedSubscriptionIsReported)
{
    Listener l;
    host_->InjectFailure("event.subscribe");
    EXPECT_TRUE(Failed(
        Event::Subscribe(Event::Type::Host, Event::Delegate::Make("L", &l, &Listener::OnHost, &l.lock))));
}

// Precedence 40 then 67 is the allowed order; 67 then 40 is caught.
TEST_F(EventTest, InvertedLockPairIsCaught)
{
    Mutex component(40), controller(67);
    {
        Mutex::Guard outer(component);
        Mutex::Guard inner(controller);
        EXPECT_TRUE(outer.Locked());
        EXPECT_TRUE(inner.Locked());
        // Taking one already held again is fine (recursive).
        Mutex::Guard again(component);
        EXPECT_TRUE(again.Locked());
    }
    {
        Mutex::Guard outer(controller);
        Mutex::Guard inner(component);
        EXPECT_TRUE(outer.Locked());
        EXPECT_FALSE(inner.Locked());
    }
    EXPECT_TRUE(Journaled("lock-order violation: precedence 40 under 67"));
    // Nothing stays held after a refusal.
    std::atomic<bool> taken{false};
    std::thread t([&] {
        Mutex::Guard g(component);
        taken = g.Locked();
    });
    t.join();
    EXPECT_TRUE(taken);
}

// A handler holding a high lock that takes a lower one is refused too.
TEST_F(EventTest, InversionInsideAHandlerIsCaught)
{
    struct Inverter {
        Mutex high{67}, low{40};
        bool inner_locked = true;
        void OnHost(const Event::Host &)
        {
            Mutex::Guard g(low);
            inner_locked = g.Locked();
        }
    } inv;
    Event::Subscribe(Event::Type::Host, Event::Delegate::Make("I", &inv, &Inverter::OnHost, &inv.high));
    Event::Raise(Event::Host());
    ASSERT_TRUE(host_->Drain());
    EXPECT_FALSE(inv.inner_locked);
    Event::Unsubscribe("I");
}

}  // namespace
