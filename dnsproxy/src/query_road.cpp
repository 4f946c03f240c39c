// The query road: loop detection, profile, static records, the cache, the
// upstream tries and their pacing, answers, replies and caching.
#include "query_road.h"
#include "server.h"
#include "udp_io.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace dnsr {

namespace {

enum class Source { Upstream, Static, Cache, Opcode2, Finish };

constexpr int64_t kUntriedLifeMs = 60000;
constexpr int64_t kNegativeLifeMs = 300000;

bool passed(const zmo_time_t &t) { return zmo_time_left_monotonic_msec(&t) <= 0; }

struct Pin {
    Request &r;
    explicit Pin(Request &req) : r(req) { r.pinned++; }
    ~Pin() { r.pinned--; }
    Pin(const Pin &) = delete;
    Pin &operator=(const Pin &) = delete;
};

void request_unlink_free(Server &s, Request *r)
{
    Road &road = s.road;
    if (r->prev)
        r->prev->next = r->next;
    else
        road.requests = r->next;
    if (r->next)
        r->next->prev = r->prev;
    s.acc.free(r);
}

// A request without try timers and entries is finished and freed by the
// next pending check, which the end of this round runs.
void maybe_orphan(Server &s, Request &r)
{
    if (r.tries_scheduled || r.entries || r.orphan_listed)
        return;
    r.orphan_listed = true;
    s.road.orphans.push_back(&r);
    s.road.answer_this_round = true;
}

void cache_store(Server &s, const Request &r, const uint8_t *msg, size_t len, Source how)
{
    const Settings &st = s.cfg->settings;
    if (how == Source::Cache || how == Source::Opcode2 || len > st.max_cache || len < 12)
        return;
    unsigned rcode = msg[3] & 0x0f;
    if (rcode == 5 || (msg[2] & 0x02))
        return;  // REFUSED, or cut: a later query may fare better
    int64_t life;
    if (how == Source::Finish && rcode == 3) {
        life = kNegativeLifeMs;
    } else {
        // An upstream answer was walked into the road's packet on arrival;
        // the id and flags changed since, the records did not.
        if (how != Source::Upstream && !s.road.parsed.load(msg, len))
            return;
        int64_t ttl = msg_min_answer_ttl(s.road.parsed.packet());
        if (ttl <= 0)
            return;
        life = std::min<int64_t>(ttl, 3600000) * 1000;
    }
    life = std::min<int64_t>(life, st.max_ttl);
    if (life <= 0)
        return;
    size_t size = offsetof(CacheRecord, msg) + len;
    road_reserve(s, size);
    auto *rec = static_cast<CacheRecord *>(s.acc.alloc(size));
    if (!rec) {
        road_memory_purge(s);
        return;
    }
    zmo_time_get_monotonic_plus_msec(&rec->expiry, life);
    rec->len = uint16_t(len);
    memcpy(rec->msg, msg, len);
    bool stored = s.road.cache.apply(r.key, true, [&](CacheRecord *&v, bool is_new) {
        if (!is_new)
            s.acc.free(v);
        v = rec;
    });
    if (!stored) {
        s.acc.free(rec);
        road_memory_purge(s);
        return;
    }
    if (zmo_time_less(&rec->expiry, &s.next_cache_expiry))
        s.next_cache_expiry = rec->expiry;
}

// The reply to a client: once per request, with the client's id.
void deliver(Server &s, Request &r, uint8_t *msg, size_t len, Source how)
{
    if (r.answered || len < 12)
        return;
    r.answered = true;
    // Storing the answer may purge memory, and the purge's pending check
    // frees answered requests: not this one, which is still in use here.
    Pin pin(r);
    memcpy(msg, r.query, 2);
    if (how != Source::Opcode2)
        msg_set_reply_flags(msg, 16);
    cache_store(s, r, msg, len, how);
    switch (r.kind) {
    case kKindUdp:
        if (len > r.udp_limit)
            len = msg_truncate(msg, len, r.question);
        udp_reply(s, r, msg, len);
        break;
    case kKindTcp:
        // A reply that can't be queued ends the connection, which would
        // otherwise wait silent for its idle time.
        if (s.road.tcp[size_t(r.slot)].serial == r.conn_serial &&
            s.road.tcp[size_t(r.slot)].role == TcpConn::kClient && !tcp_queue(s, r.slot, msg, len))
            tcp_close(s, r.slot);
        break;
    default:
        text_answer(s, r, msg, len);
        break;
    }
}

// No server answered: the client's query back, NXDOMAIN when a server said
// so, else REFUSED.
void finish(Server &s, Request &r)
{
    if (r.answered)
        return;
    uint8_t *buf = s.road.scratch.data();
    memcpy(buf, r.query, r.query_len);
    msg_set_reply_flags(buf, r.nx_seen ? 3 : 5);
    deliver(s, r, buf, r.query_len, Source::Finish);
}

void try_next(Server &s, uint64_t arg);
void try_now_or_finish(Server &s, Request &r);

// False when no timer could be had, even after a purge.
bool schedule_try(Server &s, Request &r, int64_t delay)
{
    {
        // The purge may find r without tries or entries left: it stays.
        Pin pin(r);
        road_reserve(s, Timers::timer_bytes());
    }
    if (!s.timers.add(delay, try_next, uint64_t(reinterpret_cast<uintptr_t>(&r))))
        return false;
    r.tries_scheduled++;
    return true;
}

// A request that can't schedule its first try ends now (REFUSED at the
// pending check) rather than wait for its untried entries to expire.
void give_up_tries(Server &s, Request &r)
{
    for (uint16_t k = r.next_try; k < r.n_ids; k++)
        if (Pending *p = s.road.pending.find(r.ids[k]))
            p->done = true;
    r.next_try = r.n_ids;
    s.road.answer_this_round = true;
}

// The message for an upstream server: the pending id, and the profile's
// option record when it asks for one.
size_t upstream_message(Server &s, const Request &r, uint16_t id, uint8_t *out)
{
    memcpy(out, r.query, r.query_len);
    put16(out, id);
    size_t len = r.query_len;
    const Profile &p = s.cfg->profiles[size_t(r.profile)];
    if ((p.flags & (kProfileSafeAccess | kProfileHasOption)) == (kProfileSafeAccess | kProfileHasOption)) {
        // Root name, TYPE, CLASS 1, TTL 0, RDLENGTH 4, the option.
        dnsc::Cursor o(out, r.query_len + kOptionRecordSize, len);
        o.u8(0);
        o.u16(kOptionType);
        o.u16(1);
        o.u32(0);
        o.u16(4);
        o.u32(p.option);
        put16(out + 10, uint16_t(get16(out + 10) + 1));
    }
    return len;
}

void try_next(Server &s, uint64_t arg)
{
    Request &r = *reinterpret_cast<Request *>(uintptr_t(arg));
    r.tries_scheduled--;
    if (r.next_try >= r.n_ids) {
        maybe_orphan(s, r);
        return;
    }
    uint16_t id = r.ids[r.next_try++];
    Pending *p = s.road.pending.find(id);
    if (!p || p->req != &r) {
        maybe_orphan(s, r);
        return;
    }
    const Settings &st = s.cfg->settings;
    if (r.answered) {
        p->done = true;
        maybe_orphan(s, r);
        return;
    }
    // The address text only when a debug line will show it.
    std::string where = zmo_log_get_debug() >= 1 ? addr_text(p->server) : std::string();
    int port = zmo_ip_sockaddr_port(&p->server);
    uint8_t *buf = s.road.scratch.data();
    if (r.kind == kKindTcp) {
        int slot = tcp_connect_upstream(s, p->server, id);
        if (slot < 0) {
            p->done = true;
            maybe_orphan(s, r);
            return;
        }
        size_t len = upstream_message(s, r, id, buf);
        if (!tcp_queue(s, slot, buf, len)) {
            zmo_log(ZMO_LOG_ERROR, "unable to allocate memory for server request data");
            tcp_close(s, slot);
            p->done = true;
            maybe_orphan(s, r);
            return;
        }
        // Queueing may have purged memory: the entry is looked up again.
        p = s.road.pending.find(id);
        if (!p) {
            tcp_close(s, slot);
            maybe_orphan(s, r);
            return;
        }
        zmo_log_debug(1, "send tcp request to: [%d] %s#%d", r.profile, where.c_str(), port);
        p->tcp_slot = slot;
        p->tcp_serial = s.road.tcp[size_t(slot)].serial;
        zmo_time_get_monotonic_plus_msec(&p->deadline, st.timeout);
        if (r.next_try < r.n_ids)
            schedule_try(s, r, st.proceed);
        return;
    }
    UpstreamPool &pool = s.pool_of(p->server.u.sa.sa_family);
    UpstreamSocket *sock = pool.pick();
    if (!sock) {
        // No socket of that family (a host without IPv6): waiting for the
        // entry's deadline would hold the client for a minute, so the next
        // server is tried at once.
        zmo_log(ZMO_LOG_ERROR, "socket is not ready for request");
        p->done = true;
        s.road.answer_this_round = true;
        try_now_or_finish(s, r);
        return;
    }
    size_t len = upstream_message(s, r, id, buf);
    zmo_log_debug(1, "send udp request to: [%d] %s#%d", r.profile, where.c_str(), port);
    if (r.next_try < r.n_ids)
        schedule_try(s, r, st.proceed);
    if (sendto(sock->fd, buf, len, 0, &p->server.u.sa, zmo_ip_sockaddr_len(&p->server)) < 0) {
        int err = errno;
        if (err == ENETUNREACH)
            zmo_log_debug(1, "unable to send request: %s", zmo_sys_strerror(err));
        else
            zmo_log(ZMO_LOG_ERROR, "unable to send request: %s", zmo_sys_strerror(err));
        zmo_time_get_monotonic(&p->deadline);
        p->done = true;
        s.road.answer_this_round = true;
        return;
    }
    // Only the socket it left from takes the answer.
    p->sock_id = sock->id;
    p->sock_index = uint8_t(sock - pool.live().data());
    pool.sent(p->sock_index, st.timeout + 100);
    s.counters.proxied++;
    s.stats->sent(p->server);
    zmo_time_get_monotonic(&p->sent_at);
    p->sent = true;
    r.in_flight++;
    zmo_time_get_monotonic_plus_msec(&p->deadline, st.timeout);
}

// An upstream answer said nothing useful: the next server at once, or the
// end when none is left and no other try is still out.
void try_now_or_finish(Server &s, Request &r)
{
    if (r.next_try < r.n_ids && schedule_try(s, r, 0))
        return;
    give_up_tries(s, r);
    if (r.in_flight == 0)
        finish(s, r);
}

struct Candidate {
    zmo_ip_sockaddr_t addr;
};

// The servers of a request, best rank first, at most n of them.
size_t choose_servers(Server &s, const Request &r, const std::string &name, const zmo_ip_sockaddr_t *forced,
                      std::vector<Candidate> &out)
{
    const Settings &st = s.cfg->settings;
    size_t n = st.proceed > st.timeout ? 1 : size_t(std::min<int64_t>(100, st.timeout / st.proceed));
    if (forced) {
        out.push_back({*forced});
        return 1;
    }
    const Config &cfg = *s.cfg;
    const std::vector<uint16_t> *list = nullptr;
    std::string key;
    auto root = cfg.domains.lookup(".");
    if (domain_key(name, key))
        list = cfg.domains.lookup(key).value;
    const Profile &prof = cfg.profiles[size_t(r.profile)];
    if ((prof.flags & (kProfileSafeAccess | kProfileHasServers)) ==
        (kProfileSafeAccess | kProfileHasServers)) {
        // Safe access: a domain of its own keeps its servers; everything
        // else goes to the profile's.
        if (!list || list == root.value)
            list = &prof.servers;
    }
    if (!list)
        return 0;
    ServerHeap heap(n);
    std::vector<Candidate> all;
    for (uint16_t index : *list) {
        if (index >= cfg.pool.size())
            continue;
        const zmo_ip_sockaddr_t &a = cfg.pool[index];
        ServerStats *st_entry = s.stats->find(a);
        if (!st_entry || st_entry->inactive)
            continue;
        heap.push(st_entry->rank, uint16_t(all.size()));
        all.push_back({a});
    }
    uint16_t k;
    while (heap.pop(k))
        out.push_back(all[k]);
    return out.size();
}

bool draw_id(Server &s, uint16_t &id)
{
    // Bounded: with every id in use the server is skipped, not waited for.
    for (int i = 0; i < kIdDraws; i++) {
        id = s.random.next16();
        if (!s.road.pending.find(id))
            return true;
    }
    return false;
}

// Static record for the question, as a finished reply in buf.
size_t static_reply(Server &s, const uint8_t *query, const Question &q, const std::string &name, uint8_t *buf)
{
    if (q.klass != 1 || (q.type != 1 && q.type != 28))
        return 0;
    const StaticRecord *rec = config_static_lookup(*s.cfg, name);
    if (!rec || (q.type == 1 && !rec->has_v4) || (q.type == 28 && !rec->has_v6))
        return 0;
    memcpy(buf, query, q.end);
    buf[2] &= 0x01;  // keep RD only
    buf[3] = 0;
    size_t len = 4;
    dnsc::Cursor out(buf, s.road.scratch.size(), len);
    // QDCOUNT 1, ANCOUNT 1, no other records.
    out.u16(1);
    out.u16(1);
    out.u16(0);
    out.u16(0);
    len = q.end;
    // The question's name by pointer, TYPE, CLASS IN, TTL, the address.
    uint16_t rdlen = q.type == 1 ? 4 : 16;
    out.u16(0xc000 | DNS_HEADER_SIZE);
    out.u16(q.type);
    out.u16(1);
    out.u32(uint32_t(s.cfg->settings.static_ttl) & 0x7fffffffu);
    out.u16(rdlen);
    out.bytes(q.type == 1 ? static_cast<const void *>(&rec->v4) : static_cast<const void *>(&rec->v6), rdlen);
    return out.overrun ? 0 : len;
}

}  // namespace

