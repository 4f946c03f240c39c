// Names asked for by local processes: broadcast queries on every adapter,
// up to three waiters per name, the choice among several addresses, and a
// short cache of the result.
#include "nd_internal.h"

#include "cmbuffer.h"
#include "ndpackets.h"
#include "ns_internal.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

enum : int32_t { Free = -1, Querying = 1, Positive = 2, Negative = 3 };

struct Waiter {
    uint16_t port;
    uint16_t id;
    NDAdapter *record;
};

struct QueriedName {
    CMNetBiosNameInfo name{};
    uint8_t cached[6]{};
    int32_t state = Free;
    Waiter waiters[3]{};
    uint32_t waiterCount = 0;
    uint32_t retries = 0;
    uint32_t period = 0;
    uint32_t timer = 0;
    uint16_t queryId = 0;
};

std::unique_ptr<QueriedName[]> table;

// All candidates' connects to TCP 139 share this much time.
constexpr int kConnectLimitMs = 300;
constexpr uint32_t kMaxCandidates = 32;

QueriedName *find(const char *name16)
{
    if (!table)
        return nullptr;
    for (uint32_t i = 0; i < ND_QUERIED_NAMES; ++i)
        if (table[i].state != Free && std::memcmp(table[i].name.name, name16, CM_NB_NAME_SIZE) == 0)
            return &table[i];
    return nullptr;
}

void putHeader(uint8_t *b, uint16_t id, uint16_t flags)
{
    b[0] = static_cast<uint8_t>(id >> 8);
    b[1] = static_cast<uint8_t>(id);
    b[2] = static_cast<uint8_t>(flags >> 8);
    b[3] = static_cast<uint8_t>(flags);
}

void answer(const QueriedName &q, const Waiter &w, bool positive)
{
    NDAdapter *via = w.record;
    if (via == nullptr || via->send == nullptr)
        return;
    via->srcPort = w.port;
    via->tranId = w.id;
    if (!positive)
        udNetBiosError(NS_ERR_REFUSED, q.name.name);
    int n = ndGenerateNameWhateverResponse(via->send, ND_BUFFER_SIZE, &q.name, ND_TYPE_NB,
                                           positive ? q.cached : nullptr, positive ? 6 : 0);
    if (n < 0)
        return;
    putHeader(via->send, w.id, positive ? 0x8000 : 0x8003);
    ndSend(via->nameSocket, via->send, static_cast<uint32_t>(n), htonl(INADDR_LOOPBACK), w.port);
}

void answerAll(QueriedName &q, bool positive)
{
    for (uint32_t i = 0; i < q.waiterCount; ++i)
        answer(q, q.waiters[i], positive);
    q.waiterCount = 0;
}

void sendQuery(QueriedName &q, NDAdapter *via)
{
    if (via == nullptr || via->send == nullptr)
        return;
    int n = ndGenerateNameQueryRequest(via->send, ND_BUFFER_SIZE, &q.name);
    if (n < 0)
        return;
    q.queryId = cmNetBiosGetNextTranId();
    putHeader(via->send, q.queryId, 0x0010);
    for (NDAdapter *a; (a = ndAdapterGetNext()) != nullptr;)
        ndSend(a->nameSocket, via->send, static_cast<uint32_t>(n), a->bcast, ndPort(137));
}

void addWaiter(QueriedName &q, NDAdapter *requester)
{
    if (q.waiterCount >= 3)
        return;
    for (uint32_t i = 0; i < q.waiterCount; ++i)
        if (q.waiters[i].port == requester->srcPort)
            return;
    q.waiters[q.waiterCount++] = Waiter{requester->srcPort, requester->tranId, requester};
}

