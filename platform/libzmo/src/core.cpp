// Client of the management core: one request line, one answer line, over a
// UNIX stream socket; events come on a second connection as
// "EVENT <type> <length>\n" and <length> bytes of XML.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "pool.h"

struct zmo_core {
    int fd = -1;
    int timeout_ms = 0;
    size_t max_answer = 0;
    std::string name;  // said again in HELLO when the connection is made anew
};

struct zmo_core_event_connection {
    int fd = -1;
    std::string pending;
};

struct zmo_core_event {
    std::string type;
    zmo_pool_t pool;
    zmo_xml_node_t *root = nullptr;
};

namespace {
constexpr size_t kMaxEvent = 1 << 20;

const char *socket_path()
{
    // Tests point the client at a core of their own; the board has one path.
    const char *env = std::getenv("ZMO_CORE_SOCKET");
    return env && *env ? env : ZMO_CORE_SOCKET_PATH;
}

int connect_core(int timeout_ms)
{
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const char *path = socket_path();
    if (std::strlen(path) >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(addr.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN) {
            int err = errno;
            close(fd);
            errno = err;
            return -1;
        }
        struct pollfd p = {fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (poll(&p, 1, timeout_ms) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err) {
            close(fd);
            errno = err ? err : ETIMEDOUT;
            return -1;
        }
    }
    return fd;
}

bool send_all(int fd, const std::string &data, int timeout_ms)
{
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        struct pollfd p = {fd, POLLOUT, 0};
        if (poll(&p, 1, timeout_ms) != 1) {
            errno = ETIMEDOUT;
            return false;
        }
    }
    return true;
}

bool read_line(int fd, std::string *line, size_t max, int timeout_ms)
{
    line->clear();
    for (;;) {
        char c;
        ssize_t n = recv(fd, &c, 1, 0);
        if (n == 1) {
            if (c == '\n')
                return true;
            if (line->size() >= max) {
                errno = EMSGSIZE;
                return false;
            }
            line->push_back(c);
            continue;
        }
        if (n == 0) {
            errno = ECONNRESET;
            return false;
        }
        if (errno != EAGAIN && errno != EINTR)
            return false;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) {
            errno = ETIMEDOUT;
            return false;
        }
    }
}

// Words go on one line: bytes that would split it are %XX-escaped.
std::string escape(const char *s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        if (*p <= 0x20 || *p == '%' || *p >= 0x7f) {
            out.push_back('%');
            out.push_back(hex[*p >> 4]);
            out.push_back(hex[*p & 15]);
        } else {
            out.push_back(static_cast<char>(*p));
        }
    }
    return out;
}

// The stream can't be resynchronised after a bad header: drop what is held.
zmo_core_event_t *protocol_error(zmo_core_event_connection_t *conn)
{
    conn->pending.clear();
    errno = EPROTO;
    return nullptr;
}

bool exchange_once(zmo_core_t *core, const std::string &request, std::string *answer)
{
    return send_all(core->fd, request + "\n", core->timeout_ms) &&
           read_line(core->fd, answer, core->max_answer, core->timeout_ms);
}

// Answers carry no request of their own: one that comes after its time would
// be read as the next request's (a late "OK granted" for a wrong password).
// A connection that missed an answer is closed; the next request makes a new
// one.
bool exchange(zmo_core_t *core, const std::string &request, std::string *answer)
{
    if (core->fd < 0) {
        std::string hello;
        core->fd = connect_core(core->timeout_ms);
        if (core->fd < 0)
            return false;
        if (!exchange_once(core, "HELLO " + escape(core->name.c_str()), &hello) || hello != "OK") {
            int err = hello.compare(0, 3, "ERR") == 0 ? ECONNREFUSED : errno;
            close(core->fd);
            core->fd = -1;
            errno = err;
            return false;
        }
    }
    if (exchange_once(core, request, answer))
        return true;
    int err = errno;
    close(core->fd);
    core->fd = -1;
    errno = err;
    return false;
}
}  // namespace

