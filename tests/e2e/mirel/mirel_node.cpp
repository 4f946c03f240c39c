// mirel_node: a program on libmirel for the scenarios, as an application
// of the library would be.
//   mirel_node serve ADDR [--key HEX]
//       An endpoint on 5683 (multicast on ADDR) serving /hello (GET),
//       /echo (POST, PUT: the body comes back), /cmd (POST: one line
//       "run /cmd BODY" on stdout per handler run) and /gone (DELETE).
//       Prints "ready"; runs until SIGTERM or SIGINT. Also /blob (POST:
//       answers "len=N fnv=X" of the body; GET ?n=N: N bytes of the
//       pattern) and /transfers (GET: running block-wise transfers).
//       MIREL_NODE_FAST_EXPIRY=1 runs the transfers' idle clock ten times
//       faster, so a stalled transfer goes in 6 s rather than 60.
//   mirel_node bench ADDR PEER[:PORT] WINDOW SECONDS [--key HEX] [--secure] [--port P] PATH
//       Keeps WINDOW GETs of PATH outstanding for SECONDS; prints
//       "first_ms=F median_us=M per_second=R" (F: the first answer's time,
//       with any handshake; M: the median round trip after it).
//   mirel_node pattern N
//       Prints "len=N fnv=X" of N bytes of the pattern.
//   mirel_node ask ADDR PEER[:PORT] [--non] [--together] [--timeout S] [--key HEX] [--secure]
//                  METHOD PATH [BODY...]
//       One request per BODY (one without body when none), one after the
//       other (--together: all at once); prints "answer CODE BODY" for each
//       answer and "timeout" for each request left unanswered after S
//       seconds. Exit 0 when every request was answered. --body-size N sends
//       N bytes of the pattern as the one body. Answer bodies over 512 bytes
//       print as "len=N fnv=X".
// --key sets the endpoint's private key (64 hex digits); --secure sends the
// requests sealed ("coaps"); --port binds the asking endpoint to another
// port than 5683 (ask and bench), so that it can share a host with a server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <string>
#include <string_view>
#include <vector>

#include "../../../mirel/src/endpoint.h"
#include "coap_uri.h"
#include "mirel.h"
#include "zmo.h"