Road::Road(Accountant &a)
    : acc(a), pending(32, a.allocator()), cache(128, a.allocator()), arp(32, a.allocator()),
      text(16, a.allocator())
{
}

Road::~Road()
{
    while (Request *r = requests) {
        requests = r->next;
        acc.free(r);
    }
    cache.visit([&](const CacheKey &, CacheRecord *&rec) { acc.free(rec); });
    text.visit([&](const uint32_t &, TextEntry &e) { acc.free(e.answer); });
    for (TcpConn &c : tcp) {
        acc.free(c.rx);
        acc.free(c.tx);
    }
}

void road_reserve(Server &s, size_t size)
{
    if (s.acc.would_pass(size))
        road_memory_purge(s);
}

void road_query(Server &s, uint8_t *msg, size_t len, uint8_t kind, int slot, const zmo_ip_sockaddr_t &client,
                const zmo_ip_sockaddr_t *local, int local_ifindex, const zmo_ip_sockaddr_t *forced)
{
    s.counters.incoming++;
    if (len < 12 || (msg[2] & 0x80))
        return;  // an answer sent to the listener is nobody's query
    Question q;
    Parsed &parsed = s.road.parsed;
    if (!parsed.load(msg, len) || !question_parse(parsed.packet(), q)) {
        zmo_log_debug(1, "unable to extract domain from request");
        return;
    }
    // Loop: our own try to that server came back to us with its question.
    uint16_t qid = get16(msg);
    if (Pending *p = s.road.pending.find(qid)) {
        if (zmo_ip_sockaddr_address_is_equal(&client, &p->server) && question_same(q, p->req->question)) {
            zmo_log(ZMO_LOG_ERROR, "Proxy loop detected: %s <-> %s, request dropped",
                    addr_text(client).c_str(), addr_text(p->server).c_str());
            s.stats->inactivate(p->server);
            return;
        }
    }
    int profile = s.cfg->profile_max > 0 ? road_profile_of(s, client) : 0;
    std::string name;
    if (!question_text(parsed.packet(), name)) {
        zmo_log_debug(1, "unable to extract domain from request");
        return;
    }

    // Answers at once (static, cache, opcode 2) need no stored request.
    Request now{};
    now.kind = kind;
    now.slot = slot;
    now.conn_serial = kind == kKindTcp ? s.road.tcp[size_t(slot)].serial : 0;
    now.client = client;
    if (local)
        now.local = *local;
    now.local_ifindex = local_ifindex;
    now.profile = profile;
    now.key = cache_key(kind, profile, q);
    now.question = q;
    now.udp_limit = uint16_t(kind == kKindUdp ? msg_udp_limit(parsed.packet()) : kMaxTcpMessage);
    now.query_len = uint16_t(len);
    now.query = msg;
    uint8_t *buf = s.road.scratch.data();

    if (kind != kKindText) {
        if (size_t n = static_reply(s, msg, q, name, buf)) {
            deliver(s, now, buf, n, Source::Static);
            return;
        }
    }
    if (CacheRecord **hit = s.road.cache.find(now.key)) {
        CacheRecord *rec = *hit;
        if (!passed(rec->expiry) && rec->len >= q.end) {
            memcpy(buf, rec->msg, rec->len);
            // The asker's spelling of the name, for clients that check it.
            memcpy(buf + 12, msg + 12, q.end - 12u - 4u);
            s.counters.cache_hits++;
            deliver(s, now, buf, rec->len, Source::Cache);
            return;
        }
    }
    if (((msg[2] >> 3) & 0x0f) == 2) {
        memset(buf, 0, 12);
        buf[2] = 0x90;  // QR, opcode 2
        buf[3] = 0x80;  // RA
        deliver(s, now, buf, 12, Source::Opcode2);
        return;
    }

    std::vector<Candidate> servers;
    choose_servers(s, now, name, forced, servers);
    size_t size = sizeof(Request) + servers.size() * sizeof(uint16_t) + len + kOptionRecordSize;
    road_reserve(s, size);
    void *mem = s.acc.alloc(size);
    if (!mem) {
        zmo_log(ZMO_LOG_ERROR, "unable to allocate memory for the request data");
        road_pending_check(s);
        // The client hears REFUSED now rather than nothing: built in place,
        // it needs no memory.
        memcpy(buf, msg, len);
        msg_set_reply_flags(buf, 5);
        deliver(s, now, buf, len, Source::Finish);
        return;
    }
    Request *r = new (mem) Request(now);
    r->ids = reinterpret_cast<uint16_t *>(r + 1);
    r->query = reinterpret_cast<uint8_t *>(r->ids + servers.size());
    memcpy(r->query, msg, len);
    zmo_time_get_monotonic_plus_msec(&r->deadline, s.cfg->settings.timeout);
    r->next = s.road.requests;
    if (r->next)
        r->next->prev = r;
    s.road.requests = r;

    for (const Candidate &c : servers) {
        uint16_t id;
        if (!draw_id(s, id)) {
            zmo_log(ZMO_LOG_ERROR, "no free query id for a request to %s", addr_text(c.addr).c_str());
            break;
        }
        Pending p{};
        p.req = r;
        p.server = c.addr;
        if (uint16_t *port = s.cfg->port_options.find(c.addr.u.storage))
            zmo_ip_sockaddr_set_port(&p.server, *port);
        if (zmo_ip_sockaddr_port(&p.server) == 0)
            zmo_ip_sockaddr_set_port(&p.server, 53);
        zmo_time_get_monotonic_plus_msec(&p.deadline, kUntriedLifeMs);
        road_reserve(s, 64 + sizeof p);
        if (!s.road.pending.insert(id, p))
            break;
        r->ids[r->n_ids++] = id;
        r->entries++;
    }
    if (!r->n_ids)
        maybe_orphan(s, *r);
    else if (!schedule_try(s, *r, 0))
        give_up_tries(s, *r);
}

