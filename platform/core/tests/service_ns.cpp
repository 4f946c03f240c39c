// Supervised daemons and short processes with real children; run inside a
// scenario namespace (nsrun), as every test that starts daemons.
#include "core_fixture.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class ServiceTest : public CoreTest {
protected:
    std::unique_ptr<Service> New(const char *id, const StringVector &args, const char *pid_file = "",
                                 int first = 100, int second = 300, int third = 10000,
                                 const Event::Delegate &up = Event::Delegate(),
                                 const Event::Delegate &down = Event::Delegate(), bool configured = true)
    {
        return std::unique_ptr<Service>(Service::New(ZMOCORE_CHILD, id, args, configured, 1,
                                                     Time::Span(first), Time::Span(second), up, down,
                                                     pid_file, Time::Span(third), 2000));
    }
    static bool WaitFor(const std::function<bool()> &f, int ms = 5000)
    {
        auto limit = Clock::now() + std::chrono::milliseconds(ms);
        while (!f()) {
            if (Clock::now() > limit)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    std::string Path(const std::string &name) { return dir_ + "/" + name; }
};

TEST_F(ServiceTest, WordsArriveIntactWithoutAShell)
{
    const std::string out = Path("argv.out");
    const StringVector words = {"a;b", "two words", "$(touch " + Path("pwned") + ")", "", "'q'", "*"};
    StringVector args = {"argv", out};
    args.insert(args.end(), words.begin(), words.end());
    auto s = New("Argv", args);
    ASSERT_TRUE(s);
    s->Start();
    ASSERT_TRUE(WaitFor([&] { return access(out.c_str(), F_OK) == 0 && !File(out).empty(); }));
    ASSERT_TRUE(WaitFor([&] {
        const std::string got = File(out);
        return std::count(got.begin(), got.end(), '\0') == 6;
    }));
    std::string got = File(out);
    StringVector seen;
    for (size_t pos = 0; pos < got.size();) {
        size_t end = got.find('\0', pos);
        seen.push_back(got.substr(pos, end - pos));
        pos = end + 1;
    }
    EXPECT_EQ(seen, words);
    EXPECT_NE(access(Path("pwned").c_str(), F_OK), 0);
    EXPECT_TRUE(host_->WaitJournal("service Argv spawn pid=", 5000));
    s->StopWait();
}

struct Watcher {
    Mutex lock{40};
    std::vector<std::string> ups, downs;
    void OnUp(const Event::ServiceUp &e) { ups.push_back(e.id); }
    void OnDown(const Event::ServiceDown &e) { downs.push_back(e.id); }
};

TEST_F(ServiceTest, UpOnlyOnceThePidFileNamesTheChild)
{
    const std::string pid = Path("d.pid");
    // A stale pid file of someone else is no sign of life.
    std::ofstream(pid) << "1\n";
    Watcher w;
    auto up = Event::Delegate::Make("W", &w, &Watcher::OnUp, &w.lock);
    auto s = New("Daemon", {"daemon", pid, "300"}, pid.c_str(), 100, 300, 10000, up);
    s->Start();
    const auto started = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return s->Pid() > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(s->IsUp());
    ASSERT_TRUE(WaitFor([&] { return s->IsUp(); }));
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(290));
    EXPECT_EQ(File(pid), std::to_string(s->Pid()) + "\n");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(w.ups, StringVector{"Daemon"});  // once, though the delegate was given and could subscribe
    s->StopWait();
}

TEST_F(ServiceTest, WithoutAPidFileUpWhenAliveAfterTheFirstSpan)
{
    auto s = New("NoPid", {"daemon", Path("x.pid")}, "", 1000);
    s->Start();
    ASSERT_TRUE(WaitFor([&] { return s->Pid() > 0; }));
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (Clock::now() - t0 < std::chrono::milliseconds(900)) {
        EXPECT_FALSE(s->IsUp());
    }
    EXPECT_TRUE(WaitFor([&] { return s->IsUp(); }));
    s->StopWait();
}

TEST_F(ServiceTest, ChildIgnoringSigtermIsKilledAfterTheSecondSpan)
{
    const std::string pid = Path("s.pid");
    auto s = New("Stubborn", {"stubborn", pid}, pid.c_str(), 100, 400);
    s->Start();
    ASSERT_TRUE(WaitFor([&] { return s->IsUp(); }));
    const int child = s->Pid();
    const auto t0 = Clock::now();
    EXPECT_FALSE(Failed(s->StopWait()));
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(390));
    EXPECT_NE(kill(child, 0), 0);  // gone (and reaped)
    auto lines = host_->JournalMatching("service Stubborn ");
    std::string all;
    for (auto &l : lines)
        all += l + "\n";
    EXPECT_LT(all.find("Terminated pid="), all.find("Killed pid=")) << all;
    EXPECT_THAT(all, Not(HasSubstr("Hangup"))) << all;
}