namespace {

constexpr int kChanged = COAP_CODE(2, 4);
constexpr int kContent = COAP_CODE(2, 5);
constexpr int kDeleted = COAP_CODE(2, 2);

std::string body_of(const struct CoAPMessage *m)
{
    uint32_t len = 0;
    const char *p = static_cast<const char *>(CoAPMessage_GetPayload(m, &len, 0));
    return p ? std::string(p, len) : std::string();
}

std::string pattern(size_t n)
{
    std::string s(n, '\0');
    uint32_t x = 2463534242u;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

// FNV-1a over eight bytes a step (then the tail byte by byte): a megabyte
// body is checked in a fraction of the time its transfer takes.
std::string digest(std::string_view body)
{
    uint64_t h = 1469598103934665603ull;
    size_t i = 0;
    for (; i + 8 <= body.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, body.data() + i, 8);
        h = (h ^ w) * 1099511628211ull;
    }
    for (; i < body.size(); i++)
        h = (h ^ static_cast<unsigned char>(body[i])) * 1099511628211ull;
    char text[64];
    std::snprintf(text, sizeof text, "len=%zu fnv=%016llx", body.size(), static_cast<unsigned long long>(h));
    return text;
}

int on_blob(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    if (CoAPMessage_GetCode(req) == COAP_CODE_POST) {
        std::string d = digest(body_of(req));
        CoAPMessage_SetCode(resp, kChanged);
        CoAPMessage_SetPayload(resp, d.data(), d.size());
        return 0;
    }
    char *q = CoAPMessage_GetUriQuery(req);
    size_t n = q && std::strncmp(q, "?n=", 3) == 0 ? std::strtoul(q + 3, nullptr, 10) : 0;
    Mem_free(q);
    // Served from memory, as a stored resource would be: the body of the
    // last size asked for is kept (handlers run on one thread).
    static std::string body;
    if (body.size() != n)
        body = pattern(n);
    CoAPMessage_SetCode(resp, kContent);
    if (!body.empty())
        CoAPMessage_SetPayload(resp, body.data(), body.size());
    return 0;
}

int on_transfers(struct Mirel *ep, struct CoAPMessage *, struct CoAPMessage *resp)
{
    std::string n = std::to_string(SlidingWindowPool_Count(ep->windows, -1));
    CoAPMessage_SetCode(resp, kContent);
    CoAPMessage_SetPayload(resp, n.data(), n.size());
    return 0;
}

uint64_t fast_clock(void *) { return TimeMono_Ms() * 10; }

void maybe_fast_expiry(struct Mirel *ep)
{
    const char *fast = std::getenv("MIREL_NODE_FAST_EXPIRY");
    if (fast && std::strcmp(fast, "1") == 0)
        SlidingWindowPool_SetClock(ep->windows, fast_clock, nullptr);
}

int on_hello(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *resp)
{
    CoAPMessage_SetCode(resp, kContent);
    CoAPMessage_SetPayload(resp, "hello", 5);
    return 0;
}

int on_echo(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    std::string body = body_of(req);
    CoAPMessage_SetCode(resp, kChanged);
    if (!body.empty())
        CoAPMessage_SetPayload(resp, body.data(), body.size());
    return 0;
}

int on_cmd(struct Mirel *, struct CoAPMessage *req, struct CoAPMessage *resp)
{
    std::string body = body_of(req);
    std::printf("run /cmd %s\n", body.c_str());
    std::fflush(stdout);
    CoAPMessage_SetCode(resp, kChanged);
    std::string text = "ran " + body;
    CoAPMessage_SetPayload(resp, text.data(), text.size());
    return 0;
}

int on_gone(struct Mirel *, struct CoAPMessage *, struct CoAPMessage *resp)
{
    CoAPMessage_SetCode(resp, kDeleted);
    return 0;
}

uint32_t parse_ipv4(const char *text)
{
    struct in_addr a {};
    if (inet_pton(AF_INET, text, &a) != 1) {
        std::fprintf(stderr, "mirel_node: not an IPv4 address: %s\n", text);
        std::exit(2);
    }
    return a.s_addr;
}

bool set_key(struct Mirel *ep, const char *text)
{
    if (!text)
        return true;
    struct HexString *hs = HexString();
    uint32_t len = 0;
    bool ok = hs && HexString_Set(hs, text) == 0;
    void *bytes = ok ? HexString_GetBin(hs, &len) : nullptr;
    ok = bytes && Mirel_SetPrivateKey(ep, static_cast<uint8_t *>(bytes), len) == 0;
    Mem_free(bytes);
    HexString_Free(hs);
    if (!ok)
        std::fprintf(stderr, "mirel_node: the key is 64 hex digits\n");
    return ok;
}

int serve(const char *addr, const char *key)
{
    struct Mirel *ep = Mirel(COAP_DEFAULT_PORT, parse_ipv4(addr));
    if (!ep)
        return 1;
    if (!set_key(ep, key)) {
        Mirel_Free(ep);
        return 2;
    }
    Mirel_AddRes(ep, "/hello", MIREL_GET, on_hello);
    Mirel_AddRes(ep, "/echo", MIREL_POST | MIREL_PUT, on_echo);
    Mirel_AddRes(ep, "/cmd", MIREL_POST, on_cmd);
    Mirel_AddRes(ep, "/gone", MIREL_DELETE, on_gone);
    Mirel_AddRes(ep, "/blob", MIREL_GET | MIREL_POST, on_blob);
    Mirel_AddRes(ep, "/transfers", MIREL_GET, on_transfers);
    maybe_fast_expiry(ep);
    std::printf("ready\n");
    std::fflush(stdout);
    while (!zmo_sys_is_interrupted())
        zmo_sys_sleep_msec(200);
    Mirel_Free(ep);
    return 0;
}

// Answers as they come, handed over from the receiver thread.
struct Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    size_t answered = 0;
} g_waiter;

int on_answer(struct Mirel *, struct CoAPMessage *answer)
{
    char code[48];
    CoAPMessage_GetCodeStr(answer, code, sizeof code);
    std::string line = std::string("answer ") + code;
    // A long body is checked where it lies, not copied first.
    uint32_t len = 0;
    const char *p = static_cast<const char *>(CoAPMessage_GetPayload(answer, &len, 0));
    std::string_view body(p ? p : "", p ? len : 0);
    if (body.size() > 512)
        line += " " + digest(body);
    else if (!body.empty())
        line += " " + std::string(body);
    std::lock_guard<std::mutex> lock(g_waiter.mutex);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    g_waiter.answered++;
    g_waiter.cv.notify_all();
    return 0;
}

