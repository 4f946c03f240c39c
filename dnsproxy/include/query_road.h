// The query road: a client's query from a listener to its answer, through
// static records, the cache or the upstream servers, and the text query
// port that uses the same road.
#pragma once

#include "accounted_alloc.h"
#include "hash_table.h"
#include "config.h"

#include <zmo.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dnsr {

struct Server;

enum TransportKind : uint8_t { kKindUdp = 0, kKindTcp = 1, kKindText = 2 };

constexpr size_t kMaxUdpMessage = 4096;
constexpr size_t kMaxTcpMessage = 65535;
constexpr int64_t kTcpIdleMs = 10000;   // a connection silent this long is closed
constexpr size_t kOptionRecordSize = 15; // root name, fixed fields, 4-byte option
constexpr uint16_t kOptionType = 65517;

// ---- messages ---------------------------------------------------------------

// The first question of a message: its name in wire form, lower-cased, and
// the full TYPE and CLASS.
struct Question {
	uint8_t name[255];
	uint8_t name_len = 0;
	uint16_t type = 0;
	uint16_t klass = 0;
	uint16_t end = 0; // offset past the question
};
// False when the message has no question or its first one is malformed
// (compressed names don't appear in a first question).
bool question_parse(const uint8_t *msg, size_t len, Question &q);
bool question_same(const Question &a, const Question &b);
// Dotted text of the question name ("example.com."), escaped as the codec does.
bool question_text(const uint8_t *msg, size_t len, std::string &text);

// Cache key: transport kind, profile, full TYPE and CLASS, and the name in
// wire form (lower-cased): A and CAA, IN and CH never share an entry.
struct CacheKey {
	uint8_t kind;
	uint8_t name_len;
	uint16_t type;
	uint16_t klass;
	uint16_t pad;
	uint32_t profile;
	uint8_t name[256]; // zero after name_len
};
struct CacheKeyTraits {
	static uint32_t hash(const CacheKey &k);
	static bool equal(const CacheKey &a, const CacheKey &b);
};
CacheKey cache_key(uint8_t kind, int profile, const Question &q);

// Header-only replies and edits in place.
void msg_set_reply_flags(uint8_t *msg, unsigned rcode); // QR, RA, and RCODE when rcode >= 0
// Cuts a message to its header and first question with TC set; the new length.
size_t msg_truncate(uint8_t *msg, size_t len, const Question &q);
// The UDP payload a client takes: 512, or what its EDNS record offers.
size_t msg_udp_limit(const uint8_t *msg, size_t len);
// Least TTL of the answer-section records in seconds; -1 without any.
int64_t msg_min_answer_ttl(const uint8_t *msg, size_t len);
// Numeric text of an address, for the log.
inline std::string addr_text(const zmo_ip_sockaddr_t &sa)
{
	char text[ZMO_IP_ADDRSTRLEN];
	return zmo_ip_sockaddr_ntop(&sa, text, sizeof text) ? text : "?";
}
// Bounded: when every id seems taken, give up rather than spin.
constexpr int kIdDraws = 64;

inline uint16_t rd16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
inline void wr16(uint8_t *p, uint16_t v)
{
	p[0] = uint8_t(v >> 8);
	p[1] = uint8_t(v);
}

// ---- requests and pending tries ------------------------------------------------

struct Request {
	Request *prev, *next;
	bool answered;
	bool nx_seen;
	bool orphan_listed; // waits for the pending check to finish it
	uint8_t kind;
	int slot;            // listener (UDP), connection (TCP) or the text port
	uint32_t conn_serial; // TCP: the connection the query came on
	zmo_ip_sockaddr_t client;
	zmo_ip_sockaddr_t local; // where the query was sent; family 0 when unknown
	int local_ifindex;
	uint32_t tries_scheduled; // try timers not yet run
	uint32_t entries;         // pending entries alive
	uint32_t in_flight;       // tries sent and not yet answered
	uint16_t n_ids, next_try;
	uint16_t *ids;       // pending ids, best server first
	zmo_time_t deadline;
	int profile;
	CacheKey key;
	Question question;
	uint16_t udp_limit;
	uint16_t query_len;
	uint8_t *query; // the client's query, room for the option record behind it
};

struct Pending {
	bool done;
	bool sent;
	Request *req;
	int upstream_slot;
	int tcp_slot;         // 0 for UDP
	uint32_t tcp_serial;
	zmo_ip_sockaddr_t server; // address and the port the query goes to
	zmo_time_t deadline;
	zmo_time_t sent_at;
};