// The first candidate (in answer order) that takes a TCP 139 connection,
// with every connect started at once and one short limit for all; -1 when
// none does in time.
int firstReachable(const uint32_t *ips, uint32_t count)
{
    struct pollfd fds[kMaxCandidates];
    for (uint32_t i = 0; i < count; ++i) {
        fds[i].fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        fds[i].events = POLLOUT;
        fds[i].revents = 0;
        if (fds[i].fd < 0)
            continue;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(139);
        to.sin_addr.s_addr = ips[i];
        if (connect(fds[i].fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
            close(fds[i].fd);
            fds[i].fd = -1;
        }
    }
    int chosen = -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectLimitMs);
    while (chosen < 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        bool pending = false;
        for (uint32_t i = 0; i < count; ++i)
            pending = pending || fds[i].fd >= 0;
        if (!pending || left.count() <= 0)
            break;
        if (poll(fds, count, static_cast<int>(left.count())) <= 0)
            break;
        for (uint32_t i = 0; i < count && chosen < 0; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            int error = 0;
            socklen_t len = sizeof error;
            getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &error, &len);
            if (error == 0 && (fds[i].revents & (POLLERR | POLLHUP)) == 0) {
                chosen = static_cast<int>(i);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (uint32_t i = 0; i < count; ++i)
        if (fds[i].fd >= 0)
            close(fds[i].fd);
    return chosen;
}

}  // namespace

int ndExternalNameInit()
{
    table.reset(new (std::nothrow) QueriedName[ND_QUERIED_NAMES]);
    return table ? 0 : -1;
}

void ndExternalNameStop() { table.reset(); }

int ndExternalNameFind(const char *name16)
{
    QueriedName *q = find(name16);
    return q != nullptr ? static_cast<int>(q - table.get()) : -1;
}

int ndExternalNameState(const char *name16)
{
    QueriedName *q = find(name16);
    return q != nullptr ? q->state : -1;
}

void ndExternalNameQuery(NDAdapter *requester, const CMNetBiosNameInfo *name)
{
    if (!table || requester == nullptr)
        return;
    QueriedName *q = find(name->name);
    if (q == nullptr) {
        for (uint32_t i = 0; i < ND_QUERIED_NAMES && q == nullptr; ++i)
            if (table[i].state == Free)
                q = &table[i];
        if (q == nullptr) {
            q = &table[0];
            for (uint32_t i = 1; i < ND_QUERIED_NAMES; ++i)
                if (table[i].period - table[i].timer > q->period - q->timer)
                    q = &table[i];
            *q = QueriedName{};
        }
        q->name = *name;
    }
    switch (q->state) {
    case Free: {
        sendQuery(*q, requester);
        bool dc = std::memchr(q->name.name, 0x1B, strnlen(q->name.name, CM_NB_NAME_SIZE)) != nullptr;
        q->retries = dc ? 0 : 2;
        q->period = q->timer = udGetWins() != 0 ? 2 : 1;
        q->state = Querying;
        addWaiter(*q, requester);
        break;
    }
    case Querying:
        addWaiter(*q, requester);
        break;
    case Positive:
        answer(*q, Waiter{requester->srcPort, requester->tranId, requester}, true);
        break;
    case Negative:
        answer(*q, Waiter{requester->srcPort, requester->tranId, requester}, false);
        break;
    default:
        break;
    }
}

int ndExternalNamePositiveQuery(NDAdapter *adapter, const NDMessage &m)
{
    QueriedName *q = find(m.name.name);
    if (q == nullptr || q->state != Querying || q->queryId != m.id)
        return -1;
    NDRecord rec;
    if (!ndReadRecord(adapter, m.behindName, &rec) || rec.type != ND_TYPE_NB || rec.rdLength < 6)
        return -1;
    uint32_t count = std::min<uint32_t>(rec.rdLength / 6, kMaxCandidates);
    const uint8_t *chosen = nullptr;
    if (count == 1) {
        chosen = rec.rdata;
    } else {
        uint32_t ips[kMaxCandidates];
        for (uint32_t i = 0; i < count; ++i)
            std::memcpy(&ips[i], rec.rdata + i * 6 + 2, 4);
        for (uint32_t i = 0; i < count && chosen == nullptr; ++i)
            if (((ips[i] ^ adapter->ip) & adapter->mask) == 0)
                chosen = rec.rdata + i * 6;
        if (chosen == nullptr) {
            int i = firstReachable(ips, count);
            if (i < 0)
                return -1;
            chosen = rec.rdata + i * 6;
        }
    }
    std::memcpy(q->cached, chosen, 6);
    q->period = q->timer = rec.ttl < 6 ? rec.ttl : 5;
    answerAll(*q, true);
    q->state = Positive;
    return 0;
}

int ndExternalNameNegativeQuery(NDAdapter *, const NDMessage &m)
{
    QueriedName *q = find(m.name.name);
    if (q == nullptr || q->state != Querying || q->queryId != m.id)
        return -1;
    answerAll(*q, false);
    *q = QueriedName{};
    return 0;
}

int ndExternalNameWack(NDAdapter *adapter, const NDMessage &m)
{
    QueriedName *q = find(m.name.name);
    if (q == nullptr || q->state != Querying)
        return -1;
    NDRecord rec;
    if (!ndReadRecord(adapter, m.behindName, &rec) || rec.ttl == 0)
        return -1;
    q->timer = rec.ttl - 1;
    return 0;
}

uint32_t ndExternalNameTimeout(uint32_t)
{
    if (!table)
        return 1;
    for (uint32_t i = 0; i < ND_QUERIED_NAMES; ++i) {
        QueriedName &q = table[i];
        switch (q.state) {
        case Positive:
        case Negative:
            if (q.state == Positive && q.period == 0)
                break;
            if (q.timer != 0)
                --q.timer;
            else
                q = QueriedName{};
            break;
        case Querying:
            if (q.period == 0)
                break;
            if (q.timer != 0) {
                --q.timer;
            } else if (q.retries != 0) {
                --q.retries;
                sendQuery(q, q.waiterCount > 0 ? q.waiters[0].record : nullptr);
                q.timer = q.period;
            } else {
                answerAll(q, false);
                q.state = Negative;
                q.period = q.timer = 2;
            }
            break;
        default:
            break;
        }
    }
    return 1;
}
