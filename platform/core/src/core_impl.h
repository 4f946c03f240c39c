// Inside the core: what its parts share. Not installed.
#ifndef ZMOCORE_IMPL_H
#define ZMOCORE_IMPL_H

#include "zmocore.h"
#include "zmocore/host.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <set>
#include <thread>

// Nothing in here is part of the interface (Host::Impl hangs off Host all the same).
#pragma GCC visibility push(hidden)

namespace Core {

class ChildSupervisor;
struct ChildRun;
class ServiceImpl;
class CommandTree;
class FeedbackHub;
class BuiltIns;
struct ScriptState;

// One pending delivery: the event and the delegates that get it.
struct PendingEvent {
    std::shared_ptr<Event::Base> event;
    std::vector<Event::Delegate> extra;  // given with the raise (a service's own)
    const void *source = nullptr;        // who gave the extra delegates
    std::function<void()> call;          // or a plain call on the event thread
};

struct __attribute__((visibility("hidden"))) Host::Impl {
    explicit Impl(const HostOptions &o);

    HostOptions options;

    // ---- clock
    std::chrono::steady_clock::time_point real_start;
    std::atomic<int64_t> manual_ms{0};
    int64_t NowMs() const;
    // Loops that act on the clock (task queues, the supervisor) report the
    // time of their last complete look, so that moving the manual clock can
    // wait until each has acted on it.
    struct Watcher {
        std::atomic<int64_t> seen{-1};
    };
    std::mutex watchers_mutex;
    std::vector<Watcher *> watchers;
    void AddWatcher(Watcher *w);
    void RemoveWatcher(Watcher *w);
    // Until every watcher has looked at time t (real-time bound).
    void WaitWatchers(int64_t t, uint32_t timeout_ms);
    // Sleeps a short real slice, or less; for loops that watch the clock.
    static void Nap() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }

    // ---- journal
    mutable std::mutex journal_mutex;
    std::condition_variable journal_cv;
    StringVector journal;
    void Note(const String &line);

    // ---- failure injection
    std::mutex fail_mutex;
    struct Injected {
        int after = 0;
        int count = 0;
    };
    std::map<String, Injected> failures;
    bool ShouldFail(const String &op);

    // ---- components
    mutable std::mutex comp_mutex;
    std::map<String, Module::Component *> components;

    // ---- events
    std::mutex ev_mutex;
    std::condition_variable ev_cv;
    std::deque<PendingEvent> ev_queue;
    struct Subscription {
        uint64_t id;
        Event::Type type;
        Event::Delegate delegate;
    };
    std::vector<Subscription> subscriptions;
    uint64_t next_subscription = 1;
    uint64_t calling_id = 0;  // subscription being called
    const void *calling_source = nullptr;
    String calling_owner;
    const void *delivering_source = nullptr;
    bool delivering_forgotten = false;
    // Owners unsubscribed while the current event is delivered: their extra
    // delegates are not called any more.
    std::vector<String> delivering_dropped;
    bool ev_busy = false;
    bool ev_stop = false;
    std::thread ev_thread;
    std::map<String, int> progress;  // latest percentage by what
    void EventLoop();
    ReturnT Raise(std::shared_ptr<Event::Base> e, std::vector<Event::Delegate> extra,
                  const void *source = nullptr);
    // Drops the extra delegates that source gave and waits out a call of one.
    void ForgetSource(const void *source);
    void Unsubscribe(const String &owner);
    void Post(std::function<void()> call);
    bool Drain(uint32_t timeout_ms);
    std::atomic<std::thread::id> event_thread_id{};

    // ---- children, task queue, commands, feedback, built-in services
    std::unique_ptr<ChildSupervisor> children;
    std::unique_ptr<Task::Queue> core_queue;
    std::unique_ptr<CommandTree> commands;
    std::unique_ptr<FeedbackHub> feedback;
    std::unique_ptr<BuiltIns> builtins;

    std::shared_ptr<ScriptState> script;

    // ---- modules
    struct Loaded {
        void *handle;
        Module::Object *object;
        String name;
    };
    std::vector<Loaded> modules;
};

// The process's core; the framework's free functions reach it through here.
Host::Impl *Current();
void Journal(const String &line);
bool Fail(const String &op);

// Words for the journal, quoted where a blank or a shell character would
// blur where one ends.
String JoinWords(const StringVector &words);

// A fixed system path under the core's root.
String MapPath(const String &path);

// Monotonic milliseconds of the core's clock (0-based real time when there is
// no core).
int64_t NowMs();

// A child process run by argument vector.
struct ChildRun {
    int pid = -1;
    int out_fd = -1;  // its stdout and stderr, when kept
    bool exited = false;
    bool killed = false;
    int status = 0;  // waitpid status
    String output;
    std::mutex m;
    std::condition_variable cv;
};

