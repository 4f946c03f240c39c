// TCP: client connections carrying one query each, upstream connections
// carrying one try each; messages framed by a two-byte length.
#pragma once

#include <zmo.h>

#include <cstddef>
#include <cstdint>

namespace dnsr {

struct Server;

constexpr int64_t kTcpIdleMs = 10000;    // a connection silent this long is closed
constexpr int64_t kTcpMessageMs = 4000;  // a message must be whole this long after its first byte
// Client connections stop short of the slot count: upstream tries over TCP
// always find a slot.
constexpr int kTcpUpstreamReserve = 48;

// State of one TCP connection slot.
struct TcpConn {
    enum Role : uint8_t { kNone, kClient, kUpstream } role = kNone;
    uint32_t serial = 0;
    uint8_t len_bytes[2] = {};
    size_t have_len = 0;  // of the two length bytes
    size_t want = 0;      // message length once known
    uint8_t *rx = nullptr;
    size_t rx_have = 0;
    size_t rx_room = 0;       // bytes allocated for rx: never more than came
    zmo_time_t first_byte{};  // of the message being read
    bool reading = false;     // a message has begun
    uint8_t *tx = nullptr;
    size_t tx_len = 0, tx_sent = 0;
    uint16_t pending_id = 0;  // upstream connections: the try they carry
    zmo_ip_sockaddr_t peer{};
    zmo_time_t last_active{};
};

void tcp_accept(Server &s, int slot);
// Queues msg (with its length prefix) on a connection slot.
bool tcp_queue(Server &s, int slot, const uint8_t *msg, size_t len);
// Connects to an upstream server on a new slot for pending id; -1 on failure.
int tcp_connect_upstream(Server &s, const zmo_ip_sockaddr_t &server, uint16_t id);
void tcp_close(Server &s, int slot);
void tcp_close_idle(Server &s);

}  // namespace dnsr
