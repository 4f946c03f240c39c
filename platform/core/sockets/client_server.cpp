// The base library's core-client protocol: "HELLO name", "AUTH tag login
// password" (words %XX-escaped) and "EVENTS", after which the core pushes
// "EVENT <type> <length>\n" and the event's XML.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sockets.h"

namespace CoreSockets {
namespace {

constexpr char kCorePath[] = "/var/run/zmo.core.socket";

std::mutex g_mutex;
std::set<int> g_event_fds;

std::string unescape(const std::string &w)
{
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i] == '%' && i + 2 < w.size()) {
            out.push_back(static_cast<char>(std::strtol(w.substr(i + 1, 2).c_str(), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(w[i]);
        }
    }
    return out;
}

void reply(int fd, const std::string &line)
{
    std::string s = line + "\n";
    send(fd, s.data(), s.size(), MSG_NOSIGNAL);
}

void serve(int fd, const Options &o)
{
    std::string line;
    char c;
    while (recv(fd, &c, 1, 0) == 1) {
        if (c != '\n') {
            if (line.size() > 4096)
                break;
            line.push_back(c);
            continue;
        }
        std::istringstream words(line);
        std::string verb, a, b, d;
        words >> verb >> a >> b >> d;
        line.clear();
        if (verb == "HELLO") {
            reply(fd, "OK");
        } else if (verb == "AUTH") {
            // The tag and the login, never the password.
            std::fprintf(stderr, "core: AUTH %s %s\n", unescape(a).c_str(), unescape(b).c_str());
            reply(fd, unescape(b) == o.user && unescape(d) == o.password ? "OK granted" : "OK denied");
        } else if (verb == "EVENTS") {
            reply(fd, "OK");
            std::lock_guard<std::mutex> lock(g_mutex);
            g_event_fds.insert(fd);
            return;  // stays open for the pushed events
        } else {
            reply(fd, "ERR unknown");
        }
    }
    close(fd);
}

// "TYPE XML" lines from the FIFO to every event connection.
void push_events(const std::string &fifo)
{
    mkfifo(fifo.c_str(), 0600);
    int fd = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c != '\n') {
            line.push_back(c);
            continue;
        }
        size_t sp = line.find(' ');
        if (sp != std::string::npos) {
            std::string xml = line.substr(sp + 1);
            std::string ev = "EVENT " + line.substr(0, sp) + " " + std::to_string(xml.size()) + "\n" + xml;
            std::lock_guard<std::mutex> lock(g_mutex);
            for (int e : g_event_fds)
                send(e, ev.data(), ev.size(), MSG_NOSIGNAL);
        }
        line.clear();
    }
}

}  // namespace

bool ClientServe(const Options &o)
{
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, kCorePath);
    unlink(kCorePath);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listener, 16) != 0)
        return false;
    if (!o.events.empty())
        std::thread(push_events, o.events).detach();
    std::thread([listener, o] {
        for (;;) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                std::thread(serve, fd, o).detach();
        }
    }).detach();
    return true;
}

}  // namespace CoreSockets
