// udp_relay: a user-space UDP forwarder between two hosts that loses,
// delays, duplicates and reorders datagrams from a seed, for the loss
// scenarios this host cannot make with the kernel (no netem).
//
//   udp_relay --a ADDR:PORT --to-a ADDR:PORT --b ADDR:PORT --to-b ADDR:PORT
//             [--seed N] [--drop P] [--dup P] [--reorder P] [--delay MS]
//             [--jitter MS] [--drop-nth ab:1,2] [--drop-nth ba:3]
//             [--forge-coap] [--log FILE]
//
// What arrives on socket A (bound to --a) leaves from socket B (--b) to
// --to-b: direction "ab"; what arrives on B leaves from A to --to-a: "ba".
// --to-a learn sends "ba" to wherever A's last datagram came from (a client
// on a port of its own choosing).
// Each datagram draws, in arrival order: drop (probability P), duplicate
// (a second copy), reorder (held back by twice the delay plus 5 ms so later
// ones overtake it); then it waits the delay plus up to the jitter.
// --drop-nth drops the given datagrams of one direction, counted from 1 in
// arrival order, whatever the draws say. --forge-coap answers every CoAP
// request going ab at once with two forged ACKs to --to-a: one from A with
// the request's id and a changed token, one from A's port + 1 with the
// right id and token, both with the payload "forged".
// The log has one line per datagram: ms since start, direction, number,
// length, fate ("pass", "drop", "dup", "late", "forge"). SIGTERM or SIGINT
// ends the relay with a summary line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

struct Options {
    sockaddr_in a{}, to_a{}, b{}, to_b{};
    bool learn_a = false;
    unsigned seed = 1;
    double drop = 0, dup = 0, reorder = 0;
    int delay_ms = 0, jitter_ms = 0;
    std::set<unsigned> drop_ab, drop_ba;
    bool forge = false;
    std::string log;
};

[[noreturn]] void usage(const char *why)
{
    std::fprintf(stderr, "udp_relay: %s\n", why);
    std::exit(2);
}

sockaddr_in parse_addr(const char *text)
{
    std::string s(text);
    size_t colon = s.rfind(':');
    if (colon == std::string::npos)
        usage("address wants ADDR:PORT");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (inet_pton(AF_INET, s.substr(0, colon).c_str(), &a.sin_addr) != 1)
        usage("bad IPv4 address");
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(s.c_str() + colon + 1)));
    return a;
}

void parse_nth(const char *text, Options &o)
{
    std::string s(text);
    if (s.size() < 4 || s[2] != ':' || (s.compare(0, 2, "ab") != 0 && s.compare(0, 2, "ba") != 0))
        usage("--drop-nth wants ab:N[,N...] or ba:N[,N...]");
    std::set<unsigned> &set = s[0] == 'a' ? o.drop_ab : o.drop_ba;
    for (size_t pos = 3; pos < s.size();) {
        size_t comma = s.find(',', pos);
        set.insert(static_cast<unsigned>(std::atoi(s.substr(pos, comma - pos).c_str())));
        pos = comma == std::string::npos ? s.size() : comma + 1;
    }
}

Options parse(int argc, char **argv)
{
    Options o;
    bool have[4] = {};
    for (int i = 1; i < argc; i++) {
        std::string k = argv[i];
        auto val = [&]() -> const char * {
            if (i + 1 >= argc)
                usage(("missing value for " + k).c_str());
            return argv[++i];
        };
        if (k == "--a") {
            o.a = parse_addr(val());
            have[0] = true;
        } else if (k == "--to-a") {
            const char *v = val();
            o.learn_a = std::string(v) == "learn";
            if (!o.learn_a)
                o.to_a = parse_addr(v);
            have[1] = true;
        } else if (k == "--b") {
            o.b = parse_addr(val());
            have[2] = true;
        } else if (k == "--to-b") {
            o.to_b = parse_addr(val());
            have[3] = true;
        } else if (k == "--seed")
            o.seed = static_cast<unsigned>(std::strtoul(val(), nullptr, 10));
        else if (k == "--drop")
            o.drop = std::atof(val());
        else if (k == "--dup")
            o.dup = std::atof(val());
        else if (k == "--reorder")
            o.reorder = std::atof(val());
        else if (k == "--delay")
            o.delay_ms = std::atoi(val());
        else if (k == "--jitter")
            o.jitter_ms = std::atoi(val());
        else if (k == "--drop-nth")
            parse_nth(val(), o);
        else if (k == "--forge-coap")
            o.forge = true;
        else if (k == "--log")
            o.log = val();
        else
            usage(("unknown option " + k).c_str());
    }
    if (!(have[0] && have[1] && have[2] && have[3]))
        usage("--a, --to-a, --b and --to-b are needed");
    return o;
}

int bound_socket(const sockaddr_in &a)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        std::perror("udp_relay: bind");
        std::exit(1);
    }
    return fd;
}

using Clock = std::chrono::steady_clock;

struct Pending {
    Clock::time_point at;
    uint64_t order;  // keeps equal times in arrival order
    int fd;
    sockaddr_in to;
    std::vector<uint8_t> bytes;
    bool operator>(const Pending &o) const { return at != o.at ? at > o.at : order > o.order; }
};