TEST_F(ServiceTest, DaemonThatReloadsOnSighupIsStoppedNotReloaded)
{
    const std::string pid = Path("h.pid"), log = Path("h.log");
    auto s = New("Reloader", {"hup", pid, log}, pid.c_str(), 100, 5000);
    s->Start();
    ASSERT_TRUE(WaitFor([&] { return s->IsUp(); }));
    EXPECT_FALSE(Failed(s->Signal(1)));  // SIGHUP: reload
    ASSERT_TRUE(WaitFor([&] { return File(log) == "reload\n"; }));
    const auto t0 = Clock::now();
    s->StopWait();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(4000));  // SIGTERM did it, not the SIGKILL at 5 s
    EXPECT_EQ(File(log), "reload\nterm\n");
    EXPECT_TRUE(Failed(s->Signal(1)));  // nothing to signal any more
}

// The down event comes from the event thread: a plug-in may wait for the
// stop under the very lock its handler takes.
TEST_F(ServiceTest, ServiceDownHandlerTakesTheLockHeldOverStopWait)
{
    const std::string pid = Path("l.pid");
    Watcher w;
    auto down = Event::Delegate::Make("W", &w, &Watcher::OnDown, &w.lock);
    ASSERT_FALSE(Failed(Event::Subscribe(Event::Type::ServiceDown, down)));
    auto s = New("Locked", {"daemon", pid}, pid.c_str(), 100, 300, 10000, Event::Delegate(), down);
    s->Start();
    ASSERT_TRUE(WaitFor([&] { return s->IsUp(); }));
    {
        Mutex::Guard g(w.lock);
        const auto t0 = Clock::now();
        EXPECT_FALSE(Failed(s->StopWait()));
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
        EXPECT_TRUE(w.downs.empty());  // its handler waits for us
    }
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(w.downs, StringVector{"Locked"});
    Event::Unsubscribe("W");
}

TEST_F(ServiceTest, RunsOnlyWhileConfiguredAndComesBackAfterTheThirdSpan)
{
    const std::string pid = Path("c.pid");
    auto s =
        New("Conf", {"daemon", pid}, pid.c_str(), 100, 300, 300, Event::Delegate(), Event::Delegate(), false);
    s->Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(s->Pid(), -1);
    s->SetConfigured(true);
    ASSERT_TRUE(WaitFor([&] { return s->IsUp(); }));
    const int first = s->Pid();
    kill(first, SIGKILL);
    ASSERT_TRUE(host_->WaitJournal("service Conf died", 5000));
    ASSERT_TRUE(WaitFor([&] { return s->IsUp() && s->Pid() != first; }));
    EXPECT_TRUE(host_->WaitJournal("event ServiceDown Conf", 5000));
    s->SetConfigured(false);
    ASSERT_TRUE(WaitFor([&] { return s->Pid() == -1; }));
}

TEST_F(ServiceTest, ProcessWaitStatusAndOutput)
{
    Io::Process p("Test::Cli", ZMOCORE_CHILD, 3, 2, 1, 2000, "");
    ASSERT_TRUE(p.Initialized());
    p.SetArguments({"print", "3", "first line", "x;y"});
    ASSERT_FALSE(Failed(p.Start()));
    EXPECT_FALSE(Failed(p.Wait(5000)));
    EXPECT_EQ(p.ExitStatus(), 3);
    EXPECT_EQ(p.Output(), "first line\nx;y\n");
    EXPECT_TRUE(Journaled("process Test::Cli run " ZMOCORE_CHILD " print 3 'first line' 'x;y'"));

    p.SetArguments({"stubborn", Path("p.pid")});
    ASSERT_FALSE(Failed(p.Start()));
    EXPECT_EQ(p.Wait(100), static_cast<ReturnT>(Code::TIMEOUT));
    EXPECT_FALSE(Failed(p.StopWait()));
    EXPECT_FALSE(p.Running());

    Io::Process missing("Test::Cli", "/nonexistent/tool", 3, 2, 1, 2000, "");
    EXPECT_TRUE(Failed(missing.Start()));
}

}  // namespace