void road_answer(Server &s, uint8_t *msg, size_t len, const zmo_ip_sockaddr_t &from, int tcp_slot,
                 bool truncated, uint32_t sock_id)
{
    if (len < 12 || !(msg[2] & 0x80))
        return;  // a query reflected at us is no answer
    uint16_t id = get16(msg);
    Pending *p = s.road.pending.find(id);
    if (!p) {
        zmo_log_debug(1, "missed query, id %d", int(id));
        return;
    }
    // Only the server the try went to, on the way it went (the connection,
    // or the socket it left from), answers it.
    bool same_way =
        tcp_slot ? p->tcp_slot == tcp_slot && p->tcp_serial == s.road.tcp[size_t(tcp_slot)].serial
                 : p->tcp_slot == 0 && p->sock_id == sock_id && zmo_ip_sockaddr_is_equal(&p->server, &from);
    if (!same_way || !p->sent || p->done) {
        zmo_log_debug(1, "answer from %s#%d for id %d ignored: not the server asked", addr_text(from).c_str(),
                      int(zmo_ip_sockaddr_port(&from)), int(id));
        return;
    }
    Question q;
    Request &r = *p->req;
    Parsed &parsed = s.road.parsed;
    if (!parsed.load(msg, len)) {
        zmo_log_debug(1, "answer for id %d ignored: another question", int(id));
        return;
    }
    // A server that refuses a query may leave its question out (FORMERR to
    // a malformed one): from the socket, server and id of the try, that is
    // the try's failure, not a stranger's answer; holding the request until
    // its deadline would let junk queries hold memory.
    bool refusal = dns_p_count(parsed.packet(), DNS_S_QD) == 0 && (msg[3] & 0x0f) != 0;
    if (!refusal && (!question_parse(parsed.packet(), q) || !question_same(q, r.question))) {
        zmo_log_debug(1, "answer for id %d ignored: another question", int(id));
        return;
    }
    if (refusal) {
        p->done = true;
        r.in_flight--;
        s.road.answer_this_round = true;
        zmo_log_debug(1, "answer for id %d: RCODE %d without a question, next server", int(id),
                      int(msg[3] & 0x0f));
        try_now_or_finish(s, r);
        return;
    }
    p->done = true;
    r.in_flight--;
    s.road.answer_this_round = true;
    zmo_time_t now;
    zmo_time_get_monotonic(&now);
    zmo_time_t took = now;
    zmo_time_sub(&took, &p->sent_at);
    int64_t ms = zmo_time_to_msec(&took);
    zmo_ip_sockaddr_t server = p->server;
    unsigned rcode = msg[3] & 0x0f;
    unsigned records = get16(msg + 6) + get16(msg + 8);
    // Nothing that does not parse whole reaches a client or the cache: it
    // counts as a failed try, and the next server is asked.
    if (!truncated && !msg_well_formed(parsed.packet())) {
        zmo_log_debug(1, "malformed answer from %s#%d for id %d dropped", addr_text(from).c_str(),
                      int(zmo_ip_sockaddr_port(&from)), int(id));
        try_now_or_finish(s, r);
        return;
    }
    if (truncated || (msg[2] & 0x02)) {
        // Cut on the way or by the server: the client retries over TCP.
        if (truncated)
            len = msg_truncate(msg, len, q);
        s.stats->answered(server, rcode, ms);
        deliver(s, r, msg, len, Source::Upstream);
        return;
    }
    if (rcode == 3) {
        r.nx_seen = true;
        if (records)
            s.stats->answered(server, rcode, ms);
        try_now_or_finish(s, r);
        return;
    }
    if (records == 0) {
        try_now_or_finish(s, r);
        return;
    }
    s.stats->answered(server, rcode, ms);
    deliver(s, r, msg, len, Source::Upstream);
}

