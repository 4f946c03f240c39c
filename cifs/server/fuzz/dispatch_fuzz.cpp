// Whole messages through the SMB1 dispatcher on a fake connection (a socket
// pair) whose session holds a user with a tree on a disk share (one file
// open in it) and a guest on "IPC$", signing on or off by the
// input's first byte, with fixed keys: anything is answered or drops the
// connection, never read or written outside its buffers.
#include "ud_test_env.h"
#include "csauth.h"
#include "csdb.h"
#include "csdispatch.h"
#include "cmsd.h"
#include "cmstring.h"
#include "nssocket.h"
#include "syfiles.h"
#include "csfiles.h"
#include "csshares.h"
#include "udhooks.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

NSSocket gSlot;
int gPeer = -1;
uint32_t gAddress = 0x0501A8C0;
CSSession *gSession;

bool connectPair()
{
    if (gSlot.sySocket >= 0)
        close(gSlot.sySocket);
    if (gPeer >= 0)
        close(gPeer);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return false;
    int size = 1 << 20;
    for (int fd : fds) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    // A large direct read must not wait for a peer that drains only after it.
    timeval timeout{0, 100000};
    setsockopt(fds[0], SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    gSlot.sySocket = fds[0];
    gSlot.isNetBios = 1;
    gPeer = fds[1];
    return true;
}

// The disk share of bob's tree, emptied at every seed: one file in it, open
// as the first file record, so the file commands reach real data.
constexpr char kShareDir[] = "/var/run/fuzzshare";

CSShare *shareNamed(const char *name)
{
    CMWchar wide[16];
    cmAnsiToUnicode(wide, name);
    return csGetShareByName(wide);
}

void openSeedFile(CSTree *tree)
{
    std::filesystem::remove_all(kShareDir);
    std::filesystem::create_directories(kShareDir);
    const std::string path = std::string(kShareDir) + "/x.txt";
    if (FILE *f = std::fopen(path.c_str(), "w")) {
        std::fputs("0123456789abcdef", f);
        std::fclose(f);
    }
    CMWchar wide[64];
    cmAnsiToUnicode(wide, path.c_str());
    CSName *name = csGetNewName(wide, tree->uid);
    if (CSFile *file = name ? csGetNewFile(tree, name, 0x42) : nullptr) {
        file->fd = open(path.c_str(), O_RDWR);
        file->pid = 0x0101;
    }
}

void seed()
{
    csDispatchSetSocket(&gSlot);
    csDispatchSetSocketIp(&gAddress);
    csReleaseSessions(&gSlot, 1);
    gSession = csGetNewSession();
    if (!gSession)
        return;
    gSession->dialect = CS_DIALECT_SMB1;
    gSession->capabilities = 0xE07C;
    std::memset(gSession->signingKey, 0x5A, sizeof gSession->signingKey);
    const char *names[] = {"bob", "guest"};
    for (int i = 0; i < 2; ++i) {
        CSUser *u = csGetNewUser(gSession);
        if (!u)
            return;
        cmAnsiToUnicode(u->name, names[i]);
        u->loggedOn = u->authenticated = 1;
        u->guest = i == 1;
        u->ntStatusMode = i == 0;
        std::memset(u->sessionKey, 0x33, sizeof u->sessionKey);
        if (CSTree *t = csGetNewTree(u)) {
            t->share = shareNamed(i == 0 ? "Fuzz" : "IPC$");
            if (i == 0 && t->share)
                openSeedFile(t);
        }
    }
}

void drain()
{
    uint8_t scratch[65536];
    while (read(gPeer, scratch, sizeof scratch) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!testenv::enterPrivateRun() || !testenv::enterPrivateNet())
        std::abort();
    gSlot.sySocket = -1;
    udInit();
    syInit();
    cmSdInit();
    csAuthInit();
    testenv::writeFile(UD_CONFIG_DIR "cs_cfg.txt",
                       "Music;/mnt/usb1/music;My music\nFuzz;/var/run/fuzzshare;Fuzzed\n");
    std::filesystem::create_directories(kShareDir);
    if (csInitDatabase(nullptr, nullptr) != 0 || nsInit(0, 4) != 0 || csDispatchInit() != 0 || !connectPair())
        std::abort();
    seed();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 65000)
        return 0;
    static unsigned runs;
    if (++runs % 1000 == 0 || csGetSessionsCount() == 0)
        seed();
    if (gSession) {
        gSession->signingActive = data[0] & 1;
        gSession->waitingForFirstKey = 0;
    }
    // A keep-alive carries nothing; every message arrives whole, so no read
    // waits for its deadline.
    const bool keepAlive = data[0] & 2;
    uint32_t n = keepAlive ? 0 : uint32_t(size - 1);
    uint8_t header[4] = {uint8_t(keepAlive ? 0x85 : 0x00), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    if (write(gPeer, header, 4) != 4 || (n && write(gPeer, data + 1, n) != ssize_t(n)))
        std::abort();
    csDispatchSetSocket(&gSlot);
    int unread = 0;
    if (csDispatchRequest(&gSlot, &gAddress) != 0 || ioctl(gSlot.sySocket, FIONREAD, &unread) != 0 ||
        unread > 0)
        connectPair();
    else
        drain();
    return 0;
}