// Two ACKs that a forger would send for a CoAP request (RFC 7252 header).
void forge(const std::vector<uint8_t> &req, int fd_a, int fd_forger, const sockaddr_in &to)
{
    if (req.size() < 4 || (req[0] >> 6) != 1)
        return;
    unsigned type = (req[0] >> 4) & 3, tkl = req[0] & 15, code = req[1];
    if (type != 0 || code < 1 || code > 4 || tkl > 8 || req.size() < 4 + tkl)
        return;
    std::vector<uint8_t> ack{static_cast<uint8_t>(0x60 | tkl), 0x45, req[2], req[3]};
    ack.insert(ack.end(), req.begin() + 4, req.begin() + 4 + tkl);
    ack.push_back(0xff);
    for (char c : std::string("forged"))
        ack.push_back(static_cast<uint8_t>(c));
    std::vector<uint8_t> other_token = ack;
    if (tkl > 0)
        other_token[4 + tkl - 1] ^= 0x5a;
    else
        other_token[0] = 0x61, other_token.insert(other_token.begin() + 4, 0x5a);
    sendto(fd_a, other_token.data(), other_token.size(), 0, reinterpret_cast<const sockaddr *>(&to),
           sizeof to);
    sendto(fd_forger, ack.data(), ack.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

}  // namespace

int main(int argc, char **argv)
{
    Options o = parse(argc, argv);
    FILE *log = o.log.empty() ? stdout : std::fopen(o.log.c_str(), "w");
    if (!log) {
        std::perror("udp_relay: log");
        return 1;
    }
    setvbuf(log, nullptr, _IOLBF, 0);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    int fd_a = bound_socket(o.a), fd_b = bound_socket(o.b), fd_forger = -1;
    if (o.forge) {
        sockaddr_in f = o.a;
        f.sin_port = htons(static_cast<uint16_t>(ntohs(o.a.sin_port) + 1));
        fd_forger = bound_socket(f);
    }
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> queue;
    const Clock::time_point start = Clock::now();
    uint64_t order = 0;
    unsigned count[2] = {0, 0};
    unsigned passed = 0, dropped = 0, duplicated = 0, late = 0;
    std::fprintf(log, "ready\n");

    while (!g_stop) {
        int timeout = -1;
        if (!queue.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(queue.top().at - Clock::now());
            timeout = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
        }
        pollfd p[2] = {{fd_a, POLLIN, 0}, {fd_b, POLLIN, 0}};
        int n = poll(p, 2, timeout);
        Clock::time_point now = Clock::now();
        while (!queue.empty() && queue.top().at <= now) {
            const Pending &d = queue.top();
            sendto(d.fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<const sockaddr *>(&d.to),
                   sizeof d.to);
            queue.pop();
        }
        if (n <= 0)
            continue;
        for (int side = 0; side < 2; side++) {
            if (!(p[side].revents & POLLIN))
                continue;
            std::vector<uint8_t> buf(65536);
            sockaddr_in from{};
            socklen_t from_len = sizeof from;
            ssize_t len = recvfrom(p[side].fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from),
                                   &from_len);
            if (len < 0)
                continue;
            if (side == 0 && o.learn_a)
                o.to_a = from;
            buf.resize(static_cast<size_t>(len));
            unsigned nth = ++count[side];
            const char *dir = side == 0 ? "ab" : "ba";
            long ms =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count());
            // Every draw is made for every datagram, so one seed gives one
            // sequence of fates whatever the options.
            bool lose = coin(rng) < o.drop;
            bool twice = coin(rng) < o.dup;
            bool hold = coin(rng) < o.reorder;
            int jitter = o.jitter_ms > 0 ? static_cast<int>(rng() % (o.jitter_ms + 1)) : 0;
            const std::set<unsigned> &nths = side == 0 ? o.drop_ab : o.drop_ba;
            if (nths.count(nth))
                lose = true;
            if (side == 0 && o.forge) {
                forge(buf, fd_a, fd_forger, o.to_a);
                std::fprintf(log, "%ld %s %u %zd forge\n", ms, dir, nth, len);
            }
            if (lose) {
                dropped++;
                std::fprintf(log, "%ld %s %u %zd drop\n", ms, dir, nth, len);
                continue;
            }
            int wait = o.delay_ms + jitter + (hold ? 2 * o.delay_ms + 5 : 0);
            Pending d{now + std::chrono::milliseconds(wait), order++, side == 0 ? fd_b : fd_a,
                      side == 0 ? o.to_b : o.to_a, buf};
            if (twice) {
                Pending copy = d;
                copy.at += std::chrono::milliseconds(1 + o.jitter_ms / 2);
                copy.order = order++;
                queue.push(copy);
                duplicated++;
            }
            queue.push(std::move(d));
            passed++;
            late += hold;
            std::fprintf(log, "%ld %s %u %zd %s\n", ms, dir, nth, len,
                         twice  ? "dup"
                         : hold ? "late"
                                : "pass");
        }
    }
    std::fprintf(log, "summary passed=%u dropped=%u duplicated=%u late=%u\n", passed, dropped, duplicated,
                 late);
    return 0;
}
