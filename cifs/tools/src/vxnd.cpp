// vxnd: runs the NetBIOS name and datagram daemon in this process.
// SIGTERM and SIGHUP are taken by a thread of their own (sigwait), so the
// daemon is stopped or reloaded from ordinary code, never from a handler.
#include "ndaemon.h"
#include "nssocket.h"
#include "syfiles.h"
#include "udhooks.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

std::atomic<bool> stopAsked{false};

void *signalThread(void *arg)
{
    const sigset_t *set = static_cast<const sigset_t *>(arg);
    for (;;) {
        int sig = 0;
        if (sigwait(set, &sig) != 0)
            continue;
        if (sig == SIGTERM) {
            stopAsked = true;
            ndStop();
            return nullptr;
        }
        if (sig == SIGHUP)
            ndNotifyConfigurationChange(nullptr);
    }
}

int usage(const char *text)
{
    std::printf("%s\n", text);
    return 255;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage("Usage:\n  -i <12 byte computer ID>");
    opterr = 0;
    if (argc != 3 || getopt(argc, argv, "i:") != 'i')
        return usage("a computer ID argument required");
    if (std::strlen(optarg) != UD_COMPUTER_ID_SIZE)
        return usage("a computer ID should be 12 bytes long");
    udSetComputerId(optarg);

    // Blocked here before any thread starts, so every thread inherits the
    // mask and only the signal thread takes them.
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, signalThread, &set) != 0)
        return 1;
    pthread_detach(thread);

    udInit();
    syInit();
    ndStart(nullptr);
    udStop();
    syStop();
    nsExitGuard();
    // Asked to stop: 0. Ended on its own (start, select or reload failure): 1.
    return stopAsked ? 0 : 1;
}
