// The host side of the stand-in: one core per process, made by the zmocore
// program or a test, with its journal, clock and script interpreter.
#ifndef ZMOCORE_HOST_H
#define ZMOCORE_HOST_H

#include "zmocore/base.h"
#include "zmocore/event.h"

#include <functional>
#include <iosfwd>

namespace Core {

struct ZMOCORE_API HostOptions {
    // Prefix of every fixed path the core itself opens ("/" on the board).
    String root = "/";
    // Where feedback forwarders deliver; empty: <root>/var/run/zmocore.feedback.
    String feedback_socket;
    // The program a forwarder runs; empty: the one built beside the library.
    String forwarder;
    // Time moves only by Host::Advance.
    bool manual_clock = false;
    uint32_t seed = 1;
    String wan_mac = "00:10:20:30:40:50";
    // File systems with this label get real swapon/swapoff calls.
    String real_swap_label;
    // Log lines also go to standard error.
    bool log_to_stderr = false;
};

class ZMOCORE_API Host {
public:
    explicit Host(const HostOptions &options);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;
    // The process's core (null when none is made).
    static Host *Instance();

    const HostOptions &Options() const;
    // Loads LIB.so: calls its "<name>Object" entry and Initialize(); prints
    // the result to out.
    ReturnT LoadPlugin(const String &path, std::ostream &out);
    // Cleanup, then the library goes (its destructors run).
    void UnloadAll();

    // Side effects in order: "service start ...", "process ...", "netfilter
    // commit filter ...", "port reserve ...", "log ...".
    StringVector Journal() const;
    void ClearJournal();
    void Note(const String &line);
    // True when a journal line starting with prefix appears within timeout_ms
    // (real time).
    bool WaitJournal(const String &prefix, uint32_t timeout_ms);
    // Lines starting with prefix.
    StringVector JournalMatching(const String &prefix) const;

    // Manual clock: moves time on; timers due run on their threads.
    void Advance(int64_t ms);
    Time::Span Now() const;

    // Waits until every queued event has been handled (real time bound).
    bool Drain(uint32_t timeout_ms = 5000);

    // The next count calls of the named operation fail: "alloc" (Core::New),
    // "auth.tag", "auth.users", "command.init", "command.register",
    // "config.wan_mac", "dashboard.register", "dashboard.set", "dhcp.autostart",
    // "dns.reinit", "event.subscribe", "file.close", "file.ioctl", "file.open",
    // "file.remove", "file.rename", "file.truncate", "file.write", "fs.exists", "fs.mounted",
    // "fs.repository", "interfaces.ids", "netfilter.acquire",
    // "netfilter.commit", "port.reserve", "printer.register", "process.start",
    // "regex.compile", "regex.match", "service.new", "service.spawn",
    // "swap.off", "swap.on".
    // "file.ioctl.accept" is the other way round: the next file ioctl is
    // answered as done without reaching the system.
    // after: calls that still pass first.
    void InjectFailure(const String &op, int count = 1, int after = 0);
    // Consumes one injected failure.
    bool ShouldFail(const String &op);
    // An injected failure of op that has not happened yet (is then dropped
    // when clear is set).
    bool FailurePending(const String &op, bool clear = true);

    // The path of a fixed system path under the root.
    String Path(const String &path) const;

    // Runs one script line; prints to out. Returns false on a line that
    // could not run (unknown command, bad syntax).
    bool RunLine(const String &line, std::ostream &out);
    // Runs a script; stops at "quit". Returns the number of failed lines.
    int RunScript(std::istream &in, std::ostream &out);

    struct Impl;
    Impl &impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace Core

#endif
