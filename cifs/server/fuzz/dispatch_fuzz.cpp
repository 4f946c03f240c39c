// Whole messages through the dispatchers on a fake connection (a socket
// pair) whose session holds a user with a tree on a disk share (the file
// sandbox's, below guard files; one file open in it) and a guest on "IPC$", with fixed keys. The input's
// first byte chooses: bit 0 signing, bit 1 a keep-alive, bit 2 the SMB2
// dialect of the session (bits 4-5: 2.0.2, 2.1, 3.0, 3.1.1; bit 6 GCM, bit 7
// negotiated already), bit 3 the rest sealed under a transform header with
// the user's key. Anything is answered or drops the connection, never read or
// written outside its buffers.
// A second connection holds a batch oplock on "f" of bob's disk share:
// opens of it wait on a break. For the listing and pipe commands bob also
// has the share's folder open (FileId 0x4003, TreeId 10) and a tree on
// "IPC$" (TreeId 13) with the srvsvc pipe open (0x4004).
#include "file_sandbox.h"
#include "ud_test_env.h"
#include "csauth.h"
#include "csdb.h"
#include "csdcerpc.h"
#include "csdispatch.h"
#include "cmcryptsmb3.h"
#include "csshares.h"
#include "cssmb2.h"
#include "csservices.h"
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
#include <vector>