class ChildSupervisor {
public:
    explicit ChildSupervisor(Host::Impl &core);
    ~ChildSupervisor();
    // Spawns program (looked up in PATH) with argv; keep_output pipes its
    // stdout and stderr into the run. Null with errno when it can't start.
    // locked: the caller holds Mutex() (a service's tick).
    std::shared_ptr<ChildRun> Spawn(const String &program, const StringVector &argv, bool keep_output,
                                    bool locked = false);
    void Add(ServiceImpl *s);
    void Remove(ServiceImpl *s);
    // Wakes the loop (a service changed its wish).
    void Kick();
    // -1: no such service; 0: not up; 1: up.
    int ServiceState(const String &id);
    StringVector ServiceIds();
    std::mutex &Mutex() { return mutex_; }

private:
    void Loop();
    void Reap(ChildRun &r);
    Host::Impl &core_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::weak_ptr<ChildRun>> runs_;
    std::vector<ServiceImpl *> services_;
    Host::Impl::Watcher watcher_;
    bool stop_ = false;
    std::thread thread_;
    friend class ServiceImpl;
};

class ServiceImpl : public Service {
public:
    ServiceImpl(Host::Impl &core, const String &program, const String &id, const StringVector &args,
                bool configured, int stop_kind, Time::Span first, Time::Span second,
                const Event::Delegate &up, const Event::Delegate &down, const String &pid_file,
                Time::Span third, unsigned number);
    ~ServiceImpl() override;
    bool SetArguments(const StringVector &arguments) override;
    bool PushArgument(const String &argument) override;
    ReturnT Start() override;
    ReturnT Stop() override;
    ReturnT StopWait() override;
    bool IsStarted() const override;
    bool IsUp() const override;
    ReturnT Signal(int kind) override;
    void SetConfigured(bool on) override;
    bool IsConfigured() const override;
    const String &Id() const override { return id_; }
    int Pid() const override;
    // One look from the supervisor's loop (its mutex held).
    void Tick(int64_t now);
    bool UpLocked() const { return state_ == UP; }
    unsigned Number() const { return number_; }

private:
    enum State { IDLE, STARTING, UP, STOPPING, BACKOFF };
    void RaiseUpDown(bool up);
    bool PidFileNamesChild() const;
    Host::Impl &core_;
    String program_, id_, pid_file_;
    StringVector args_;
    bool started_ = false, configured_;
    int stop_kind_;
    Time::Span first_, second_, third_;
    Event::Delegate up_, down_;
    unsigned number_;
    State state_ = IDLE;
    bool was_up_ = false;
    int64_t since_ = 0;
    std::shared_ptr<ChildRun> run_;
    std::condition_variable gone_cv_;
};

// The command tree and the interpreter's context.
class CommandTree {
public:
    bool Add(Command::Base *c);
    void Remove(Command::Base *c);
    // The command at a full path ("cifs share"), or null.
    Command::Base *Find(const String &path);
    std::vector<Command::Base *> All();
    std::recursive_mutex &Mutex() { return mutex_; }

private:
    std::recursive_mutex mutex_;
    std::vector<Command::Base *> commands_;
};

// Feedback forwarders and the socket they deliver to.
class FeedbackHub {
public:
    explicit FeedbackHub(Host::Impl &core);
    ~FeedbackHub();
    bool Start();
    ReturnT Add(const String &path, FeedbackListener *l);
    void Remove(FeedbackListener *l);
    const String &SocketPath() const { return socket_path_; }

private:
    void Loop();
    Host::Impl &core_;
    String socket_path_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    std::recursive_mutex mutex_;  // also held while a listener runs
    std::map<String, FeedbackListener *> listeners_;
    std::thread thread_;
};

// Forwarder message: words and KEY=value pairs, each a u32 length and bytes,
// after a "ZFB1" mark, the path the forwarder stands at, a u32 word count and
// a u32 value count. Decoding is bounded: anything short or oversized is
// refused.
String FeedbackEncode(const String &path, const StringVector &words,
                      const std::vector<std::pair<String, String>> &values);
bool FeedbackDecode(const uint8_t *data, size_t size, String *path, Feedback *out);
// Words as given, KEY=value lines of text with valid keys as values; control
// bytes become '_'.
void FeedbackFromRun(const StringVector &args, const String &input, StringVector *words,
                     std::vector<std::pair<String, String>> *values);
// The zmocore program's forwarder mode: reads its input and delivers.
ZMOCORE_API int FeedbackForward(const String &socket_path, const String &path, const StringVector &args);

// DNS over UDP: the query for name's A records and the answer's addresses.
bool DnsBuildQuery(const String &name, uint16_t id, std::vector<uint8_t> *out);
// False when the message is not an answer to id or is malformed.
bool DnsParseAnswer(const uint8_t *data, size_t size, uint16_t id, std::vector<Network::IpAddress> *out);
// True when addr belongs to one of this namespace's interfaces (or loopback).
bool IsLocalAddress(Network::IpAddress addr);

}  // namespace Core

#pragma GCC visibility pop

#endif