extern "C" {

zmo_core_t *zmo_core_open(const char *name, int timeout_ms, size_t max_answer)
{
    if (!name || !*name || timeout_ms < 0) {
        errno = EINVAL;
        return nullptr;
    }
    zmo_core_t *core = new (std::nothrow) zmo_core_t;
    if (!core) {
        errno = ENOMEM;
        return nullptr;
    }
    core->timeout_ms = timeout_ms;
    core->max_answer = max_answer ? max_answer : 4096;
    std::string answer;
    try {
        core->name = name;
        core->fd = connect_core(timeout_ms);
        if (core->fd >= 0 && exchange_once(core, "HELLO " + escape(name), &answer) && answer == "OK")
            return core;
        if (core->fd >= 0 && answer.compare(0, 3, "ERR") == 0)
            errno = ECONNREFUSED;
    } catch (...) {
        errno = ENOMEM;
    }
    int err = errno;
    zmo_core_close(core);
    errno = err;
    return nullptr;
}

void zmo_core_close(zmo_core_t *core)
{
    if (!core)
        return;
    if (core->fd >= 0)
        close(core->fd);
    delete core;
}

int zmo_core_authenticate(zmo_core_t *core, const char *login, const char *password, const char *tag,
                          int *granted)
{
    if (!core || !login || !password || !tag || !granted) {
        errno = EINVAL;
        return 0;
    }
    try {
        std::string answer;
        if (!exchange(core, "AUTH " + escape(tag) + " " + escape(login) + " " + escape(password), &answer))
            return 0;
        if (answer == "OK granted")
            *granted = 1;
        else if (answer == "OK denied")
            *granted = 0;
        else {
            errno = EPROTO;
            return 0;
        }
        return 1;
    } catch (...) {
        errno = ENOMEM;
        return 0;
    }
}

zmo_core_event_connection_t *zmo_core_event_connection_open(int timeout_ms)
{
    zmo_core_event_connection_t *conn = new (std::nothrow) zmo_core_event_connection_t;
    if (!conn) {
        errno = ENOMEM;
        return nullptr;
    }
    std::string answer;
    conn->fd = connect_core(timeout_ms);
    if (conn->fd >= 0 && send_all(conn->fd, "EVENTS\n", timeout_ms) &&
        read_line(conn->fd, &answer, 64, timeout_ms) && answer == "OK")
        return conn;
    int err = errno;
    zmo_core_event_connection_close(conn);
    errno = err;
    return nullptr;
}

void zmo_core_event_connection_close(zmo_core_event_connection_t *conn)
{
    if (!conn)
        return;
    if (conn->fd >= 0)
        close(conn->fd);
    delete conn;
}

int zmo_core_event_connection_fd(const zmo_core_event_connection_t *conn) { return conn ? conn->fd : -1; }

zmo_core_event_t *zmo_core_event_connection_get(zmo_core_event_connection_t *conn)
{
    if (!conn || conn->fd < 0) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        // Takes from the socket only what this event still lacks: whatever
        // follows stays there, so the descriptor keeps showing it to poll.
        for (;;) {
            size_t want;
            size_t eol = conn->pending.find('\n');
            if (eol == std::string::npos) {
                if (conn->pending.size() > 256)
                    return protocol_error(conn);
                want = 1;  // the header byte by byte: its length is not known yet
            } else {
                // "EVENT <type> <length>"
                std::string header = conn->pending.substr(0, eol);
                size_t sp1 = header.find(' '), sp2 = header.rfind(' ');
                if (header.compare(0, 6, "EVENT ") != 0 || sp1 == sp2)
                    return protocol_error(conn);
                unsigned long length;
                std::string length_text = header.substr(sp2 + 1);
                if (!zmo_int_parse_ulong(length_text.c_str(), &length) || length > kMaxEvent)
                    return protocol_error(conn);
                size_t have = conn->pending.size() - eol - 1;
                if (have >= length) {
                    zmo_core_event_t *ev = new zmo_core_event_t;
                    ev->type = header.substr(sp1 + 1, sp2 - sp1 - 1);
                    ev->root = zmo_xml_parse(&ev->pool, conn->pending.data() + eol + 1, length);
                    conn->pending.clear();
                    if (!ev->root) {
                        delete ev;
                        errno = EBADMSG;
                        return nullptr;
                    }
                    return ev;
                }
                want = length - have;
            }
            char buf[4096];
            ssize_t n = recv(conn->fd, buf, want < sizeof buf ? want : sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                conn->pending.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) {
                errno = ECONNRESET;
                return nullptr;
            }
            if (errno != EINTR)
                return nullptr;  // EAGAIN: the rest has not come yet
        }
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
}

const char *zmo_core_event_type(const zmo_core_event_t *event)
{
    return event ? event->type.c_str() : nullptr;
}
zmo_xml_node_t *zmo_core_event_root(const zmo_core_event_t *event) { return event ? event->root : nullptr; }
void zmo_core_event_free(zmo_core_event_t *event) { delete event; }

}  // extern "C"
