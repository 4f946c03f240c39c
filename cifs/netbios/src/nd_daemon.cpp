// The daemon's start, loop and stop: five sockets, one select, the name
// timers, and a wake-up pipe so that a stop or a reload asked from another
// thread takes effect at once rather than when the select times out.
#include "nd_internal.h"

#include "nssocket.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

enum Kind : uint32_t {
    NameKind = 0,
    DatagramKind = 1,
    InternalNameKind = 3,
    InternalDatagramKind = 4,
    LlmnrKind = 5
};

struct Slot {
    int socket = -1;
    uint32_t kind = 0;
};

struct Daemon {
    std::mutex mutex;
    uint32_t stop = 0;
    uint32_t configChanged = 1;
    NDAdapter savedRequester{};
    NDAdapter pseudo{};
    uint32_t socketCount = 0;
    uint8_t receive[ND_BUFFER_SIZE];
    uint8_t send[ND_BUFFER_SIZE];
    Slot slots[6];
    uint32_t timeout = 1;
    int wake[2] = {-1, -1};
};

// Guards the pointer itself: ndStop may race the daemon's end.
std::mutex daemonGuard;
Daemon *running = nullptr;

void wakeUp(Daemon *d)
{
    if (d->wake[1] >= 0) {
        char c = 1;
        ssize_t ignored = write(d->wake[1], &c, 1);  // a full pipe already wakes
        (void)ignored;
    }
}

void drain(int fd)
{
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

bool openSocket(Daemon *d, uint32_t slot, uint32_t kind, uint32_t address, uint16_t port)
{
    int s = syCreateSocket(0, 0);
    d->slots[slot].socket = s;
    d->slots[slot].kind = kind;
    if (s < 0)
        return false;
    fcntl(s, F_SETFD, FD_CLOEXEC);
    if (syBindSocket(s, &address, htons(port)) != 0) {
        syCloseSocket(s);
        d->slots[slot].socket = -1;
        return false;
    }
    if (kind == LlmnrKind) {
        uint32_t group = inet_addr("224.0.0.252");
        sySubscribeToMulticast(s, &group);
        ndLLMNRSetSocket(s);
    }
    return true;
}

bool reloadAdapters(Daemon *d)
{
    cmNetBiosNameInit();
    d->configChanged = 0;
    ndInternalNameReleaseAllNames(0);
    if (ndAdapterListLoad() != 0)
        return false;
    for (NDAdapter *a; (a = ndAdapterGetNext()) != nullptr;) {
        a->nameSocket = d->slots[0].socket;
        a->datagramSocket = d->slots[1].socket;
        a->recv = d->receive;
        a->send = d->send;
    }
    ndConfigChangeRegisterAllNames(d->savedRequester.send != nullptr ? &d->savedRequester : nullptr);
    return true;
}

uint32_t nameTimeout(uint32_t elapsed)
{
    uint32_t a = ndInternalNameTimeout(elapsed);
    uint32_t b = ndExternalNameTimeout(elapsed);
    return a < b ? a : b;
}

void dispatch(Daemon *d, const Slot &slot, NDAdapter *adapter)
{
    switch (slot.kind) {
    case NameKind:
        ndNameProcessExternalMessage(adapter);
        break;
    case DatagramKind:
        ndDatagramProcessExternalMessage(adapter);
        break;
    case InternalNameKind:
        ndNameProcessInternalMessage(adapter);
        break;
    case InternalDatagramKind:
        ndDatagramProcessInternalMessage(adapter);
        break;
    case LlmnrKind:
        ndLLMNRProcessExternalMessage(adapter);
        break;
    default:
        break;
    }
    (void)d;
}

void runLoop(Daemon *d)
{
    // Timers run by the time since their last run, not since the current
    // select began: a steady flood would otherwise never let a select last
    // a whole second, and no registration would ever complete.
    time_t lastRun = time(nullptr);
    for (;;) {
        uint32_t stop, changed;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            stop = d->stop;
            changed = d->configChanged;
        }
        if (stop)
            return;
        if (changed && !reloadAdapters(d)) {
            udNetBiosDaemonClosed();
            return;
        }
        fd_set set;
        FD_ZERO(&set);
        int highest = d->wake[0];
        FD_SET(d->wake[0], &set);
        for (uint32_t i = 0; i < d->socketCount; ++i) {
            if (d->slots[i].socket < 0)
                continue;
            FD_SET(d->slots[i].socket, &set);
            if (d->slots[i].socket > highest)
                highest = d->slots[i].socket;
        }
        int n = sySelectSocket(highest, &set, d->timeout);
        if (n < 0)
            return;
        time_t now = time(nullptr);
        uint32_t elapsed = now > lastRun ? static_cast<uint32_t>(now - lastRun) : 0;
        if (n == 0) {
            d->timeout = nameTimeout(elapsed);
            lastRun = now;
            continue;
        }
        if (FD_ISSET(d->wake[0], &set)) {
            drain(d->wake[0]);
            --n;
        }
        if (n == 0)
            continue;  // only woken: the flags are read at the top
        udNetBiosDataIn();
        if (elapsed >= d->timeout) {
            nameTimeout(elapsed);
            lastRun = now;
        }
        d->timeout = 1;
        for (uint32_t i = 0; i < d->socketCount; ++i) {
            const Slot &slot = d->slots[i];
            if (slot.socket < 0 || !FD_ISSET(slot.socket, &set))
                continue;
            uint32_t ip = 0;
            uint16_t port = 0;
            int got = syRecvFromSocket(slot.socket, d->receive, ND_BUFFER_SIZE, &ip, &port);
            if (got <= 0)
                continue;
            NDAdapter *adapter = ndFindAdapter(ip, &d->pseudo);
            adapter->srcPort = port;
            adapter->srcIp = ip;
            adapter->length = static_cast<uint32_t>(got);
            adapter->word = 0;
            dispatch(d, slot, adapter);
        }
    }
}