void road_tcp_sent(Server &s, uint16_t id, int slot)
{
    Pending *p = s.road.pending.find(id);
    if (!p || p->tcp_slot != slot)
        return;
    s.counters.proxied++;
    s.stats->sent(p->server);
    zmo_time_get_monotonic(&p->sent_at);
    p->sent = true;
    p->req->in_flight++;
}

void road_tcp_failed(Server &s, uint16_t id, int slot)
{
    Pending *p = s.road.pending.find(id);
    if (!p || p->tcp_slot != slot || p->done)
        return;
    if (p->sent)
        p->req->in_flight--;
    p->done = true;
    p->tcp_slot = 0;
    s.road.answer_this_round = true;
}

void road_pending_check(Server &s)
{
    Road &road = s.road;
    road.answer_this_round = false;
    road.pending.filter([&](const uint32_t &, Pending &p) {
        if (!p.done && !passed(p.deadline) && !p.req->answered)
            return true;
        if (p.tcp_slot && road.tcp[size_t(p.tcp_slot)].serial == p.tcp_serial)
            tcp_close(s, p.tcp_slot);
        if (p.sock_id)
            s.pool_of(p.server.u.sa.sa_family).settle(p.sock_id, p.sock_index);
        if (p.sent && !p.done)
            p.req->in_flight--;
        p.req->entries--;
        maybe_orphan(s, *p.req);
        return false;
    });
    // Finishing may queue more orphans (a finished TCP reply), so walk by index.
    std::vector<Request *> orphans;
    orphans.swap(road.orphans);
    for (Request *r : orphans) {
        if (r->pinned) {
            // In use further up the stack: the end of the round frees it.
            road.orphans.push_back(r);
            continue;
        }
        r->orphan_listed = false;
        if (r->tries_scheduled || r->entries)
            continue;
        finish(s, *r);
        request_unlink_free(s, r);
    }
    road.answer_this_round = !road.orphans.empty();
    road.pending.shrink();
    road.arp.shrink();
}