struct CacheRecord {
	zmo_time_t expiry;
	uint16_t len;
	uint8_t msg[1];
};

// State of one TCP connection slot.
struct TcpConn {
	enum Role : uint8_t { kNone, kClient, kUpstream } role = kNone;
	uint32_t serial = 0;
	uint8_t len_bytes[2] = {};
	size_t have_len = 0; // of the two length bytes
	size_t want = 0;     // message length once known
	uint8_t *rx = nullptr;
	size_t rx_have = 0;
	uint8_t *tx = nullptr;
	size_t tx_len = 0, tx_sent = 0;
	uint16_t pending_id = 0; // upstream connections: the try they carry
	zmo_ip_sockaddr_t peer{};
	zmo_time_t last_active{};
};

struct TextEntry {
	int mode; // 0 resolv-conf, 1 resolv-via
	uint16_t type;
	zmo_ip_sockaddr_t client;
	zmo_time_t deadline;
	bool answered;
	bool poll_told;
	uint8_t *answer; // stored for the next poll, or null
	uint16_t answer_len;
};

struct MacValue {
	uint8_t bytes[6];
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
	Request *requests = nullptr; // newest first
	std::vector<Request *> orphans; // requests without tries or entries left
	std::array<TcpConn, 256> tcp;
	uint32_t next_serial = 1;
	std::array<uint8_t, kMaxTcpMessage + 1 + kOptionRecordSize> scratch; // replies built here
	std::array<uint8_t, kMaxUdpMessage + 1> rx;                           // datagrams read here
	bool answer_this_round = false;
	bool text_answer_this_round = false;
	zmo_time_t arp_read_at{};
	bool arp_read_once = false;
};

// ---- the road's handlers ------------------------------------------------------

// Options the listeners need before the first read (destination addresses).
void road_prepare_listener(int fd, int family);
// At every context reset: the cache emptied, the pending table shrunk.
void road_reset(Server &s);
// End of a loop round: the pending check after answers, the text sweep.
void road_end_of_round(Server &s);
// Top of a round: the ARP table read again when profiles are defined.
void road_before_poll(Server &s);

// A query from a client (kind), its reply going back through slot.
// forced: the only server to use (text port resolv-via), or null.
void road_query(Server &s, uint8_t *msg, size_t len, uint8_t kind, int slot, const zmo_ip_sockaddr_t &client,
		const zmo_ip_sockaddr_t *local, int local_ifindex, const zmo_ip_sockaddr_t *forced);
// An answer from an upstream server: from its address and port (UDP) or on
// connection slot tcp_slot. truncated: the datagram did not fit.
void road_answer(Server &s, uint8_t *msg, size_t len, const zmo_ip_sockaddr_t &from, int tcp_slot, bool truncated);
// An upstream TCP connection finished sending try id, or failed.
void road_tcp_sent(Server &s, uint16_t id, int slot);
void road_tcp_failed(Server &s, uint16_t id, int slot);

void road_pending_check(Server &s);
void road_cache_expiry(Server &s);
void road_memory_purge(Server &s);
// Would an allocation of size pass max_mem? Then the purge runs first.
void road_reserve(Server &s, size_t size);

// Profile of a client: by MAC (ARP), by IP address, the default, or 0.
int road_profile_of(Server &s, const zmo_ip_sockaddr_t &client);
// Reads "/proc/net/arp" (or the file named) into the ARP table.
bool arp_read(Road &road, const char *path = "/proc/net/arp");

// UDP and TCP transport.
void udp_read_listener(Server &s, int slot);
void udp_read_upstream(Server &s, int slot);
bool udp_reply(Server &s, const Request &r, const uint8_t *msg, size_t len);
void tcp_accept(Server &s, int slot);
// Queues msg (with its length prefix) on a connection slot.
bool tcp_queue(Server &s, int slot, const uint8_t *msg, size_t len);
// Connects to an upstream server on a new slot for pending id; -1 on failure.
int tcp_connect_upstream(Server &s, const zmo_ip_sockaddr_t &server, uint16_t id);
void tcp_close(Server &s, int slot);
void tcp_close_idle(Server &s);

// Text query port.
void text_read(Server &s, int slot);
void text_answer(Server &s, Request &r, const uint8_t *msg, size_t len);
void text_sweep(Server &s);
// The lines of an answer, as the port sends them.
std::string text_format(const uint8_t *msg, size_t len);

} // namespace dnsr