void shutDown(Daemon *d)
{
    if (d->stop == 1) {
        ndInternalNameReleaseAllNames(1);
        for (uint32_t i = 0; i < d->socketCount; ++i)
            if (d->slots[i].socket >= 0) {
                syCloseSocket(d->slots[i].socket);
                d->slots[i].socket = -1;
            }
        d->socketCount = 0;
    }
    ndAdapterListStop();
    udNetBiosDaemonClosed();
    ndDatagramStop();
    ndNameStop();
    ndLLMNRSetSocket(-1);
    {
        std::lock_guard<std::mutex> lock(daemonGuard);
        running = nullptr;
    }
    // Sockets not closed above are left to the process's end, as the names
    // they hold are not released either.
    close(d->wake[0]);
    close(d->wake[1]);
    delete d;
    nsExit(0, 4);
}

void post(sem_t *semaphore)
{
    if (semaphore != nullptr)
        sem_post(semaphore);
}

}  // namespace

int ndStart(sem_t *semaphore)
{
    if (nsInit(0, 4) != 0) {
        post(semaphore);
        return -1;
    }
    Daemon *d = new (std::nothrow) Daemon;
    if (d == nullptr || pipe2(d->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        delete d;
        nsExit(0, 4);
        post(semaphore);
        return -1;
    }
    {
        // One daemon per process: a second start must not take the first's
        // place (its stop would then reach nobody).
        std::lock_guard<std::mutex> lock(daemonGuard);
        if (running != nullptr) {
            close(d->wake[0]);
            close(d->wake[1]);
            delete d;
            nsExit(0, 4);
            post(semaphore);
            return -1;
        }
        running = d;
    }
    bool ok = ndDatagramInit() == 0 && ndNameInit() == 0 && ndAdapterListInit() == 0;
    if (ok) {
        const uint32_t any = 0;
        const uint32_t loopback = htonl(INADDR_LOOPBACK);
        struct {
            uint32_t kind, address;
            uint16_t port;
        } const plan[] = {
            {NameKind, any, udGetPort(137)},
            {DatagramKind, any, udGetPort(138)},
            {InternalNameKind, loopback, udGetPort(1026)},
            {InternalDatagramKind, loopback, udGetPort(1027)},
            {LlmnrKind, any, 5355},
        };
        for (const auto &p : plan) {
            ++d->socketCount;
            if (!openSocket(d, d->socketCount - 1, p.kind, p.address, p.port)) {
                ok = false;
                break;
            }
        }
    }
    if (ok) {
        d->pseudo.ip = 0;
        d->pseudo.nameSocket = d->slots[d->socketCount - 2].socket;
        d->pseudo.datagramSocket = d->slots[d->socketCount - 1].socket;
        d->pseudo.recv = d->receive;
        d->pseudo.send = d->send;
        ok = reloadAdapters(d);
    }
    if (!ok) {
        post(semaphore);
        // Close what was opened: a failed start holds no ports.
        for (uint32_t i = 0; i < d->socketCount; ++i)
            if (d->slots[i].socket >= 0)
                syCloseSocket(d->slots[i].socket);
        d->socketCount = 0;
        shutDown(d);
        return -1;
    }
    udNetBiosDaemonStarted();
    post(semaphore);
    runLoop(d);
    shutDown(d);
    return -1;
}

void ndStop()
{
    std::lock_guard<std::mutex> guard(daemonGuard);
    if (running == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(running->mutex);
        running->stop = 1;
    }
    wakeUp(running);
}

void ndNotifyConfigurationChange(const NDAdapter *requester)
{
    std::lock_guard<std::mutex> guard(daemonGuard);
    if (running == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(running->mutex);
        running->configChanged = 1;
        if (requester != nullptr && requester != &running->savedRequester)
            running->savedRequester = *requester;
    }
    wakeUp(running);
}
