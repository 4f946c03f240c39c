// The text query port: "resolv-conf", "resolv-via" and "poll" from local
// programs, answered with lines of addresses and texts.
#include "text_query.h"
#include "query_road.h"
#include "server.h"

#include <dns.h>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace dnsr {

namespace {

constexpr size_t kMaxRequest = 510;
constexpr size_t kMaxLines = 4093;
constexpr size_t kMaxTxt = 1024;

void send_text(Server &s, const zmo_ip_sockaddr_t &to, const std::string &text)
{
    int fd = s.slots.at(kSlotRpc).fd;
    if (fd < 0)
        return;
    if (sendto(fd, text.data(), text.size(), 0, &to.u.sa, zmo_ip_sockaddr_len(&to)) < 0)
        zmo_log(ZMO_LOG_ERROR, "Can't send answer (RPC): %s", zmo_sys_strerror(errno));
}

std::string poll_line(uint16_t id)
{
    char line[32];
    snprintf(line, sizeof line, "poll %08x;\n", unsigned(id));
    return line;
}

// Only programs on this host may use the port: it resolves through any
// server they name.
bool is_local(const zmo_ip_sockaddr_t &a)
{
    if (a.u.sa.sa_family == AF_INET)
        return (ntohl(a.u.in.sin_addr.s_addr) >> 24) == 127;
    return a.u.sa.sa_family == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&a.u.in6.sin6_addr);
}

bool parse_type(const std::string &w, uint16_t &type)
{
    std::string u;
    for (char c : w)
        u += char(toupper(static_cast<unsigned char>(c)));
    if (u == "A")
        type = 1;
    else if (u == "AAAA")
        type = 28;
    else if (u == "TXT")
        type = 16;
    else
        return false;
    return true;
}

bool parse_via(const std::string &w, zmo_ip_sockaddr_t &out)
{
    if (w.size() > 45 + 8)
        return false;
    // Without a port the usual one: port 0 reaches nothing.
    return parse_server_address(w, 53, out) && zmo_ip_sockaddr_port(&out) != 0;
}

bool parse_hex_id(std::string w, uint16_t &id)
{
    if (!w.empty() && w.back() == ';')
        w.pop_back();
    if (w.empty() || w.size() > 8)
        return false;
    unsigned long v = 0;
    for (char c : w) {
        if (!isxdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 16 + unsigned(isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(c) - 'a' + 10));
    }
    if (v > 0xffff)
        return false;
    id = uint16_t(v);
    return true;
}

void text_wait(Server &s, uint64_t arg)
{
    uint16_t id = uint16_t(arg);
    TextEntry *e = s.road.text.find(id);
    if (!e || e->answered || e->poll_told)
        return;
    send_text(s, e->client, poll_line(id));
    e->poll_told = true;
}

void resolve(Server &s, const zmo_ip_sockaddr_t &client, int mode, const std::string &type_word,
             const std::string &name, const zmo_ip_sockaddr_t *via)
{
    uint16_t type;
    unsigned char wire[DNS_D_MAXNAME];
    size_t wire_len = 0;
    if (!parse_type(type_word, type) || name.size() > 255 ||
        dns_d_fromtext(wire, name.c_str(), name.size(), &wire_len) != 0) {
        send_text(s, client, "system error;\n");
        return;
    }
    // Every entry has its own id: an answer can't reach another client.
    uint16_t id = 0;
    bool found = false;
    for (int i = 0; i < kIdDraws && !found; i++) {
        id = uint16_t(s.rng.next());
        found = !s.road.text.find(id);
    }
    TextEntry e{};
    e.mode = mode;
    e.type = type;
    e.client = client;
    zmo_time_get_monotonic_plus_msec(&e.deadline, s.cfg->settings.rpc_ttl);
    road_reserve(s, 64 + sizeof e);
    if (!found || !s.road.text.insert(id, e)) {
        send_text(s, client, "system error;\n");
        return;
    }
    // The query: that id, RD, one question of class IN.
    uint8_t q[12 + DNS_D_MAXNAME + 4 + kOptionRecordSize] = {};
    size_t len = 0;
    dnsc::Cursor out(q, sizeof q, len);
    out.u16(id);
    out.u16(0x0100);
    out.u16(1);
    out.u16(0);
    out.u16(0);
    out.u16(0);
    out.bytes(wire, wire_len);
    out.u16(type);
    out.u16(1);
    road_query(s, q, len, kKindText, kSlotRpc, client, nullptr, 0, via);
    s.timers.add(s.cfg->settings.rpc_wait, text_wait, id);
}

void poll_answer(Server &s, const zmo_ip_sockaddr_t &client, uint16_t id)
{
    TextEntry *e = s.road.text.find(id);
    if (!e)
        return;
    if (e->answer) {
        send_text(s, client, text_format(e->answer, e->answer_len));
        s.acc.free(e->answer);
        e->answer = nullptr;
        s.road.text.erase(id);
        return;
    }
    send_text(s, client, poll_line(id));
    e->poll_told = true;
}

