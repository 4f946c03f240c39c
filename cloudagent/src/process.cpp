// Start-up in its fixed order, then the main loop: signals, core events and
// the sweep of expired login tokens.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent.h"
#include "cloud.h"
#include "mirel.h"
#include "process.h"
#include "resources.h"
#include "tokens.h"

namespace {

int signals_init(sigset_t *set)
{
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        return -1;
    sigemptyset(set);
    sigaddset(set, SIGTERM);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGHUP);
    int rc = pthread_sigmask(SIG_BLOCK, set, nullptr);
    if (rc) {
        errno = rc;
        return -1;
    }
    return 0;
}

int random_init()
{
    int fd = open("/dev/urandom", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    unsigned char seed[4];
    size_t got = 0;
    while (got < sizeof seed) {
        ssize_t n = read(fd, seed + got, sizeof seed - got);
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            close(fd);
            return -1;
        }
    }
    close(fd);
    unsigned s;
    std::memcpy(&s, seed, sizeof s);
    srandom(s);
    return 0;
}

int run_loop(int sigfd)
{
    int events_fd = zmo_core_event_connection_fd(g_agent.events);
    for (;;) {
        struct pollfd p[2] = {{sigfd, POLLIN, 0}, {events_fd, POLLIN, 0}};
        int n = poll(p, 2, 5000);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            zmo_log(ZMO_LOG_ERROR, "poll: %s", zmo_sys_strerror(errno));
            return 1;
        }
        if (n == 0) {
            token_sweep();
            continue;
        }
        if (p[0].revents & POLLIN) {
            struct signalfd_siginfo info;
            if (read(sigfd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGINT || info.ssi_signo == SIGTERM)
                    return 0;
                if (info.ssi_signo == SIGHUP) {
                    char *path;
                    {
                        std::lock_guard<std::mutex> lock(g_agent.lock);
                        path = g_agent.config_path ? strdup(g_agent.config_path) : nullptr;
                    }
                    if (ConfigurationRead(path) != 0)
                        zmo_log(ZMO_LOG_WARNING, "configuration not read again: %s", zmo_sys_strerror(errno));
                    std::free(path);
                }
            }
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            zmo_core_event_t *ev = zmo_core_event_connection_get(g_agent.events);
            if (!ev) {
                // The core went away: nothing more will come on this connection.
                if (errno == ECONNRESET || (p[1].revents & (POLLHUP | POLLERR) && !(p[1].revents & POLLIN))) {
                    zmo_log(ZMO_LOG_ERROR, "core event connection lost");
                    return 1;
                }
                continue;
            }
            int rc = event_forward(ev);
            zmo_core_event_free(ev);
            if (rc != 0) {
                zmo_log(ZMO_LOG_ERROR, "event forwarding failed: %s", zmo_sys_strerror(errno));
                return 1;
            }
        }
    }
}

}  // namespace

extern "C" int agent_main(int argc, char **argv)
{
    sigset_t set;
    if (signals_init(&set) != 0) {
        std::fprintf(stderr, "SigInit error: %s\n", zmo_sys_strerror(errno));
        return 1;
    }
    if (random_init() != 0) {
        std::fputs("RandomInit error\n", stderr);
        return 1;
    }
    if (VersionGet() != 0) {
        std::fprintf(stderr, "VersionGet error: %s\n", zmo_sys_strerror(errno));
        return 1;
    }
    struct agent_options o;
    int status = options_parse(argc, argv, &o, stdout, stderr);
    if (status >= 0)
        return status;
    if (!o.has_cid)
        uuid_generate_text(g_agent.cid);

    g_agent.core = zmo_core_open("cloud:ci", 200, 0x10000);
    if (!g_agent.core) {
        std::fputs("zmo_core_open error", stderr);
        return 1;
    }
    g_agent.events = zmo_core_event_connection_open(15000);
    if (!g_agent.events) {
        std::fputs("zmo_core_event_connection_open error", stderr);
        return 1;
    }
    if (!zmo_log_init(zmo_log_get_ident(argv), nullptr, o.console, 1)) {
        std::fputs("zmo_log_init error\n", stderr);
        return 1;
    }
    // The key must not stay visible in the process list.
    for (int i = 1; i < argc; ++i)
        std::memset(argv[i], 0, std::strlen(argv[i]));

    zmo_log(ZMO_LOG_INFO, "version %s starting", AGENT_VERSION);
    zmo_log_debug(1, "cid: \"%s\"", g_agent.cid);
    if (!o.foreground && daemon(1, o.console) != 0) {
        zmo_log(ZMO_LOG_ERROR, "daemon error: %s\n", zmo_sys_strerror(errno));
        return 1;
    }

    int exit_status = 1;
    g_agent.endpoint = Mirel(AGENT_MIREL_PORT, o.address);
    if (!g_agent.endpoint || (o.has_key && Mirel_SetPrivateKey(g_agent.endpoint, o.key, sizeof o.key) != 0) ||
        resources_register(g_agent.endpoint) != 0) {
        token_clear();
        return 1;
    }
    std::memset(o.key, 0, sizeof o.key);

    pthread_attr_t attr;
    pthread_t worker;
    if (pthread_attr_init(&attr) != 0 || pthread_attr_setstacksize(&attr, 0x40000) != 0 ||
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) != 0 ||
        pthread_create(&worker, &attr, cloud_thread, g_agent.endpoint) != 0) {
        token_clear();
        return 1;
    }
    pthread_attr_destroy(&attr);

    int sigfd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (sigfd >= 0)
        exit_status = run_loop(sigfd);
    zmo_log(ZMO_LOG_INFO, "stopping (status %d)", exit_status);
    token_clear();
    return exit_status;
}
