// The server's life: start-up of its parts, the one select loop over the
// control socket, the listeners and the client slots, restart and stop.
#include "csserver.h"

#include "csauth.h"
#include "csservices.h"
#include "csbrowse.h"
#include "csdb.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csshares.h"
#include "csctrl.h"
#include "csdcerpc.h"
#include "cmbuffer.h"
#include "cmnetbios.h"
#include "sysockets.h"
#include "syprint.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <time.h>

#include <algorithm>
#include <new>

namespace {

struct ClientSlot {
    NSSocket *socket;
    uint32_t peer;
    uint32_t lastActivity;  // wall-clock seconds
    uint32_t acceptTime;
    uint32_t pending;  // NetBIOS session request not yet received
};

struct Loop {
    NSSocket *control = nullptr;
    NSSocket *netbios = nullptr;
    NSSocket *direct = nullptr;
    int64_t nextAnnouncement = 0;
    int64_t nextPrinterPoll = 0;
    ClientSlot clients[CS_CLIENT_SLOTS] = {};
    SYMutex mutex{};
    bool mutexMade = false;
    bool endLoop = false;
    // The slot being dispatched: a close asked for meanwhile waits for it.
    NSSocket *serving = nullptr;
    bool closeServing = false;
};

Loop *gLoop;

int64_t monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}

void freeSlot(ClientSlot &c)
{
    if (c.socket)
        nsClose(c.socket);
    c = ClientSlot{};
}

void releaseAndFree(ClientSlot &c, int flag)
{
    csReleaseSessions(c.socket, flag);
    freeSlot(c);
}

// Hooks of the control handlers and the database.
void hookEndLoop()
{
    if (gLoop)
        gLoop->endLoop = true;
}

void hookDropAllClients()
{
    if (!gLoop)
        return;
    for (ClientSlot &c : gLoop->clients)
        if (c.socket && c.socket != gLoop->serving)
            releaseAndFree(c, 1);
    if (gLoop->serving)
        gLoop->closeServing = true;
}

// The session of socket has lost its last user: the connection goes too.
void hookCloseConnection(CSSocketSlot socket)
{
    if (!gLoop || !socket)
        return;
    if (socket == gLoop->serving) {
        gLoop->closeServing = true;
        return;
    }
    for (ClientSlot &c : gLoop->clients)
        if (c.socket == socket)
            freeSlot(c);
}

bool transportOn(uint32_t transport) { return udGetTransportPriority(transport) != 0; }

NSSocket *openControlSocket()
{
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    for (uint32_t transport : {uint32_t(NS_TRANSPORT_IP), uint32_t(NS_TRANSPORT_NETBIOS)}) {
        if (!transportOn(transport))
            continue;
        NSSocket *s = nsSocket(NS_SOCKET_DATAGRAM, transport);
        if (!s)
            continue;
        if (nsBindInet(s, &loopback, htons(CS_CONTROL_PORT)) == 0)
            return s;
        nsClose(s);
    }
    return nullptr;
}

bool openServerSockets(Loop &l)
{
    l.control = openControlSocket();
    if (!l.control)
        return false;
    if (transportOn(NS_TRANSPORT_NETBIOS)) {
        l.netbios = csPrepareSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
        if (!l.netbios)
            return false;
    }
    if (transportOn(NS_TRANSPORT_IP)) {
        l.direct = csPrepareSocket(NS_SOCKET_STREAM, NS_TRANSPORT_IP);
        if (!l.direct)
            return false;
    }
    return true;
}

void closeServerSockets(Loop &l)
{
    for (NSSocket **s : {&l.netbios, &l.direct, &l.control}) {
        if (*s)
            nsClose(*s);
        *s = nullptr;
    }
}

bool initParts()
{
    // Each part fails by -1, except the security part, which succeeds by 1
    // alone: anything else from it is a failure.
    return csInitDatabase(csLockDispatch, csUnlockDispatch) == 0 && csDcerpcInit() == 0 &&
           csInitBrowse() == 0 && csFnamesInit() == 0 && csAuthInit() == 1 && csDispatchInit() == 0 &&
           cs2DispatchInit() == 0 && csNotifyInit() == 0;
}

void shutdownParts(Loop &l, bool restarting)
{
    csFnamesExit();
    csAuthShutdown();
    csNotifyExit();
    csDispatchExit();
    cs2DispatchExit();
    csStopBrowse();
    csDcerpcStop();
    csCloseDatabase();
    if (l.mutexMade) {
        syMutexDelete(&l.mutex);
        l.mutexMade = false;
    }
    if (!restarting)
        nsExit(1, 2);
    udCifsServerClosed();
}

