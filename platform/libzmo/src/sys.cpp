// Process set-up and termination signals.
#include "zmo.h"

#include <cerrno>
#include <pthread.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace {
volatile sig_atomic_t g_interrupted = 0;

void on_termination(int sig) { g_interrupted = sig; }
}  // namespace

extern "C" {

int zmo_sys_init(void) { return 1; }

int zmo_sys_set_default_signals(void)
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_termination;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a daemon blocked in poll or sleep must see EINTR and stop.
    sa.sa_flags = 0;
    for (int sig : {SIGINT, SIGTERM, SIGQUIT}) {
        if (sigaction(sig, &sa, nullptr) != 0)
            return 0;
    }
    struct sigaction ign;
    std::memset(&ign, 0, sizeof ign);
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    if (sigaction(SIGPIPE, &ign, nullptr) != 0)
        return 0;
    sigset_t unblock;
    sigemptyset(&unblock);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT})
        sigaddset(&unblock, sig);
    return pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr) == 0;
}

int zmo_sys_is_interrupted(void) { return g_interrupted != 0; }
int zmo_sys_interrupted_signal(void) { return g_interrupted; }
void zmo_sys_reset_interrupted(void) { g_interrupted = 0; }

int zmo_sys_sleep_msec(int64_t ms, int flags)
{
    if (ms < 0)
        ms = 0;
    const bool interruptible = !(flags & ZMO_SYS_SLEEP_UNINTERRUPTIBLE);
    struct timespec left;
    left.tv_sec = static_cast<time_t>(ms / 1000);
    left.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    // The termination signals stay blocked between the flag test and the wait,
    // and ppoll lets them in atomically: one that comes in between still ends
    // the sleep instead of being noticed only after it.
    sigset_t term, old;
    sigemptyset(&term);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT})
        sigaddset(&term, sig);
    if (interruptible)
        pthread_sigmask(SIG_BLOCK, &term, &old);
    int result = 1;
    if (interruptible && g_interrupted) {
        errno = EINTR;
        result = 0;
    } else if (interruptible) {
        if (ppoll(nullptr, 0, &left, &old) < 0)
            result = 0;
    } else {
        struct timespec rest;
        while (nanosleep(&left, &rest) != 0) {
            if (errno != EINTR) {
                result = 0;
                break;
            }
            left = rest;
        }
    }
    if (interruptible) {
        int err = errno;
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        errno = err;
    }
    return result;
}

const char *zmo_sys_strerror(int err)
{
    thread_local char buf[128];
    // The GNU strerror_r may return a static text instead of filling buf.
    const char *text = strerror_r(err, buf, sizeof buf);
    return text ? text : "unknown error";
}

int zmo_poll(struct pollfd *fds, nfds_t n, int timeout_ms) { return poll(fds, n, timeout_ms); }

}  // extern "C"
