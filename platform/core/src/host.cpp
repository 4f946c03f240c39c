// The core of this process: made by the zmocore program or a test.
#include "builtins.h"

#include <dlfcn.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <ostream>

#ifndef ZMOCORE_FORWARDER
#define ZMOCORE_FORWARDER "/usr/bin/zmocore"
#endif

namespace Core {

namespace {
std::atomic<Host::Impl *> g_current{nullptr};
Host *g_host = nullptr;
const auto g_process_start = std::chrono::steady_clock::now();
constexpr size_t kJournalLimit = 100000;

String Hex(uint32_t code)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08x", code);
    return b;
}
}  // namespace

Host::Impl *Current() { return g_current.load(); }

bool AllocationRefused()
{
    Host::Impl *c = Current();
    return c && c->ShouldFail("alloc");
}

void Journal(const String &line)
{
    if (Host::Impl *c = Current())
        c->Note(line);
}

bool Fail(const String &op)
{
    Host::Impl *c = Current();
    return c && c->ShouldFail(op);
}

int64_t NowMs()
{
    if (Host::Impl *c = Current())
        return c->NowMs();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 g_process_start)
        .count();
}

String MapPath(const String &path)
{
    Host::Impl *c = Current();
    if (!c || path.empty() || path[0] != '/' || c->options.root == "/" || c->options.root.empty())
        return path;
    String r = c->options.root;
    if (r.back() == '/')
        r.pop_back();
    return r + path;
}

Host::Impl::Impl(const HostOptions &o) : options(o), real_start(std::chrono::steady_clock::now()) {}

int64_t Host::Impl::NowMs() const
{
    if (options.manual_clock)
        return manual_ms.load();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 real_start)
        .count();
}

void Host::Impl::AddWatcher(Watcher *w)
{
    std::lock_guard<std::mutex> g(watchers_mutex);
    watchers.push_back(w);
}

void Host::Impl::RemoveWatcher(Watcher *w)
{
    std::lock_guard<std::mutex> g(watchers_mutex);
    watchers.erase(std::remove(watchers.begin(), watchers.end(), w), watchers.end());
}

void Host::Impl::WaitWatchers(int64_t t, uint32_t timeout_ms)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        bool all = true;
        {
            std::lock_guard<std::mutex> g(watchers_mutex);
            for (Watcher *w : watchers)
                all = all && w->seen.load() >= t;
        }
        if (all || std::chrono::steady_clock::now() > limit)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void Host::Impl::Note(const String &line)
{
    try {
        std::lock_guard<std::mutex> g(journal_mutex);
        // A flood must not grow the core without bound: the oldest half goes.
        if (journal.size() >= kJournalLimit) {
            journal.erase(journal.begin(), journal.begin() + kJournalLimit / 2);
            journal.push_back("journal: " + std::to_string(kJournalLimit / 2) + " older lines dropped");
        }
        journal.push_back(line);
    } catch (...) {
        return;
    }
    journal_cv.notify_all();
}

bool Host::Impl::ShouldFail(const String &op)
{
    std::lock_guard<std::mutex> g(fail_mutex);
    auto it = failures.find(op);
    if (it == failures.end())
        return false;
    if (it->second.after > 0) {
        --it->second.after;
        return false;
    }
    if (--it->second.count <= 0)
        failures.erase(it);
    return true;
}

Host::Host(const HostOptions &options) : impl_(new Impl(options))
{
    Impl &c = *impl_;
    if (c.options.forwarder.empty()) {
        const char *env = std::getenv("ZMOCORE_FORWARDER");
        c.options.forwarder = env && *env ? env : ZMOCORE_FORWARDER;
    }
    Impl *expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, impl_.get())) {
        std::fprintf(stderr, "zmocore: one core per process\n");
        std::abort();
    }
    g_host = this;
    c.builtins.reset(new BuiltIns(c.options));
    c.commands.reset(new CommandTree);
    c.ev_thread = std::thread([&c] { c.EventLoop(); });
    c.event_thread_id = c.ev_thread.get_id();
    c.children.reset(new ChildSupervisor(c));
    c.core_queue.reset(Task::Queue::New("Core queue", Time::Span(1000), nullptr));
    c.feedback.reset(new FeedbackHub(c));
    if (!c.feedback->Start())
        c.Note("feedback socket unavailable: " + c.feedback->SocketPath());
    c.builtins->RegisterAll();
    c.Note("core ready");
}