int acceptClient(Loop &l, NSSocket *listening, uint32_t pending, uint32_t now)
{
    nsResetBufferPool();
    uint32_t peer = 0;
    NSSocket *s = nsAccept(listening, &peer);
    if (!s)
        return 0;
    ClientSlot *slot = nullptr;
    for (ClientSlot &c : l.clients)
        if (!c.socket) {
            slot = &c;
            break;
        }
    if (!slot) {
        // A full table never refuses: the least recently active client goes.
        slot = &l.clients[0];
        for (ClientSlot &c : l.clients)
            if (c.lastActivity < slot->lastActivity)
                slot = &c;
        releaseAndFree(*slot, 0);
    }
    *slot = ClientSlot{s, peer, now, now, pending};
    return 1;
}

// One pass over the client slots after select.
void serveClients(Loop &l, NSSocketSet &ready, uint32_t now)
{
    for (ClientSlot &c : l.clients) {
        if (!c.socket)
            continue;
        if (!nsIsSocketAlive(c.socket)) {
            if (c.pending)
                freeSlot(c);
            else
                releaseAndFree(c, 1);
            continue;
        }
        bool readable = nsSocketInSet(&ready, c.socket) != 0;
        if (readable && c.pending) {
            // The socket layer closes a socket whose request failed.
            if (nsPostAccept(&c.socket) == 0)
                c.pending = 0;
            if (!c.socket)
                c = ClientSlot{};
        } else if (readable) {
            l.serving = c.socket;
            l.closeServing = false;
            csLockDispatch();
            int r = csDispatchRequest(c.socket, &c.peer);
            // A pipe call may have closed its own pipe or session: only now,
            // with the request answered, is that safe.
            csDcerpcRunDeferredReleases();
            csUnlockDispatch();
            l.serving = nullptr;
            c.lastActivity = now;
            if (r == -1)
                releaseAndFree(c, 0);
            else if (l.closeServing)
                freeSlot(c);
            l.closeServing = false;
        } else if (c.pending && now - c.acceptTime >= CS_SESSION_REQUEST_SECONDS) {
            freeSlot(c);
        }
    }
}

// The loop until it ends; the caller stops or restarts by the restart flag.
void run(Loop &l)
{
    CSServerContext *ctx = csGetServerContext();
    for (;;) {
        int64_t now = monotonicSeconds();
        int64_t wait = std::min<int64_t>(
            {std::min<int64_t>(l.nextAnnouncement - now, 2147483), l.nextPrinterPoll - now, 1});
        wait = std::max<int64_t>(wait, 0);

        NSSocketSet set;
        int highest = -1;
        nsClearSocketSet(&set);
        nsAddSocketToSet(&highest, &set, l.control);
        if (l.netbios && transportOn(NS_TRANSPORT_NETBIOS))
            nsAddSocketToSet(&highest, &set, l.netbios);
        if (l.direct && transportOn(NS_TRANSPORT_IP))
            nsAddSocketToSet(&highest, &set, l.direct);
        for (ClientSlot &c : l.clients) {
            // A client whose print data fills its job's queue is not read
            // until the printer takes some: its connection holds the rest.
            if (!c.socket || syPrintWritesBackedUp(c.socket))
                continue;
            if (nsAddSocketToSet(&highest, &set, c.socket) == 0)
                releaseAndFree(c, 1);
        }
        // A printer that took only part of a job's data wakes the loop when
        // it takes more; the loop never waits on the device itself.
        const int printers = syPrinterWakeDescriptor();
        if (printers >= 0 && printers < FD_SETSIZE) {
            FD_SET(printers, &set);
            highest = std::max(highest, printers);
        }

        int selected = nsSelect(highest, &set, uint32_t(wait));
        udServerDataIn();
        csOplockExpire(0);
        if (selected > 0 && printers >= 0 && printers < FD_SETSIZE && FD_ISSET(printers, &set))
            syResumeStalledPrinters();

        now = monotonicSeconds();
        if (l.nextAnnouncement <= now) {
            int period = csAnnounceServer();
            if (period == -1)
                return;
            l.nextAnnouncement += period;
        }
        if (l.nextPrinterPoll <= now) {
            vxUpdatePrinterStatuses();
            l.nextPrinterPoll += CS_PRINTER_POLL_SECONDS;
        }
        if (selected == 0) {
            // A quiet pass still closes NetBIOS clients that never sent
            // their session request: otherwise only traffic would.
            nsClearSocketSet(&set);
            serveClients(l, set, uint32_t(time(nullptr)));
            continue;
        }
        if (selected < 0) {
            if (!l.netbios || !nsIsSocketAlive(l.netbios) || !l.direct || !nsIsSocketAlive(l.direct))
                return;
            for (ClientSlot &c : l.clients)
                if (c.socket && !nsIsSocketAlive(c.socket))
                    releaseAndFree(c, 0);
            continue;
        }
        if (nsSocketInSet(&set, l.control) && doControl(nsGetSySocket(l.control)) == 0)
            return;
        if (l.endLoop)
            return;
        uint32_t wall = uint32_t(time(nullptr));
        if (l.netbios && nsSocketInSet(&set, l.netbios))
            acceptClient(l, l.netbios, 1, wall);
        // Direct clients enter as least recently active: until their first
        // request they are the first to make room.
        if (l.direct && nsSocketInSet(&set, l.direct))
            acceptClient(l, l.direct, 0, 0);
        serveClients(l, set, wall);
        if (l.endLoop || !ctx)
            return;
    }
}

}  // namespace