namespace {

NSSocket gSlot;
int gPeer = -1;
// The second connection: it holds the oplock and hears the breaks.
NSSocket gHolderSlot;
int gHolderPeer = -1;
uint32_t gAddress = 0x0501A8C0;
CSSession *gSession;

const CMWchar kIpc[] = {'I', 'P', 'C', '$', 0};
const uint32_t kDialects[] = {CS_DIALECT_SMB202, CS_DIALECT_SMB21, CS_DIALECT_SMB30, CS_DIALECT_SMB311};

// An SMB2 session in the state the input's first byte asks for, with a
// fresh MessageId window.
void prepareSmb2(uint8_t mode)
{
    if (!gSession)
        return;
    gSession->dialect = kDialects[(mode >> 4) & 3];
    gSession->useGcm = (mode >> 6) & 1;
    gSession->negotiated = mode >> 7;
    gSession->creditPool = CS2_CREDIT_POOL;
    gSession->midLow = 0;
    gSession->midEnd = CS2_MID_WINDOW;
    std::memset(gSession->midUsed, 0, sizeof gSession->midUsed);
}

// The message sealed for the first user, as a client would send it.
std::vector<uint8_t> seal(const uint8_t *plain, uint32_t n, bool gcm)
{
    static uint64_t counter;
    std::vector<uint8_t> t(52 + n, 0);
    t[0] = 0xFD, t[1] = 'S', t[2] = 'M', t[3] = 'B';
    ++counter;
    std::memcpy(&t[20], &counter, sizeof counter);
    for (int i = 0; i < 4; ++i)
        t[36 + i] = uint8_t(n >> (8 * i));
    t[42] = 1;
    CSUser *u = csGetUserByIndex(0);
    const uint64_t sid = u ? u->uid + CS_SMB2_SESSION_BASE : 0;
    std::memcpy(&t[44], &sid, sizeof sid);
    std::memcpy(&t[52], plain, n);
    uint8_t key[16];
    std::memset(key, 0x55, sizeof key);
    cmSmb3EncryptMessage(key, &t[20], &t[52], n, &t[20], 32, &t[4], gcm);
    return t;
}

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

// The disk share of bob's tree is the sandbox's, refilled at every seed:
// one more file in it, open as the first file record, so the file commands
// reach real data.

CSShare *shareNamed(const char *name)
{
    CMWchar wide[16];
    cmAnsiToUnicode(wide, name);
    return csGetShareByName(wide);
}

void openSeedFile(CSTree *tree)
{
    fuzz_files::refill();
    const std::string path = fuzz_files::gBox.share + "/x.txt";
    // Longer than the largest READ: reads can fill the answer buffer.
    std::string content;
    for (int i = 0; i < 70000 / 16; ++i)
        content += "0123456789abcdef";
    fuzz_files::put(path, content.c_str());
    CMWchar wide[64];
    cmAnsiToUnicode(wide, path.c_str());
    CSName *name = csGetNewName(wide, tree->uid);
    if (CSFile *file = name ? csGetNewFile(tree, name, 0x42) : nullptr) {
        file->fd = open(path.c_str(), O_RDWR);
        file->pid = 0x0101;
    }
}

void drainPeer(int peer)
{
    uint8_t scratch[65536];
    while (peer >= 0 && read(peer, scratch, sizeof scratch) > 0) {
    }
}

// The holder's connection opens "f" with a batch oplock, as a client would.
void seedHolder()
{
    csReleaseSessions(&gHolderSlot, 1);
    if (gHolderSlot.sySocket >= 0)
        close(gHolderSlot.sySocket);
    if (gHolderPeer >= 0)
        close(gHolderPeer);
    gHolderSlot.sySocket = gHolderPeer = -1;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    gHolderSlot.sySocket = fds[0];
    gHolderSlot.isNetBios = 1;
    gHolderPeer = fds[1];
    csDispatchSetSocket(&gHolderSlot);
    CSSession *session = csGetNewSession();
    CSUser *user = session ? csGetNewUser(session) : nullptr;
    CSTree *tree = user ? csGetNewTree(user) : nullptr;
    if (tree) {
        session->socket = &gHolderSlot;
        session->dialect = CS_DIALECT_SMB21;
        session->negotiated = 1;
        session->creditPool = CS2_CREDIT_POOL;
        session->midEnd = CS2_MID_WINDOW;
        cmAnsiToUnicode(user->name, "carol");
        user->loggedOn = user->authenticated = user->ntStatusMode = 1;
        tree->share = shareNamed("Fuzz");
        std::vector<uint8_t> m(64, 0);
        const uint8_t proto[] = {0xFE, 'S', 'M', 'B', 64, 0, 1, 0};
        std::memcpy(m.data(), proto, sizeof proto);
        m[12] = 5;  // CREATE
        m[14] = 1;
        const uint64_t sid = user->uid + CS_SMB2_SESSION_BASE;
        std::memcpy(&m[40], &sid, 8);
        m[36] = uint8_t(tree->tid);
        // Batch, read and write, share all, open if, non-directory, "f".
        const uint8_t body[] = {57,   0, 0, 9, 2,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0,
                                0,    0, 0, 0, 0x9F, 0x01, 0x12, 0, 0, 0, 0, 0, 7, 0, 0, 0, 3,   0, 0, 0,
                                0x40, 0, 0, 0, 120,  0,    2,    0, 0, 0, 0, 0, 0, 0, 0, 0, 'f', 0};
        m.insert(m.end(), body, body + sizeof body);
        const uint32_t n = uint32_t(m.size());
        uint8_t header[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        if (write(gHolderPeer, header, 4) != 4 || write(gHolderPeer, m.data(), n) != ssize_t(n))
            std::abort();
        csDispatchRequest(&gHolderSlot, &gAddress);
        drainPeer(gHolderPeer);
    }
    csDispatchSetSocket(&gSlot);
}

// A folder open for the listing commands, and a few names to list.
void openFolder(CSUser *bob, CSTree *disk)
{
    const std::string &share = fuzz_files::gBox.share;
    std::filesystem::create_directories(share + "/sub");
    for (const char *name : {"b.txt", "sub/c.txt"})
        fuzz_files::put(share + "/" + name, "");
    CMWchar wide[64];
    cmAnsiToUnicode(wide, share.c_str());
    CSName *name = csGetNewName(wide, bob->uid);
    if (CSFile *folder = name ? csGetNewFile(disk, name, 0x40) : nullptr) {
        folder->isDirectory = 1;
        folder->sid = CS_FREE_ID;
    }
}

// A tree on IPC$ with a pipe open, for the pipe commands.
void openPipe(CSUser *bob)
{
    CSTree *ipc = csGetNewTree(bob);
    if (!ipc)
        return;
    ipc->share = csGetShareByName(kIpc);
    static const CMWchar kPipe[] = {'s', 'r', 'v', 's', 'v', 'c', 0};
    CSName *name = csGetNewName(kPipe, bob->uid);
    CSFile *pipe = name ? csGetNewFile(ipc, name, 0x42) : nullptr;
    if (pipe && !csDcerpcOpenPipe(kPipe, pipe))
        csReleaseFile(pipe->fid);
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
        std::memset(u->smb3SigningKey, 0x44, sizeof u->smb3SigningKey);
        std::memset(u->decryptionKey, 0x55, sizeof u->decryptionKey);
        std::memset(u->encryptionKey, 0x66, sizeof u->encryptionKey);
        if (CSTree *t = csGetNewTree(u)) {
            t->share = i == 0 ? shareNamed("Fuzz") : csGetShareByName(kIpc);
            if (i == 0 && t->share)
                openSeedFile(t);
        }
    }
    seedHolder();
    CSUser *bob = csGetUserByIndex(0);
    CSTree *disk = bob ? csGetTreeByTid(10) : nullptr;
    if (disk && disk->uid == bob->uid) {
        openFolder(bob, disk);
        openPipe(bob);
    }
}

void drain()
{
    drainPeer(gPeer);
    drainPeer(gHolderPeer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!testenv::enterPrivateRun() || !testenv::enterPrivateNet())
        std::abort();
    fuzz_files::makeFolders();
    gSlot.sySocket = -1;
    gHolderSlot.sySocket = -1;
    udInit();
    syInit();
    cmSdInit();
    csAuthInit();
    testenv::writeFile(UD_CONFIG_DIR "cs_cfg.txt",
                       "Music;/mnt/usb1/music;My music\nFuzz;" + fuzz_files::gBox.share + ";Fuzzed\n");
    if (csInitDatabase(nullptr, nullptr) != 0 || nsInit(0, 4) != 0 || csDispatchInit() != 0 ||
        !connectPair() || csFnamesInit() != 0 || csDcerpcInit() != 0)
        std::abort();
    seed();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 65000)
        return 0;
    static unsigned runs;
    if (++runs % 1000 == 0 || csGetSessionsCount() < 2)
        seed();
    // Waiters are let go now and then, as the server loop's clock does.
    if (runs % 64 == 0)
        csOplockExpire(~uint64_t(0) >> 1);
    const uint8_t mode = data[0];
    if (gSession) {
        gSession->signingActive = mode & 1;
        gSession->waitingForFirstKey = 0;
        if (mode & 4)
            prepareSmb2(mode);
        else
            gSession->dialect = CS_DIALECT_SMB1;
    }
    // A keep-alive carries nothing; every message arrives whole, so no read
    // waits for its deadline.
    const bool keepAlive = mode & 2;
    std::vector<uint8_t> sealed;
    const uint8_t *message = data + 1;
    uint32_t n = keepAlive ? 0 : uint32_t(size - 1);
    if (!keepAlive && (mode & 8)) {
        sealed = seal(data + 1, n, gSession && gSession->useGcm);
        message = sealed.data();
        n = uint32_t(sealed.size());
    }
    uint8_t header[4] = {uint8_t(keepAlive ? 0x85 : 0x00), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    if (write(gPeer, header, 4) != 4 || (n && write(gPeer, message, n) != ssize_t(n)))
        std::abort();
    csDispatchSetSocket(&gSlot);
    int unread = 0;
    if (csDispatchRequest(&gSlot, &gAddress) != 0 || ioctl(gSlot.sySocket, FIONREAD, &unread) != 0 ||
        unread > 0)
        connectPair();
    else
        drain();
    fuzz_files::guard();
    return 0;
}