void handle(Server &s, const zmo_ip_sockaddr_t &from, const char *text, size_t len)
{
    std::vector<std::string> w;
    size_t i = 0;
    while (i < len && w.size() < 5) {
        while (i < len && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
            i++;
        size_t start = i;
        while (i < len && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n')
            i++;
        if (i > start)
            w.emplace_back(text + start, i - start);
    }
    if (w.size() == 3 && w[0] == "resolv-conf") {
        resolve(s, from, 0, w[1], w[2], nullptr);
    } else if (w.size() == 4 && w[0] == "resolv-via") {
        zmo_ip_sockaddr_t via;
        if (!parse_via(w[1], via)) {
            send_text(s, from, "system error;\n");
            return;
        }
        resolve(s, from, 1, w[2], w[3], &via);
    } else if (w.size() == 2 && w[0] == "poll") {
        uint16_t id;
        if (parse_hex_id(w[1], id))
            poll_answer(s, from, id);
    } else {
        zmo_log_debug(1, "text query not understood");
    }
}

}  // namespace

void text_read(Server &s, int slot)
{
    for (int k = 0; k < 16; k++) {
        char buf[kMaxRequest + 1];
        zmo_ip_sockaddr_t from{};
        socklen_t l = sizeof from.u.storage;
        ssize_t n = recvfrom(s.slots.at(slot).fd, buf, sizeof buf, 0, &from.u.sa, &l);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                zmo_log(ZMO_LOG_ERROR, "failed to receive UDP: %s", zmo_sys_strerror(errno));
            return;
        }
        if (size_t(n) > kMaxRequest)
            continue;
        if (!is_local(from)) {
            zmo_log_debug(1, "text query from %s refused: not a local program", addr_text(from).c_str());
            continue;
        }
        handle(s, from, buf, size_t(n));
    }
}

void text_answer(Server &s, Request &r, const uint8_t *msg, size_t len)
{
    uint16_t id = get16(msg);
    TextEntry *e = s.road.text.find(id);
    if (!e || e->answered)
        return;
    if (e->poll_told) {
        if (e->answer)
            return;
        road_reserve(s, len);
        e = s.road.text.find(id);  // the purge may have swept it
        if (!e)
            return;
        e->answer = static_cast<uint8_t *>(s.acc.alloc(len));
        if (e->answer) {
            memcpy(e->answer, msg, len);
            e->answer_len = uint16_t(len);
        }
        return;
    }
    send_text(s, r.client, text_format(msg, len));
    e->answered = true;
    s.road.text_answer_this_round = true;
}

void text_sweep(Server &s)
{
    s.road.text.filter([&](const uint32_t &, TextEntry &e) {
        if (!e.answered && zmo_time_left_monotonic_msec(&e.deadline) > 0)
            return true;
        s.acc.free(e.answer);
        return false;
    });
    s.road.text.shrink();
}

std::string text_format(const uint8_t *msg, size_t len)
{
    std::vector<uint64_t> mem((dns_p_calcsize(len) + 7) / 8);
    dns_packet *p = dns_p_init(mem.data(), mem.size() * 8);
    if (!p || dns_p_load(p, msg, len) != 0)
        return "system error;\n";
    // The largest typed value (a TXT text) lives on the heap, not the stack.
    auto any = std::make_unique<dns_any>();
    std::string out;
    dns_rr_i it{};
    it.section = DNS_S_AN;
    dns_rr rr;
    int rc;
    while ((rc = dns_rr_next(&it, p, &rr)) == 1) {
        if (rr.type != DNS_T_A && rr.type != DNS_T_AAAA && rr.type != DNS_T_TXT)
            continue;
        char name[DNS_D_MAXTEXT];
        size_t nlen = 0;
        if (dns_d_expand(name, sizeof name, rr.dn.p, p, &nlen) != 0 || dns_any_parse(any.get(), &rr, p) != 0)
            return "system error;\n";
        if (nlen > 1 && name[nlen - 1] == '.')
            name[--nlen] = 0;
        std::string line(name, nlen);
        if (rr.type == DNS_T_A || rr.type == DNS_T_AAAA) {
            char addr[INET6_ADDRSTRLEN];
            inet_ntop(rr.type == DNS_T_A ? AF_INET : AF_INET6,
                      rr.type == DNS_T_A ? static_cast<const void *>(&any->a.addr) : &any->aaaa.addr, addr,
                      sizeof addr);
            line += rr.type == DNS_T_A ? " A " : " AAAA ";
            line += addr;
            line += '\n';
        } else {
            const dns_txt &t = any->txt;
            size_t n = std::min(t.len, kMaxTxt);
            bool printable = true;
            for (size_t i = 0; i < n && printable; i++)
                printable = isprint(t.data[i]) != 0;
            if (!printable)
                continue;
            line += " TXT \"";
            for (size_t i = 0; i < n; i++) {
                if (t.data[i] == '\\' || t.data[i] == '"')
                    line += '\\';
                line += char(t.data[i]);
            }
            line += "\"\n";
        }
        // Bounded: past the limit the answer is too large, not cut.
        if (out.size() + line.size() > kMaxLines)
            return "large answer;\n";
        out += line;
    }
    if (rc < 0)
        return "system error;\n";
    return out.empty() ? "not resolved;\n" : out;
}

}  // namespace dnsr
