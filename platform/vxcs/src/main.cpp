// vxcs -i <instance ID>: the SMB server until SIGTERM (stop) or, in
// between, SIGHUP (restart with the configuration read again).
#include "csctrl.h"
#include "csdb.h"
#include "csserver.h"
#include "csshares.h"
#include "syfiles.h"
#include "udhooks.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t kInstanceIdLength = 12;

std::atomic<bool> gRunning{true};
std::atomic<bool> gStopping{false};

int usage()
{
    std::fprintf(stderr, "usage: vxcs -i <%zu-character instance ID>\n", kInstanceIdLength);
    return 2;
}

// Signals arrive here only: the server loop never sees one.
void signalThread(sigset_t set)
{
    while (gRunning) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        if (signal == SIGHUP && !gStopping) {
            csCtrlRestart();
            continue;
        }
        if (signal == SIGTERM || signal == SIGINT)
            gStopping = true;
        if (signal == SIGUSR1)  // wakes the thread when the server has ended
            break;
        // A stop sent while the server is still starting finds no listener:
        // it is repeated until the server has ended.
        while (gStopping && gRunning) {
            csStop();
            usleep(100 * 1000);
        }
    }
}

// Test aid: marks one share (or, with "*", the whole server) as encrypted
// once the server's shares exist.
void encryptShare(std::string name)
{
    for (int i = 0; i < 200 && gRunning; ++i) {
        if (name == "*") {
            if (csGetSharesCount() > 0) {
                csSetServerEncryption(1);
                return;
            }
        } else if (vxSetShareEncryptionA(name.c_str(), 1) == 0) {
            return;
        }
        usleep(50 * 1000);
    }
    std::fprintf(stderr, "vxcs: share %s could not be encrypted\n", name.c_str());
}

}  // namespace

int main(int argc, char **argv)
{
    std::string encrypt;
    if (argc == 5 && std::strcmp(argv[3], "--encrypt-share") == 0)
        encrypt = argv[4];
    else if (argc != 3)
        return usage();
    if (std::strcmp(argv[1], "-i") != 0 || std::strlen(argv[2]) != kInstanceIdLength || encrypt.size() > 80)
        return usage();
    setvbuf(stdout, nullptr, _IOLBF, 0);

    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    if (udInit() != 0 || syInit() != 1) {
        std::fprintf(stderr, "vxcs: the host configuration could not be read\n");
        return 1;
    }
    std::thread signals(signalThread, set);
    std::thread encryption;
    if (!encrypt.empty())
        encryption = std::thread(encryptShare, encrypt);

    int result = csStart();

    gRunning = false;
    pthread_kill(signals.native_handle(), SIGUSR1);
    signals.join();
    if (encryption.joinable())
        encryption.join();
    return result == 0 ? 0 : 1;
}