// Bench: every answer sends the next request from the receiver thread.
struct Bench {
    struct Mirel *ep = nullptr;
    std::string uri;
    std::mutex mutex;
    std::vector<double> rtt_us;
    std::unordered_map<uint16_t, uint64_t> sent_us;
    size_t answered = 0;
    bool stop = false;
} g_bench;

int bench_answer(struct Mirel *ep, struct CoAPMessage *answer);

void bench_send()
{
    struct CoAPMessage *m = CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, -1);
    uint8_t token[4];
    CoAPMessage_GenToken(token, sizeof token);
    CoAPMessage_SetUri(m, g_bench.uri.c_str(), 0);
    CoAPMessage_SetToken(m, token, sizeof token);
    CoAPMessage_SetHandler(m, bench_answer);
    {
        std::lock_guard<std::mutex> lock(g_bench.mutex);
        g_bench.sent_us[static_cast<uint16_t>(CoAPMessage_GetId(m))] = TimeMono_Us();
    }
    Mirel_Send(g_bench.ep, m);
    CoAPMessage_Decref(m);
}

int bench_answer(struct Mirel *, struct CoAPMessage *answer)
{
    uint64_t now = TimeMono_Us();
    {
        std::lock_guard<std::mutex> lock(g_bench.mutex);
        auto it = g_bench.sent_us.find(static_cast<uint16_t>(CoAPMessage_GetId(answer)));
        if (it != g_bench.sent_us.end()) {
            g_bench.rtt_us.push_back(static_cast<double>(now - it->second));
            g_bench.sent_us.erase(it);
        }
        g_bench.answered++;
        if (g_bench.stop)
            return 0;
    }
    bench_send();
    return 0;
}

int bench(int argc, char **argv)
{
    if (argc < 7)
        return 2;
    const char *addr = argv[2];
    std::string peer = argv[3];
    int window = std::atoi(argv[4]);
    double seconds = std::atof(argv[5]);
    bool secure = false;
    const char *key = nullptr;
    uint16_t port = COAP_DEFAULT_PORT;
    int i = 6;
    for (; i < argc && argv[i][0] == '-'; i++) {
        if (std::strcmp(argv[i], "--secure") == 0)
            secure = true;
        else if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            port = static_cast<uint16_t>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc)
            key = argv[++i];
    }
    if (i >= argc)
        return 2;
    g_bench.uri = (secure ? "coaps://" : "coap://") + peer + argv[i];
    g_bench.ep = Mirel(port, parse_ipv4(addr));
    if (!g_bench.ep || !set_key(g_bench.ep, key))
        return 1;
    uint64_t start = TimeMono_Us();
    bench_send();
    // The first answer alone, then the window.
    while (TimeMono_Us() - start < 5000000) {
        std::lock_guard<std::mutex> lock(g_bench.mutex);
        if (g_bench.answered > 0)
            break;
    }
    double first_ms = (TimeMono_Us() - start) / 1000.0;
    for (int k = 1; k < window; k++)
        bench_send();
    uint64_t t0 = TimeMono_Us();
    size_t a0;
    {
        std::lock_guard<std::mutex> lock(g_bench.mutex);
        a0 = g_bench.answered;
    }
    zmo_sys_sleep_msec(static_cast<int64_t>(seconds * 1000));
    std::vector<double> rtts;
    size_t a1;
    {
        std::lock_guard<std::mutex> lock(g_bench.mutex);
        g_bench.stop = true;
        a1 = g_bench.answered;
        rtts = g_bench.rtt_us;
    }
    double elapsed = (TimeMono_Us() - t0) / 1e6;
    std::sort(rtts.begin() + (rtts.empty() ? 0 : 1), rtts.end());
    double median = rtts.size() > 1 ? rtts[1 + (rtts.size() - 1) / 2] : 0;
    std::printf("first_ms=%.3f median_us=%.0f per_second=%.0f\n", first_ms, median, (a1 - a0) / elapsed);
    Mirel_Free(g_bench.ep);
    return 0;
}

int method_code(const char *name)
{
    const char *names[] = {"get", "post", "put", "delete"};
    for (int i = 0; i < 4; i++)
        if (std::strcmp(name, names[i]) == 0)
            return i + 1;
    std::fprintf(stderr, "mirel_node: method is get, post, put or delete\n");
    std::exit(2);
}

