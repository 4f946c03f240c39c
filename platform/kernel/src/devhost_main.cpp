// The device host process: loads the module, serves its device to other
// processes and unloads it on SIGTERM or SIGINT.
//   usage: <program> [--socket PATH] [--major N]
#include "kstandin/devhost.h"
#include "kstandin/host.h"
#include "kstandin/kernel.h"
#include "vdsl_dev.h"

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *env = std::getenv("VDSL_DEV_SOCKET");
    std::string path = env && *env ? env : VDSL_DEV_SOCKET_PATH;
    unsigned int major = 109;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--socket") && i + 1 < argc) {
            path = argv[++i];
        } else if (!std::strcmp(argv[i], "--major") && i + 1 < argc) {
            major = static_cast<unsigned int>(std::strtoul(argv[++i], nullptr, 0));
        } else {
            std::fprintf(stderr, "usage: %s [--socket PATH] [--major N]\n", argv[0]);
            return 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    kstandin_log_echo_fd(STDERR_FILENO);

    // Signals go to the waiting thread below only.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGINT);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    int rc = kstandin_module_init();
    if (rc != 0) {
        std::fprintf(stderr, "module load failed: %d\n", rc);
        return 1;
    }
    int stop[2];
    if (pipe2(stop, O_CLOEXEC) != 0)
        return 1;
    kstandin_devhost_watch_links(stop[0]);
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&sigs, &sig);
        ssize_t w = write(stop[1], "x", 1);
        (void)w;
    });
    int serve_rc = kstandin_devhost_serve(path.c_str(), major, stop[0]);
    if (serve_rc != 0) {
        std::fprintf(stderr, "cannot listen at %s\n", path.c_str());
        kill(getpid(), SIGTERM);
    }
    waiter.join();
    kstandin_module_exit();
    return serve_rc == 0 ? 0 : 1;
}
