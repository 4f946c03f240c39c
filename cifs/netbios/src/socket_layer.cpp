// Start and stop of the socket layer, counted per process: the first nsInit
// starts the common layer and makes the layer's parts, the last nsExit
// removes them; every nsInit registers the NetBIOS resolver methods.
#include "nssocket.h"

#include "cmdns.h"
#include "cminit.h"
#include "cmresolver.h"
#include "nschannel.h"
#include "ns_internal.h"
#include "sythread.h"
#include "udhooks.h"

#include <mutex>

namespace {

SYMutex gGuard;
bool gGuardMade = false;
std::mutex gGuardMaking;
uint32_t gCount = 0;
NSSocket *gHostNameSocket = nullptr;

void makeGuard()
{
    std::lock_guard<std::mutex> lock(gGuardMaking);
    if (!gGuardMade)
        gGuardMade = syMutexCreate(&gGuard) == 0;
}

struct Held {
    Held() { syMutexTake(&gGuard); }
    ~Held() { syMutexGive(&gGuard); }
};

// Parts in the order they are made; removal runs in its own order below.
struct Part {
    int (*make)();
};
int makeSocketPool() { return ns::initSocketPool(); }
int makeInternalSockets() { return nsInitInternalSockets(); }
int makeSession() { return ns::initSession(); }
int makeBuffers() { return ns::initMessageBufferPool(); }
int makeMessage() { return ns::initMessage(); }
int makeDns() { return nsDnsInit(); }
const Part kParts[] = {{makeSocketPool}, {makeInternalSockets}, {makeSession},
                       {makeBuffers},    {makeMessage},         {makeDns}};

void removeParts()
{
    ns::exitMessage();
    ns::releaseMessageBufferPool();
    nsDnsExit();
    nsExitInternalSockets();
    ns::exitSocketPool();
    ns::exitSession();
}

void dropOne(uint32_t mode)
{
    if (gCount > 0 && --gCount == 0) {
        removeParts();
        cmExit(mode);
    }
}

bool openHostNameSocket()
{
    const CMNetBiosNameInfo *host = cmNetBiosGetHostNameInfo();
    const char *text = host->name[0] != '\0' ? host->name : cmNetBiosGetHostNameSpaced();
    CMNetBiosNameInfo record = ns::nameOf(text, 0x00, false);
    NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
    if (slot == nullptr)
        return false;
    if (nsBindNetBios(slot, &record, 1) != 0 || nsListen(slot, 3) != 0) {
        nsClose(slot);
        return false;
    }
    gHostNameSocket = slot;
    return true;
}

}  // namespace

namespace ns {

void setCommonDatagramSocket(NSSocket *slot) { gHostNameSocket = slot; }

}  // namespace ns

void nsInitGuard(void) { makeGuard(); }

void nsExitGuard(void)
{
    std::lock_guard<std::mutex> lock(gGuardMaking);
    if (gGuardMade && gCount == 0) {
        syMutexDelete(&gGuard);
        gGuardMade = false;
    }
}

int nsInit(int openHostNameSocket_, uint32_t mode)
{
    makeGuard();
    if (!gGuardMade)
        return -1;
    Held held;
    if (gCount > 0) {
        ++gCount;
    } else {
        if (cmInit(mode) != 0)
            return -1;
        ++gCount;
        for (const Part &p : kParts) {
            if (p.make() != 0) {
                dropOne(mode);
                return -1;
            }
        }
    }
    ns::registerResolverMethods();
    if (openHostNameSocket_ && gHostNameSocket == nullptr && !openHostNameSocket()) {
        dropOne(mode);
        return -1;
    }
    return 0;
}

int nsExit(int closeHostNameSocket, uint32_t mode)
{
    if (!gGuardMade)
        return 0;
    Held held;
    if (closeHostNameSocket && gHostNameSocket != nullptr) {
        nsClose(gHostNameSocket);
        gHostNameSocket = nullptr;
    }
    dropOne(mode);
    return 0;
}

NSSocket *nsGetCommonDatagramSocket(void) { return gHostNameSocket; }
