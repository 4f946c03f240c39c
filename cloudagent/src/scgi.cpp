// SCGI client: a netstring of header pairs, the body, and the core's reply
// read until it closes the connection.
#include "scgi.h"
#include "socket_wait.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

using cloudagent::Fd;

std::mutex g_path_mutex;
std::string g_path = SCGI_SOCKET_PATH;

std::string socket_path()
{
    std::lock_guard<std::mutex> lock(g_path_mutex);
    return g_path;
}

scgi_result failure(int err)
{
    scgi_result r{};
    r.status = -(err ? err : EIO);
    return r;
}

using Clock = std::chrono::steady_clock;

// Waits for fd within the per-call time-out and what is left of the deadline.
bool wait_for(int fd, short events, Clock::time_point deadline)
{
    return cloudagent::wait_for(fd, events, deadline, SCGI_IO_TIMEOUT_MS);
}

bool write_all(int fd, struct iovec *iov, int count, Clock::time_point deadline)
{
    while (count > 0) {
        if (!wait_for(fd, POLLOUT, deadline))
            return false;
        ssize_t n = writev(fd, iov, count);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        size_t done = static_cast<size_t>(n);
        while (count > 0 && done >= iov->iov_len) {
            done -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char *>(iov->iov_base) + done;
            iov->iov_len -= done;
        }
    }
    return true;
}

void add_pair(std::string &block, const char *name, const std::string &value)
{
    block.append(name);
    block.push_back('\0');
    block.append(value);
    block.push_back('\0');
}

}  // namespace

extern "C" {

void scgi_set_socket_path(const char *path)
{
    std::lock_guard<std::mutex> lock(g_path_mutex);
    g_path = path ? path : SCGI_SOCKET_PATH;
}

struct scgi_result scgi_reply_parse(const char *reply, size_t length, int terminate)
{
    static const char kStatus[] = "Status: ";
    const size_t prefix = sizeof kStatus - 1;
    std::string_view text(reply ? reply : "", reply ? length : 0);
    if (text.size() < prefix || text.compare(0, prefix, kStatus) != 0)
        return failure(EBADMSG);
    size_t i = prefix;
    long status = 0;
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        // More digits than any status has would overflow the number.
        if (++digits > 9)
            return failure(EBADMSG);
        status = status * 10 + (text[i] - '0');
        ++i;
    }
    if (digits == 0 || i + 1 >= text.size() || text[i] != ' ' ||
        !std::isalnum(static_cast<unsigned char>(text[i + 1])))
        return failure(EBADMSG);
    size_t reason = i + 1;
    size_t eol = text.find("\r\n", reason);
    size_t blank = text.find("\r\n\r\n");
    if (eol == std::string_view::npos || blank == std::string_view::npos)
        return failure(EBADMSG);

    scgi_result r{};
    r.status = static_cast<int>(status);
    size_t n = eol - reason;
    if (n > sizeof r.status_text - 1)
        n = sizeof r.status_text - 1;
    std::memcpy(r.status_text, text.data() + reason, n);
    r.status_text[n] = '\0';

    size_t start = blank + 4;
    size_t body = text.size() - start;
    if (body == 0)
        return r;
    r.body = static_cast<char *>(std::malloc(body + (terminate ? 1 : 0)));
    if (!r.body)
        return failure(errno ? errno : ENOMEM);
    std::memcpy(r.body, text.data() + start, body);
    if (terminate)
        r.body[body++] = '\0';
    r.body_length = body;
    return r;
}

struct scgi_result scgi_request(const char *method, const char *uri, const char *content_type,
                                const void *body, size_t body_length, int terminate)
{
    if (!method || !uri || (body == nullptr) != (body_length == 0))
        return failure(EINVAL);
    try {
        const auto deadline = Clock::now() + std::chrono::milliseconds(SCGI_DEADLINE_MS);
        struct sockaddr_un addr;
        std::memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        std::string path = socket_path();
        if (path.size() >= sizeof addr.sun_path)
            return failure(ENAMETOOLONG);
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

        Fd s;
        s.fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s.fd < 0)
            return failure(errno);
        struct timeval tv = {SCGI_IO_TIMEOUT_MS / 1000, 0};
        if (setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
            setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
            return failure(errno);
        if (connect(s.fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0)
            return failure(errno);

        std::string block;
        add_pair(block, "CONTENT_LENGTH", std::to_string(body_length));
        add_pair(block, "REQUEST_METHOD", method);
        add_pair(block, "REQUEST_URI", uri);
        add_pair(block, "SCGI", "1");
        add_pair(block, "HTTP_HOST", "127.0.0.1");
        add_pair(block, "REMOTE_ADDR", "127.0.0.1");
        add_pair(block, "SERVER_ADDR", "127.0.0.1");
        if (content_type)
            add_pair(block, "HTTP_CONTENT_TYPE", content_type);
        std::string length = std::to_string(block.size()) + ":";
        char comma = ',';
        struct iovec iov[4] = {
            {const_cast<char *>(length.data()), length.size()},
            {const_cast<char *>(block.data()), block.size()},
            {&comma, 1},
            {const_cast<void *>(body), body_length},
        };
        if (!write_all(s.fd, iov, body ? 4 : 3, deadline))
            return failure(errno);

        std::string reply;
        char piece[4096];
        for (;;) {
            if (!wait_for(s.fd, POLLIN, deadline))
                return failure(errno);
            ssize_t n = read(s.fd, piece, sizeof piece);
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return failure(errno);
            }
            if (reply.size() + static_cast<size_t>(n) > SCGI_REPLY_MAX)
                return failure(EMSGSIZE);
            reply.append(piece, static_cast<size_t>(n));
        }
        return scgi_reply_parse(reply.data(), reply.size(), terminate);
    } catch (const std::bad_alloc &) {
        return failure(ENOMEM);
    }
}

}  // extern "C"
