// Whole messages through the dispatchers on a fake connection (a socket
// pair) whose session holds a user and a tree, with fixed keys. The input's
// first byte chooses: bit 0 signing, bit 1 a keep-alive, bit 2 the SMB2
// dialect of the session (bits 4-5: 2.0.2, 2.1, 3.0, 3.1.1; bit 6 GCM, bit 7
// negotiated already), bit 3 the rest sealed under a transform header with
// the user's key. The first user also holds a tree (TreeId 12) on a disk
// share with a file (FileId 0x4001) and its folder (0x4002) open, and the
// srvsvc pipe (0x4003) on IPC$, for the file commands. Anything is answered
// or drops the connection, never read or written outside its buffers.
#include "ud_test_env.h"
#include "csauth.h"
#include "csdb.h"
#include "csdcerpc.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "cmcryptsmb3.h"
#include "csshares.h"
#include "cssmb2.h"
#include "cmsd.h"
#include "cmstring.h"
#include "nssocket.h"
#include "syfiles.h"
#include "udhooks.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

NSSocket gSlot;
int gPeer = -1;
uint32_t gAddress = 0x0501A8C0;
CSSession *gSession;

const CMWchar kIpc[] = {'I', 'P', 'C', '$', 0};
const CMWchar kDisk[] = {'D', 'I', 'S', 'K', 0};
// On the private /var/run: whatever the inputs write goes with the process.
char gFolder[] = "/var/run/dispatch-fuzz-XXXXXX";
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
    gSlot.sySocket = fds[0];
    gSlot.isNetBios = 1;
    gPeer = fds[1];
    return true;
}

CSFile *openName(CSTree *tree, const std::string &path, bool directory)
{
    std::vector<CMWchar> wide(path.begin(), path.end());
    wide.push_back(0);
    CSName *name = csGetNewName(wide.data(), tree->uid);
    CSFile *file = name ? csGetNewFile(tree, name, 0x1FF) : nullptr;
    if (!file)
        return nullptr;
    file->isDirectory = directory;
    file->sid = CS_FREE_ID;
    file->fd = directory ? -1 : open(path.c_str(), O_RDWR | O_CREAT, 0644);
    return file;
}

// The disk share's folder as a client found it: a few names, one file open.
void openFiles()
{
    CSUser *bob = csGetUserByIndex(0);
    CSTree *tree = bob ? csGetNewTree(bob) : nullptr;
    if (!tree)
        return;
    tree->share = csGetShareByName(kDisk);
    const std::string root = gFolder;
    std::system(("rm -rf " + root + "/* && mkdir -p " + root + "/sub").c_str());
    for (const char *name : {"a.txt", "b.txt", "sub/c.txt"}) {
        const int fd = open((root + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0 && write(fd, "0123456789abcdef", 16) == 16)
            close(fd);
        else if (fd >= 0)
            close(fd);
    }
    openName(tree, root + "/a.txt", false);
    openName(tree, root, true);
    // The server service's pipe on the IPC$ tree (TreeId 10, FileId 0x4003).
    CSTree *ipc = csGetTreeByTid(10);
    static const CMWchar kPipe[] = {'s', 'r', 'v', 's', 'v', 'c', 0};
    CSName *name = ipc ? csGetNewName(kPipe, bob->uid) : nullptr;
    CSFile *pipe = name ? csGetNewFile(ipc, name, 0x1FF) : nullptr;
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
        if (CSTree *t = csGetNewTree(u))
            t->share = csGetShareByName(kIpc);
    }
    openFiles();
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
    testenv::writeFile(UD_CONFIG_DIR "cs_cfg.txt", "Music;/mnt/usb1/music;My music\n");
    if (!mkdtemp(gFolder))
        std::abort();
    if (csInitDatabase(nullptr, nullptr) != 0 || nsInit(0, 4) != 0 || csDispatchInit() != 0 ||
        !connectPair() || csFnamesInit() != 0 || csDcerpcInit() != 0 ||
        vxAddShareA("DISK", gFolder, "", -1, "") != 0)
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
    return 0;
}