void road_cache_expiry(Server &s)
{
    zmo_time_t now;
    zmo_time_get_monotonic(&now);
    if (zmo_time_less(&now, &s.next_cache_expiry))
        return;
    zmo_time_get_monotonic_plus_msec(&s.next_cache_expiry, 3600000);
    s.road.cache.filter([&](const CacheKey &, CacheRecord *&rec) {
        if (zmo_time_less_or_equal(&rec->expiry, &now)) {
            s.acc.free(rec);
            return false;
        }
        if (zmo_time_less(&rec->expiry, &s.next_cache_expiry))
            s.next_cache_expiry = rec->expiry;
        return true;
    });
    s.road.cache.shrink();
}

void road_memory_purge(Server &s)
{
    road_pending_check(s);
    road_cache_expiry(s);
    // The half of the cache that expires first goes.
    std::vector<CacheRecord *> recs;
    s.road.cache.visit([&](const CacheKey &, CacheRecord *&rec) { recs.push_back(rec); });
    std::sort(recs.begin(), recs.end(), [](const CacheRecord *a, const CacheRecord *b) {
        return zmo_time_less(&a->expiry, &b->expiry) || (!zmo_time_less(&b->expiry, &a->expiry) && a < b);
    });
    recs.resize(recs.size() / 2);
    std::sort(recs.begin(), recs.end());
    s.road.cache.filter([&](const CacheKey &, CacheRecord *&rec) {
        if (!std::binary_search(recs.begin(), recs.end(), rec))
            return true;
        s.acc.free(rec);
        return false;
    });
    s.road.cache.shrink();
    text_sweep(s);
}

void road_reset(Server &s)
{
    s.road.cache.filter([&](const CacheKey &, CacheRecord *&rec) {
        s.acc.free(rec);
        return false;
    });
    s.road.cache.shrink();
    s.road.pending.shrink();
}

void road_end_of_round(Server &s)
{
    if (s.road.answer_this_round)
        road_pending_check(s);
    if (s.road.text_answer_this_round) {
        s.road.text_answer_this_round = false;
        text_sweep(s);
    }
}

}  // namespace dnsr
