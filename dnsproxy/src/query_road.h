// The query road: a client's query from a listener to its answer, through
// static records, the cache or the upstream servers.
#pragma once

#include "accounted_alloc.h"
#include "arp_table.h"
#include "config.h"
#include "hash_table.h"
#include "query_message.h"
#include "tcp_conn.h"
#include "text_query.h"

#include <zmo.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dnsr {

struct Server;

enum TransportKind : uint8_t { kKindUdp = 0, kKindTcp = 1, kKindText = 2 };

// Numeric text of an address, for the log.
inline std::string addr_text(const zmo_ip_sockaddr_t &sa)
{
    char text[ZMO_IP_ADDRSTRLEN];
    return zmo_ip_sockaddr_ntop(&sa, text, sizeof text) ? text : "?";
}
// Bounded: when every id seems taken, give up rather than spin.
constexpr int kIdDraws = 64;

// ---- requests and pending tries ------------------------------------------------

struct Request {
    Request *prev, *next;
    bool answered;
    bool nx_seen;
    bool orphan_listed;  // waits for the pending check to finish it
    uint8_t pinned;      // being delivered: the pending check leaves it be
    uint8_t kind;
    int slot;              // listener (UDP), connection (TCP) or the text port
    uint32_t conn_serial;  // TCP: the connection the query came on
    zmo_ip_sockaddr_t client;
    zmo_ip_sockaddr_t local;  // where the query was sent; family 0 when unknown
    int local_ifindex;
    uint32_t tries_scheduled;  // try timers not yet run
    uint32_t entries;          // pending entries alive
    uint32_t in_flight;        // tries sent and not yet answered
    uint16_t n_ids, next_try;
    uint16_t *ids;  // pending ids, best server first
    zmo_time_t deadline;
    int profile;
    CacheKey key;
    Question question;
    uint16_t udp_limit;
    uint16_t query_len;
    uint8_t *query;  // the client's query, room for the option record behind it
};

struct Pending {
    bool done;
    bool sent;
    Request *req;
    int tcp_slot;        // 0 for UDP
    uint32_t sock_id;    // UDP: the pool socket the try left from, 0 before
    uint8_t sock_index;  // its place in the pool while it is live
    uint32_t tcp_serial;
    zmo_ip_sockaddr_t server;  // address and the port the query goes to
    zmo_time_t deadline;
    zmo_time_t sent_at;
};

struct CacheRecord {
    zmo_time_t expiry;
    uint16_t len;
    uint8_t msg[1];
};

struct Road {
    explicit Road(Accountant &acc);
    ~Road();
    Road(const Road &) = delete;
    Road &operator=(const Road &) = delete;
    bool ok() { return pending.ok() && cache.ok() && arp.ok() && text.ok(); }

    Accountant &acc;
    HashTable<uint32_t, Pending, U32KeyTraits> pending;
    HashTable<CacheKey, CacheRecord *, CacheKeyTraits> cache;
    HashTable<sockaddr_storage, MacValue, AddressKeyTraits> arp;
    HashTable<uint32_t, TextEntry, U32KeyTraits> text;
    Request *requests = nullptr;     // newest first
    std::vector<Request *> orphans;  // requests without tries or entries left
    std::array<TcpConn, 256> tcp;
    uint32_t next_serial = 1;
    std::array<uint8_t, kMaxTcpMessage + 1 + kOptionRecordSize> scratch;  // replies built here
    std::array<uint8_t, kMaxUdpMessage + 1> rx;                           // datagrams read here
    Parsed parsed;                                                        // the message being walked
    bool answer_this_round = false;
    bool text_answer_this_round = false;
    zmo_time_t arp_read_at{};
    bool arp_read_once = false;
};

// ---- the road's handlers ------------------------------------------------------

// At every context reset: the cache emptied, the pending table shrunk.
void road_reset(Server &s);
// End of a loop round: the pending check after answers, the text sweep.
void road_end_of_round(Server &s);

// A query from a client (kind), its reply going back through slot.
// forced: the only server to use (text port resolv-via), or null.
void road_query(Server &s, uint8_t *msg, size_t len, uint8_t kind, int slot, const zmo_ip_sockaddr_t &client,
                const zmo_ip_sockaddr_t *local, int local_ifindex, const zmo_ip_sockaddr_t *forced);
// An answer from an upstream server: from its address and port (UDP) or on
// connection slot tcp_slot. truncated: the datagram did not fit. sock_id:
// the pool socket a UDP answer came in on.
void road_answer(Server &s, uint8_t *msg, size_t len, const zmo_ip_sockaddr_t &from, int tcp_slot,
                 bool truncated, uint32_t sock_id = 0);
// An upstream TCP connection finished sending try id, or failed.
void road_tcp_sent(Server &s, uint16_t id, int slot);
void road_tcp_failed(Server &s, uint16_t id, int slot);

void road_pending_check(Server &s);
void road_cache_expiry(Server &s);
void road_memory_purge(Server &s);
// Would an allocation of size pass max_mem? Then the purge runs first.
void road_reserve(Server &s, size_t size);

}  // namespace dnsr
