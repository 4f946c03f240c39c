// Process set-up and termination signals.
#include "zmo.h"

#include <cerrno>
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

int zmo_sys_set_default_signals(void) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_termination;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a daemon blocked in poll or sleep must see EINTR and stop.
  sa.sa_flags = 0;
  for (int sig : {SIGINT, SIGTERM, SIGQUIT}) {
    if (sigaction(sig, &sa, nullptr) != 0) return 0;
  }
  struct sigaction ign;
  std::memset(&ign, 0, sizeof ign);
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  if (sigaction(SIGPIPE, &ign, nullptr) != 0) return 0;
  sigset_t unblock;
  sigemptyset(&unblock);
  for (int sig : {SIGINT, SIGTERM, SIGQUIT}) sigaddset(&unblock, sig);
  return pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr) == 0;
}

int zmo_sys_is_interrupted(void) { return g_interrupted != 0; }
int zmo_sys_interrupted_signal(void) { return g_interrupted; }
void zmo_sys_reset_interrupted(void) { g_interrupted = 0; }

int zmo_sys_sleep_msec(int64_t ms, int flags) {
  if (ms < 0) ms = 0;
  struct timespec left;
  left.tv_sec = static_cast<time_t>(ms / 1000);
  left.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  for (;;) {
    if (!(flags & ZMO_SYS_SLEEP_UNINTERRUPTIBLE) && g_interrupted) {
      errno = EINTR;
      return 0;
    }
    struct timespec rest;
    if (nanosleep(&left, &rest) == 0) return 1;
    if (errno != EINTR) return 0;
    if (!(flags & ZMO_SYS_SLEEP_UNINTERRUPTIBLE)) return 0;
    left = rest;
  }
}

const char *zmo_sys_strerror(int err) {
  thread_local char buf[128];
  // The GNU strerror_r may return a static text instead of filling buf.
  const char *text = strerror_r(err, buf, sizeof buf);
  return text ? text : "unknown error";
}

int zmo_poll(struct pollfd *fds, nfds_t n, int timeout_ms) { return poll(fds, n, timeout_ms); }

}  // extern "C"
