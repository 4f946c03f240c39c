// TCP: client connections carrying one query each, upstream connections
// carrying one try each; messages framed by a two-byte length.
#include "tcp_conn.h"
#include "query_road.h"
#include "server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dnsr {

namespace {

constexpr int kAcceptsPerRound = 16;

TcpConn &conn_of(Server &s, int slot) { return s.road.tcp[size_t(slot)]; }

void conn_start(Server &s, int slot, int fd, TcpConn::Role role, const zmo_ip_sockaddr_t &peer)
{
    TcpConn &c = conn_of(s, slot);
    s.acc.free(c.rx);
    s.acc.free(c.tx);
    c = TcpConn{};
    c.role = role;
    c.serial = s.road.next_serial++;
    if (s.road.next_serial == 0)
        s.road.next_serial = 1;
    c.peer = peer;
    zmo_time_get_monotonic(&c.last_active);
    s.slots.set_fd(slot, fd);
}

// A whole message has arrived.
void conn_message(Server &s, int slot)
{
    TcpConn &c = conn_of(s, slot);
    uint8_t *msg = c.rx;
    size_t len = c.want;
    c.rx = nullptr;
    c.rx_have = c.rx_room = c.want = c.have_len = 0;
    c.reading = false;
    if (c.role == TcpConn::kClient) {
        // One query per connection: nothing more is read from it.
        s.slots.set_handlers(slot, nullptr, s.slots.at(slot).write);
        road_query(s, msg, len, kKindTcp, slot, c.peer, nullptr, 0, nullptr);
    } else {
        road_answer(s, msg, len, c.peer, slot, false);
    }
    s.acc.free(msg);
}

void tcp_read(Server &s, int slot)
{
    uint8_t buf[4096];
    TcpConn &c = conn_of(s, slot);
    ssize_t n = recv(s.slots.at(slot).fd, buf, sizeof buf, 0);
    if (n == 0) {
        tcp_close(s, slot);
        return;
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        zmo_log(ZMO_LOG_ERROR, "failed to receive TCP: %s", zmo_sys_strerror(errno));
        if (c.role == TcpConn::kUpstream)
            road_tcp_failed(s, c.pending_id, slot);
        tcp_close(s, slot);
        return;
    }
    zmo_time_get_monotonic(&c.last_active);
    if (!c.reading) {
        c.reading = true;
        c.first_byte = c.last_active;
    }
    size_t i = 0;
    while (i < size_t(n)) {
        // The length may come split over reads, even one byte at a time.
        if (c.have_len < 2) {
            c.len_bytes[c.have_len++] = buf[i++];
            if (c.have_len < 2)
                continue;
            c.want = get16(c.len_bytes);
            if (c.want < 12) {
                tcp_close(s, slot);
                return;
            }
            c.rx_have = 0;
        }
        size_t take = std::min(c.want - c.rx_have, size_t(n) - i);
        if (take == 0)
            break;  // the length alone: the message comes with a later read
        // Memory for the bytes that came, not for the length announced: a
        // prefix alone must not cost the cache anything.
        if (c.rx_have + take > c.rx_room) {
            // Doubling keeps a message that comes a byte at a time from
            // being copied over and over, and stays within twice what came.
            size_t room = std::max(c.rx_have + take, std::min(2 * c.rx_room, c.want));
            // The last step leaves room for the option record of a try.
            if (room == c.want)
                room += kOptionRecordSize;
            uint32_t serial = c.serial;
            road_reserve(s, room);
            if (c.serial != serial)
                return;  // the purge closed it: an upstream try past its time
            auto *grown = static_cast<uint8_t *>(s.acc.alloc(room));
            if (!grown) {
                zmo_log(ZMO_LOG_ERROR, "unable to allocate memory for TCP data");
                if (c.role == TcpConn::kUpstream)
                    road_tcp_failed(s, c.pending_id, slot);
                tcp_close(s, slot);
                return;
            }
            if (c.rx_have)
                memcpy(grown, c.rx, c.rx_have);
            s.acc.free(c.rx);
            c.rx = grown;
            c.rx_room = room;
        }
        memcpy(c.rx + c.rx_have, buf + i, take);
        c.rx_have += take;
        i += take;
        if (c.rx_have == c.want) {
            int serial = int(c.serial);
            conn_message(s, slot);
            // Whatever follows the one message is not read.
            if (int(conn_of(s, slot).serial) != serial || !s.slots.at(slot).read)
                return;
        }
    }
}

void tcp_write(Server &s, int slot)
{
    TcpConn &c = conn_of(s, slot);
    int fd = s.slots.at(slot).fd;
    if (fd < 0 || !c.tx) {
        zmo_log_debug(1, "socket was closed");
        return;
    }
    auto failed = [&]() {
        if (c.role == TcpConn::kUpstream)
            road_tcp_failed(s, c.pending_id, slot);
        tcp_close(s, slot);
    };
    if (c.tx_sent == 0) {
        int err = 0;
        socklen_t l = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &l) != 0 || err != 0) {
            zmo_log_debug(1, "socket is not ready for send: %s", zmo_sys_strerror(err ? err : errno));
            failed();
            return;
        }
    }
    ssize_t n = send(fd, c.tx + c.tx_sent, c.tx_len - c.tx_sent, MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        if (errno != EPIPE)
            zmo_log_debug(1, "unable to send TCP: %s", zmo_sys_strerror(errno));
        failed();
        return;
    }
    zmo_time_get_monotonic(&c.last_active);
    c.tx_sent += size_t(n);
    if (c.tx_sent < c.tx_len)
        return;
    s.acc.free(c.tx);
    c.tx = nullptr;
    c.tx_len = c.tx_sent = 0;
    if (c.role == TcpConn::kClient) {
        tcp_close(s, slot);  // the reply is out: the connection's work is done
        return;
    }
    // The try is out; the answer comes on the same connection.
    s.slots.set_handlers(slot, tcp_read, nullptr);
    road_tcp_sent(s, c.pending_id, slot);
}