Host::~Host()
{
    Impl &c = *impl_;
    c.script.reset();
    UnloadAll();
    c.builtins->interfaces.DestroyCreated();
    c.feedback.reset();
    c.core_queue.reset();
    c.Drain(5000);
    {
        std::lock_guard<std::mutex> g(c.ev_mutex);
        c.ev_stop = true;
    }
    c.ev_cv.notify_all();
    c.ev_thread.join();
    c.children.reset();
    c.builtins->UnregisterAll();
    g_host = nullptr;
    g_current = nullptr;
    c.builtins.reset();
}

Host *Host::Instance() { return g_host; }
const HostOptions &Host::Options() const { return impl_->options; }

ReturnT Host::LoadPlugin(const String &path, std::ostream &out)
{
    String base = path.substr(path.rfind('/') == String::npos ? 0 : path.rfind('/') + 1);
    String name = base.substr(0, base.find(".so"));
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        out << "plugin " << name << ": can't load: " << dlerror() << "\n";
        return static_cast<ReturnT>(Code::FAIL);
    }
    typedef Module::Object *(*EntryT)();
    auto entry = reinterpret_cast<EntryT>(dlsym(h, (name + "Object").c_str()));
    Module::Object *object = entry ? entry() : nullptr;
    if (!object) {
        out << "plugin " << name << ": no entry " << name << "Object\n";
        dlclose(h);
        return static_cast<ReturnT>(Code::FAIL);
    }
    Note("plugin load " + name + " " + object->Description());
    Status::Current().Reset();
    ReturnT r = object->Initialize();
    Drain(5000);
    const Status &s = Status::Current();
    out << "plugin " << name << ": [" << Hex(static_cast<uint32_t>(r)) << "]";
    if (s.Code() == r && !s.Message().empty())
        out << " " << s.Message();
    out << "\n";
    if (Failed(r)) {
        object->Cleanup();
        Drain(5000);
        dlclose(h);
        Note("plugin unload " + name);
        return r;
    }
    impl_->modules.push_back({h, object, name});
    return r;
}

void Host::UnloadAll()
{
    auto &mods = impl_->modules;
    while (!mods.empty()) {
        Impl::Loaded m = mods.back();
        mods.pop_back();
        m.object->Cleanup();
        Drain(5000);
        dlclose(m.handle);
        Note("plugin unload " + m.name);
    }
}

StringVector Host::Journal() const
{
    std::lock_guard<std::mutex> g(impl_->journal_mutex);
    return impl_->journal;
}

void Host::ClearJournal()
{
    std::lock_guard<std::mutex> g(impl_->journal_mutex);
    impl_->journal.clear();
}

void Host::Note(const String &line) { impl_->Note(line); }

bool Host::WaitJournal(const String &prefix, uint32_t timeout_ms)
{
    std::unique_lock<std::mutex> g(impl_->journal_mutex);
    return impl_->journal_cv.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] {
        for (const String &l : impl_->journal)
            if (l.compare(0, prefix.size(), prefix) == 0)
                return true;
        return false;
    });
}

StringVector Host::JournalMatching(const String &prefix) const
{
    std::lock_guard<std::mutex> g(impl_->journal_mutex);
    StringVector v;
    for (const String &l : impl_->journal)
        if (l.compare(0, prefix.size(), prefix) == 0)
            v.push_back(l);
    return v;
}

void Host::Advance(int64_t ms)
{
    if (!impl_->options.manual_clock || ms <= 0)
        return;
    const int64_t t = impl_->manual_ms += ms;
    impl_->Note("clock +" + std::to_string(ms) + "ms");
    // Each loop acts on the new time (runs what fell due), then the events
    // that raised are handled; twice, for what those events queued in turn.
    for (int round = 0; round < 2; ++round) {
        impl_->WaitWatchers(t, 5000);
        Drain(5000);
    }
}

Time::Span Host::Now() const { return Time::Span(impl_->NowMs()); }
bool Host::Drain(uint32_t timeout_ms) { return impl_->Drain(timeout_ms); }

void Host::InjectFailure(const String &op, int count, int after)
{
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> g(impl_->fail_mutex);
    impl_->failures[op] = {after, count};
}

bool Host::ShouldFail(const String &op) { return impl_->ShouldFail(op); }

bool Host::FailurePending(const String &op, bool clear)
{
    std::lock_guard<std::mutex> g(impl_->fail_mutex);
    auto it = impl_->failures.find(op);
    if (it == impl_->failures.end())
        return false;
    if (clear)
        impl_->failures.erase(it);
    return true;
}
String Host::Path(const String &path) const { return MapPath(path); }

}  // namespace Core