extern "C" {

void csLockDispatch(void)
{
    if (gLoop && gLoop->mutexMade)
        syMutexTake(&gLoop->mutex);
}

void csUnlockDispatch(void)
{
    if (gLoop && gLoop->mutexMade)
        syMutexGive(&gLoop->mutex);
}

int csStart(void)
{
    if (gLoop)
        return -1;
    CSServerContext *ctx = csServerContextCreate();
    if (!ctx)
        return -1;
    ctx->restart = 0;
    gLoop = new (std::nothrow) Loop;
    if (!gLoop) {
        csServerContextFree();
        return -1;
    }
    Loop &l = *gLoop;
    auto fail = [&]() {
        csServerSetLoopHooks(nullptr, nullptr);
        csDatabaseSetCloseHook(nullptr);
        delete gLoop;
        gLoop = nullptr;
        csServerContextFree();
        return -1;
    };
    bool first = true;
    for (;;) {
        l.mutexMade = syMutexCreate(&l.mutex) == 0;
        for (ClientSlot &c : l.clients)
            c = ClientSlot{};
        l.endLoop = false;
        if (first && nsInit(1, 2) != 0) {
            if (l.mutexMade)
                syMutexDelete(&l.mutex);
            udCifsServerClosed();
            return fail();
        }
        if (!l.mutexMade || !initParts() || (first && !openServerSockets(l))) {
            closeServerSockets(l);
            shutdownParts(l, ctx->restart != 0);
            return fail();
        }
        csServerSetLoopHooks(hookEndLoop, hookDropAllClients);
        csDatabaseSetCloseHook(hookCloseConnection);
        udCifsServerStarted();
        l.nextAnnouncement = l.nextPrinterPoll = monotonicSeconds();

        run(l);

        bool restarting = ctx->restart != 0;
        if (!restarting)
            closeServerSockets(l);
        for (ClientSlot &c : l.clients)
            if (c.socket)
                releaseAndFree(c, 1);
        vxRemovePrinterStatuses();
        csServerSetLoopHooks(nullptr, nullptr);
        csDatabaseSetCloseHook(nullptr);
        shutdownParts(l, restarting);
        if (!restarting) {
            delete gLoop;
            gLoop = nullptr;
            csServerContextFree();
            return 0;
        }
        first = false;
    }
}

int csStop(void)
{
    int s = syCreateSocket(0, 0);
    if (s < 0)
        return -1;
    uint8_t stop[4];
    CMBufferWriter w;
    cmBufferWriterInit(&w, stop, sizeof stop);
    cmBufferWriteUint32(&w, 1);
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    if (sySendToSocket(s, stop, sizeof stop, &loopback, htons(CS_CONTROL_PORT)) == int(sizeof stop)) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        if (sySelectSocket(s + 1, &set, 1) > 0) {
            uint8_t reply[4];
            uint32_t ip = 0;
            uint16_t port = 0;
            syRecvFromSocket(s, reply, sizeof reply, &ip, &port);
        }
    }
    return syCloseSocket(s);
}

}  // extern "C"