constexpr int kMaxClientConns = kSlotCount - kFirstConnectionSlot - kTcpUpstreamReserve;

int clients_of(Server &s)
{
    int n = 0;
    for (int i = kFirstConnectionSlot; i < kSlotCount; i++)
        n += conn_of(s, i).role == TcpConn::kClient;
    return n;
}

// With every client slot taken, the oldest client still sending its query
// goes: slow senders hold slots only until newer clients come, and a client
// whose query is whole keeps its slot until its answer is out.
void make_room_for_client(Server &s)
{
    int clients = 0, oldest = -1;
    for (int i = kFirstConnectionSlot; i < kSlotCount; i++) {
        const TcpConn &c = conn_of(s, i);
        if (c.role != TcpConn::kClient)
            continue;
        clients++;
        if (s.slots.at(i).read && (oldest < 0 || c.serial < conn_of(s, oldest).serial))
            oldest = i;
    }
    if (clients >= kMaxClientConns && oldest >= 0) {
        zmo_log_debug(1, "TCP client %s dropped for a newer one", addr_text(conn_of(s, oldest).peer).c_str());
        tcp_close(s, oldest);
    }
}

}  // namespace

void tcp_accept(Server &s, int slot)
{
    for (int i = 0; i < kAcceptsPerRound; i++) {
        zmo_ip_sockaddr_t peer{};
        socklen_t l = sizeof peer.u.storage;
        int fd = accept4(s.slots.at(slot).fd, &peer.u.sa, &l, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                zmo_log(ZMO_LOG_ERROR, "unable to create socket: %s", zmo_sys_strerror(errno));
            return;
        }
        make_room_for_client(s);
        int index = clients_of(s) < kMaxClientConns ? s.slots.take_connection_slot() : -1;
        if (index < 0) {
            // Accepted and closed: left in the backlog it would wake every poll.
            close(fd);
            continue;
        }
        conn_start(s, index, fd, TcpConn::kClient, peer);
        s.slots.set_handlers(index, tcp_read, nullptr);
    }
}

bool tcp_queue(Server &s, int slot, const uint8_t *msg, size_t len)
{
    TcpConn &c = conn_of(s, slot);
    if (len > kMaxTcpMessage || c.tx)
        return false;
    road_reserve(s, len + 2);
    c.tx = static_cast<uint8_t *>(s.acc.alloc(len + 2));
    if (!c.tx)
        return false;
    put16(c.tx, uint16_t(len));
    memcpy(c.tx + 2, msg, len);
    c.tx_len = len + 2;
    c.tx_sent = 0;
    s.slots.set_handlers(slot, s.slots.at(slot).read, tcp_write);
    return true;
}

int tcp_connect_upstream(Server &s, const zmo_ip_sockaddr_t &server, uint16_t id)
{
    int fd = socket(server.u.sa.sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        zmo_log(ZMO_LOG_ERROR, "failed to create a new server socket: %s.", zmo_sys_strerror(errno));
        return -1;
    }
    if (connect(fd, &server.u.sa, zmo_ip_sockaddr_len(&server)) != 0 && errno != EINPROGRESS &&
        errno != EALREADY) {
        zmo_log(ZMO_LOG_ERROR, "failed to connect to server [%d] %s#%d: %s.", fd, addr_text(server).c_str(),
                int(zmo_ip_sockaddr_port(&server)), zmo_sys_strerror(errno));
        close(fd);
        return -1;
    }
    int index = s.slots.take_connection_slot();
    if (index < 0) {
        close(fd);
        return -1;
    }
    conn_start(s, index, fd, TcpConn::kUpstream, server);
    conn_of(s, index).pending_id = id;
    return index;
}

void tcp_close(Server &s, int slot)
{
    TcpConn &c = conn_of(s, slot);
    s.acc.free(c.rx);
    s.acc.free(c.tx);
    c = TcpConn{};
    s.slots.close(slot);
}

void tcp_close_idle(Server &s)
{
    for (int i = kFirstConnectionSlot; i < kSlotCount; i++) {
        TcpConn &c = conn_of(s, i);
        if (c.role == TcpConn::kNone)
            continue;
        // Silent too long, or a message that drips in too slowly.
        bool idle = zmo_time_left_monotonic_msec(&c.last_active) <= -kTcpIdleMs;
        bool late = c.reading && zmo_time_left_monotonic_msec(&c.first_byte) <= -kTcpMessageMs;
        if (!idle && !late)
            continue;
        if (c.role == TcpConn::kUpstream)
            road_tcp_failed(s, c.pending_id, i);
        tcp_close(s, i);
    }
}

}  // namespace dnsr