int ask(int argc, char **argv)
{
    if (argc < 6)
        return 2;
    const char *addr = argv[2];
    std::string peer = argv[3];
    int type = COAP_TYPE_CON, i = 4;
    bool together = false, secure = false;
    const char *key = nullptr;
    long body_size = -1;
    uint16_t port = COAP_DEFAULT_PORT;
    double timeout_s = 12;
    for (; i < argc && argv[i][0] == '-'; i++) {
        if (std::strcmp(argv[i], "--non") == 0)
            type = COAP_TYPE_NON;
        else if (std::strcmp(argv[i], "--together") == 0)
            together = true;
        else if (std::strcmp(argv[i], "--secure") == 0)
            secure = true;
        else if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc)
            key = argv[++i];
        else if (std::strcmp(argv[i], "--body-size") == 0 && i + 1 < argc)
            body_size = std::strtol(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            port = static_cast<uint16_t>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
            timeout_s = std::atof(argv[++i]);
    }
    if (i + 2 > argc)
        return 2;
    int code = method_code(argv[i]);
    std::string path = argv[i + 1];
    std::vector<std::string> bodies(argv + i + 2, argv + argc);
    if (body_size >= 0)
        bodies.assign(1, pattern(static_cast<size_t>(body_size)));
    if (bodies.empty())
        bodies.emplace_back();

    struct Mirel *ep = Mirel(port, parse_ipv4(addr));
    if (!ep)
        return 1;
    if (!set_key(ep, key)) {
        Mirel_Free(ep);
        return 2;
    }
    maybe_fast_expiry(ep);
    auto wait_for = [&](size_t count) {
        std::unique_lock<std::mutex> lock(g_waiter.mutex);
        auto limit = std::chrono::milliseconds(static_cast<long>(timeout_s * 1000));
        g_waiter.cv.wait_for(lock, limit, [&] { return g_waiter.answered >= count; });
        return g_waiter.answered;
    };
    auto answered_now = [] {
        std::lock_guard<std::mutex> lock(g_waiter.mutex);
        return g_waiter.answered;
    };
    size_t sent = 0, unanswered = 0;
    for (const std::string &body : bodies) {
        struct CoAPMessage *m = CoAPMessage(type, code, -1);
        std::string uri = (secure ? "coaps://" : "coap://") + peer + path;
        uint8_t token[8];
        CoAPMessage_GenToken(token, sizeof token);
        if (!m || CoAPMessage_SetUri(m, uri.c_str(), 0) != 0 ||
            CoAPMessage_SetToken(m, token, sizeof token) != 0) {
            std::fprintf(stderr, "mirel_node: bad request %s\n", uri.c_str());
            return 2;
        }
        if (!body.empty())
            CoAPMessage_SetPayload(m, body.data(), body.size());
        CoAPMessage_SetHandler(m, on_answer);
        size_t before = answered_now();
        Mirel_Send(ep, m);
        CoAPMessage_Decref(m);
        sent++;
        if (!together && wait_for(before + 1) == before) {
            std::printf("timeout\n");
            std::fflush(stdout);
            unanswered++;
        }
    }
    if (together) {
        size_t answered = wait_for(sent);
        for (; answered < sent; answered++, unanswered++)
            std::printf("timeout\n");
    }
    Mirel_Free(ep);
    return unanswered == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    zmo_log_init("mirel_node", nullptr, 1, 0);
    zmo_sys_set_default_signals();
    if (const char *d = std::getenv("MIREL_DEBUG"))
        zmo_log_set_debug(std::atoi(d));
    if (argc >= 3 && std::strcmp(argv[1], "serve") == 0)
        return serve(argv[2], argc >= 5 && std::strcmp(argv[3], "--key") == 0 ? argv[4] : nullptr);
    if (argc >= 3 && std::strcmp(argv[1], "pattern") == 0) {
        std::printf("%s\n", digest(pattern(std::strtoul(argv[2], nullptr, 10))).c_str());
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "bench") == 0)
        return bench(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "ask") == 0) {
        int rc = ask(argc, argv);
        if (rc == 2)
            std::fprintf(stderr, "usage: mirel_node ask ADDR PEER[:PORT] [--non] [--timeout S] "
                                 "METHOD PATH [BODY...]\n");
        return rc;
    }
    std::fprintf(stderr, "usage: mirel_node serve ADDR | ask ...\n");
    return 2;
}
