// SCGI on the core's socket: "/rci/show/..." answers from the routes file
// (else 404), each request logged, and faults on demand for the clients'
// tests.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "sockets.h"

namespace CoreSockets {
namespace {

constexpr char kScgiPath[] = "/var/run/zmo.scgi.socket";
constexpr size_t kRequestMax = 1 << 20;

std::mutex g_log_mutex;

bool read_request(int fd, nlohmann::json *pairs, std::string *body)
{
    std::string in;
    char buf[4096];
    auto more = [&] {
        if (in.size() > kRequestMax)
            return false;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        in.append(buf, static_cast<size_t>(n));
        return true;
    };
    size_t colon;
    while ((colon = in.find(':')) == std::string::npos)
        if (!more())
            return false;
    size_t len = 0;
    for (size_t i = 0; i < colon; ++i) {
        if (in[i] < '0' || in[i] > '9' || len > kRequestMax)
            return false;
        len = len * 10 + static_cast<size_t>(in[i] - '0');
    }
    while (in.size() < colon + len + 2)
        if (!more())
            return false;
    if (in[colon + 1 + len] != ',')
        return false;
    std::string block = in.substr(colon + 1, len);
    size_t content_length = 0;
    *pairs = nlohmann::json::array();
    for (size_t i = 0; i < block.size();) {
        size_t z1 = block.find('\0', i);
        size_t z2 = z1 == std::string::npos ? z1 : block.find('\0', z1 + 1);
        if (z2 == std::string::npos)
            return false;
        std::string name = block.substr(i, z1 - i), value = block.substr(z1 + 1, z2 - z1 - 1);
        if (name == "CONTENT_LENGTH")
            content_length = std::strtoul(value.c_str(), nullptr, 10);
        pairs->push_back({name, value});
        i = z2 + 1;
    }
    if (content_length > kRequestMax)
        return false;
    size_t start = colon + len + 2;
    while (in.size() < start + content_length)
        if (!more())
            return false;
    *body = in.substr(start, content_length);
    return true;
}

std::string value_of(const nlohmann::json &pairs, const char *name)
{
    for (const auto &p : pairs)
        if (p[0] == name)
            return p[1];
    return "";
}

void send_all(int fd, const std::string &s)
{
    size_t off = 0;
    while (off < s.size()) {
        ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += static_cast<size_t>(n);
    }
}

// The answer of the routes file for uri: exact, else without its query. A
// route's value is the body (a string as it is, other JSON printed), or
// {"$reply": {"status", "reason", "body", "fault"}} for anything else.
nlohmann::json route_for(const Options &o, const std::string &uri)
{
    std::ifstream in(o.routes);
    nlohmann::json routes = nlohmann::json::parse(in, nullptr, false);
    if (!routes.is_object())
        return nullptr;
    if (routes.contains(uri))
        return routes[uri];
    std::string path = uri.substr(0, uri.find('?'));
    if (routes.contains(path))
        return routes[path];
    return nullptr;
}

void answer(int fd, const Options &o, const nlohmann::json &pairs, const std::string &body)
{
    {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        std::ofstream log(o.log, std::ios::app);
        log << nlohmann::json{{"pairs", pairs}, {"body", body}}.dump(-1, ' ', false,
                                                                     nlohmann::json::error_handler_t::replace)
            << "\n";
    }
    nlohmann::json r = route_for(o, value_of(pairs, "REQUEST_URI"));
    int status = 200;
    std::string reason = "OK", reply_body, fault;
    if (r.is_null()) {
        status = 404;
        reason = "Not Found";
    } else if (r.is_string()) {
        reply_body = r.get<std::string>();
    } else if (r.is_object() && r.contains("$reply")) {
        r = r["$reply"];
        status = r.value("status", 200);
        reason = r.value("reason", std::string(status == 200 ? "OK" : "Error"));
        if (r.contains("body"))
            reply_body = r["body"].is_string() ? r["body"].get<std::string>() : r["body"].dump();
        fault = r.value("fault", std::string());
    } else {
        reply_body = r.dump();
    }
    std::string reply = "Status: " + std::to_string(status) + " " + reason +
                        "\r\nContent-Type: application/json\r\n\r\n" + reply_body;
    if (fault == "delay") {
        std::this_thread::sleep_for(std::chrono::seconds(6));
    } else if (fault == "bad-status") {
        reply = "HTTP/1.0 200 OK\r\n\r\n" + reply_body;
    } else if (fault == "long-reason") {
        reply = "Status: " + std::to_string(status) + " " + std::string(300, 'R') + "\r\n\r\n" + reply_body;
    } else if (fault == "huge") {
        reply += std::string(2 << 20, ' ');
    } else if (fault == "drip") {
        for (int i = 0; i < 300; ++i) {
            if (send(fd, reply.data() + (i % reply.size()), 1, MSG_NOSIGNAL) != 1)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return;
    }
    send_all(fd, reply);
}

}  // namespace

bool ScgiServe(const Options &o)
{
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, kScgiPath);
    unlink(kScgiPath);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listener, 64) != 0)
        return false;
    std::thread([listener, o] {
        for (;;) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::thread([fd, o] {
                nlohmann::json pairs;
                std::string body;
                if (read_request(fd, &pairs, &body))
                    answer(fd, o, pairs, body);
                close(fd);
            }).detach();
        }
    }).detach();
    return true;
}

}  // namespace CoreSockets
