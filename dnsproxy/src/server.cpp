// Process context: loading and reloading, sockets, pid file, periodic
// timers and the poll loop.
#include "server.h"
#include "udp_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dnsr {

namespace {

volatile sig_atomic_t g_reload_requests = 0;

void on_sigurg(int) { g_reload_requests = g_reload_requests + 1; }

std::string addr_port_text(const zmo_ip_sockaddr_t &sa)
{
    char text[ZMO_IP_ADDRSTRLEN];
    return std::string(zmo_ip_sockaddr_ntop(&sa, text, sizeof text) ? text : "?") + "#" +
           std::to_string(zmo_ip_sockaddr_port(&sa));
}

void write_stats(Server &s)
{
    const std::string &path = s.cfg->settings.stat_file;
    if (!path.empty())
        stats_write_file(path, s.counters, s.acc.in_use(), s.acc.limit(), *s.stats);
}

// Every context reset: at start and after each reload.
void reset_context(Server &s)
{
    road_reset(s);
    zmo_time_get_monotonic_plus_msec(&s.next_cache_expiry, 3600000);
    for (const auto &a : config_servers(*s.cfg))
        zmo_log_debug(1, "DNS server: %s", addr_port_text(a).c_str());
    s.counters = ProcessCounters{};
    write_stats(s);
}

// The periodic timers each run their work and add themselves again with
// the period the configuration gives now; memory is made for them first, a
// lost periodic timer would stop that work for good.
void rearm(Server &s, int64_t delay, TimerFn fn)
{
    road_reserve(s, Timers::timer_bytes());
    s.timers.add(delay, fn);
}
void tick_stats_file(Server &s, uint64_t)
{
    write_stats(s);
    rearm(s, s.cfg->settings.stat_time, tick_stats_file);
}

void tick_ranks(Server &s, uint64_t)
{
    s.stats->compute_ranks(s.rng);
    rearm(s, 100, tick_ranks);
}

void tick_rank_reset(Server &s, uint64_t)
{
    s.stats->reset_ranks();
    rearm(s, s.cfg->settings.rank_reset_time, tick_rank_reset);
}

void tick_revival(Server &s, uint64_t)
{
    s.stats->revive_failed();
    rearm(s, s.cfg->settings.rrs_reset_time, tick_revival);
}

void tick_all_failed(Server &s, uint64_t)
{
    s.stats->revive_if_all_failed();
    rearm(s, s.cfg->settings.rrs_reset_time, tick_all_failed);
}

void tick_pending_check(Server &s, uint64_t)
{
    road_pending_check(s);
    rearm(s, s.cfg->settings.timeout + 100, tick_pending_check);
}

void tick_cache_expiry(Server &s, uint64_t)
{
    road_cache_expiry(s);
    rearm(s, 10000, tick_cache_expiry);
}

void tick_text_sweep(Server &s, uint64_t)
{
    text_sweep(s);
    rearm(s, 2 * s.cfg->settings.rpc_ttl, tick_text_sweep);
}

// Retired upstream sockets are kept while a try may still be answered.
int64_t upstream_grace_ms(const Server &s) { return s.cfg->settings.timeout + 100; }

// Now and then, at random, one socket of each pool gets a new port.
void tick_upstream_rotate(Server &s, uint64_t)
{
    for (UpstreamPool *pool : {&s.pool4, &s.pool6}) {
        pool->rotate(upstream_grace_ms(s));
        pool->sweep();
    }
    rearm(s, 200 + s.random.below(1000), tick_upstream_rotate);
}

// Silent connections give their slots back.
void tick_tcp_idle(Server &s, uint64_t)
{
    tcp_close_idle(s);
    rearm(s, 1000, tick_tcp_idle);
}

bool no_ipv6(int err) { return err == EAFNOSUPPORT || err == EPROTONOSUPPORT || err == EADDRNOTAVAIL; }

// A non-blocking socket with the address reused; bound when bind_port is
// not negative. -1 with errno set on failure (logged unless the family is
// missing and quiet_v6 is set).
int open_socket(int family, int type, int bind_port, bool quiet_v6)
{
    int fd = socket(family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (!(family == AF_INET6 && quiet_v6 && no_ipv6(errno)))
            zmo_log(ZMO_LOG_ERROR, "unable to create socket: %s", zmo_sys_strerror(errno));
        return -1;
    }
    int one = 1;
    auto fail = [&](const char *what) {
        int err = errno;
        zmo_log(ZMO_LOG_ERROR, what, zmo_sys_strerror(err));
        close(fd);
        errno = err;
        return -1;
    };
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        return fail("failed to set a reuse mode on a socket: %s");
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("failed to set a non-blocking socket mode: %s");
    if (family == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0)
        return fail("failed to set \"IPv6 only\" socket option: %s");
    if (bind_port >= 0) {
        zmo_ip_sockaddr_t sa = family == AF_INET ? *ZMO_IP_SOCKADDR_ANY : *ZMO_IP_SOCKADDR_ANY6;
        zmo_ip_sockaddr_set_port(&sa, uint16_t(bind_port));
        if (bind(fd, &sa.u.sa, zmo_ip_sockaddr_len(&sa)) != 0) {
            int err = errno;
            if (!(family == AF_INET6 && quiet_v6 && no_ipv6(err))) {
                char text[ZMO_IP_ADDRSTRLEN];
                zmo_log(ZMO_LOG_ERROR, "failed to bind to %s:%d reason: %s",
                        zmo_ip_sockaddr_ntop(&sa, text, sizeof text), bind_port, zmo_sys_strerror(err));
            }
            close(fd);
            errno = err;
            return -1;
        }
    }
    return fd;
}

bool open_sockets(Server &s)
{
    const Settings &st = s.cfg->settings;
    int fd;
    if (st.dns_udp_port != 0) {
        if ((fd = open_socket(AF_INET, SOCK_DGRAM, st.dns_udp_port, false)) < 0) {
            zmo_log(ZMO_LOG_FATAL, "can not bind to IPv4 address, aborted");
            return false;
        }
        road_prepare_listener(fd, AF_INET);
        s.slots.set_fd(kSlotUdp4, fd);
        s.slots.set_handlers(kSlotUdp4, udp_read_listener, nullptr);
        if ((fd = open_socket(AF_INET6, SOCK_DGRAM, st.dns_udp_port, true)) >= 0) {
            road_prepare_listener(fd, AF_INET6);
            s.slots.set_fd(kSlotUdp6, fd);
            s.slots.set_handlers(kSlotUdp6, udp_read_listener, nullptr);
        } else if (!no_ipv6(errno))
            zmo_log(ZMO_LOG_ERROR, "can not bind to IPv6 address");
    }
    if (!upstream_open(s, AF_INET)) {
        zmo_log(ZMO_LOG_FATAL, "can not create IPv4 socket, aborted");
        return false;
    }
    if (!upstream_open(s, AF_INET6) && !no_ipv6(errno))
        zmo_log(ZMO_LOG_ERROR, "can not create IPv6 socket");
    if (st.dns_tcp_port != 0) {
        if ((fd = open_socket(AF_INET, SOCK_STREAM, st.dns_tcp_port, false)) < 0) {
            zmo_log(ZMO_LOG_FATAL, "can not bind to IPv4 address, aborted");
            return false;
        }
        s.slots.set_fd(kSlotTcp4, fd);
        s.slots.set_handlers(kSlotTcp4, tcp_accept, nullptr);
        if (listen(fd, 64) != 0)
            zmo_log(ZMO_LOG_FATAL, "failed to bring IPv4 server socket to listen mode: %s",
                    zmo_sys_strerror(errno));
        if ((fd = open_socket(AF_INET6, SOCK_STREAM, st.dns_tcp_port, true)) >= 0) {
            if (listen(fd, 64) != 0) {
                zmo_log(ZMO_LOG_ERROR, "failed to bring IPv6 server socket to listen mode: %s",
                        zmo_sys_strerror(errno));
                close(fd);
            } else {
                s.slots.set_fd(kSlotTcp6, fd);
                s.slots.set_handlers(kSlotTcp6, tcp_accept, nullptr);
            }
        } else if (!no_ipv6(errno))
            zmo_log(ZMO_LOG_ERROR, "can not bind to IPv6 address");
    }
    if (st.rpc_port != 0) {
        if ((fd = open_socket(AF_INET, SOCK_DGRAM, st.rpc_port, false)) >= 0) {
            s.slots.set_fd(kSlotRpc, fd);
            s.slots.set_handlers(kSlotRpc, text_read, nullptr);
            s.timers.add(2 * st.rpc_ttl, tick_text_sweep);
        } else
            zmo_log(ZMO_LOG_ERROR, "can not bind to IPv4 address (RPC)");
    }
    return true;
}

bool write_pid_file(const char *path)
{
    zmo_log(ZMO_LOG_INFO, "PID file: %s", path);
    FILE *f = fopen(path, "w");
    if (!f) {
        zmo_log(ZMO_LOG_FATAL, "Can't open PID file %s: %s", path, zmo_sys_strerror(errno));
        return false;
    }
    bool ok = fprintf(f, "%d\n", int(getpid())) > 0;
    ok = fclose(f) == 0 && ok;
    if (!ok) {
        zmo_log(ZMO_LOG_FATAL, "Can't open write to PID file: %s", zmo_sys_strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

unsigned server_reload_requests() { return unsigned(g_reload_requests); }

bool server_load(Server &s)
{
    auto cfg = config_load(s.options.main_file, s.options.safe_file, s.options.debug);
    if (!cfg)
        return false;
    auto stats = std::make_unique<UpstreamStats>(config_servers(*cfg));
    if (!stats->ok()) {
        zmo_log(ZMO_LOG_FATAL, "can not initialize a dns stats. storage, out of memory");
        return false;
    }
    s.cfg = std::move(cfg);
    s.stats = std::move(stats);
    s.acc.set_limit(s.cfg->settings.max_mem);
    reset_context(s);
    return true;
}

bool server_start(Server &s)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_sigurg;
    sa.sa_flags = SA_RESTART;
    sigfillset(&sa.sa_mask);
    sigset_t urg;
    sigemptyset(&urg);
    sigaddset(&urg, SIGURG);
    if (sigaction(SIGURG, &sa, nullptr) != 0 || sigprocmask(SIG_UNBLOCK, &urg, nullptr) != 0)
        zmo_log(ZMO_LOG_ERROR, "can not set SIGURG handler");
    s.reloads_seen = server_reload_requests();
    if (s.options.pid_file && !write_pid_file(s.options.pid_file))
        return false;
    if (!s.cfg->settings.stat_file.empty())
        zmo_log(ZMO_LOG_INFO, "stats. file: %s", s.cfg->settings.stat_file.c_str());
    if (!open_sockets(s)) {
        s.fatal = true;
        return true;  // the loop ends at once; the pid file is already there
    }
    zmo_log_debug(1, "sockets created, entering event loop");
    const Settings &st = s.cfg->settings;
    s.timers.add(st.timeout + 100, tick_pending_check);
    s.timers.add(10000, tick_cache_expiry);
    s.timers.add(1000, tick_tcp_idle);
    s.timers.add(200 + s.random.below(1000), tick_upstream_rotate);
    s.timers.add(st.stat_time, tick_stats_file);
    s.timers.add(100, tick_ranks);
    s.timers.add(st.rank_reset_time, tick_rank_reset);
    s.timers.add(st.rrs_reset_time, tick_revival);
    s.timers.add(1000, tick_all_failed);
    return true;
}

void server_loop(Server &s)
{
    // Signals reach the process only while it waits in poll, so none can
    // slip in between the checks below and the wait.
    sigset_t watched, outside;
    sigemptyset(&watched);
    for (int sig : {SIGTERM, SIGINT, SIGQUIT, SIGURG})
        sigaddset(&watched, sig);
    sigprocmask(SIG_BLOCK, &watched, &outside);
    for (int sig : {SIGTERM, SIGINT, SIGQUIT, SIGURG})
        sigdelset(&outside, sig);

    while (!s.fatal) {
        if (zmo_sys_is_interrupted()) {
            zmo_log_debug(1, "dnsr__basic_server stopped");
            break;
        }
        unsigned requests = server_reload_requests();
        if (requests != s.reloads_seen) {
            s.reloads_seen = requests;
            zmo_log_debug(1, "updating configuration...");
            if (!server_load(s)) {
                zmo_log(ZMO_LOG_FATAL, "can not reload the configuration, stopping");
                s.fatal = true;
                break;
            }
            zmo_log_set_debug(s.cfg->settings.debug ? 1 + s.options.verbosity : 0);
            if (!s.cfg->settings.stat_file.empty())
                zmo_log_debug(1, "stats. file: %s", s.cfg->settings.stat_file.c_str());
        }
        road_before_poll(s);
        int n = s.slots.poll_and_dispatch(s, s.timers.poll_timeout(), &outside);
        if (n < 0 && errno != EINTR) {
            zmo_log(ZMO_LOG_FATAL, "poll failed: %s", zmo_sys_strerror(errno));
            s.fatal = true;
            break;
        }
        road_end_of_round(s);
        s.timers.run_immediate(s);
        s.timers.run_due(s);
        road_end_of_round(s);
    }
    sigprocmask(SIG_UNBLOCK, &watched, nullptr);
}

}  // namespace dnsr
